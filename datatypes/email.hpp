// email!: an e-mail address as text, a string! that molds as its bare text.
#pragma once
#include "runtime/cell.hpp"

namespace zel::email {

void register_type();

} // namespace zel::email
