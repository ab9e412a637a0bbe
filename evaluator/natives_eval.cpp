// Evaluation natives: do, reduce, compose and apply. Values they build stay on the data stack
// while code runs, so that a collection keeps them.
#include "datatypes/basic.hpp"
#include "datatypes/context.hpp"
#include "datatypes/error.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/descriptor.hpp"
#include "evaluator/native_families.hpp"
#include "evaluator/natives_common.hpp"
#include "evaluator/trace.hpp"
#include "lexer/lexer.hpp"
#include "runtime/memory.hpp"
#include "runtime/process.hpp"

namespace zel::natives {

namespace {
using stack::arg;

u32 length_of(const cell* block) {
    return used_units(buffer_of(block->w2));
}

cell new_block(u32 room, u32 type = type_id::block) {
    return cell{type, 0, memory::new_cell_series(room ? room : 1), 0};
}

bool is_callable(u32 t) {
    return t == type_id::native || t == type_id::action || t == type_id::function ||
           t == type_id::routine || t == type_id::op;
}

// Evaluates a value that is not a block as one expression, no callable value being called;
// the value becomes the current frame's result.
void evaluate_single(const cell* value) {
    cell code = new_block(1);
    cell* holder = stack::push_value(&code);
    *memory::append_cell_slot(holder) = *value;
    interp::step_expression(holder->w2, 0, false, false, true);
}

// ---- do ------------------------------------------------------------------------------------

// A library function of the global context called with values, refinements absent.
void call_library(u32 symbol, const cell* a, const cell* b, const cell* c = nullptr) {
    cell word = context::global_word(symbol);
    cell* fn = word_value_or_null(&word);
    if (!fn || is_unset(fn)) error::raise(err::E("script", "no-value"), &word);
    cell callable = *fn;
    stack::push_value(&callable);
    stack::push_value(a);
    stack::push_value(b);
    if (c) stack::push_value(c);
    interp::call_with_arguments(&callable, c ? 3 : 2, &word);
    if (interp::pending) return;
    *arg(0) = stack::top[-1];
}

// The block expanded by the library's preprocessor.
cell expand(const cell* block) {
    cell path = new_block(2, type_id::path);
    cell* holder = stack::push_value(&path);
    *memory::append_cell_slot(holder) = context::global_word(sym::preprocessor);
    *memory::append_cell_slot(holder) = cell{type_id::word, 0, sym::expand, context::unbound};
    // preprocessor/expand block none: no job, macros of earlier expansions kept.
    cell code = new_block(3);
    cell* code_holder = stack::push_value(&code);
    *memory::append_cell_slot(code_holder) = *holder;
    *memory::append_cell_slot(code_holder) = *block;
    *memory::append_cell_slot(code_holder) = cell{type_id::none, 0, 0, 0};
    interp::step_expression(code_holder->w2, 0, false, true);
    cell result = stack::top[-1];
    if (type_of(&result) != type_id::block) {
        cell expected, got;
        init_datatype(&expected, type_id::block);
        init_datatype(&got, type_of(&result));
        error::raise(err::E("script", "expect-val"), &expected, &got);
    }
    return result;
}

void do_block(const i32* refs, cell block) {
    if (block.w1 > length_of(&block)) block.w1 = length_of(&block);
    cell* kept = stack::push_value(&block);
    if (refs[0] >= 0) {
        block = expand(kept);
        if (interp::pending) return;
        *kept = block;
    }
    if (refs[2] >= 0) {
        cell position = *arg(static_cast<u32>(refs[2]));
        u32 next = interp::step_for_do_next(kept);
        if (interp::pending) return;
        cell after = *kept;
        after.w1 = next;
        set_word(&position, &after);
    } else {
        interp::evaluate_block(kept, true);
    }
}

void do_value(const i32* refs) {
    cell value = *arg(0);
    switch (type_of(&value)) {
    case type_id::block:
    case type_id::paren:
    case type_id::hash:
        do_block(refs, value);
        break;
    case type_id::string: {
        cell loaded;
        lexer::transcode_string(&loaded, &value, -1, lexer::scan_options{}, nullptr);
        do_block(refs, loaded);
        break;
    }
    case type_id::file:
    case type_id::url: {
        // do-file takes the file, a trace callback (none: a trace is already running when
        // one was asked for) and the script's arguments.
        cell args = refs[1] >= 0 ? *arg(static_cast<u32>(refs[1])) : cell{type_id::none, 0, 0, 0};
        cell no_callback{type_id::none, 0, 0, 0};
        call_library(sym::do_file, &value, &no_callback, &args);
        break;
    }
    case type_id::error: {
        cell* code = error::field_of(&value, error::field::code);
        error::raise_value(&value, is(code, type_id::integer) ? static_cast<u32>(int_of(code)) : 0);
    }
    default:
        evaluate_single(&value);
        break;
    }
    keep_result();
}

void do_(const i32* refs) {
    bool traced = refs[3] >= 0 && type_of(arg(static_cast<u32>(refs[3]))) == type_id::function &&
                  trace::start(arg(static_cast<u32>(refs[3])));
    if (!traced) {
        do_value(refs);
        return;
    }
    try {
        do_value(refs);
    } catch (const unwind& u) {
        trace::stop_unwinding(u.code);
        throw;
    }
    trace::stop();
    keep_result();
}

// ---- reduce and compose --------------------------------------------------------------------

// Where reduce and compose put their values: a new block, or /into's block (appended to when it
// is at its tail, else inserted into at its position).
struct output {
    cell* target; // on the data stack; for insertion its index is the next insertion point
    bool fresh;
    bool at_tail;

