// sort on blocks: against Python's sorted() on random records with many equal keys (stable,
// reverse, /skip, /compare offset, /all), the refinement checks, and comparator functions that
// throw, answer inconsistently, or change the series while it is being sorted.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "runtime/collector.hpp"
#include "runtime/cycle_stack.hpp"
#include "tests/unit/datatypes/block_support.hpp"
#include "tests/unit/datatypes/language_values.hpp"

using namespace zel;
using namespace zel::test;

namespace {

auto sort_handler() {
    return act::handler<act::slot::sort>(type_id::block);
}

std::string whole(const cell& b) {
    return show(at(b, 0));
}

struct sort_case {
    std::vector<i32> values;
    i32 size, offset; // offset: the /compare integer less one, or -1 for none
    bool all, reverse, stable;
};

// The records' keys in order, and the records themselves sorted (for the unstable sort, whose
// order of ties is free).
std::vector<std::vector<i32>> records_of(const std::vector<i32>& v, i32 size) {
    std::vector<std::vector<i32>> out;
    for (std::size_t i = 0; i < v.size(); i += size)
        out.emplace_back(v.begin() + i, v.begin() + i + size);
    return out;
}

std::vector<i32> parse(const std::string& line) {
    std::istringstream in(line);
    std::vector<i32> out;
    for (i32 v; in >> v;) out.push_back(v);
    return out;
}

TEST(BlockSort, AgainstPython) {
    std::mt19937 gen(20240611);
    std::vector<sort_case> cases;
    for (int i = 0; i < 60; i++) {
        sort_case c;
        c.size = 1 + static_cast<i32>(gen() % 3);
        i32 records = static_cast<i32>(gen() % 120);
        i32 spread = 1 + static_cast<i32>(gen() % 8); // few distinct keys: many ties
        for (i32 k = 0; k < records * c.size; k++)
            c.values.push_back(static_cast<i32>(gen() % spread) * 10 + (k % c.size));
        c.all = c.size > 1 && gen() % 3 == 0;
        c.offset = (!c.all && c.size > 1 && gen() % 2) ? static_cast<i32>(gen() % c.size) : -1;
        c.reverse = gen() % 2;
        c.stable = gen() % 3 != 0;
        cases.push_back(c);
    }
    std::string input;
    for (const sort_case& c : cases) {
        input += "sort " + std::to_string(c.size) + " " +
                 std::to_string(c.offset < 0 ? 0 : c.offset) + " " + std::to_string(c.all) + " " +
                 std::to_string(c.reverse) + "\n";
        for (i32 v : c.values) input += std::to_string(v) + " ";
        input += "\n";
    }
    std::vector<std::string> expected = block_oracle(input);
    ASSERT_EQ(expected.size(), cases.size()) << "python3 is needed for this test";
    for (std::size_t i = 0; i < cases.size(); i++) {
        const sort_case& c = cases[i];
        cell b = integer_block(c.values);
        cell skip = integer_cell(c.size), compare = integer_cell(c.offset + 1);
        sort_handler()(&b, false, c.size > 1 ? &skip : nullptr, c.offset >= 0 ? &compare : nullptr,
                       nullptr, c.all, c.reverse, c.stable);
        std::string what = "case " + std::to_string(i) + " size " + std::to_string(c.size) +
                           (c.stable ? " stable" : "") + (c.reverse ? " reverse" : "");
        if (c.stable) {
            EXPECT_EQ(integers_of(b), expected[i]) << what;
            continue;
        }
        // Unstable: the same keys in order, the same records.
        auto ours = records_of(parse(integers_of(b)), c.size);
        auto theirs = records_of(parse(expected[i]), c.size);
        ASSERT_EQ(ours.size(), theirs.size()) << what;
        for (std::size_t r = 0; r < ours.size(); r++) {
            if (c.all)
                EXPECT_EQ(ours[r], theirs[r]) << what;
            else
                EXPECT_EQ(ours[r][c.offset < 0 ? 0 : c.offset],
                          theirs[r][c.offset < 0 ? 0 : c.offset])
                    << what;
        }
        std::sort(ours.begin(), ours.end());
        std::sort(theirs.begin(), theirs.end());
        EXPECT_EQ(ours, theirs) << what;
    }
}

TEST(BlockSort, PartsAndChecks) {
    auto sort = sort_handler();
    struct row {
        const char* block;
        i32 head, part; // part -99: absent
        const char* expected;
        i32 head_after;
    };
    const row rows[] = {
        {"5 4 3 2 1", 0, -99, "[1 2 3 4 5]", 0},         {"5 4 3 2 1", 1, 2, "[5 3 4 2 1]", 1},
        {"5 4 3 2 1", 3, -2, "[5 3 4 2 1]", 1},          {"5 4 3 2 1", 1, -3, "[5 4 3 2 1]", 0},
        {"5 4 3 2 1", 1, 99, "[5 1 2 3 4]", 1},          {"", 0, -99, "[]", 0},
        {"3 none 1 true", 0, -99, "[none true 1 3]", 0},
    };
    for (const row& r : rows) {
        cell b = load(r.block);
        cell s = at(b, r.head), part = integer_cell(r.part);
        sort(&s, false, nullptr, nullptr, r.part == -99 ? nullptr : &part, false, false, true);
        EXPECT_EQ(whole(b), r.expected) << r.block << " " << r.part;
        EXPECT_EQ(static_cast<i32>(s.w1), r.head_after) << r.block << " " << r.part;
    }
    cell b = load("3 1 2 4 6 5");
    cell s = b, four = integer_cell(4), zero = integer_cell(0), two = integer_cell(2),
         three = integer_cell(3), seven = integer_cell(7);
    cell none;
    init_none(&none);
    EXPECT_RAISES(sort(&s, false, &four, nullptr, nullptr, false, false, false), "script",
                  "invalid-refine-arg");
    EXPECT_RAISES(sort(&s, false, &zero, nullptr, nullptr, false, false, false), "script",
                  "invalid-refine-arg");
    EXPECT_RAISES(sort(&s, false, &seven, nullptr, nullptr, false, false, false), "script",
                  "invalid-refine-arg");
    EXPECT_RAISES(sort(&s, false, nullptr, nullptr, nullptr, true, false, false), "script",
                  "bad-refines");
    EXPECT_RAISES(sort(&s, false, &two, &two, nullptr, true, false, false), "script",
                  "bad-refines");
    EXPECT_RAISES(sort(&s, false, nullptr, &two, nullptr, false, false, false), "script",
                  "bad-refines");
    EXPECT_RAISES(sort(&s, false, &two, &three, nullptr, false, false, false), "script",
                  "out-of-range");
    EXPECT_RAISES(sort(&s, false, &two, &none, nullptr, false, false, false), "script",
                  "invalid-refine-arg");
    EXPECT_EQ(whole(b), "[3 1 2 4 6 5]");
    // /compare 2 with /skip 2 orders by the second cell.
    sort(&s, false, &two, &two, nullptr, false, false, true);
    EXPECT_EQ(whole(b), "[3 1 2 4 6 5]");
    sort(&s, false, &two, &two, nullptr, false, true, true);
    EXPECT_EQ(whole(b), "[6 5 2 4 3 1]");
}

// ---- comparator functions ----------------------------------------------------------------

// Comparator functions of the language, each run by the interpreter.
enum behaviour : u32 {
    less_than,
    throws,
    inconsistent,
    clears,
    grows,
    nests,
    answers_float,
    second_cells // the arguments are records as blocks: compare their second cells
};
const char* const comparator_sources[] = {
    "func [a b] [a < b]",
    "func [a b] [calls: calls + 1 if calls > 25 [cause-error 'script 'invalid-arg [a]] a < b]",
    "func [a b] [(random 3) - 2]",
    "func [a b] [clear sorted a < b]",
    "func [a b] [calls: calls + 1 if calls = 1 [repeat i 500 [append sorted 999 + i]] a < b]",
    // A sort inside the comparator: a plain one, then one with a comparator of its own.
    "func [a b] [inner: sort/compare/reverse sort copy [3 1 2] func [x y] [x < y] a < b]",
    "func [a b] [to float! b - a]",
    "func [a b] [a/2 < b/2]",
};
std::mt19937 noise(7);

class ComparatorFunction : public ::testing::Test {
  protected:
    void SetUp() override { reset_calls(); }

