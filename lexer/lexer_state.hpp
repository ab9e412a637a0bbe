// The state of one running scan and the services its handlers share: the output in the value
// array (cells addressed by index, since the array moves when it grows), syntax errors and the
// callback events. Only the lexer's own units include this.
#pragma once
#include <vector>

#include "lexer/lexer.hpp"
#include "lexer/lexer_tables.hpp"
#include "runtime/error_catalog.hpp"

namespace zel::lexer {

// Internal type of the open markers in the value array; such cells never leave the lexer.
constexpr u32 marker_type = type_id::triple;

struct scan_state {
    scan_state* next = nullptr; // the enclosing scan
    // Output: indexes into the value array.
    u32 out_base = 0;
    u32 out_tail = 0;
    i32 open_marker = -1; // innermost open marker, -1 for none
    // Input.
    const u8* start = nullptr;
    const u8* end = nullptr;
    const u8* pos = nullptr;
    const u8* token_start = nullptr;
    const u8* token_end = nullptr;
    i32 line = 1;
    u32 token_lines = 0;
    bool line_before = false; // a line break came before the token
    // Types and states.
    i32 pending_type = -1;
    u32 kind = 0;
    i32 token_type = 0;
    u32 entry_state = 0;
    u32 prev_state = 0;
    u32 error_type = 0;
    i32 last_type = 0;
    // Braced strings and points.
    const u8* braced_start = nullptr;
    u32 braced_level = 0;
    u32 braced_flags = 0;
    bool point_line_before = false;
    // Callback.
    callback* cb = nullptr;
    u32 mask = 0;
    const cell* source = nullptr;
    u32 source_base = 0;
    bool source_is_string = false;
    const u8* steer = nullptr; // where a callback moved the input
    // Modes.
    bool one_value = false;
    bool load = true;
    bool build = true;
    // Character counts of a string source at every `char_mark_bytes` bytes, filled as the scan
    // asks for positions: a position costs a short count from the mark before it, so events whose
    // positions jump back and forth (a close reports its opener) stay cheap.
    std::vector<u32> char_marks;

    bool full_load() const { return load && build; }
    bool inside_braced() const { return braced_level > 0; }
};

// A scan that ends before its input does: quietly (a callback declined an error) or reporting
// error! outside full load mode.
struct scan_stop {
    bool error;
};

// --- Output (lexer_scan.cpp) ---

// The cell at an index of the value array; valid until the next allocation.
cell* slot(u32 index);
// Appends an unset cell to the output and answers its index; the new-line mark follows the
// line break before the token.
u32 reserve(scan_state& st);
// Drops the last output cell.
void drop_last(scan_state& st);
// The innermost open marker's type to build, or 0.
u32 open_marker_type(const scan_state& st);
bool inside_path(const scan_state& st);

// --- Errors and events (lexer_scan.cpp) ---

// Raises a syntax error (or stops the scan outside full load mode, or quietly when the
// callback declines). `type` is the datatype of `invalid` (or 0), `missing_char` the delimiter
// of `missing`.
[[noreturn]] void syntax_error(scan_state& st, err::id id, const u8* position, u32 type = 0,
                               u32 missing_char = 0);
[[noreturn]] inline void invalid(scan_state& st, u32 type, const u8* position) {
    syntax_error(st, err::E("syntax", "invalid"), position, type);
}
// Sends an event when the callback takes it; answers the callback's answer (true without one).
bool send_event(scan_state& st, u32 event, const u8* input, const cell& type, const u8* token_start,
                const u8* token_end, const cell* value = nullptr);
// The type argument of an event for a datatype id (none for 0).
cell type_cell(u32 type);

// --- Token loaders (loaders.cpp, loaders_time.cpp) ---

// Each checks the token [start, end) and, with `make`, appends its value; each sets st.pos.
void load_string(scan_state& st, const u8* start, const u8* end, u32 flags, bool make);
void load_braced(scan_state& st, const u8* start, const u8* end, u32 flags, bool make);
void load_word(scan_state& st, const u8* start, const u8* end, u32 flags, bool make);
void load_issue(scan_state& st, const u8* start, const u8* end, u32 flags, bool make);
void load_integer(scan_state& st, const u8* start, const u8* end, u32 flags, bool make);
void load_refinement(scan_state& st, const u8* start, const u8* end, u32 flags, bool make);
void load_char(scan_state& st, const u8* start, const u8* end, u32 flags, bool make);
void load_file(scan_state& st, const u8* start, const u8* end, u32 flags, bool make);
void load_binary(scan_state& st, const u8* start, const u8* end, u32 flags, bool make);
void load_percent(scan_state& st, const u8* start, const u8* end, u32 flags, bool make);
void load_float(scan_state& st, const u8* start, const u8* end, u32 flags, bool make);
void load_special_float(scan_state& st, const u8* start, const u8* end, u32 flags, bool make);
void load_tuple(scan_state& st, const u8* start, const u8* end, u32 flags, bool make);
void load_date(scan_state& st, const u8* start, const u8* end, u32 flags, bool make);
void load_pair(scan_state& st, const u8* start, const u8* end, u32 flags, bool make);
void load_point(scan_state& st, const u8* start, const u8* end, u32 flags, bool make);
void load_time(scan_state& st, const u8* start, const u8* end, u32 flags, bool make);
void load_money(scan_state& st, const u8* start, const u8* end, u32 flags, bool make);
void load_tag(scan_state& st, const u8* start, const u8* end, u32 flags, bool make);
void load_url(scan_state& st, const u8* start, const u8* end, u32 flags, bool make);
void load_email(scan_state& st, const u8* start, const u8* end, u32 flags, bool make);
void load_hex(scan_state& st, const u8* start, const u8* end, u32 flags, bool make);
void load_raw_string(scan_state& st, const u8* start, const u8* end, u32 flags, bool make);
void load_ref(scan_state& st, const u8* start, const u8* end, u32 flags, bool make);

// The point of a paren that met a comma: the text after the `(` at `open` up to the `)` at
// `close` becomes a point2D! or point3D! written into the cell at `index`.
void load_point_into(scan_state& st, const u8* open, const u8* close, u32 index);
// Whether the bytes after a `(` make it a point literal.
bool starts_point(const u8* after_paren, const u8* end);

// --- Shared text decoding (loaders.cpp) ---

// A word cell of the type for the name, bound to the global context (added when absent).
cell word_of_text(const u8* start, const u8* end, u32 type);

} // namespace zel::lexer
