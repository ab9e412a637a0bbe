// The word family.
#include "datatypes/word.hpp"

#include "datatypes/basic.hpp"
#include "datatypes/context.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/text_out.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "lexer/scan_hook.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"

namespace zel::word {

namespace cop = actions::compare_op;

cell intern_literal(std::string_view text) {
    return context::global_word_for(symbol::intern_text(text), true, true);
}

cell* init_cell_global(u32 symbol, cell* target) {
    cell w = context::global_word(symbol);
    target->header = (target->header & ~0xFFu) | type_id::word;
    target->w1 = w.w1;
    target->w2 = w.w2;
    target->w3 = w.w3;
    return target;
}

cell* push_global_word(u32 symbol) {
    cell w = context::global_word(symbol);
    return stack::push_value(&w);
}

cell* push_copy(const cell* word) { return stack::push_value(word); }

cell* key_word_at(u32 ctx, u32 index) { return context::key_word(ctx, index); }

cell* push_key_at(u32 ctx, u32 index, u32 type) {
    cell w = *context::key_word(ctx, index);
    cell_ops::write_type(&w, type);
    return stack::push_value(&w);
}

cell lookup_in_context(u32 ctx, u32 symbol) {
    i32 slot = context::find_symbol_index(ctx, symbol, false);
    if (slot >= 0) return *context::key_word(ctx, static_cast<u32>(slot));
    return context::global_word_copy(symbol);
}

cell* push_value_checked(const cell* word) {
    cell* v = context::word_value_address(word);
    if (type_of(v) == type_id::unset) error::raise(err::E("script", "no-value"), word);
    return stack::push_value(v);
}

cell* value_address_at(u32 ctx, u32 index) { return context::values_base(ctx) + index; }

cell* push_value_at(u32 ctx, u32 index) {
    cell* base = context::values_base(ctx);
    if (!base) error::raise(err::E("script", "not-defined"), context::key_word(ctx, index));
    return stack::push_value(base + index);
}

void set_from_second_arg() {
    cell* word = stack::arg(0);
    cell* value = stack::arg(1);
    if (type_of(value) == type_id::unset) error::raise(err::E("script", "need-value"), word);
    cell w = *word;
    context::set_word_value(&w, value);
    *stack::arg(0) = *value;
}

void set_at_from_top(u32 ctx, u32 index) {
    if (context::kind_of(ctx) == context::kind::object)
        context::key_word(ctx, index)->header |= cell_flag::changed_key;
    context::values_base(ctx)[index] = *stack::top_value();
}

cell* push_symbol_string(const cell* word) {
    cell s{type_id::string, 0, symbol::cached_string(word->w2), 0};
    return stack::push_value(&s);
}

void intern_type_name(u32 type) {
    cell w = intern_literal(datatype::name_of(type));
    datatype::set_word(type, w);
    // The type's word names its datatype! value.
    cell value;
    init_datatype(&value, type);
    context::set_word_value(&w, &value);
}

cell refinement_from_literal(std::string_view text) {
    return cell{type_id::refinement, 0, symbol::intern_text(text), 0};
}

cell issue_from_literal(std::string_view text) {
    return cell{type_id::issue, context::global_node(), symbol::intern_text(text),
                context::unbound};
}

namespace {
[[noreturn]] void bad_to(u32 target, cell* value) {
    cell t;
    init_datatype(&t, target);
    error::raise(err::E("script", "bad-to-arg"), &t, value);
}

bool is_word_kind(u32 t) { return t >= type_id::word && t <= type_id::issue; }

// A one-character string for a char!.
cell char_string(const cell* c) {
    cell s;
    string::init_cell_bytes(&s, 4);
    string::append_codepoint(buffer_of(s.w2), c->w2);
    return s;
}

cell* finish(cell* proto, cell value, u32 type) {
    value.header = type;
    *proto = value;
    return proto;
}

cell* to(cell* proto, cell* spec, u32 type) {
    switch (type_of(spec)) {
    case type_id::datatype: {
        const cell* w = datatype::word_of(spec->w1);
        if (!w) bad_to(type, spec);
        return finish(proto, *w, type);
    }
    case type_id::logic:
        return finish(proto, context::global_word(spec->w1 ? sym::true_ : sym::false_), type);
    case type_id::char_:
    case type_id::string: {
        cell text = type_of(spec) == type_id::char_ ? char_string(spec) : *spec;
        cell scanned;
        if (!scan_hook::value_from_string(&text, &scanned) || !is_word_kind(type_of(&scanned)))
            error::raise(err::E("script", "invalid-chars"));
        return finish(proto, scanned, type);
    }
    case type_id::word:
    case type_id::set_word:
    case type_id::lit_word:
    case type_id::get_word: return finish(proto, *spec, type);
    case type_id::refinement:
    case type_id::issue: {
        cell text{type_id::string, 0, symbol::cached_string(spec->w2), 0};
        cell scanned;
        if (scan_hook::value_from_string(&text, &scanned)) {
            u32 t = type_of(&scanned);
            if (t >= type_id::word && t <= type_id::get_word) {
                scanned.w1 = context::global_node();
                scanned.w3 = context::unbound;
                context::bind_one_word(context::global_node(), &scanned);
                return finish(proto, scanned, type);
            }
        }
        bad_to(type, spec);
    }
    default: bad_to(type, spec);
    }
}

cell* issue_to(cell* proto, cell* spec, u32 type) {
    u32 t = type_of(spec);
    if (is_word_kind(t)) return finish(proto, *spec, type);
    if (t == type_id::string || t == type_id::char_) {
        cell text = t == type_id::char_ ? char_string(spec) : *spec;
        u32 symbol = symbol::intern_string(&text);
        return finish(proto, cell{0, context::global_node(), symbol, context::unbound}, type);
    }
    return to(proto, spec, type);
}

i32 form(cell* value, cell* buffer, cell* part, i32 limit) {
    cell text{type_id::string, 0, symbol::cached_string(value->w2), 0};
    i32 length = static_cast<i32>(string::units_from_head(&text));
    i32 cut = -1;
    if (part && type_of(part) == type_id::integer) cut = limit < 0 ? 0 : limit;
    string::append_text_part(buffer, &text, cut, true);
    return limit - length;
}

i32 mold_plain(cell* value, cell* buffer, bool, bool, bool, cell* part, i32 limit, i32) {
    return form(value, buffer, part, limit);
}

template <char Marker>
i32 mold_marked(cell* value, cell* buffer, bool, bool, bool, cell* part, i32 limit, i32) {
    out::codepoint(buffer, static_cast<u8>(Marker), limit);
    return form(value, buffer, part, limit - 1);
}

i32 mold_set_word(cell* value, cell* buffer, bool, bool, bool, cell* part, i32 limit, i32) {
    i32 left = form(value, buffer, part, limit);
    out::codepoint(buffer, ':', left);
    return left - 1;
}

i32 compare_texts(cell* a, cell* b, i32 op) {
    cell ta{type_id::string, 0, symbol::cached_string(a->w2), 0};
    cell tb{type_id::string, 0, symbol::cached_string(b->w2), 0};
    return string::compare_texts(&ta, &tb, static_cast<u32>(op), false);
}

i32 compare(cell* a, cell* b, i32 op) {
    u32 ta = type_of(a), tb = type_of(b);
    if ((tb == type_id::issue && ta != type_id::issue) || !is_word_kind(tb)) return -2;
    auto canon = [](const cell* c) { return symbol::canonical_id(c->w2); };
    auto word_lit = [&] {
        return (ta == type_id::word && tb == type_id::lit_word) ||
               (ta == type_id::lit_word && tb == type_id::word);
    };
    switch (op) {
    case cop::equal:
    case cop::find: return canon(a) == canon(b) ? 0 : 1;
    case cop::not_equal: return canon(a) == canon(b) ? 0 : 1;
    case cop::strict_equal: return (ta == tb && a->w2 == b->w2) ? 0 : 1;
    case cop::same: return (ta == tb && a->w2 == b->w2 && a->w1 == b->w1) ? 0 : 1;
    case cop::equal_10:
        if (word_lit()) return a->w2 == b->w2 ? 0 : 1;
        return (ta == tb && a->w2 == b->w2) ? 0 : 1;
    case cop::equal_11:
        if (word_lit()) return canon(a) == canon(b) ? 0 : 1;
        return (ta == tb && canon(a) == canon(b)) ? 0 : 1;
    default: return compare_texts(a, b, op);
    }
}

i32 issue_compare(cell* a, cell* b, i32 op) {
    if (type_of(b) != type_id::issue) return -2;
    return compare(a, b, op);
}

void index_of() {
    cell* w = stack::arg(0);
    if (w->w3 == context::unbound) init_none(w);
    else init_integer(w, static_cast<i32>(w->w3) + 1);
}
} // namespace

void register_types() {
    datatype::register_row(action_row{.type = type_id::word,
                                      .parent = type_id::symbol,
                                      .name = "word!",
                                      .make = to,
                                      .to = to,
                                      .form = form,
                                      .mold = mold_plain,
                                      .compare = compare,
                                      .index_q = index_of});
    auto kind_row = [](u32 type, const char* name, act::mold_fn mold, bool index) {
        action_row row{};
        row.type = type;
        row.parent = type_id::word;
        row.name = name;
        row.make = act::inherit;
        row.to = act::inherit;
        row.form = act::inherit;
        row.mold = mold;
        row.compare = act::inherit;
        if (index) row.index_q = act::inherit;
        datatype::register_row(row);
    };
    kind_row(type_id::lit_word, "lit-word!", mold_marked<'\''>, true);
    kind_row(type_id::set_word, "set-word!", mold_set_word, true);
    kind_row(type_id::get_word, "get-word!", mold_marked<':'>, true);
    kind_row(type_id::refinement, "refinement!", mold_marked<'/'>, false);
}

void register_issue() {
    action_row row{};
    row.type = type_id::issue;
    row.parent = type_id::word;
    row.name = "issue!";
    row.make = issue_to;
    row.to = issue_to;
    row.form = act::inherit;
    row.mold = mold_marked<'#'>;
    row.compare = issue_compare;
    datatype::register_row(row);
}

} // namespace zel::word
