// Registration of every datatype's action row, in the fixed start-up order (parents first).
#pragma once

namespace zel::types {

void register_all();

} // namespace zel::types
