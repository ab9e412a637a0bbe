// The interpreter.
#include "evaluator/interp.hpp"

#include <cstring>

#include "datatypes/basic.hpp"
#include "datatypes/context.hpp"
#include "datatypes/function.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/descriptor.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/stack.hpp"
#include "evaluator/trace.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/process.hpp"
#include "runtime/roots.hpp"

namespace zel::interp {

u32 pending = 0;
u32 code_node = 0;
u32 code_index = 0;

namespace {
cell* pending_value_slot = nullptr;
cell* pending_name_slot = nullptr;
constexpr u32 max_refinements = 64;

inline cell* code_at(u32 node, u32 index) { return head_cell(buffer_of(node)) + index; }
// Code and descriptors are cell series: their length is a shift, not a division by the unit.
inline u32 code_length(u32 node) {
    return used_bytes(buffer_of(node)) / static_cast<u32>(sizeof(cell));
}

// The value cell of a bound word, fast for the common case; the slow path raises.
inline cell* word_value(const cell* w) {
    if (w->w3 != context::unbound && w->w1) {
        cell* c = head_cell(buffer_of(w->w1));
        if (c->w2) {
            cell* base = (c->header & context::stack_flag)
                             ? arena::at<cell>(c->w2)
                             : reinterpret_cast<cell*>(data_start(buffer_of(c->w2)));
            return base + w->w3;
        }
    }
    return context::word_value_address(w);
}

inline bool is_callable_type(u32 t) {
    return t == type_id::native || t == type_id::action || t == type_id::function ||
           t == type_id::routine;
}

// Places an expression's value: pushed (it already lies at `at` with the top just above it), or
// made the current frame's result.
inline void emit(const cell* value, bool push, cell* at) {
    if (push) {
        if (value != at) *at = *value;
        stack::top = at + 1;
        if (stack::top >= stack::end) stack::overflow();
    } else {
        cell v = *value;
        stack::set_single_result(&v);
    }
}

cell anon_word() { return cell{type_id::word, 0, sym::anon, context::unbound}; }

// The push event of a value just pushed or made the result.
void trace_push(u32 node, u32 at, bool push, cell* start) {
    trace::send(trace::event::push, node, static_cast<i32>(at), push ? start : stack::result(),
                nullptr);
}
cell body_word() { return cell{type_id::word, 0, sym::body, context::unbound}; }

[[noreturn]] void raise_expect_arg(const cell* name, const cell* value, const cell* arg_word) {
    cell type;
    init_datatype(&type, type_of(value));
    cell w = *arg_word;
    w.header = type_id::word;
    error::raise(err::E("script", "expect-arg"), name, &type, &w);
}

// Fetches one argument described by (typeset, word) from the code at `index`; answers the index
// after it. The value is pushed.
u32 fetch_argument(const cell* name, const cell* typeset, const cell* arg_word, u32 node,
                   u32 index, bool no_infix, bool as_values = false) {
    u32 kind = as_values ? descriptor::kind::get : descriptor::kind_of(typeset);
    cell* slot = stack::top;
    if (index >= code_length(node)) {
        if (as_values) {
            init_none(stack::reserve_slot());
            return index;
        }
        if (kind == descriptor::kind::literal && typeset_has(typeset, type_id::unset)) {
            init_unset(stack::reserve_slot());
            return index;
        }
        cell w = *arg_word;
        w.header = type_id::word;
        error::raise(err::E("script", "no-arg"), name, &w);
    }
    switch (kind) {
    case descriptor::kind::get:
        stack::push_value(code_at(node, index));
        if (trace::on) {
            trace::send(trace::event::fetch, node, static_cast<i32>(index), slot, nullptr);
            trace::send(trace::event::push, node, static_cast<i32>(index), slot, nullptr);
        }
        index++;
        break;
    case descriptor::kind::literal: {
        cell v = *code_at(node, index);
        index++;
        u32 t = type_of(&v);
        if (t == type_id::paren) {
            cell anon = anon_word();
            stack::open_frame(&anon, frame_header::interpreted_native);
            evaluate_block(&v, true);
            stack::close_frame();
        } else if (t == type_id::get_word) {
            stack::push_value(word_value(&v));
        } else if (t == type_id::get_path) {
            evaluate_path(&v, node, index, false, true, true);
        } else {
            stack::push_value(&v);
        }
        break;
    }
    default: index = step_expression(node, index, no_infix, true); break;
    }
    if (pending) return index;
    if (!typeset_has(typeset, type_of(slot))) raise_expect_arg(name, slot, arg_word);
    return index;
}

// The truth of a refinement named in a path: a word counts, a get-word by its value.
bool refinement_used(const cell* element) {
    if (type_of(element) == type_id::get_word) return is_truthy(word_value(element));
    return true;
}

// Finds a refinement of the descriptor by symbol; answers its position in the descriptor.
i32 find_refinement(u32 desc, u32 symbol) {
    u32 canonical = symbol::canonical_id(symbol);
    u32 n = used_units(buffer_of(desc));
    cell* d = head_cell(buffer_of(desc));
    for (u32 i = 0; i < n; i++)
        if (type_of(d + i) == type_id::refinement && symbol::canonical_id(d[i].w2) == canonical)
            return static_cast<i32>(i);
    return -1;
}

void call_native(const cell* fn, const i32* refs) {
    u32 t = type_of(fn);
    natives::native_fn entry =
        t == type_id::action ? actions::entry(fn->w1 + 1) : natives::entry(fn->w1 + 1);
    if (!entry) runtime::fatal_error_exit(101, __builtin_return_address(0));
    entry(refs);
}

void call_routine(const cell* r) {
    cell code = *function::side_cell(r, function::side::code);
    routine::entry fn = routine::entry_at(static_cast<u32>(int_of(&code)));
    if (!fn) error::raise(err::E("internal", "routines"));
    fn();
}
// A value that stands for itself, or a word whose value does: taken without the general
// dispatch. Answers the value's cell, or null.
inline const cell* simple_value(const cell* code) {
    switch (type_of(code)) {
    case type_id::integer:
    case type_id::float_:
    case type_id::string:
    case type_id::block:
    case type_id::char_:
    case type_id::logic:
    case type_id::none:
    case type_id::refinement:
    case type_id::file:
    case type_id::percent:
    case type_id::pair:
    case type_id::tuple:
    case type_id::time:
    case type_id::date:
    case type_id::binary:
    case type_id::url:
    case type_id::tag:
    case type_id::email:
    case type_id::money: return code;
    case type_id::word: {
        if (code->w3 == context::unbound || !code->w1) return nullptr;
        cell* c = head_cell(buffer_of(code->w1));
        if (!c->w2) return nullptr;
        cell* base = (c->header & context::stack_flag)
                         ? arena::at<cell>(c->w2)
                         : reinterpret_cast<cell*>(data_start(buffer_of(c->w2)));
        const cell* v = base + code->w3;
        switch (type_of(v)) {
        case type_id::unset:
        case type_id::lit_word:
        case type_id::native:
        case type_id::action:
        case type_id::function:
        case type_id::routine:
        case type_id::op: return nullptr;
        default: return v;
        }
    }
    default: return nullptr;
    }
}

// The operators computed inline on two integers: add, subtract and multiply (actions) and the
// comparison natives; -1 for every other callable.
enum fast_op : i32 { op_add, op_subtract, op_multiply, op_divide, op_remainder, op_equal,
                     op_not_equal, op_strict_equal, op_lesser, op_greater, op_lesser_or_equal,
                     op_greater_or_equal };
inline i32 fast_operator(u32 source_type, u32 index) {
    if (source_type == type_id::action) {
        switch (index + 1) {
        case act::slot::add: return op_add;
        case act::slot::subtract: return op_subtract;
        case act::slot::multiply: return op_multiply;
        case act::slot::divide: return op_divide;
        case act::slot::remainder: return op_remainder;
        default: return -1;
        }
    }
    // Natives 25 to 31: equal? not-equal? strict-equal? lesser? greater? lesser-or-equal?
    // greater-or-equal?
    if (source_type == type_id::native && index >= 24 && index <= 30)
        return op_equal + static_cast<i32>(index - 24);
    return -1;
}

// An operator whose right operand is one expression without operators: integers are computed
// here (with the integer! action's results: overflow gives a float!); other operands go to the
// callable in a frame of its own, as an ordinary call would.
u32 binary_operator(const cell* op, const cell* name, i32 fast, cell* left, u32 node, u32 index) {
    stack::top = left + 1;
    const cell* quick = simple_value(code_at(node, index));
    if (quick) {
        left[1] = *quick;
        stack::top = left + 2;
        if (stack::top >= stack::end) stack::overflow();
        index++;
    } else {
        index = step_expression(node, index, true, true);
        if (pending) return index;
    }
    cell* right = left + 1;
    // Divisions that raise an error go the ordinary way, so that the error names the operator.
    if (type_of(left) == type_id::integer && type_of(right) == type_id::integer &&
        !((fast == op_divide || fast == op_remainder) &&
          (int_of(right) == 0 || (int_of(left) == INT32_MIN && int_of(right) == -1)))) {
        i32 a = int_of(left), b = int_of(right);
        switch (fast) {
        case op_add:
        case op_subtract:
        case op_multiply: {
            i64 r = fast == op_add ? i64(a) + b : fast == op_subtract ? i64(a) - b : i64(a) * b;
            if (r > INT32_MAX || r < INT32_MIN) init_float(left, static_cast<double>(r));
            else left->w2 = static_cast<u32>(static_cast<i32>(r));
            break;
        }
        case op_divide:
            if (a % b) init_float(left, static_cast<double>(a) / static_cast<double>(b));
            else left->w2 = static_cast<u32>(a / b);
            break;
        case op_remainder: left->w2 = static_cast<u32>(a % b); break;
        case op_equal:
        case op_strict_equal: init_logic(left, a == b); break;
        case op_not_equal: init_logic(left, a != b); break;
        case op_lesser: init_logic(left, a < b); break;
        case op_greater: init_logic(left, a > b); break;
        case op_lesser_or_equal: init_logic(left, a <= b); break;
        default: init_logic(left, a >= b); break;
        }
        stack::top = left + 1;
        return index;
    }
    stack::top = left;
    stack::open_frame(name, frame_header::interpreted_native);
    stack::top = left + 2;
    u32 desc = descriptor::of(op);
    cell* d = head_cell(buffer_of(desc));
    if (!typeset_has(d, type_of(left))) raise_expect_arg(name, left, d + 1);
    if (!typeset_has(d + 2, type_of(left + 1))) raise_expect_arg(name, left + 1, d + 3);
    i32 refs[1] = {-1};
    call_native(op, refs);
    stack::close_frame();
    return index;
}
} // namespace

cell* pending_value() { return pending_value_slot; }
cell* pending_name() { return pending_name_slot; }

void start_up() {
    cell u{type_id::unset, 0, 0, 0};
    pending_value_slot = roots::append(&u);
    pending_name_slot = roots::append(&u);
    code_node = 0;
    code_index = 0;
}

cell current_code() {
    if (!code_node) return cell{type_id::none, 0, 0, 0};
    return cell{type_id::block, code_index, code_node, 0};
}

void evaluate_block(const cell* block, bool pass_result) {
    runtime::check_stack();
    u32 node = block->w2;
    u32 index = block->w1;
    u32 saved_node = code_node, saved_index = code_index;
    bool user_code = !(buffer_of(node)->flags & buffer_flag::library_code);
    if (!trace::on && !pending && index < code_length(node)) {
        // The first expression is evaluated pushed, where the block's value belongs: a block
        // of one expression then needs no frame of its own. Further expressions run in the
        // block's frame below, the first value dropped as every value but the last is.
        cell* start = stack::top;
        if (user_code) {
            code_node = node;
            code_index = index;
        }
        index = step_expression(node, index, false, true);
        if (pending || index >= code_length(node)) {
            code_node = saved_node;
            code_index = saved_index;
            if (pass_result && !pending) *stack::arguments = *start;
            stack::top = start + 1;
            return;
        }
        stack::top = start;
    }
    cell body = body_word();
    stack::open_frame(&body, frame_header::block);
    if (trace::on)
        trace::send(trace::event::enter, node, static_cast<i32>(index), nullptr, nullptr);
    if (index >= code_length(node) || pending) {
        init_unset(stack::reserve_slot());
    } else {
        // Library code leaves the position where the user's code called it (the `near` of
        // errors), as compiled code does.
        while (index < code_length(node)) {
            if (user_code) {
                code_node = node;
                code_index = index;
            }
            stack::top = stack::arguments;
            index = step_expression(node, index, false, false);
            if (pending) break;
        }
    }
    if (trace::on)
        trace::send(trace::event::exit, node, static_cast<i32>(code_length(node)), stack::result(),
                    nullptr);
    code_node = saved_node;
    code_index = saved_index;
    if (pass_result) stack::close_frame_pass_result();
    else stack::close_frame();
}

u32 reduce_one(const cell* block, u32 index, bool push) {
    cell body = body_word();
    stack::open_frame(&body, frame_header::interpreted_native);
    index = step_expression(block->w2, index, false, true);
    if (push) stack::close_frame();
    else stack::close_frame_pass_result();
    return index;
}

u32 step_for_do_next(const cell* block) {
    u32 index = block->w1;
    if (index >= code_length(block->w2)) {
        init_unset(stack::result());
        return index;
    }
    return reduce_one(block, index, false);
}

// A set-word's assignment of the value in the current frame's second cell: words of the global
// context and of functions are stored at once; object fields go through the store that marks
// them and tells their change handlers.
inline void assign_word(const cell* word) {
    cell* value = stack::arg(1);
    if (word->w3 != context::unbound && word->w1 && type_of(value) != type_id::unset) {
        cell* c = head_cell(buffer_of(word->w1));
        if (c->w2 && ((c->header >> 11) & 3) != context::kind::object) {
            cell* base = (c->header & context::stack_flag)
                             ? arena::at<cell>(c->w2)
                             : reinterpret_cast<cell*>(data_start(buffer_of(c->w2)));
            base[word->w3] = *value;
            *stack::arg(0) = *value;
            return;
        }
    }
    word::set_from_second_arg();
}


// Every kind of value but the simple ones (see simple_value). Answers the index after it.
u32 step_general(u32 node, u32 index, bool push, bool no_call, cell* start) {
    runtime::check_stack();
    cell value = *code_at(node, index);
    u32 at = index;
    index++;
    if (trace::on) {
        trace::send(trace::event::fetch, node, static_cast<i32>(at), &value, nullptr);
        if (pending) return index;
    }
    switch (type_of(&value)) {
    case type_id::paren: {
        // The paren's block frame holds its values; its result lands where this expression's
        // value goes.
        cell block = value;
        evaluate_block(&block, false);
        emit(start, push, start);
        break;
    }
    case type_id::set_word: {
        stack::open_frame(&value, frame_header::interpreted_native);
        stack::push_value(&value);
        if (index >= code_length(node)) error::raise(err::E("script", "need-value"), &value);
        index = step_expression(node, index, false, true);
        if (pending) {
            stack::close_frame();
            return index;
        }
        assign_word(&value);
        if (trace::on)
            trace::send(trace::event::set, node, static_cast<i32>(index), stack::arg(1), &value);
        stack::close_frame();
        emit(start, push, start);
        break;
    }
    case type_id::set_path: {
        if (index >= code_length(node)) error::raise(err::E("script", "need-value"), &value);
        cell w{type_id::word, 0, sym::set_path, context::unbound};
        stack::open_frame(&w, frame_header::interpreted_native);
        index = step_expression(node, index, false, true);
        if (pending) {
            stack::close_frame();
            return index;
        }
        cell assigned = *stack::arg(0);
        evaluate_path(&value, node, index, true, false, true, &assigned);
        *stack::arg(0) = assigned;
        if (trace::on)
            trace::send(trace::event::set, node, static_cast<i32>(index), &assigned, &value);
        stack::close_frame();
        emit(start, push, start);
        break;
    }
    case type_id::get_word:
        emit(word_value(&value), push, start);
        if (trace::on) trace_push(node, at, push, start);
        break;
    case type_id::lit_word:
        cell_ops::write_type(&value, type_id::word);
        emit(&value, push, start);
        if (trace::on) trace_push(node, at, push, start);
        break;
    case type_id::word: {
        cell* v = word_value(&value);
        u32 t = type_of(v);
        if (t == type_id::unset) error::raise(err::E("script", "no-value"), &value);
        if (is_callable_type(t)) {
            cell callable = *v;
            index = gather_arguments(&callable, node, index, push, &value, 0, nullptr, 0, false);
            if (pending) return index;
        } else if (t == type_id::op) {
            error::raise(err::E("script", "no-op-arg"), &value);
        } else {
            emit(v, push, start);
            if (trace::on) trace_push(node, at, push, start);
        }
        break;
    }
    case type_id::path:
        index = evaluate_path(&value, node, index, false, false, push);
        if (pending) return index;
        if (trace::on) trace_push(node, at, push, start);
        break;
    case type_id::get_path:
        index = evaluate_path(&value, node, index, false, true, push);
        if (pending) return index;
        break;
    case type_id::lit_path:
        cell_ops::write_type(&value, type_id::path);
        value.w3 = 0;
        emit(&value, push, start);
        if (trace::on) trace_push(node, at, push, start);
        break;
    case type_id::op: error::raise(err::E("internal", "not-done"));
    case type_id::native:
    case type_id::action:
    case type_id::function:
    case type_id::routine:
        if (no_call) {
            emit(&value, push, start);
        } else {
            cell anon = anon_word();
            index = gather_arguments(&value, node, index, push, &anon, 0, nullptr, 0, false);
            if (pending) return index;
        }
        break;
    case type_id::issue:
        if (index < code_length(node) && type_of(code_at(node, index)) == type_id::block) {
            u32 s = symbol::canonical_id(value.w2);
            if (s == symbol::canonical_id(sym::system) ||
                s == symbol::canonical_id(sym::system_global))
                error::raise(err::E("internal", "zel-system"));
        }
        emit(&value, push, start);
        if (trace::on) trace_push(node, at, push, start);
        break;
    default:
        emit(&value, push, start);
        if (trace::on) trace_push(node, at, push, start);
        break;
    }
    return index;
}

u32 step_expression(u32 node, u32 index, bool no_infix, bool push, bool no_call) {
    cell* start = stack::top;
    const cell* quick = trace::on ? nullptr : simple_value(code_at(node, index));
    if (quick) {
        emit(quick, push, start);
        index++;
    } else {
        index = step_general(node, index, push, no_call, start);
        if (pending) return index;
    }
    if (no_infix) return index;
    // Operators take the value just computed as their left operand, left to right.
    while (index < code_length(node)) {
        cell* next = code_at(node, index);
        if (type_of(next) != type_id::word || next->w3 == context::unbound || !next->w1) break;
        cell* ctx = head_cell(buffer_of(next->w1));
        if (!ctx->w2) break;
        cell* v = word_value(next);
        if (type_of(v) != type_id::op) break;
        cell op = *v;
        cell name = *next;
        if (trace::on) {
            trace::send(trace::event::fetch, node, static_cast<i32>(index), &name, nullptr);
            if (pending) return index + 1;
        }
        u32 source_type = (op.header >> 16) & 0xFF;
        cell_ops::write_type(&op, source_type);
        op.header &= ~0x00FF0000u;
        // The left operand is the pushed value, or the result slot.
        cell* left = push ? start : stack::arguments;
        stack::top = left;
        i32 fast = trace::on ? -1 : fast_operator(source_type, op.w1);
        if (fast >= 0) {
            index = binary_operator(&op, &name, fast, left, node, index + 1);
        } else {
            index = gather_arguments(&op, node, index + 1, push, &name, 0, nullptr, 0, true);
        }
        if (pending) return index;
    }
    if (trace::on && !push)
        trace::send(trace::event::expr, node, static_cast<i32>(index), stack::result(), nullptr);
    return index;
}

u32 gather_arguments(const cell* callable_in, u32 node, u32 index, bool push, const cell* name_in,
                     u32 parent_context, const cell* path, u32 refinements, bool infix,
                     u32 mode) {
    bool as_values = mode & apply_mode::values;
    runtime::check_stack();
    cell callable = *callable_in;
    cell name = (name_in && type_of(name_in) == type_id::word) ? *name_in : anon_word();
    u32 t = type_of(&callable);
    cell* place = stack::top; // where the call's value ends up
    if (trace::on) {
        trace::send(trace::event::open, node, static_cast<i32>(index) - 1, &name, nullptr);
        if (pending) return index;
    }
    if (!infix) stack::push_value(&callable);
    bool is_fn = t == type_id::function || t == type_id::routine;
    if (t == type_id::function) {
        stack::open_frame(&name, frame_header::interpreted_function);
        call_frame* f = stack::frame_top - 1;
        f->function_context = callable.w1;
        f->saved_values = head_cell(buffer_of(callable.w1))->w2;
    } else if (is_callable_type(t)) {
        stack::open_frame(&name, frame_header::interpreted_native);
    } else {
        runtime::fatal_error_exit(101, __builtin_return_address(0));
    }
    // The left operand of an operator already lies in the first argument cell: take it before
    // anything else is pushed.
    cell* left = infix ? stack::reserve_slot() : nullptr;
    // The descriptor is cached in the callable's side series after the first call.
    cell* cached = head_cell(buffer_of(callable.w3)) + function::side::descriptor;
    u32 desc = (type_of(cached) == type_id::block && cached->w1 == 0) ? cached->w2
                                                                      : descriptor::of(&callable);
    u32 desc_len = code_length(desc);
    i32 refs[max_refinements];
    u32 ref_count = 0;
    u32 pos = 0;
    bool first = true;
    // Positional arguments. The descriptor's buffer is read again after each evaluation, which
    // may have moved it.
    for (; pos < desc_len; pos += 2) {
        cell* d = head_cell(buffer_of(desc)) + pos;
        if (type_of(d) != type_id::typeset) break;
        u32 kind = descriptor::kind_of(d);
        if (kind == descriptor::kind::return_) continue;
        if (left && first) {
            if (!typeset_has(d, type_of(left))) raise_expect_arg(&name, left, d + 1);
        } else if (kind == descriptor::kind::normal && !as_values && index < code_length(node)) {
            cell* slot = stack::top;
            // A simple value with no operator after it is taken as it stands.
            const cell* code = code_at(node, index);
            const cell* quick = trace::on ? nullptr : simple_value(code);
            if (quick && (infix || index + 1 >= code_length(node) ||
                          type_of(code + 1) != type_id::word)) {
                *slot = *quick;
                stack::top = slot + 1;
                if (stack::top >= stack::end) stack::overflow();
                index++;
            } else {
                index = step_expression(node, index, infix, true);
                if (pending) goto unwind;
            }
            d = head_cell(buffer_of(desc)) + pos;
            if (!typeset_has(d, type_of(slot))) raise_expect_arg(&name, slot, d + 1);
        } else {
            cell ts = *d, word = d[1];
            index = fetch_argument(&name, &ts, &word, node, index, infix, as_values);
            if (pending) goto unwind;
        }
        first = false;
    }
    if (is_fn) {
        // Every refinement gets its flag slot (false) and none! argument slots; then the locals.
        for (u32 k = pos; k < desc_len; k++) {
            cell* d = head_cell(buffer_of(desc)) + k;
            if (type_of(d) == type_id::refinement) init_logic(stack::reserve_slot(), false);
            else if (type_of(d) == type_id::typeset) {
                if (descriptor::kind_of(d) != descriptor::kind::return_)
                    init_none(stack::reserve_slot());
                k++;
            }
        }
        cell* last = head_cell(buffer_of(desc)) + desc_len - 1;
        function::push_local_slots(static_cast<u32>(int_of(last)));
    } else {
        ref_count = static_cast<u32>(int_of(head_cell(buffer_of(desc)) + desc_len - 1));
        if (ref_count > max_refinements) ref_count = max_refinements;
        for (u32 k = 0; k < ref_count; k++) refs[k] = -1;
    }
    // Refinements named in the path, in the order written.
    if (path) {
        u32 plen = used_units(buffer_of(path->w2));
        for (u32 p = refinements; p < plen; p++) {
            cell element = head_cell(buffer_of(path->w2))[p];
            u32 et = type_of(&element);
            if (et != type_id::word && et != type_id::get_word && et != type_id::refinement)
                error::raise(err::E("script", "no-refine"), &name, &element);
            i32 at = find_refinement(desc, element.w2);
            if (at < 0) {
                cell w = element;
                w.header = type_id::word;
                error::raise(err::E("script", "no-refine"), &name, &w);
            }
            bool used = refinement_used(&element);
            cell r = head_cell(buffer_of(desc))[at];
            u32 k = static_cast<u32>(at) + 1;
            if (is_fn) {
                cell* flag = stack::arguments + r.w1;
                if (type_of(flag) == type_id::logic && flag->w1 && used) {
                    cell p_copy = *path;
                    error::raise(err::E("script", "dup-refine"), &p_copy);
                }
                init_logic(flag, used);
                u32 slot = r.w1 + 1;
                while (k < desc_len && type_of(head_cell(buffer_of(desc)) + k) == type_id::typeset) {
                    cell ts = head_cell(buffer_of(desc))[k], word = head_cell(buffer_of(desc))[k + 1];
                    if (descriptor::kind_of(&ts) == descriptor::kind::return_) {
                        k += 2; // `return:` after the last refinement is no argument of it
                        continue;
                    }
                    cell* arg_slot = stack::top;
                    index = fetch_argument(&name, &ts, &word, node, index, false, as_values);
                    if (pending) goto unwind;
                    if (used) stack::arguments[slot] = *arg_slot;
                    stack::top = arg_slot;
                    slot++;
                    k += 2;
                }
            } else {
                u32 ordinal = r.w3;
                if (ordinal >= 1 && ordinal <= ref_count && refs[ordinal - 1] >= 0 && used) {
                    cell p_copy = *path;
                    error::raise(err::E("script", "dup-refine"), &p_copy);
                }
                cell* mark = stack::top;
                i32 position = static_cast<i32>(stack::top - stack::arguments);
                while (k < desc_len && type_of(head_cell(buffer_of(desc)) + k) == type_id::typeset) {
                    cell ts = head_cell(buffer_of(desc))[k], word = head_cell(buffer_of(desc))[k + 1];
                    if (descriptor::kind_of(&ts) == descriptor::kind::return_) {
                        k += 2; // `return:` after the last refinement is no argument of it
                        continue;
                    }
                    index = fetch_argument(&name, &ts, &word, node, index, false, as_values);
                    if (pending) goto unwind;
                    k += 2;
                }
                if (used) {
                    if (ordinal >= 1 && ordinal <= ref_count) refs[ordinal - 1] = position;
                } else {
                    stack::top = mark;
                }
            }
        }
    }
    // The call.
    switch (t) {
    case type_id::function: invoke_function(&callable, parent_context, &name); break;
    case type_id::routine: call_routine(&callable); break;
    default: call_native(&callable, refs); break;
    }
unwind:
    if (t == type_id::function) stack::close_function_frame();
    else stack::close_frame();
    if (pending) return index;
    // The call leaves exactly one value, at the place of the pushed callable (or of the left
    // operand in infix mode).
    cell* value = stack::top - 1;
    if (push) {
        *place = *value;
        stack::top = place + 1;
    } else {
        cell v = *value;
        stack::set_single_result(&v);
    }
    if (trace::on)
        trace::send(trace::event::return_, node, static_cast<i32>(index),
                    push ? place : stack::result(), &name);
    return index;
}

namespace {
// A function body while a trace is active: the function's header may switch tracing on or off
// for its body, and the body is framed by the prolog and epilog events.
void evaluate_traced_body(const cell* fn, const cell* body, const cell* name) {
    struct restore_tracing {
        bool was = trace::on;
        ~restore_tracing() { trace::on = was; }
    } restore;
    if (!trace::in_tracer) {
        if (fn->header & function::flag::trace) trace::on = true;
        else if (fn->header & function::flag::no_trace) trace::on = false;
    }
    if (trace::on) trace::send(trace::event::prolog, body->w2, -1, fn, name);
    if (!pending) evaluate_block(body, true);
    if (trace::on) {
        // The exit under way survives the event.
        cell* kept = stack::push_value(pending_value_slot);
        u32 code = pending;
        pending = 0;
        trace::send(trace::event::epilog, body->w2, -1, fn, name);
        if (code) {
            pending = code;
            *pending_value_slot = *kept;
        }
        stack::drop_values(1);
    }
}
} // namespace

void invoke_function(const cell* fn, u32, const cell* name) {
    u32 ctx = fn->w1;
    head_cell(buffer_of(ctx))->w2 = arena::offset_of(stack::arguments);
    call_frame* f = stack::frame_top - 1;
    f->header |= frame_header::return_target;
    cell body = *function::side_cell(fn, function::side::body);
    if (trace::active) evaluate_traced_body(fn, &body, name);
    else evaluate_block(&body, true);
    if (pending == throw_code::return_ || pending == throw_code::exit_) {
        if (pending == throw_code::return_) *stack::result() = *pending_value_slot;
        else init_unset(stack::result());
        stack::top = stack::arguments + 1;
        pending = 0;
    }
}

namespace {
// `bad-path-type`: the path up to the element (a new path of the same type), the element and the
// datatype of the value it was applied to.
[[noreturn]] void raise_bad_path_type(const cell* path, u32 end, const cell* element, u32 type) {
    u32 n = end - path->w1;
    cell none{type_id::none, 0, 0, 0};
    cell* copy = stack::push_value(&none);
    *copy = cell{type_of(path), 0, memory::new_cell_series(n), 0};
    series_buffer* b = buffer_of(copy->w2);
    std::memcpy(head_cell(b), head_cell(buffer_of(path->w2)) + path->w1, n * sizeof(cell));
    b->tail = b->head + n * sizeof(cell);
    cell t;
    init_datatype(&t, type);
    error::raise(err::E("script", "bad-path-type"), copy, element, &t);
}
} // namespace

u32 evaluate_path(const cell* path_in, u32 node, u32 index, bool set, bool get, bool push,
                  const cell* set_value, bool case_) {
    cell path = *path_in;
    cell* start = stack::top;
    u32 pnode = path.w2;
    u32 plen = used_units(buffer_of(pnode));
    u32 head = path.w1;
    if (head >= plen) error::raise(err::E("script", "empty-path"));
    cell first = head_cell(buffer_of(pnode))[head];
    if (type_of(&first) != type_id::word) error::raise(err::E("script", "word-first"), &path);
    cell* v = word_value(&first);
    u32 vt = type_of(v);
    if (is_callable_type(vt)) {
        if (set) error::raise(err::E("script", "invalid-path-set"), &path);
        if (get) error::raise(err::E("script", "invalid-path-get"), &path);
        cell callable = *v;
        return gather_arguments(&callable, node, index, push, &first, 0, &path, head + 1, false);
    }
    if (vt == type_id::unset) error::raise(err::E("script", "unset-path"), &path, &first);
    cell parent = *v;
    cell owner{type_id::none, 0, 0, 0};
    cell previous = first;
    // Values met on the way stay on the data stack, so that a collection keeps them.
    cell* parent_slot = stack::push_value(&parent);
    for (u32 i = head + 1; i < plen; i++) {
        cell element = head_cell(buffer_of(pnode))[i];
        if (type_of(&element) == type_id::get_word) {
            element = *word_value(&element);
        } else if (type_of(&element) == type_id::paren) {
            cell body = body_word();
            stack::open_frame(&body, frame_header::interpreted_native);
            evaluate_block(&element, true);
            stack::close_frame();
            element = *(stack::top - 1);
            stack::top--;
        }
        if (type_of(&element) == type_id::unset)
            error::raise(err::E("script", "invalid-path"), &path, &element);
        bool last = i + 1 == plen;
        path_step step;
        step.path = &path;
        step.owner = &owner;
        step.previous = &previous;
        step.position = static_cast<i32>(i - head - 1);
        step.case_ = case_;
        step.last = last;
        u32 pt = type_of(parent_slot);
        step.owner_check = set && last &&
                           ((is_object_type(pt) && parent_slot->w3 != 0) || is_any_block_type(pt));
        auto handler = act::handler<act::slot::eval_path>(pt);
        if (!handler) raise_bad_path_type(&path, i + 1, &element, pt);
        cell value_to_set = set_value ? *set_value : cell{};
        cell* result =
            handler(parent_slot, &element, (set && last) ? &value_to_set : nullptr, step);
        cell reached = *result;
        if (!set && !get && is_callable_type(type_of(&reached))) {
            u32 ctx = is_object_type(pt) ? parent_slot->w1 : 0;
            stack::top = start;
            cell name = element;
            if (type_of(&name) != type_id::word) name = anon_word();
            return gather_arguments(&reached, node, index, push, &name, ctx, &path, i + 1, false);
        }
        owner = *parent_slot;
        previous = element;
        *parent_slot = reached;
    }
    cell final_value = *parent_slot;
    stack::top = start;
    if (push) stack::push_value(&final_value);
    else stack::set_single_result(&final_value);
    return index;
}

void call_with_arguments(const cell* callable, u32 argument_count, const cell* name) {
    // The callable and its arguments lie on the data stack: they become a temporary code block
    // whose cells are taken as values, not evaluated again.
    cell* base = stack::top - argument_count - 1;
    cell code{type_id::block, 0, memory::new_cell_series(argument_count + 1), 0};
    cell* holder = stack::push_value(&code);
    for (u32 i = 0; i < argument_count; i++) *memory::append_cell_slot(holder) = base[1 + i];
    code = *holder;
    cell fn = *callable;
    stack::top = base;
    cell anon = name ? *name : anon_word();
    // Keep the code block reachable while the call runs.
    *base = code;
    stack::top = base + 1;
    gather_arguments(&fn, code.w2, 0, true, &anon, 0, nullptr, 0, false, apply_mode::values);
    if (!pending) {
        base[0] = stack::top[-1];
        stack::top = base + 1;
    }
}

} // namespace zel::interp
