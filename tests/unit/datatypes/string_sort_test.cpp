// string! sort: refinements and their errors, agreement with Python's stable sort in every unit
// width, and function comparators that throw, answer inconsistently or change the string.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <sstream>

#include "runtime/unicode.hpp"
#include "tests/unit/command_output.hpp"
#include "tests/unit/datatypes/language_values.hpp"
#include "tests/unit/datatypes/string_fixture.hpp"

using namespace zel;
using namespace zel::test;

namespace {

struct sort_flags {
    bool case_ = false, all = false, reverse = false, stable = false;
    i32 skip = 0;    // 0: no /skip
    i32 compare = 0; // 0: no /compare
    i32 part = 0;    // 0: no /part
};

class StringSort : public text_fixture {
  protected:
    cell* sorted(cell* s, const sort_flags& f, cell* compare = nullptr) {
        cell* skip = f.skip ? integer(f.skip) : nullptr;
        if (f.compare) compare = integer(f.compare);
        cell* part = f.part ? integer(f.part) : nullptr;
        return string_type::sort(s, f.case_, skip, compare, part, f.all, f.reverse, f.stable);
    }
};

TEST_F(StringSort, RefinementsTable) {
    struct row {
        std::u32string in;
        u32 head;
        sort_flags flags;
        std::u32string out;
        u32 out_head;
    };
    const row rows[] = {
        {U"bCa", 0, {}, U"abC", 0},
        {U"bCa", 0, {.case_ = true}, U"Cab", 0},
        {U"bCa", 0, {.reverse = true}, U"Cba", 0},
        {U"dcba", 1, {}, U"dabc", 1},
        {U"dcba", 0, {.part = 2}, U"cdba", 0},
        {U"dcba", 3, {.part = -2}, U"dbca", 1},
        {U"dcba", 1, {.part = -2}, U"dcba", 0},
        {U"b1a2c0", 0, {.skip = 2}, U"a2b1c0", 0},
        {U"b1a2c0", 0, {.skip = 2, .compare = 2}, U"c0b1a2", 0},
        {U"b2b1a9", 0, {.all = true, .skip = 2}, U"a9b1b2", 0},
        {U"b2B1a9", 0, {.stable = true, .skip = 2}, U"a9b2B1", 0},
        {U"_a", 0, {}, U"a_", 0},
        {U"\u00E9\u00C9e", 0, {.case_ = true}, U"e\u00C9\u00E9", 0},
        {U"\U0001F600a\u20AC", 0, {}, U"a\u20AC\U0001F600", 0},
        {U"", 0, {.skip = 3}, U"", 0},
    };
    for (const row& r : rows)
        for (u32 unit : units_for(r.in)) {
            cell* s = text(r.in, unit, r.head);
            cell* got = sorted(s, r.flags);
            EXPECT_EQ(whole(got), r.out) << utf8_of(r.in) << " unit " << unit;
            EXPECT_EQ(got->w1, r.out_head) << utf8_of(r.in);
        }
}

TEST_F(StringSort, Errors) {
    const u32 refine = code(err::E("script", "invalid-refine-arg"));
    const u32 refines = code(err::E("script", "bad-refines"));
    const u32 range = code(err::E("script", "out-of-range"));
    struct row {
        sort_flags flags;
        u32 error;
    };
    const row rows[] = {
        {{.skip = 3}, refine},
        {{.skip = 0}, 0},
        {{.skip = -1}, refine},
        {{.skip = 4}, refine},
        {{.all = true}, refines},
        {{.compare = 1}, refines},
        {{.all = true, .skip = 2, .compare = 1}, refines},
        {{.skip = 2, .compare = 3}, range},
        {{.skip = 2, .compare = -1}, range},
    };
    for (const row& r : rows) {
        sort_flags f = r.flags;
        EXPECT_EQ(raised([&] { sorted(text(U"dcba", 1, 2), f); }), r.error)
            << f.skip << " " << f.compare;
    }
    // A skip of 3 on a two-unit text: the size does not divide the range.
    EXPECT_EQ(raised([&] { sorted(text(U"ba"), {.skip = 3}); }), refine);
    EXPECT_EQ(raised([&] { sorted(text(U"ba"), {}, text(U"x")); }), refine);
    EXPECT_EQ(raised([&] {
                  string_type::sort(text(U"ba"), false, nullptr, nullptr, text(U"ba"), false, false,
                                    false);
              }),
              refine);
}

TEST_F(StringSort, OneFoldForEveryUnitWidth) {
    // The same text sorts the same whatever its buffer's width.
    const std::u32string in = U"_a^B`bA[z]Z\u00E9\u00C9\u00B5";
    std::u32string first;
    for (u32 unit : {1u, 2u, 4u}) {
        cell* s = sorted(text(in, unit), {.stable = true});
        if (unit == 1) first = whole(s);
        EXPECT_EQ(whole(s), first) << unit;
    }
    EXPECT_EQ(first, U"aABbzZ[]^_`\u00E9\u00C9\u00B5");
}

std::u32string from_list(const std::string& list) {
    return from_cps(list);
}

TEST_F(StringSort, AgreesWithPythonsStableSort) {
    int status = 0;
    std::string all_output = test::command_output(
        "python3 " ZEL_SOURCE_DIR "/tests/unit/datatypes/sort_oracle.py", &status);
    ASSERT_EQ(status, 0);
    std::istringstream lines(all_output);
    std::string line;
    int cases = 0;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        int case_, reverse, every, skip, offset;
        std::string in_hex, out_hex;
        fields >> case_ >> reverse >> every >> skip >> offset >> in_hex >> out_hex;
        std::u32string in = from_list(in_hex), expected = from_list(out_hex);
        auto key = [&](const std::u32string& text, std::size_t record) {
            std::u32string k = every ? text.substr(record * skip, skip)
                                     : text.substr(record * skip + offset - 1, 1);
            if (!case_)
                for (char32_t& c : k) c = case_::to_upper(c);
            return k;
        };
        auto records = [&](const std::u32string& text) {
            std::vector<std::u32string> r;
            for (std::size_t i = 0; i < text.size(); i += skip) r.push_back(text.substr(i, skip));
            std::sort(r.begin(), r.end());
            return r;
        };
        for (u32 unit : units_for(in))
            for (bool stable : {true, false}) {
                sort_flags flags{.case_ = bool(case_),
                                 .all = bool(every),
                                 .reverse = bool(reverse),
                                 .stable = stable,
                                 .skip = skip > 1 ? skip : 0,
                                 .compare = skip > 1 && !every ? offset : 0};
                std::u32string got = whole(sorted(text(in, unit), flags));
                std::string what = line + " unit " + std::to_string(unit);
                if (stable) {
                    ASSERT_EQ(got, expected) << what;
                    continue;
                }
                // Unstable: the same records, in the order of their keys.
                ASSERT_EQ(records(got), records(in)) << what;
                for (std::size_t r = 0; r < got.size() / skip; r++)
                    ASSERT_EQ(key(got, r), key(expected, r)) << what << " record " << r;
            }
        cases++;
    }
    EXPECT_GT(cases, 0);
}

