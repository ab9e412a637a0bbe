// datatype!, unset!, none! and logic!.
#include "datatypes/basic.hpp"

#include "datatypes/registry.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/random.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"

namespace zel {

using actions::compare_op::find;
namespace cop = actions::compare_op;

namespace {
bool is_equality_op(i32 op) {
    return op == cop::equal || op == cop::not_equal || op == cop::strict_equal ||
           op == cop::same || op == cop::find;
}
// Equality ops plus the two sort orders.
bool is_plain_op(i32 op) { return is_equality_op(op) || op == cop::sort || op == cop::case_sort; }

i32 mold_keyword(cell* buffer, std::string_view word, bool all, i32 limit) {
    if (!all) return out::text(buffer, word, limit);
    limit = out::text(buffer, "#(", limit);
    limit = out::text(buffer, word, limit);
    return out::text(buffer, ")", limit);
}
} // namespace

// ---- datatype! ---------------------------------------------------------------------------

namespace datatype {

void append_to_block(cell* block, u32 type) { init_datatype(memory::append_cell_slot(block), type); }
cell* push_new(u32 type) { return init_datatype(stack::reserve_slot(), type); }

namespace {
i32 form(cell* value, cell* buffer, cell*, i32 limit) {
    return out::text(buffer, short_name(value->w1), limit);
}
i32 mold(cell* value, cell* buffer, bool, bool all, bool, cell*, i32 limit, i32) {
    if (!all) return out::text(buffer, name_of(value->w1), limit);
    limit = out::text(buffer, "#(", limit);
    limit = out::text(buffer, name_of(value->w1), limit);
    return out::text(buffer, ")", limit);
}
i32 compare(cell* a, cell* b, i32 op) {
    if (op != cop::equal && op != cop::not_equal && op != cop::strict_equal && op != cop::same &&
        op != cop::find)
        return -2;
    return (type_of(b) == type_id::datatype && b->w1 == a->w1) ? 0 : 1;
}
} // namespace

void register_type() {
    datatype::register_row(action_row{.type = type_id::datatype,
                            .parent = 0,
                            .name = "datatype!",
                            .form = form,
                            .mold = mold,
                            .compare = compare});
}
} // namespace datatype

// ---- unset! ------------------------------------------------------------------------------

namespace unset {
const cell value{type_id::unset, 0, 0, 0};

void set_result() { init_unset(stack::result()); }
void append_to_block(cell* block) { init_unset(memory::append_cell_slot(block)); }
cell* push_new() { return init_unset(stack::reserve_slot()); }

namespace {
cell* make(cell* proto, cell*, u32) { return init_unset(proto); }
i32 form(cell*, cell*, cell*, i32 limit) { return limit; }
i32 mold(cell*, cell* buffer, bool, bool all, bool, cell*, i32 limit, i32) {
    return mold_keyword(buffer, "unset", all, limit);
}
i32 compare(cell*, cell* b, i32 op) {
    if (type_of(b) != type_id::unset) return -2;
    return is_plain_op(op) ? 0 : -2;
}
} // namespace

void register_type() {
    datatype::register_row(action_row{.type = type_id::unset,
                            .parent = 0,
                            .name = "unset!",
                            .make = make,
                            .to = make,
                            .form = form,
                            .mold = mold,
                            .compare = compare});
}
} // namespace unset

// ---- none! -------------------------------------------------------------------------------

namespace none {
void set_result() { init_none(stack::result()); }
void append_to_block(cell* block) { init_none(memory::append_cell_slot(block)); }
cell* push_new() { return init_none(stack::reserve_slot()); }

namespace {
cell* make(cell* proto, cell*, u32) { return init_none(proto); }
i32 form(cell*, cell* buffer, cell*, i32 limit) { return out::text(buffer, "none", limit); }
i32 mold(cell*, cell* buffer, bool, bool all, bool, cell*, i32 limit, i32) {
    return mold_keyword(buffer, "none", all, limit);
}
i32 compare(cell*, cell* b, i32 op) {
    if (type_of(b) != type_id::none) return -2;
    return is_plain_op(op) ? 0 : -2;
}
void to_none(cell* series) { init_none(stack::result()); }
cell* find(cell* series, cell*, cell*, bool, bool, bool, bool, cell*, cell*, bool, bool, bool,
           bool) {
    return init_none(series);
}
i32 length(cell*) { return -1; }
void remove(cell* series, cell*, cell*) { init_none(stack::result()); }
cell* select(cell* series, cell*, cell*, bool, bool, bool, bool, cell*, cell*, bool, bool) {
    return init_none(series);
}
cell* take(cell* series, cell*, bool, bool) { return init_none(series); }
} // namespace

void register_type() {
    datatype::register_row(action_row{.type = type_id::none,
                            .parent = 0,
                            .name = "none!",
                            .make = make,
                            .to = make,
                            .form = form,
                            .mold = mold,
                            .compare = compare,
                            .clear = to_none,
                            .find = find,
                            .length_q = length,
                            .remove = remove,
                            .select = select,
                            .take = take});
}
} // namespace none

// ---- logic! ------------------------------------------------------------------------------

namespace logic {
const cell true_value{type_id::logic, 1, 0, 0};
const cell false_value{type_id::logic, 0, 0, 0};

void set_result(bool truth) { init_logic(stack::result(), truth); }
void append_to_block(cell* block, bool truth) {
    init_logic(memory::append_cell_slot(block), truth);
}
cell* push_new(bool truth) { return init_logic(stack::reserve_slot(), truth); }

bool value_is_true(const cell* value, bool check, const cell* word) {
    if (check && type_of(value) == type_id::unset) error::raise(err::E("script", "no-value"), word);
    return is_truthy(value);
}

bool result_is_true_checked() {
    cell* r = stack::result();
    if (type_of(r) == type_id::unset) error::raise(err::E("script", "no-return"));
    return is_truthy(r);
}

bool result_is_false() { return !is_truthy(stack::result()); }

bool top_is_true() { return is_truthy(stack::top > stack::arguments ? stack::top - 1 : stack::top); }

namespace {
cell* to(cell* proto, cell* spec, u32) {
    if (type_of(spec) == type_id::logic) return init_logic(proto, spec->w1 != 0);
    return init_logic(proto, type_of(spec) != type_id::none);
}
cell* make(cell* proto, cell* spec, u32 type) {
    switch (type_of(spec)) {
    case type_id::integer: return init_logic(proto, int_of(spec) != 0);
    case type_id::float_:
    case type_id::percent: return init_logic(proto, float_of(spec) != 0.0);
    default: return to(proto, spec, type);
    }
}
void random(cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(value->w1);
        init_unset(value);
        return;
    }
    i32 draw = secure ? random::secure_int() : random::next_uint32();
    init_logic(value, draw > 0x3FFFFFFF);
}
i32 form(cell* value, cell* buffer, cell*, i32 limit) {
    return out::text(buffer, value->w1 ? "true" : "false", limit);
}
i32 mold(cell* value, cell* buffer, bool, bool all, bool, cell*, i32 limit, i32) {
    return mold_keyword(buffer, value->w1 ? "true" : "false", all, limit);
}
i32 compare(cell* a, cell* b, i32 op) {
    if (type_of(b) != type_id::logic) return -2;
    if (!is_plain_op(op)) return -2;
    return static_cast<i32>(a->w1) - static_cast<i32>(b->w1);
}
void complement(cell* value) { value->w1 = value->w1 ? 0 : 1; }

template <int Op> void bitwise() {
    cell* a = stack::arg(0);
    cell* b = stack::arg(1);
    if (type_of(b) != type_id::logic) actions::raise_not_allowed(b, 1);
    if constexpr (Op == 0) a->w1 &= b->w1;
    if constexpr (Op == 1) a->w1 |= b->w1;
    if constexpr (Op == 2) a->w1 ^= b->w1;
}
} // namespace

void register_type() {
    datatype::register_row(action_row{.type = type_id::logic,
                            .parent = 0,
                            .name = "logic!",
                            .make = make,
                            .random = random,
                            .to = to,
                            .form = form,
                            .mold = mold,
                            .compare = compare,
                            .and_t = bitwise<0>,
                            .complement = complement,
                            .or_t = bitwise<1>,
                            .xor_t = bitwise<2>});
}
} // namespace logic

} // namespace zel