    static void reset_calls() {
        cell zero = integer_cell(0);
        set_global("calls", zero);
    }

    static cell function(behaviour how) { return evaluated(comparator_sources[how]); }

    cell sort_with(behaviour how, cell& b, bool stable = true, bool reverse = false) {
        cell f = function(how);
        set_global("sorted", b);
        return *sort_handler()(&b, false, nullptr, &f, nullptr, false, reverse, stable);
    }

    std::vector<i32> shuffled(i32 n) {
        std::vector<i32> v;
        for (i32 i = 0; i < n; i++) v.push_back(i % 17);
        std::shuffle(v.begin(), v.end(), noise);
        return v;
    }
};

TEST_F(ComparatorFunction, OrdersByItsAnswer) {
    std::vector<i32> v = shuffled(200);
    cell b = integer_block(v);
    sort_with(less_than, b);
    std::vector<i32> expected = v;
    std::stable_sort(expected.begin(), expected.end());
    EXPECT_EQ(parse(integers_of(b)), expected);
    sort_with(less_than, b, false, true);
    std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(parse(integers_of(b)), expected);
    // A float answer: above 0 means "goes after".
    cell c = integer_block({4, 1, 3});
    sort_with(answers_float, c);
    EXPECT_EQ(integers_of(c), "1 3 4");
}

TEST_F(ComparatorFunction, AnErrorLeavesTheSeriesAsItWas) {
    for (bool stable : {true, false}) {
        std::vector<i32> v = shuffled(300);
        cell b = integer_block(v);
        cell* top = stack::top;
        reset_calls();
        EXPECT_RAISES(sort_with(throws, b, stable), "script", "invalid-arg");
        EXPECT_EQ(parse(integers_of(b)), v);
        EXPECT_EQ(stack::top, top);
        EXPECT_EQ(cycle_stack::depth(), 0u);
    }
}

TEST_F(ComparatorFunction, InconsistentAnswersGiveAPermutation) {
    for (bool stable : {true, false}) {
        std::vector<i32> v = shuffled(2000);
        cell b = integer_block(v);
        gc::root keep(&b); // the comparator's calls may collect
        sort_with(inconsistent, b, stable);
        std::vector<i32> got = parse(integers_of(b));
        std::sort(got.begin(), got.end());
        std::sort(v.begin(), v.end());
        EXPECT_EQ(got, v);
    }
}

TEST_F(ComparatorFunction, ChangesToTheSeriesDuringTheSort) {
    cell b = integer_block(shuffled(100));
    sort_with(clears, b);
    EXPECT_EQ(series::units_from_start(&b), 0u);
    std::vector<i32> v = shuffled(100);
    cell g = integer_block(v);
    reset_calls();
    sort_with(grows, g);
    ASSERT_EQ(series::units_from_start(&g), 600u);
    std::vector<i32> got = parse(integers_of(g));
    std::vector<i32> expected = v;
    std::stable_sort(expected.begin(), expected.end());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), got.begin()));
    EXPECT_EQ(got[100], 1000);
    EXPECT_EQ(got[599], 1499);
}

