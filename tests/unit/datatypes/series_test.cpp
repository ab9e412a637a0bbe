// series!: the position actions, element access and the unit-generic modifications, on blocks
// and, where the handler works on raw units, on text buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "evaluator/random.hpp"
#include "tests/unit/datatypes/block_support.hpp"

using namespace zel;
using namespace zel::test;

namespace {

template <u32 S> auto handler() {
    return act::handler<S>(type_id::block);
}

std::string whole(const cell& b) {
    return show(at(b, 0));
}

cell float_cell(double d) {
    cell c;
    return *init_float(&c, d);
}

TEST(Series, PositionActions) {
    struct row {
        const char* action;
        i32 head;
        i32 arg;
        i32 expected;
    };
    const row rows[] = {
        {"at", 0, 0, 0},   {"at", 0, 1, 0},   {"at", 0, -5, 0},  {"at", 0, 10, 3},
        {"at", 2, -1, 1},  {"at", 1, 2, 2},   {"skip", 1, 1, 2}, {"skip", 1, -4, 0},
        {"skip", 1, 9, 3}, {"back", 0, 0, 0}, {"back", 2, 0, 1}, {"next", 3, 0, 3},
        {"next", 1, 0, 2}, {"head", 2, 0, 0}, {"tail", 1, 0, 3},
    };
    for (const row& r : rows) {
        std::string a = r.action;
        void (*h)() = a == "at"     ? handler<act::slot::at>()
                      : a == "skip" ? handler<act::slot::skip>()
                      : a == "back" ? handler<act::slot::back>()
                      : a == "next" ? handler<act::slot::next>()
                      : a == "head" ? handler<act::slot::head>()
                                    : handler<act::slot::tail>();
        cell arg = integer_cell(r.arg);
        cell result = frame_call(h, at(load("1 2 3"), r.head), &arg);
        EXPECT_EQ(static_cast<i32>(result.w1), r.expected) << a << " " << r.head << " " << r.arg;
    }
    cell f = float_cell(1.5);
    EXPECT_RAISES(frame_call(handler<act::slot::at>(), load("1 2"), &f), "script", "invalid-arg");
    EXPECT_RAISES(frame_call(handler<act::slot::skip>(), load("1 2"), &f), "script", "invalid-arg");
}

TEST(Series, PositionQueries) {
    cell b = load("1 2 3");
    EXPECT_EQ(frame_call(handler<act::slot::head_q>(), at(b, 0)).w1, 1u);
    EXPECT_EQ(frame_call(handler<act::slot::head_q>(), at(b, 1)).w1, 0u);
    EXPECT_EQ(frame_call(handler<act::slot::head_q>(), at(b, -1)).w1, 0u);
    EXPECT_EQ(frame_call(handler<act::slot::tail_q>(), at(b, 3)).w1, 1u);
    EXPECT_EQ(frame_call(handler<act::slot::tail_q>(), at(b, 2)).w1, 0u);
    cell index = frame_call(handler<act::slot::index_q>(), at(b, 2));
    EXPECT_EQ(int_of(&index), 3);
    // A position left past the tail by a clear through another reference.
    cell later = at(b, 2);
    cell head = at(b, 1);
    handler<act::slot::clear>()(&head);
    EXPECT_EQ(handler<act::slot::length_q>()(&later), 0);
    EXPECT_EQ(later.w1, 1u);
    EXPECT_EQ(handler<act::slot::length_q>()(&head), 0);
}

TEST(Series, PickAndPoke) {
    auto pick = handler<act::slot::pick>();
    auto poke = handler<act::slot::poke>();
    cell b = load("1 2 3");
    struct row {
        i32 head, index;
        const char* expected;
    };
    for (row r : {row{0, 0, "none"}, row{2, -1, "2"}, row{2, -2, "1"}, row{2, -3, "none"},
                  row{0, 3, "3"}, row{0, 4, "none"}, row{1, 1, "2"}}) {
        cell s = at(b, r.head);
        EXPECT_EQ(mold(*pick(&s, r.index, nullptr)), r.expected) << r.head << " " << r.index;
    }
    cell v = integer_cell(9);
    for (i32 index : {0, 4, -1}) {
        cell s = at(b, 0);
        cell i = integer_cell(index);
        EXPECT_RAISES(poke(&s, index, &v, &i), "script", "out-of-range") << index;
    }
    cell s = at(b, 1);
    poke(&s, 2, &v, nullptr);
    EXPECT_EQ(int_of(&s), 9); // the result is the value poked
    EXPECT_EQ(whole(b), "[1 2 9]");

    // Text: code points in the buffer's unit; a poke widens, a non-char is refused first.
    cell t = keep(make_text(U"ab"));
    cell tp = t;
    cell* c = act::handler<act::slot::pick>(type_id::series)(&tp, 2, nullptr);
    EXPECT_EQ(type_of(c), type_id::char_);
    EXPECT_EQ(c->w2, U'b');
    cell wide;
    init_char(&wide, 0x3A9);
    tp = t;
    act::handler<act::slot::poke>(type_id::series)(&tp, 1, &wide, nullptr);
    EXPECT_EQ(text_of(t), U"\u03A9b");
    EXPECT_EQ(unit_of_text(t), 2u);
    tp = t;
    EXPECT_RAISES(act::handler<act::slot::poke>(type_id::series)(&tp, 1, &v, nullptr), "script",
                  "invalid-arg");
}

TEST(Series, Clear) {
    auto clear = handler<act::slot::clear>();
    cell b = load("1 2 3 4");
    cell s = at(b, 2);
    clear(&s);
    EXPECT_EQ(whole(b), "[1 2]");
    EXPECT_EQ(s.w1, 2u); // the head stays
    cell past = at(b, 5);
    clear(&past);
    EXPECT_EQ(whole(b), "[1 2]");
}

TEST(Series, Remove) {
    auto remove = handler<act::slot::remove>();
    struct row {
        const char* block;
        i32 head;
        i32 part; // -99: no /part; 100 + n: /part as the position n
        const char* expected;
    };
    const row rows[] = {
        {"1 2 3 4", 0, -99, "[2 3 4]"},   {"1 2 3 4", 1, 2, "[1 4]"},
        {"1 2 3 4", 1, 10, "[1]"},        {"1 2 3 4", 1, 0, "[1 2 3 4]"},
        {"1 2 3 4", 1, -1, "[1 2 3 4]"},  {"1 2 3 4", 1, 103, "[1 4]"},
        {"1 2 3 4", 4, -99, "[1 2 3 4]"}, {"1 2 3 4", 3, -99, "[1 2 3]"},
    };
    for (const row& r : rows) {
        cell b = load(r.block);
        cell s = at(b, r.head);
        cell part = r.part >= 100 ? at(b, r.part - 100) : integer_cell(r.part);
        remove(&s, r.part == -99 ? nullptr : &part, nullptr);
        EXPECT_EQ(whole(b), r.expected) << r.block << " " << r.head << " " << r.part;
        EXPECT_EQ(static_cast<i32>(s.w1), r.head);
    }
    cell b = load("1 2 3");
    cell s = b;
    cell other;
    init_logic(&other, true);
    EXPECT_RAISES(remove(&s, &other, nullptr), "script", "invalid-refine-arg");
    cell elsewhere = load("1 2 3"); // a position in another block
    EXPECT_RAISES(remove(&s, &elsewhere, nullptr), "script", "invalid-refine-arg");
}

TEST(Series, RemoveKey) {
    auto remove = handler<act::slot::remove>();
    cell b = load("1 10 2 20 3 30");
    cell s = b;
    cell key = integer_cell(2);
    remove(&s, nullptr, &key);
    EXPECT_EQ(whole(b), "[1 10 3 30]");
    EXPECT_EQ(s.w1, 2u); // where the key was
    s = b;
    cell absent = integer_cell(7);
    remove(&s, nullptr, &absent);
    EXPECT_TRUE(is_none(&s));
    EXPECT_EQ(whole(b), "[1 10 3 30]");
    s = b;
    cell one = integer_cell(1);
    cell part = integer_cell(2);
    remove(&s, &part, &one); // the /part count from the key, plus one
    EXPECT_EQ(whole(b), "[30]");
    // The key is looked for from the head on.
    b = load("1 10 2 20 1 30");
    s = at(b, 2);
    remove(&s, nullptr, &one);
    EXPECT_EQ(whole(b), "[1 10 2 20]");
    EXPECT_EQ(s.w1, 4u);
}

TEST(Series, Reverse) {
    auto reverse = handler<act::slot::reverse>();
    struct row {
        const char* block;
        i32 head, part, skip; // part/skip -1: absent
        const char* expected;
    };
    const row rows[] = {
        {"1 2 3 4 5", 0, -1, -1, "[5 4 3 2 1]"},
        {"1 2 3 4 5", 1, -1, -1, "[1 5 4 3 2]"},
        {"1 2 3 4 5", 1, 2, -1, "[1 3 2 4 5]"},
        {"1 2 3 4 5 6", 0, -1, 2, "[5 6 3 4 1 2]"},
        {"1 2 3 4 5 6", 0, -1, 3, "[4 5 6 1 2 3]"},
        {"1 2 3 4", 0, -1, 4, "[1 2 3 4]"},
        {"1 2 3 4 5 6", 0, 4, 2, "[3 4 1 2 5 6]"},
        {"1 2 3", 0, 0, -1, "[1 2 3]"},
        // The /skip checks use the /part count, the range stops at the tail.
        {"1 2 3 4", 2, 4, 2, "[1 2 3 4]"},
    };
    for (const row& r : rows) {
        cell b = load(r.block);
        cell s = at(b, r.head);
        cell part = integer_cell(r.part), skip = integer_cell(r.skip);
        reverse(&s, r.part < 0 ? nullptr : &part, r.skip < 0 ? nullptr : &skip);
        EXPECT_EQ(whole(b), r.expected) << r.block << " " << r.part << " " << r.skip;
    }
    cell b = load("1 2 3 4 5");
    cell s = b;
    cell two = integer_cell(2), zero = integer_cell(0), six = integer_cell(6);
    EXPECT_RAISES(reverse(&s, nullptr, &two), "script", "invalid-refine-arg");
    EXPECT_RAISES(reverse(&s, nullptr, &zero), "script", "out-of-range");
    EXPECT_RAISES(reverse(&s, nullptr, &six), "script", "invalid-refine-arg");
    EXPECT_EQ(whole(b), "[1 2 3 4 5]");
    // Text units are reversed in place.
    cell t = keep(make_text(U"abc\u0100", 2));
    act::handler<act::slot::reverse>(type_id::series)(&t, nullptr, nullptr);
    EXPECT_EQ(text_of(t), U"\u0100cba");
}

TEST(Series, Take) {
    auto take = handler<act::slot::take>();
    struct row {
        const char* block;
        i32 head, part; // -99: no /part; 100 + n: /part as the position n
        bool last;
        const char* result;
        const char* left;
        i32 head_after;
    };
    const row rows[] = {
        {"1 2 3 4", 0, -99, false, "1", "[2 3 4]", 0},
        {"1 2 3 4", 0, -99, true, "4", "[1 2 3]", 0},
        {"1 2 3 4", 1, 2, false, "[2 3]", "[1 4]", 1},
        {"1 2 3 4", 1, 2, true, "[3 4]", "[1 2]", 1},
        {"1 2 3 4", 1, 9, false, "[2 3 4]", "[1]", 1},
        {"1 2 3 4", 2, -2, false, "[1 2]", "[3 4]", 2},
        {"1 2 3 4", 2, -5, false, "[1 2]", "[3 4]", 2},
        {"1 2 3 4", 0, -2, false, "[]", "[1 2 3 4]", 0},
        {"1 2 3 4", 2, -2, true, "[]", "[1 2 3 4]", 2},
        {"1 2 3 4", 1, 0, false, "[]", "[1 2 3 4]", 1},
        {"1 2 3 4", 1, 103, false, "[2 3]", "[1 4]", 1},
        {"1 2 3 4", 1, 102, true, "[3 4]", "[1 2]", 1},
        {"1 2 3 4", 2, 101, false, "[]", "[1 2 3 4]", 2},
        {"1 [2] 3", 1, -99, false, "[2]", "[1 3]", 0},
        {"", 0, -99, false, "none", "[]", 0},
        {"1 2", 2, -99, false, "none", "[1 2]", 0},
    };
    for (const row& r : rows) {
        cell b = load(r.block);
        cell s = at(b, r.head);
        cell part = r.part >= 100 ? at(b, r.part - 100) : integer_cell(r.part);
        cell* result = take(&s, r.part == -99 ? nullptr : &part, false, r.last);
        EXPECT_EQ(mold(*result), r.result) << r.block << " " << r.head << " " << r.part;
        EXPECT_EQ(whole(b), r.left) << r.block << " " << r.head << " " << r.part;
    }
    // /deep copies what it takes.
    cell b = load("[1] [2] 3");
    cell inner = *block::cell_address(&b, 0);
    cell s = b;
    cell part = integer_cell(2);
    take(&s, &part, true, false);
    EXPECT_EQ(mold(s), "[[1] [2]]");
    EXPECT_NE(block::cell_address(&s, 0)->w2, inner.w2);
    cell bad = load("1/2");
    s = b;
    EXPECT_RAISES(take(&s, block::cell_address(&bad, 0), false, false), "script",
                  "invalid-refine-arg");
}

TEST(Series, CopyPart) {
    auto copy = act::handler<act::slot::copy>(type_id::series);
    struct row {
        i32 head;
        const char* part; // "": none; "i n", "pair x y", "pos n"
        const char* expected;
    };
    const row rows[] = {
        {1, "", "[2 3 4 5]"},
        {1, "i 2", "[2 3]"},
        {1, "i 9", "[2 3 4 5]"},
        {3, "i -2", "[2 3]"},
        {1, "i -5", "[1]"},
        {1, "pos 3", "[2 3]"},
        {3, "pos 1", "[2 3]"},
        {1, "pair 2 4", "[3 4]"},
        {1, "pair -1 1", "[1 2]"},
        {1, "pair 3 2", "[]"},
        {7, "", "[]"},
        {5, "i 2", "[]"},
    };
    cell b = load("1 2 3 4 5");
    for (const row& r : rows) {
        std::string p = r.part;
        cell part;
        if (p.rfind("i ", 0) == 0) part = integer_cell(std::stoi(p.substr(2)));
        if (p.rfind("pos ", 0) == 0) part = at(b, std::stoi(p.substr(4)));
        if (p.rfind("pair ", 0) == 0) {
            int x, y;
            std::sscanf(p.c_str(), "pair %d %d", &x, &y);
            part = cell{type_id::pair, 0, static_cast<u32>(x), static_cast<u32>(y)};
        }
        cell s = at(b, r.head), out;
        copy(&s, &out, p.empty() ? nullptr : &part, false, nullptr);
        EXPECT_EQ(mold(out), r.expected) << r.head << " " << r.part;
        EXPECT_EQ(out.w1, 0u);
    }
    EXPECT_EQ(whole(b), "[1 2 3 4 5]");
    // Text keeps its unit.
    cell t = keep(make_text(U"a\u0100bc", 2)), out;
    t.w1 = 1;
    cell two = integer_cell(2);
    copy(&t, &out, &two, false, nullptr);
    EXPECT_EQ(text_of(out), U"\u0100b");
    EXPECT_EQ(unit_of_text(out), 2u);
}

TEST(Series, MoveWithinOneBlock) {
    auto move = handler<act::slot::move>();
    struct row {
        i32 from, to, part; // part -1: absent
        const char* expected;
    };
    const row rows[] = {
        {0, 3, -1, "[2 3 1 4 5]"}, {0, 5, 2, "[3 4 5 1 2]"}, {3, 0, 2, "[4 5 1 2 3]"},
        {1, 1, 2, "[1 2 3 4 5]"},  {1, 2, 2, "[1 2 3 4 5]"}, {1, 3, 2, "[1 2 3 4 5]"},
        {3, 1, 9, "[1 4 5 2 3]"},  {0, 4, 3, "[4 1 2 3 5]"}, {4, 5, 1, "[1 2 3 4 5]"},
    };
    for (const row& r : rows) {
        cell b = load("1 2 3 4 5");
        cell from = at(b, r.from), to = at(b, r.to), part = integer_cell(r.part);
        move(&from, &to, r.part < 0 ? nullptr : &part);
        EXPECT_EQ(whole(b), r.expected) << r.from << " " << r.to << " " << r.part;
    }
}

TEST(Series, MoveBetweenSeries) {
    auto move = handler<act::slot::move>();
    cell a = load("1 2 3"), b = load("7 8");
    cell from = at(a, 1), to = at(b, 1), two = integer_cell(2);
    cell* result = move(&from, &to, &two);
    EXPECT_EQ(result->w2, b.w2);
    EXPECT_EQ(whole(a), "[1]");
    EXPECT_EQ(whole(b), "[7 2 3 8]");
    // Nothing to move from a tail.
    from = at(a, 1);
    move(&from, &to, nullptr);
    EXPECT_EQ(whole(b), "[7 2 3 8]");
    cell t = keep(make_text(U"xy"));
    from = a;
    EXPECT_RAISES(move(&from, &t, nullptr), "script", "move-bad");
    EXPECT_RAISES(act::handler<act::slot::move>(type_id::series)(&t, &from, nullptr), "script",
                  "move-bad");
    cell n = integer_cell(3);
    EXPECT_RAISES(move(&from, &n, nullptr), "script", "expect-arg");
    // Texts of different widths move code point by code point.
    cell wide = keep(make_text(U"\u0100\u0101", 2)), narrow = keep(make_text(U"ab", 1));
    act::handler<act::slot::move>(type_id::series)(&wide, &narrow, nullptr);
    EXPECT_EQ(text_of(wide), U"\u0101");
    EXPECT_EQ(text_of(narrow), U"\u0100ab");
}

TEST(Series, Random) {
    auto rnd = handler<act::slot::random>();
    std::vector<std::string> shuffles;
    for (int round = 0; round < 2; round++) {
        cell b = load("1 2 3 4 5 6 7 8 9 10 11 12");
        cell seed = b;
        rnd(&seed, true, false, false);
        EXPECT_TRUE(is_unset(&seed));
        cell s = b;
        rnd(&s, false, false, false);
        shuffles.push_back(whole(b));
        // Still the same values.
        std::vector<i32> values;
        for (u32 i = 0; i < 12; i++) values.push_back(int_of(block::cell_address(&b, i)));
        std::sort(values.begin(), values.end());
        for (i32 i = 0; i < 12; i++) EXPECT_EQ(values[i], i + 1);
    }
    // Seeding from the same contents gives the same shuffle.
    EXPECT_EQ(shuffles[0], shuffles[1]);
    cell b = load("1 2 3");
    for (int i = 0; i < 20; i++) {
        cell s = at(b, 1);
        rnd(&s, false, false, true);
        EXPECT_TRUE(int_of(&s) == 2 || int_of(&s) == 3);
    }
    cell tail = at(b, 3);
    rnd(&tail, false, false, true);
    EXPECT_TRUE(is_none(&tail));
}

} // namespace
