// Comparisons, same?, not, type? and the dispatch of the set operations.
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

TEST(CompareNatives, Comparisons) {
    check_all({
        {"equal? 1 1", "true"},
        {"equal? 1 1.0", "true"},
        {"strict-equal? 1 1.0", "false"},
        {"not-equal? 1 2", "true"},
        {"lesser? 1 2", "true"},
        {"greater? 1 2", "false"},
        {"lesser-or-equal? 2 2", "true"},
        {"greater-or-equal? 1 2", "false"},
        {"equal? 1 none", "false"}, // values that cannot be compared are unequal
        {"not-equal? 'a 5", "true"},
        {"equal? 'abc 'ABC", "true"},
    });
    EXPECT_TRUE(raises("lesser? 1 none", err::E("script", "invalid-compare")));
}

TEST(CompareNatives, SameIdentity) {
    check_all({
        {"same? 1.0 1.0", "true"},
        {"same? 1 1.0", "false"},
        {"b: [1] same? b b", "true"},
        {"b: [1] same? next b b", "false"},
        {"same? [1] [1]", "false"}, // two series
        {"same? none none", "true"},
        {"same? :add :add", "true"},
        {"same? :add :subtract", "false"},
        {"same? 'a 'a", "true"},
    });
}

TEST(CompareNatives, NotAndTypeOf) {
    check_all({
        {"not none", "true"},
        {"not false", "true"},
        {"not 0", "false"},
        {"not ()", "false"},
        {"type? 1", "integer!"},
        {"type? []", "block!"},
        {"type?/word 1.5", "float!"},
    });
    EXPECT_TRUE(test::gives_type("type?/word 1", type_id::word));
    EXPECT_TRUE(test::gives_type("type? 1", type_id::datatype));
}

TEST(CompareNatives, SetOperationsDispatch) {
    check_all({
        {"union [1 2] [2 3]", "[1 2 3]"},
        {"intersect [1 2 3] [2 3 4]", "[2 3]"},
        {"exclude [1 2 3] [2]", "[1 3]"},
        {"difference [1 2] [2 3]", "[1 3]"},
        {"unique [1 2 1 3 2]", "[1 2 3]"},
        {"unique/skip [1 2 1 2 3 4] 2", "[1 2 3 4]"},
        {"union/case \"ab\" \"Bc\"", "\"abBc\""},
        {"union \"ab\" \"Bc\"", "\"abc\""},
    });
    EXPECT_TRUE(gives_type("union make hash! [1 2] [2 3]", type_id::hash));
    EXPECT_TRUE(
        gives_type("union [1 2] make hash! [2 3]", type_id::hash)); // a block and a hash! mix
}

TEST(CompareNatives, SetOperationArguments) {
    EXPECT_TRUE(raises("union [1] 5", err::E("script", "expect-arg"))); // the spec refuses it
    EXPECT_TRUE(raises("union [1] 'a/b", err::E("script", "expect-arg")));
    EXPECT_TRUE(raises("complement? 5", err::E("script", "expect-arg")));
    // A block and a string are not sets of one kind.
    EXPECT_TRUE(raises("union \"ab\" [1]", err::E("script", "expect-val")));
    EXPECT_TRUE(raises("intersect [1] \"ab\"", err::E("script", "expect-val")));
}

} // namespace
} // namespace zel
