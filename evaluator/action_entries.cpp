// The generic action table: one entry per action slot. Each entry reads its arguments from the
// current frame, turns each refinement into its handler's parameter (a flag, the refinement's
// first argument cell, or a count) and calls the handler of the first argument's type.
#include <climits>

#include "datatypes/context.hpp"
#include "datatypes/native.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/load_text.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"

namespace zel::actions {

namespace {
using stack::arg;
inline bool flag(const i32* r, u32 k) { return r[k] >= 0; }
inline cell* ref_cell(const i32* r, u32 k) { return r[k] >= 0 ? arg(static_cast<u32>(r[k])) : nullptr; }

template <u32 S> typename act::slot_type<S>::fn handler_of_first() {
    return handler_of_value<S>(arg(0));
}

void make_entry(const i32*, bool to) {
    cell* proto = arg(0);
    cell* spec = arg(1);
    u32 type = type_of(proto) == type_id::datatype ? proto->w1 : type_of(proto);
    auto h = to ? act::handler<act::slot::to>(type) : act::handler<act::slot::make>(type);
    if (!h) {
        cell t;
        init_datatype(&t, type);
        if (to) error::raise(err::E("script", "bad-to-arg"), &t, spec);
        error::raise(err::E("script", "bad-make-arg"), &t, spec);
    }
    cell* result = h(proto, spec, type);
    if (result != arg(0)) *arg(0) = *result;
    stack::top = stack::arguments + 1;
}
void make(const i32* r) { make_entry(r, false); }
void to(const i32* r) { make_entry(r, true); }

void random(const i32* r) {
    handler_of_first<act::slot::random>()(arg(0), flag(r, 0), flag(r, 1), flag(r, 2));
}

void reflect(const i32*) {
    cell* field = arg(1);
    if (!is_any_word_type(type_of(field))) error::raise(err::E("script", "invalid-arg"), field);
    handler_of_first<act::slot::reflect>()(arg(0), field->w2);
}

// The /part limit of form and mold, and the cut that applies it.
i32 part_limit(const i32* r, u32 k) {
    cell* part = ref_cell(r, k);
    if (!part) return INT32_MAX;
    return int_of(part) < 0 ? 0 : int_of(part);
}
void cut_to(cell* buffer, const i32* r, u32 k) {
    cell* part = ref_cell(r, k);
    if (!part) return;
    i32 n = int_of(part) < 0 ? 0 : int_of(part);
    series_buffer* b = buffer_of(buffer->w2);
    if (static_cast<u32>(n) < used_units(b)) b->tail = b->head + static_cast<u32>(n) * unit_of(b);
}

void form(const i32* r) {
    cell buffer;
    string::init_cell_bytes(&buffer, 16);
    cell* out = stack::push_value(&buffer);
    handler_of_first<act::slot::form>()(arg(0), out, ref_cell(r, 0), part_limit(r, 0));
    cut_to(out, r, 0);
    *arg(0) = *out;
    stack::top = stack::arguments + 1;
}

void mold(const i32* r) {
    cell buffer;
    string::init_cell_bytes(&buffer, 16);
    cell* out = stack::push_value(&buffer);
    handler_of_first<act::slot::mold>()(arg(0), out, flag(r, 0), flag(r, 1), flag(r, 2),
                                        ref_cell(r, 3), part_limit(r, 3), 0);
    cut_to(out, r, 3);
    *arg(0) = *out;
    stack::top = stack::arguments + 1;
}

void eval_path(const i32*) {
    path_step step;
    step.last = true;
    cell* result = handler_of_first<act::slot::eval_path>()(arg(0), arg(1), nullptr, step);
    *arg(0) = *result;
    stack::top = stack::arguments + 1;
}

void compare(const i32*) {
    cell* op = arg(2);
    // The op comes from the program: one that selects no comparison is its error, not a fault
    // of the runtime (sort's own ops 7 and 8 are not comparisons of this action).
    i32 n = int_of(op);
    if (n < 0 || n > 12 || n == 7 || n == 8) error::raise(err::E("script", "invalid-arg"), op);
    bool truth = actions::compare(arg(0), arg(1), n);
    init_logic(arg(0), truth);
    stack::top = stack::arguments + 1;
}

template <u32 S> void stack_action(const i32*) { handler_of_first<S>()(); }
template <u32 S> void value_action(const i32*) { handler_of_first<S>()(arg(0)); }

void round(const i32* r) {
    handler_of_first<act::slot::round>()(arg(0), ref_cell(r, 0), flag(r, 1), flag(r, 2),
                                         flag(r, 3), flag(r, 4), flag(r, 5), flag(r, 6));
}

bool has_buffer(u32 t) {
    return is_any_block_type(t) || is_any_string_type(t) || t == type_id::binary ||
           t == type_id::vector || t == type_id::image || t == type_id::map;
}

// /part of append, insert and change as a count (or -2 for "nothing to do"); /dup as a count.
bool part_and_dup(const i32* r, u32 part_k, u32 dup_k, i32& part, i32& dup) {
    part = -1;
    dup = 1;
    cell* value = arg(1);
    if (cell* p = ref_cell(r, part_k)) {
        u32 vt = type_of(value);
        if (!has_buffer(vt)) error::raise(err::E("script", "invalid-part"), p);
        u32 len = used_units(buffer_of(value->w2));
        if (value->w1 > len) value->w1 = len;
        if (type_of(p) == type_id::integer) {
            part = int_of(p);
        } else if (type_of(p) == vt && p->w2 == value->w2 && vt != type_id::port) {
            part = static_cast<i32>(p->w1) - static_cast<i32>(value->w1);
        } else {
            cell w{type_id::word, 0, sym::part, 0xFFFFFFFF};
            error::raise(err::E("script", "invalid-refine-arg"), &w, p);
        }
        if (part == 0 || (part < 0 && value->w1 == 0)) return false;
        if (part < 0) {
            i32 back = -part > static_cast<i32>(value->w1) ? static_cast<i32>(value->w1) : -part;
            value->w1 -= static_cast<u32>(back);
            part = back;
        }
    }
    if (cell* d = ref_cell(r, dup_k)) {
        dup = int_of(d);
        if (dup < 1) return false;
    }
    return true;
}

void insert_entry(const i32* r, bool append) {
    i32 part, dup;
    if (!part_and_dup(r, 0, 2, part, dup)) {
        stack::top = stack::arguments + 1;
        return;
    }
    auto h = append ? handler_of_first<act::slot::append>() : handler_of_first<act::slot::insert>();
    h(arg(0), arg(1), part, flag(r, 1), dup, append);
    stack::top = stack::arguments + 1;
}
void append(const i32* r) { insert_entry(r, true); }
void insert(const i32* r) { insert_entry(r, false); }

// /part of change counts the units of the series that the value replaces: a count, or a position
// in the series itself (the value may be any value, a word or an integer as well as a series).
bool change_part_and_dup(const i32* r, i32& part, i32& dup) {
    part = -1;
    dup = 1;
    cell* series = arg(0);
    if (cell* p = ref_cell(r, 0)) {
        u32 st = type_of(series);
        if (type_of(p) == type_id::integer) {
            part = int_of(p);
        } else if (type_of(p) == st && p->w2 == series->w2 && st != type_id::port) {
            u32 len = used_units(buffer_of(series->w2));
            u32 from = series->w1 > len ? len : series->w1;
            u32 to = p->w1 > len ? len : p->w1;
            // A position before the head replaces nothing, as a count of 0 does.
            part = to > from ? static_cast<i32>(to - from) : 0;
        } else {
            cell w{type_id::word, 0, sym::part, 0xFFFFFFFF};
            error::raise(err::E("script", "invalid-refine-arg"), &w, p);
        }
        if (part < 0) part = 0;
    }
    if (cell* d = ref_cell(r, 2)) {
        dup = int_of(d);
        if (dup < 1) return false;
    }
    return true;
}

void change(const i32* r) {
    i32 part, dup;
    if (!change_part_and_dup(r, part, dup)) {
        stack::top = stack::arguments + 1;
        return;
    }
    handler_of_first<act::slot::change>()(arg(0), arg(1), part, flag(r, 1), dup);
    stack::top = stack::arguments + 1;
}

void copy(const i32* r) {
    cell* types = ref_cell(r, 2);
    // The descriptor entry of the /types argument (value /part length /deep /types kind).
    if (types && type_of(types) != type_id::datatype && type_of(types) != type_id::typeset)
        actions::raise_not_allowed(types, 5);
    cell* out = init_unset(stack::reserve_slot());
    cell* result = handler_of_first<act::slot::copy>()(arg(0), out, ref_cell(r, 0), flag(r, 1), types);
    *arg(0) = *result;
    stack::top = stack::arguments + 1;
}

template <u32 S> void set_result_from(cell* result) {
    *arg(0) = *result;
    stack::top = stack::arguments + 1;
}

void find(const i32* r) {
    cell* result = handler_of_first<act::slot::find>()(
        arg(0), arg(1), ref_cell(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), flag(r, 4),
        ref_cell(r, 5), ref_cell(r, 6), flag(r, 7), flag(r, 8), flag(r, 9), flag(r, 10));
    set_result_from<act::slot::find>(result);
}

void select(const i32* r) {
    cell* result = handler_of_first<act::slot::select>()(
        arg(0), arg(1), ref_cell(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), flag(r, 4),
        ref_cell(r, 5), ref_cell(r, 6), flag(r, 7), flag(r, 8));
    set_result_from<act::slot::select>(result);
}

void length(const i32*) {
    i32 n = handler_of_first<act::slot::length_q>()(arg(0));
    if (n < 0) init_none(arg(0));
    else init_integer(arg(0), n);
    stack::top = stack::arguments + 1;
}

void move(const i32* r) {
    set_result_from<0>(handler_of_first<act::slot::move>()(arg(0), arg(1), ref_cell(r, 0)));
}

i32 index_value(const cell* index) {
    switch (type_of(index)) {
    case type_id::integer:
    case type_id::char_: return int_of(index);
    case type_id::logic: return index->w1 ? 1 : 2;
    default: return 0;
    }
}

void pick(const i32*) {
    set_result_from<0>(handler_of_first<act::slot::pick>()(arg(0), index_value(arg(1)), arg(1)));
}

void poke(const i32*) {
    handler_of_first<act::slot::poke>()(arg(0), index_value(arg(1)), arg(2), arg(1));
    stack::top = stack::arguments + 1;
}

void put(const i32* r) {
    set_result_from<0>(handler_of_first<act::slot::put>()(arg(0), arg(1), arg(2), flag(r, 0)));
}

void remove(const i32* r) {
    handler_of_first<act::slot::remove>()(arg(0), ref_cell(r, 0), ref_cell(r, 1));
    stack::top = stack::arguments + 1;
}

void reverse(const i32* r) {
    handler_of_first<act::slot::reverse>()(arg(0), ref_cell(r, 0), ref_cell(r, 1));
    stack::top = stack::arguments + 1;
}

void sort(const i32* r) {
    set_result_from<0>(handler_of_first<act::slot::sort>()(arg(0), flag(r, 0), ref_cell(r, 1),
                                                            ref_cell(r, 2), ref_cell(r, 3),
                                                            flag(r, 4), flag(r, 5), flag(r, 6)));
}

void swap(const i32*) {
    handler_of_first<act::slot::swap>()(arg(0), arg(1));
    stack::top = stack::arguments + 1;
}

void take(const i32* r) {
    set_result_from<0>(
        handler_of_first<act::slot::take>()(arg(0), ref_cell(r, 0), flag(r, 1), flag(r, 2)));
}

void trim(const i32* r) {
    handler_of_first<act::slot::trim>()(arg(0), flag(r, 0), flag(r, 1), flag(r, 2), flag(r, 3),
                                        flag(r, 4), ref_cell(r, 5));
    stack::top = stack::arguments + 1;
}

void modify(const i32* r) {
    handler_of_first<act::slot::modify>()(arg(0), arg(1), arg(2), flag(r, 0));
    stack::top = stack::arguments + 1;
}

void open(const i32* r) {
    set_result_from<0>(handler_of_first<act::slot::open>()(arg(0), flag(r, 0), flag(r, 1),
                                                            flag(r, 2), flag(r, 3), ref_cell(r, 4)));
}

void read(const i32* r) {
    set_result_from<0>(handler_of_first<act::slot::read>()(arg(0), ref_cell(r, 0), ref_cell(r, 1),
                                                            flag(r, 2), flag(r, 3), flag(r, 4),
                                                            ref_cell(r, 5)));
}

void rename(const i32*) {
    handler_of_first<act::slot::rename>()(arg(0), arg(1));
    stack::top = stack::arguments + 1;
}

void write(const i32* r) {
    set_result_from<0>(handler_of_first<act::slot::write>()(
        arg(0), arg(1), flag(r, 0), flag(r, 1), flag(r, 2), flag(r, 3), ref_cell(r, 4),
        ref_cell(r, 5), ref_cell(r, 6), ref_cell(r, 7)));
}

struct action_def {
    std::string_view name;
    std::string_view spec;
    natives::native_fn fn;
};

// Slot order; the specs are source text.
const action_def table[62] = {
    {"make", R"~(["Returns a new value made from a spec for that value's type" type [any-type!] "The datatype, an example or prototype value" spec [any-type!] "The specification of the new value" return: [any-type!] "Returns the specified datatype"])~", make},
    {"random", R"~(["Returns a random value of the same datatype; or shuffles series" value "Maximum value of result (modified when series)" /seed "Restart or randomize" /secure "Returns a cryptographically secure random number" /only "Pick a random value from a series" return: [any-type!]])~", random},
    {"reflect", R"~(["Returns internal details about a value via reflection" value [any-type!] field [word!] "spec, body, words, etc. Each datatype defines its own reflectors"])~", reflect},
    {"to", R"~(["Converts to a specified datatype" type [any-type!] "The datatype or example value" spec [any-type!] "The attributes of the new value"])~", to},
    {"form", R"~(["Returns a user-friendly string representation of a value" value [any-type!] /part "Limit the length of the result" limit [integer!] return: [string!]])~", form},
    {"mold", R"~(["Returns a source format string representation of a value" value [any-type!] /only "Exclude outer brackets if value is a block" /all "Return value in loadable format" /flat "Exclude all indentation" /part "Limit the length of the result" limit [integer!] return: [string!]])~", mold},
    {"eval-path", R"~(["Internal Use Only" parent [any-type!] element [any-type!]])~", eval_path},
    {"", "", nullptr},
    {"compare", R"~(["Internal Use Only" value1 [any-type!] value2 [any-type!] op [integer!]])~", compare},
    {"absolute", R"~(["Returns the non-negative value" value [number! money! char! pair! point2D! point3D! time!] return: [number! money! char! pair! point2D! point3D! time!]])~", stack_action<act::slot::absolute>},
    {"add", R"~(["Returns the sum of the two values" value1 [scalar! vector!] "The augend" value2 [scalar! vector!] "The addend" return: [scalar! vector!] "The sum"])~", stack_action<act::slot::add>},
    {"divide", R"~(["Returns the quotient of two values" value1 [scalar! vector!] "The dividend (numerator)" value2 [scalar! vector!] "The divisor (denominator)" return: [scalar! vector!] "The quotient"])~", stack_action<act::slot::divide>},
    {"multiply", R"~(["Returns the product of two values" value1 [scalar! vector!] "The multiplicand" value2 [scalar! vector!] "The multiplier" return: [scalar! vector!] "The product"])~", stack_action<act::slot::multiply>},
    {"negate", R"~(["Returns the opposite (additive inverse) value" number [number! money! bitset! pair! point2D! point3D! time!] return: [number! money! bitset! pair! point2D! point3D! time!]])~", value_action<act::slot::negate>},
    {"power", R"~(["Returns a number raised to a given power (exponent)" number [number!] "Base value" exponent [integer! float!] "The power (index) to raise the base value by" return: [number!]])~", stack_action<act::slot::power>},
    {"remainder", R"~(["Returns what is left over when one value is divided by another" value1 [scalar! vector!] value2 [scalar! vector!] return: [scalar! vector!]])~", stack_action<act::slot::remainder>},
    {"round", R"~(["Returns the nearest integer. Halves round up (away from zero) by default" n [number! money! time! pair! point2D! point3D!] /to "Return the nearest multiple of the scale parameter" scale [number! money! time! pair! point2D! point3D!] "Must be a non-zero value" /even "Halves round toward even results" /down "Round toward zero, ignoring discarded digits. (truncate)" /half-down "Halves round toward zero" /floor "Round in negative direction" /ceiling "Round in positive direction" /half-ceiling "Halves round in positive direction"])~", round},
    {"subtract", R"~(["Returns the difference between two values" value1 [scalar! vector!] "The minuend" value2 [scalar! vector!] "The subtrahend" return: [scalar! vector!] "The difference"])~", stack_action<act::slot::subtract>},
    {"even?", R"~(["Returns true if the number is evenly divisible by 2" number [number! money! char! time!] return: [logic!]])~", value_action<act::slot::even_q>},
    {"odd?", R"~(["Returns true if the number has a remainder of 1 when divided by 2" number [number! money! char! time!] return: [logic!]])~", value_action<act::slot::odd_q>},
    {"and~", R"~(["Returns the first value ANDed with the second" value1 [logic! integer! char! bitset! binary! typeset! pair! point2D! point3D! tuple! vector!] value2 [logic! integer! char! bitset! binary! typeset! pair! point2D! point3D! tuple! vector!] return: [logic! integer! char! bitset! binary! typeset! pair! point2D! point3D! tuple! vector!]])~", stack_action<act::slot::and_t>},
    {"complement", R"~(["Returns the opposite (complementing) value of the input value" value [logic! integer! tuple! bitset! typeset! binary!] return: [logic! integer! tuple! bitset! typeset! binary!]])~", value_action<act::slot::complement>},
    {"or~", R"~(["Returns the first value ORed with the second" value1 [logic! integer! char! bitset! binary! typeset! pair! point2D! point3D! tuple! vector!] value2 [logic! integer! char! bitset! binary! typeset! pair! point2D! point3D! tuple! vector!] return: [logic! integer! char! bitset! binary! typeset! pair! point2D! point3D! tuple! vector!]])~", stack_action<act::slot::or_t>},
    {"xor~", R"~(["Returns the first value exclusive ORed with the second" value1 [logic! integer! char! bitset! binary! typeset! pair! point2D! point3D! tuple! vector!] value2 [logic! integer! char! bitset! binary! typeset! pair! point2D! point3D! tuple! vector!] return: [logic! integer! char! bitset! binary! typeset! pair! point2D! point3D! tuple! vector!]])~", stack_action<act::slot::xor_t>},
    {"append", R"~(["Inserts value(s) at series tail; returns series head" series [series! port! bitset!] value [any-type!] /part "Limit the number of values inserted" length [number! series!] /only "Insert block types as single values (overrides /part)" /dup "Duplicate the inserted values" count [integer!] return: [series! port! bitset!]])~", append},
    {"at", R"~(["Returns a series at a given index" series [series! port!] index [integer! pair! point2D!] return: [series! port!]])~", stack_action<act::slot::at>},
    {"back", R"~(["Returns a series at the previous index" series [series! port!] return: [series! port!]])~", stack_action<act::slot::back>},
    {"change", R"~(["Changes a value in a series and returns the series after the change" series [series! port!] "Series at point to change" value [any-type!] "The new value" /part "Limits the amount to change to a given length or position" range [number! series!] /only "Changes a series as a series" /dup "Duplicates the change a specified number of times" count [number!]])~", change},
    {"clear", R"~(["Removes series values from current index to tail; returns new tail" series [series! port! bitset! map! none!] return: [series! port! bitset! map! none!]])~", value_action<act::slot::clear>},
    {"copy", R"~(["Returns a copy of a non-scalar value" value [series! any-object! bitset! map!] /part "Limit the length of the result" length [number! series! pair!] /deep "Copy nested values" /types "Copy only specific types of non-scalar values" kind [datatype! typeset!] return: [series! any-object! bitset! map!]])~", copy},
    {"find", R"~(["Returns the series where a value is found, or NONE" series [series! bitset! typeset! any-object! map! none!] value [any-type!] /part "Limit the length of the search" length [number! series!] /only "Treat a series search value as a single value" /case "Perform a case-sensitive search" /same {Use "same?" as comparator} /any "Use * and ? wildcards in string searches" /with "Use custom wildcards in place of * and ?" wild [string!] /skip "Treat the series as fixed size records" size [integer!] /last "Find the last occurrence of value, from the tail" /reverse "Find the last occurrence of value, from the current index" /tail "Return the tail of the match found, rather than the head" /match "Match at current index only and return tail of match"])~", find},
    {"head", R"~(["Returns a series at its first index" series [series! port!] return: [series! port!]])~", stack_action<act::slot::head>},
    {"head?", R"~(["Returns true if a series is at its first index" series [series! port!] return: [logic!]])~", stack_action<act::slot::head_q>},
    {"index?", R"~(["Returns the current index of series relative to the head, or of word in a context" series [series! port! any-word!] return: [integer!]])~", stack_action<act::slot::index_q>},
    {"insert", R"~(["Inserts value(s) at series index; returns series past the insertion" series [series! port! bitset!] value [any-type!] /part "Limit the number of values inserted" length [number! series!] /only "Insert block types as single values (overrides /part)" /dup "Duplicate the inserted values" count [integer!] return: [series! port! bitset!]])~", insert},
    {"length?", R"~(["Returns the number of values in the series, from the current index to the tail" series [series! port! bitset! map! tuple! none!] return: [integer! none!]])~", length},
    {"move", R"~(["Moves one or more elements from one series to another position or series" origin [series! port!] target [series! port!] /part "Limit the number of values inserted" length [integer!] return: [series! port!]])~", move},
    {"next", R"~(["Returns a series at the next index" series [series! port!] return: [series! port!]])~", stack_action<act::slot::next>},
    {"pick", R"~(["Returns the series value at a given index" series [series! port! bitset! pair! point2D! point3D! tuple! money! date! time! event!] index [scalar! any-string! any-word! block! logic! time!] return: [any-type!]])~", pick},
    {"poke", R"~(["Replaces the series value at a given index, and returns the new value" series [series! port! bitset!] index [scalar! any-string! any-word! block! logic!] value [any-type!] return: [series! port! bitset!]])~", poke},
    {"put", R"~(["Replaces the value following a key, and returns the new value" series [series! port! map! object!] key [scalar! any-string! any-word! binary!] value [any-type!] /case "Perform a case-sensitive search" return: [series! port! map! object!]])~", put},
    {"remove", R"~(["Returns the series at the same index after removing a value" series [series! port! bitset! map! none!] /part "Removes a number of values, or values up to the given series index" length [number! char! series!] /key "Removes a key in map" key [scalar! any-string! any-word! binary! block!] return: [series! port! bitset! map! none!]])~", remove},
    {"reverse", R"~(["Reverses the order of elements; returns at same position" series [series! port! pair! point2D! point3D! tuple!] /part "Limits to a given length or position" length [number! series!] /skip "Treat the series as fixed size records" size [integer!] return: [series! port! pair! point2D! point3D! tuple!]])~", reverse},
    {"select", R"~(["Find a value in a series and return the next value, or NONE" series [series! any-object! map! none!] value [any-type!] /part "Limit the length of the search" length [number! series!] /only "Treat a series search value as a single value" /case "Perform a case-sensitive search" /same {Use "same?" as comparator} /any "Use * and ? wildcards in string searches" /with "Use custom wildcards in place of * and ?" wild [string!] /skip "Treat the series as fixed size records" size [integer!] /last "Find the last occurrence of value, from the tail" /reverse "Find the last occurrence of value, from the current index" return: [any-type!]])~", select},
    {"sort", R"~(["Sorts a series (modified); default sort order is ascending" series [series! port!] /case "Perform a case-sensitive sort" /skip "Treat the series as fixed size records" size [integer!] /compare "Comparator offset, block (TBD) or function" comparator [integer! block! any-function!] /part "Sort only part of a series" length [number! series!] /all "Compare all fields (used with /skip)" /reverse "Reverse sort order" /stable "Stable sorting" return: [series!]])~", sort},
    {"skip", R"~(["Returns the series relative to the current index" series [series! port!] offset [integer! pair! point2D!] return: [series! port!]])~", stack_action<act::slot::skip>},
    {"swap", R"~(["Swaps elements between two series or the same series" series1 [series! port!] series2 [series! port!] return: [series! port!]])~", swap},
    {"tail", R"~(["Returns a series at the index after its last value" series [series! port!] return: [series! port!]])~", stack_action<act::slot::tail>},
    {"tail?", R"~(["Returns true if a series is past its last value" series [series! port!] return: [logic!]])~", stack_action<act::slot::tail_q>},
    {"take", R"~(["Removes and returns one or more elements" series [series! port! none!] /part "Specifies a length or end position" length [number! series!] /deep "Copy nested values" /last "Take it from the tail end"])~", take},
    {"trim", R"~(["Removes space from a string or NONE from a block" series [series! port!] /head "Removes only from the head" /tail "Removes only from the tail" /auto "Auto indents lines relative to first line" /lines "Removes all line breaks and extra spaces" /all "Removes all whitespace" /with "Same as /all, but removes characters in 'str'" str [char! string! binary! integer!]])~", trim},
    {"create", R"~(["Send port a create request" port [port! file! url! block!]])~", value_action<act::slot::create>},
    {"close", R"~(["Closes a port" port [port!]])~", value_action<act::slot::close>},
    {"delete", R"~(["Deletes the specified file or empty folder" file [file! port!]])~", value_action<act::slot::delete_>},
    {"modify", R"~(["Change mode or control for port or file" target [port! series! object!] field [word!] value [any-type!] /case "Perform a case-sensitive lookup"])~", modify},
    {"open", R"~(["Opens a port; makes a new port from a specification if necessary" port [port! file! url! block!] /new "Create new file - if it exists, deletes it" /read "Open for read access" /write "Open for write access" /seek "Optimize for random access" /allow "Specifies right access attributes" access [block!]])~", open},
    {"open?", R"~(["Returns TRUE if port is open" port [port!]])~", value_action<act::slot::open_q>},
    {"query", R"~(["Returns information about a file" target [file! port!]])~", value_action<act::slot::query>},
    {"read", R"~(["Reads from a file, URL, or other port" source [file! url! port!] /part "Partial read a given number of units (source relative)" length [number!] /seek "Read from a specific position (source relative)" index [number!] /binary "Preserves contents exactly" /lines "Convert to block of strings" /info /as {Read with the specified encoding, default is 'UTF-8} encoding [word!]])~", read},
    {"rename", R"~(["Rename a file" from [port! file! url!] to [port! file! url!]])~", rename},
    {"update", R"~(["Updates external and internal states (normally after read/write)" port [port!]])~", value_action<act::slot::update>},
    {"write", R"~(["Writes to a file, URL, or other port" destination [file! url! port!] data [any-type!] /binary "Preserves contents exactly" /lines "Write each value in a block as a separate line" /info /append "Write data at end of file" /part "Partial write a given number of units" length [number!] /seek "Write at a specific position" index [number!] /allow "Specifies protection attributes" access [block!] /as {Write with the specified encoding, default is 'UTF-8} encoding [word!]])~", write},
};
} // namespace

natives::native_fn entry(u32 slot) {
    if (slot < 1 || slot > 62) return nullptr;
    return table[slot - 1].fn;
}

std::string_view spec_of(u32 slot) { return slot >= 1 && slot <= 62 ? table[slot - 1].spec : ""; }

std::string_view name_of(u32 slot) { return slot >= 1 && slot <= 62 ? table[slot - 1].name : ""; }

void register_action_table() {
    for (u32 slot = 1; slot <= 62; slot++) {
        if (slot == 8) continue;
        cell spec;
        if (!load_text::spec_from_text(table[slot - 1].spec, &spec)) continue;
        cell* holder = stack::push_value(&spec);
        native_value::make_callable(type_id::action, slot - 1, holder);
        cell* value = stack::top_value();
        cell word = context::global_word(symbol::intern_text(table[slot - 1].name));
        context::set_word_value(&word, value);
        stack::top = holder;
    }
}

} // namespace zel::actions
