// The core library functions, the base words and the colour words.
#include <gtest/gtest.h>

#include "runtime/errors.hpp"
#include "tests/unit/library/library_fixture.hpp"

namespace zel {
namespace {

using libtest::gives;
using libtest::printed;
using libtest::raises;
using libtest::run;

TEST(CoreFunctions, EvaluationHelpers) {
    libtest::check_all({
        {"attempt [1 / 0]", "none"},
        {"attempt [1 + 1]", "2"},
        {"type? attempt []", "unset!"},
        {"attempt [cause-error 'script 'invalid-arg [1]]", "none"},
        // /safer also stops what plain `try` lets pass.
        {"attempt/safer [throw 5]", "none"},
        {"catch [attempt [throw 5] 6]", "5"},
        {"also 1 2", "1"},
        {"x: 1 also x x: 2", "1"},
        {"type? also () 1", "unset!"},
        {"type? comment [1 / 0]", "unset!"},
        {"x: 0 comment [x: 1] x", "0"},
        {"quote (1 + 2)", "(1 + 2)"},
        {"quote a/b", "a/b"},
        {"quote :x", ":x"},
    });
}

TEST(CoreFunctions, Emptiness) {
    libtest::check_all({
        {"empty? none", "true"},
        {"empty? \"\"", "true"},
        {"empty? next \"a\"", "true"},
        {"empty? \"a\"", "false"},
        {"empty? []", "true"},
        {"empty? tail [1 2]", "true"},
        {"empty? [1]", "false"},
    });
    EXPECT_TRUE(raises("empty? 1", err::E("script", "expect-arg")));
}

TEST(CoreFunctions, PositionalAccess) {
    libtest::check_all({
        {"first [a b c d e]", "a"},
        {"second [a b c d e]", "b"},
        {"third [a b c d e]", "c"},
        {"fourth [a b c d e]", "d"},
        {"fifth [a b c d e]", "e"},
        {"first []", "none"},
        {"fifth [1]", "none"},
        {"second \"ab\"", "#\"b\""},
        {"last \"abc\"", "#\"c\""},
        {"last [1 2 3]", "3"},
        {"last []", "none"},
        {"first next [1 2]", "2"},
    });
    EXPECT_TRUE(raises("first 5", err::E("script", "expect-arg")));
    EXPECT_TRUE(raises("fourth 1x2", err::E("script", "expect-arg")));
}

TEST(CoreFunctions, Reflection) {
    libtest::check_all({
        {"words-of context [a: 1 b: 2]", "[a b]"},
        {"values-of context [a: 1 b: 2]", "[1 2]"},
        {"spec-of func [a [integer!]] [a]", "[a [integer!]]"},
        {"body-of func [a] [a + 1]", "[a + 1]"},
        {"integer? class-of context [a: 1]", "true"},
        {"o: context [a: 1] p: make o [] (class-of o) = class-of p", "true"},
    });
}

TEST(CoreFunctions, Output) {
    EXPECT_EQ(printed("probe [1 \"a\"]"), "[1 \"a\"]\n");
    EXPECT_TRUE(gives("probe [1 2]", "[1 2]"));
    EXPECT_EQ(printed("x: 1 ?? x"), "x: 1\n");
    EXPECT_EQ(printed("unset 'x ?? x"), "x: unset!\n");
    EXPECT_EQ(printed("o: context [a: [1]] ?? o/a"), "o/a: [1]\n");
}

TEST(CoreFunctions, CauseError) {
    libtest::outcome o = run("cause-error 'script 'invalid-arg \"x\"");
    ASSERT_TRUE(o.raised);
    EXPECT_EQ(o.error_code, err::E("script", "invalid-arg").code());
    EXPECT_NE(o.molded.find("invalid argument: \"x\""), std::string::npos) << o.molded;
    // The block is reduced: a word gives its value.
    o = run("x: 42 cause-error 'script 'invalid-arg [x]");
    EXPECT_NE(o.molded.find("invalid argument: 42"), std::string::npos) << o.molded;
    EXPECT_TRUE(gives("e: try [cause-error 'math 'zero-divide []] reduce [e/type e/id e/arg1]",
                      "[math zero-divide none]"));
    EXPECT_TRUE(
        gives("e: try [cause-error 'script 'expect-arg [1 2 3]] reduce [e/arg1 e/arg2 e/arg3]",
              "[1 2 3]"));
    EXPECT_TRUE(raises("routine [a] [b]", err::E("internal", "routines")));
}

TEST(CoreFunctions, ObjectAndBitsetShortcuts) {
    libtest::check_all({
        {"o: context [a: 1 b: a + 1] o/b", "2"},
        {"object? context []", "true"},
        {"o: context [a: 1] f: func [] [a] bind body-of :f o f", "1"},
    });
    // charset is make bitset! of the same spec, whatever that gives.
    for (const char* spec : {"[#\"a\" - #\"c\"]", "\"abc\"", "16", "#{FF}"}) {
        libtest::outcome a = run(std::string("charset ") + spec);
        libtest::outcome b = run(std::string("make bitset! ") + spec);
        EXPECT_EQ(a.raised, b.raised) << spec;
        EXPECT_EQ(a.error_code, b.error_code) << spec;
        if (!a.raised) {
            EXPECT_EQ(a.molded, b.molded) << spec;
        }
    }
    EXPECT_TRUE(raises("charset 1.5", err::E("script", "expect-arg")));
}

TEST(CoreFunctions, QuitEndsWithItsStatus) {
    libtest::outcome o = run("quit");
    EXPECT_EQ(o.pending, throw_code::quit);
    EXPECT_EQ(o.status, 0);
    o = run("quit/return 3");
    EXPECT_EQ(o.pending, throw_code::quit);
    EXPECT_EQ(o.status, 3);
    // Not an error: `try` lets it pass.
    o = run("try [quit/return 4]");
    EXPECT_EQ(o.status, 4);
}

TEST(CoreFunctions, RemaindersAndAliases) {
    libtest::check_all({
        {"mod -7 3", "2"},
        {"mod 7 3", "1"},
        {"modulo -7 3", "2"},
        {"modulo 7.0 7.0", "0"},
        {"-7 // 2", "1"},
        {"-7 % 2", "-1"},
        // A negative divisor counts by its magnitude.
        {"mod -7 -3", "2"},
        {"last? [1]", "true"},
        {"last? [1 2]", "false"},
        {"same? :single? :last?", "true"},
        {"same? :keys-of :words-of", "true"},
        {"same? :object :context", "true"},
        {"same? :q :quit", "true"}, // halt is the console's own once the console is made
        {"same? :time-it :dt", "true"},
    });
}

TEST(BaseWords, Values) {
    libtest::check_all({
        {"reduce [on yes off no]", "[true true false false]"},
        {"reduce [tab cr lf newline escape slash space sp null enter dot comma dbl-quote]",
         "[#\"^-\" #\"^M\" #\"^/\" #\"^/\" #\"^[\" #\"/\" #\" \" #\" \" #\"^@\" #\"^M\" #\".\" "
         "#\",\" #\"^\"\"]"},
        {"crlf", "\"^M^/\""},
        {"pi", "3.141592653589793"},
        {"Ulvar", "false"},
        {"handle? null-handle", "true"},
        {"reduce [none? none true false]", "[true true false]"},
    });
}

TEST(ColourWords, Table) {
    libtest::check_all({
        {"aqua", "40.100.130"},     {"beige", "255.228.196"},     {"black", "0.0.0"},
        {"blue", "0.0.255"},        {"brick", "178.34.34"},       {"brown", "139.69.19"},
        {"coal", "64.64.64"},       {"coffee", "76.26.0"},        {"crimson", "220.20.60"},
        {"cyan", "0.255.255"},      {"forest", "0.48.0"},         {"gold", "255.205.40"},
        {"gray", "128.128.128"},    {"green", "0.255.0"},         {"ivory", "255.255.240"},
        {"khaki", "179.179.126"},   {"leaf", "0.128.0"},          {"linen", "250.240.230"},
        {"magenta", "255.0.255"},   {"maroon", "128.0.0"},        {"mint", "100.136.116"},
        {"navy", "0.0.128"},        {"oldrab", "72.72.16"},       {"olive", "128.128.0"},
        {"orange", "255.150.10"},   {"papaya", "255.80.37"},      {"pewter", "170.170.170"},
        {"pink", "255.164.200"},    {"purple", "128.0.128"},      {"ulblue", "38.58.108"},
        {"dadarar", "142.128.110"}, {"red", "255.0.0"},           {"silver", "192.192.192"},
        {"sky", "164.200.255"},     {"snow", "240.240.240"},      {"tanned", "222.184.135"},
        {"teal", "0.128.128"},      {"violet", "72.0.90"},        {"water", "80.108.142"},
        {"wheat", "245.222.129"},   {"white", "255.255.255"},     {"yello", "255.240.120"},
        {"yellow", "255.255.0"},    {"transparent", "0.0.0.255"}, {"glass", "0.0.0.255"},
    });
    // Each colour is a value of its own; glass and transparent hold the same tuple.
    EXPECT_TRUE(gives("tuple? glass", "true"));
    EXPECT_TRUE(gives("(mold glass) = mold transparent", "true"));
    EXPECT_TRUE(gives("(mold yello) = mold yellow", "false"));
}

} // namespace
} // namespace zel
