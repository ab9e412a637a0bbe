// string! search (find, select) and the set operations on texts. A search reads the buffer in
// place between two allocations; only the value searched for is copied (folded) beforehand.
#include <algorithm>
#include <cmath>
#include <vector>

#include "datatypes/string.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/string_common.hpp"
#include "evaluator/actions.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"

namespace zel {

using namespace string_type::detail;
using namespace text_units;

namespace {

constexpr u32 bitset_complement = 0x80000;

enum class match_kind { codepoint, bitset, text, number };

// What a search looks for. Texts and code points are held folded when the search folds case.
struct matcher {
    match_kind kind = match_kind::codepoint;
    u32 codepoint = 0;
    std::u32string text;
    u32 bits_node = 0;
    double number = 0;
};

bool bitset_has(u32 node, u32 cp) {
    series_buffer* bits = buffer_of(node);
    if (u64(cp) >= u64(used_bytes(bits)) * 8) return bits->flags & bitset_complement;
    return head_ptr(bits)[cp >> 3] & (0x80u >> (cp & 7));
}

u32 fold(u32 cp, bool folding) {
    return folding ? case_::to_upper(cp) : cp;
}

// Reads the value searched for. A value that is neither a code point, a bitset nor a text is
// formed into a scratch string on the data stack first.
matcher make_matcher(cell* series, cell* value, bool folding) {
    matcher m;
    u32 st = type_of(series);
    u32 vt = type_of(value);
    if (st == type_id::binary && (vt == type_id::integer || vt == type_id::float_)) {
        m.kind = match_kind::number;
        m.number = vt == type_id::integer ? int_of(value) : float_of(value);
        return m;
    }
    switch (vt) {
    case type_id::char_:
        m.codepoint = fold(value->w2, folding);
        return m;
    case type_id::bitset:
        m.kind = match_kind::bitset;
        m.bits_node = value->w2;
        return m;
    case type_id::binary:
        if (st != type_id::binary) raise_invalid_arg(value);
        [[fallthrough]];
    case type_id::string:
    case type_id::file:
    case type_id::url:
    case type_id::email:
    case type_id::ref: {
        m.kind = match_kind::text;
        if (vt == type_id::binary) {
            series_buffer* b = buffer_of(value->w2);
            i32 h = static_cast<i32>(value->w1);
            u32 head = h < 0 ? 0 : std::min<u32>(h, used_bytes(b));
            m.text.assign(head_ptr(b) + head, tail_ptr(b));
        } else {
            m.text = codepoints_of(value);
        }
        break;
    }
    default: {
        stack_scope scope;
        cell* formed = push_new_string();
        actions::form_typed(value, formed, nullptr, 0x7FFFFFFF);
        m.kind = match_kind::text;
        m.text = codepoints_of(formed);
        break;
    }
    }
    if (folding)
        for (char32_t& c : m.text) c = case_::to_upper(c);
    return m;
}

// The search itself: positions are unit indexes from the buffer's start. Forward, steps go from
// `start` up to before `end`; backward, from `start` down to `low`. Answers the position where
// the match starts and its length in units, or -1.
struct search {
    i64 start, end, low;
    bool backward, match_only, folding;
    u32 step;
};

struct found {
    i64 position = -1;
    u32 length = 0;
};

template <class U> found run_search(const u8* base, const matcher& m, const search& s) {
    auto unit = [&](i64 i) { return fold(load<U>(base + std::size_t(i) * sizeof(U)), s.folding); };
    auto single = [&](i64 i) {
        u32 c = load<U>(base + std::size_t(i) * sizeof(U));
        switch (m.kind) {
        case match_kind::codepoint:
            return fold(c, s.folding) == m.codepoint;
        case match_kind::bitset:
            return bitset_has(m.bits_node, c);
        default:
            return !std::isnan(m.number) && double(c) == m.number;
        }
    };
    i64 n = static_cast<i64>(m.text.size());
    auto text_at = [&](i64 from) {
        for (i64 k = 0; k < n; k++)
            if (unit(from + k) != m.text[k]) return false;
        return true;
    };
    bool is_text = m.kind == match_kind::text;
    if (is_text && n == 0) return {};
    if (!s.backward) {
        for (i64 p = s.start; p < s.end; p += s.step) {
            if (is_text) {
                if (p + n > s.end) break;
                if (text_at(p)) return {p, static_cast<u32>(n)};
            } else if (single(p)) {
                return {p, 1};
            }
            if (s.match_only) break;
        }
    } else {
        for (i64 p = s.start; p >= s.low; p -= s.step) {
            if (is_text) {
                if (p - n + 1 < s.low) break;
                if (text_at(p - n + 1)) return {p - n + 1, static_cast<u32>(n)};
            } else if (single(p)) {
                return {p, 1};
            }
            if (s.match_only) break;
        }
    }
    return {};
}

struct search_result {
    found hit;
    u32 step;
    bool text;
};

// find's steps 1-7 on the series; a result position of -1 is no match.
search_result locate(cell* series, cell* value, cell* part, bool case_, bool same, bool any,
                     cell* with, cell* skip, bool last, bool reverse, bool match) {
    if (is(series, type_id::vector)) raise_not_done(); // element access comes with vector!
    search_result none{{}, 1, false};
    text_view v = view(series);
    if (v.length == 0 || (!reverse && v.head >= v.length)) return none;
    if (any || with) raise_not_done();
    u32 step = 1;
    if (skip) {
        if (!is(skip, type_id::integer)) raise_invalid_refine(skip);
        if (int_of(skip) < 1) raise_out_of_range(skip);
        step = static_cast<u32>(int_of(skip));
    }
    i64 count = -1;
    if (part) {
        count = part_count(series, part, v.head);
        if (count < 1) return none;
    }
    search s{};
    s.step = step;
    s.match_only = match;
    if (reverse) {
        if (match) return none;
        s.backward = true;
        s.start = i64(v.head) - 1;
        s.low = count < 0 ? 0 : std::max<i64>(0, i64(v.head) - count);
        if (s.start < s.low) return none;
    } else {
        i64 end = count < 0 ? v.length : std::min<i64>(v.length, v.head + count);
        if (last) {
            s.backward = true;
            s.start = end - 1;
            s.low = v.head;
        } else {
            s.start = v.head;
            s.end = end;
        }
    }
    u32 st = type_of(series);
    s.folding = !case_ && !same && !is_exact_series(st);

    stack_scope scope;
    matcher m = make_matcher(series, value, s.folding);
    // Forming the value may have moved the buffer: it is read now, with nothing allocated after.
    series_buffer* b = buffer_of(v.node);
    const u8* base = head_ptr(b);
    // The form may also have shortened the text; no step reads past the tail.
    i64 length = used_units(b);
    s.end = std::min(s.end, length);
    s.start = s.backward ? std::min(s.start, length - 1) : s.start;
    found hit = with_unit(checked_unit(b), [&]<class U>() { return run_search<U>(base, m, s); });
    return {hit, step, m.kind == match_kind::text};
}

void set_position(cell* series, i64 position) {
    series->w1 = static_cast<u32>(position);
}

} // namespace

namespace string_type {

cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
           cell* with, cell* skip, bool last, bool reverse, bool tail, bool match) {
    search_result r =
        locate(series, value, part, case_, same, any, with, skip, last, reverse, match);
    if (r.hit.position < 0) return init_none(series);
    i64 at = r.hit.position;
    if (tail) {
        at += r.text ? r.hit.length : r.step;
        at = std::min<i64>(at, view(series).length);
    }
    set_position(series, at);
    return series;
}

cell* select(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
             cell* with, cell* skip, bool last, bool reverse) {
    search_result r =
        locate(series, value, part, case_, same, any, with, skip, last, reverse, false);
    if (r.hit.position < 0) return init_none(series);
    // The element after the whole match, whatever its length.
    i64 at = r.hit.position + r.hit.length;
    text_view v = view(series);
    if (at >= v.length) return init_none(series);
    u32 cp = codepoints_at(v.node, static_cast<u32>(at), 1)[0];
    u32 st = type_of(series);
    if (st == type_id::binary) return init_integer(series, static_cast<i32>(cp));
    return init_char(series, cp);
}

} // namespace string_type

