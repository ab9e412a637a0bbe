// string! modification: append, insert and change (texts, chars, tags and formed values, /part,
// /only, /dup, widening, sources sharing the buffer, failures), take, swap and trim.
#include <gtest/gtest.h>

#include "tests/unit/datatypes/string_fixture.hpp"

using namespace zel;
using namespace zel::test;

namespace {

enum class action { append, insert, change };

class StringModify : public text_fixture {
  protected:
    // The series after the action, and its head index.
    std::pair<std::u32string, u32> run(action a, cell* series, cell* value, i32 part = -1,
                                       bool only = false, i32 dup = 1) {
        switch (a) {
        case action::append:
            string_type::append(series, value, part, only, dup, true);
            break;
        case action::insert:
            string_type::insert(series, value, part, only, dup, false);
            break;
        case action::change:
            string_type::change(series, value, part, only, dup);
            break;
        }
        return {whole(series), series->w1};
    }
    cell* strings(std::initializer_list<std::u32string_view> texts) {
        std::vector<cell*> cells; // on the data stack while the block is made
        for (auto t : texts) cells.push_back(text(t, 1));
        u32 node = memory::new_cell_series(static_cast<u32>(cells.size()));
        series_buffer* b = buffer_of(node);
        for (const cell* c : cells) *tail_cell(b) = *c, b->tail += sizeof(cell);
        cell blk{type_id::block, 0, node, 0};
        return stack::push_value(&blk);
    }
};

using result = std::pair<std::u32string, u32>;

TEST_F(StringModify, AppendInsertChangeTable) {
    enum value_kind { txt, chr, tag, num, blk };
    struct row {
        action a;
        std::u32string start;
        u32 head;
        value_kind kind;
        std::u32string value; // text, tag text, one char, or the number's digits
        i32 part;
        bool only;
        i32 dup;
        std::u32string out;
        u32 out_head;
    };
    const row rows[] = {
        {action::append, U"ab", 1, tag, U"x", -1, false, 1, U"ab<x>", 0},
        {action::append, U"", 0, txt, U"ab", -1, false, 3, U"ababab", 0},
        {action::append, U"abc", 0, txt, U"xyz", 2, false, 1, U"abcxy", 0},
        {action::append, U"a", 0, tag, U"abc", 3, false, 1, U"a<ab", 0},
        {action::append, U"a", 0, tag, U"abc", 5, false, 1, U"a<abc>", 0},
        {action::append, U"a", 0, num, U"12345", 2, false, 1, U"a12345", 0},
        {action::append, U"a", 0, num, U"12345", 2, true, 1, U"a12", 0},
        {action::append, U"a", 0, num, U"12", -1, false, 3, U"a121212", 0},
        {action::append, U"ab", 1, txt, U"", -1, false, 1, U"ab", 1},
        {action::append, U"a", 0, chr, U"\u00E9", -1, false, 2, U"a\u00E9\u00E9", 0},
        {action::insert, U"abc", 1, txt, U"XY", -1, false, 1, U"aXYbc", 3},
        {action::insert, U"abc", 3, txt, U"XY", -1, false, 1, U"abcXY", 5},
        {action::insert, U"ab", 0, txt, U"X", -1, false, 3, U"XXXab", 3},
        {action::insert, U"ab", 0, txt, U"XYZ", 2, false, 2, U"XYXYab", 4},
        {action::insert, U"ab", 0, tag, U"xyz", 3, false, 1, U"<xyab", 3},
        {action::insert, U"ab", 1, num, U"12", -1, false, 2, U"a1212b", 5},
        {action::insert, U"ab", 1, num, U"12345", 3, false, 1, U"a123b", 4},
        {action::insert, U"ab", 9, chr, U"\U0001F600", -1, false, 1, U"ab\U0001F600", 3},
        {action::change, U"abc", 0, txt, U"XY", -1, false, 1, U"XYc", 2},
        {action::change, U"abc", 0, txt, U"X", 2, false, 1, U"Xc", 1},
        {action::change, U"ab", 0, txt, U"WXYZ", -1, false, 1, U"WXYZ", 4},
        {action::change, U"ab", 2, txt, U"cd", -1, false, 1, U"abcd", 4},
        {action::change, U"abcdef", 0, txt, U"X", -1, false, 3, U"XXXdef", 3},
        {action::change, U"abcdef", 1, num, U"99", -1, false, 1, U"a99def", 3},
        {action::change, U"abcdef", 1, num, U"99", 1, false, 1, U"a99cdef", 3},
        {action::change, U"abcdef", 1, tag, U"x", 4, false, 1, U"a<x>f", 4},
        {action::change, U"abc", 1, chr, U"\u20AC", 0, false, 1, U"a\u20ACbc", 2},
    };
    for (const row& r : rows) {
        std::u32string both = r.start + r.value;
        for (u32 unit : units_for(both)) {
            cell* s = text(r.start, unit, r.head);
            cell* value;
            switch (r.kind) {
            case txt:
                value = text(r.value, units_for(r.value).back());
                break;
            case chr:
                value = character(r.value[0]);
                break;
            case tag:
                value = text(r.value, 1, 0, type_id::tag);
                break;
            case num:
                value = integer(std::stoi(utf8_of(r.value)));
                break;
            default:
                value = strings({r.value});
                break;
            }
            EXPECT_EQ(run(r.a, s, value, r.part, r.only, r.dup), result(r.out, r.out_head))
                << int(r.a) << " " << utf8_of(r.start) << " @" << r.head << " " << utf8_of(r.value)
                << " unit " << unit;
        }
    }
}

TEST_F(StringModify, BlocksContributeEachValueFormed) {
    cell one, two;
    init_integer(&one, 1);
    init_integer(&two, 2);
    cell* numbers = block({one, two});
    EXPECT_EQ(run(action::append, text(U"a"), numbers), result(U"a12", 0));
    cell* words = strings({U"abc", U"def"});
    // Without /only, /part counts the values of the block; with /only it counts characters.
    EXPECT_EQ(run(action::append, text(U""), words, 4), result(U"abcdef", 0));
    EXPECT_EQ(run(action::append, text(U""), words, 1), result(U"abc", 0));
    EXPECT_EQ(run(action::append, text(U""), words, 4, true), result(U"abcd", 0));
    // insert counts characters whatever /only says.
    EXPECT_EQ(run(action::insert, text(U"xy"), words, 4), result(U"abcdxy", 4));
    EXPECT_EQ(run(action::insert, text(U"xy"), words, 4, true), result(U"abcdxy", 4));
    EXPECT_EQ(run(action::change, text(U"xy"), words, 1), result(U"abcdefy", 6));
    cell* paren = block({one, two}, type_id::paren);
    EXPECT_EQ(run(action::insert, text(U"xy", 1, 1), paren, -1, false, 2), result(U"x1212y", 5));
}

TEST_F(StringModify, WideningFollowsTheSourceUnit) {
    cell* s = text(U"ab");
    run(action::append, s, character(0xE9));
    EXPECT_EQ(unit_of_text(*s), 2u);
    s = text(U"ab");
    run(action::insert, s, text(U"cd", 4));
    EXPECT_EQ(unit_of_text(*s), 4u);
    EXPECT_EQ(whole(s), U"cdab");
    s = text(U"ab");
    run(action::change, s, text(U"\u00E9", 1));
    EXPECT_EQ(unit_of_text(*s), 1u);
    EXPECT_EQ(whole(s), U"\u00E9b");
}

TEST_F(StringModify, SourcesSharingTheBufferAreReadBeforeAnythingMoves) {
    struct row {
        action a;
        u32 head, value_head;
        std::u32string out;
        u32 out_head;
    };
    const row rows[] = {
        {action::insert, 0, 1, U"yzxyz", 2},  {action::insert, 1, 2, U"xzyz", 2},
        {action::insert, 2, 0, U"xyxyzz", 5}, {action::change, 0, 1, U"yzz", 2},
        {action::change, 1, 0, U"xxyz", 4},   {action::append, 1, 1, U"xyzyz", 0},
    };
    for (const row& r : rows)
        for (u32 unit : {1u, 2u, 4u}) {
            cell* s = text(U"xyz", unit, r.head);
            cell* value = stack::push_value(s);
            value->w1 = r.value_head;
            EXPECT_EQ(run(r.a, s, value), result(r.out, r.out_head))
                << int(r.a) << " @" << r.head << " from " << r.value_head;
        }
}

TEST_F(StringModify, FailuresLeaveTheSeriesAsItWas) {
    cell one;
    init_integer(&one, 1);
    cell broken{type_id::context, 0, 0, 0}; // no form handler: forming it raises
    for (action a : {action::append, action::insert, action::change}) {
        cell* s = text(U"abc", 1, 1);
        cell* values = block({one, broken});
        EXPECT_EQ(raised([&] { run(a, s, values); }), code(err::E("script", "expect-arg")));
        EXPECT_EQ(whole(s), U"abc") << int(a);
        EXPECT_EQ(raised([&] { run(a, s, text(U"xy"), -1, false, 0x7FFFFFFF); }),
                  code(err::E("internal", "no-memory")));
        EXPECT_EQ(raised([&] { run(a, s, integer(12), -1, false, 0x7FFFFFFF); }),
                  code(err::E("internal", "no-memory")));
        EXPECT_EQ(whole(s), U"abc") << int(a);
        EXPECT_EQ(unit_of_text(*s), 1u);
    }
}

TEST_F(StringModify, Take) {
    struct row {
        std::u32string start;
        u32 head;
        i32 part; // 0x7FFF: no /part
        bool last;
        std::u32string taken; // "!" + char for a single char!, "-" for none
        std::u32string left;
    };
    const i32 no_part = 0x7FFF;
    const row rows[] = {
        {U"a", 0, no_part, false, U"!a", U""},
        {U"abc", 1, no_part, false, U"!b", U"ac"},
        {U"abc", 1, no_part, true, U"!c", U"ab"},
        {U"abc", 3, no_part, false, U"-", U"abc"},
        {U"", 0, no_part, false, U"-", U""},
        {U"abcd", 1, 2, false, U"bc", U"ad"},
        {U"abcd", 1, 9, true, U"bcd", U"a"},
        {U"abcd", 2, -2, false, U"ab", U"cd"},
        {U"abcd", 2, -5, false, U"ab", U"cd"},
        {U"abcd", 2, -2, true, U"", U"abcd"},
        {U"abcd", 0, -2, false, U"", U"abcd"},
        {U"abcd", 1, 0, false, U"", U"abcd"},
        {U"\u00E9\U0001F600x", 0, 2, false, U"\u00E9\U0001F600", U"x"},
    };
    for (const row& r : rows)
        for (u32 unit : units_for(r.start)) {
            cell* s = text(r.start, unit, r.head, type_id::file);
            cell keep = *s;
            cell* part = r.part == no_part ? nullptr : integer(r.part);
            cell* got = string_type::take(s, part, false, r.last);
            std::string what = utf8_of(r.start) + " part " + std::to_string(r.part);
            if (r.taken == U"-") {
                EXPECT_TRUE(is_none(got)) << what;
            } else if (r.taken[0] == U'!') {
                EXPECT_EQ(type_of(got), type_id::char_) << what;
                EXPECT_EQ(got->w2, u32(r.taken[1])) << what;
            } else {
                EXPECT_EQ(type_of(got), type_id::file) << what;
                EXPECT_EQ(whole(got), r.taken) << what;
                EXPECT_EQ(unit_of_text(*got), unit) << what;
            }
            EXPECT_EQ(whole(&keep), r.left) << what;
        }
    // The head index stays where it was, so the series then stands further on.
    cell* s = text(U"abcd", 1, 2);
    cell keep = *s;
    string_type::take(s, integer(-2), false, false);
    EXPECT_EQ(keep.w1, 2u);
    EXPECT_EQ(text_of(keep), U"");
    // A position in the same series, and a binary!'s byte.
    cell* series = text(U"abcd", 1, 1);
    cell* position = stack::push_value(series);
    position->w1 = 3;
    EXPECT_EQ(whole(string_type::take(series, position, false, false)), U"bc");
    cell* got = string_type::take(binary({7, 8}), nullptr, false, true);
    EXPECT_EQ(type_of(got), type_id::integer);
    EXPECT_EQ(int_of(got), 8);
    EXPECT_EQ(raised([&] { string_type::take(text(U"ab"), text(U"a"), false, false); }),
              code(err::E("script", "invalid-refine-arg")));
}

TEST_F(StringModify, Swap) {
    cell* a = text(U"ab");
    cell* b = text(U"cd", 2, 0, type_id::file);
    string_type::swap(a, b);
    EXPECT_EQ(whole(a), U"cb");
    EXPECT_EQ(whole(b), U"ad");
    cell* wide = text(U"\u20ACx", 2);
    string_type::swap(a, wide);
    EXPECT_EQ(whole(a), U"\u20ACb");
    EXPECT_EQ(unit_of_text(*a), 2u);
    EXPECT_EQ(whole(wide), U"cx");
    cell* at_tail = text(U"xy", 1, 2);
    string_type::swap(a, at_tail);
    EXPECT_EQ(whole(a), U"\u20ACb");
    cell* same = stack::push_value(a);
    same->w1 = 1;
    string_type::swap(a, same);
    EXPECT_EQ(whole(a), U"b\u20AC");
    EXPECT_EQ(raised([&] { string_type::swap(a, integer(1)); }),
              code(err::E("script", "invalid-arg")));
    // A byte cannot hold a wider code point: nothing changes.
    cell* bytes = binary({1, 2});
    cell* euro = text(U"\u20AC", 2);
    EXPECT_EQ(raised([&] { string_type::swap(bytes, euro); }),
              code(err::E("script", "out-of-range")));
    EXPECT_EQ(whole(euro), U"\u20AC");
    EXPECT_EQ(buffer_of(bytes->w2)->flags & 0x1F, 1u);
}

TEST_F(StringModify, Trim) {
    enum flag : u32 { none_ = 0, head = 1, tail = 2, auto_ = 4, lines = 8, all = 16 };
    struct row {
        std::u32string start;
        u32 flags;
        std::u32string with; // with: one code point is a char!
        std::u32string out;
    };
    const std::u32string spaced = U"  a  b  ";
    const row rows[] = {
        {spaced, none_, U"", U"a  b"},
        {spaced, all, U"", U"ab"},
        {spaced, lines, U"", U"a b"},
        {spaced, head, U"", U"a  b  "},
        {spaced, tail, U"", U"  a  b"},
        {spaced, head | tail, U"", U"a  b"},
        {spaced, auto_ | all, U"", U"ab"},
        {U"a-b-", none_, U"-", U"ab"},
        {U"x a x", none_, U"x", U" a "},
        {U"a-b-", none_, U"-b", U"a"},
        {U"\t a\r\nb ", all, U"", U"ab"},
        {U"a  \n", none_, U"", U"a\n"},
        {U"a  \n", tail, U"", U"a"},
        {U"\n a \n\n  b \t\n ", none_, U"", U"a\n\nb\n"},
        {U" a\x01\n b", none_, U"", U"a\x01\nb"},
        {U"\u3000a\u00A0\u2028", none_, U"", U"a"},
        {U"a\u2003\u2003b\n\u2003c", none_, U"", U"a\u2003\u2003b\nc"},
        {U"\n\na\n \tb\u3000\n", lines, U"", U"a b"},
        {U"\U0001F600 \U0001F600", all, U"", U"\U0001F600\U0001F600"},
    };
    for (const row& r : rows)
        for (u32 unit : units_for(r.start)) {
            cell* s = text(r.start, unit);
            cell* with = nullptr;
            if (!r.with.empty()) with = r.with.size() == 1 ? character(r.with[0]) : text(r.with);
            string_type::trim(s, r.flags & head, r.flags & tail, r.flags & auto_, r.flags & lines,
                              r.flags & all, with);
            EXPECT_EQ(whole(s), r.out) << utf8_of(r.start) << " flags " << r.flags;
        }
    // Units before the head stay; an empty /with set changes nothing; /auto alone is not done.
    cell* s = text(U" a  ", 1, 1);
    string_type::trim(s, false, false, false, false, false, nullptr);
    EXPECT_EQ(whole(s), U" a");
    s = text(U" a ");
    string_type::trim(s, false, false, false, false, false, text(U""));
    EXPECT_EQ(whole(s), U" a ");
    string_type::trim(s, false, false, false, false, false, integer('a'));
    EXPECT_EQ(whole(s), U"  ");
    EXPECT_EQ(raised([&] { string_type::trim(s, false, false, true, false, false, nullptr); }),
              code(err::E("internal", "not-done")));
}

} // namespace
