// string! modification: append, insert, change, take, swap and trim. What is written is read
// first (a text's code points, or a value formed onto the tail and lifted off it), so a source
// that shares the series' buffer is read before any unit moves; an error while forming leaves
// the series as it was.
#include <algorithm>

#include "datatypes/string.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/string_common.hpp"
#include "evaluator/actions.hpp"
#include "runtime/cycle_stack.hpp"
#include "runtime/memory.hpp"

namespace zel {

using namespace string_type::detail;
using namespace text_units;

namespace {

constexpr i32 unlimited = 0x7FFFFFFF;

// What a char!, a text or a tag! contributes, and the unit it brings. A text's code points stay
// in its buffer in the arena (a copy of a long text made on the heap would escape the arena's
// cap): they are units [index, index + count) of the buffer behind `node`, a tag's between an
// opening "<" and a closing ">".
struct contribution {
    std::u32string cps; // a char's code point
    u32 node = 0;
    u32 index = 0, count = 0;
    bool open = false, close = false;
    u32 unit = 1;
    u64 length() const { return node ? u64(count) + open + close : cps.size(); }
    // Keeps the first n code points.
    void cut(u64 n) {
        if (!node) {
            if (n < cps.size()) cps.resize(n);
            return;
        }
        if (open) {
            if (n == 0) {
                open = close = false;
                count = 0;
                return;
            }
            n--;
        }
        if (n < count) {
            count = static_cast<u32>(n);
            close = false;
        } else if (n == count) {
            close = false;
        }
    }
};

bool direct_contribution(cell* value, contribution& c) {
    u32 t = type_of(value);
    if (t == type_id::char_) {
        c.cps.assign(1, static_cast<char32_t>(value->w2));
        c.unit = unit_for_append(value->w2);
        return true;
    }
    if (!is_text_type(t)) return false;
    text_view v = view(value);
    c.node = v.node;
    c.index = v.head;
    c.count = v.from_head();
    c.unit = v.unit;
    c.open = c.close = t == type_id::tag;
    return true;
}

// Puts the tail back where it was unless the work in between finished.
class tail_guard {
  public:
    tail_guard(u32 node, u32 length) : node_(node), length_(length) {}
    ~tail_guard() {
        if (armed_) truncate_to(node_, length_);
    }
    void release() { armed_ = false; }
    tail_guard(const tail_guard&) = delete;
    tail_guard& operator=(const tail_guard&) = delete;

