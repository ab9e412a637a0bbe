// The process's command line as the library reads it: the arguments exactly as the process
// received them, and their raw text, in which an argument that is empty or holds a blank is
// written between double quotes.
#pragma once
#include <span>
#include <string>

#include "library/routine_table.hpp"

namespace zel::boot_args {

// The raw text of the arguments, the program path first, separated by single spaces.
std::string raw_text(int argc, char** argv);

// `_command-line` (the raw text) and `_boot-args` (a block of the argument strings), for the
// library's own code.
std::span<const routines::definition> private_routines();

} // namespace zel::boot_args
