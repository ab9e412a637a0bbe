// What the OS layer hands on of a value. Text: string kinds as they are, anything else
// formed, always as UTF-8.
#pragma once
#include <string>

#include "runtime/cell.hpp"

namespace zel::platform {

// Undecodable OS bytes kept in a text come back as they were.
std::string text_of(const cell* value);
// The bytes of a binary! from its index.
std::string bytes_of(const cell* binary);

} // namespace zel::platform
