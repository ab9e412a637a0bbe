// Test helpers for objects, errors and ports: value makers, mold and form into UTF-8, the code of
// a raised error, and stand-ins for the block! and string! handlers that these units reach only
// through the action table (installed only where the real handler is missing, and written to
// give the same text for the simple values the tests use). The series and objects the makers
// answer are kept (see kept_cells.hpp): the fixtures release them in TearDown.
#pragma once
#include <initializer_list>
#include <string>

#include "datatypes/context.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"
#include "tests/unit/kept_cells.hpp"

namespace zel::test {

inline cell block_of(std::initializer_list<cell> cells, u32 type = type_id::block) {
    cell b = keep(cell{type, 0, memory::new_cell_series(static_cast<u32>(cells.size()) + 1), 0});
    for (const cell& c : cells) *memory::append_cell_slot(&b) = c;
    return b;
}
inline cell word(const char* text, u32 type = type_id::word) {
    return cell{type, 0, symbol::intern_text(text), context::unbound};
}
inline cell set_word(const char* text) {
    return word(text, type_id::set_word);
}
inline cell integer(i32 n) {
    cell c;
    return *init_integer(&c, n);
}
inline cell none_value() {
    return cell{type_id::none, 0, 0, 0};
}
inline cell text(const char* s) {
    cell c;
    string::init_cell_bytes(&c, 16);
    keep(c);
    string::append_c_text(&c, s);
    return c;
}
inline const cell* block_at(const cell& b, u32 i) {
    return head_cell(buffer_of(b.w2)) + b.w1 + i;
}
inline u32 block_length(const cell& b) {
    return used_units(buffer_of(b.w2)) - b.w1;
}

inline std::string molded(cell v, bool only = false, bool all = false, bool flat = false,
                          cell* part = nullptr, i32 limit = 1000000) {
    gc::root keep_value(&v);
    cell out;
    gc::root keep_out(&out);
    out::new_string(&out);
    actions::mold_typed(&v, &out, only, all, flat, part, limit, 0);
    return utf8::encode_string(&out);
}
inline std::string formed(cell v) {
    gc::root keep_value(&v);
    cell out;
    gc::root keep_out(&out);
    out::new_string(&out);
    actions::form_typed(&v, &out, nullptr, 1000000);
    return utf8::encode_string(&out);
}

// The code of the error that `f` raises, or 0. Both stacks are put back as they were.
template <class F> u32 raised(F&& f) {
    stack::mark m = stack::save();
    try {
        f();
    } catch (const unwind&) {
        stack::restore(m);
        return error::last_code();
    }
    return 0;
}
template <class F> bool raises(err::id id, F&& f) {
    return raised(f) == id.code();
}

namespace stand_in {
inline i32 block_items(cell* value, cell* buffer, bool form, bool flat, i32 limit, i32 indent) {
    u32 n = used_units(buffer_of(value->w2));
    for (u32 i = value->w1; i < n; i++) {
        if (i > value->w1) limit = out::text(buffer, " ", limit);
        cell* item = stack::push_value(head_cell(buffer_of(value->w2)) + i);
        limit = form
                    ? actions::form_typed(item, buffer, nullptr, limit)
                    : actions::mold_typed(item, buffer, false, false, flat, nullptr, limit, indent);
        stack::drop_values(1);
    }
    return limit;
}
inline i32 block_mold(cell* value, cell* buffer, bool only, bool, bool flat, cell*, i32 limit,
                      i32 indent) {
    if (!only) limit = out::text(buffer, "[", limit);
    limit = block_items(value, buffer, false, flat, limit, indent);
    return only ? limit : out::text(buffer, "]", limit);
}
inline i32 block_form(cell* value, cell* buffer, cell*, i32 limit) {
    return block_items(value, buffer, true, true, limit, 0);
}
inline cell* block_copy(cell* value, cell* out, cell*, bool deep, cell*) {
    cell source = *value;
    u32 n = used_units(buffer_of(source.w2));
    gc::rooted_cell copy_root(cell{type_of(&source), 0, 0, 0});
    cell& copy = copy_root.value;
    copy.w2 = memory::new_cell_series(n + 1);
    for (u32 i = source.w1; i < n; i++) {
        gc::rooted_cell item_root(head_cell(buffer_of(source.w2))[i]);
        cell& item = item_root.value;
        if (deep && is_any_block_type(type_of(&item))) {
            cell nested;
            block_copy(&item, &nested, nullptr, true, nullptr);
            item.w2 = nested.w2;
            item.w1 = 0;
        }
        *memory::append_cell_slot(&copy) = item;
    }
    *out = copy;
    return out;
}
inline i32 string_form(cell* value, cell* buffer, cell*, i32 limit) {
    cell s = *value;
    i32 n = static_cast<i32>(string::units_from_head(&s));
    string::append_text_part(buffer, &s, -1, true);
    return limit - n;
}
inline i32 string_mold(cell* value, cell* buffer, bool, bool, bool, cell* part, i32 limit, i32) {
    limit = out::text(buffer, "\"", limit);
    limit = string_form(value, buffer, part, limit);
    return out::text(buffer, "\"", limit);
}
template <u32 S, class F> void install(u32 type, F fn) {
    if (!act::table[type][S - 1]) act::table[type][S - 1] = reinterpret_cast<act::any_handler>(fn);
}
} // namespace stand_in

inline void install_stand_ins() {
    using namespace stand_in;
    install<act::slot::mold>(type_id::block, block_mold);
    install<act::slot::form>(type_id::block, block_form);
    install<act::slot::copy>(type_id::block, block_copy);
    install<act::slot::mold>(type_id::string, string_mold);
    install<act::slot::form>(type_id::string, string_form);
}

} // namespace zel::test
