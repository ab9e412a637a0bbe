// File natives: size? and to-local-file.
#include "datatypes/file.hpp"
#include "datatypes/string_buffer.hpp"
#include "evaluator/native_families.hpp"
#include "evaluator/stack.hpp"
#include "runtime/file_io.hpp"

namespace zel::natives {

namespace {
using stack::arg;

// Sizes beyond the integer! range come as float!, as memory figures do, rather than wrapped.
void size_q(const i32*) {
    i64 size = fs::file_size(arg(0));
    if (size < 0)
        init_none(arg(0));
    else if (size > INT32_MAX)
        init_float(arg(0), static_cast<double>(size));
    else
        init_integer(arg(0), static_cast<i32>(size));
    stack::keep_result_only();
}

void to_local_file(const i32* refinements) {
    bool full = refinements[0] >= 0;
    cell made;
    string::init_cell_bytes(&made, string::units_from_head(arg(0)) + 1);
    cell* target = stack::push_value(&made);
    file::to_os_separators(arg(0), target, full);
    *arg(0) = *target;
    stack::keep_result_only();
}

const families::entry table[] = {
    {"size?", size_q},
    {"to-local-file", to_local_file},
};
} // namespace

std::span<const families::entry> families::files() {
    return table;
}

} // namespace zel::natives
