// The .zel sources embedded into the executable at build time, in path order, and the boot
// payload made from them.
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

// The boot payload: the library's modules lexed and serialized at build time, compressed.
extern const unsigned char payload[];
extern const std::size_t payload_size;
} // namespace embedded