// ---- function comparators -------------------------------------------------------------------

// Comparator functions of the language, each run by the interpreter. `less` answers whether
// its first argument goes first; `random` answers a logic, an integer, NaN, none or a char at
// random; `grows` appends to the string (moving its buffer again and again), `clears` empties it.
enum class comparator { less, difference, throws, random, grows, clears, records };
const char* source_of(comparator how) {
    switch (how) {
    case comparator::less:
        return "func [a b] [a < b]";
    case comparator::difference:
        return "func [a b] [(to integer! a) - (to integer! b)]";
    case comparator::throws:
        return "func [a b] [calls: calls + 1 if calls > limit [cause-error 'user 'message [a]] "
               "a < b]";
    case comparator::random:
        return "func [a b] [pick reduce [random true (random 3) - 2 1.#NaN none a] random 5]";
    case comparator::grows:
        return "func [a b] [calls: calls + 1 append sorted extra a < b]";
    case comparator::clears:
        return "func [a b] [clear sorted a < b]";
    case comparator::records:
        return "func [a b] [a < b]";
    }
    return "";
}

class StringSortFunction : public StringSort {
  protected:
    void SetUp() override {
        StringSort::SetUp();
        set_global("calls", *integer(0));
    }
    // The comparator, with `sorted` naming the series it may change.
    cell* function(comparator how, cell* series = nullptr) {
        if (series) set_global("sorted", *series);
        cell f = evaluated(source_of(how));
        return stack::push_value(&f);
    }
    static i32 calls() {
        cell c = global_value("calls");
        return int_of(&c);
    }
};

