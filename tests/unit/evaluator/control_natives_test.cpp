// The conditional natives: truth rules, branch values and the case and switch walks.
#include "tests/unit/evaluator/eval_fixture.hpp"

namespace zel {
namespace {

using test::gives;
using test::raises;

struct expectation {
    const char* source;
    const char* molded;
};

void check_all(std::initializer_list<expectation> cases) {
    for (const expectation& c : cases) EXPECT_TRUE(gives(c.source, c.molded));
}

TEST(ConditionalNatives, TruthAndBranches) {
    check_all({
        {"if 1 < 2 [10]", "10"},
        {"if 1 > 2 [10]", "none"},
        {"if none [10]", "none"},
        {"if 0 [10]", "10"},  // only none! and false are falsy
        {"if () [10]", "10"}, // unset! counts as truthy for if
        {"unless false [10]", "10"},
        {"unless 1 [10]", "none"},
        {"either 1 > 2 [10] [20]", "20"},
        {"either 0 [10] [20]", "10"},
        {"if true []", "unset"},
    });
    // either takes unset! as an error, not as truth.
    EXPECT_TRUE(raises("either () [1] [2]", err::E("script", "no-return")));
}

TEST(ConditionalNatives, AnyAndAll) {
    check_all({
        {"any []", "none"},
        {"all []", "none"},
        {"any [none false 3 4]", "3"},
        {"any [none false]", "none"},
        {"all [1 2 3]", "3"},
        {"all [1 none 3]", "none"},
        {"all [1 ()]", "unset"}, // unset! is truthy here
        {"any [1 + 1 5]", "2"},  // each step is a whole expression
    });
    // The walk stops at the deciding value: later expressions are not evaluated.
    EXPECT_TRUE(gives("n: 0 any [n: n + 1 n: n + 1] n", "1"));
    EXPECT_TRUE(gives("n: 0 all [none n: 5] n", "0"));
}

TEST(ConditionalNatives, Switch) {
    check_all({
        {"switch 2 [1 [10] 2 [20] 3 [30]]", "20"},
        {"switch 2 [1 2 [12] 3 [30]]", "12"}, // values share the next block
        {"switch 9 [1 [10]]", "none"},
        {"switch/default 9 [1 [10]] [99]", "99"},
        {"switch 1.0 [1 [10] 1.0 [11]]", "11"}, // only values of the same type match
        {"switch 'b [a [1] b [2]]", "2"},
        {"switch 3 [1 [10] 3]", "none"}, // a match without a block after it
    });
}

TEST(ConditionalNatives, Case) {
    check_all({
        {"case [false [1] true [2] true [3]]", "2"},
        {"case [false [1]]", "none"},
        {"case []", "none"},
        {"case [1 < 2 3 + 4]", "7"}, // a branch need not be a block
        {"case/all [true [1] false [2] true [3]]", "3"},
    });
    // A falsy condition skips exactly one value: here `n: 5`'s set-word, so `5` is the next
    // condition and `[n]` its branch.
    EXPECT_TRUE(gives("n: 0 case [false n: 5 [n]]", "0"));
    EXPECT_TRUE(gives("n: 0 case/all [true [n: n + 1] true [n: n + 10]] n", "11"));
    EXPECT_TRUE(raises("case [true]", err::E("script", "need-value")));
    EXPECT_TRUE(raises("case [() [1]]", err::E("script", "no-return")));
}

} // namespace
} // namespace zel
