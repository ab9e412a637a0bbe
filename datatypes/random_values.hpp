// The `random` handlers of the value types made of numbers: pair!, point2D! and point3D!,
// tuple!, date! and money!. Each seeds the generator from the value with /seed, else replaces
// the value by a random one of its type drawn from the generator (its secure source with
// /secure).
#pragma once
#include "runtime/cell.hpp"

namespace zel::random_values {

void pair(cell* value, bool seed, bool secure, bool only);
void point(cell* value, bool seed, bool secure, bool only);
void tuple(cell* value, bool seed, bool secure, bool only);
void date(cell* value, bool seed, bool secure, bool only);
void money(cell* value, bool seed, bool secure, bool only);

} // namespace zel::random_values
