// Start-up order is a contract: each step may use what the earlier ones made and nothing later.
#include "runtime/startup.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console/hand_over.hpp"
#include "datatypes/change_events.hpp"
#include "datatypes/context.hpp"
#include "datatypes/error.hpp"
#include "datatypes/money.hpp"
#include "datatypes/object.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/types.hpp"
#include "datatypes/word.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/random.hpp"
#include "evaluator/stack.hpp"
#include "lexer/lexer.hpp"
#include "library/global_words.hpp"
#include "library/lexer_callback.hpp"
#include "runtime/arena.hpp"
#include "runtime/cell_pool.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycle_stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/ext_res.hpp"
#include "runtime/memory.hpp"
#include "runtime/modules.hpp"
#include "runtime/os_services.hpp"
#include "runtime/owner.hpp"
#include "runtime/print_hooks.hpp"
#include "runtime/process.hpp"
#include "runtime/roots.hpp"
#include "runtime/unicode.hpp"

namespace zel::startup {

namespace {
// Series owned by objects tell their owners of changes in place.
void connect_ownership() {
    object::set_owner_services({owner::claim, owner::claim_and_mark_owner, owner::release_slots});
    owner::set_deep_change_hook([](cell* owner_cell, cell* field, cell* target, u32 event,
                                   cell* new_value, i32 index, i32 count) {
        cell action = context::global_word(symbol::intern_text(owner::event_name(event)));
        object::notify_deep_change(owner_cell, field, target, &action, new_value, index, count);
    });
}

// money! takes its currency codes from the list that the system object holds, so that a code the
// user appends is known to the lexer, to mold and to `as-money`.
void hand_over_currency_list() {
    cell system_word = context::global_word(sym::system);
    const cell* v = context::word_value_address(&system_word);
    for (const char* name : {"locale", "currencies", "list"}) {
        if (!v || !is(v, type_id::object)) return;
        v = object::field_value(v, symbol::intern_text(name));
    }
    if (v && is(v, type_id::block)) money::set_currency_list(v);
}
} // namespace

void init_core() {
    const char* stress = std::getenv("ZEL_GC_STRESS");
    gc::stress = stress && std::strcmp(stress, "1") == 0;
    // TEST-ONLY switch: ZEL_ARENA_LIMIT=<bytes> lowers the arena's cap (4 GiB) so that tests reach
    // the out-of-memory error quickly.
    if (const char* limit = std::getenv("ZEL_ARENA_LIMIT")) {
        char* end = nullptr;
        unsigned long long bytes = std::strtoull(limit, &end, 10);
        if (end != limit && *end == 0 && bytes > 0) arena::reserve(bytes);
    }
    cycle_stack::set_up();
    print_hooks::set_up();
    os::set_up();
    random::start_up();
    memory::set_up();
    ext_res::set_up_tables();
    types::register_all();
    memory::new_node_frame(memory::nodes_per_new_frame());
    memory::mem.current_series_frame = memory::new_series_frame();
    roots::set_up();
    stack::start_up();
    context::set_up_global();
    case_::build_tables();
    symbol::set_up();
    datatype::intern_type_names(word::intern_type_name);
    sym::intern_all();
    // The global context's first words, in the order `words-of system/words` shows them.
    global_words::intern_runtime_words();
    global_words::intern_library_head();
    error::set_up();
    interp::install_error_hooks();
    stack::body_symbol = sym::body;
    stack::anon_symbol = sym::anon;
    lexer::start_up();
    actions::register_action_table();
    natives::register_natives_table();
    interp::start_up();
    owner::create_table();
    connect_ownership();
    cell_pool::set_up();
    gc::reset_counters();
    lexer_callback::install();
    // From here on an allocation that finds no room collects first.
    gc::active = true;
}

void init_runtime() {
    init_core();
    // The library: its modules evaluated in their fixed order.
    std::string failure;
    if (!modules::run_all(&failure)) {
        std::fflush(stdout);
        std::fprintf(stdout, "*** Start-up failed: %s\n", failure.c_str());
        runtime::exit_process(1);
    }
    hand_over_currency_list();
    memory::prepare_no_memory_error();
}

int run(int argc, char** argv) {
    try {
        init_runtime();
        return console_start::hand_over();
    } catch (const unwind& u) {
        if (u.code == throw_code::quit) return u.status;
        if (u.code == throw_code::interrupt) return runtime::interrupted_exit_code;
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
