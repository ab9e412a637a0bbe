// tag!: markup-tag text, a string! in all but its printed forms: "<", the text, ">".
#pragma once
#include "runtime/cell.hpp"

namespace zel::tag {

void register_type();

} // namespace zel::tag