TEST_F(StringSortFunction, AnswersOrderTheRecords) {
    for (u32 unit : {1u, 2u, 4u}) {
        for (bool stable : {true, false}) {
            cell* less = function(comparator::less);
            EXPECT_EQ(whole(sorted(text(U"dbca", unit), {.stable = stable}, less)), U"abcd");
            EXPECT_EQ(whole(sorted(text(U"dbca", unit), {.reverse = true, .stable = stable}, less)),
                      U"dcba");
            EXPECT_EQ(whole(sorted(text(U"cab", unit), {.stable = stable},
                                   function(comparator::difference))),
                      U"abc");
            EXPECT_EQ(
                whole(sorted(text(U"b2b1a9", unit), {.all = true, .stable = stable, .skip = 2},
                             function(comparator::records))),
                U"a9b1b2");
        }
    }
}

TEST_F(StringSortFunction, AnErrorLeavesTheStringAsItWas) {
    std::u32string in;
    for (int i = 0; i < 200; i++) in.push_back(U'a' + (i * 7919) % 26);
    for (bool stable : {true, false})
        for (int after : {0, 5, 150}) {
            set_global("calls", *integer(0));
            set_global("limit", *integer(after));
            cell* s = text(in, 2);
            cell* throws = function(comparator::throws);
            EXPECT_EQ(raised([&] { sorted(s, {.stable = stable}, throws); }),
                      code(err::E("user", "message")));
            EXPECT_EQ(whole(s), in) << stable << " " << after;
        }
}

// A throw or a break out of the comparator ends the sort at once: the string stays as it was and
// the exit reaches the code around the sort.
TEST_F(StringSortFunction, AnExitLeavesTheStringAsItWas) {
    for (const char* source : {"catch [sort/compare sorted func [a b] [throw 7]]",
                               "loop 1 [sort/compare/stable sorted func [a b] [if a = #\"q\" "
                               "[break/return 7] a < b]]"}) {
        cell* s = text(U"the quick brown fox", 2);
        set_global("sorted", *s);
        EXPECT_TRUE(libtest::gives(source, "7"));
        EXPECT_EQ(whole(s), U"the quick brown fox") << source;
    }
}

TEST_F(StringSortFunction, InconsistentAnswersStillPermute) {
    std::u32string in;
    for (int i = 0; i < 500; i++) in.push_back(0x3B1 + (i * 31) % 20);
    for (bool stable : {true, false}) {
        std::u32string got =
            whole(sorted(text(in, 2), {.stable = stable}, function(comparator::random)));
        std::u32string a = got, b = in;
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        EXPECT_EQ(a, b);
    }
}

TEST_F(StringSortFunction, TheStringMayChangeWhileTheSortRuns) {
    set_global("extra", *text(std::u32string(64, U'\u20AC'), 2));
    for (bool stable : {true, false}) {
        cell* s = text(U"xdcbay", 1, 1);
        set_global("calls", *integer(0));
        sorted(s, {.stable = stable, .part = 4}, function(comparator::grows, s));
        std::u32string got = whole(s);
        EXPECT_EQ(got.substr(0, 6), U"xabcdy");
        EXPECT_EQ(got.size(), 6 + 64u * static_cast<u32>(calls()));

        s = text(U"dcba", 2);
        sorted(s, {.stable = stable}, function(comparator::clears, s));
        EXPECT_EQ(whole(s), U"");
    }
}

} // namespace
