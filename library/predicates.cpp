// The type predicates: one routine per datatype that compares the argument's type id with a
// constant, and one per named typeset that tests the argument's type in the typeset its word
// holds at the time of the call.
#include <array>
#include <string>
#include <string_view>

#include "datatypes/context.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "library/routine_table.hpp"
#include "runtime/errors.hpp"

namespace zel::routines {

namespace {

constexpr std::string_view single_doc = "Returns true if the value is this type";

template <u32 T> void is_type() {
    answer_logic(type_of(stack::arg(0)) == T);
}

struct single {
    std::string_view name;
    routine::entry fn;
};
// In binding order.
const single singles[] = {
    {"bitset?", is_type<type_id::bitset>},     {"binary?", is_type<type_id::binary>},
    {"block?", is_type<type_id::block>},       {"char?", is_type<type_id::char_>},
    {"email?", is_type<type_id::email>},       {"file?", is_type<type_id::file>},
    {"float?", is_type<type_id::float_>},      {"get-path?", is_type<type_id::get_path>},
    {"get-word?", is_type<type_id::get_word>}, {"hash?", is_type<type_id::hash>},
    {"integer?", is_type<type_id::integer>},   {"issue?", is_type<type_id::issue>},
    {"lit-path?", is_type<type_id::lit_path>}, {"lit-word?", is_type<type_id::lit_word>},
    {"logic?", is_type<type_id::logic>},       {"map?", is_type<type_id::map>},
    {"none?", is_type<type_id::none>},         {"pair?", is_type<type_id::pair>},
    {"paren?", is_type<type_id::paren>},       {"path?", is_type<type_id::path>},
    {"percent?", is_type<type_id::percent>},   {"refinement?", is_type<type_id::refinement>},
    {"set-path?", is_type<type_id::set_path>}, {"set-word?", is_type<type_id::set_word>},
    {"string?", is_type<type_id::string>},     {"tag?", is_type<type_id::tag>},
    {"time?", is_type<type_id::time>},         {"typeset?", is_type<type_id::typeset>},
    {"tuple?", is_type<type_id::tuple>},       {"unset?", is_type<type_id::unset>},
    {"url?", is_type<type_id::url>},           {"word?", is_type<type_id::word>},
    {"image?", is_type<type_id::image>},       {"date?", is_type<type_id::date>},
    {"money?", is_type<type_id::money>},       {"ref?", is_type<type_id::ref>},
    {"point2D?", is_type<type_id::point2d>},   {"point3D?", is_type<type_id::point3d>},
    {"handle?", is_type<type_id::handle>},     {"error?", is_type<type_id::error>},
    {"action?", is_type<type_id::action>},     {"native?", is_type<type_id::native>},
    {"datatype?", is_type<type_id::datatype>}, {"function?", is_type<type_id::function>},
    {"object?", is_type<type_id::object>},     {"op?", is_type<type_id::op>},
    {"routine?", is_type<type_id::routine>},   {"vector?", is_type<type_id::vector>},
};

// The typeset predicates, in binding order, with the word each one reads.
constexpr std::string_view typeset_words[] = {
    "any-list!",   "any-block!", "any-function!", "any-object!", "any-path!",
    "any-string!", "any-word!",  "series!",       "number!",     "immediate!",
    "scalar!",     "all-word!",  "any-point!",    "planar!",
};
constexpr u32 typeset_count = sizeof typeset_words / sizeof typeset_words[0];
std::array<u32, typeset_count> typeset_slots{}; // global-context slots: keys are never moved

template <u32 I> void in_typeset() {
    cell* value = context::values_base(context::global_node()) + typeset_slots[I];
    // A typeset word rebound to another kind of value holds no bit map to read.
    if (!is(value, type_id::typeset)) {
        cell type;
        init_datatype(&type, type_of(value));
        error::raise(err::E("script", "invalid-type"), &type);
    }
    answer_logic(typeset_has(value, type_of(stack::arg(0))));
}

template <u32... I>
constexpr std::array<routine::entry, sizeof...(I)>
typeset_entries(std::integer_sequence<u32, I...>) {
    return {in_typeset<I>...};
}
const auto typeset_fns = typeset_entries(std::make_integer_sequence<u32, typeset_count>{});

} // namespace

void bind_type_predicates() {
    std::string spec;
    for (const single& s : singles) {
        spec = "[\"" + std::string(single_doc) + "\" value [any-type!]]";
        bind_globals(
            std::span<const definition>(std::array<definition, 1>{definition{s.name, spec, s.fn}}));
    }
    for (u32 i = 0; i < typeset_count; i++) {
        std::string_view word = typeset_words[i];
        cell w = context::global_word(symbol::intern_text(word));
        typeset_slots[i] = w.w3;
        // "any-list!" -> "any-list?", and the doc names the typeset without its "!".
        std::string name(word.substr(0, word.size() - 1));
        spec = "[\"Returns true if the value is any type of " + name + "\" value [any-type!]]";
        name += '?';
        bind_globals(std::span<const definition>(
            std::array<definition, 1>{definition{name, spec, typeset_fns[i]}}));
    }
}

} // namespace zel::routines
