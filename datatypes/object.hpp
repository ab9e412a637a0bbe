// object!: a context made visible as a value. An object cell holds the context node (word 1),
// the class id (word 2) and the node of its change-handler information or 0 (word 3); the
// context's self cell always holds a copy of the object cell, so every operation that makes an
// object cell writes it there. error! and port! values are objects of other type ids.
#pragma once
#include <string_view>

#include "runtime/cell.hpp"

namespace zel {
struct path_step;
}

namespace zel::object {

// Class ids: one counter, never reused; error! values carry class 1, port! values class 2.
constexpr i32 error_class = 1;
constexpr i32 port_class = 2;
i32 next_class_id();

inline u32 context_of(const cell* object) {
    return object->w1;
}
inline i32 class_of(const cell* object) {
    return static_cast<i32>(object->w2);
}

// Makes an object cell of the type for a context and writes it into the self cell.
cell make_cell(u32 context, i32 class_id, u32 info, u32 type = type_id::object);
// A new object with an empty context with room for n words, class id 0.
cell* init_cell_empty(cell* target, u32 n);

// Field helpers (case-folded lookups).
i32 find_field(const cell* object, u32 symbol);
const cell* field_value(const cell* object, u32 symbol); // the shared none! cell when absent
cell* key_word_at(u32 context, u32 index);
cell* first_value_address(const cell* object);
u32 field_count(const cell* object);
cell* first_key_word(const cell* object);
void clear_new_line_flags(const cell* series);
void clear_changed_marks(u32 context);
bool word_is_class(const cell* word, i32 class_id);
bool field_is_class(u32 context, u32 index, i32 class_id);

// Cell makers for compiled code: each pushes the object cell and writes the self cell.
cell* push_new(u32 context, i32 class_id, u32 info);
cell* push_for_context(u32 context, i32 class_id);

// The copy engine: a new object (pushed) of the source's type and class with its own context.
// `deep` copies series fields deeply, `types` (a typeset! or datatype!, or null) filters the
// values copied, `rebuild` makes new change-handler information for the copy. function! fields
// are always re-made bound to the copy.
cell* push_copy(const cell* source, bool deep, const cell* types, bool rebuild);

// `construct`: an object from a spec block without evaluating it, a copy of `proto` (an object,
// or none! / null) extended with the spec's set-words; unless `only`, the words true, yes, on,
// false, no, off and none become their values. The new object is pushed.
cell* new_from_proto(const cell* spec, const cell* proto, bool only);

// The object writer shared by the form and mold handlers of object!, error! and port!: `prefix`
// and "]" when `wrap`; one field per line with indentation when `lines` (mold without /only).
i32 write_fields(cell* value, cell* buffer, std::string_view prefix, bool wrap, bool lines,
                 bool all, bool flat, cell* part, i32 limit, i32 indent);

// Comparison of two objects (the second already known to be one) under a comparison op.
i32 compare_objects(cell* a, cell* b, i32 op);

// Handlers shared with error! and port!.
cell* make(cell* proto, cell* spec, u32 type);
cell* eval_path(cell* parent, cell* element, cell* value, const path_step& step);
void reflect(cell* value, u32 field_symbol);
cell* copy(cell* value, cell* out, cell* part, bool deep, cell* types);
cell* select(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
             cell* with, cell* skip, bool last, bool reverse);

void register_type();

} // namespace zel::object