    void add(const cell* value, bool splice) {
        if (fresh) {
            if (splice) {
                cell from = *value;
                for (u32 i = from.w1; i < length_of(&from); i++)
                    *memory::append_cell_slot(target) = head_cell(buffer_of(from.w2))[i];
            } else {
                cell v = *value;
                *memory::append_cell_slot(target) = v;
            }
            return;
        }
        cell* saved = stack::top;
        cell* v = stack::push_value(value);
        cell* position = stack::push_value(target);
        if (at_tail) {
            actions::handler_of_value<act::slot::append>(position)(position, v, -1, !splice, 1,
                                                                   true);
        } else {
            actions::handler_of_value<act::slot::insert>(position)(position, v, -1, !splice, 1,
                                                                   false);
            target->w1 = position->w1;
        }
        stack::top = saved;
    }
};

// Pushes the output cell; answers the output.
output open_output(const cell* into, u32 room) {
    if (into) {
        cell* target = stack::push_value(into);
        return {target, false, target->w1 >= length_of(target)};
    }
    cell fresh = new_block(room);
    return {stack::push_value(&fresh), true, true};
}

void reduce(const i32* refs) {
    cell value = *arg(0);
    const cell* into = refs[0] >= 0 ? arg(static_cast<u32>(refs[0])) : nullptr;
    cell result = into ? *into : cell{};
    u32 t = type_of(&value);
    if (is_callable(t)) {
        keep_result();
        return;
    }
    if (t != type_id::block) {
        evaluate_single(&value);
        if (interp::pending || !into) {
            keep_result();
            return;
        }
        cell v = *arg(0);
        output out = open_output(into, 0);
        out.add(&v, false);
        *arg(0) = result;
        keep_result();
        return;
    }
    u32 index = value.w1;
    u32 n = length_of(&value);
    output out = open_output(into, index < n ? n - index : 0);
    if (!into) result = *out.target;
    cell* base = stack::top;
    while (index < length_of(&value)) {
        stack::top = base;
        index = interp::reduce_one(&value, index, true);
        if (interp::pending) return;
        out.add(base, false);
    }
    *arg(0) = result;
    keep_result();
}

void compose_into(const cell* source, output& out, bool deep, bool only) {
    runtime::check_stack();
    cell src = *source;
    for (u32 i = src.w1; i < length_of(&src); i++) {
        cell e = head_cell(buffer_of(src.w2))[i];
        u32 t = type_of(&e);
        if (t == type_id::block && deep) {
            cell* saved = stack::top;
            output nested = open_output(nullptr, length_of(&e));
            compose_into(&e, nested, true, only);
            if (interp::pending) return;
            cell composed = *nested.target;
            out.add(&composed, false);
            stack::top = saved;
        } else if (t == type_id::paren) {
            if (e.w1 >= length_of(&e)) continue;
            cell* saved = stack::top;
            interp::evaluate_block(&e, false);
            if (interp::pending) return;
            cell* v = stack::top - 1;
            u32 vt = type_of(v);
            bool block = vt == type_id::block;
            bool empty = block && v->w1 >= length_of(v);
            if (vt != type_id::unset && !(empty && !only)) out.add(v, block && !only);
            stack::top = saved;
        } else {
            out.add(&e, false);
        }
    }
}

void compose(const i32* refs) {
    cell value = *arg(0);
    if (type_of(&value) != type_id::block) {
        cell expected, got;
        init_datatype(&expected, type_id::block);
        init_datatype(&got, type_of(&value));
        error::raise(err::E("script", "expect-val"), &expected, &got);
    }
    const cell* into = refs[2] >= 0 ? arg(static_cast<u32>(refs[2])) : nullptr;
    cell result = into ? *into : cell{};
    u32 n = length_of(&value);
    output out = open_output(into, value.w1 < n ? n - value.w1 : 0);
    if (!into) result = *out.target;
    compose_into(&value, out, refs[0] >= 0, refs[1] >= 0);
    if (interp::pending) return;
    *arg(0) = result;
    keep_result();
}

// ---- apply ---------------------------------------------------------------------------------

// The values of the call (a block, taken as they stand) and the refinements it uses (a path of
// words), gathered from the args block and the spec before the call is made.
struct application {
    cell callable;
    cell name;
    u32 desc;
    cell args;
    u32 index;
    cell* values;      // block on the data stack
    cell* refinements; // path on the data stack

