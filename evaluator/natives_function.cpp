// Function-making natives: func, function, does, has.
#include "datatypes/block_copy.hpp"
#include "datatypes/function.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/native_families.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"

namespace zel::natives {

namespace {
using stack::arg;

void clamp(cell* block) {
    u32 len = used_units(buffer_of(block->w2));
    if (block->w1 > len) block->w1 = len;
}

void func(const i32*) {
    cell* spec = arg(0);
    cell* body = arg(1);
    clamp(spec);
    clamp(body);
    u32 flags = function::check_spec(spec);
    function::build_value(spec, body, 0, 0, flags);
    *arg(0) = *stack::top_value();
    stack::top = stack::arguments + 1;
}

// The values after /extern name the external words; one that cannot be a word of a spec is
// refused before anything is collected.
void check_extern(const cell* spec) {
    u32 n = used_units(buffer_of(spec->w2));
    u32 external = symbol::canonical_id(sym::extern_);
    bool after = false;
    for (u32 i = spec->w1; i < n; i++) {
        cell e = head_cell(buffer_of(spec->w2))[i];
        u32 t = type_of(&e);
        if (!after) {
            after = t == type_id::refinement && symbol::canonical_id(e.w2) == external;
            continue;
        }
        bool fits = (t >= type_id::word && t <= type_id::refinement) || t == type_id::block ||
                    t == type_id::string;
        if (!fits) error::raise(err::E("script", "bad-func-extern"), &e);
    }
}

void function_native(const i32*) {
    cell* spec = arg(0);
    clamp(spec);
    check_extern(spec);
    *spec = block_copy::shallow(spec);
    function::gather_spec_words(spec, arg(1));
    func(nullptr);
}

void does(const i32*) {
    *arg(1) = *arg(0);
    cell empty{type_id::block, 0, memory::new_cell_series(1), 0};
    *arg(0) = empty;
    stack::top = stack::arguments + 2;
    func(nullptr);
}

void has(const i32*) {
    cell* vars = arg(0);
    clamp(vars);
    u32 n = used_units(buffer_of(vars->w2)) - vars->w1;
    cell spec{type_id::block, 0, memory::new_cell_series(n + 1), 0};
    cell* holder = stack::push_value(&spec);
    *memory::append_cell_slot(holder) = cell{type_id::refinement, 0, sym::local, 0};
    for (u32 i = 0; i < n; i++)
        *memory::append_cell_slot(holder) = head_cell(buffer_of(arg(0)->w2))[arg(0)->w1 + i];
    *arg(0) = *holder;
    stack::top = stack::arguments + 2;
    func(nullptr);
}

const families::entry table[] = {
    {"func", func},
    {"function", function_native},
    {"does", does},
    {"has", has},
};
} // namespace

std::span<const families::entry> families::functions() {
    return table;
}

} // namespace zel::natives
