// Evaluating source text in tests.
#include "tests/unit/evaluator/eval_fixture.hpp"

#include <string>
#include <utility>

#include "datatypes/context.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/load_text.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cycle_stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"

namespace zel::test {

namespace {

cell read_text(std::string_view text) {
    cell out{type_id::none, 0, 0, 0};
    if (!load_text::block_from_text(text, &out))
        ADD_FAILURE() << "the test source does not load: " << text;
    return out;
}

bool has_value(std::string_view name) {
    cell word = word::intern_literal(name);
    cell* v = context::word_value_address(&word);
    return !is_unset(v);
}

// The words the tests lean on that the standard library defines.
void define_constants() {
    const std::pair<const char*, cell> constants[] = {
        {"true", cell{type_id::logic, 1, 0, 0}},
        {"false", cell{type_id::logic, 0, 0, 0}},
        {"none", cell{type_id::none, 0, 0, 0}},
    };
    for (const auto& [name, value] : constants) {
        if (has_value(name)) continue;
        cell word = word::intern_literal(name);
        context::set_word_value(&word, &value);
    }
    // The type sets that the natives' specs name (the library makes them typeset! values).
    namespace t = type_id;
    const std::initializer_list<u32> words{t::word,     t::set_word,   t::lit_word,
                                           t::get_word, t::refinement, t::issue};
    const std::initializer_list<u32> paths{t::path, t::set_path, t::get_path, t::lit_path};
    const std::initializer_list<u32> lists{t::block, t::paren, t::hash};
    const std::initializer_list<u32> strings{t::string, t::file, t::url, t::tag, t::email, t::ref};
    const std::initializer_list<u32> others{t::binary, t::vector, t::image};
    const std::initializer_list<u32> scalars{t::char_,   t::integer, t::float_, t::pair,
                                             t::percent, t::tuple,   t::time,   t::date,
                                             t::money,   t::point2d, t::point3d};
    struct typeset_definition {
        const char* name;
        std::initializer_list<std::initializer_list<u32>> members;
    };
    const typeset_definition typesets[] = {
        {"any-word!", {words}},
        {"any-path!", {paths}},
        {"any-list!", {lists}},
        {"any-block!", {lists, paths}},
        {"any-string!", {strings}},
        {"series!", {lists, paths, strings, others}},
        {"any-function!", {{t::native, t::action, t::op, t::function, t::routine}}},
        {"any-object!", {{t::object, t::error, t::port}}},
        {"any-point!", {{t::point2d, t::point3d}}},
        {"number!", {{t::integer, t::float_, t::percent}}},
        {"scalar!", {scalars}},
    };
    for (const typeset_definition& d : typesets) {
        cell ts{type_id::typeset, 0, 0, 0};
        for (const auto& group : d.members)
            for (u32 member : group) typeset_set(&ts, member);
        cell word = word::intern_literal(d.name);
        if (is(context::word_value_address(&word), type_id::typeset)) continue;
        context::set_word_value(&word, &ts);
    }
    cell any_type{type_id::typeset, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    cell word = word::intern_literal("any-type!");
    if (!is(context::word_value_address(&word), type_id::typeset))
        context::set_word_value(&word, &any_type);
}

struct op_definition {
    const char* name;
    const char* source;
};
const op_definition operators[] = {
    {"+", "add"},
    {"-", "subtract"},
    {"*", "multiply"},
    {"/", "divide"},
    {"=", "equal?"},
    {"<>", "not-equal?"},
    {"==", "strict-equal?"},
    {"<", "lesser?"},
    {">", "greater?"},
    {"<=", "lesser-or-equal?"},
    {">=", "greater-or-equal?"},
    {"//", "remainder"},
};

void define_operators() {
    static bool defined = false;
    if (defined) return;
    defined = true;
    for (const op_definition& d : operators) {
        if (has_value(d.name)) continue;
        cell source = word::intern_literal(d.source);
        cell* fn = context::word_value_address(&source);
        cell op_type;
        init_datatype(&op_type, type_id::op);
        cell* proto = stack::push_value(&op_type);
        stack::push_value(fn);
        auto make = act::handler<act::slot::make>(type_id::op);
        cell* made = make(proto, proto + 1, type_id::op);
        cell word = word::intern_literal(d.name);
        context::set_word_value(&word, made);
        stack::top = proto;
    }
}

outcome evaluate(const cell& block) {
    outcome o;
    cell* base = stack::top;
    stack::mark mark = stack::save();
    u32 depth = cycle_stack::depth();
    try {
        cell* slot = stack::push_value(&block);
        interp::evaluate_block(slot, false);
        o.value = stack::top[-1];
        o.pending = interp::pending;
    } catch (const unwind& u) {
        stack::restore(mark);
        if (cycle_stack::depth() > depth) cycle_stack::drop_nodes(cycle_stack::depth() - depth);
        o.raised = u.code == throw_code::error;
        o.error_code = error::last_code();
    }
    interp::pending = 0;
    stack::top = base;
    return o;
}

} // namespace

cell load(std::string_view text) {
    return read_text(text);
}

outcome run(std::string_view text) {
    static bool ready = false;
    if (!ready) {
        ready = true;
        define_constants();
        define_operators();
    }
    cell block = read_text(text);
    return evaluate(block);
}

std::string mold(const cell* value) {
    // The value first: making the buffer may collect.
    cell* base = stack::top;
    cell* held = stack::push_value(value);
    cell buffer;
    string::init_cell_bytes(&buffer, 16);
    cell* out = stack::push_value(&buffer);
    actions::mold_typed(held, out, false, false, false, nullptr, 1 << 30, 0);
    std::string text = utf8::encode_string(out);
    stack::top = base;
    return text;
}

::testing::AssertionResult gives(std::string_view text, std::string_view molded) {
    outcome o = run(text);
    if (o.raised) return ::testing::AssertionFailure() << text << " raised error " << o.error_code;
    if (o.pending)
        return ::testing::AssertionFailure() << text << " left exit " << std::hex << o.pending;
    std::string got = mold(&o.value);
    if (got != molded)
        return ::testing::AssertionFailure() << text << " gave " << got << ", wanted " << molded;
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult gives_type(std::string_view text, u32 type) {
    outcome o = run(text);
    if (o.raised) return ::testing::AssertionFailure() << text << " raised error " << o.error_code;
    if (type_of(&o.value) != type)
        return ::testing::AssertionFailure() << text << " gave type " << type_of(&o.value);
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult raises(std::string_view text, err::id id) {
    outcome o = run(text);
    if (!o.raised) return ::testing::AssertionFailure() << text << " raised nothing";
    if (o.error_code != id.code())
        return ::testing::AssertionFailure()
               << text << " raised " << o.error_code << ", wanted " << id.code();
    return ::testing::AssertionSuccess();
}

} // namespace zel::test
