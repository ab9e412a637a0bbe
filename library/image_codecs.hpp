// The routines behind the image codecs of system/codecs: one decoder for every format (the bytes
// tell which) and one encoder per format number.
#pragma once
#include <span>

#include "library/routine_table.hpp"

namespace zel::image_codecs {

// Private routines ("_" names) that the library's codec objects take as their members.
std::span<const routines::definition> private_routines();

} // namespace zel::image_codecs