    cell* entry(u32 k) const { return head_cell(buffer_of(desc)) + k; }
    u32 entries() const { return used_units(buffer_of(desc)) - 1; } // the count cell excluded
    bool at_tail() const { return index >= length_of(&args); }

    // Evaluates the next expression of args; answers the value (on top of the stack).
    cell* next_value() {
        index = interp::reduce_one(&args, index, true);
        return stack::top - 1;
    }
    void keep_value(const cell* v) {
        cell c = *v;
        *memory::append_cell_slot(values) = c;
    }
    void use_refinement(u32 symbol) {
        *memory::append_cell_slot(refinements) = cell{type_id::word, 0, symbol, context::unbound};
    }
    i32 find_refinement(u32 symbol) const {
        u32 c = symbol::canonical_id(symbol);
        for (u32 k = 0; k < entries(); k++)
            if (type_of(entry(k)) == type_id::refinement && symbol::canonical_id(entry(k)->w2) == c)
                return static_cast<i32>(k);
        return -1;
    }
    [[noreturn]] void no_refine(const cell* word) {
        cell w = *word;
        w.header = type_id::word;
        error::raise(err::E("script", "no-refine"), &name, &w);
    }
    // The arguments of the refinement at k: evaluated and kept when used; when unused, skipped
    // one value each (safer) or evaluated and dropped. A missing one is none! when `lenient`.
    bool refinement_arguments(u32 k, bool used, bool safer, bool lenient) {
        cell* base = stack::top;
        for (k++; k < entries() && type_of(entry(k)) == type_id::typeset; k += 2) {
            if (descriptor::kind_of(entry(k)) == descriptor::kind::return_) continue;
            if (at_tail()) {
                if (!lenient) {
                    cell w = *entry(k + 1);
                    w.header = type_id::word;
                    error::raise(err::E("script", "no-arg"), &name, &w);
                }
                if (used) keep_value(&none_cell);
                continue;
            }
            if (!used && safer) {
                index++;
                continue;
            }
            cell* v = next_value();
            if (interp::pending) return false;
            if (used) keep_value(v);
            stack::top = base;
        }
        return true;
    }
    static constexpr cell none_cell{type_id::none, 0, 0, 0};
};

// Whether the func path names the refinement (a get-word names it when its value is truthy).
bool named_in_path(const cell* path, u32 from, u32 symbol) {
    if (!path) return false;
    u32 c = symbol::canonical_id(symbol);
    for (u32 p = from; p < length_of(path); p++) {
        cell element = head_cell(buffer_of(path->w2))[p];
        if (symbol::canonical_id(element.w2) != c) continue;
        if (type_of(&element) != type_id::get_word) return true;
        cell* v = word_value_or_null(&element);
        return v && is_truthy(v);
    }
    return false;
}

// The refinements named in the func path, in the order written, each with its arguments.
bool path_refinements(application& a, const cell* path, u32 from, bool safer) {
    for (u32 p = from; p < length_of(path); p++) {
        cell element = head_cell(buffer_of(path->w2))[p];
        u32 et = type_of(&element);
        if (et != type_id::word && et != type_id::get_word && et != type_id::refinement)
            a.no_refine(&element);
        i32 k = a.find_refinement(element.w2);
        if (k < 0) a.no_refine(&element);
        bool used = true;
        if (et == type_id::get_word) {
            cell* v = word_value_or_null(&element);
            used = v && is_truthy(v);
        }
        if (used) a.use_refinement(element.w2);
        if (!a.refinement_arguments(static_cast<u32>(k), used, safer, false)) return false;
    }
    return true;
}

// The function to apply: a function value, or the value of a word or of a path's first word.
cell resolve_function(const cell* func, cell* name, const cell** path, u32* path_from) {
    cell f = *func;
    u32 ft = type_of(&f);
    cell callable = f;
    if (ft == type_id::word || ft == type_id::path) {
        cell head = f;
        if (ft == type_id::path) {
            if (f.w1 >= length_of(&f)) error::raise(err::E("script", "invalid-arg"), &f);
            head = head_cell(buffer_of(f.w2))[f.w1];
            if (type_of(&head) != type_id::word) error::raise(err::E("script", "invalid-arg"), &f);
            *path = func;
            *path_from = f.w1 + 1;
        }
        cell* v = word_value_or_null(&head);
        if (!v) error::raise(err::E("script", "invalid-arg"), &f);
        callable = *v;
        *name = head;
    }
    if (!is_callable(type_of(&callable))) error::raise(err::E("script", "invalid-arg"), &f);
    if (type_of(&callable) == type_id::op) {
        // An operator is called as the function it was made from.
        cell_ops::write_type(&callable, (callable.header >> 16) & 0xFF);
        callable.header &= ~0x00FF0000u;
    }
    return callable;
}

void apply(const i32* refs) {
    bool all = refs[0] >= 0, safer = refs[1] >= 0;
    cell name{type_id::word, 0, sym::anon, context::unbound};
    const cell* path = nullptr;
    u32 path_from = 0;
    cell callable = resolve_function(arg(0), &name, &path, &path_from);
    cell* kept = stack::push_value(&callable);
    cell values = new_block(8);
    cell* values_slot = stack::push_value(&values);
    cell refinements = new_block(4, type_id::path);
    cell* refinements_slot = stack::push_value(&refinements);
    application a{*kept,      name,        descriptor::of(kept), *arg(1),
                  arg(1)->w1, values_slot, refinements_slot};
    cell* base = stack::top;
    u32 k = 0;
    // Normal arguments: one expression each, in spec order.
    for (; k < a.entries() && type_of(a.entry(k)) == type_id::typeset; k += 2) {
        if (descriptor::kind_of(a.entry(k)) == descriptor::kind::return_) continue;
        if (a.at_tail()) {
            if (all) {
                a.keep_value(&application::none_cell);
                continue;
            }
            cell w = *a.entry(k + 1);
            w.header = type_id::word;
            error::raise(err::E("script", "no-arg"), &a.name, &w);
        }
        cell* v = a.next_value();
        if (interp::pending) return;
        a.keep_value(v);
        stack::top = base;
    }
    if (all) {
        // Every refinement in spec order, used by the truth of its value (false past the tail)
        // or because the func path names it.
        for (; k < a.entries(); k++) {
            if (type_of(a.entry(k)) != type_id::refinement) continue;
            bool used = false;
            if (!a.at_tail()) {
                cell* v = a.next_value();
                if (interp::pending) return;
                used = is_truthy(v);
                stack::top = base;
            }
            used = used || named_in_path(path, path_from, a.entry(k)->w2);
            if (used) a.use_refinement(a.entry(k)->w2);
            if (!a.refinement_arguments(k, used, safer, true)) return;
        }
    } else {
        if (path && !path_refinements(a, path, path_from, safer)) return;
        // Refinement! values, each followed by its arguments.
        while (!a.at_tail()) {
            cell* v = a.next_value();
            if (interp::pending) return;
            cell r = *v;
            stack::top = base;
            if (type_of(&r) != type_id::refinement)
                error::raise(err::E("script", "invalid-arg"), &r);
            i32 at = a.find_refinement(r.w2);
            if (at < 0) a.no_refine(&r);
            a.use_refinement(r.w2);
            if (!a.refinement_arguments(static_cast<u32>(at), true, safer, false)) return;
        }
    }
    cell call = *kept;
    bool any_refinement = length_of(refinements_slot) > 0;
    interp::gather_arguments(&call, values_slot->w2, 0, false, &a.name, 0,
                             any_refinement ? refinements_slot : nullptr, 0, false,
                             interp::apply_mode::values);
}

const families::entry table[] = {
    {"do", do_},
    {"reduce", reduce},
    {"compose", compose},
    {"apply", apply},
};
} // namespace

std::span<const families::entry> families::evaluation() {
    return table;
}

} // namespace zel::natives