TEST_F(ComparatorFunction, WholeRecordsAsBlocks) {
    cell b = integer_block({3, 1, 1, 2, 2, 0});
    cell f = function(second_cells), two = integer_cell(2);
    sort_handler()(&b, false, &two, &f, nullptr, true, false, true);
    EXPECT_EQ(integers_of(b), "2 0 3 1 1 2");
}

TEST_F(ComparatorFunction, SortsInsideAComparator) {
    cell b = integer_block({5, 2, 4});
    sort_with(nests, b);
    EXPECT_EQ(integers_of(b), "2 4 5");
    EXPECT_EQ(integers_of(global_value("inner")), "3 2 1");
}

// A throw or a break out of the comparator ends the sort at once: the series stays as it was
// and the exit reaches the code around the sort.
TEST_F(ComparatorFunction, AnExitLeavesTheSeriesAsItWas) {
    for (const char* source :
         {"catch [sort/compare sorted func [a b] [throw 7]]",
          "loop 1 [sort/compare/stable sorted func [a b] [if a = 9 [break/return 7] a < b]]"}) {
        cell b = integer_block(shuffled(300));
        std::string before = integers_of(b);
        set_global("sorted", b);
        EXPECT_TRUE(libtest::gives(source, "7"));
        EXPECT_EQ(integers_of(b), before) << source;
    }
}

} // namespace
