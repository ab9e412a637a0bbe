// string! search: find in every direction and with every refinement, select, and the set
// operations on texts.
#include <gtest/gtest.h>

#include <random>

#include "runtime/unicode.hpp"
#include "tests/unit/datatypes/string_fixture.hpp"

using namespace zel;
using namespace zel::test;

namespace {

struct find_flags {
    bool case_ = false, last = false, reverse = false, tail = false, match = false;
    i32 skip = 0; // 0: no /skip
    i32 part = 0; // 0: no /part
};

class StringSearch : public text_fixture {
  protected:
    // The 1-based position found, or 0 for none.
    i64 find_in(cell* s, cell* value, const find_flags& f) {
        cell* series = stack::push_value(s);
        cell* skip = f.skip ? integer(f.skip) : nullptr;
        cell* part = f.part ? integer(f.part) : nullptr;
        cell* r = string_type::find(series, value, part, false, f.case_, false, false, nullptr,
                                    skip, f.last, f.reverse, f.tail, f.match);
        if (is_none(r)) return 0;
        EXPECT_EQ(type_of(r), type_of(s));
        return i64(r->w1) + 1;
    }
    // Runs a set operation on a frame of the two series.
    cell set_op(cell* a, cell* b, i32 op, bool case_ = false, i32 skip = 0) {
        cell* saved = stack::arguments;
        cell* frame = stack::top;
        stack::push_value(a);
        stack::push_value(b);
        cell* k = skip ? integer(skip) : nullptr;
        stack::arguments = frame;
        cell result = *string::set_operation(case_, k, op);
        stack::arguments = saved;
        return result;
    }
};

TEST_F(StringSearch, FindDirectionsAndRefinements) {
    struct row {
        std::u32string text;
        u32 head;
        std::u32string value; // one code point: searched as a char!
        find_flags flags;
        i64 position;
    };
    const row rows[] = {
        {U"abcabc", 0, U"BC", {}, 2},
        {U"abcabc", 0, U"BC", {.case_ = true}, 0},
        {U"abcabc", 0, U"bc", {.tail = true}, 4},
        {U"abcabc", 0, U"bc", {.last = true}, 5},
        {U"abcabc", 0, U"bc", {.last = true, .tail = true}, 7},
        {U"abcabc", 0, U"b", {.skip = 2}, 5},
        {U"abcabc", 0, U"b", {.skip = 3}, 0},
        {U"abcabc", 1, U"b", {.skip = 3}, 2},
        {U"abcabc", 0, U"c", {.tail = true, .skip = 2}, 5},
        {U"abcabc", 0, U"a", {.tail = true, .skip = 3}, 4},
        {U"abcabc", 0, U"ab", {.match = true}, 1},
        {U"abcabc", 0, U"ab", {.tail = true, .match = true}, 3},
        {U"abcabc", 0, U"bc", {.match = true}, 0},
        {U"abcabc", 0, U"abc", {.part = 2}, 0},
        {U"abcabc", 0, U"abc", {.part = 3}, 1},
        {U"abcabc", 1, U"c", {.part = 1}, 0},
        {U"abcabc", 1, U"c", {.part = -1}, 0},
        {U"abcabc", 0, U"c", {.last = true, .part = 4}, 3},
        {U"abcabc", 4, U"a", {.reverse = true}, 4},
        {U"abcabc", 4, U"ab", {.reverse = true}, 1},
        {U"abcabc", 4, U"a", {.reverse = true, .part = 2}, 4},
        {U"abcabc", 4, U"b", {.reverse = true, .part = 2}, 0},
        {U"abcabc", 0, U"a", {.reverse = true}, 0},
        {U"abcabc", 3, U"a", {.reverse = true, .match = true}, 0},
        {U"abcabc", 6, U"a", {}, 0},
        {U"abcabc", 6, U"c", {.reverse = true}, 6},
        {U"abcabc", 0, U"", {}, 0},
        {U"", 0, U"a", {}, 0},
        {U"\u00E9t\u00C9", 0, U"\u00C9", {}, 1},
        {U"\u00E9t\u00C9", 0, U"\u00C9", {.case_ = true}, 3},
        {U"a\u03A3\U0001F600b", 0, U"\u03C3\U0001F600", {}, 2},
        {U"xx\u20ACy", 0, U"\u20ACY", {}, 3},
    };
    for (const row& r : rows) {
        std::u32string both = r.text + r.value;
        for (u32 unit : units_for(both)) {
            cell* s = text(r.text, unit, r.head);
            cell* value = r.value.size() == 1 ? character(r.value[0])
                                              : text(r.value, units_for(r.value).back());
            EXPECT_EQ(find_in(s, value, r.flags), r.position)
                << utf8_of(r.text) << " @" << r.head << " " << utf8_of(r.value) << " unit " << unit;
        }
    }
}

TEST_F(StringSearch, FindAgreesWithAPlainSearchOnFoldedTexts) {
    // Random texts over a small alphabet with letters of both cases in every width.
    const std::u32string alphabet = U"aAbB\u00E9\u00C9\u03C3\u03A3\U0001F600";
    std::mt19937 rng(7);
    auto random_text = [&](std::size_t n) {
        std::u32string s;
        for (std::size_t i = 0; i < n; i++) s.push_back(alphabet[rng() % alphabet.size()]);
        return s;
    };
    auto folded = [](std::u32string s) {
        for (char32_t& c : s) c = case_::to_upper(c);
        return s;
    };
    for (int round = 0; round < 300; round++) {
        std::u32string hay = random_text(rng() % 12);
        std::u32string needle = random_text(1 + rng() % 3);
        u32 head = hay.empty() ? 0 : rng() % (hay.size() + 1);
        bool case_ = rng() % 2;
        std::u32string h = case_ ? hay : folded(hay);
        std::u32string n = case_ ? needle : folded(needle);
        auto expect = [](std::size_t p) { return p == std::u32string::npos ? 0 : i64(p) + 1; };
        i64 forward = head < hay.size() ? expect(h.find(n, head)) : 0;
        i64 last = head < hay.size() && hay.size() - head >= n.size()
                       ? expect(h.rfind(n) >= head && h.rfind(n) != std::u32string::npos
                                    ? h.rfind(n)
                                    : std::u32string::npos)
                       : 0;
        i64 reverse = head > 0 && !hay.empty() ? expect(h.substr(0, head).rfind(n)) : 0;
        for (u32 unit : units_for(hay + needle)) {
            cell* s = text(hay, unit, head);
            cell* value = text(needle, 4);
            std::string what = utf8_of(hay) + " @" + std::to_string(head) + " " + utf8_of(needle);
            EXPECT_EQ(find_in(s, value, {.case_ = case_}), forward) << what;
            EXPECT_EQ(find_in(s, value, {.case_ = case_, .last = true}), last) << what;
            EXPECT_EQ(find_in(s, value, {.case_ = case_, .reverse = true}), reverse) << what;
        }
    }
}

TEST_F(StringSearch, FindMatchersOtherThanTexts) {
    // A bitset of 'c' and 'd'; code points beyond its bits take the complement flag.
    u32 node = memory::new_byte_series(16);
    series_buffer* b = buffer_of(node);
    std::memset(head_ptr(b), 0, 16);
    head_ptr(b)['c' >> 3] |= 0x80 >> ('c' & 7);
    head_ptr(b)['d' >> 3] |= 0x80 >> ('d' & 7);
    b->tail = b->head + 16;
    cell bits{type_id::bitset, 0, node, 0};
    cell* set = stack::push_value(&bits);
    EXPECT_EQ(find_in(text(U"abdc"), set, {}), 3);
    EXPECT_EQ(find_in(text(U"ab\u20ACc", 2), set, {}), 4);
    b->flags |= 0x80000;
    EXPECT_EQ(find_in(text(U"ab\u20ACc", 2), set, {}), 3);

    // Other values are formed and searched as text; a tag! is formed too (with its form).
    EXPECT_EQ(find_in(text(U"x-12y"), integer(-12), {.tail = true}), 5);
    EXPECT_EQ(raised([&] { find_in(text(U"ab"), binary({'a'}), {}); }),
              code(err::E("script", "invalid-arg")));
    // In a binary! numbers match one byte, texts match exactly.
    cell* bin = binary({1, 'a', 'B', 200});
    cell_ops::write_type(bin, type_id::binary);
    EXPECT_EQ(find_in(bin, integer(200), {}), 4);
    EXPECT_EQ(find_in(bin, decimal(97.0), {}), 2);
    EXPECT_EQ(find_in(bin, text(U"AB"), {}), 0);
    EXPECT_EQ(find_in(bin, text(U"aB"), {}), 2);
    EXPECT_EQ(find_in(bin, binary({'B', 200}), {.tail = true}), 5);
}

TEST_F(StringSearch, FindErrors) {
    cell* s = text(U"abc");
    auto run = [&](cell* part, cell* skip, bool any, cell* with) {
        return raised([&] {
            string_type::find(stack::push_value(s), character('a'), part, false, false, false, any,
                              with, skip, false, false, false, false);
        });
    };
    EXPECT_EQ(run(nullptr, nullptr, true, nullptr), code(err::E("internal", "not-done")));
    EXPECT_EQ(run(nullptr, nullptr, false, character('*')), code(err::E("internal", "not-done")));
    EXPECT_EQ(run(nullptr, integer(0), false, nullptr), code(err::E("script", "out-of-range")));
    EXPECT_EQ(run(text(U"abc"), nullptr, false, nullptr),
              code(err::E("script", "invalid-refine-arg")));
    // A position in the same series is a /part count.
    cell* position = stack::push_value(s);
    position->w1 = 1;
    EXPECT_EQ(find_in(s, character('b'), {}), 2);
    EXPECT_TRUE(
        is_none(string_type::find(stack::push_value(s), character('b'), position, false, false,
                                  false, false, nullptr, nullptr, false, false, false, false)));
}

TEST_F(StringSearch, SelectAnswersTheElementAfterTheWholeMatch) {
    struct row {
        std::u32string text;
        std::u32string value;
        i64 element; // -1: none
    };
    const row rows[] = {
        {U"a=1", U"=", '1'},      {U"a=1", U"a=", '1'}, {U"a=1", U"1", -1},
        {U"a=\u20AC", U"A", '='}, {U"x", U"y", -1},     {U"ab\U0001F600c", U"b\U0001F600", 'c'},
    };
    for (const row& r : rows)
        for (u32 unit : units_for(r.text + r.value)) {
            cell* value = r.value.size() == 1 ? character(r.value[0]) : text(r.value, 4);
            cell* got = string_type::select(text(r.text, unit), value, nullptr, false, false, false,
                                            false, nullptr, nullptr, false, false);
            if (r.element < 0) {
                EXPECT_TRUE(is_none(got)) << utf8_of(r.text);
            } else {
                EXPECT_EQ(type_of(got), type_id::char_);
                EXPECT_EQ(got->w2, u32(r.element)) << utf8_of(r.text);
            }
        }
    // A formed value is stepped over whole, like a text.
    cell* got = string_type::select(text(U"a12b"), integer(12), nullptr, false, false, false, false,
                                    nullptr, nullptr, false, false);
    EXPECT_EQ(got->w2, u32('b'));
    // In a binary! the element is an integer!.
    got = string_type::select(binary({5, 6, 7}), integer(6), nullptr, false, false, false, false,
                              nullptr, nullptr, false, false);
    EXPECT_EQ(type_of(got), type_id::integer);
    EXPECT_EQ(int_of(got), 7);
}

TEST_F(StringSearch, SetOperations) {
    constexpr i32 unique = 8, union_ = 9, intersect = 10, exclude = 11, difference = 12;
    struct row {
        std::u32string a, b;
        i32 op;
        bool case_;
        i32 skip;
        std::u32string result;
    };
    const row rows[] = {
        {U"abcabc", U"", unique, false, 0, U"abc"},
        {U"aAbB", U"", unique, false, 0, U"ab"},
        {U"aAbB", U"", unique, true, 0, U"aAbB"},
        {U"ab", U"bc", union_, false, 0, U"abc"},
        {U"abc", U"BCD", intersect, false, 0, U"bc"},
        {U"abc", U"BCD", intersect, true, 0, U""},
        {U"abc", U"b", exclude, false, 0, U"ac"},
        {U"abc", U"bcd", difference, false, 0, U"ad"},
        {U"ababcd", U"", unique, false, 2, U"abcd"},
        {U"\u00E9\u20AC\u00C9", U"\U0001F600", union_, false, 0, U"\u00E9\u20AC\U0001F600"},
        {U"", U"", unique, false, 0, U""},
    };
    for (const row& r : rows)
        for (u32 unit : units_for(r.a + r.b)) {
            cell* a = text(r.a, unit);
            cell* b = text(r.b, unit, 0, type_id::file);
            cell result = set_op(a, b, r.op, r.case_, r.skip);
            EXPECT_EQ(whole(&result), r.result) << utf8_of(r.a) << " op " << r.op;
            // The result takes the cell of the series walked last.
            bool second = r.op == union_ || r.op == difference;
            EXPECT_EQ(type_of(&result), second ? type_id::file : type_id::string);
        }
    EXPECT_EQ(raised([&] { set_op(text(U"ab"), text(U"b"), unique, false, -1); }),
              code(err::E("script", "invalid-refine-arg")));
}

} // namespace
