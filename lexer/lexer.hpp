// The lexer: UTF-8 source text to values, through a table-driven automaton (lexer_tables.hpp)
// whose ending states are token kinds, each with a scan handler and a load handler. Scans nest
// (a callback may load text again); the values of every live scan sit in one shared value array
// that the collector sees through the root block.
#pragma once
#include "runtime/cell.hpp"

namespace zel::lexer {

// Callback events, one bit each.
namespace event {
constexpr u32 prescan = 0x01; // before a token is handled
constexpr u32 scan = 0x02;    // after a token's form is recognised
constexpr u32 load = 0x04;    // after a value is made
constexpr u32 open = 0x08;    // at [ ( #[ {
constexpr u32 close = 0x10;   // at ] ) }
constexpr u32 error = 0x20;   // before a syntax error is raised
constexpr u32 all = 0x3F;
} // namespace event

struct event_args {
    u32 event;
    const cell* source; // the series scanned (null when the scan has none)
    // Position in the source: bytes for a binary!, characters otherwise. A callback that changes
    // it makes the scan resume there.
    u32 input;
    cell type; // datatype!, a word! for the structural tokens, or none!
    i32 line;
    // The token's start and end positions, 1-based (all events but load).
    u32 token_start;
    u32 token_end;
    cell value; // load: the value made
};

// Thrown by a callback to end the scan at once and leave `transcode` without a result: the
// function-value adapter throws it when the language code it ran left a non-local exit pending
// (throw, break ...), which the evaluator then carries on.
struct scan_abandoned {};

// A callback answers true to go on: make the value, keep it, raise the error; false skips the
// value (scan), drops it (load) or ends the scan quietly (error).
class callback {
  public:
    virtual ~callback() = default;
    virtual u32 event_mask() const { return event::all; }
    virtual bool on_event(event_args& args) = 0;
};

struct scan_options {
    bool one_value = false;    // stop after the first complete top-level value
    bool load = true;          // clear: prescan mode (structure only, the first type answered)
    bool build = true;         // clear: scan mode (tokens checked, no value made)
    bool block_result = false; // one-value mode still answers a block
    callback* cb = nullptr;
    const cell* source = nullptr;  // for the callback's input argument
    u32 source_base = 0;           // source position of the first byte scanned
    bool source_is_string = false; // positions count characters, not bytes
    cell* output = nullptr;        // values appended here instead of a new block
};

// Scans `length` bytes at `text` (memory that does not move during the scan: not a series
// buffer). In full load mode the result cell receives the values (see scan_options). Answers
// the type id of the last token, 0 for none, negative after a syntax error outside full load
// mode; `consumed` receives the length used, in characters for a string source.
i32 scan_utf8(cell* result, const u8* text, u32 length, const scan_options& options, u32* consumed);

// Scans a string! from its head (`length` characters, -1 for all) through a UTF-8 copy.
i32 transcode_string(cell* result, const cell* source, i32 length, scan_options options,
                     u32* consumed);

// Scans a binary! from its head (`length` bytes, -1 for all).
i32 transcode_binary(cell* result, const cell* source, i32 length, scan_options options,
                     u32* consumed);

// The value array, the scratch area and the event and exit-state words (start-up).
void start_up();

// The name reported for a structural token kind (66-101): a datatype! or a word!. The list has
// one entry per kind, in kind order.
cell exit_state(u32 kind);
// `system/lexer/exit-states`: the block of the 36 entries.
void make_exit_states(cell* out);
// The event word of an event bit.
cell event_word(u32 event);

// Scans made so far and cells in the value array (for tests and statistics).
u32 live_scans();
u32 value_array_capacity();

} // namespace zel::lexer
