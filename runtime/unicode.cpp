// Unicode encodings and case mapping. (ASCII case mapping until the full tables are built.)
#include "runtime/unicode.hpp"

namespace zel::case_ {

void build_tables() {}

u32 map_codepoint(u32 cp, bool to_upper) {
    if (to_upper) return (cp >= 'a' && cp <= 'z') ? cp - 32 : cp;
    return (cp >= 'A' && cp <= 'Z') ? cp + 32 : cp;
}

} // namespace zel::case_
