// Environment variables and OS information. Names and values cross the edge as UTF-8 bytes;
// language strings are made from them losslessly, so bytes that are not UTF-8 come back intact.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "runtime/cell.hpp"

namespace zel::os {

// The value of a variable (a copy), or nothing when it is absent. An entry's name ends at the
// first "=" after its first character, as list-env splits it.
std::optional<std::string> env_var(std::string_view name);
// Sets the variable, or removes it when `value` is null. False when the OS refuses: an empty
// name, a name with "=" or a NUL byte, a value with a NUL byte.
bool put_env_var(std::string_view name, const std::string_view* value);

// Pushes a map! of every variable of the environment, name to value, both string!.
cell* push_env_map();

// The command line the process was started with: its arguments joined by spaces, an argument
// that is empty or holds a space, tab or double quote written in double quotes.
std::string command_line_text();

// Pushes an object! with the fields name (string!), arch (word!), version (tuple! of three
// numbers) and build (integer!), from uname.
cell* push_os_description();
// The processor name of a machine name ("x86_64" gives "x86-64").
std::string_view arch_name(std::string_view machine);
// Version numbers and build of a kernel release text ("6.1.0-18-amd64" gives 6, 1, 0 and 18).
struct release_numbers {
    u8 version[3];
    i32 build;
};
release_numbers parse_release(std::string_view release);

} // namespace zel::os
