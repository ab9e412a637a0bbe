// The natives table. Each family of natives lives in a unit of its own; this unit holds the slot
// order, the spec texts and the registration that binds every native to its word.
#include "evaluator/natives.hpp"

#include "datatypes/context.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/native.hpp"
#include "evaluator/native_families.hpp"
#include "evaluator/stack.hpp"
#include "evaluator/load_text.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"

namespace zel::natives {

namespace {
struct named_spec {
    std::string_view name;
    std::string_view spec;
};
const named_spec specs[] = {
#include "evaluator/native_specs.inc"
};
constexpr u32 native_count = sizeof specs / sizeof specs[0];
static_assert(native_count == 107);

native_fn bodies[capacity] = {};
definition definitions[native_count];
bool built = false;

void build_table() {
    if (built) return;
    for (u32 i = 0; i < native_count; i++) {
        native_fn fn = families::lookup(specs[i].name);
        bodies[i] = fn ? fn : not_done;
        definitions[i] = {specs[i].name, specs[i].spec, bodies[i]};
    }
    built = true;
}
} // namespace

void not_done(const i32*) { error::raise(err::E("internal", "not-done")); }

native_fn entry(u32 slot) {
    build_table();
    return slot >= 1 && slot <= native_count ? bodies[slot - 1] : nullptr;
}

u32 count() { return native_count; }

const definition* definition_of(u32 slot) {
    build_table();
    return slot >= 1 && slot <= native_count ? &definitions[slot - 1] : nullptr;
}

void register_natives_table() {
    build_table();
    for (u32 i = 0; i < native_count; i++) {
        cell spec;
        if (!load_text::spec_from_text(specs[i].spec, &spec)) continue;
        cell* holder = stack::push_value(&spec);
        native_value::make_callable(type_id::native, i, holder);
        cell* value = stack::top_value();
        cell word = context::global_word(symbol::intern_text(specs[i].name));
        context::set_word_value(&word, value);
        stack::top = holder;
    }
}

} // namespace zel::natives
