// Comparison, logic and set-operation natives. Comparisons go through the compare protocol of
// the generic actions, so each datatype answers for its own values; the set operations belong to
// the datatypes too and are only dispatched here.
#include "datatypes/basic.hpp"
#include "datatypes/bitset.hpp"
#include "datatypes/block.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/string.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/typeset.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/native_families.hpp"
#include "evaluator/natives_common.hpp"
#include "datatypes/date.hpp"
#include "runtime/memory.hpp"

namespace zel::natives {

namespace {
using stack::arg;
namespace cop = actions::compare_op;

template <i32 Op> void comparison(const i32*) {
    bool truth = actions::compare(arg(0), arg(1), Op);
    init_logic(arg(0), truth);
    keep_result();
}

bool same(cell* a, cell* b) {
    u32 t = type_of(a);
    if (t != type_of(b)) return false;
    switch (t) {
    case type_id::datatype:
    case type_id::logic:
    case type_id::object:
        return a->w1 == b->w1;
    case type_id::char_:
    case type_id::integer:
    case type_id::bitset:
        return a->w2 == b->w2;
    case type_id::float_:
    case type_id::percent:
    case type_id::pair:
    case type_id::time:
        return a->w2 == b->w2 && a->w3 == b->w3;
    case type_id::none:
    case type_id::unset:
        return true;
    case type_id::tuple:
    case type_id::money:
        return actions::compare(a, b, cop::strict_equal);
    case type_id::native:
    case type_id::action:
    case type_id::point2d:
        return a->w1 == b->w1 && a->w2 == b->w2;
    case type_id::op:
        return a->w2 == b->w2 && a->w3 == b->w3;
    default:
        break;
    }
    if (is_any_block_type(t) || is_any_string_type(t) || t == type_id::binary ||
        t == type_id::vector || t == type_id::image)
        return a->w1 == b->w1 && a->w2 == b->w2;
    return a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3;
}

void same_q(const i32*) {
    bool truth = same(arg(0), arg(1));
    init_logic(arg(0), truth);
    keep_result();
}

void not_(const i32*) {
    init_logic(arg(0), !is_truthy(arg(0)));
    keep_result();
}

void type_q(const i32* refs) {
    u32 t = type_of(arg(0));
    if (refs[0] >= 0) {
        const cell* word = datatype::word_of(t);
        if (word)
            *arg(0) = *word;
        else
            init_none(arg(0));
    } else {
        init_datatype(arg(0), t);
    }
    keep_result();
}

// ---- set operations ------------------------------------------------------------------------

namespace set_code {
constexpr u32 unique = 8, union_ = 9, intersect = 10, exclude = 11, difference = 12;
}

bool block_kind(u32 t) {
    return t == type_id::block || t == type_id::hash;
}

// The set operation of the datatypes; a type whose routine is not part of the build answers
// `not-done`.
void set_operation(u32 code, std::string_view native, const i32* refs) {
    bool case_ = refs[0] >= 0;
    cell* skip = refs[1] >= 0 ? arg(static_cast<u32>(refs[1])) : nullptr;
    u32 t1 = type_of(arg(0));
    if (code != set_code::unique) {
        u32 t2 = type_of(arg(1));
        bool compatible = block_kind(t1) ? block_kind(t2) : t1 == t2;
        if (!compatible) {
            cell a, b;
            init_datatype(&a, t1);
            init_datatype(&b, t2);
            error::raise(err::E("script", "expect-val"), &a, &b);
        }
    }
    switch (t1) {
    case type_id::block:
    case type_id::hash:
        block::set_operation(arg(0), code == set_code::unique ? arg(0) : arg(1), case_, skip, code);
        keep_result();
        return;
    case type_id::string: {
        cell result = *string::set_operation(case_, skip, static_cast<i32>(code));
        *arg(0) = result;
        keep_result();
        return;
    }
    case type_id::typeset:
        typeset::set_op(code);
        keep_result();
        return;
    case type_id::bitset: {
        cell result;
        bitset::logic_op(arg(0), code == set_code::unique ? arg(0) : arg(1), code, &result);
        *arg(0) = result;
        keep_result();
        return;
    }
    case type_id::date:
        if (code != set_code::difference) break;
        date::time_between(arg(0), arg(1));
        keep_result();
        return;
    default:
        break;
    }
    cell name = plain_word(symbol::intern_text(native));
    cell w = plain_word(symbol::intern_text(code == set_code::unique ? "set" : "set1"));
    cell type;
    init_datatype(&type, t1);
    error::raise(err::E("script", "expect-arg"), &name, &type, &w);
}

void union_(const i32* refs) {
    set_operation(set_code::union_, "union", refs);
}
void intersect(const i32* refs) {
    set_operation(set_code::intersect, "intersect", refs);
}
void unique(const i32* refs) {
    set_operation(set_code::unique, "unique", refs);
}
void difference(const i32* refs) {
    set_operation(set_code::difference, "difference", refs);
}
void exclude(const i32* refs) {
    set_operation(set_code::exclude, "exclude", refs);
}

void complement_q(const i32*) {
    cell* bits = arg(0);
    if (type_of(bits) != type_id::bitset) actions::raise_not_allowed(bits, 0);
    bool negated = buffer_of(bits->w2)->flags & 0x80000;
    init_logic(arg(0), negated);
    keep_result();
}

const families::entry table[] = {
    {"equal?", comparison<cop::equal>},
    {"not-equal?", comparison<cop::not_equal>},
    {"strict-equal?", comparison<cop::strict_equal>},
    {"lesser?", comparison<cop::lesser>},
    {"greater?", comparison<cop::greater>},
    {"lesser-or-equal?", comparison<cop::lesser_or_equal>},
    {"greater-or-equal?", comparison<cop::greater_or_equal>},
    {"same?", same_q},
    {"not", not_},
    {"type?", type_q},
    {"union", union_},
    {"intersect", intersect},
    {"unique", unique},
    {"difference", difference},
    {"exclude", exclude},
    {"complement?", complement_q},
};
} // namespace

std::span<const families::entry> families::comparison() {
    return table;
}

} // namespace zel::natives
