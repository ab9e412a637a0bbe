// func, function, does and has.
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

TEST(FunctionNatives, Makers) {
    check_all({
        {"f: func [a b] [a + b] f 1 2", "3"},
        {"f: does [7] f", "7"},
        {"f: has [x] [x: 5 x] x: 1 reduce [f x]", "[5 1]"},
        {"f: has [x] [x] f", "none"},
        {"f: func [a] [a] f: func next [z a] [a] f 4", "4"}, // the spec from its index
    });
    EXPECT_TRUE(raises("func [a 1] []", err::E("script", "bad-func-def")));
    EXPECT_TRUE(raises("func [a a] []", err::E("script", "dup-vars")));
}

TEST(FunctionNatives, FunctionCollectsLocals) {
    check_all({
        // set-words of the body become locals; set (a word argument) does not make one.
        {"x: 0 y: 0 f: function [] [x: 1 set 'y 2] f reduce [x y]", "[0 2]"},
        {"x: 0 f: function [/extern x] [x: 1] f x", "1"},
        {"x: 0 f: function [] [if true [x: 5] x] reduce [f x]", "[5 0]"},
        {"x: 0 f: function [] [foreach x [1 2] [] x] reduce [f x]", "[2 0]"},
        {"x: 0 f: function [] [repeat x 3 [] x] reduce [f x]", "[3 0]"},
        {"f: function [a] [a: a + 1 a] f 1", "2"}, // an argument stays an argument
    });
    EXPECT_TRUE(raises("function [/extern 1] []", err::E("script", "bad-func-extern")));
}

TEST(FunctionNatives, RecursionKeepsEachCallsLocals) {
    EXPECT_TRUE(
        gives("fib: func [n] [either n < 2 [n] [(fib n - 1) + (fib n - 2)]] fib 15", "610"));
    EXPECT_TRUE(gives("f: function [n] [x: n if n > 0 [f n - 1] x] f 3", "3"));
}

} // namespace
} // namespace zel
