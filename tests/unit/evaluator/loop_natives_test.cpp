// The loop natives: pass counts, results, break and continue, the loop words, and the loops
// whose body never runs.
#include "tests/unit/evaluator/eval_fixture.hpp"

namespace zel {
namespace {

using test::gives;
using test::gives_type;
using test::raises;

struct expectation {
    const char* source;
    const char* molded;
};

void check_all(std::initializer_list<expectation> cases) {
    for (const expectation& c : cases) EXPECT_TRUE(gives(c.source, c.molded));
}

TEST(LoopNatives, CountedLoops) {
    check_all({
        {"n: 0 loop 3 [n: n + 1]", "3"},
        {"loop 2.9 [n: 7] n", "7"},
        {"n: 0 loop 2.9 [n: n + 1] n", "2"}, // a float count is truncated
        {"loop 0 [1]", "none"},
        {"loop -5 [1]", "none"},
        {"loop -1e12 [1]", "none"}, // saturates instead of wrapping
        {"n: 0 repeat i 4 [n: n + i]", "10"},
        {"repeat i 3 [i] i", "3"},         // the word keeps its last value
        {"i: 42 repeat i -1 [0] i", "42"}, // a loop that does not run leaves it alone
        {"repeat i 0 [0]", "none"},
        {"repeat i 2.5 [i]", "2"},
    });
    EXPECT_TRUE(raises("loop subtract 1e400 1e400 [0]", err::E("script", "type-limit")));
}

TEST(LoopNatives, HugeFloatCountSaturates) {
    // 1e10 passes are not run: the count saturates and the body breaks at once.
    EXPECT_TRUE(gives("n: 0 loop 1e10 [n: n + 1 break] n", "1"));
}

TEST(LoopNatives, WhileAndUntil) {
    check_all({
        {"n: 0 while [n < 5] [n: n + 1] n", "5"},
        {"n: 0 while [n < 5] [n: n + 1]", "unset"}, // a falsy condition ends with unset!
        {"while [false] [1]", "unset"},
        {"n: 0 until [n: n + 1 n = 3] n", "3"},
        {"n: 0 until [n: n + 1 n >= 3]", "true"},
        {"n: 0 while [true] [n: n + 1 if n = 4 [break/return n * 10]]", "40"},
    });
    EXPECT_TRUE(raises("while [()] [1]", err::E("script", "no-return")));
    EXPECT_TRUE(raises("until [()]", err::E("script", "no-return")));
    EXPECT_TRUE(raises("while [break] [1]", err::E("throw", "while-cond")));
    EXPECT_TRUE(raises("n: 0 while [n: n + 1 if n > 2 [continue] true] [1]",
                       err::E("throw", "while-cond")));
}

TEST(LoopNatives, BreakAndContinue) {
    check_all({
        {"loop 5 [break]", "unset"},
        {"loop 5 [break/return 7]", "7"},
        {"n: 0 loop 5 [n: n + 1 if n = 2 [break] 99]", "unset"},
        {"n: 0 repeat i 5 [if i > 2 [continue] n: n + 10] n", "20"},
        {"n: 0 repeat i 5 [if i = 3 [break] n: i] n", "2"},
        {"repeat i 5 [if i = 3 [break]] i", "3"},
        {"n: 0 repeat i 4 [if odd? i [continue] n: n + i] n", "6"},
        // A continued until pass is not tested.
        {"n: 0 until [n: n + 1 if n < 3 [continue] true] n", "3"},
        {"forever [break/return 5]", "5"},
        {"n: 0 forever [n: n + 1 if n = 10 [break]] n", "10"},
    });
}

TEST(LoopNatives, NestedLoops) {
    // break and continue reach the innermost loop only.
    EXPECT_TRUE(gives("n: 0 repeat i 3 [repeat j 3 [if j = 2 [break] n: n + 1]] n", "3"));
    EXPECT_TRUE(
        gives("n: 0 repeat i 3 [repeat j 3 [if j = 2 [continue] n: n + 1] n: n + 100] n", "306"));
    EXPECT_TRUE(gives("r: loop 2 [loop 2 [break/return 1] 2] r", "2"));
    // break inside a function called from a loop leaves both.
    EXPECT_TRUE(gives("f: func [] [break 1] n: 0 loop 3 [n: n + 1 f n: 99] n", "1"));
    // break inside nested blocks and natives that evaluate them.
    EXPECT_TRUE(gives("n: 0 loop 3 [n: n + 1 either n = 2 [do [all [break]]] [0]] n", "2"));
}

TEST(LoopNatives, Foreach) {
    check_all({
        {"s: 0 foreach x [1 2 3] [s: s + x] s", "6"},
        {"foreach x [1 2 3] [x]", "3"},
        {"foreach x [] [x]", "none"}, // the body never runs
        {"b: next next [1 2] foreach x b [x]", "none"},
        {"r: copy [] foreach [a b] [1 2 3 4 5] [append r reduce [b a]] r", "[2 1 4 3 none 5]"},
        {"foreach x [1 2 3] [if x = 2 [break/return x * 10]]", "20"},
        {"s: 0 foreach x [1 2 3 4] [if even? x [continue] s: s + x] s", "4"},
        {"foreach x [a (b) [c]] [x]", "[c]"}, // elements are taken as they are
        {"s: 0 foreach x next [1 2 3] [s: s + x] s", "5"},
    });
    EXPECT_TRUE(raises("foreach [] [1 2] [0]", err::E("script", "invalid-arg")));
    EXPECT_TRUE(raises("foreach [a 1] [1 2] [0]", err::E("script", "invalid-arg")));
}

TEST(LoopNatives, StringSeries) {
    check_all({
        {"foreach c \"ab\" [c]", "#\"b\""},
        {"r: copy [] foreach [a b] \"abc\" [append r reduce [a b]] r",
         "[#\"a\" #\"b\" #\"c\" none]"},
        {"s: \"abc\" r: copy [] forall s [append r index? s] reduce [r s]", "[[1 2 3] \"abc\"]"},
        {"remove-each c \"a1b2\" [c < #\"a\"]", "\"ab\""},
    });
}

TEST(LoopNatives, ForeachOverAMap) {
    check_all({
        {"r: copy [] foreach [k v] make map! [a 1 \"s\" 2] [append r reduce [k v]] r",
         "[a 1 \"s\" 2]"},
        {"foreach [k v] make map! [] [1]", "none"},
        {"foreach [k v] make map! [a 1 b 2] [if k = 'b [break/return v]]", "2"},
    });
    EXPECT_TRUE(gives_type("foreach [k v] make map! [a 1] [k]", type_id::word)); // not set-word!
    EXPECT_TRUE(raises("foreach k make map! [a 1] [k]", err::E("script", "invalid-arg")));
    EXPECT_TRUE(raises("foreach [k] make map! [a 1] [k]", err::E("script", "invalid-arg")));
    EXPECT_TRUE(raises("foreach [k v w] make map! [a 1] [k]", err::E("script", "invalid-arg")));
}

TEST(LoopNatives, ForeachSeesChangesToTheSeries) {
    // The tail is read on every pass: appending during the loop extends it.
    EXPECT_TRUE(gives("b: copy [1] n: 0 foreach x b [n: n + 1 if x < 4 [append b x + 1]] n", "4"));
    // Clearing ends it.
    EXPECT_TRUE(gives("b: copy [1 2 3] n: 0 foreach x b [n: n + 1 clear b] n", "1"));
}

TEST(LoopNatives, Forall) {
    check_all({
        {"b: [1 2 3] r: copy [] forall b [append r pick b 1] r", "[1 2 3]"},
        {"b: [1 2 3] forall b [0] b", "[1 2 3]"}, // back at its start
        {"b: next [1 2 3] forall b [0] b", "[2 3]"},
        {"b: [1 2 3] forall b [if 2 = pick b 1 [break]] b", "[2 3]"}, // kept where it broke
        {"b: [1 2 3] forall b [b]", "[3]"},
        {"b: tail [1 2] forall b [1]", "none"},
        {"b: [1 2 3 4] n: 0 forall b [n: n + 1 b: next b] n", "2"}, // the body may move it
    });
    EXPECT_TRUE(raises("b: 5 forall b [0]", err::E("script", "expect-arg")));
    EXPECT_TRUE(raises("forall undefined-word [0]", err::E("script", "no-value")));
    EXPECT_TRUE(raises("b: [1 2] forall b [b: [3 4]]", err::E("script", "bad-loop-series")));
}

TEST(LoopNatives, RemoveEach) {
    check_all({
        {"remove-each x [1 2 3 4] [even? x]", "[1 3]"},
        {"b: [1 2 3 4 5] remove-each x b [x > 2] b", "[1 2]"},
        {"remove-each [a b] [1 2 3 4 5 6] [a = 3]", "[1 2 5 6]"},
        {"remove-each x [] [true]", "[]"},
        {"remove-each x [1 2 3] [if x = 2 [break] true]", "[2 3]"},
        {"remove-each x [1 2 3] [if x = 2 [continue] false]", "[1 2 3]"},
        {"b: next [1 2 3 4] remove-each x b [true] head b", "[1]"},
    });
    EXPECT_TRUE(raises("remove-each [] [1] [true]", err::E("script", "invalid-arg")));
}

} // namespace
} // namespace zel