  private:
    u32 node_, length_;
    bool armed_ = true;
};

u32 length_of(u32 node) {
    return used_units(buffer_of(node));
}

// Forms the value onto the series' tail, each value of a block, paren or hash in turn with
// nothing between them; answers the units written. A budget of 0 or more limits the characters
// written (the form that runs past it is cut back); with `count_values` it counts the values of
// a block instead and does not limit any other value.
u32 form_onto_tail(cell* s, cell* value, i64 budget, bool count_values) {
    u32 node = s->w2;
    u32 start = length_of(node);
    auto form_one = [&](cell* item) {
        if (budget < 0 || count_values) {
            actions::form_typed(item, s, nullptr, unlimited);
            return;
        }
        u32 before = length_of(node);
        cell part;
        init_integer(&part, static_cast<i32>(budget));
        actions::form_typed(item, s, &part, static_cast<i32>(budget));
        u64 written = length_of(node) - before;
        if (written > u64(budget)) {
            truncate_to(node, before + static_cast<u32>(budget));
            written = budget;
        }
        budget -= static_cast<i64>(written);
    };
    u32 t = type_of(value);
    if (t == type_id::block || t == type_id::paren || t == type_id::hash) {
        stack_scope scope;
        cell* block = stack::push_value(value);
        i32 h = static_cast<i32>(block->w1);
        for (u32 i = h < 0 ? 0 : static_cast<u32>(h);; i++) {
            // Forming may move or change the block: it is read again for every value.
            series_buffer* b = buffer_of(block->w2);
            if (i >= used_bytes(b) / sizeof(cell) || (budget >= 0 && budget < 1)) break;
            stack_scope item_scope;
            form_one(stack::push_value(head_cell(b) + i));
            if (count_values && budget >= 0) budget--;
        }
    } else {
        if (count_values) budget = -1;
        form_one(value);
    }
    return length_of(node) - start;
}

// The text that a value other than a char or text contributes to insert and change: formed onto
// the tail, copied into a new string on the data stack and cut off the tail again.
contribution formed_contribution(cell* s, cell* value, i64 budget) {
    u32 node = s->w2;
    u32 length = length_of(node);
    tail_guard guard(node, length);
    u32 n = form_onto_tail(s, value, budget, false);
    u32 unit = checked_unit(buffer_of(node));
    cell* copy = stack::reserve_slot();
    init_series(copy, type_id::string, n, unit);
    series_buffer* to = buffer_of(copy->w2);
    std::memcpy(head_ptr(to), head_ptr(buffer_of(node)) + std::size_t(length) * unit,
                std::size_t(n) * unit);
    to->tail = to->head + n * unit;
    contribution c;
    c.node = copy->w2;
    c.count = n;
    c.unit = unit;
    return c; // the guard cuts the formed text off again
}

// Replaces `removed` units at `at` by `dup` copies of the contribution, as `splice` does for
// code points held in memory.
void splice_contribution(cell* s, u32 at, u32 removed, contribution& c, u64 dup) {
    if (!c.node) return splice(s, at, removed, c.cps, c.unit, dup);
    u32 node = s->w2;
    series_buffer* b = buffer_of(node);
    u32 length = used_units(b);
    at = std::min(at, length);
    removed = std::min(removed, length - at);
    if (c.node == node && (at < length || removed)) {
        // The text lies where the units will move: it is read from a copy.
        cell* copy = stack::reserve_slot();
        u32 su = checked_unit(buffer_of(c.node));
        init_series(copy, type_id::string, c.count, su);
        series_buffer* from = buffer_of(c.node);
        series_buffer* to = buffer_of(copy->w2);
        std::memcpy(head_ptr(to), head_ptr(from) + std::size_t(c.index) * su,
                    std::size_t(c.count) * su);
        to->tail = to->head + c.count * su;
        c.node = copy->w2;
        c.index = 0;
        b = buffer_of(node);
    }
    u32 u = std::max(checked_unit(b), c.unit);
    u64 n = c.length();
    u64 total = n * dup;
    u64 new_length = u64(length) - removed + total;
    if (total > 0xFFFFFFFFu || new_length * u > 0xF0000000u) raise_no_memory();
    b = text_buffer::widen_to(b, u); // a text of this very series widens with it
    u64 need = new_length * u;
    if (u64(data_end(b) - head_ptr(b)) < need) {
        u64 grown = std::max<u64>(u64(b->size) * 2, need);
        b = memory::grow_series(b, static_cast<u32>(std::min<u64>(grown, 0xF0000000u)));
    }
    u8* base = head_ptr(b);
    u32 rest = length - at - removed;
    std::memmove(base + (at + total) * u, base + std::size_t(at + removed) * u,
                 std::size_t(rest) * u);
    u8* p = base + std::size_t(at) * u;
    u8* w = p;
    if (c.open) {
        write(w, u, '<');
        w += u;
    }
    series_buffer* from = buffer_of(c.node);
    u32 su = checked_unit(from);
    convert_units(head_ptr(from) + std::size_t(c.index) * su, su, w, u, c.count);
    w += std::size_t(c.count) * u;
    if (c.close) write(w, u, '>');
    if (dup > 1 && n) memory::replicate_bytes(p, static_cast<u32>(n * u), static_cast<u32>(dup));
    b->tail = b->head + static_cast<u32>(need);
}

} // namespace

namespace string_type {

void append(cell* series, cell* value, i32 part, bool only, i32 dup, bool notify) {
    u32 node = series->w2;
    if (dup < 1) return;
    u32 start = length_of(node);
    if (notify) notify_owner(series, "append", start, part);
    contribution c;
    if (direct_contribution(value, c)) {
        if (part >= 0) c.cut(static_cast<u64>(part));
        if (c.length() == 0) return;
        stack_scope scope;
        splice_contribution(series, length_of(node), 0, c, static_cast<u64>(dup));
    } else {
        u32 length = length_of(node);
        tail_guard guard(node, length);
        u32 m = form_onto_tail(series, value, part, !only);
        if (m == 0) return;
        if (dup > 1) {
            std::u32string formed = codepoints_at(node, length, m);
            splice(series, length + m, 0, formed, 1, static_cast<u64>(dup) - 1);
        }
        guard.release();
    }
    if (notify) notify_owner(series, "appended", start, part < 0 ? 1 : part);
    series->w1 = 0;
}

void insert(cell* series, cell* value, i32 part, bool only, i32 dup, bool) {
    if (dup < 1) return;
    notify_owner(series, "insert", view(series).head, part);
    text_view v = view(series);
    if (v.head >= v.length) {
        append(series, value, part, only, dup, false);
        notify_owner(series, "inserted", v.head, part < 0 ? 1 : part);
        series->w1 = length_of(v.node);
        return;
    }
    stack_scope scope;
    contribution c;
    if (direct_contribution(value, c)) {
        if (part >= 1) c.cut(static_cast<u64>(part));
    } else {
        c = formed_contribution(series, value, part);
    }
    v = view(series);
    u64 n = c.length();
    splice_contribution(series, v.head, 0, c, static_cast<u64>(dup));
    notify_owner(series, "inserted", v.head, part < 0 ? 1 : part);
    u64 at = v.head + n * static_cast<u64>(dup);
    series->w1 = static_cast<u32>(std::min<u64>(at, length_of(v.node)));
}

void change(cell* series, cell* value, i32 part, bool only, i32 dup) {
    if (dup < 1) return;
    text_view v = view(series);
    notify_owner(series, "change", v.head, part);
    v = view(series);
    if (v.head >= v.length) {
        append(series, value, -1, only, dup, false);
        notify_owner(series, "changed", v.head, static_cast<i32>(length_of(v.node) - v.length));
        series->w1 = length_of(v.node);
        return;
    }
    stack_scope scope;
    contribution c;
    if (!direct_contribution(value, c)) c = formed_contribution(series, value, -1);
    // The value may have been formed from this very series: positions are read again.
    v = view(series);
    u64 total = c.length() * static_cast<u64>(dup);
    u64 replaced = part >= 0 ? static_cast<u64>(part) : total;
    replaced = std::min<u64>(replaced, v.from_head());
    splice_contribution(series, v.head, static_cast<u32>(replaced), c, static_cast<u64>(dup));
    notify_owner(series, "changed", v.head, static_cast<i32>(std::min<u64>(total, 0x7FFFFFFF)));
    series->w1 = static_cast<u32>(std::min<u64>(v.head + total, length_of(v.node)));
}

cell* take(cell* series, cell* part, bool, bool last) {
    u32 st = type_of(series);
    if (st == type_id::vector) raise_not_done(); // element values come with vector!
    text_view v = view(series);
    if (v.from_head() < 1) return init_none(series);
    if (!part) {
        notify_owner(series, "take", v.head, 1);
        v = view(series);
        if (v.from_head() < 1) return init_none(series);
        u32 at = last ? v.length - 1 : v.head;
        u32 cp = codepoints_at(v.node, at, 1)[0];
        string::remove_units_at(series, at, 1);
        notify_owner(series, "taken", v.head, 0);
        return st == type_id::binary ? init_integer(series, static_cast<i32>(cp))
                                     : init_char(series, cp);
    }
    i64 d;
    if (is(part, type_id::integer)) {
        d = int_of(part);
    } else if (type_of(part) == st && part->w2 == series->w2) {
        cell other = *part;
        i64 at = view(&other).head;
        d = at < v.head ? 0 : last ? i64(v.length) - at : at - v.head;
    } else {
        raise_invalid_refine(part);
    }
    notify_owner(series, "take", v.head,
                 static_cast<i32>(std::clamp<i64>(d, INT32_MIN, INT32_MAX)));
    v = view(series);
    u32 from = 0, count = 0;
    if (d > 0) {
        count = static_cast<u32>(std::min<i64>(d, v.from_head()));
        from = last ? v.length - count : v.head;
    } else if (d < 0 && !last) {
        // Units before the head; the head index stays, so the series stands further on.
        count = static_cast<u32>(std::min<i64>(-d, v.head));
        from = v.head - count;
    }
    stack_scope scope;
    cell* result = stack::reserve_slot();
    init_series(result, st, count, v.unit);
    series_buffer* to = buffer_of(result->w2);
    series_buffer* b = buffer_of(v.node);
    std::memcpy(head_ptr(to), head_ptr(b) + std::size_t(from) * v.unit,
                std::size_t(count) * v.unit);
    to->tail = to->head + count * v.unit;
    if (count) string::remove_units_at(series, from, count);
    notify_owner(series, "taken", v.head, 0);
    *series = *result;
    return series;
}

void swap(cell* series, cell* other) {
    u32 ot = type_of(other);
    if (!is_text_type(ot) && ot != type_id::binary) raise_invalid_arg(other);
    text_view a = view(series);
    text_view b = view(other);
    if (a.head >= a.length || b.head >= b.length) return;
    u32 x = codepoints_at(a.node, a.head, 1)[0];
    u32 y = codepoints_at(b.node, b.head, 1)[0];
    // A binary! holds bytes: a wider code point cannot go into one.
    if (is(series, type_id::binary) && y > 0xFF) {
        cell c;
        raise_out_of_range(init_char(&c, y));
    }
    if (ot == type_id::binary && x > 0xFF) {
        cell c;
        raise_out_of_range(init_char(&c, x));
    }
    notify_owner(series, "swap", a.head, 1);
    notify_owner(other, "swap", b.head, 1);
    a = view(series);
    b = view(other);
    if (a.head >= a.length || b.head >= b.length) return;
    string::write_char_at(buffer_of(a.node), a.head, y);
    string::write_char_at(buffer_of(b.node), b.head, x);
    notify_owner(series, "swaped", a.head, 1);
    notify_owner(other, "swaped", b.head, 1);
}

} // namespace string_type

namespace {

bool is_wide_space(u32 c) {
    return (c >= 0x01 && c <= 0x20) || c == 0x85 || c == 0xA0 || c == 0x1680 || c == 0x180E ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

bool is_inline_space(u32 c) {
    return c == 0x20 || c == 0x09 || (c >= 0x80 && is_wide_space(c));
}

std::u32string trim_lines(const std::u32string& cps) {
    std::u32string out;
    bool space = false;
    for (char32_t c : cps) {
        if (is_wide_space(c)) {
            space = !out.empty();
            continue;
        }
        if (space) out.push_back(U' ');
        space = false;
        out.push_back(c);
    }
    return out;
}

std::u32string trim_plain(const std::u32string& cps, bool head, bool tail) {
    std::size_t i = 0, j = cps.size();
    if (!(tail && !head))
        while (i < j && is_wide_space(cps[i])) i++;
    bool line_feed = false;
    if (!(head && !tail)) {
        while (j > i && is_wide_space(cps[j - 1])) {
            if (cps[j - 1] == '\n') line_feed = true;
            j--;
        }
    }
    std::u32string out;
    if (head || tail) {
        out = cps.substr(i, j - i);
    } else {
        // In-line spaces next to a line feed go; line feeds stay.
        std::u32string pending;
        bool after_line_feed = false;
        for (std::size_t k = i; k < j; k++) {
            char32_t c = cps[k];
            if (c == '\n') {
                pending.clear();
                out.push_back(c);
                after_line_feed = true;
            } else if (is_inline_space(c)) {
                if (!after_line_feed) pending.push_back(c);
            } else {
                out += pending;
                pending.clear();
                out.push_back(c);
                after_line_feed = false;
            }
        }
        out += pending;
    }
    if (!tail && line_feed) out.push_back(U'\n');
    return out;
}

} // namespace

namespace string_type {

void trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, cell* with) {
    std::u32string set = U"\t\n\r ";
    if (with) {
        u32 wt = type_of(with);
        if (wt == type_id::char_ || wt == type_id::integer) {
            set.assign(1, static_cast<char32_t>(with->w2));
        } else if (is_text_type(wt) || wt == type_id::binary) {
            set = codepoints_of(with);
            if (set.empty()) return;
        } else {
            raise_invalid_arg(with);
        }
    } else if (!all && auto_) {
        raise_not_done();
    }
    notify_owner(series, "trim", view(series).head, 0);
    text_view v = view(series);
    std::u32string cps = codepoints_at(v.node, v.head, v.from_head());
    std::u32string out;
    if (all || with) {
        out.reserve(cps.size());
        for (char32_t c : cps)
            if (set.find(c) == std::u32string::npos) out.push_back(c);
    } else if (lines) {
        out = trim_lines(cps);
    } else {
        out = trim_plain(cps, head, tail);
    }
    // The result holds only code points of the text, so it fits the buffer's unit.
    series_buffer* b = buffer_of(v.node);
    u8* p = head_ptr(b) + std::size_t(v.head) * v.unit;
    for (std::size_t i = 0; i < out.size(); i++) write(p + i * v.unit, v.unit, out[i]);
    b->tail = b->head + (v.head + static_cast<u32>(out.size())) * v.unit;
    notify_owner(series, "trimmed", v.head, 0);
}

} // namespace string_type
} // namespace zel
