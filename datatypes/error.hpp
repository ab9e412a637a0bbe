// error!: every language error is an object of ten fixed fields (code type id arg1 arg2 arg3
// near where stack files), type id 34 and class id 1, classified by the error catalog. The
// catalog is a language object made once from the catalog data: one object per category with
// `code`, `type` (the title) and one field per id whose value is the message, in catalog order,
// so that an id's field position gives its code.
#pragma once
#include <string_view>

#include "runtime/cell.hpp"
#include "runtime/error_catalog.hpp"

namespace zel::error {

namespace field {
enum : u32 { code, type, id, arg1, arg2, arg3, near, where, stack, files, count };
}
constexpr u32 stack_field_index() {
    return field::stack;
}

// Makes the catalog object and the error prototype (once; later calls do nothing).
void set_up();
// The objects that the system object publishes as `system/catalog/errors`,
// `system/standard/error` and `system/state`; the system builder may hand over its own.
const cell* catalog();
void set_catalog(const cell* catalog);
const cell* prototype();
void set_prototype(const cell* prototype);
void set_state(const cell* state);

// The message value of a catalog entry from its source text: a string! for a quoted string; a
// template stays source text (a string!) until the lexer turns it into a block here.
cell message_from_source(std::string_view source);

// The error! value of a catalog id with up to three arguments; `near` and `where` are left to
// the evaluator. The raiser calls it and throws the value.
cell build(err::id id, const cell* arg1 = nullptr, const cell* arg2 = nullptr,
           const cell* arg3 = nullptr);
// `make error!` from an integer code, a block or a string (the make handler).
cell* make(cell* proto, cell* spec, u32 type);

cell* field_of(const cell* error, u32 index);
void set_where_once(cell* error, const cell* value);
u32 category_symbol(const cell* error);
u32 id_symbol(const cell* error);
// Turns a recorded frame position in `stack` into a block of call words and copies the list of
// files being loaded into `files`.
void record_call_stack(cell* error);
// The n-th argument word (0-based) of the spec of the callable the current frame runs, or none!.
cell spec_argument_word(u32 n);

// The text report: title and message, then the Where, Near, Stack and Files lines.
i32 form_report(cell* error, cell* buffer, cell* part, i32 limit);
// The levels the report reads from `system/state`: `stack-trace` (1 by default) and the list of
// files being loaded (its fourth field).
i32 stack_trace_level();
cell loading_files();

void register_type();

} // namespace zel::error
