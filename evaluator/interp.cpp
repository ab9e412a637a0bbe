// The interpreter.
#include "evaluator/interp.hpp"

#include <array>
#include <cstring>

#include "datatypes/basic.hpp"
#include "datatypes/context.hpp"
#include "datatypes/function.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/code_cache.hpp"
#include "evaluator/descriptor.hpp"
#include "evaluator/native_families.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/stack.hpp"
#include "evaluator/trace.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/process.hpp"
#include "runtime/roots.hpp"

namespace zel::interp {

slow_path slow = {0, false, {0, 0, 0}};
u32 code_node = 0;
u32 code_index = 0;

namespace {
cell* pending_value_slot = nullptr;
cell* pending_name_slot = nullptr;
constexpr u32 max_refinements = 64;
// The refinement list of a call that uses none.
constexpr auto no_refinements = [] {
    std::array<i32, max_refinements> a{};
    a.fill(-1);
    return a;
}();

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
    if (code_cache::literal_type(type_of(code))) return code;
    switch (type_of(code)) {
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

void apply_operator(const cell* op, const cell* name, i32 fast, cell* left);
constexpr u32 no_fast = 0xFFFFFFFF; // a cached path that was not taken
u32 fast_call(u32 node, u32 index, bool push);

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
        // A call taken through its record (its arguments are whole expressions either way).
        u32 end = trace::on ? no_fast : fast_call(node, index, true);
        index = end != no_fast ? end : step_expression(node, index, true, true);
        if (pending) return index;
    }
    apply_operator(op, name, fast, left);
    return index;
}

// The operator applied to its operands, which lie at `left` and just above it.
void apply_operator(const cell* op, const cell* name, i32 fast, cell* left) {
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
        return;
    }
    if (type_of(left) == type_id::float_ && fast >= op_add && fast <= op_multiply &&
        (type_of(right) == type_id::float_ || type_of(right) == type_id::integer)) {
        // A float and a number, as the float! action computes them (a running total).
        double x = float_of(left);
        double y = type_of(right) == type_id::integer ? int_of(right) : float_of(right);
        init_float(left, fast == op_add ? x + y : fast == op_subtract ? x - y : x * y);
        stack::top = left + 1;
        return;
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
}

// The cached evaluation of the common shapes. Everything here does what the general path does,
// step for step, for the cases it takes; where a guard fails (a cell changed, a word's value is
// no longer what the record saw) it stops before taking the step and the general path goes on
// from there. Records are looked up again after anything that may run code, which may change
// the block or drop the cache.
using code_cache::record;

// The value of a cached operand taken as it stands; null when the general path must take it.
inline const cell* operand_value(record* r, const cell* code) {
    if (r->operand == code_cache::operand::literal) return code;
    if (r->operand != code_cache::operand::word) return nullptr;
    cell* v = code_cache::value_at(r, code);
    if (!v) return nullptr;
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

// The entries of `if` and `either`, found once: their calls choose the branch here.
natives::native_fn if_entry = nullptr;
natives::native_fn either_entry = nullptr;

// A call of a word's value with plain arguments only: natives and actions (their refinements
// all unused) and functions without refinements. The argument descriptor must exist already
// (making it allocates); until then the shape is worked out again next time.
void analyse_call(record* r, const cell* word) {
    using namespace code_cache;
    const cell* v = value_at(r, word);
    if (!v) return;
    u32 t = type_of(v);
    if (t != type_id::native && t != type_id::action && t != type_id::function) return;
    cell* side = head_cell(buffer_of(v->w3)) + function::side::descriptor;
    if (type_of(side) != type_id::block) {
        r->shape = shape::unknown;
        return;
    }
    series_buffer* db = buffer_of(side->w2);
    const cell* d = head_cell(db);
    u32 n = used_bytes(db) / static_cast<u32>(sizeof(cell));
    if (n == 0 || type_of(d + n - 1) != type_id::integer) return;
    u32 args = 0, k = 0;
    bool returns = false; // a return spec takes no argument: plain ones must all precede it
    while (k + 1 < n && type_of(d + k) == type_id::typeset) {
        u32 kind = descriptor::kind_of(d + k);
        if (kind == descriptor::kind::return_) returns = true;
        else if (kind != descriptor::kind::normal || returns) return;
        else args++;
        k += 2;
    }
    if (t == type_id::function && k + 1 != n) return; // refinements or a return spec
    i32 extra = int_of(d + n - 1);
    if (args > 16 || extra < 0 || extra > 64) return;
    r->shape = shape::call;
    r->guard_header = v->header;
    r->guard_w1 = v->w1;
    r->guard_w3 = v->w3;
    r->arguments = static_cast<u16>(args);
    r->extra = static_cast<u16>(extra);
    r->entry = nullptr;
    r->control = branch::none;
    if (t != type_id::function) {
        r->entry = t == type_id::action ? actions::entry(v->w1 + 1) : natives::entry(v->w1 + 1);
        if (!r->entry) r->shape = shape::generic;
        else if (r->entry == if_entry) r->control = branch::if_;
        else if (r->entry == either_entry) r->control = branch::either;
    }
}

// Works out the shape of the expression at `index` (its record is current).
void analyse(code_cache::block* b, u32 index, u32 len, const cell* code) {
    using namespace code_cache;
    record* r = b->records + index;
    r->shape = shape::generic;
    r->span = 1;
    u32 t = type_of(code + index);
    u32 first = index;
    if (t == type_id::set_word) {
        if (r->where != where::stack && r->where != where::plain) return;
        if (index + 1 >= len) return;
        first = index + 1;
    }
    record* o = at(b, first, code + first);
    if (!o) return;
    if (t == type_id::word && o->where != where::none) {
        const cell* v = value_at(o, code + index);
        u32 vt = v ? type_of(v) : type_id::unset;
        if (vt == type_id::native || vt == type_id::action || vt == type_id::function) {
            analyse_call(b->records + index, code + index);
            return;
        }
    }
    if (o->operand == operand::none) return;
    if (o->operand == operand::word && !operand_value(o, code + first)) return;
    u32 k = first + 1, ops = 0;
    while (k + 1 < len && ops < max_ops) {
        record* w = at(b, k, code + k);
        if (!w || type_of(code + k) != type_id::word || w->where == where::none) break;
        const cell* v = value_at(w, code + k);
        if (!v || type_of(v) != type_id::op) break;
        i32 f = fast_operator((v->header >> 16) & 0xFF, v->w1);
        if (f < 0) break;
        record* x = at(b, k + 1, code + k + 1);
        if (!x || x->operand == operand::none) break;
        w = b->records + k; // taking x may have moved the records (a block that grew)
        w->fast = static_cast<u8>(f);
        w->guard_header = v->header;
        w->guard_w1 = v->w1;
        ops++;
        k += 2;
    }
    r = b->records + index;
    r->shape = t == type_id::set_word ? shape::assign : shape::chain;
    // 1: word op integer!, 2: word op word
    r->word_op_integer = 0;
    if (t == type_id::word && ops == 1) {
        u32 rt = type_of(code + index + 2);
        if (rt == type_id::integer) r->word_op_integer = 1;
        else if (rt == type_id::word) r->word_op_integer = 2;
    }
    r->ops = static_cast<u8>(ops);
    r->span = static_cast<u8>(k - index);
}

// An integer operation of the inline operators; false when the general path must take it (a
// division that raises an error names the operator there).
[[gnu::always_inline]] inline bool integer_op(u32 fast, cell* left, const cell* right) {
    i32 a = int_of(left), b = int_of(right);
    switch (fast) {
    case op_add:
    case op_subtract:
    case op_multiply: {
        i64 r = fast == op_add ? i64(a) + b : fast == op_subtract ? i64(a) - b : i64(a) * b;
        if (r > INT32_MAX || r < INT32_MIN) init_float(left, static_cast<double>(r));
        else left->w2 = static_cast<u32>(static_cast<i32>(r));
        return true;
    }
    case op_divide:
        if (b == 0 || (a == INT32_MIN && b == -1)) return false;
        if (a % b) init_float(left, static_cast<double>(a) / static_cast<double>(b));
        else left->w2 = static_cast<u32>(a / b);
        return true;
    case op_remainder:
        if (b == 0 || (a == INT32_MIN && b == -1)) return false;
        left->w2 = static_cast<u32>(a % b);
        return true;
    case op_equal:
    case op_strict_equal: init_logic(left, a == b); return true;
    case op_not_equal: init_logic(left, a != b); return true;
    case op_lesser: init_logic(left, a < b); return true;
    case op_greater: init_logic(left, a > b); return true;
    case op_lesser_or_equal: init_logic(left, a <= b); return true;
    default: init_logic(left, a >= b); return true;
    }
}

// A block's cells and cache as one evaluation sees them; taken again after anything that may
// run code or look up another block's cache.
struct code_view {
    code_cache::block* b;
    const cell* code;
    u32 len;
};
inline bool view_of(u32 node, code_view* v) {
    v->b = code_cache::of(node);
    if (!v->b) return false;
    series_buffer* buf = buffer_of(node);
    v->code = head_cell(buf);
    v->len = used_bytes(buf) / static_cast<u32>(sizeof(cell));
    return true;
}
// The current record of a cell of the view, or null past what the cache covers.
inline record* record_of(code_view v, u32 index) {
    if (index >= v.len) return nullptr;
    return code_cache::at(v.b, index, v.code + index);
}

constexpr u32 max_paren_depth = 8;
u32 pure_chain(code_view v, u32 index, cell* out, u32 depth);

// Types a word's value must not have to be taken as it stands.
constexpr u64 not_plain = (u64(1) << type_id::unset) | (u64(1) << type_id::lit_word) |
                          (u64(1) << type_id::native) | (u64(1) << type_id::action) |
                          (u64(1) << type_id::function) | (u64(1) << type_id::routine) |
                          (u64(1) << type_id::op);

// The current record of a cell known to lie within the block and the cache.
[[gnu::always_inline]] inline record* current(code_view v, u32 index) {
    record* r = v.b->records + index;
    if (!code_cache::same(&r->copy, v.code + index))
        code_cache::refresh(v.b, index, v.code + index);
    return r;
}

// The value cell of a word record; null when it must be taken the general way.
[[gnu::always_inline]] inline cell* word_cell(record* x, const cell* c) {
    if (*arena::at<u32>(x->node) == x->buffer) {
        if (x->where == code_cache::where::stack) {
            u32 values = arena::at<cell>(x->offset)->w2;
            return values ? arena::at<cell>(values) + c->w3 : nullptr;
        }
        return arena::at<cell>(x->offset);
    }
    return code_cache::value_at(x, c);
}

// A paren holding one pure chain.
[[gnu::noinline]] bool pure_paren(const cell* paren, cell* out, u32 depth) {
    if (depth >= max_paren_depth) return false;
    code_view inner;
    if (!view_of(paren->w2, &inner)) return false;
    return pure_chain(inner, paren->w1, out, depth + 1) == inner.len;
}

// An operand without side effects: a literal, a word's plain value, or a paren that holds one
// pure chain. False when it is anything else.
[[gnu::always_inline]] inline bool pure_operand(code_view v, u32 index, cell* out,
                                                u32 depth) {
    record* x = current(v, index);
    const cell* c = v.code + index;
    switch (x->operand) {
    case code_cache::operand::literal: *out = *c; return true;
    case code_cache::operand::word: {
        const cell* value = word_cell(x, c);
        if (!value || ((not_plain >> (type_of(value) & 63)) & 1)) return false;
        *out = *value;
        return true;
    }
    case code_cache::operand::paren: {
        u32 outer = v.b->node;
        cell paren = *c;
        // The paren's cache may take the place of the outer block's.
        return pure_paren(&paren, out, depth) && v.b->node == outer;
    }
    default: return false;
    }
}

// No operator may follow the chain that ends at `end`: the general look-ahead would take it.
[[gnu::always_inline]] inline bool ends_there(code_view v, u32 end) {
    if (end < v.len && type_of(v.code + end) == type_id::word) {
        if (end >= v.b->count) return false;
        record* n = current(v, end);
        const cell* next = code_cache::value_at(n, v.code + end);
        if (!next || type_of(next) == type_id::op) return false;
    }
    return true;
}

// The commonest chains, `word op integer` and `word op word`, in one step (the record at
// `index` is current).
[[gnu::always_inline]] inline u32 word_op_integer(code_view v, u32 index, cell* out) {
    record* r = v.b->records + index;
    const cell* c = v.code + index;
    record* w = r + 1;
    if (!code_cache::same(&w->copy, c + 1)) {
        code_cache::refresh(v.b, index + 1, c + 1);
        return no_fast;
    }
    if (!code_cache::same(&r[2].copy, c + 2)) {
        code_cache::refresh(v.b, index + 2, c + 2);
        return no_fast;
    }
    const cell* a = word_cell(r, c);
    if (!a || type_of(a) != type_id::integer) return no_fast;
    const cell* op = word_cell(w, c + 1);
    if (!op || op->header != w->guard_header || op->w1 != w->guard_w1) return no_fast;
    const cell* b = c + 2;
    if (r->word_op_integer == 2) {
        b = r[2].operand == code_cache::operand::word ? word_cell(r + 2, c + 2) : nullptr;
        if (!b || type_of(b) != type_id::integer) return no_fast;
    }
    *out = *a;
    if (!integer_op(w->fast, out, b) || !ends_there(v, index + 3)) return no_fast;
    return index + 3;
}

// Evaluates the chain record at `index` without side effects into `out`: answers the index
// after it, or no_fast when some step is not pure (a call, a value of another type, an operator
// that changed) or an operator may follow it. Nothing observable has happened then.
u32 pure_chain(code_view v, u32 index, cell* out, u32 depth) {
    if (index >= v.len || index >= v.b->count) return no_fast;
    record* r = current(v, index);
    if (r->shape == code_cache::shape::unknown) {
        analyse(v.b, index, v.len, v.code);
        r = v.b->records + index;
    }
    if (r->shape != code_cache::shape::chain) return no_fast;
    u32 ops = r->ops;
    if (index + 2 * ops >= v.len || index + 2 * ops >= v.b->count) return no_fast;
    if (r->word_op_integer) return word_op_integer(v, index, out);
    if (!pure_operand(v, index, out, depth)) return no_fast;
    index++;
    for (; ops; ops--) {
        record* w = current(v, index);
        if (w->fast == 0xFF) return no_fast;
        const cell* op = word_cell(w, v.code + index);
        if (!op || op->header != w->guard_header || op->w1 != w->guard_w1) return no_fast;
        u32 fast = w->fast;
        cell right;
        if (!pure_operand(v, index + 1, &right, depth)) return no_fast;
        if (type_of(out) != type_id::integer || type_of(&right) != type_id::integer ||
            !integer_op(fast, out, &right))
            return no_fast;
        index += 2;
    }
    return ends_there(v, index) ? index : no_fast;
}
} // namespace

namespace {
u32 fast_expression(u32 node, u32 index, bool push, cell* start, bool calls = true);
struct code_view;
u32 pure_run(u32 node, u32 index, cell* start, code_view* view, code_cache::record** stop);
u32 dispatch(code_view v, code_cache::record* r, u32 node, u32 index, bool push, cell* start,
             bool calls);
u32 step_slow(u32 node, u32 index, bool no_infix, bool push, bool no_call, cell* start);
}

cell* pending_value() { return pending_value_slot; }
cell* pending_name() { return pending_name_slot; }

void start_up() {
    cell u{type_id::unset, 0, 0, 0};
    pending_value_slot = roots::append(&u);
    pending_name_slot = roots::append(&u);
    code_node = 0;
    code_index = 0;
    code_cache::start_up();
    if_entry = natives::families::lookup("if");
    either_entry = natives::families::lookup("either");
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
    if (!off_fast_path() && index < code_length(node)) {
        // Every expression is evaluated pushed, where the block's value belongs, the value so
        // far dropped as every value but the last is: the block needs no frame of its own (its
        // frame would be seen by nothing: no error names it, no exit stops at it).
        // Assignments of expressions without side effects run straight from their records:
        // nothing can fail while they do.
        cell* start = stack::top;
        code_view v;
        record* stop;
        const cell* first = code_at(node, index);
        if (type_of(first) != type_id::set_word && index + 1 == code_length(node)) {
            // A block of one value that stands for itself (a branch such as `[n]`).
            const cell* quick = simple_value(first);
            if (quick) {
                *start = *quick;
                if (pass_result) *stack::arguments = *start;
                stack::top = start + 1;
                if (stack::top >= stack::end) stack::overflow();
                return;
            }
        }
        for (;;) {
            if (type_of(code_at(node, index)) == type_id::set_word) {
                index = pure_run(node, index, start, &v, &stop);
                if (index >= code_length(node)) break;
            }
            if (user_code) {
                code_node = node;
                code_index = index;
            }
            stack::top = start;
            index = step_expression(node, index, false, true);
            // A trace switched on meanwhile sees the rest of the block in its frame, below.
            if (index >= code_length(node) || off_fast_path()) break;
        }
        if (pending || index >= code_length(node)) {
            code_node = saved_node;
            code_index = saved_index;
            if (pass_result && !pending) *stack::arguments = *start;
            stack::top = start + 1;
            return;
        }
        stack::top = start;
    }
    struct restore_paren {
        u32 node = trace::paren_node;
        ~restore_paren() { trace::paren_node = node; }
    } restore;
    if (trace::on && type_of(block) == type_id::paren) trace::paren_node = node;
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

namespace {
// The expression at `index` through its cached shape when every step of it is pure: answers the
// index after it, or no_fast when the general path must take it from the start.
u32 step_slow(u32 node, u32 index, bool no_infix, bool push, bool no_call, cell* start);
u32 operators(u32 node, u32 index, bool push, cell* start);

// A function's body has run: a `return` or `exit` meant for it ends there, its value the result.
inline void take_return() {
    if (pending == throw_code::return_ || pending == throw_code::exit_) {
        if (pending == throw_code::return_) *stack::result() = *pending_value_slot;
        else init_unset(stack::result());
        stack::top = stack::arguments + 1;
        pending = 0;
    }
}

// Whether a word's value may be an infix operator (unbound words and those of contexts whose
// values are not at hand count as may-be).
inline bool names_operator(const cell* code) {
    if (code->w3 == context::unbound || !code->w1) return true;
    cell* c = head_cell(buffer_of(code->w1));
    if (!c->w2) return true;
    cell* base = (c->header & context::stack_flag)
                     ? arena::at<cell>(c->w2)
                     : reinterpret_cast<cell*>(data_start(buffer_of(c->w2)));
    return type_of(base + code->w3) == type_id::op;
}

// One argument expression, pushed: a pure chain, a value that stands for itself with no
// operator after it, or the general step.
inline u32 plain_argument(u32 node, u32 index) {
    cell* slot = stack::top;
    series_buffer* buf = buffer_of(node);
    const cell* code = head_cell(buf) + index;
    u32 len = used_bytes(buf) / static_cast<u32>(sizeof(cell));
    if (index + 1 >= len || type_of(code + 1) != type_id::word || !names_operator(code + 1)) {
        const cell* quick = simple_value(code);
        if (quick) {
            *slot = *quick;
            stack::top = slot + 1;
            if (stack::top >= stack::end) stack::overflow();
            return index + 1;
        }
    }
    u32 end = fast_expression(node, index, true, slot);
    if (end != no_fast) return end;
    return step_slow(node, index, false, true, false, slot);
}

[[gnu::noinline]] u32 dispatch_argument(code_view v, record* r, u32 node, u32 index, cell* slot) {
    return dispatch(v, r, node, index, true, slot, true);
}

// An argument taken within a view of its block, as long as nothing has run code since the view
// was taken: a value that stands for itself with no operator after it, or a pure chain. Answers
// the index after it (the value pushed), or no_fast when the general step must take it.
[[gnu::always_inline]] inline u32 argument_in_view(code_view& v, u32 node, u32 index,
                                                   cell* slot) {
    if (index >= v.len) return no_fast;
    const cell* code = v.code + index;
    u32 end = no_fast;
    const cell* quick = nullptr;
    if (index + 1 >= v.len || type_of(code + 1) != type_id::word) {
        quick = simple_value(code);
    } else if (index >= v.b->count || v.b->records[index].shape != code_cache::shape::chain ||
               !v.b->records[index].ops) {
        // Unless its record says an operator follows, look at the word after it.
        if (!names_operator(code + 1)) quick = simple_value(code);
    }
    if (quick) {
        *slot = *quick;
        end = index + 1;
    } else if (index < v.b->count) {
        record* r = current(v, index);
        if (r->shape == code_cache::shape::unknown) {
            analyse(v.b, index, v.len, v.code);
            r = v.b->records + index;
        }
        if (r->shape != code_cache::shape::chain) {
            // Another shape: taken as fast_expression would, the view spent.
            if (r->shape == code_cache::shape::generic) return no_fast;
            code_view taken = v;
            v.b = nullptr;
            return dispatch_argument(taken, r, node, index, slot);
        }
        end = pure_chain(v, index, slot, 0);
        // A paren's cache may have taken the place of this block's.
        if (v.b->node != node && !view_of(node, &v)) return no_fast;
        if (end == no_fast) return no_fast;
    } else {
        return no_fast;
    }
    stack::top = slot + 1;
    if (stack::top >= stack::end) stack::overflow();
    return end;
}

// gather_arguments for a call named by a word, not infix, without a path, whose arguments are
// all plain: the same steps without the walk over the descriptor's kinds. `view`, when given,
// is the caller's view of the code, current until an argument runs code.
[[gnu::noinline]] u32 call_plain(const cell* callable, const cell* name, u32 arguments, u32 extra,
                                 natives::native_fn entry, u32 node, u32 index, bool push,
                                 u8 control = code_cache::branch::none,
                                 code_view* view = nullptr) {
    runtime::check_stack();
    u32 t = type_of(callable);
    cell* place = stack::top;
    stack::push_value(callable);
    if (t == type_id::function) {
        stack::open_frame(name, frame_header::interpreted_function);
        call_frame* f = stack::frame_top - 1;
        f->function_context = callable->w1;
        f->saved_values = head_cell(buffer_of(callable->w1))->w2;
    } else {
        stack::open_frame(name, frame_header::interpreted_native);
    }
    u32 side = callable->w3;
    for (u32 k = 0; k < arguments; k++) {
        if (index >= code_length(node)) {
            // The general fetch raises the missing argument's error.
            u32 desc = (head_cell(buffer_of(side)) + function::side::descriptor)->w2;
            cell* d = head_cell(buffer_of(desc)) + 2 * k;
            cell ts = d[0], word = d[1];
            index = fetch_argument(name, &ts, &word, node, index, false);
            continue;
        }
        cell* slot = stack::top;
        u32 end = view ? argument_in_view(*view, node, index, slot) : no_fast;
        if (view && !view->b) view = nullptr; // code may have run
        if (end != no_fast) {
            index = end;
            if (pending) goto unwind;
        } else {
            view = nullptr; // the general step may run code
            index = plain_argument(node, index);
            if (pending) goto unwind;
        }
        {
            u32 desc = (head_cell(buffer_of(side)) + function::side::descriptor)->w2;
            cell* d = head_cell(buffer_of(desc)) + 2 * k;
            if (!typeset_has(d, type_of(slot))) raise_expect_arg(name, slot, d + 1);
        }
    }
    if (t == type_id::function) {
        if (extra) function::push_local_slots(extra);
        if (trace::active) {
            invoke_function(callable, 0, name);
        } else {
            // invoke_function's steps for an untraced call, with nothing looked up twice.
            head_cell(buffer_of(callable->w1))->w2 = arena::offset_of(stack::arguments);
            (stack::frame_top - 1)->header |= frame_header::return_target;
            cell body = head_cell(buffer_of(callable->w3))[function::side::body];
            evaluate_block(&body, true);
            take_return();
        }
    } else if (control) {
        // `if` and `either` as their entries would run: the chosen block evaluated into the
        // native's result slot.
        cell* condition = stack::arguments;
        u32 which = 1;
        if (control == code_cache::branch::either) {
            if (type_of(condition) == type_id::unset)
                error::raise(err::E("script", "no-return"));
            if (!is_truthy(condition)) which = 2;
        } else if (!is_truthy(condition)) {
            init_none(condition);
            stack::top = condition + 1;
            goto unwind;
        }
        cell block = condition[which];
        evaluate_block(&block, true);
        stack::top = stack::arguments + 1;
    } else {
        entry(no_refinements.data());
    }
unwind:
    if (t == type_id::function) stack::close_function_frame();
    else stack::close_frame();
    if (pending) return index;
    cell* value = stack::top - 1;
    if (push) {
        *place = *value;
        stack::top = place + 1;
    } else {
        cell v = *value;
        stack::set_single_result(&v);
    }
    return index;
}

// A chain whose operands may run code (parens, or words whose values are not integers): the
// steps of the general path, with the operators found through their records. Answers no_fast
// when its first operand is not one of those (nothing was done then).
[[gnu::noinline]] u32 mixed_chain(u32 node, u32 index, bool push, cell* start) {
    using namespace code_cache;
    code_view v;
    if (!view_of(node, &v) || index >= v.len || index >= v.b->count) return no_fast;
    record* r = current(v, index);
    if (r->operand == operand::paren) {
        cell paren = v.code[index];
        evaluate_block(&paren, false);
        emit(start, push, start);
        if (pending) return index + 1;
    } else {
        const cell* value = operand_value(r, v.code + index);
        if (!value) return no_fast;
        emit(value, push, start);
    }
    index++;
    cell* left = push ? start : stack::arguments;
    for (;;) {
        if (!view_of(node, &v) || index + 1 >= v.len || index + 1 >= v.b->count) break;
        record* w = current(v, index);
        if (type_of(v.code + index) != type_id::word) break;
        const cell* op = w->fast == 0xFF ? nullptr : word_cell(w, v.code + index);
        if (!op || op->header != w->guard_header || op->w1 != w->guard_w1) break;
        u32 fast = w->fast;
        cell right;
        record* x = current(v, index + 1);
        if (x->operand != operand::paren && pure_operand(v, index + 1, &right, 0) &&
            type_of(left) == type_id::integer &&
            type_of(&right) == type_id::integer && integer_op(fast, left, &right)) {
            stack::top = left + 1;
            index += 2;
            continue;
        }
        cell callable = *op;
        cell name = v.code[index];
        u32 source_type = (callable.header >> 16) & 0xFF;
        cell_ops::write_type(&callable, source_type);
        callable.header &= ~0x00FF0000u;
        if (x->operand == operand::paren) {
            // As the general right operand: the paren evaluated and pushed above the left one.
            cell paren = v.code[index + 1];
            stack::top = left + 1;
            evaluate_block(&paren, false);
            index += 2;
            if (pending) return index;
            stack::top = left + 2;
            apply_operator(&callable, &name, static_cast<i32>(fast), left);
            continue;
        }
        if (x->operand == operand::word) {
            // A call as the right operand, pushed above the left one.
            stack::top = left + 1;
            u32 end = fast_call(node, index + 1, true);
            if (end != no_fast) {
                index = end;
                if (pending) return index;
                stack::top = left + 2;
                apply_operator(&callable, &name, static_cast<i32>(fast), left);
                continue;
            }
        }
        stack::top = left;
        index = binary_operator(&callable, &name, static_cast<i32>(fast), left, node, index + 1);
        if (pending) return index;
    }
    return operators(node, index, push, start);
}

// The call record at `index`, when that is what the expression there is.
u32 fast_call(u32 node, u32 index, bool push) {
    using namespace code_cache;
    code_view v;
    if (!view_of(node, &v)) return no_fast;
    record* r = record_of(v, index);
    if (!r) return no_fast;
    if (r->shape == shape::unknown) {
        analyse(v.b, index, v.len, v.code);
        r = v.b->records + index;
    }
    if (r->shape != shape::call) return no_fast;
    const cell* f = word_cell(r, v.code + index);
    if (!f || f->header != r->guard_header || f->w1 != r->guard_w1 || f->w3 != r->guard_w3)
        return no_fast;
    cell callable = *f;
    cell name = v.code[index];
    return call_plain(&callable, &name, r->arguments, r->extra, r->entry, node, index + 1, push);
}

// The pure chains and assignments from `index` on, each value landing at `start`; answers the
// index of the first expression that is not one (`index` when none was).
// *stop is then the record of that expression (null when there is none to use).
[[gnu::noinline]] u32 pure_run(u32 node, u32 index, cell* start, code_view* view, record** stop) {
    using namespace code_cache;
    *stop = nullptr;
    code_view& v = *view;
    if (!view_of(node, &v)) return index;
    while (index < v.len && index < v.b->count) {
        record* r = current(v, index);
        if (r->shape == shape::unknown) {
            analyse(v.b, index, v.len, v.code);
            r = v.b->records + index;
        }
        u8 form = r->shape;
        *stop = r;
        if (form != shape::chain && form != shape::assign) break;
        u32 end = pure_chain(v, form == shape::chain ? index : index + 1, start, 0);
        // A paren's cache may have taken this block's place meanwhile.
        if (v.b->node != node) {
            *stop = nullptr;
            if (end == no_fast || !view_of(node, &v)) break;
        }
        r = v.b->records + index;
        *stop = r;
        if (end == no_fast) break;
        if (form == shape::assign) {
            if (r->where != where::stack && r->where != where::plain) break;
            cell* target = value_at(r, v.code + index);
            if (!target) break;
            *target = *start;
        }
        index = end;
        *stop = nullptr;
    }
    return index;
}

// A set-word whose value runs code: the general set-word step, its value taken as a mixed
// chain.
[[gnu::noinline]] u32 mixed_assign(u32 node, u32 index, bool push, cell* start) {
    runtime::check_stack();
    cell word = *code_at(node, index);
    stack::open_frame(&word, frame_header::interpreted_native);
    stack::push_value(&word);
    if (index + 1 >= code_length(node)) error::raise(err::E("script", "need-value"), &word);
    cell* slot = stack::top;
    u32 end = mixed_chain(node, index + 1, true, slot);
    if (end == no_fast) end = step_expression(node, index + 1, false, true);
    if (pending) {
        stack::close_frame();
        return end;
    }
    assign_word(&word);
    if (trace::on)
        trace::send(trace::event::set, node, static_cast<i32>(end), stack::arg(1), &word);
    stack::close_frame();
    emit(start, push, start);
    return end;
}

// A shape that could not be taken goes the general way from then on (until its cells change).
[[gnu::noinline]] u32 demote(code_view v, u32 node, u32 index) {
    if (v.b->node == node && index < v.b->count &&
        v.b->records[index].shape != code_cache::shape::unknown)
        v.b->records[index].shape = code_cache::shape::generic;
    return no_fast;
}

u32 fast_expression(u32 node, u32 index, bool push, cell* start, bool calls) {
    using namespace code_cache;
    code_view v;
    if (!view_of(node, &v)) return no_fast;
    record* r = record_of(v, index);
    if (!r) return no_fast;
    if (r->shape == shape::unknown) {
        analyse(v.b, index, v.len, v.code);
        r = v.b->records + index;
    }
    return dispatch(v, r, node, index, push, start, calls);
}

// The expression whose current, worked-out record is `r`, by its shape.
[[gnu::always_inline]] inline u32 dispatch(code_view v, record* r, u32 node, u32 index, bool push, cell* start,
                                           bool calls) {
    using namespace code_cache;
    switch (r->shape) {
    case shape::chain: {
        u32 end = pure_chain(v, index, start, 0);
        if (end == no_fast) {
            if (!calls) return no_fast;
            // Not pure this time: taken as a mixed chain from now on.
            record* again = v.b->node == node && index < v.b->count ? v.b->records + index
                                                                    : nullptr;
            if (again && again->shape == shape::chain) again->shape = shape::mixed;
            return mixed_chain(node, index, push, start);
        }
        if (push) {
            stack::top = start + 1;
            if (stack::top >= stack::end) stack::overflow();
        } else {
            cell value = *start;
            stack::set_single_result(&value);
        }
        return end;
    }
    case shape::mixed:
        if (!calls) return no_fast;
        return mixed_chain(node, index, push, start);
    case shape::mixed_assign:
        if (!calls) return no_fast;
        return mixed_assign(node, index, push, start);
    case shape::assign: {
        // A set-word whose value is a pure chain: nothing can fail, so its frame would never
        // be seen.
        cell* slot = stack::top;
        if (slot + 1 >= stack::end) return no_fast;
        u32 end = pure_chain(v, index + 1, slot, 0);
        if (end == no_fast) {
            if (!calls) return no_fast;
            record* again = v.b->node == node && index < v.b->count ? v.b->records + index
                                                                    : nullptr;
            if (again && again->shape == shape::assign) again->shape = shape::mixed_assign;
            return mixed_assign(node, index, push, start);
        }
        r = v.b->records + index;
        if (r->where != where::stack && r->where != where::plain) return no_fast;
        cell* target = code_cache::value_at(r, v.code + index);
        if (!target) return no_fast;
        *target = *slot;
        if (push) {
            if (slot != start) *start = *slot;
            stack::top = start + 1;
        } else {
            cell value = *slot;
            stack::set_single_result(&value);
        }
        return end;
    }
    case shape::call: {
        if (!calls) return no_fast;
        const cell* f = word_cell(r, v.code + index);
        if (!f || f->header != r->guard_header || f->w1 != r->guard_w1 || f->w3 != r->guard_w3)
            return demote(v, node, index);
        cell callable = *f;
        cell name = v.code[index];
        u32 end = call_plain(&callable, &name, r->arguments, r->extra, r->entry, node, index + 1,
                             push, r->control, &v);
        // Operators after the call take its value as their left operand (`f < 3` with f a
        // function of no arguments), as on the general path.
        if (pending || end >= code_length(node) ||
            type_of(code_at(node, end)) != type_id::word)
            return end;
        return operators(node, end, push, start);
    }
    default: return no_fast;
    }
}
} // namespace

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

namespace {
[[gnu::noinline]] u32 step_slow(u32 node, u32 index, bool no_infix, bool push, bool no_call,
                                cell* start) {
    {
    const cell* quick = trace::on ? nullptr : simple_value(code_at(node, index));
    if (quick) {
        emit(quick, push, start);
        index++;
    } else {
        index = step_general(node, index, push, no_call, start);
        if (pending) return index;
    }
    }
    if (no_infix) return index;
    return operators(node, index, push, start);
}

// Operators take the value just computed as their left operand, left to right.
u32 operators(u32 node, u32 index, bool push, cell* start) {
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
        // Without a right operand the ordinary call reports the missing argument.
        if (fast >= 0 && index + 1 < code_length(node)) {
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
} // namespace

u32 step_expression(u32 node, u32 index, bool no_infix, bool push, bool no_call) {
    cell* start = stack::top;
    if (!trace::on && !no_infix) {
        u32 reached = fast_expression(node, index, push, start);
        if (reached != no_fast) return reached;
    }
    return step_slow(node, index, no_infix, push, no_call, start);
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
    // The call. Its event names it by the path written, or by the function itself when no word
    // names it; the library's own calls are not shown.
    if (trace::on && !(buffer_of(node)->flags & buffer_flag::library_code)) {
        const cell* ref = path ? path : name.w2 == sym::anon ? &callable : &name;
        trace::send(trace::event::call, 0, -1, &callable, ref);
        if (pending) goto unwind;
    }
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
    // Only a header that switched tracing puts it back, and not over a `trace <logic>` made
    // meanwhile: that one lasts past the return of the function that called it.
    struct restore_tracing {
        bool switched = false;
        bool was = trace::on;
        u32 switches = trace::switches;
        ~restore_tracing() {
            if (switched && switches == trace::switches) trace::on = was;
        }
    } restore;
    if (!trace::in_tracer) {
        if (fn->header & (function::flag::trace | function::flag::no_trace)) {
            restore.switched = true;
            trace::on = fn->header & function::flag::trace;
        }
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
    take_return();
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
