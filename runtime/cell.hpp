// Cells: the 16-byte slot of every value. Word 0 is the header (low byte the type id, bit 30
// the new-line mark, other bits per type); words 1-3 are the payload. Cells are copied by value.
#pragma once
#include <cstring>

#include "runtime/arena.hpp"

namespace zel {

namespace type_id {
enum : u32 {
    none_ = 0, // no type: an empty action-table row
    datatype = 1,
    unset = 2,
    none = 3,
    logic = 4,
    block = 5,
    paren = 6,
    string = 7,
    file = 8,
    url = 9,
    char_ = 10,
    integer = 11,
    float_ = 12,
    symbol = 13,
    context = 14,
    word = 15,
    set_word = 16,
    lit_word = 17,
    get_word = 18,
    refinement = 19,
    issue = 20,
    native = 21,
    action = 22,
    op = 23,
    function = 24,
    path = 25,
    lit_path = 26,
    set_path = 27,
    get_path = 28,
    routine = 29,
    bitset = 30,
    triple = 31,
    object = 32,
    typeset = 33,
    error = 34,
    vector = 35,
    hash = 36,
    pair = 37,
    percent = 38,
    tuple = 39,
    map = 40,
    binary = 41,
    series = 42,
    time = 43,
    tag = 44,
    email = 45,
    handle = 46,
    date = 47,
    port = 48,
    money = 49,
    ref = 50,
    point2d = 51,
    point3d = 52,
    image = 53,
    event = 54,
    count = 57, // rows of the action and type-name tables
};
}

struct cell {
    u32 header;
    u32 w1;
    u32 w2;
    u32 w3;
};
static_assert(sizeof(cell) == 16);

namespace cell_flag {
constexpr u32 newline = 0x40000000;     // a new line precedes the value when molded
constexpr u32 changed_key = 0x2000;     // key word of an object field assigned in place
constexpr u32 owns_series = 0x10000;    // object context cell: the object owns series
constexpr u32 stack_values = 0x400000;  // context cell: values live on the data stack
} // namespace cell_flag

inline u32 type_of(const cell* c) { return c->header & 0xFF; }
inline bool is(const cell* c, u32 t) { return type_of(c) == t; }

namespace cell_ops {
// Copies the four words unless both are the same cell.
inline cell* assign(const cell* source, cell* target) {
    if (source != target) *target = *source;
    return target;
}
// Replaces the type id, keeping every flag bit.
inline void write_type(cell* c, u32 type) { c->header = (c->header & ~0xFFu) | type; }
inline void clear_newline_flag(cell* c) { c->header &= ~cell_flag::newline; }
inline bool has_newline(const cell* c) { return c->header & cell_flag::newline; }
inline void set_newline(cell* c, bool on) {
    c->header = on ? (c->header | cell_flag::newline) : (c->header & ~cell_flag::newline);
}
} // namespace cell_ops

// Payload access. Floats sit in words 2-3, low word first; cells are only 4-byte aligned.
inline i32 int_of(const cell* c) { return static_cast<i32>(c->w2); }
inline double float_of(const cell* c) {
    double d;
    std::memcpy(&d, &c->w2, sizeof d);
    return d;
}
inline void set_float_payload(cell* c, double d) { std::memcpy(&c->w2, &d, sizeof d); }

// Cell makers for the immediate types. Each overwrites the header (so the new-line mark goes).
inline cell* init_unset(cell* c) { *c = {type_id::unset, 0, 0, 0}; return c; }
inline cell* init_none(cell* c) { *c = {type_id::none, 0, 0, 0}; return c; }
inline cell* init_logic(cell* c, bool b) { *c = {type_id::logic, b ? 1u : 0u, 0, 0}; return c; }
inline cell* init_integer(cell* c, i32 v) {
    *c = {type_id::integer, 0, static_cast<u32>(v), 0};
    return c;
}
inline cell* init_float(cell* c, double d) {
    *c = {type_id::float_, 0, 0, 0};
    set_float_payload(c, d);
    return c;
}
inline cell* init_char(cell* c, u32 code_point) {
    *c = {type_id::char_, 0, code_point, 0};
    return c;
}
inline cell* init_datatype(cell* c, u32 type) { *c = {type_id::datatype, type, 0, 0}; return c; }

inline bool is_none(const cell* c) { return type_of(c) == type_id::none; }
inline bool is_unset(const cell* c) { return type_of(c) == type_id::unset; }

// Type families used across the runtime.
inline bool is_any_block_type(u32 t) {
    return t == type_id::block || t == type_id::paren || t == type_id::hash ||
           (t >= type_id::path && t <= type_id::get_path);
}
inline bool is_any_path_type(u32 t) { return t >= type_id::path && t <= type_id::get_path; }
inline bool is_any_string_type(u32 t) {
    return t == type_id::string || t == type_id::file || t == type_id::url ||
           t == type_id::tag || t == type_id::email || t == type_id::ref;
}
inline bool is_any_word_type(u32 t) { return t >= type_id::word && t <= type_id::issue; }
inline bool is_object_type(u32 t) {
    return t == type_id::object || t == type_id::error || t == type_id::port;
}

// Typesets: 96 bits in payload words 1-3; type id t is bit (0x80 >> (t & 7)) of byte (t >> 3).
inline bool typeset_has(const cell* ts, u32 t) {
    if (t >= 96) return false;
    const u8* bytes = reinterpret_cast<const u8*>(&ts->w1);
    return bytes[t >> 3] & (0x80u >> (t & 7));
}
inline void typeset_set(cell* ts, u32 t) {
    if (t >= 96) return;
    u8* bytes = reinterpret_cast<u8*>(&ts->w1);
    bytes[t >> 3] |= static_cast<u8>(0x80u >> (t & 7));
}

} // namespace zel
