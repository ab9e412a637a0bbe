// Loop natives: while, until, loop, repeat, forever, foreach, forall and remove-each. Each runs
// its passes inside a loop frame, the receiver of break and continue; a pass costs one block
// evaluation and no allocation. The loop frame's result slot starts as none!, so a loop whose
// body never runs answers none!.
#include <cmath>

#include "datatypes/basic.hpp"
#include "datatypes/context.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/native_families.hpp"
#include "evaluator/natives_common.hpp"
#include "runtime/memory.hpp"

namespace zel::natives {

namespace {
using stack::arg;

u32 length_of(const cell* series) {
    return used_units(buffer_of(series->w2));
}

bool checked_truth(const cell* value) {
    if (is_unset(value)) error::raise(err::E("script", "no-return"));
    return is_truthy(value);
}

// Opens the loop frame with none! in its result slot; answers the first cell above the slot.
cell* open_loop() {
    cell body = plain_word(sym::body);
    stack::open_loop_frame(&body);
    init_none(stack::reserve_slot());
    return stack::top;
}

void close_loop() {
    stack::close_frame_pass_result();
    keep_result();
}

// A pass: the body's value goes to the loop frame's result slot.
inline bool pass(const cell* body, cell* base) {
    stack::top = base;
    interp::evaluate_block(body, true);
    return loop_must_end();
}

// A loop count as an integer: a float! is truncated toward zero and saturates at the limits of
// integer!; NaN counts nothing sensible and raises `type-limit`.
i32 loop_count(const cell* count) {
    if (type_of(count) == type_id::integer) return int_of(count);
    double d = float_of(count);
    if (std::isnan(d)) {
        cell t;
        init_datatype(&t, type_id::integer);
        error::raise(err::E("script", "type-limit"), &t);
    }
    if (d >= 2147483647.0) return 2147483647;
    if (d <= -2147483648.0) return -2147483647 - 1;
    return static_cast<i32>(d);
}

void while_(const i32*) {
    cell cond = *arg(0);
    cell body = *arg(1);
    cell* base = open_loop();
    for (;;) {
        stack::top = base;
        interp::evaluate_block(&cond, false);
        if (u32 p = interp::pending) {
            if (p == throw_code::break_ || p == throw_code::continue_) {
                interp::pending = 0;
                error::raise(err::E("throw", "while-cond"));
            }
            break;
        }
        if (!checked_truth(base)) {
            init_unset(stack::result());
            break;
        }
        if (pass(&body, base)) break;
    }
    close_loop();
}

void until(const i32*) {
    cell body = *arg(0);
    cell* base = open_loop();
    for (;;) {
        stack::top = base;
        interp::evaluate_block(&body, true);
        if (interp::pending) {
            if (loop_must_end()) break;
            continue; // a continued pass is not tested
        }
        if (checked_truth(stack::result())) break;
    }
    close_loop();
}

void loop(const i32*) {
    i32 count = loop_count(arg(0));
    if (count < 1) {
        init_none(arg(0));
        keep_result();
        return;
    }
    cell body = *arg(1);
    cell* base = open_loop();
    for (i32 i = 0; i < count; i++)
        if (pass(&body, base)) break;
    close_loop();
}

// Sets the word of a loop (repeat's counter, foreach's element): straight into its slot when
// nothing watches that context (a function's or the global one, as a set-word does), else as
// `set` would.
inline void set_loop_word(const cell* word, const cell* value) {
    if (word->w1 && word->w3 != context::unbound) {
        cell* c = head_cell(buffer_of(word->w1));
        if (c->w2 && ((c->header >> 11) & 3) != context::kind::object) {
            cell* base = (c->header & context::stack_flag)
                             ? arena::at<cell>(c->w2)
                             : reinterpret_cast<cell*>(data_start(buffer_of(c->w2)));
            base[word->w3] = *value;
            return;
        }
    }
    set_word(word, value);
}

inline void set_counter(const cell* word, i32 i) {
    cell counter;
    init_integer(&counter, i);
    set_loop_word(word, &counter);
}

void repeat(const i32*) {
    i32 count = loop_count(arg(1));
    if (count < 1) {
        init_none(arg(0));
        keep_result();
        return;
    }
    cell word = *arg(0);
    cell body = *arg(2);
    cell* base = open_loop();
    for (i32 i = 1;; i++) {
        set_counter(&word, i);
        if (pass(&body, base) || i == count) break;
    }
    close_loop();
}

void forever(const i32*) {
    cell body = *arg(0);
    cell* base = open_loop();
    for (;;) {
        stack::top = base;
        interp::evaluate_block(&body, false);
        if (interp::pending) {
            if (loop_must_end()) break;
        }
    }
    close_loop();
}

// ---- foreach and remove-each ----------------------------------------------------------------

[[noreturn]] void invalid_arg(const cell* value) {
    cell v = *value;
    error::raise(err::E("script", "invalid-arg"), &v);
}

// The number of words a pass sets: 1 for a word, the length of a words block.
u32 words_count(const cell* words) {
    if (type_of(words) != type_id::block) return 1;
    u32 n = length_of(words);
    if (words->w1 >= n) invalid_arg(words);
    return n - words->w1;
}

// The element of a series at a unit index (none! past the tail).
void element_at(const cell* series, u32 index, cell* out) {
    if (index >= length_of(series)) {
        init_none(out);
        return;
    }
    if (is_any_block_type(type_of(series))) {
        *out = head_cell(buffer_of(series->w2))[index];
        return;
    }
    cell* scratch = stack::push_value(series);
    scratch->w1 = index;
    cell position;
    init_integer(&position, 1);
    cell* picked = actions::handler_of_value<act::slot::pick>(scratch)(scratch, 1, &position);
    *out = *picked;
    stack::drop_values(1);
}

void check_word_entry(const cell* entry) {
    u32 t = type_of(entry);
    if (t != type_id::word && t != type_id::set_word && t != type_id::get_word &&
        t != type_id::lit_word)
        invalid_arg(entry);
}

// Sets the loop word(s) from the series at its position, which then advances by the count.
void take_elements(const cell* words, cell* series, u32 count) {
    u32 at = series->w1;
    if (type_of(words) != type_id::block) {
        cell value;
        element_at(series, at, &value);
        series->w1 = at + 1;
        set_word(words, &value);
        return;
    }
    series->w1 = at + count;
    if (is_any_block_type(type_of(series))) {
        cell position = *series;
        position.w1 = at;
        assign_block(words, &position, false, false, false);
        return;
    }
    for (u32 i = 0; i < count; i++)
        check_word_entry(head_cell(buffer_of(words->w2)) + words->w1 + i);
    for (u32 i = 0; i < count; i++) {
        cell value;
        element_at(series, at + i, &value);
        cell word = head_cell(buffer_of(words->w2))[words->w1 + i];
        set_word(&word, &value);
    }
}

// An image's pixels are walked, but not removed: image! has no remove.
void check_walkable(const cell* series) {
    if (type_of(series) == type_id::image) error::raise(err::E("internal", "not-done"));
}

// foreach over a map!: a key word and a value word per entry, in insertion order. The entries
// are read from the key/value block, whose removed entries have a value cell of header 0; keys
// are kept as set-words and given back as words.
void foreach_map(const cell* words, const cell* body) {
    if (type_of(words) != type_id::block) invalid_arg(arg(1));
    if (words_count(words) != 2) invalid_arg(words);
    cell pairs{type_id::block, 0, arg(1)->w2, 0};
    cell* position = stack::push_value(&pairs);
    cell* base = open_loop();
    cell key_word = head_cell(buffer_of(words->w2))[words->w1];
    cell value_word = head_cell(buffer_of(words->w2))[words->w1 + 1];
    check_word_entry(&key_word);
    check_word_entry(&value_word);
    for (;;) {
        u32 at = position->w1;
        if (at + 1 >= length_of(position)) break;
        position->w1 = at + 2;
        cell key = head_cell(buffer_of(position->w2))[at];
        cell value = head_cell(buffer_of(position->w2))[at + 1];
        if (value.header == 0) continue;
        if (type_of(&key) == type_id::set_word) cell_ops::write_type(&key, type_id::word);
        set_word(&key_word, &key);
        set_word(&value_word, &value);
        if (pass(body, base)) break;
    }
    close_loop();
}

void foreach (const i32*) {
    cell words = *arg(0);
    cell body = *arg(2);
    if (type_of(arg(1)) == type_id::map) {
        foreach_map(&words, &body);
        return;
    }
    u32 count = words_count(&words);
    stack::push_value(arg(1));
    cell* base = open_loop();
    cell* series = base - 2; // the position, kept below the loop frame
    if (type_of(&words) != type_id::block && is_any_block_type(type_of(series))) {
        // One word over a block: the common case, without the general element taker.
        for (;;) {
            u32 at = series->w1;
            if (at >= used_bytes(buffer_of(series->w2)) / sizeof(cell)) break;
            cell value = head_cell(buffer_of(series->w2))[at];
            series->w1 = at + 1;
            set_loop_word(&words, &value);
            if (pass(&body, base)) break;
        }
    } else {
        while (series->w1 < length_of(series)) {
            take_elements(&words, series, count);
            if (pass(&body, base)) break;
        }
    }
    close_loop();
}

void remove_each(const i32*) {
    cell words = *arg(0);
    u32 count = words_count(&words);
    check_walkable(arg(1));
    cell body = *arg(2);
    cell* series = stack::push_value(arg(1));
    cell part;
    init_integer(&part, static_cast<i32>(count));
    stack::push_value(&part);
    cell* base = open_loop();
    series = base - 3;
    while (series->w1 < length_of(series)) {
        u32 at = series->w1;
        take_elements(&words, series, count);
        stack::top = base;
        interp::evaluate_block(&body, true);
        if (interp::pending) {
            if (loop_must_end()) break;
            continue; // a continued pass removes nothing
        }
        if (!is_truthy(stack::result())) continue;
        cell* target = stack::push_value(series);
        target->w1 = at;
        cell* n = stack::push_value(&part);
        actions::handler_of_value<act::slot::remove>(target)(target, n, nullptr);
        series->w1 = at;
    }
    stack::close_frame();
    *arg(0) = *arg(1);
    keep_result();
}

// ---- forall ---------------------------------------------------------------------------------

bool forall_type(u32 t) {
    return is_any_block_type(t) || is_any_string_type(t) || t == type_id::binary ||
           t == type_id::vector || t == type_id::image;
}

void forall(const i32*) {
    cell word = *arg(0);
    cell* v = word_value_or_null(&word);
    if (!v || is_unset(v)) error::raise(err::E("script", "no-value"), &word);
    cell start = *v;
    if (!forall_type(type_of(&start))) {
        cell name = plain_word(sym::forall), type, arg_word = plain_word(sym::word);
        init_datatype(&type, type_of(&start));
        error::raise(err::E("script", "expect-arg"), &name, &type, &arg_word);
    }
    cell body = *arg(1);
    stack::push_value(&start);
    cell* base = open_loop();
    if (start.w1 < length_of(&start)) {
        for (;;) {
            if (pass(&body, base)) goto done;
            cell* current = word_value_or_null(&word);
            if (!current || type_of(current) != type_of(&start) || current->w2 != start.w2) {
                cell bad = current ? *current : unset::value;
                error::raise(err::E("script", "bad-loop-series"), &bad);
            }
            current->w1++;
            if (current->w1 >= length_of(current)) break;
        }
        set_word(&word, &start);
    }
done:
    close_loop();
}

const families::entry table[] = {
    {"while", while_},    {"until", until},     {"loop", loop},     {"repeat", repeat},
    {"forever", forever}, {"foreach", foreach}, {"forall", forall}, {"remove-each", remove_each},
};
} // namespace

std::span<const families::entry> families::loops() {
    return table;
}

} // namespace zel::natives