namespace string {

namespace {
// Whether a code point occurs at one of the record starts of a text (folded unless `exact`).
bool occurs(cell* s, u32 cp, u32 step, bool exact) {
    return contains_codepoint(s, cp, step, exact);
}
} // namespace

cell* set_operation(bool case_, cell* skip, i32 op) {
    constexpr i32 unique = 8, union_ = 9, intersect = 10, exclude = 11, difference = 12;
    u32 k = 1;
    if (skip) {
        if (!is(skip, type_id::integer) || int_of(skip) < 1) raise_invalid_refine(skip);
        k = static_cast<u32>(int_of(skip));
    }
    stack_scope scope;
    cell* first = stack::arg(0);
    cell* second = stack::arg(1);
    view(first);
    if (op != unique) view(second);

    u64 room = view(first).from_head();
    if (op == union_) room += view(second).from_head();
    if (room > 0xF0000000u) raise_no_memory();
    cell* result = push_new_string(static_cast<u32>(room));
    if (room > 0) {
        auto walk = [&](cell* walked, cell* other) {
            text_view v = view(walked);
            for (u64 i = v.head; i < v.length; i += k) {
                u32 x = codepoints_at(v.node, static_cast<u32>(i), 1)[0];
                bool keep = true;
                if (op == intersect) keep = occurs(other, x, k, case_);
                if (op == exclude || op == difference) keep = !occurs(other, x, k, case_);
                if (!keep || occurs(result, x, k, case_)) continue;
                append_codepoints(result, codepoints_at(v.node, static_cast<u32>(i), k));
                v = view(walked);
            }
        };
        walk(first, second);
        if (op == union_ || op == difference) walk(second, first);
    }
    cell* last = (op == union_ || op == difference) ? second : first;
    last->w1 = 0;
    last->w2 = result->w2;
    last->w3 = 0;
    *stack::arg(0) = *last;
    return stack::arg(0);
}

} // namespace string
} // namespace zel
