// find, select and put on blocks: one table of cases per action over every refinement.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/unit/datatypes/block_support.hpp"

using namespace zel;
using namespace zel::test;

namespace {

// Refinements written as words: "only case same last reverse tail match skip=N part=N pos=N".
struct refinements {
    bool only = false, case_ = false, same = false, last = false, reverse = false, tail = false,
         match = false;
    i32 skip = 0, part = -1000, pos = -1;
    explicit refinements(const std::string& text) {
        std::istringstream in(text);
        std::string w;
        while (in >> w) {
            if (w == "only") only = true;
            if (w == "case") case_ = true;
            if (w == "same") same = true;
            if (w == "last") last = true;
            if (w == "reverse") reverse = true;
            if (w == "tail") tail = true;
            if (w == "match") match = true;
            if (w.rfind("skip=", 0) == 0) skip = std::stoi(w.substr(5));
            if (w.rfind("part=", 0) == 0) part = std::stoi(w.substr(5));
            if (w.rfind("pos=", 0) == 0) pos = std::stoi(w.substr(4));
        }
    }
};

// The first value of the text.
cell value_of(const char* text) {
    cell b = load(text);
    return *block::cell_address(&b, 0);
}

struct find_case {
    const char* block;
    i32 head;
    const char* value;
    const char* refinements;
    i32 expected; // the position found, -1 for none
};

const find_case find_cases[] = {
    {"", 0, "1", "", -1},
    {"", 0, "1", "skip=0", -1}, // an empty block answers none before checking refinements
    {"1 2 3", 3, "1", "", -1},
    {"1 2 3", 3, "3", "reverse", 2},
    {"1 2 3 2", 0, "2", "", 1},
    {"1 2 3 2", 2, "2", "", 3},
    {"1 2 3 4", 0, "[2 3]", "", 1},
    {"1 2 3", 0, "[3 4]", "", -1},
    {"1 [2 3] 2 3", 0, "[2 3]", "only", 1},
    {"1 [2 3] 2 3", 0, "[2 3]", "", 2},
    {"1 2 3", 0, "[]", "", -1},
    {"none true 5 6", 0, "integer!", "", 2},
    {"none true [5] 6", 0, "block!", "", 2},
    {"none integer! 5", 0, "integer!", "only", 1},
    {"1 2 3 4 5 6", 0, "3", "skip=2 tail", 4},
    {"1 2 3 4 5 6", 0, "4", "skip=2", -1},
    {"1 2 3 4 5 6", 1, "4", "skip=2", 3},
    {"1 2", 0, "2", "match", -1},
    {"1 2", 0, "1", "match", 0},
    {"1 2", 0, "1", "match tail", 1},
    {"1 2 3", 0, "[1 2]", "match tail", 2},
    {"1 2 3", 0, "2", "tail", 2},
    {"1 2 3 4", 0, "[2 3]", "tail", 3},
    {"1 2 3", 2, "1", "last", 0},
    {"1 2 3", 2, "1", "reverse", 0},
    {"1 2 3", 3, "2", "reverse tail", 2},
    {"1 2 1 2", 0, "1", "last", 2},
    {"1 2 3 1 2", 0, "[1 2]", "last", 3},
    {"1 2 3 1 2", 5, "[1 2]", "reverse", 3},
    {"1 2 3 1 2", 4, "[1 2]", "reverse", 0},
    {"1 2 3 1 2", 0, "[2 3]", "last", 1},
    {"1 2 3 4", 0, "3", "pos=2", 2},
    {"1 2 3 4", 0, "4", "pos=2", -1},
    {"1 2 3 4", 0, "3", "part=2", -1},
    {"1 2 3 4", 0, "3", "part=3", 2},
    {"1 2 3 4", 1, "3", "part=1", -1},
    {"1 2 3 4", 1, "3", "part=2", 2},
    {"1 2 3 4", 0, "3", "part=0", -1},
    {"1 2 3 4", 0, "[2 3]", "part=2", -1},
    {"1 2 3 4", 0, "[2 3]", "part=3", 1},
    {"1 2 3 4", 0, "4", "part=99", 3},
    {"1 2 3 2 1", 0, "2", "last part=3", 1},
    {"1 2 3 2 1", 0, "2", "reverse pos=2", 1},
    {"1 2 3 4 5 6", 0, "2", "last skip=2", 1},
    {"1 2 3 4 5 6", 0, "5", "last skip=2", -1},
    {"1 2 1 2", 4, "2", "reverse skip=2", 3},
    {"1 2 1 2", 4, "1", "reverse skip=2", -1},
    {"1 2 3", 0, "2", "case", 1},
    {"1 2 3", 0, "[2]", "same only", -1},
};

TEST(BlockFind, Table) {
    auto find = act::handler<act::slot::find>(type_id::block);
    for (const find_case& c : find_cases) {
        cell b = load(c.block);
        refinements r(c.refinements);
        cell s = at(b, c.head);
        cell v = value_of(c.value);
        cell skip = integer_cell(r.skip), part = integer_cell(r.part), pos = at(b, r.pos);
        cell* part_arg = r.pos >= 0 ? &pos : (r.part != -1000 ? &part : nullptr);
        cell* result = find(&s, &v, part_arg, r.only, r.case_, r.same, false, nullptr,
                            r.skip ? &skip : nullptr, r.last, r.reverse, r.tail, r.match);
        i32 got = is_none(result) ? -1 : static_cast<i32>(result->w1);
        EXPECT_EQ(got, c.expected)
            << c.block << " @" << c.head << " find " << c.value << " " << c.refinements;
        if (!is_none(result)) {
            EXPECT_EQ(result->w2, b.w2);
        }
    }
}

TEST(BlockFind, SameMeansTheSameSeries) {
    auto find = act::handler<act::slot::find>(type_id::block);
    cell inner = load("1");
    cell b = load("[1] 2");
    block::append_value_copy(&b, &inner);
    cell s = b;
    find(&s, &inner, nullptr, true, false, true, false, nullptr, nullptr, false, false, false,
         false);
    EXPECT_EQ(s.w1, 2u);
    s = b;
    find(&s, &inner, nullptr, true, false, false, false, nullptr, nullptr, false, false, false,
         false);
    EXPECT_EQ(s.w1, 0u);
}

TEST(BlockFind, AnyAndWithDoNothingOnBlocks) {
    auto find = act::handler<act::slot::find>(type_id::block);
    cell b = load("1 2 3"), v = integer_cell(3), with = integer_cell(2);
    cell s = b;
    find(&s, &v, nullptr, false, false, false, true, &with, nullptr, false, false, false, false);
    EXPECT_EQ(s.w1, 2u);
}

TEST(BlockFind, BadRefinements) {
    auto find = act::handler<act::slot::find>(type_id::block);
    cell b = load("1 2 3"), v = integer_cell(2), zero = integer_cell(0), other = load("1");
    cell t;
    init_logic(&t, true);
    cell s = b;
    EXPECT_RAISES(find(&s, &v, nullptr, false, false, false, false, nullptr, &zero, false, false,
                       false, false),
                  "script", "out-of-range");
    s = b;
    EXPECT_RAISES(
        find(&s, &v, nullptr, false, false, false, false, nullptr, &t, false, false, false, false),
        "script", "invalid-refine-arg");
    s = b;
    EXPECT_RAISES(find(&s, &v, &other, false, false, false, false, nullptr, nullptr, false, false,
                       false, false),
                  "script", "invalid-refine-arg");
}

TEST(BlockSelect, Table) {
    auto select = act::handler<act::slot::select>(type_id::block);
    struct row {
        const char* block;
        const char* value;
        const char* refinements;
        const char* expected;
    };
    const row rows[] = {
        {"1 2 3", "2", "", "3"},         {"1 2 3", "3", "", "none"},
        {"1 2 3", "7", "", "none"},      {"1 2 3 4", "[2 3]", "", "4"},
        {"1 2 3", "[2 3]", "", "none"},  {"[2 3] 9", "[2 3]", "only", "9"},
        {"1 2 3 4", "3", "skip=2", "4"}, {"1 2 3 4", "2", "skip=2", "none"},
        {"1 2 1 3", "1", "last", "3"},   {"1 2 3 4", "3", "part=2", "none"},
    };
    for (const row& r : rows) {
        cell b = load(r.block);
        refinements f(r.refinements);
        cell v = value_of(r.value), skip = integer_cell(f.skip), part = integer_cell(f.part);
        cell* result = select(&b, &v, f.part != -1000 ? &part : nullptr, f.only, false, false,
                              false, nullptr, f.skip ? &skip : nullptr, f.last, false);
        EXPECT_EQ(mold(*result), r.expected) << r.block << " select " << r.value;
    }
}

TEST(BlockPut, Table) {
    auto put = act::handler<act::slot::put>(type_id::block);
    struct row {
        const char* block;
        const char* key;
        const char* value;
        const char* expected;
    };
    const row rows[] = {
        {"1 2", "3", "4", "[1 2 3 4]"},     {"1 2", "1", "5", "[1 5]"},
        {"1", "1", "5", "[1 5]"},           {"1 2 3", "[1 2]", "9", "[1 2 9]"},
        {"1 2", "[7]", "9", "[1 2 [7] 9]"}, {"1 2 2 3", "2", "2", "[1 2 2 3]"},
    };
    for (const row& r : rows) {
        cell b = load(r.block);
        cell s = b, k = value_of(r.key), v = value_of(r.value);
        cell* result = put(&s, &k, &v, false);
        EXPECT_EQ(mold(*result), r.value);
        EXPECT_EQ(show(b), r.expected) << r.block << " put " << r.key << " " << r.value;
    }
}

} // namespace
