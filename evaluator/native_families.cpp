// The families of natives.
#include "evaluator/native_families.hpp"

namespace zel::natives::families {

native_fn lookup(std::string_view name) {
    for (auto family : {functions(), control(), loops(), evaluation(), exits(), words(),
                         comparison(), system()})
        for (const entry& e : family)
            if (e.name == name) return e.fn;
    return nullptr;
}

} // namespace zel::natives::families
