// The serialized-value codec's routines, private to the library (`_zelbin-encode`,
// `_zelbin-decode`): the `zelbin` entry of system/codecs calls them.
#pragma once
#include <span>

#include "library/routine_table.hpp"

namespace zel::zelbin_codec {

std::span<const routines::definition> private_routines();

} // namespace zel::zelbin_codec
