// Helpers shared by the string! handlers: positions read through the node, code point copies,
// scratch values on the data stack and the errors the handlers raise.
#pragma once
#include <string>

#include "datatypes/text_units.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"

namespace zel::string_type::detail {

// A text series seen at one moment: its node, unit, whole length in units and head clamped to
// 0..length. Reading it writes a head that lies past the tail back to the tail.
struct text_view {
    u32 node;
    u32 unit;
    u32 length;
    u32 head;
    u32 from_head() const { return length - head; }
};
text_view view(cell* s);

inline bool is_text_type(u32 t) {
    return is_any_string_type(t);
}
// Texts whose units are matched as they are: bytes and vector elements.
inline bool is_exact_series(u32 t) {
    return t == type_id::binary || t == type_id::vector;
}

// n code points of the buffer from a unit index (fewer when the buffer is shorter).
std::u32string codepoints_at(u32 node, u32 index, u32 n);
// The code points of a text value from its head.
std::u32string codepoints_of(cell* s);
u32 widest_of(const std::u32string& cps);

// Writes the molded form of one code point (the escape rule of mold) into `out`.
void escape_codepoint(std::u32string& out, u32 cp, bool all);

// Appends code points at the tail, widening once as appending each one would.
void append_codepoints(cell* target, const std::u32string& cps);
// Replaces `removed` units at `at` by `dup` copies of `cps`; the buffer widens to at least
// `unit` (and to what the code points need). Sizes that leave 32 bits raise no-memory before
// anything is written.
void splice(cell* s, u32 at, u32 removed, const std::u32string& cps, u32 unit, u64 dup);
// Cuts the buffer to n units when it is longer.
void truncate_to(u32 node, u32 n);

// A new string! with room for n bytes, on the data stack.
cell* push_new_string(u32 bytes = 16);
// A new empty series of a type (string kinds and binary!) with the same unit as a buffer.
void init_series(cell* out, u32 type, u32 units, u32 unit);

// Drops what a handler pushed on the data stack, on every way out.
class stack_scope {
  public:
    stack_scope() : top_(stack::top) {}
    ~stack_scope() { stack::top = top_; }
    stack_scope(const stack_scope&) = delete;
    stack_scope& operator=(const stack_scope&) = delete;

  private:
    cell* top_;
};

// Tells the owner of a series (if any) of a change by the action's event word. Code after it
// re-reads the buffer, because the owner's handler may change it.
void notify_owner(const cell* series, const char* action, u32 index, i32 part);

// A /part argument as a unit count: an integer!, or a position in the same series (same type
// and buffer) as its distance from `head`; anything else raises invalid-refine-arg.
i64 part_count(const cell* series, const cell* part, u32 head);

[[noreturn]] void raise_invalid_refine(const cell* value); // the refinement word comes with words
[[noreturn]] void raise_invalid_arg(const cell* value);
[[noreturn]] void raise_out_of_range(const cell* value);
[[noreturn]] void raise_not_done();
[[noreturn]] void raise_no_memory();

} // namespace zel::string_type::detail
