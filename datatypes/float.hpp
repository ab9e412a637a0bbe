// float!: the 64-bit IEEE number. Holds the float text of every float-based type (format codes),
// the arithmetic core that other number types hand mixed operations to, the tolerant equality
// of `=` and the degree folding of the trigonometric natives. percent! and time! inherit it.
#pragma once
#include <string>

#include "runtime/cell.hpp"

namespace zel::float_ {

namespace format {
enum : int { vector32 = 0, float_ = 1, percent32 = 2, percent = 3, time = 4, coordinate = 5 };
}

extern bool pretty; // system/options/float/pretty?

cell* init_cell(cell* c, double d);
void set_result(double d);
cell* push_new(double d);
void append_to_block(cell* block, double d);
inline double payload(const cell* c) { return float_of(c); }

bool is_nan(double d);
bool is_special(double d);
bool near_equal(double a, double b);
bool near_equal32(float a, float b);

// The text of a double for a format code (percent passes the fraction x 100).
std::string text(double value, int code);
// Appends that text; answers the limit less its length.
i32 form_to(cell* buffer, double value, int code, i32 limit);

// The arithmetic core (operations 0 to 4) on the current frame.
void math(i32 operation);
// The comparison of a float-based value with another under a compare op.
i32 compare(cell* a, cell* b, i32 op);
// Degree folding of sine (2), cosine (1) and tangent (0): the angle in radians.
double fold_degrees(double x, int function);

void register_type();

} // namespace zel::float_
