// Symbols.
#include "datatypes/symbol.hpp"

#include "datatypes/registry.hpp"
#include "datatypes/string_buffer.hpp"
#include "runtime/hash_index.hpp"
#include "runtime/memory.hpp"
#include "runtime/roots.hpp"
#include "runtime/unicode.hpp"

namespace zel::symbol {

namespace {
u32 table = 0;
u32 series = 0;
constexpr u32 initial_symbols = 4000;
} // namespace

void set_up() {
    table = hash_index::make_index(initial_symbols, nullptr, hash_index::kind::symbols, 0);
    series = hash_index::record_of(table)->values;
    hash_index::set_symbol_table(table);
}

u32 table_index() { return table; }
u32 series_node() { return hash_index::record_of(table)->values; }

u32 intern_text(std::string_view utf8) {
    return hash_index::intern_text(table, reinterpret_cast<const u8*>(utf8.data()),
                                   static_cast<u32>(utf8.size()), false);
}

u32 intern_text_any_case(std::string_view utf8) {
    return hash_index::intern_text(table, reinterpret_cast<const u8*>(utf8.data()),
                                   static_cast<u32>(utf8.size()), true);
}

u32 intern_string(const cell* string) {
    cell copy = *string;
    std::string utf8 = utf8::encode_string(&copy, -1);
    return intern_text(utf8);
}

cell* cell_of(u32 id) { return head_cell(buffer_of(series_node())) + (id - 1); }

u32 canonical_id(u32 id) {
    i32 alias = static_cast<i32>(cell_of(id)->w1);
    return alias > 0 ? static_cast<u32>(alias) : id;
}

i32 alias_of(u32 id) { return static_cast<i32>(cell_of(id)->w1); }

u32 count() { return used_units(buffer_of(series_node())); }

std::string_view text_view(u32 id) {
    series_buffer* b = buffer_of(cell_of(id)->w3);
    return {reinterpret_cast<const char*>(head_ptr(b)), used_bytes(b)};
}

std::string text(u32 id) { return std::string(text_view(id)); }

u32 cached_string(u32 id) {
    if (u32 node = cell_of(id)->w2) return node;
    std::string utf8 = text(id);
    cell s;
    utf8::decode_to_new_string(&s, reinterpret_cast<const u8*>(utf8.data()),
                               static_cast<u32>(utf8.size()));
    cell_of(id)->w2 = s.w2;
    return s.w2;
}

namespace {
i32 compare(cell* a, cell* b, i32 op) {
    if (type_of(b) != type_id::symbol) return -2;
    cell sa{type_id::string, 0, 0, 0}, sb{type_id::string, 0, 0, 0};
    u32 ia = static_cast<u32>(a - cell_of(1)) + 1, ib = static_cast<u32>(b - cell_of(1)) + 1;
    sa.w2 = cached_string(ia);
    sb.w2 = cached_string(ib);
    return string::compare_texts(&sa, &sb, static_cast<u32>(op), false);
}
} // namespace

void register_type() {
    datatype::register_row(action_row{.type = type_id::symbol,
                                      .parent = 0,
                                      .name = "symbol!",
                                      .compare = compare});
}

} // namespace zel::symbol
