// The scan loop, the structural token handlers (blocks, parens, maps, paths, braced strings,
// points, constructions, comments), the callback events and the syntax errors. Output cells are
// addressed by index: the value array moves when it grows, and handlers and callbacks allocate.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "datatypes/map.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "lexer/lexer_state.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/process.hpp"
#include "runtime/roots.hpp"
#include "runtime/unicode.hpp"

namespace zel::lexer {

using namespace tables;

namespace {

constexpr u32 initial_values = 1000;
constexpr u32 scratch_size = 100000;
constexpr u32 excerpt_limit = 30;

u32 values_node = 0; // the value array: a block held by the root block
cell* values_holder = nullptr;
scan_state* live = nullptr;
u32 live_count = 0;

std::vector<u8> scratch;
u32 scratch_used = 0;

u32 event_symbols[6];
u32 eof_symbol, comment_symbol, comma_symbol, hex_symbol, rawstring_symbol;

series_buffer* values_buffer() {
    return buffer_of(values_node);
}

void set_used(u32 n) {
    series_buffer* b = values_buffer();
    b->tail = b->head + n * sizeof(cell);
}

// --- Positions in the source ---

bool is_lead(u8 b) {
    return (b & 0xC0) != 0x80;
}

// A string source was copied to UTF-8 from its units: every character starts with a lead byte.
constexpr u32 char_mark_bytes = 64;

u32 leads_in(const u8* from, const u8* to) {
    u32 n = 0;
    for (; from < to; ++from) n += is_lead(*from);
    return n;
}

// Extends the marks up to the one at or before byte offset `off`.
void mark_chars_up_to(scan_state& st, u32 off) {
    std::vector<u32>& marks = st.char_marks;
    if (marks.empty()) marks.push_back(0);
    u32 length = static_cast<u32>(st.end - st.start);
    if (off > length) off = length;
    while (marks.size() * char_mark_bytes <= off) {
        u32 from = static_cast<u32>(marks.size() - 1) * char_mark_bytes;
        marks.push_back(marks.back() +
                        leads_in(st.start + from, st.start + from + char_mark_bytes));
    }
}

u32 source_pos(scan_state& st, const u8* p) {
    if (p < st.start) p = st.start;
    if (p > st.end) p = st.end;
    u32 off = static_cast<u32>(p - st.start);
    if (!st.source_is_string) return st.source_base + off;
    mark_chars_up_to(st, off);
    u32 k = off / char_mark_bytes;
    u32 from = k * char_mark_bytes;
    return st.source_base + st.char_marks[k] + leads_in(st.start + from, st.start + off);
}

const u8* source_address(scan_state& st, u32 position) {
    u32 rel = position > st.source_base ? position - st.source_base : 0;
    u32 length = static_cast<u32>(st.end - st.start);
    if (!st.source_is_string) return st.start + (rel < length ? rel : length);
    mark_chars_up_to(st, length);
    // The last mark at or before the character, then a walk to its lead byte.
    const std::vector<u32>& marks = st.char_marks;
    std::size_t k = static_cast<std::size_t>(std::upper_bound(marks.begin(), marks.end(), rel) -
                                             marks.begin() - 1);
    u32 byte = static_cast<u32>(k) * char_mark_bytes;
    u32 chars = marks[k];
    while (byte < length) {
        if (is_lead(st.start[byte])) {
            if (chars == rel) break;
            chars++;
        }
        byte++;
    }
    return st.start + byte;
}

// --- Output ---

void push_marker(scan_state& st, u32 type, const u8* opening) {
    u32 i = reserve(st);
    cell* m = slot(i);
    m->header = (m->header & cell_flag::newline) | marker_type;
    m->w1 = type;
    m->w2 = static_cast<u32>(opening - st.start);
    m->w3 = static_cast<u32>(st.open_marker + 1);
    st.open_marker = static_cast<i32>(i);
}

u32 marker_commas(const cell* m) {
    return m->w1 >> 16;
}
const u8* marker_opening(const scan_state& st, const cell* m) {
    return st.start + m->w2;
}

// Replaces the innermost marker and the cells after it by one series value of `type`.
void close_marker(scan_state& st, u32 type) {
    u32 at = static_cast<u32>(st.open_marker);
    u32 n = st.out_tail - at - 1;
    u32 node = memory::new_cell_series(n);
    series_buffer* b = buffer_of(node);
    std::memcpy(head_ptr(b), slot(at + 1), n * sizeof(cell));
    b->tail = b->head + n * sizeof(cell);
    cell* m = slot(at);
    i32 previous = static_cast<i32>(m->w3) - 1;
    *m = cell{(m->header & cell_flag::newline) | type, 0, node, 0};
    st.open_marker = previous;
    st.out_tail = at + 1;
    set_used(st.out_tail);
}

// --- Syntax errors ---

cell text_cell(std::u32string_view text) {
    cell s;
    string::init_cell_unit(&s, static_cast<u32>(text.size()), 1);
    // Widening may allocate: the string stays on the data stack while it is filled.
    cell* held = stack::push_value(&s);
    for (char32_t cp : text) string::append_codepoint(buffer_of(held->w2), cp);
    s = *held;
    stack::drop_values(1);
    return s;
}

// At most 30 bytes from the position, cut at a line feed or at the end, never inside a UTF-8
// sequence; bytes that do not decode, and NUL bytes, show as U+FFFD.
std::u32string excerpt_at(const scan_state& st, const u8* position) {
    const u8* p = position < st.start ? st.start : position;
    const u8* limit = p + excerpt_limit < st.end ? p + excerpt_limit : st.end;
    std::u32string out;
    while (p < limit && *p != '\n') {
        utf8::step s = utf8::next_codepoint(p, st.end);
        if (s.next > limit) break;
        if (s.code_point <= 0) {
            out.push_back(0xFFFD);
            p = s.next > p ? s.next : p + 1;
        } else {
            out.push_back(static_cast<char32_t>(s.code_point));
            p = s.next;
        }
    }
    return out;
}

std::u32string line_text(i32 line) {
    std::string s = "(line " + std::to_string(line) + ")";
    return std::u32string(s.begin(), s.end());
}

} // namespace

cell* slot(u32 index) {
    return head_cell(values_buffer()) + index;
}

u32 reserve(scan_state& st) {
    series_buffer* b = values_buffer();
    if ((st.out_tail + 1) * sizeof(cell) > b->size) b = memory::grow_series(b, b->size * 2);
    u32 i = st.out_tail++;
    *(head_cell(b) + i) = cell{type_id::unset | (st.line_before ? cell_flag::newline : 0), 0, 0, 0};
    b->tail = b->head + st.out_tail * sizeof(cell);
    return i;
}

void drop_last(scan_state& st) {
    if (st.out_tail > st.out_base) set_used(--st.out_tail);
}

u32 open_marker_type(const scan_state& st) {
    if (st.open_marker < static_cast<i32>(st.out_base)) return 0;
    return slot(static_cast<u32>(st.open_marker))->w1 & 0xFFFF;
}

bool inside_path(const scan_state& st) {
    return is_any_path_type(open_marker_type(st));
}

cell type_cell(u32 type) {
    cell c;
    if (type)
        init_datatype(&c, type);
    else
        init_none(&c);
    return c;
}

cell exit_state(u32 kind) {
    static const u8 types[36] = {0,
                                 type_id::error,
                                 type_id::block,
                                 type_id::block,
                                 type_id::paren,
                                 type_id::paren,
                                 type_id::string,
                                 type_id::string,
                                 type_id::map,
                                 type_id::path,
                                 type_id::datatype,
                                 0,
                                 0,
                                 type_id::string,
                                 type_id::word,
                                 type_id::issue,
                                 type_id::integer,
                                 type_id::refinement,
                                 type_id::char_,
                                 type_id::file,
                                 type_id::binary,
                                 type_id::percent,
                                 type_id::float_,
                                 type_id::float_,
                                 type_id::tuple,
                                 type_id::date,
                                 type_id::pair,
                                 type_id::point2d,
                                 type_id::time,
                                 type_id::money,
                                 type_id::tag,
                                 type_id::url,
                                 type_id::email,
                                 0,
                                 0,
                                 type_id::ref};
    cell c;
    if (kind < first_kind || kind > last_kind) return type_cell(0);
    u32 i = kind - first_kind;
    if (types[i]) return type_cell(types[i]);
    u32 sym = i == 0    ? eof_symbol
              : i == 11 ? comment_symbol
              : i == 12 ? comma_symbol
              : i == 33 ? hex_symbol
                        : rawstring_symbol;
    c = cell{type_id::word, 0, sym, 0xFFFFFFFF};
    return c;
}

void make_exit_states(cell* out) {
    u32 node = memory::new_cell_series(last_kind - first_kind + 1);
    for (u32 k = first_kind; k <= last_kind; k++) {
        cell entry = exit_state(k);
        *memory::append_cell_to_buffer(buffer_of(node)) = entry;
    }
    *out = cell{type_id::block, 0, node, 0};
}

cell event_word(u32 ev) {
    for (u32 i = 0; i < 6; i++)
        if (ev == (1u << i)) return cell{type_id::word, 0, event_symbols[i], 0xFFFFFFFF};
    return type_cell(0);
}

bool send_event(scan_state& st, u32 ev, const u8* input, const cell& type, const u8* token_start,
                const u8* token_end, const cell* value) {
    if (!st.cb || !(st.mask & ev)) return true;
    event_args a;
    a.event = ev;
    a.source = st.source;
    a.input = source_pos(st, input);
    a.type = type;
    a.line = st.line;
    a.token_start = source_pos(st, token_start) + 1;
    a.token_end = source_pos(st, token_end) + 1;
    if (value)
        a.value = *value;
    else
        init_none(&a.value);
    u32 before = a.input;
    bool answer = st.cb->on_event(a);
    if (a.input != before) st.steer = source_address(st, a.input);
    return answer;
}

namespace {
// The type an `error` event reports: the error's own datatype, else the one a handler
// remembered, else the token's, else the pending one, else error!.
u32 reported_error_type(const scan_state& st, u32 own) {
    if (own) return own;
    if (st.error_type) return st.error_type;
    if (st.token_type > 0) return static_cast<u32>(st.token_type);
    if (st.pending_type > 0) return static_cast<u32>(st.pending_type);
    return type_id::error;
}
} // namespace

void syntax_error(scan_state& st, err::id id, const u8* position, u32 type, u32 missing_char) {
    bool full = st.full_load();
    if (st.cb && (st.mask & event::error)) {
        u32 reported = full ? reported_error_type(st, type) : u32(type_id::error);
        const u8* from = position < st.token_start ? position : st.token_start;
        if (!send_event(st, event::error, st.token_end, type_cell(reported), from, st.token_end))
            throw scan_stop{false};
    }
    if (!full) throw scan_stop{true};
    // The arguments wait on the data stack while the next ones are made.
    std::u32string excerpt = excerpt_at(st, position);
    cell made = text_cell(line_text(st.line));
    cell* line = stack::push_value(&made);
    cell* middle = nullptr;
    if (id.index == err::E("syntax", "invalid").index) {
        made = type_cell(type ? type : u32(type_id::error));
        middle = stack::push_value(&made);
    } else if (id.index == err::E("syntax", "missing").index) {
        init_char(&made, missing_char);
        middle = stack::push_value(&made);
    }
    made = text_cell(excerpt);
    cell* text = stack::push_value(&made);
    if (middle) error::raise(id, line, middle, text);
    error::raise(id, line, text);
}

// --- Structural handlers ---

namespace {

// Where a token that no handler consumed ends: after the delimiter that belongs to it.
const u8* skipped_end(const scan_state& st) {
    switch (st.kind) {
    case kind::block_open:
    case kind::block_close:
    case kind::paren_open:
    case kind::paren_close:
    case kind::brace_open:
    case kind::brace_close:
    case kind::map_open:
    case kind::path_head:
    case kind::construction:
    case kind::comma:
    case kind::string:
    case kind::char_:
    case kind::binary:
    case kind::percent:
    case kind::point:
    case kind::tag:
        return st.token_end + 1 <= st.end ? st.token_end + 1 : st.end;
    case kind::file:
        if (st.token_end - st.token_start > 1 && st.token_start[1] == '"')
            return st.token_end + 1 <= st.end ? st.token_end + 1 : st.end;
        return st.token_end;
    default:
        return st.token_end;
    }
}

u32 missing_for(u32 marker, u8 offending) {
    if (marker == type_id::block || marker == type_id::map) return offending == ']' ? '[' : ']';
    return offending == ')' ? '(' : ')';
}

void refuse_inside_point(scan_state& st, const u8* at) {
    if (open_marker_type(st) == type_id::point2d) invalid(st, type_id::point2d, at);
}

void open_series(scan_state& st, u32 type) {
    const u8* at = st.token_end; // the opening bracket
    refuse_inside_point(st, at);
    st.pos = at + 1;
    if (!send_event(st, event::open, st.token_start, exit_state(st.kind), st.token_start, at + 1))
        return;
    push_marker(st, type, type == type_id::map ? at - 1 : at);
}

void open_paren(scan_state& st) {
    const u8* at = st.token_end;
    if (starts_point(at + 1, st.end)) {
        st.entry_state = state::point_body;
        st.point_line_before = st.line_before;
        st.pos = at + 1;
        return;
    }
    open_series(st, type_id::paren);
}

bool map_keys_valid(const scan_state& st, u32 marker) {
    u32 n = st.out_tail - marker - 1;
    if (n % 2) return false;
    for (u32 i = marker + 1; i < st.out_tail; i += 2)
        if (!map::key_allowed(type_of(slot(i)))) return false;
    return true;
}

void close_series(scan_state& st) {
    const u8* at = st.token_end;
    u8 offending = *at;
    u32 type = open_marker_type(st);
    const u8* opening = type ? marker_opening(st, slot(u32(st.open_marker))) : at;
    st.pos = at + 1;
    if (st.cb && (st.mask & event::close)) {
        cell reported = type ? type_cell(type) : exit_state(st.kind);
        if (!send_event(st, event::close, at, reported, opening, at + 1)) return;
    }
    bool fits = offending == ']' ? (type == type_id::block || type == type_id::map)
                                 : (type == type_id::paren || type == type_id::point2d);
    if (!fits) {
        u32 marker = type ? type : (offending == ']' ? u32(type_id::block) : u32(type_id::paren));
        st.error_type = marker;
        syntax_error(st, err::E("syntax", "missing"), at, 0, missing_for(marker, offending));
    }
    u32 index = static_cast<u32>(st.open_marker);
    if (type == type_id::point2d) {
        const cell* m = slot(index);
        i32 previous = static_cast<i32>(m->w3) - 1;
        u32 commas = marker_commas(m);
        if (st.full_load()) {
            st.out_tail = index + 1;
            set_used(st.out_tail);
            load_point_into(st, opening, at, index);
        } else {
            st.out_tail = index;
            set_used(st.out_tail);
        }
        st.open_marker = previous;
        st.token_type = commas > 1 ? type_id::point3d : type_id::point2d;
    } else {
        if (type == type_id::map && st.full_load() && !map_keys_valid(st, index))
            invalid(st, type_id::map, opening);
        close_marker(st, type);
        if (type == type_id::map && st.full_load()) {
            cell m = *slot(index);
            map::init_cell(&m, m.w2, 0);
            *slot(index) = m;
        }
        st.token_type = static_cast<i32>(type);
    }
    st.entry_state = inside_path(st) ? state::path_segment : state::start;
}

void comma(scan_state& st) {
    u32 type = open_marker_type(st);
    if (type != type_id::paren && type != type_id::point2d)
        invalid(st, type_id::point2d, st.token_end);
    cell* m = slot(static_cast<u32>(st.open_marker));
    m->w1 = (m->w1 & 0xFFFF0000u) + 0x10000u;
    m->w1 = (m->w1 & 0xFFFF0000u) | type_id::point2d;
    st.pos = st.token_end + 1;
}

void brace_open(scan_state& st, u32 flags) {
    const u8* at = st.token_end;
    if (st.braced_level == 0) {
        if (!send_event(st, event::open, st.token_start, exit_state(st.kind), st.token_start,
                        at + 1)) {
            st.pos = at + 1;
            return;
        }
        st.braced_start = at;
        st.braced_flags = flags | (st.line_before ? flag::line_before_brace : 0);
    } else {
        st.braced_flags |= flags;
    }
    st.braced_level++;
    st.entry_state = state::braced;
    st.pos = at + 1;
}

void brace_close(scan_state& st, u32 flags) {
    const u8* at = st.token_end;
    st.braced_flags |= flags;
    st.pos = at + 1;
    if (st.braced_level > 1) {
        st.braced_level--;
        st.entry_state = state::braced;
        if (at + 1 >= st.end) invalid(st, type_id::string, st.braced_start);
        return;
    }
    if (!send_event(st, event::close, at, exit_state(st.kind), st.braced_start, at + 1)) {
        st.entry_state = state::braced; // the close is ignored: the string goes on
        return;
    }
    st.braced_level = 0;
    st.entry_state = state::start;
    st.token_type = type_id::string;
    const u8* open = st.braced_start;
    bool want_scan = st.cb && (st.mask & event::scan);
    if (!st.full_load() || want_scan) {
        load_braced(st, open, at, st.braced_flags, false);
        if (want_scan &&
            !send_event(st, event::scan, at + 1, type_cell(type_id::string), open, at + 1))
            return;
    }
    if (!st.full_load()) return;
    u32 before = st.out_tail;
    load_braced(st, open, at, st.braced_flags, true);
    st.pos = at + 1;
    if (st.out_tail > before && st.cb && (st.mask & event::load)) {
        cell value = *slot(before);
        if (!send_event(st, event::load, at + 1, type_cell(type_id::string), open, at + 1, &value))
            drop_last(st);
    }
}

void path_head(scan_state& st, u32 flags) {
    const u8* start = st.token_start;
    const u8* end = st.token_end;
    u32 type = *start == '\''  ? type_id::lit_path
               : *start == ':' ? type_id::get_path
                               : type_id::path;
    refuse_inside_point(st, start);
    push_marker(st, type, start);
    st.entry_state = state::path_segment;
    const u8* name = type == type_id::path ? start : start + 1;
    st.pos = end + 1;
    bool full = st.full_load();
    bool want_scan = st.cb && (st.mask & event::scan);
    if (!full || want_scan) {
        load_word(st, name, end, flags & ~flag::colon, false);
        if (want_scan && !send_event(st, event::scan, end, type_cell(type_id::word), start, end))
            return;
    }
    if (full) {
        u32 before = st.out_tail;
        load_word(st, name, end, flags & ~flag::colon, true);
        if (st.out_tail > before && st.cb && (st.mask & event::load)) {
            cell value = *slot(before);
            if (!send_event(st, event::load, end, type_cell(type_id::word), start, end, &value))
                drop_last(st);
        }
    }
    st.entry_state = state::path_segment;
    st.pos = end + 1;
}

bool name_is(const u8* start, const u8* end, std::string_view name) {
    return static_cast<size_t>(end - start) == name.size() &&
           std::memcmp(start, name.data(), name.size()) == 0;
}

void construction(scan_state& st, bool make) {
    const u8* name = st.token_start + 2; // after #(
    const u8* end = st.token_end;
    cell value;
    if (name_is(name, end, "true"))
        init_logic(&value, true);
    else if (name_is(name, end, "false"))
        init_logic(&value, false);
    else if (name_is(name, end, "none"))
        init_none(&value);
    else if (name_is(name, end, "unset"))
        init_unset(&value);
    else {
        u32 found = 0;
        for (u32 t = 1; t <= datatype::max_type_id() && !found; t++)
            if (!datatype::name_of(t).empty() && name_is(name, end, datatype::name_of(t)))
                found = t;
        if (!found) syntax_error(st, err::E("syntax", "malconstruct"), st.token_start);
        init_datatype(&value, found);
    }
    st.pos = end + 1;
    st.token_type = static_cast<i32>(type_of(&value));
    if (!make) return;
    u32 i = reserve(st);
    cell* c = slot(i);
    c->header = (c->header & cell_flag::newline) | value.header;
    c->w1 = value.w1;
    c->w2 = value.w2;
    c->w3 = value.w3;
    if (!send_event(st, event::load, st.pos, type_cell(type_of(&value)), st.token_start, st.pos,
                    &value))
        drop_last(st);
}

[[noreturn]] void error_token(scan_state& st) {
    u32 type = state_types[st.prev_state];
    if (!type) syntax_error(st, err::E("syntax", "bad-char"), st.token_start);
    const u8* at = st.token_start;
    if (st.inside_braced())
        at = st.braced_start;
    else if (type == type_id::path && inside_path(st))
        at = marker_opening(st, slot(static_cast<u32>(st.open_marker)));
    invalid(st, type, at);
}

// The structural kinds and their handlers (66-78); `make` is set in full load mode.
void structural(scan_state& st, u32 flags, bool make) {
    switch (st.kind) {
    case kind::eof:
        st.pos = st.token_end;
        return;
    case kind::error:
        error_token(st);
    case kind::block_open:
        open_series(st, type_id::block);
        return;
    case kind::paren_open:
        open_paren(st);
        return;
    case kind::block_close:
    case kind::paren_close:
        close_series(st);
        return;
    case kind::brace_open:
        brace_open(st, flags);
        return;
    case kind::brace_close:
        brace_close(st, flags);
        return;
    case kind::map_open:
        open_series(st, type_id::map);
        return;
    case kind::path_head:
        path_head(st, flags);
        return;
    case kind::construction:
        construction(st, make);
        return;
    case kind::comment:
        st.pos = st.token_end;
        send_event(st, event::scan, st.token_end, exit_state(st.kind), st.token_start,
                   st.token_end);
        return;
    case kind::comma:
        comma(st);
        return;
    }
}

using loader_fn = void (*)(scan_state&, const u8*, const u8*, u32, bool);
const loader_fn loaders[] = {
    load_string,        load_word,       load_issue,  load_integer, load_refinement,
    load_char,          load_file,       load_binary, load_percent, load_float,
    load_special_float, load_tuple,      load_date,   load_pair,    load_point,
    load_time,          load_money,      load_tag,    load_url,     load_email,
    load_hex,           load_raw_string, load_ref};
static_assert(sizeof loaders / sizeof loaders[0] == kind::ref - kind::string + 1);

// A value token (79-101): the check step with its `scan` event, then the load step with its
// `load` event.
void value_token(scan_state& st, u32 flags) {
    loader_fn fn = loaders[st.kind - kind::string];
    bool full = st.full_load();
    bool want_scan = st.cb && (st.mask & event::scan);
    if (!full || want_scan) {
        fn(st, st.token_start, st.token_end, flags, false);
        if (want_scan && !send_event(st, event::scan, st.token_end,
                                     type_cell(u32(st.token_type > 0 ? st.token_type : 0)),
                                     st.token_start, st.token_end))
            return;
        if (st.steer) return;
    }
    if (!full) return;
    u32 before = st.out_tail;
    fn(st, st.token_start, st.token_end, flags, true);
    if (st.out_tail <= before) return;
    st.token_type = static_cast<i32>(type_of(slot(before)));
    if (st.cb && (st.mask & event::load)) {
        cell value = *slot(before);
        if (!send_event(st, event::load, st.pos, type_cell(type_of(&value)), st.token_start,
                        st.token_end, &value))
            drop_last(st);
    }
}

// The word token made only of whitespace code points is dropped; one that starts with them
// begins after them; one that holds one ends before it.
bool trim_word(scan_state& st) {
    const u8* p = st.token_start;
    while (p < st.token_end) {
        utf8::step s = utf8::next_codepoint(p, st.token_end);
        if (s.code_point < 0 || !is_whitespace_codepoint(u32(s.code_point))) break;
        p = s.next;
    }
    if (p == st.token_end) return false;
    st.token_start = p;
    for (const u8* q = p; q < st.token_end;) {
        if (*q < 0x80) {
            q++;
            continue;
        }
        utf8::step s = utf8::next_codepoint(q, st.token_end);
        if (s.code_point >= 0 && is_whitespace_codepoint(u32(s.code_point))) {
            st.token_end = q;
            break;
        }
        q = s.next > q ? s.next : q + 1;
    }
    return true;
}

bool has_non_ascii(const u8* p, const u8* end) {
    for (; p < end; p++)
        if (*p >= 0x80) return true;
    return false;
}

// After a token inside a path: a `/` goes on with the next segment, a character that ends
// paths closes it (a `:` closing it as a set-path!).
void path_segment_check(scan_state& st) {
    const u8* p = st.pos;
    const cell* m = slot(static_cast<u32>(st.open_marker));
    const u8* opening = marker_opening(st, m);
    u32 type = m->w1 & 0xFFFF;
    if (p < st.end && *p == '/') {
        if (p + 1 >= st.end) invalid(st, type_id::path, opening);
        st.pos = p + 1;
        st.entry_state = state::path_segment;
        return;
    }
    if (p < st.end && *p == ':') {
        if (p + 1 < st.end && p[1] == '/') invalid(st, type_id::path, opening);
        type = type_id::set_path;
        st.pos = p + 1;
    } else if (p < st.end && !path_end[class_of(*p)]) {
        invalid(st, type_id::path, opening);
    }
    close_marker(st, type);
    st.token_type = static_cast<i32>(type);
    st.entry_state = inside_path(st) ? state::path_segment : state::start;
}

bool top_level_done(const scan_state& st) {
    if (st.token_type <= 0 || st.inside_braced() || inside_path(st)) return false;
    u32 n = st.out_tail - st.out_base;
    return n == 0 || (n == 1 && type_of(slot(st.out_base)) != marker_type);
}

// One token: the automaton, then its handlers. Answers false at the end of the input.
bool next_token(scan_state& st) {
    const u8* p = st.pos;
    const u8* begin = p;
    u32 state = st.entry_state;
    st.entry_state = st.inside_braced() ? state::braced : state::start;
    u32 flags = 0, blanks = 0, lines = 0;
    bool line_before = false;
    u32 next;
    for (;;) {
        if (p >= st.end) {
            next = transitions[state][cls::end];
            break;
        }
        u32 c = char_table[*p];
        u32 cl = c & 0xFF;
        flags |= c & ~0xFFu;
        next = transitions[state][cl];
        if (next > 65) break;
        if (next == state::start) blanks++;
        if (cl == cls::lf) {
            st.line++;
            lines++;
            if (next == state::start) line_before = true;
        }
        p++;
        state = next;
    }
    st.kind = next;
    st.prev_state = state;
    st.token_start = begin + blanks;
    st.token_end = p;
    st.pos = p;
    st.token_lines = lines;
    st.line_before = line_before;
    st.pending_type = -1;
    st.error_type = 0;
    st.token_type = state_types[next];
    st.steer = nullptr;

    if (next == kind::eof) {
        st.pos = st.token_end;
        return false;
    }
    bool early = false;
    if (!st.load && next <= kind::string) {
        st.pos = skipped_end(st);
        if (next < kind::string)
            structural(st, flags, false);
        else
            loaders[0](st, st.token_start, st.token_end, flags, false);
        early = true;
    }
    if (next == kind::word && has_non_ascii(st.token_start, st.token_end) && !trim_word(st)) {
        st.pos = st.token_end;
        return true;
    }
    if (next == kind::path_head && has_non_ascii(st.token_start, st.token_end)) {
        // A head that holds a whitespace code point is a word before it, or no token at all.
        const u8* end = st.token_end;
        if (!trim_word(st)) {
            st.pos = st.token_end;
            return true;
        }
        if (st.token_end != end) st.kind = next = kind::word;
    }
    if (!early) st.pos = skipped_end(st);

    bool go;
    if (st.cb && (st.mask & event::prescan)) {
        bool structural_kind = next < kind::string;
        go = send_event(st, event::prescan, structural_kind ? st.token_start : st.token_end,
                        structural_kind ? exit_state(next) : type_cell(state_types[next]),
                        st.token_start, st.token_end) ||
             st.inside_braced();
        if (st.steer) {
            st.pos = st.steer;
            return true;
        }
    } else {
        go = st.load || st.inside_braced();
    }
    if (go && !early) {
        if (next < kind::string)
            structural(st, flags, st.full_load());
        else
            value_token(st, flags);
    } else if (go && early && next == kind::string && st.cb && (st.mask & event::scan)) {
        send_event(st, event::scan, st.token_end, type_cell(type_id::string), st.token_start,
                   st.token_end);
    }
    if (st.steer) {
        st.pos = st.steer;
        return true;
    }
    // A segment (or the paren or point closed as one) is followed by a / or ends the path.
    bool opener = next == kind::path_head || next == kind::paren_open || next == kind::block_open ||
                  next == kind::map_open || next == kind::brace_open;
    if (!opener && next != kind::error && inside_path(st)) path_segment_check(st);
    return true;
}

// Values of a finished full-load scan: into the output block, as the one value, or as a new
// block.
void deliver(scan_state& st, cell* result, const scan_options& o) {
    u32 n = st.out_tail - st.out_base;
    if (o.output) {
        for (u32 i = 0; i < n; i++) {
            cell* target = memory::append_cell_slot(o.output);
            *target = *slot(st.out_base + i);
        }
        *result = *o.output;
        return;
    }
    if (o.one_value && n >= 1 && !o.block_result) {
        *result = *slot(st.out_base);
        cell_ops::clear_newline_flag(result);
        return;
    }
    u32 node = memory::new_cell_series(n);
    series_buffer* b = buffer_of(node);
    std::memcpy(head_ptr(b), slot(st.out_base), n * sizeof(cell));
    b->tail = b->head + n * sizeof(cell);
    *result = cell{type_id::block, 0, node, 0};
}

// Cuts the output at the outermost marker still open: what was not closed is not a value.
void drop_open_markers(scan_state& st) {
    while (st.open_marker >= static_cast<i32>(st.out_base)) {
        u32 at = static_cast<u32>(st.open_marker);
        st.open_marker = static_cast<i32>(slot(at)->w3) - 1;
        st.out_tail = at;
    }
    set_used(st.out_tail);
}

// Links the scan onto the chain of live scans, and gives back its part of the value array.
struct live_link {
    scan_state& st;
    explicit live_link(scan_state& s) : st(s) {
        st.next = live;
        st.out_base = live ? live->out_tail : 0;
        st.out_tail = st.out_base;
        st.open_marker = -1;
        live = &st;
        live_count++;
        set_used(st.out_tail);
    }
    ~live_link() {
        live = st.next;
        live_count--;
        set_used(live ? live->out_tail : 0);
    }
};

} // namespace

i32 scan_utf8(cell* result, const u8* text, u32 length, const scan_options& o, u32* consumed) {
    runtime::check_stack();
    scan_state st;
    st.start = text;
    st.end = text + length;
    st.pos = text;
    st.one_value = o.one_value;
    st.load = o.load;
    st.build = o.build;
    st.cb = o.cb;
    st.mask = o.cb ? o.cb->event_mask() : 0;
    st.source = o.source;
    st.source_base = o.source_base;
    st.source_is_string = o.source_is_string;
    live_link link(st);
    bool failed = false;
    try {
        for (;;) {
            if (!next_token(st)) break;
            if (st.token_type > 0) st.last_type = st.token_type;
            if ((st.one_value || !st.load) && top_level_done(st)) break;
        }
        if (st.token_type > 0) st.last_type = st.token_type;
        if (st.kind == kind::eof) {
            if (st.inside_braced()) invalid(st, type_id::string, st.braced_start);
            if (st.open_marker >= static_cast<i32>(st.out_base)) {
                const cell* m = slot(static_cast<u32>(st.open_marker));
                u32 type = m->w1 & 0xFFFF;
                const u8* opening = marker_opening(st, m);
                st.error_type = type;
                if (is_any_path_type(type)) invalid(st, type_id::path, opening);
                syntax_error(st, err::E("syntax", "missing"), opening, 0, missing_for(type, '_'));
            }
        }
    } catch (const scan_stop& stop) {
        failed = stop.error;
        drop_open_markers(st);
    }
    if (consumed) *consumed = source_pos(st, st.pos) - st.source_base;
    if (st.full_load()) deliver(st, result, o);
    return failed ? -1 : st.last_type;
}

namespace {
// Room in the scratch stack, or a separate buffer when the free part is too small; given back
// when the scan returns.
struct scratch_room {
    u8* data;
    u32 taken = 0;
    std::unique_ptr<u8[]> separate;
    explicit scratch_room(u64 room) {
        if (room <= scratch.size() - scratch_used) {
            data = scratch.data() + scratch_used;
            taken = static_cast<u32>(room);
            scratch_used += taken;
        } else {
            separate.reset(new u8[room]);
            data = separate.get();
        }
    }
    ~scratch_room() { scratch_used -= taken; }
};
} // namespace

i32 transcode_string(cell* result, const cell* source, i32 length, scan_options o, u32* consumed) {
    cell head = *source;
    u32 available = string::units_from_head(&head);
    u32 n = length < 0 || static_cast<u32>(length) > available ? available : u32(length);
    u32 unit = unit_of(buffer_of(head.w2));
    // Worst case of each width: a 1-byte unit (up to 0xFF) takes 2 UTF-8 bytes, a 2-byte unit 3.
    u64 room = u64(n) * (unit == 1 ? 2 : unit == 2 ? 3 : 4) + 1;
    scratch_room area(room);
    u8* buffer = area.data;
    u32 bytes = n ? utf8::encode_string_bounded(&head, buffer, static_cast<u32>(room),
                                                static_cast<i32>(n), false)
                  : 0;
    o.source = source;
    o.source_base = head.w1;
    o.source_is_string = true;
    return scan_utf8(result, buffer, bytes, o, consumed);
}

i32 transcode_binary(cell* result, const cell* source, i32 length, scan_options o, u32* consumed) {
    series_buffer* b = buffer_of(source->w2);
    u32 total = used_bytes(b);
    u32 head = source->w1 < total ? source->w1 : total;
    u32 available = total - head;
    u32 n = length < 0 || static_cast<u32>(length) > available ? available : u32(length);
    // The series may move while values are made: the scan reads a copy.
    scratch_room area(u64(n) + 1);
    std::memcpy(area.data, head_ptr(buffer_of(source->w2)) + head, n);
    o.source = source;
    o.source_base = head;
    o.source_is_string = false;
    return scan_utf8(result, area.data, n, o, consumed);
}

void start_up() {
    if (values_node) return;
    values_node = memory::new_cell_series(initial_values);
    cell holder{type_id::block, 0, values_node, 0};
    values_holder = roots::append(&holder);
    set_used(0);
    scratch.assign(scratch_size, 0);
    const char* events[6] = {"prescan", "scan", "load", "open", "close", "error"};
    for (u32 i = 0; i < 6; i++) event_symbols[i] = symbol::intern_text(events[i]);
    eof_symbol = symbol::intern_text("eof");
    comment_symbol = symbol::intern_text("comment");
    comma_symbol = symbol::intern_text("comma");
    hex_symbol = symbol::intern_text("hex");
    rawstring_symbol = symbol::intern_text("rawstring");
}

u32 live_scans() {
    return live_count;
}
u32 value_array_capacity() {
    return values_buffer()->size / sizeof(cell);
}

} // namespace zel::lexer
