// string! sort: refinements and their errors, agreement with Python's stable sort in every unit
// width, and function comparators that throw, answer inconsistently or change the string.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <sstream>

#include "runtime/unicode.hpp"
#include "tests/unit/command_output.hpp"
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
    void TearDown() override {
        string_type::call_comparator = nullptr;
        text_fixture::TearDown();
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
    cell* s = text(U"ba");
    EXPECT_EQ(raised([&] { sorted(s, {}, opaque(type_id::function)); }),
              code(err::E("internal", "not-done")));
    EXPECT_EQ(whole(s), U"ba");
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

struct comparator_state {
    enum mode { less, difference, throws, random, grows, clears, records } how = less;
    int calls = 0;
    int throw_after = 0;
    cell* series = nullptr;
    std::mt19937 rng{1};
};
comparator_state state;

// Answers for (first, second) as a language function would; `less` answers first < second.
void comparator(cell*, cell* first, cell* second, cell* result) {
    state.calls++;
    switch (state.how) {
    case comparator_state::less:
        init_logic(result, first->w2 < second->w2);
        break;
    case comparator_state::difference:
        init_integer(result, static_cast<i32>(first->w2) - static_cast<i32>(second->w2));
        break;
    case comparator_state::throws:
        if (state.calls > state.throw_after) error::raise(err::E("user", "message"));
        init_logic(result, first->w2 < second->w2);
        break;
    case comparator_state::random: {
        switch (state.rng() % 5) {
        case 0:
            init_logic(result, state.rng() % 2);
            break;
        case 1:
            init_integer(result, static_cast<i32>(state.rng() % 3) - 1);
            break;
        case 2:
            init_float(result, std::nan(""));
            break;
        case 3:
            init_none(result);
            break;
        default:
            *result = *first;
            break;
        }
        break;
    }
    case comparator_state::grows: {
        // Appending moves the buffer again and again while the sort runs.
        cell extra = make_text(std::u32string(64, U'\u20AC'), 2);
        string_type::append(state.series, &extra, -1, false, 1, true);
        init_logic(result, first->w2 < second->w2);
        break;
    }
    case comparator_state::clears:
        string::clear_to_narrow(state.series);
        init_logic(result, first->w2 < second->w2);
        break;
    case comparator_state::records: {
        EXPECT_EQ(type_of(first), type_id::string);
        init_logic(result, string::compare_texts(first, second, 8, false) < 0);
        break;
    }
    }
}

class StringSortFunction : public StringSort {
  protected:
    void SetUp() override {
        StringSort::SetUp();
        state = comparator_state{};
        string_type::call_comparator = comparator;
        function = opaque(type_id::function);
    }
    cell* function = nullptr;
};

TEST_F(StringSortFunction, AnswersOrderTheRecords) {
    for (u32 unit : {1u, 2u, 4u}) {
        for (bool stable : {true, false}) {
            state.how = comparator_state::less;
            EXPECT_EQ(whole(sorted(text(U"dbca", unit), {.stable = stable}, function)), U"abcd");
            EXPECT_EQ(
                whole(sorted(text(U"dbca", unit), {.reverse = true, .stable = stable}, function)),
                U"dcba");
            state.how = comparator_state::difference;
            EXPECT_EQ(whole(sorted(text(U"cab", unit), {.stable = stable}, function)), U"abc");
            state.how = comparator_state::records;
            EXPECT_EQ(whole(sorted(text(U"b2b1a9", unit),
                                   {.all = true, .stable = stable, .skip = 2}, function)),
                      U"a9b1b2");
        }
    }
}

TEST_F(StringSortFunction, AnErrorLeavesTheStringAsItWas) {
    std::u32string in;
    for (int i = 0; i < 200; i++) in.push_back(U'a' + (i * 7919) % 26);
    for (bool stable : {true, false})
        for (int after : {0, 5, 150}) {
            state = comparator_state{comparator_state::throws, 0, after};
            cell* s = text(in, 2);
            EXPECT_EQ(raised([&] { sorted(s, {.stable = stable}, function); }),
                      code(err::E("user", "message")));
            EXPECT_EQ(whole(s), in) << stable << " " << after;
        }
}

TEST_F(StringSortFunction, InconsistentAnswersStillPermute) {
    std::u32string in;
    for (int i = 0; i < 500; i++) in.push_back(0x3B1 + (i * 31) % 20);
    for (bool stable : {true, false}) {
        state.how = comparator_state::random;
        std::u32string got = whole(sorted(text(in, 2), {.stable = stable}, function));
        std::u32string a = got, b = in;
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        EXPECT_EQ(a, b);
    }
}

TEST_F(StringSortFunction, TheStringMayChangeWhileTheSortRuns) {
    for (bool stable : {true, false}) {
        cell* s = text(U"xdcbay", 1, 1);
        state = comparator_state{comparator_state::grows};
        state.series = s;
        sorted(s, {.stable = stable, .part = 4}, function);
        std::u32string got = whole(s);
        EXPECT_EQ(got.substr(0, 6), U"xabcdy");
        EXPECT_EQ(got.size(), 6 + 64u * state.calls);

        s = text(U"dcba", 2);
        state = comparator_state{comparator_state::clears};
        state.series = s;
        sorted(s, {.stable = stable}, function);
        EXPECT_EQ(whole(s), U"");
    }
}

} // namespace
