// The table of arithmetic cores.
#include "datatypes/number_cores.hpp"

#include "datatypes/series.hpp"
#include "runtime/errors.hpp"

namespace zel::cores {

math_fn float_math = nullptr;
math_fn money_math = nullptr;
math_fn tuple_math = nullptr;
math_fn pair_math = nullptr;
math_fn point2d_math = nullptr;
math_fn point3d_math = nullptr;
math_fn date_math = nullptr;
vector_scalar_fn vector_math = nullptr;
money_compare_fn money_compare = nullptr;
money_of_fn money_of_float = nullptr;
money_of_fn money_of_integer = nullptr;
i32 (*date_unix_seconds)(const cell*) = nullptr;
i32 (*money_as_integer)(const cell*) = nullptr;
double (*money_as_double)(const cell*) = nullptr;

void raise_invalid_type(u32 type) {
    cell t;
    init_datatype(&t, type);
    error::raise(err::E("script", "invalid-type"), &t);
}

void raise_not_related(const char* action, u32 type) {
    cell word, t;
    series::name_word(&word, action);
    init_datatype(&t, type);
    error::raise(err::E("script", "not-related"), &word, &t);
}

} // namespace zel::cores
