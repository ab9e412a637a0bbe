// do, reduce, compose and apply.
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

TEST(EvalNatives, Do) {
    check_all({
        {"do [1 2 3]", "3"},
        {"do []", "unset"},
        {"do \"1 + 2\"", "3"},
        {"do \"\"", "unset"},
        {"do 5", "5"},
        {"x: 7 do 'x", "7"},
        {"do pick [(1 + 2)] 1", "3"},
        {"b: next [1 2 + 3] do b", "5"},
        {"b: tail [1] do b", "unset"},
    });
}

TEST(EvalNatives, DoOfTextRaisesItsSyntaxErrors) {
    EXPECT_TRUE(raises("do \"[1 2\"", err::E("syntax", "missing")));
}

TEST(EvalNatives, DoNext) {
    check_all({
        {"b: [1 + 2 3] do/next b 'p", "3"},
        {"b: [1 + 2 3] do/next b 'p p", "[3]"},
        {"b: [1 + 2 3] do/next b 'p do/next p 'p p", "[]"},
        {"b: [] do/next b 'p", "unset"},
    });
}

TEST(EvalNatives, Reduce) {
    check_all({
        {"reduce [1 + 1 3]", "[2 3]"},
        {"reduce []", "[]"},
        {"x: 4 reduce 'x", "4"},
        {"reduce 5", "5"},
        {"b: [9] reduce/into [1 + 1 3] tail b b", "[9 2 3]"},
        {"b: [8 9] reduce/into [1 2] b b", "[1 2 8 9]"}, // inserted at its position
        {"b: [8 9] reduce/into [1 2] next b b", "[8 1 2 9]"},
        {"b: copy [] reduce/into 5 b", "[5]"},
        {"reduce [reduce [1 + 1]]", "[[2]]"},
        {"reduce [()]", "[unset]"},
    });
    EXPECT_TRUE(gives_type("reduce :add", type_id::action));
    EXPECT_TRUE(gives_type("do :add", type_id::action)); // a function value is not called
}

TEST(EvalNatives, ReduceStopsOnAnExit) {
    EXPECT_TRUE(gives("f: func [] [reduce [1 return 2 3]] f", "2"));
    EXPECT_TRUE(gives("loop 1 [reduce [break/return 4]]", "4"));
}

TEST(EvalNatives, Compose) {
    check_all({
        {"compose [(1 + 1) ([]) ((none)) [(1)]]", "[2 none [(1)]]"},
        {"compose/deep [a [(1 + 1) [(2 + 2)]]]", "[a [2 [4]]]"},
        {"compose/only [([]) ([1 2])]", "[[] [1 2]]"},
        {"compose [([1 2]) 3]", "[1 2 3]"}, // a block value is spliced
        {"compose [() 1]", "[1]"},          // an empty paren adds nothing
        {"compose [(()) 1]", "[1]"},        // unset! is dropped
        {"compose []", "[]"},
        {"b: [0] compose/into [(1) 2] tail b b", "[0 1 2]"},
        {"b: [0] compose/into [(1) 2] b b", "[1 2 0]"},
        {"b: [0] compose/into [(1) 2] b", "[1 2 0]"},
    });
}

TEST(EvalNatives, Apply) {
    check_all({
        {"apply :add [1 2]", "3"},
        {"apply 'add [1 + 1 2]", "4"}, // arguments are reduced
        {"f: func [a b] [a - b] apply :f [10 3]", "7"},
        {"f: func [a /r x] [either r [x] [a]] apply :f [1]", "1"},
        {"f: func [a /r x] [either r [x] [a]] apply :f [1 /r 5]", "5"},
        {"f: func [a /r x] [either r [x] [a]] apply 'f/r [1 6]", "6"},
        {"f: func [a /r x] [either r [x] [a]] apply/all :f [1 true 7]", "7"},
        {"f: func [a /r x] [either r [x] [a]] apply/all :f [1 false 7]", "1"},
        {"f: func [a /r x] [reduce [a r x]] apply/all :f [1]", "[1 false none]"},
        {"f: func [a b] [reduce [a b]] apply/all :f []", "[none none]"},
        {"f: func ['w] [w] apply :f [1 + 1]", "2"}, // literal arguments take the reduced value
        {"apply :+ [2 3]", "5"},                    // an operator as its function
    });
    // /safer skips the arguments of an unused refinement without evaluating them.
    EXPECT_TRUE(gives("n: 0 f: func [/r x] [x] apply/all/safer :f [false (n: 1) ] n", "0"));
    EXPECT_TRUE(gives("n: 0 f: func [/r x] [x] apply/all :f [false (n: 1) ] n", "1"));
    EXPECT_TRUE(raises("apply 5 []", err::E("script", "expect-arg"))); // refused by its type list
    EXPECT_TRUE(raises("x: 5 apply 'x []", err::E("script", "invalid-arg")));
    EXPECT_TRUE(raises("apply :add [1]", err::E("script", "no-arg")));
    EXPECT_TRUE(raises("f: func [a] [a] apply :f [1 /nope]", err::E("script", "no-refine")));
    EXPECT_TRUE(raises("f: func [a] [a] apply :f [1 2]", err::E("script", "invalid-arg")));
    EXPECT_TRUE(
        raises("f: func [a [integer!]] [a] apply :f [none]", err::E("script", "expect-arg")));
}

TEST(EvalNatives, ApplyNativeRefinements) {
    // A native sees each refinement's argument at the position the interpreter gives it.
    check_all({
        {"apply :do [[1 + 2]]", "3"},
        {"b: [1 2] apply :do [b /next 'p] p", "[2]"},
        {"apply/all :catch [[throw/name 3 'x] true 'x]", "3"},
    });
}

} // namespace
} // namespace zel
