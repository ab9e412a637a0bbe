// Start-up order is a contract: each step may use what the earlier ones made and nothing later.
#include "runtime/startup.hpp"

#include <cstdio>

#include "runtime/cell_pool.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycle_stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/ext_res.hpp"
#include "runtime/memory.hpp"
#include "runtime/owner.hpp"
#include "runtime/process.hpp"
#include "runtime/roots.hpp"
#include "runtime/unicode.hpp"
#include "datatypes/types.hpp"
#include "evaluator/random.hpp"
#include "evaluator/stack.hpp"

#include <cstdlib>
#include <cstring>

namespace zel::startup {

void init_runtime() {
    const char* stress = std::getenv("ZEL_GC_STRESS");
    gc::stress = stress && std::strcmp(stress, "1") == 0;
    random::start_up();
    memory::set_up();
    ext_res::set_up_tables();
    types::register_all();
    cycle_stack::set_up();
    memory::new_node_frame(memory::nodes_per_frame);
    memory::mem.current_series_frame = memory::new_series_frame();
    roots::set_up();
    case_::build_tables();
    stack::start_up();
    owner::create_table();
    cell_pool::set_up();
    gc::reset_counters();
}

int run(int argc, char** argv) {
    try {
        init_runtime();
        return 0;
    } catch (const unwind& u) {
        if (u.code == throw_code::quit) return u.status;
        if (u.code == throw_code::error) {
            std::fflush(stdout);
            std::fprintf(stdout, "*** Error: code %u\n", error::last_code());
            std::fflush(stdout);
            return 254; // -2: an error that nothing caught
        }
        runtime::fatal_error_exit(95, __builtin_return_address(0));
    }
}

} // namespace zel::startup
