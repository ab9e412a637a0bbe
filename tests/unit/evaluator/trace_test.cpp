// The evaluation trace: the events a tracer receives, its filter, and the tracer's isolation
// from what it traces.
#include "tests/unit/evaluator/eval_fixture.hpp"

#include "evaluator/trace.hpp"

namespace zel {
namespace {

using test::gives;

TEST(Trace, EventsOfASimpleBlock) {
    EXPECT_TRUE(gives("log: copy [] t: func [e c o v r f] [append log e] do/trace [1] :t log",
                      "[init enter fetch push expr exit end]"));
    EXPECT_FALSE(trace::active);
    EXPECT_FALSE(trace::on);
}

TEST(Trace, FilterAtTheHeadOfTheTracerBody) {
    EXPECT_TRUE(gives("log: copy [] t: func [e c o v r f] [[fetch push] append log e] "
                      "do/trace [x: 1 x] :t log",
                      "[fetch fetch push fetch push]"));
}

TEST(Trace, CallsSetsAndValues) {
    EXPECT_TRUE(
        gives("log: copy [] t: func [e c o v r f] [[open return set] append log reduce [e v]] "
              "do/trace [x: add 1 2] :t log",
              "[open add return 3 set 3]"));
    // The offset is the position in the code, -1 for events without code.
    EXPECT_TRUE(gives("log: copy [] t: func [e c o v r f] [[init fetch end] append log o] "
                      "do/trace [1 2] :t log",
                      "[-1 0 1 -1]"));
    // The reference travels with set only (here), none! elsewhere.
    EXPECT_TRUE(gives("log: copy [] t: func [e c o v r f] [[push set] append log r] "
                      "do/trace [x: 1] :t log",
                      "[none x:]"));
}

TEST(Trace, CallsNamedByWordPathOrFunction) {
    // The call event comes after the arguments and before the body; its reference is the word,
    // the path written, or the function itself when nothing names it.
    EXPECT_TRUE(gives("log: copy [] t: func [e c o v r f] [[open call prolog return] "
                      "append log e  if e = 'call [append/only log either function? :r [1] [:r]]] "
                      "g: func [x] [x] do/trace [g 2] :t log",
                      "[open call g prolog return]"));
    EXPECT_TRUE(gives("log: copy [] t: func [e c o v r f] [[call] append/only log :r] "
                      "o: context [f: func [] [1]] do/trace [o/f append/only [] 1] :t "
                      "reduce [mold log/1 mold log/2]",
                      "[\"o/f\" \"append/only\"]"));
    EXPECT_TRUE(gives("log: copy [] t: func [e c o v r f] [[call] append log function? :r] "
                      "do/trace [do reduce [func [] [1]]] :t log",
                      "[false false false true]"));
}

TEST(Trace, FunctionBodiesAndThrows) {
    EXPECT_TRUE(
        gives("log: copy [] t: func [e c o v r f] [[prolog epilog throw catch] append log e] "
              "g: func [] [catch [throw 1]] do/trace [g] :t log",
              "[prolog throw catch epilog]"));
}

TEST(Trace, NestedTraceKeepsTheFirstTracer) {
    EXPECT_TRUE(gives("log: copy [] t: func [e c o v r f] [[init end] append log 1] "
                      "u: func [e c o v r f] [[init end] append log 2] "
                      "do/trace [do/trace [1] :u] :t log",
                      "[1 1]"));
}

TEST(Trace, TracerRunsUntracedAndErrorsEndTheTrace) {
    // The tracer's own evaluation (its append, its calls) sends nothing back to it.
    EXPECT_TRUE(
        gives("log: copy [] t: func [e c o v r f] [[open] append log v] do/trace [] :t log", "[]"));
    // An error in the traced code still ends the trace; try receives the error.
    EXPECT_TRUE(gives("log: copy [] t: func [e c o v r f] [[end error] append log e] "
                      "try [do/trace [undefined-word] :t] log",
                      "[error end]"));
    EXPECT_FALSE(trace::active);
    // A tracer that raises ends the traced evaluation like an error of the traced code.
    EXPECT_TRUE(test::raises("t: func [e c o v r f] [[fetch] undefined-word] do/trace [1] :t",
                             err::E("script", "no-value")));
    EXPECT_FALSE(trace::active);
    EXPECT_TRUE(test::raises("t: func [e c o v r f] [[init] undefined-word] do/trace [1] :t",
                             err::E("script", "no-value")));
    EXPECT_FALSE(trace::active);
    EXPECT_TRUE(gives("1 + 1", "2"));
}

} // namespace
} // namespace zel
