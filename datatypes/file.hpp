// file!: a file or folder name in the language's form ("/" separates parts, a final "/" names a
// folder); a url! in every series respect, molded as "%" and the name.
#pragma once
#include "runtime/cell.hpp"

namespace zel::file {

void register_type();

} // namespace zel::file
