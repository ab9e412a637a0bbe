// Conversion natives: uppercase and lowercase.
#include "evaluator/native_families.hpp"
#include "evaluator/stack.hpp"
#include "runtime/unicode.hpp"

namespace zel::natives {

namespace {
using stack::arg;

// A char! is converted in the result slot; a string in place, from its index to its tail or to
// the /part limit, and the same series is the result.
void convert_case(const i32* refinements, bool to_upper) {
    const cell* part = refinements[0] >= 0 ? arg(static_cast<u32>(refinements[0])) : nullptr;
    case_::convert_value(arg(0), to_upper, part);
    stack::keep_result_only();
}

void uppercase(const i32* refinements) {
    convert_case(refinements, true);
}
void lowercase(const i32* refinements) {
    convert_case(refinements, false);
}

const families::entry table[] = {
    {"uppercase", uppercase},
    {"lowercase", lowercase},
};
} // namespace

std::span<const families::entry> families::conversions() {
    return table;
}

} // namespace zel::natives
