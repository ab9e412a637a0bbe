// event!: making, field access by path and by pick, form, mold and compare.
#include "datatypes/event.hpp"

#include <array>

#include "datatypes/context.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/scalar_common.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"

namespace zel::event {

namespace {

constexpr std::array<std::string_view, type_count> type_names = {
    "down",   "up",        "mid-down", "mid-up",   "alt-down", "alt-up",   "aux-down", "aux-up",
    "click",  "dbl-click", "wheel",    "over",     "key",      "key-down", "key-up",   "ime",
    "focus",  "unfocus",   "enter",    "zoom",     "pan",      "rotate",   "two-tap",  "press-tap",
    "select", "change",    "menu",     "close",    "move",     "resize",   "moving",   "resizing",
    "time",   "drawing",   "scroll",   "minimize", "maximize", "restore"};

struct flag_word {
    std::string_view name;
    u32 bit;
};
// The order in which the flags field lists them.
constexpr flag_word listed_flags[] = {{"away", 0x4000000},     {"down", 0x2000000},
                                      {"mid-down", 0x1000000}, {"alt-down", 0x800000},
                                      {"aux-down", 0x400000},  {"control", 0x10000000},
                                      {"shift", 0x20000000},   {"alt", 0x40000000}};
constexpr u32 command_bit = 0x80000000;

constexpr std::array<std::string_view, 15> field_names = {
    "type",  "face",      "window",    "offset",    "key",   "picked", "flags",      "away?",
    "down?", "mid-down?", "alt-down?", "aux-down?", "ctrl?", "shift?", "orientation"};
constexpr u32 predicate_bits[] = {0x4000000, 0x2000000,  0x1000000, 0x800000,
                                  0x400000,  0x10000000, 0x20000000};

bool same_word(u32 symbol, std::string_view text) {
    return symbol::canonical_id(symbol) == symbol::canonical_id(symbol::intern_text(text));
}

cell word_cell(std::string_view text) {
    return cell{type_id::word, 0, symbol::intern_text(text), context::unbound};
}

// Index 1-15 of a field word, 0 for none.
u32 field_index(const cell* w) {
    if (!is_any_word_type(type_of(w))) return 0;
    for (u32 i = 0; i < field_names.size(); ++i)
        if (same_word(w->w2, field_names[i])) return i + 1;
    return 0;
}

// Slot i of the event's field block, or null.
const cell* stored(const cell* ev, u32 i) {
    if (!ev->w2) return nullptr;
    series_buffer* b = buffer_of(ev->w2);
    if (i >= used_units(b)) return nullptr;
    return head_cell(b) + i;
}

cell field(const cell* ev, u32 index) {
    cell out{};
    init_none(&out);
    u32 flags = ev->w3;
    bool made = ev->header & header_bit::made;
    switch (index) {
    case 1:
        if (ev->w1 >= 1 && ev->w1 <= type_count) out = word_cell(type_names[ev->w1 - 1]);
        break;
    case 2:
    case 3:
        if (const cell* c = stored(ev, index - 2)) out = *c;
        break;
    case 4:
        if (const cell* c = stored(ev, 2))
            out = *c;
        else
            pair::init_cell(&out, 0, 0);
        break;
    case 5:
        if (made) {
            if (flags & 0xFFFF) init_char(&out, flags & 0xFFFF);
        } else if (const cell* c = stored(ev, 4)) {
            out = *c;
        }
        break;
    case 6:
        if (const cell* c = stored(ev, 3))
            out = *c;
        else
            init_integer(&out, 0);
        break;
    case 7: {
        // The words first: interning may allocate, and the new block must not be left unheld.
        cell words[8];
        u32 count = 0;
        for (const flag_word& f : listed_flags)
            if (flags & f.bit) words[count++] = word_cell(f.name);
        cell block{type_id::block, 0, memory::new_cell_series(8), 0};
        for (u32 i = 0; i < count; ++i) *memory::append_cell_slot(&block) = words[i];
        out = block;
        break;
    }
    case 15:
        break;
    default:
        init_logic(&out, flags & predicate_bits[index - 8]);
    }
    return out;
}

u32 type_from(const cell* value) {
    u32 t = type_of(value);
    if (t != type_id::word && t != type_id::lit_word) return 0;
    u32 id = type_of_word(value->w2);
    if (!id) {
        cell w = *value;
        error::raise(err::E("script", "not-event-type"), &w);
    }
    return id;
}

cell* make(cell*, cell* spec, u32) {
    static cell made;
    made = cell{type_id::event | header_bit::made, 0, 0, 0};
    if (!is(spec, type_id::block)) {
        cell t{};
        init_datatype(&t, type_id::event);
        error::raise(err::E("script", "bad-make-arg"), &t, spec);
    }
    cell kept[4] = {};
    bool keep[4] = {false, false, false, false};
    series_buffer* b = buffer_of(spec->w2);
    u32 n = used_units(b);
    for (u32 i = spec->w1; i + 1 < n; i += 2) {
        const cell* key = head_cell(buffer_of(spec->w2)) + i;
        cell value = key[1];
        if (!is(key, type_id::set_word)) continue;
        u32 vt = type_of(&value);
        if ((vt == type_id::word || vt == type_id::get_word) && value.w1 != context::unbound) {
            if (cell* v = context::word_value_address(&value)) value = *v;
        }
        vt = type_of(&value);
        u32 sym = key->w2;
        if (same_word(sym, "type")) {
            if (u32 id = type_from(&value)) made.w1 = id;
        } else if (same_word(sym, "key")) {
            if (vt == type_id::char_) made.w3 = (made.w3 & ~0xFFFFu) | (value.w2 & 0xFFFF);
        } else if (same_word(sym, "flags")) {
            if (vt != type_id::block) continue;
            for (u32 j = value.w1; j < used_units(buffer_of(value.w2)); ++j) {
                // Read afresh each time: interning a name may move the block.
                const cell* w = head_cell(buffer_of(value.w2)) + j;
                if (!is_any_word_type(type_of(w))) continue;
                u32 word = w->w2;
                for (const flag_word& f : listed_flags)
                    if (same_word(word, f.name)) made.w3 |= f.bit;
                if (same_word(word, "command")) made.w3 |= command_bit;
            }
        } else if (same_word(sym, "face") || same_word(sym, "window")) {
            if (vt != type_id::object) continue;
            int slot = same_word(sym, "face") ? 0 : 1;
            kept[slot] = value;
            keep[slot] = true;
        } else if (same_word(sym, "offset")) {
            if (vt != type_id::pair && vt != type_id::point2d) continue;
            kept[2] = value;
            keep[2] = true;
        } else if (same_word(sym, "picked")) {
            if (vt != type_id::integer) continue;
            kept[3] = value;
            keep[3] = true;
        }
    }
    if (keep[0] || keep[1] || keep[2] || keep[3]) {
        if (!keep[0]) init_none(&kept[0]);
        if (!keep[1]) init_none(&kept[1]);
        if (!keep[2]) pair::init_cell(&kept[2], 0, 0);
        if (!keep[3]) init_integer(&kept[3], 0);
        cell block{type_id::block, 0, memory::new_cell_series(4), 0};
        for (const cell& c : kept) *memory::append_cell_slot(&block) = c;
        made.w2 = block.w2;
    }
    return &made;
}

i32 form(cell*, cell* buffer, cell*, i32 limit) {
    return out::text(buffer, "event", limit);
}

i32 mold(cell* value, cell* buffer, bool, bool, bool, cell* part, i32 limit, i32) {
    return form(value, buffer, part, limit);
}

i32 compare(cell*, cell* b, i32) {
    return is(b, type_id::event) ? 0 : -2;
}

cell* eval_path(cell* parent, cell* element, cell* value, const path_step& step) {
    static cell reached;
    cell none_path{type_id::none, 0, 0, 0};
    const cell* path = step.path ? step.path : &none_path;
    u32 index = field_index(element);
    if (!index) error::raise(err::E("script", "invalid-path"), path, element);
    if (!value) {
        reached = field(parent, index);
        return &reached;
    }
    if (index == 1 && is_any_word_type(type_of(value))) {
        if (u32 id = type_from(value)) parent->w1 = id;
        scalar::store_back(parent, step);
        reached = *value;
        return &reached;
    }
    error::raise(err::E("script", "bad-path-set"), path, element);
}

cell* pick(cell* value, i32, cell* index) {
    static cell picked;
    u32 i = 0;
    if (is(index, type_id::integer)) {
        i32 n = int_of(index);
        if (n < 1 || n > 15) error::raise(err::E("script", "out-of-range"), index);
        i = static_cast<u32>(n);
    } else {
        i = field_index(index);
        if (!i) {
            cell target{};
            init_datatype(&target, type_id::event);
            error::raise(err::E("script", "cannot-use"), index, &target);
        }
    }
    picked = field(value, i);
    return &picked;
}

} // namespace

u32 type_of_word(u32 symbol) {
    for (u32 i = 0; i < type_count; ++i)
        if (same_word(symbol, type_names[i])) return i + 1;
    return 0;
}

std::string_view type_name(u32 id) {
    return id >= 1 && id <= type_count ? type_names[id - 1] : std::string_view();
}

cell* push_backend(u32 type, const cell& face, float x, float y, const cell& key,
                   const cell& picked, u32 flags) {
    cell* base = stack::top;
    cell* held = stack::push_value(&face);
    stack::push_value(&key);
    stack::push_value(&picked);
    cell block{type_id::block, 0, memory::new_cell_series(5), 0};
    cell fields[5] = {};
    fields[0] = held[0];
    init_none(&fields[1]);
    pair::init_cell(&fields[2], static_cast<i32>(x), static_cast<i32>(y));
    fields[3] = held[2];
    fields[4] = held[1];
    for (const cell& c : fields) *memory::append_cell_slot(&block) = c;
    stack::top = base;
    cell made{type_id::event | header_bit::backend, type, block.w2, flags};
    return stack::push_value(&made);
}

void register_type() {
    action_row row{};
    row.type = type_id::event;
    row.parent = 0;
    row.name = "event!";
    row.make = make;
    row.form = form;
    row.mold = mold;
    row.compare = compare;
    row.eval_path = eval_path;
    row.pick = pick;
    datatype::register_row(row);
}

} // namespace zel::event
