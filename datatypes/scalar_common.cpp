// Services shared by the one-cell value types.
#include "datatypes/scalar_common.hpp"

#include <cmath>

#include "datatypes/context.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "lexer/lexer.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"

namespace zel::scalar {

i32 truncate_checked(double d, const cell* culprit) {
    if (!std::isfinite(d)) {
        cell f;
        if (!culprit) culprit = init_float(&f, d);
        error::raise(err::E("script", "invalid-arg"), culprit);
    }
    if (!(d > -2147483649.0 && d < 2147483648.0)) {
        cell t;
        init_datatype(&t, type_id::integer);
        error::raise(err::E("script", "type-limit"), &t);
    }
    return static_cast<i32>(d);
}

void raise_bad_to(u32 type, const cell* spec) {
    cell t;
    init_datatype(&t, type);
    error::raise(err::E("script", "bad-to-arg"), &t, spec);
}

void raise_malconstruct(const cell* spec) { error::raise(err::E("syntax", "malconstruct"), spec); }

bool scan_as(const cell* text, u32 type, cell* out) {
    cell source = *text;
    cell loaded{};
    // Keep the source reachable while the lexer allocates.
    cell* base = stack::push_value(&source);
    if (!is(&source, type_id::string)) cell_ops::write_type(base, type_id::string);
    source = *base;
    lexer::transcode_string(&loaded, &source, -1, lexer::scan_options{}, nullptr);
    stack::top = base;
    if (!is(&loaded, type_id::block)) return false;
    series_buffer* b = buffer_of(loaded.w2);
    if (used_units(b) - loaded.w1 != 1) return false;
    const cell* v = head_cell(b) + loaded.w1;
    if (type_of(v) != type) return false;
    *out = *v;
    return true;
}

bool word_is(const cell* word, std::string_view name) {
    if (!is_any_word_type(type_of(word))) return false;
    std::string_view t = symbol::text_view(word->w2);
    if (t.size() != name.size()) return false;
    for (std::size_t i = 0; i < t.size(); i++) {
        char c = t[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c != name[i]) return false;
    }
    return true;
}

u32 axis_of(const cell* element, u32 count) {
    if (is(element, type_id::integer)) {
        i32 n = int_of(element);
        return n >= 1 && static_cast<u32>(n) <= count ? static_cast<u32>(n) : 0;
    }
    if (!is(element, type_id::word)) return 0;
    static constexpr std::string_view names[3] = {"x", "y", "z"};
    for (u32 i = 0; i < count; i++)
        if (word_is(element, names[i])) return i + 1;
    return 0;
}

void store_back(const cell* changed, const path_step& step) {
    if (!step.previous) return;
    bool from_word = step.position == 0 || !step.owner || is_none(step.owner);
    if (from_word) {
        // The first element: the word whose value the path started from.
        if (!is_any_word_type(type_of(step.previous))) return;
        cell word = *step.previous;
        context::set_word_value(&word, changed);
        return;
    }
    auto set = act::handler<act::slot::eval_path>(type_of(step.owner));
    if (!set) return;
    path_step up;
    up.path = step.path;
    up.position = step.position - 1;
    up.case_ = step.case_;
    up.last = true;
    up.owner_check = true;
    cell owner = *step.owner;
    cell element = *step.previous;
    cell value = *changed;
    set(&owner, &element, &value, up);
}

bool is_word_for(const cell* element, u32 symbol) {
    return type_of(element) == type_id::word &&
           symbol::canonical_id(element->w2) == symbol::canonical_id(symbol);
}

} // namespace zel::scalar
