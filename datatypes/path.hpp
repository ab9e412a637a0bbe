// paren! and the path kinds (path!, lit-path!, set-path!, get-path!): blocks that the evaluator
// treats differently. As data they are blocks; only making, converting, forming and molding
// differ, and the path kinds refuse random, sort and trim (paren! only trim).
#pragma once
#include "runtime/cell.hpp"

namespace zel {

namespace path {
// Pushes a copy of a block-kind cell retyped path! on the data stack.
cell* push_retyped(const cell* value);
void register_type();
} // namespace path

namespace lit_path {
cell* push_retyped(const cell* value);
void register_type();
} // namespace lit_path

namespace set_path {
cell* push_retyped(const cell* value);
void register_type();
} // namespace set_path

namespace get_path {
cell* push_retyped(const cell* value);
void register_type();
} // namespace get_path

namespace paren {
cell* push_retyped(const cell* value);
void register_type();
} // namespace paren

} // namespace zel
