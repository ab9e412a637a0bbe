// The families of natives: each family unit lists the natives it implements by name; the natives
// table takes each slot's body from here (a native no family implements answers `not-done`).
#pragma once
#include <span>
#include <string_view>

#include "evaluator/natives.hpp"

namespace zel::natives::families {

struct entry {
    std::string_view name;
    native_fn fn;
};

native_fn lookup(std::string_view name);

// The family tables.
std::span<const entry> functions();
std::span<const entry> control();
std::span<const entry> loops();
std::span<const entry> evaluation();
std::span<const entry> exits();
std::span<const entry> words();
std::span<const entry> comparison();
std::span<const entry> system();
std::span<const entry> files();
std::span<const entry> conversions();
std::span<const entry> checksums();
std::span<const entry> math();
std::span<const entry> processes();
std::span<const entry> compression();

} // namespace zel::natives::families
