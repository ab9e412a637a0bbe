// System natives: output (print, prin), time (now, wait), the process environment (get-env,
// set-env, list-env), memory (stats, recycle) and the new-line marker (new-line, new-line?).
#include <climits>
#include <optional>

#include "datatypes/basic.hpp"
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/date.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/text_out.hpp"
#include "datatypes/time.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/native_families.hpp"
#include "evaluator/stack.hpp"
#include "gui/terminal/event_loop.hpp"
#include "runtime/collector.hpp"
#include "runtime/environment.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/memory_stats.hpp"
#include "runtime/os_services.hpp"
#include "runtime/print_hooks.hpp"
#include "runtime/unicode.hpp"

namespace zel::natives {

namespace {
using stack::arg;

void single_result(const cell& value) {
    *arg(0) = value;
    stack::top = stack::arguments + 1;
}

void unset_result() {
    init_unset(arg(0));
    stack::top = stack::arguments + 1;
}

void none_result() {
    init_none(arg(0));
    stack::top = stack::arguments + 1;
}

// ---- print and prin -------------------------------------------------------------------------

// The block into which print reduces a block argument. It lives in the root block, whose buffer
// never moves, so its cell address stays valid.
cell* scratch_block() {
    static cell* scratch = nullptr;
    if (!scratch) scratch = block::append_new_sized(nullptr, 32);
    return scratch;
}

// Moves the scratch block's index to its tail for one print and puts both back afterwards, also
// when an error leaves the print: a print inside a printed expression appends behind the values
// the outer one has reduced so far.
struct scratch_use {
    cell* block;
    u32 index;
    u32 tail;
    explicit scratch_use(cell* b) : block(b), index(b->w1), tail(used_units(buffer_of(b->w2))) {
        b->w1 = tail;
    }
    ~scratch_use() {
        block::set_tail_index(block, tail);
        block->w1 = index;
    }
};

// Reduces the code block's expressions onto the target's tail; false when a non-local exit is
// pending.
bool reduce_into(const cell* code, cell* target) {
    struct position_keeper {
        u32 node = interp::code_node, index = interp::code_index;
        ~position_keeper() {
            interp::code_node = node;
            interp::code_index = index;
        }
    } keep;
    u32 node = code->w2;
    u32 index = code->w1;
    while (index < used_units(buffer_of(node))) {
        cell* at = stack::top;
        interp::code_node = node;
        interp::code_index = index;
        index = interp::reduce_one(code, index, true);
        if (interp::pending) return false;
        block::append_value_copy(target, at);
        stack::top = at;
    }
    return true;
}

void output(bool newline) {
    std::optional<scratch_use> scratch;
    if (is(arg(0), type_id::block)) {
        cell code = *arg(0);
        scratch.emplace(scratch_block());
        if (!reduce_into(&code, scratch_block())) return;
        *arg(0) = *scratch_block();
        cell_ops::clear_newline_flag(arg(0));
    }
    cell* text = arg(0);
    if (is(text, type_id::string)) {
        u32 length = used_units(buffer_of(text->w2));
        if (text->w1 > length) text->w1 = length;
    } else {
        cell fresh;
        out::new_string(&fresh);
        text = stack::push_value(&fresh);
        actions::form_typed(arg(0), text, nullptr, INT_MAX);
    }
    u32 flag = newline ? 1 : 0;
    print_hooks::call_value_hooks(text, flag);
    print_hooks::last_newline = flag;
    unset_result();
}

void print(const i32*) {
    output(true);
}
void prin(const i32*) {
    output(false);
}

// ---- now and wait ---------------------------------------------------------------------------

namespace now_ref {
enum : u32 { year, month, day, time, zone, date, weekday, yearday, precise, utc };
}

i64 floor_mod7(i64 n) {
    return ((n % 7) + 7) % 7;
}

void now(const i32* refs) {
    auto given = [&](u32 r) { return refs[r] >= 0; };
    u32 fields = 0;
    for (u32 r = now_ref::year; r <= now_ref::precise; r++) fields += given(r) ? 1 : 0;
    bool time_precise = fields == 2 && given(now_ref::time) && given(now_ref::precise);
    if (fields >= 2 && !time_precise) error::raise(err::E("script", "bad-refines"));

    os::moment m = os::current_moment(given(now_ref::utc), given(now_ref::precise));
    u32 p = m.packed_date;
    u32 zone = date::packed::zone(p);
    i32 days = date::day_number_of(p);
    cell* result = arg(0);
    result->header = 0;
    if (given(now_ref::year))
        init_integer(result, date::packed::year(p));
    else if (given(now_ref::month))
        init_integer(result, date::packed::month(p));
    else if (given(now_ref::day))
        init_integer(result, date::packed::day(p));
    else if (given(now_ref::time))
        time::init_cell(result, date::to_local_time(m.stored_time, zone));
    else if (given(now_ref::zone))
        time::init_cell(result, date::zone_offset(zone));
    else if (given(now_ref::date))
        date::init_cell(result, p & ~date::packed::zone_mask, 0.0);
    else if (given(now_ref::weekday))
        init_integer(result, static_cast<i32>(floor_mod7(i64(days) + 2) + 1));
    else if (given(now_ref::yearday))
        init_integer(result, days - date::day_number(date::packed::year(p), 1, 1) + 1);
    else
        date::init_cell(result, p | date::packed::has_time, m.stored_time);
    stack::top = stack::arguments + 1;
}

void wait(const i32*) {
    cell* value = arg(0);
    double seconds;
    switch (type_of(value)) {
    case type_id::integer:
        seconds = int_of(value);
        break;
    case type_id::float_:
    case type_id::time:
        seconds = float_of(value);
        break;
    default:
        error::raise(err::E("script", "invalid-arg"), value);
    }
    os::sleep_seconds(seconds);
    // While a text UI runs, waiting lets it take its input and repaint.
    tui::process_events_once();
    none_result();
}

// ---- the environment ------------------------------------------------------------------------

// The variable name of a word (its text as written) or of a string (its bytes as the OS has
// them).
std::string variable_name(const cell* var) {
    if (is_any_word_type(type_of(var))) return symbol::text(var->w2);
    return utf8::encode_string(var, -1, utf8::flag::lossless);
}

void get_env(const i32*) {
    std::optional<std::string> value = os::env_var(variable_name(arg(0)));
    if (!value || value->empty()) return none_result();
    cell made;
    utf8::decode_to_new_string(&made, reinterpret_cast<const u8*>(value->data()),
                               static_cast<u32>(value->size()), utf8::flag::lossless);
    single_result(made);
}

void set_env(const i32*) {
    std::string name = variable_name(arg(0));
    bool done;
    if (is_none(arg(1))) {
        done = os::put_env_var(name, nullptr);
    } else {
        std::string text = utf8::encode_string(arg(1), -1, utf8::flag::lossless);
        std::string_view view(text);
        done = os::put_env_var(name, &view);
    }
    // The OS takes no name with "=" or NUL and no value with NUL: say so instead of going on as
    // if the variable had been set.
    if (!done) error::raise(err::E("script", "invalid-arg"), arg(0));
    *arg(0) = *arg(1);
    stack::top = stack::arguments + 1;
}

void list_env(const i32*) {
    cell* map = os::push_env_map();
    single_result(*map);
}

// ---- memory ---------------------------------------------------------------------------------

void stats(const i32* refs) {
    bool show = refs[0] >= 0;
    bool info = refs[1] >= 0;
    if (!show && !info) return single_result(memory::usage_stats(nullptr, 1));
    cell* details = block::push_new(5);
    memory::usage_stats(details, show ? 3 : 2);
    if (!show) return single_result(*details);
    u32 name = symbol::intern_text("show-memory-stats");
    i32 slot = context::find_symbol_index(context::global_node(), name, true);
    const cell* fn = slot >= 0 ? context::values_base(context::global_node()) + slot : nullptr;
    u32 t = fn ? type_of(fn) : type_id::unset;
    if (t != type_id::function && t != type_id::native && t != type_id::action &&
        t != type_id::routine) {
        cell word{type_id::word, 0, name, context::unbound};
        error::raise(err::E("script", "no-value"), &word);
    }
    cell callable = *fn;
    cell* at = stack::push_value(&callable);
    stack::push_value(details);
    interp::call_with_arguments(at, 1);
    if (interp::pending) return;
    unset_result();
}

void recycle(const i32* refs) {
    bool on = refs[0] >= 0;
    bool off = refs[1] >= 0;
    if (on || off) {
        gc::active = on;
        return unset_result();
    }
    gc::run_collection();
    single_result(memory::usage_stats(nullptr, 1));
}

// ---- new-line markers -----------------------------------------------------------------------

void new_line(const i32* refs) {
    cell* position = arg(0);
    bool mark = is_truthy(arg(1));
    bool all = refs[0] >= 0;
    bool skip = refs[1] >= 0;
    i32 size = 1;
    if (skip) {
        size = int_of(arg(static_cast<u32>(refs[1])));
        if (size <= 0)
            error::raise(err::E("script", "out-of-range"), arg(static_cast<u32>(refs[1])));
    }
    series_buffer* b = buffer_of(position->w2);
    u32 length = used_units(b);
    u32 first = position->w1 < length ? position->w1 : length;
    cell* cells = head_cell(b);
    if (skip || all) {
        for (u32 i = first; i < length; i++) {
            bool on = (i - first) % static_cast<u32>(size) == 0 ? mark : !mark;
            cell_ops::set_newline(cells + i, on);
        }
    } else if (first < length) {
        cell_ops::set_newline(cells + first, mark);
    }
    stack::top = stack::arguments + 1;
}

void new_line_q(const i32*) {
    cell* position = arg(0);
    series_buffer* b = buffer_of(position->w2);
    bool on = position->w1 < used_units(b) && cell_ops::has_newline(head_cell(b) + position->w1);
    init_logic(arg(0), on);
    stack::top = stack::arguments + 1;
}

const families::entry table[] = {
    {"print", print},
    {"prin", prin},
    {"now", now},
    {"wait", wait},
    {"get-env", get_env},
    {"set-env", set_env},
    {"list-env", list_env},
    {"stats", stats},
    {"recycle", recycle},
    {"new-line", new_line},
    {"new-line?", new_line_q},
};
} // namespace

std::span<const families::entry> families::system() {
    return table;
}

} // namespace zel::natives
