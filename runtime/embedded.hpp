// The .zel sources embedded into the executable at build time, in path order.
#pragma once
#include <cstddef>

namespace embedded {
struct source_file {
    const char* path; // relative to the source root, such as "library/base.zel"
    const char* text;
    std::size_t size;
};
extern const source_file files[]; // ends with {nullptr, nullptr, 0}
extern const int file_count;
} // namespace embedded
