// The families of natives.
#include "evaluator/native_families.hpp"

#include "evaluator/parse.hpp"
#include "lexer/transcode.hpp"

namespace zel::natives::families {

native_fn lookup(std::string_view name) {
    for (auto family :
         {functions(), control(), loops(), evaluation(), exits(), words(), comparison(), system(),
          files(), conversions(), checksums(), math(), processes(), compression()})
        for (const entry& e : family)
            if (e.name == name) return e.fn;
    // The lexer's native lives with the lexer.
    if (name == "transcode") return transcode::native;
    if (name == "parse") return parse::native;
    return nullptr;
}

} // namespace zel::natives::families
