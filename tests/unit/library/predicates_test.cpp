// The type predicates and the named typesets.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/registry.hpp"
#include "runtime/cell.hpp"
#include "tests/unit/library/library_fixture.hpp"

namespace zel {
namespace {

using libtest::gives;
using libtest::raises;
using libtest::run;

// One value of each kind that the predicates tell apart, with its exact predicate.
struct sample {
    const char* source;
    const char* predicate;
};
const sample samples[] = {
    {"#{00}", "binary?"},
    {"[]", "block?"},
    {"#\"a\"", "char?"},
    {"a@b.c", "email?"},
    {"%f", "file?"},
    {"1.5", "float?"},
    {"quote :a/b", "get-path?"},
    {"quote :a", "get-word?"},
    {"make hash! []", "hash?"},
    {"1", "integer?"},
    {"#iss", "issue?"},
    {"quote 'a/b", "lit-path?"},
    {"quote 'a", "lit-word?"},
    {"true", "logic?"},
    {"#[]", "map?"},
    {"none", "none?"},
    {"1x2", "pair?"},
    {"quote (1)", "paren?"},
    {"quote a/b", "path?"},
    {"5%", "percent?"},
    {"/ref", "refinement?"},
    {"quote a/b:", "set-path?"},
    {"quote a:", "set-word?"},
    {"\"s\"", "string?"},
    {"<t>", "tag?"},
    {"1:00", "time?"},
    {"any-type!", "typeset?"},
    {"1.2.3", "tuple?"},
    {"()", "unset?"},
    {"http://x", "url?"},
    {"'a", "word?"},
    {"1-Jan-2000", "date?"},
    {"$1", "money?"},
    {"@r", "ref?"},
    {"(1, 2)", "point2D?"},
    {"(1, 2, 3)", "point3D?"},
    {"null-handle", "handle?"},
    {"try [1 / 0]", "error?"},
    {":add", "action?"},
    {":if", "native?"},
    {"integer!", "datatype?"},
    {":probe", "function?"},
    {"context []", "object?"},
    {":+", "op?"},
    {":as-color", "routine?"},
};

// Every single-type predicate is true for its own type only: a child type does not count.
TEST(TypePredicates, EachSampleMatchesExactlyItsOwnPredicate) {
    for (const sample& s : samples) {
        libtest::outcome o = run(std::string("type? ") + s.source);
        if (o.raised) {
            ADD_FAILURE() << s.source << ": " << o.molded;
            continue;
        }
        for (const sample& p : samples) {
            std::string expected = std::string(p.predicate) == s.predicate ? "true" : "false";
            // Samples of one type share their predicate.
            libtest::outcome same = run(std::string("type? ") + p.source);
            if (same.molded == o.molded) expected = "true";
            std::string source = std::string(p.predicate) + " " + s.source;
            EXPECT_TRUE(gives(source, expected));
        }
        // Predicates of types that no sample here has.
        for (const char* p : {"bitset?", "vector?", "image?"})
            EXPECT_TRUE(gives(std::string(p) + " " + s.source, "false"));
    }
}

TEST(TypePredicates, EdgeCases) {
    libtest::check_all({
        {"unset? ()", "true"},
        {"none? none", "true"},
        {"none? false", "false"},
        {"file? http://x.org", "false"},
        {"string? %f", "false"},
        {"word? quote a:", "false"},
        {"block? make hash! []", "false"},
        {"series? \"a\"", "true"},
        {"series? #{00}", "true"},
        {"series? %f", "true"},
        {"series? 1", "false"},
        {"any-word? /ref", "false"},
        {"all-word? /ref", "true"},
        {"any-word? 'a", "true"},
        {"scalar? 1.2.3", "true"},
        {"immediate? #issue", "true"},
        {"number? 1x1", "false"},
        {"any-block? first [a/b]", "true"},
        {"any-list? first [a/b]", "false"},
        {"planar? 1x1", "true"},
        {"any-point? 1x1", "false"},
        {"any-function? :probe", "true"},
        {"any-object? try [1 / 0]", "true"},
        {"any-string? <t>", "true"},
    });
}

TEST(TypePredicates, SpecsAndDocStrings) {
    libtest::check_all({
        {"spec-of :block?", "[\"Returns true if the value is this type\" value [any-type!]]"},
        {"spec-of :any-list?",
         "[\"Returns true if the value is any type of any-list\" value [any-type!]]"},
        {"routine? :planar?", "true"},
    });
}

// A typeset predicate reads its word at every call.
TEST(TypePredicates, TypesetWordReadAtEachCall) {
    EXPECT_TRUE(gives("saved: number! number!: make typeset! [pair!] "
                      "r: reduce [number? 1x1 number? 1] number!: saved r",
                      "[true false]"));
    EXPECT_TRUE(gives("number? 1", "true"));
    // A typeset word bound to something else is refused, not read as bits.
    EXPECT_TRUE(raises("saved: number! number!: 5 f: does [number? 1] "
                       "e: try [f] number!: saved do e",
                       err::E("script", "invalid-type")));
}

TEST(Typesets, Membership) {
    libtest::check_all({
        // series! reaches block! and string! through any-block! and any-string!.
        {"reduce [find series! block! find series! string! find series! binary! "
         "find series! image! find series! vector!]",
         "[true true true true true]"},
        {"reduce [find any-block! path! find any-string! ref! find any-list! hash!]",
         "[true true true]"},
        {"find number! integer!", "true"},
        {"find number! pair!", "false"},
        {"find external! integer!", "false"},
        {"find any-type! unset!", "true"},
        {"find default! unset!", "false"},
    });
    // Over every datatype: immediate! holds each scalar and word type, and any-type! each type
    // of default! and of internal!.
    for (u32 t = 1; t <= datatype::max_type_id(); t++) {
        if (datatype::name_of(t).empty() || t == type_id::series) continue;
        std::string name(datatype::name_of(t));
        for (const char* rule :
             {"any [not find scalar! T find immediate! T]",
              "any [not find all-word! T find immediate! T]",
              "any [not find default! T find any-type! T]",
              "any [not find internal! T find any-type! T]", "to logic! find any-type! T"}) {
            std::string source(rule);
            for (size_t at; (at = source.find('T')) != std::string::npos;)
                source.replace(at, 1, name);
            EXPECT_TRUE(gives(source, "true"));
        }
    }
}

} // namespace
} // namespace zel
