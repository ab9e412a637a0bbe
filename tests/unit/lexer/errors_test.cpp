// Syntax errors: the id, "(line N)", the datatype or missing delimiter, and the excerpt of at
// most 30 bytes of source from the error position, cut at a line feed.
#include <gtest/gtest.h>

#include "tests/unit/lexer/lexer_helpers.hpp"

using namespace zel;
using namespace std::string_view_literals;

namespace {

struct error_case {
    std::string_view text;
    const char* id;
    const char* line;
    const char* middle; // the datatype or the missing character, molded
    const char* excerpt;
};

const error_case cases[] = {
    // Delimiters: unclosed (at the opening), stray, mismatched.
    {"[1 2", "missing", "(line 1)", "#\"]\"", "[1 2"},
    {"a\nb\n  [c\n d", "missing", "(line 4)", "#\"]\"", "[c"},
    {"]", "missing", "(line 1)", "#\"[\"", "]"},
    {"[1 2)", "missing", "(line 1)", "#\"]\"", ")"},
    {"(1 2]", "missing", "(line 1)", "#\")\"", "]"},
    {"#[a 1", "missing", "(line 1)", "#\"]\"", "#[a 1"},
    // Tokens of a known type with a wrong form.
    {"1a", "invalid", "(line 1)", "integer!", "1a"},
    {"x \"abc", "invalid", "(line 1)", "string!", "\"abc"},
    {"x {abc\ndef", "invalid", "(line 2)", "string!", "{abc"},
    {"1''000", "invalid", "(line 1)", "integer!", "1''000"},
    {"Fh", "invalid", "(line 1)", "word!", "Fh"},
    {"123456789h", "invalid", "(line 1)", "integer!", "123456789h"},
    {"2.#INF", "invalid", "(line 1)", "float!", "2.#INF"},
    {"256.1.1", "invalid", "(line 1)", "tuple!", "256.1.1"},
    {"1.2.3.4.5.6.7.8.9.10.11.12.13", "invalid", "(line 1)", "tuple!",
     "1.2.3.4.5.6.7.8.9.10.11.12.13"},
    {"1.5x2", "invalid", "(line 1)", "pair!", "1.5x2"},
    {"US$1", "invalid", "(line 1)", "money!", "US$1"},
    {"$1.123456", "invalid", "(line 1)", "money!", "$1.123456"},
    {"XYZ$1", "invalid", "(line 1)", "money!", "XYZ$1"},
    {"2023-02-29", "invalid", "(line 1)", "date!", "2023-02-29"},
    {"20200101T1200", "invalid", "(line 1)", "date!", "20200101T1200"},
    {"2020-13-01", "invalid", "(line 1)", "date!", "2020-13-01"},
    {"2020-01-01/24:00", "invalid", "(line 1)", "date!", "2020-01-01/24:00"},
    {"2020-01-01/10:00+16:00", "invalid", "(line 1)", "date!", "2020-01-01/10:00+16:00"},
    {"1:30:", "invalid", "(line 1)", "time!", "1:30:"},
    {"#\"ab\"", "invalid", "(line 1)", "char!", "#\"ab\""},
    {"#\"\"", "invalid", "(line 1)", "char!", "#\"\""},
    {"#\"^(110000)\"", "invalid", "(line 1)", "char!", "#\"^(110000)\""},
    {"a , b", "invalid", "(line 1)", "point2D!", ", b"},
    {"[1, 2]", "invalid", "(line 1)", "point2D!", ", 2]"},
    {"(1, 2", "invalid", "(line 1)", "point2D!", "1, 2"},
    {"(1, 2, 3, 4)", "invalid", "(line 1)", "point2D!", "1, 2, 3, 4)"},
    {"a/", "invalid", "(line 1)", "path!", "a/"},
    {"x a/b:/c", "invalid", "(line 1)", "path!", "a/b:/c"},
    {"#[a]", "invalid", "(line 1)", "map!", "#[a]"},
    {"#[[a] 1]", "invalid", "(line 1)", "map!", "#[[a] 1]"},
    {"%{abc}%%", "invalid", "(line 1)", "string!", "%{abc}%%"},
    {"64#{Q=}", "invalid", "(line 1)", "binary!", "=}"},
    {"16#{414}", "invalid", "(line 1)", "binary!", "}"},
    {"3#{00}", "invalid", "(line 1)", "binary!", "3#{00}"},
    {"<abc", "invalid", "(line 1)", "tag!", "<abc"},
    {"'a:", "invalid", "(line 1)", "lit-word!", "'a:"},
    {":a:b", "invalid", "(line 1)", "get-word!", ":a:b"},
    // Constructions.
    {"#(foo)", "malconstruct", "(line 1)", "", "#(foo)"},
    {"#(true )", "malconstruct", "(line 1)", "", "#(true )"},
    // Bytes no token takes.
    {"\xFF", "bad-char", "(line 1)", "", "\xEF\xBF\xBD"},
    {"a \\b", "bad-char", "(line 1)", "", "\\b"},
};

// Faults of the plain reading of the rules, mended.
const error_case mended[] = {
    // A lone continuation byte in a text of otherwise ASCII characters is not Latin-1.
    {"\"a\x80z\"", "invalid", "(line 1)", "string!", "\"a\xEF\xBF\xBDz\""},
    // An escape above the last code point.
    {"\"^(110000)\"", "invalid", "(line 1)", "string!", "\"^(110000)\""},
    // A character after a path segment that neither continues nor ends the path.
    {"a/b\\c", "invalid", "(line 1)", "path!", "a/b\\c"},
    // A NUL byte inside the text ends nothing: it is a character no token takes, wherever it
    // stands (an overlong form of it, decoded by a lenient reader, arrives as the same byte).
    {"1 \0 2"sv, "bad-char", "(line 1)", "", "\xEF\xBF\xBD 2"},
    {"a\n[1 \0 2]"sv, "bad-char", "(line 2)", "", "\xEF\xBF\xBD 2]"},
    {"(1 2 \0"sv, "bad-char", "(line 1)", "", "\xEF\xBF\xBD"},
    {"; note \0\nx"sv, "bad-char", "(line 1)", "", "; note \xEF\xBF\xBD"},
    {"1\0"sv, "invalid", "(line 1)", "integer!", "1\xEF\xBF\xBD"},
    {"x \"a\0b\""sv, "invalid", "(line 1)", "string!",
     "\"a\xEF\xBF\xBD"
     "b\""},
    {"x {a\0b}"sv, "invalid", "(line 1)", "string!",
     "{a\xEF\xBF\xBD"
     "b}"},
    // Overlong forms are no characters.
    {"1 \xC0\x80 2", "bad-char", "(line 1)", "", "\xEF\xBF\xBD\xEF\xBF\xBD 2"},
    {"a\xE0\x80\x80", "invalid", "(line 1)", "word!", "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
};

void check(const error_case& c) {
    test::raised_error e = test::load_error(c.text);
    EXPECT_EQ(e.id, c.id) << c.text;
    EXPECT_EQ(e.line, c.line) << c.text;
    EXPECT_EQ(e.middle, c.middle) << c.text;
    EXPECT_EQ(e.excerpt, c.excerpt) << c.text;
}

// The missing delimiter, as a code point.
u32 missing_char(const char* text) {
    auto saved = error::builder;
    static u32 found;
    found = 0;
    error::builder = [](err::id id, const cell* a1, const cell* a2, const cell* a3) {
        if (a2 && is(a2, type_id::char_)) found = a2->w2;
        return cell{type_id::error, 0, id.code(), 0};
    };
    stack::mark m = stack::save();
    try {
        test::load(text);
    } catch (const unwind&) {
        stack::restore(m);
    }
    error::builder = saved;
    return found;
}

} // namespace

TEST(LexerErrors, IdsLinesAndExcerpts) {
    for (const error_case& c : cases) check(c);
}

TEST(LexerErrors, MendedFaults) {
    for (const error_case& c : mended) check(c);
}

TEST(LexerErrors, MissingNamesTheDelimiter) {
    struct missing {
        const char* text;
        char delimiter;
    } table[] = {{"[1", ']'},  {"]", '['},     {"[1)", ']'},  {"(a", ')'},  {")", '('},
                 {"(a]", ')'}, {"#[a 1", ']'}, {"[(a]", ')'}, {"([a)", ']'}};
    for (const auto& m : table) EXPECT_EQ(missing_char(m.text), u32(m.delimiter)) << m.text;
}

// The excerpt stops after 30 bytes, at a line feed, and never inside a UTF-8 sequence.
TEST(LexerErrors, ExcerptLimits) {
    std::string long_text = "] " + std::string(40, 'x');
    EXPECT_EQ(test::load_error(long_text).excerpt, "] " + std::string(28, 'x'));
    EXPECT_EQ(test::load_error("] abc\ndef").excerpt, "] abc");
    std::string wide = "]" + std::string(28, 'y') + "\xC3\xA9z";
    EXPECT_EQ(test::load_error(wide).excerpt, "]" + std::string(28, 'y'));
}

// A syntax error leaves nothing of the failed scan behind.
TEST(LexerErrors, FailedScansLeaveNoState) {
    u32 depth = static_cast<u32>(stack::top - stack::bottom);
    for (const error_case& c : cases) test::load_error(c.text);
    EXPECT_EQ(lexer::live_scans(), 0u);
    EXPECT_EQ(static_cast<u32>(stack::top - stack::bottom), depth);
    EXPECT_EQ(test::load_molded("[1 2] 3"), "[[1 2] 3]");
}
