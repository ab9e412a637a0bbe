// The non-local exits: break, continue, return, exit and throw with their receivers, catch and
// try, and the errors of exits that have none.
#include "tests/unit/evaluator/eval_fixture.hpp"

#include "evaluator/interp.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"

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

TEST(ExitNatives, ReturnAndExit) {
    check_all({
        {"f: func [] [return 5 6] f", "5"},
        {"f: func [] [exit 6] f", "unset"},
        {"f: func [x] [if x > 1 [return 1] 2] reduce [f 0 f 5]", "[2 1]"},
        // return from nested blocks and loops leaves the whole function.
        {"f: func [] [loop 3 [repeat i 3 [if i = 2 [return i * 100]]] 0] f", "200"},
        {"f: func [] [do [all [return 7]] 0] f", "7"},
        {"f: func [] [catch [return 8] 0] f", "8"},
        // the innermost function receives it.
        {"g: func [] [return 1] f: func [] [g 2] f", "2"},
    });
    EXPECT_TRUE(raises("return 1", err::E("throw", "return")));
    EXPECT_TRUE(raises("exit", err::E("throw", "return")));
    EXPECT_TRUE(raises("loop 1 [return 1]", err::E("throw", "return")));
}

TEST(ExitNatives, BreakOutsideALoop) {
    EXPECT_TRUE(raises("break", err::E("throw", "break")));
    EXPECT_TRUE(raises("continue", err::E("throw", "continue")));
    EXPECT_TRUE(raises("break/return 1", err::E("throw", "break")));
    // a try/all frame is a barrier: the loop outside it is not reached.
    EXPECT_TRUE(gives("loop 1 [try/all [break] 0]", "0"));
}

TEST(ExitNatives, TryAllTurnsExitsIntoErrors) {
    struct exit_case {
        const char* source;
        err::id id;
    };
    const exit_case cases[] = {
        {"try/all [break]", err::E("throw", "break")},
        {"loop 2 [e: try/all [continue]] e", err::E("throw", "continue")},
        {"f: func [] [try/all [return 1]] f", err::E("throw", "return")},
        {"catch [try/all [throw 1]]", err::E("throw", "throw")},
    };
    for (const exit_case& c : cases) {
        test::outcome o = test::run(c.source);
        EXPECT_FALSE(o.raised) << c.source;
        EXPECT_EQ(type_of(&o.value), type_id::error) << c.source;
        EXPECT_EQ(error::last_code(), c.id.code()) << c.source;
    }
    // Without /all the exits pass through try.
    EXPECT_TRUE(gives("loop 3 [try [break/return 4]]", "4"));
    EXPECT_TRUE(gives("f: func [] [try [return 2] 3] f", "2"));
    EXPECT_TRUE(gives("catch [try [throw 5] 6]", "5"));
}

TEST(ExitNatives, ThrowAndCatch) {
    check_all({
        {"catch [throw 1 2]", "1"},
        {"catch [1 2]", "2"},
        {"catch [catch [throw 1] 5]", "5"}, // the innermost catch takes it
        {"catch/name [throw/name 1 'a] 'a", "1"},
        {"catch/name [throw/name 1 'A] 'a", "1"}, // names compare without case
        {"catch/name [throw/name 1 'b] [a b]", "1"},
        // A named catch lets other names and unnamed throws pass to the next catch.
        {"catch [catch/name [throw/name 1 'b] 'a 2]", "1"},
        {"catch [catch/name [throw 3] 'a 2]", "3"},
        // A catch without a name takes named throws too.
        {"catch/name [catch [throw/name 1 'a] 2] 'a", "2"},
        {"f: func [] [throw 9] catch [f 1]", "9"},
        {"catch [loop 3 [throw 4]]", "4"},
    });
    EXPECT_TRUE(raises("throw 1", err::E("throw", "throw")));
    EXPECT_TRUE(raises("catch/name [throw/name 1 'b] 'a", err::E("throw", "throw")));
    EXPECT_TRUE(raises("catch/name [throw 1] 'a", err::E("throw", "throw")));
    EXPECT_TRUE(
        raises("catch/name [throw/name 1 'a] [a 2]", err::E("script", "invalid-refine-arg")));
}

TEST(ExitNatives, TryReturnsErrorsAndRestoresTheStacks) {
    EXPECT_TRUE(gives("try [1 + 2]", "3"));
    test::outcome o = test::run("try [undefined-word]");
    ASSERT_FALSE(o.raised);
    EXPECT_EQ(type_of(&o.value), type_id::error);
    EXPECT_EQ(error::last_code(), err::E("script", "no-value").code());

    // An error deep in calls and loops leaves no frame and no stale value behind.
    u32 frames = stack::frame_depth();
    cell* top = stack::top;
    EXPECT_TRUE(gives("f: func [n] [loop 2 [catch [either n = 0 [undefined-word] [f n - 1]]]] "
                      "r: try [f 5] r2: try [1] r2",
                      "1"));
    EXPECT_EQ(stack::frame_depth(), frames);
    EXPECT_EQ(stack::top, top);
    EXPECT_EQ(interp::pending, 0u);

    // A function's locals are back after the unwinding.
    EXPECT_TRUE(gives("g: func [x] [try [h x] x] h: func [x] [x: 99 undefined-word] g 5", "5"));
}

TEST(ExitNatives, ErrorValuesAndTheirReports) {
    // The error of a throw without catch names the function the throw ran in.
    EXPECT_TRUE(gives("f: func [] [throw 1] e: try [f] e/where", "f"));
    EXPECT_TRUE(gives("e: try [undefined-word] e/id", "no-value"));
    // do of an error raises it again, code and all.
    EXPECT_TRUE(gives("e: try [undefined-word] e2: try [do e] e2/id", "no-value"));
    EXPECT_TRUE(raises("e: try [undefined-word] do e", err::E("script", "no-value")));
    // try/keep records the calls that were active at the raise.
    EXPECT_TRUE(
        gives("f: func [] [g] g: func [] [undefined-word] e: try/keep [f] e/stack", "[f g]"));
}

TEST(ExitNatives, TryAfterAnErrorEvaluatesOn) {
    EXPECT_TRUE(gives("n: 0 loop 3 [try [n: n + 1 undefined-word]] n", "3"));
}

} // namespace
} // namespace zel
