// Conditional natives: if, unless, either, any, all, switch and case. They choose what to
// evaluate; a non-local exit raised inside a branch leaves them at once.
#include "datatypes/basic.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/native_families.hpp"
#include "evaluator/natives_common.hpp"
#include "runtime/memory.hpp"

namespace zel::natives {

namespace {
using stack::arg;

u32 length_of(const cell* block) {
    return used_units(buffer_of(block->w2));
}

// The truth test of either, while, until and case: an unset! value raises `no-return`.
bool checked_truth(const cell* value) {
    if (is_unset(value)) error::raise(err::E("script", "no-return"));
    return is_truthy(value);
}

// Evaluates a branch block into the result slot.
void run_branch(u32 which) {
    cell block = *arg(which);
    interp::evaluate_block(&block, true);
    keep_result();
}

void if_(const i32*) {
    if (!is_truthy(arg(0))) {
        init_none(arg(0));
        keep_result();
        return;
    }
    run_branch(1);
}

void unless(const i32*) {
    if (is_truthy(arg(0))) {
        init_none(arg(0));
        keep_result();
        return;
    }
    run_branch(1);
}

void either(const i32*) {
    run_branch(checked_truth(arg(0)) ? 1 : 2);
}

// any and all: one expression at a time; `want` is the truth that ends the walk.
void walk_conditions(bool want) {
    cell block = *arg(0);
    // The last value stays on the stack: the next expression may collect.
    cell* last = init_none(stack::reserve_slot());
    cell* base = stack::top;
    u32 index = block.w1;
    while (index < length_of(&block)) {
        stack::top = base;
        index = interp::reduce_one(&block, index, true);
        if (interp::pending) return;
        if (is_truthy(base) == want) {
            if (want)
                *arg(0) = *base;
            else
                init_none(arg(0));
            keep_result();
            return;
        }
        *last = *base;
    }
    if (want) init_none(last);
    *arg(0) = *last;
    keep_result();
}

void any(const i32*) {
    walk_conditions(true);
}
void all(const i32*) {
    walk_conditions(false);
}

void switch_(const i32* refs) {
    cell value = *arg(0);
    cell cases = *arg(1);
    u32 n = length_of(&cases);
    for (u32 i = cases.w1; i < n; i++) {
        cell candidate = head_cell(buffer_of(cases.w2))[i];
        if (type_of(&candidate) != type_of(&value)) continue;
        if (!actions::compare(&value, &candidate, actions::compare_op::equal)) continue;
        // Several values may share the first block that follows them.
        n = length_of(&cases);
        for (u32 k = i + 1; k < n; k++) {
            cell branch = head_cell(buffer_of(cases.w2))[k];
            if (type_of(&branch) != type_id::block) continue;
            interp::evaluate_block(&branch, true);
            keep_result();
            return;
        }
        break;
    }
    if (refs[0] >= 0) {
        run_branch(static_cast<u32>(refs[0]));
        return;
    }
    init_none(arg(0));
    keep_result();
}

void case_(const i32* refs) {
    bool every = refs[0] >= 0;
    cell cases = *arg(0);
    cell name = plain_word(sym::case_);
    stack::open_native_frame(&name);
    cell* result = init_none(stack::reserve_slot());
    cell* base = stack::top;
    u32 index = cases.w1;
    while (index < length_of(&cases)) {
        stack::top = base;
        index = interp::reduce_one(&cases, index, true);
        if (interp::pending) break;
        if (index >= length_of(&cases)) error::raise(err::E("script", "need-value"), &name);
        if (!checked_truth(base)) {
            index++; // the branch is skipped without being evaluated
            continue;
        }
        stack::top = base;
        cell next = head_cell(buffer_of(cases.w2))[index];
        if (type_of(&next) == type_id::block) {
            index++;
            interp::evaluate_block(&next, false);
        } else {
            index = interp::reduce_one(&cases, index, true);
        }
        if (interp::pending) break;
        *result = *base;
        if (!every) break;
    }
    stack::close_frame_pass_result();
    keep_result();
}

const families::entry table[] = {
    {"if", if_},  {"unless", unless},  {"either", either}, {"any", any},
    {"all", all}, {"switch", switch_}, {"case", case_},
};
} // namespace

std::span<const families::entry> families::control() {
    return table;
}

} // namespace zel::natives
