#include "runtime/platform/shared_library.hpp"

#include <dlfcn.h>

#include <cstring>

namespace zel::platform {

bool load_shared_library(const char* soname, const char* const* names, void (**table)(),
                         std::size_t count) {
    // Never closed: the functions stay in use until the process ends.
    void* library = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!library) return false;
    for (std::size_t i = 0; i < count; i++) {
        void* address = dlsym(library, names[i]);
        if (!address) return false;
        std::memcpy(&table[i], &address, sizeof address);
    }
    return true;
}

} // namespace zel::platform
