// get, set, unset, value?, bind, in and context?.
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

TEST(WordNatives, GetAndSet) {
    check_all({
        {"x: 5 get 'x", "5"},
        {"set 'x 6 x", "6"},
        {"set 'x 7", "7"},
        {"unset 'x get/any 'x", "unset"},
        {"b: [1 [2 3]] get 'b/2/1", "2"},
        {"b: [1 2] set 'b/2 9 b", "[1 9]"},
        {"set [a b c] [1 2] reduce [a b c]", "[1 2 none]"},
        {"a: 0 b: 0 set/some [a b] reduce [1 none] reduce [a b]", "[1 0]"},
        {"set/only [a b] [1 2] reduce [a b]", "[[1 2] [1 2]]"},
        {"set [a b] 3 reduce [a b]", "[3 3]"},
        {"set [a :b 'c d:] [1 2 3 4] reduce [a b c d]", "[1 2 3 4]"},
        {"set/any 'x () value? 'x", "false"},
    });
    EXPECT_TRUE(raises("unset 'x get 'x", err::E("script", "no-value")));
    EXPECT_TRUE(raises("set 'x ()", err::E("script", "need-value")));
    EXPECT_TRUE(raises("set [a b] reduce [1 ()]", err::E("script", "need-value")));
    // Every entry is checked before the first word is set.
    EXPECT_TRUE(raises("a: 0 set [a 1] [5 6]", err::E("script", "invalid-arg")));
    EXPECT_TRUE(gives("a: 0 try [set [a 1] [5 6]] a", "0"));
}

TEST(WordNatives, UnsetAndValue) {
    check_all({
        {"value? 'an-undefined-word", "false"},
        {"x: 1 value? 'x", "true"},
        {"a: 1 b: 2 unset [a 1 b] reduce [value? 'a value? 'b]", "[false false]"},
        {"x: 1 unset 'x", "unset"},
    });
}

TEST(WordNatives, BindAndIn) {
    check_all({
        // a function's words: bound words read the running call's values.
        {"f: func [a] [b: [a] do bind b 'a] f 42", "42"},
        {"f: func [a] [do bind [a + 1] 'a] f 1", "2"},
        {"f: func [a] [w: in :f 'a get w] f 3", "3"},
        {"f: func [a] [a] in :f 'nope", "none"},
        {"f: func [a /r] [r] type? in :f /r", "word!"},
        // a word not in the context is left as it was.
        {"x: 10 f: func [a] [a] w: bind 'x :f get w", "10"},
    });
    // bind/copy leaves the original block bound as before.
    EXPECT_TRUE(gives("x: 1 b: [x] f: func [x] [do bind/copy b 'x] reduce [f 2 do b]", "[2 1]"));
}

TEST(WordNatives, ContextOf) {
    EXPECT_TRUE(gives_type("f: func [a] [context? 'a] f 1", type_id::function));
    EXPECT_TRUE(gives_type("context? 'if", type_id::object));
    EXPECT_TRUE(gives("f: func [a] [same? :f context? 'a] f 1", "true"));
}

TEST(WordNatives, Objects) {
    check_all({
        {"o: construct [a: 1 b: c]", "make object! [\n    a: 1\n    b: 'c\n]"},
        {"o: construct [a: true b: none] reduce [o/a o/b]", "[true none]"},
        {"o: construct/only [a: true] type? o/a", "word!"},
        {"p: construct [a: 1] o: construct/with [b: 2] p reduce [o/a o/b]", "[1 2]"},
        {"o: construct [a: 1 b: 2] get o", "[1 2]"},
        {"o: construct [a: 1 b: 2] set o [5 6] reduce [o/a o/b]", "[5 6]"},
        {"o: construct [a: 1] get in o 'a", "1"},
        {"o: construct [a: 1] in o 'z", "none"},
        {"o: construct [a: 1] same? o context? in o 'a", "true"},
        {"o: construct [a: 1] b: [a] bind b o do b", "1"},
    });
    EXPECT_TRUE(raises("o: construct [a: 1] extend o [b 2]", err::E("internal", "not-done")));
}

} // namespace
} // namespace zel
