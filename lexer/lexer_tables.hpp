// The lexer's automaton tables: a class and flag bits per byte, the next state per (state, class),
// and the small tables the scan loop and the handlers consult. States 0-64 continue a token;
// 66-101 end one (the token kinds); 65 is never produced.
#pragma once
#include <array>

#include "runtime/cell.hpp"

namespace zel::lexer::tables {

constexpr u32 class_count = 40;
constexpr u32 state_count = 65;
constexpr u32 first_kind = 66;
constexpr u32 last_kind = 101;

// Character classes, in table column order.
namespace cls {
enum : u32 {
    blank,
    lf,
    digit,
    zero,
    lbracket,
    rbracket,
    lparen,
    rparen,
    lbrace,
    rbrace,
    dquote,
    hash,
    squote,
    colon,
    x,
    t,
    h,
    e_low,
    e_up,
    hexlow,
    hexup,
    slash,
    backslash,
    less,
    greater,
    equal,
    percent,
    comma,
    semicolon,
    at,
    point,
    dollar,
    plus,
    minus,
    caret,
    ctrl,
    cont,
    letter,
    bad,
    end
};
}

// Flag bits above the class byte, OR-ed over the bytes of a token.
namespace flag {
constexpr u32 line_before_brace = 0x20000; // added by the braced-string handler
constexpr u32 percent = 0x40000;
constexpr u32 greater = 0x80000;
constexpr u32 less = 0x100000;
constexpr u32 sign = 0x200000;
constexpr u32 nul = 0x400000;
constexpr u32 hash = 0x800000;
constexpr u32 exponent = 0x1000000;
constexpr u32 apostrophe = 0x2000000;
constexpr u32 colon = 0x4000000;
constexpr u32 comma = 0x8000000;
constexpr u32 point = 0x10000000;
constexpr u32 caret = 0x20000000;
constexpr u32 lead_short = 0x40000000; // UTF-8 lead bytes 0xC2-0xEF
constexpr u32 lead_long = 0x80000000;  // UTF-8 lead bytes 0xF0-0xF7
} // namespace flag

// Named states the handlers switch to.
namespace state {
constexpr u8 start = 0, braced = 4, point_body = 35, path_segment = 59;
}

// Token kinds (ending states).
namespace kind {
enum : u32 {
    eof = 66,
    error,
    block_open,
    block_close,
    paren_open,
    paren_close,
    brace_open,
    brace_close,
    map_open,
    path_head,
    construction,
    comment,
    comma,
    string,
    word,
    issue,
    integer,
    refinement,
    char_,
    file,
    binary,
    percent,
    float_,
    special_float,
    tuple,
    date,
    pair,
    point,
    time,
    money,
    tag,
    url,
    email,
    hex,
    raw_string,
    ref
};
}

extern const std::array<u32, 256> char_table;
extern const u8 transitions[state_count][class_count];
// The value type of each state 0-101 (0 for none).
extern const u8 state_types[102];
// 1 for the classes that end a path after a segment.
extern const std::array<u8, class_count> path_end;

inline u32 class_of(u8 byte) {
    return char_table[byte] & 0xFF;
}
inline u32 flags_of(u8 byte) {
    return char_table[byte] & ~0xFFu;
}
// The bytes taken while the automaton stays in state 0 are whitespace before the token.
inline u32 leading_blank(u32 next_state) {
    return next_state == state::start;
}
inline u32 line_step(u32 char_class) {
    return char_class == cls::lf;
}

// The 21 code points that separate tokens like blanks when they stand inside a word.
bool is_whitespace_codepoint(u32 cp);

} // namespace zel::lexer::tables
