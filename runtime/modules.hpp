// The library's start-up: the embedded modules and the C++ stages between them, run once in
// their fixed order, each using only what the earlier ones made.
#pragma once
#include <string>
#include <string_view>

namespace zel::modules {

// Runs every stage. False with a description of what failed when a stage fails.
bool run_all(std::string* failure);

// Loads source text as library code and evaluates it (the loader of every module). False with
// the error report when the text does not load or its evaluation raises an error.
bool evaluate_source(std::string_view path, std::string_view text, std::string* failure);

// The embedded text of a module path, or empty when there is none.
std::string_view embedded_text(std::string_view path);

} // namespace zel::modules
