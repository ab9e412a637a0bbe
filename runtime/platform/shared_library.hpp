// Libraries that only some scripts need (the network, digests, image codecs) are loaded on first
// use. Linked into the program, they and the dozens of libraries they pull in were loaded and
// relocated at every start, for a third of the time an empty script takes.
//
// A user of such a library lists the functions it calls and declares a table of them:
//
//     #define PNG_FUNCTIONS(X) X(png_image_free) X(png_image_finish_read)
//     ZEL_SHARED_LIBRARY(png_library, ZEL_PNG_SONAME, PNG_FUNCTIONS)
//
// then calls `png_library::get()->png_image_free(...)`; get() answers null when the library or
// one of the functions cannot be found.
#pragma once
#include <cstddef>

namespace zel::platform {

// Loads `soname` (once per process) and stores the address of each function named in `names`
// into `table`; false when the library or a function is missing.
bool load_shared_library(const char* soname, const char* const* names, void (**table)(),
                         std::size_t count);

} // namespace zel::platform

#define ZEL_SHARED_FUNCTION_FIELD(f) decltype(&::f) f;
#define ZEL_SHARED_FUNCTION_NAME(f) #f,

#define ZEL_SHARED_LIBRARY(type, soname, FUNCTIONS)                                                \
    struct type {                                                                                  \
        FUNCTIONS(ZEL_SHARED_FUNCTION_FIELD)                                                       \
        static const type* get() {                                                                 \
            static const char* const names[] = {FUNCTIONS(ZEL_SHARED_FUNCTION_NAME)};              \
            static type table;                                                                     \
            static_assert(sizeof(type) == sizeof(names) / sizeof(*names) * sizeof(void (*)()));    \
            static const bool loaded = ::zel::platform::load_shared_library(                       \
                soname, names, reinterpret_cast<void (**)()>(&table),                              \
                sizeof(names) / sizeof(*names));                                                   \
            return loaded ? &table : nullptr;                                                      \
        }                                                                                          \
    };
