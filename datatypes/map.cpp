// map!: the maker, the key rules, make and to, form and mold.
#include "datatypes/map.hpp"

#include <cstring>
#include <string>

#include "datatypes/integer.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cycle_stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/hash_index.hpp"
#include "runtime/memory.hpp"

namespace zel::map {

namespace {
[[noreturn]] void raise_datatype_error(err::id id, const cell* arg, u32 type) {
    cell t;
    init_datatype(&t, type);
    error::raise(id, &t, arg);
}

[[noreturn]] void bad_key(const cell* path, const cell* key) {
    cell t;
    init_datatype(&t, type_of(key));
    cell where = *(path ? path : key);
    error::raise(err::E("script", "invalid-path"), &where, &t);
}

bool is_word_key(u32 t) {
    return t == type_id::word || t == type_id::set_word || t == type_id::lit_word ||
           t == type_id::get_word;
}

bool is_copied_key(u32 t) {
    return is_any_string_type(t) || t == type_id::binary;
}

// A copy of a series' units from its head, in a new buffer of the same unit size.
u32 copy_units_from_head(const cell* key) {
    series_buffer* b = buffer_of(key->w2);
    u32 unit = unit_of(b);
    u32 total = used_units(b);
    i32 head = static_cast<i32>(key->w1);
    u32 from = head < 0 ? 0 : (static_cast<u32>(head) < total ? static_cast<u32>(head) : total);
    u32 n = total - from;
    u32 node = memory::new_series(n ? n : 1, unit, 0);
    series_buffer* source = buffer_of(key->w2);
    series_buffer* copy = buffer_of(node);
    std::memcpy(head_ptr(copy), head_ptr(source) + std::size_t(from) * unit, std::size_t(n) * unit);
    copy->tail = copy->head + n * unit;
    return node;
}

void key_rule(u32 block, u32 position) {
    cell key = head_cell(buffer_of(block))[position];
    canonical_key(&key, nullptr);
    head_cell(buffer_of(block))[position] = key;
}

u32 live_count(const cell* m) {
    return hash_index::record_of(m->w3)->size;
}

// Checks every key of a key/value block before anything is indexed.
void check_keys(u32 block) {
    series_buffer* b = buffer_of(block);
    u32 n = used_units(b);
    for (u32 i = 0; i + 1 < n; i += 2) {
        const cell* key = head_cell(buffer_of(block)) + i;
        if (!key_allowed(type_of(key))) bad_key(nullptr, key);
    }
}
} // namespace

bool key_allowed(u32 type) {
    switch (type) {
    case type_id::string:
    case type_id::file:
    case type_id::url:
    case type_id::char_:
    case type_id::integer:
    case type_id::float_:
    case type_id::word:
    case type_id::set_word:
    case type_id::lit_word:
    case type_id::get_word:
    case type_id::refinement:
    case type_id::issue:
    case type_id::pair:
    case type_id::percent:
    case type_id::tuple:
    case type_id::binary:
    case type_id::time:
    case type_id::tag:
    case type_id::email:
    case type_id::date:
    case type_id::money:
    case type_id::ref:
    case type_id::point2d:
    case type_id::point3d:
        return true;
    default:
        return false;
    }
}

void canonical_key(cell* key, const cell* path) {
    u32 t = type_of(key);
    if (is_word_key(t)) {
        key->header = type_id::set_word;
    } else if (is_copied_key(t)) {
        u32 node = copy_units_from_head(key);
        key->w1 = 0;
        key->w2 = node;
    } else if (!key_allowed(t)) {
        bad_key(path, key);
    }
}

cell* init_cell(cell* slot, u32 block_node, u32 size) {
    if (block_node) {
        check_keys(block_node);
        if (used_units(buffer_of(block_node)) & 1) {
            cell block{type_id::block, 0, block_node, 0};
            error::raise(err::E("script", "invalid-arg"), &block);
        }
    } else {
        block_node = memory::new_cell_series(size ? size : 2);
    }
    cell source{type_id::block, 0, block_node, 0};
    u32 index = hash_index::make_index(size, &source, hash_index::kind::map, 0);
    slot->header = (slot->header & ~0xFFu) | type_id::map;
    slot->w1 = 0;
    slot->w2 = block_node;
    slot->w3 = index;
    return slot;
}

namespace {
void write_indent(cell* buffer, i32 level) {
    if (level > 0)
        string::append_c_text(buffer, std::string(static_cast<std::size_t>(level) * 4, ' '));
}

struct entry_style {
    bool all;
    bool flat;
    bool indent; // write the indent before each entry
    i32 level;   // the indent level of the entries
    bool leading_newline;
    bool only;
};

// The entries: the molded key, a space and the molded value for each live pair, separated by
// line feeds (spaces when flat).
i32 mold_entries(cell* value, cell* buffer, const entry_style& style, cell* part, i32 limit) {
    if (live_count(value) == 0) return limit;
    bool indenting = style.indent && !style.flat;
    const char* separator = style.flat ? " " : "\n";
    if (!style.flat && style.leading_newline) {
        if (style.only) {
            indenting = false;
        } else {
            string::append_c_text(buffer, "\n");
            limit -= 1;
        }
    }
    u32 block = value->w2;
    cycle_stack::guard on_stack(block);
    for (u32 i = 0; i + 1 < used_units(buffer_of(block)); i += 2) {
        const cell* pair = head_cell(buffer_of(block)) + i;
        if (pair[1].header == 0) continue;
        // The nested molds may allocate: they work on copies held on the data stack.
        cell* key = stack::push_value(&pair[0]);
        cell* item = stack::push_value(&pair[1]);
        if (indenting) write_indent(buffer, style.level);
        limit = actions::mold_typed(key, buffer, false, style.all, style.flat, part, limit,
                                    style.level);
        limit = out::text(buffer, " ", limit);
        limit = actions::mold_typed(item, buffer, false, style.all, style.flat, part, limit,
                                    style.level);
        stack::drop_values(2);
        if (indenting || i + 2 < used_units(buffer_of(block)))
            limit = out::text(buffer, separator, limit);
        if (part && limit <= 0) break;
    }
    return limit;
}

i32 form(cell* value, cell* buffer, cell* part, i32 limit) {
    if (cycle_stack::contains(value->w2))
        return out::text(buffer, cycle_stack::cycle_mark(value, false), limit);
    entry_style style{false, false, false, 0, false, false};
    return mold_entries(value, buffer, style, part, limit);
}

i32 mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* part, i32 limit,
         i32 indent) {
    if (cycle_stack::contains(value->w2))
        return out::text(buffer, cycle_stack::cycle_mark(value, true), limit);
    if (!only) limit = out::text(buffer, "#[", limit);
    series_buffer* before = buffer_of(buffer->w2);
    u32 length_before = used_units(before);
    entry_style style{all, flat, true, indent + 1, true, only};
    limit = mold_entries(value, buffer, style, part, limit);
    if (only) return limit;
    bool wrote = used_units(buffer_of(buffer->w2)) != length_before;
    if (wrote && indent > 0 && !flat) write_indent(buffer, indent);
    return out::text(buffer, "]", limit);
}

// The cells of a block from its head, copied into a new block; new-line marks cleared.
u32 copy_cells_from_head(const cell* block, bool clear_newlines) {
    series_buffer* b = buffer_of(block->w2);
    u32 total = used_units(b);
    i32 head = static_cast<i32>(block->w1);
    u32 from = head < 0 ? 0 : (static_cast<u32>(head) < total ? static_cast<u32>(head) : total);
    u32 n = total - from;
    u32 node = memory::new_cell_series(n);
    series_buffer* source = buffer_of(block->w2);
    series_buffer* copy = buffer_of(node);
    std::memcpy(head_ptr(copy), head_ptr(source) + std::size_t(from) * sizeof(cell),
                std::size_t(n) * sizeof(cell));
    copy->tail = copy->head + n * static_cast<u32>(sizeof(cell));
    if (clear_newlines)
        for (u32 i = 0; i < n; i++) cell_ops::clear_newline_flag(head_cell(copy) + i);
    return node;
}

cell* make_map(cell* proto, cell* spec, bool from_to) {
    u32 t = type_of(spec);
    u32 block = 0;
    u32 size = 0;
    switch (t) {
    case type_id::integer:
    case type_id::float_: {
        if (from_to) raise_datatype_error(err::E("script", "bad-to-arg"), spec, type_id::map);
        i64 n;
        if (t == type_id::float_) {
            if (integer::float_out_of_range(spec)) {
                cell it;
                init_datatype(&it, type_id::integer);
                error::raise(err::E("script", "type-limit"), &it);
            }
            n = static_cast<i64>(float_of(spec));
        } else {
            n = int_of(spec);
        }
        if (n < 0) error::raise(err::E("script", "out-of-range"), spec);
        if (n > 0x07FFFFFF) error::raise(err::E("internal", "no-memory"));
        size = static_cast<u32>(n * 2);
        break;
    }
    case type_id::block:
    case type_id::paren:
    case type_id::hash: {
        block = copy_cells_from_head(spec, true);
        if (used_units(buffer_of(block)) & 1) error::raise(err::E("script", "invalid-arg"), spec);
        size = used_units(buffer_of(block));
        break;
    }
    case type_id::map: {
        cell copy = *spec;
        copy.w1 = 0;
        copy.w2 = copy_cells_from_head(&copy, false);
        copy.w3 = hash_index::clone(spec->w3, copy.w2);
        copy.header = type_id::map;
        *proto = copy;
        return proto;
    }
    default:
        raise_datatype_error(err::E("script", "bad-to-arg"), spec, type_id::map);
    }
    if (size == 0) size = 2;
    cell made{type_id::map, 0, 0, 0};
    init_cell(&made, block, size);
    *proto = made;
    return proto;
}

cell* make(cell* proto, cell* spec, u32) {
    return make_map(proto, spec, false);
}
cell* to(cell* proto, cell* spec, u32) {
    return make_map(proto, spec, true);
}
} // namespace

void register_type() {
    hash_index::set_map_key_rule(key_rule);
    datatype::register_row(action_row{.type = type_id::map,
                                      .parent = 0,
                                      .name = "map!",
                                      .make = make,
                                      .to = to,
                                      .form = form,
                                      .mold = mold});
}

} // namespace zel::map
