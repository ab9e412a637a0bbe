// Literal texts and the values they load, shown by their molds; the round trip load, mold, load
// of every literal kind; char literals; the new-line marks of loaded values.
#include <gtest/gtest.h>

#include "evaluator/natives.hpp"
#include "tests/unit/lexer/lexer_helpers.hpp"

using namespace zel;

namespace {

struct literal {
    const char* text;
    const char* molded; // the mold of the loaded block
};

const literal literals[] = {
    // Integers, and the integer texts that are floats.
    {"0 -0 +5 007 1'2'3", "[0 0 5 7 123]"},
    {"2147483647 -2147483648 -2'147'483'648", "[2147483647 -2147483648 -2147483648]"},
    {"2147483648 -2147483649 00000000001 12345678901",
     "[2147483648.0 -2147483649.0 1.0 12345678901.0]"},
    {"FFh 0Fh 12h FFFFFFFFh 7FFFFFFFh", "[255 15 18 -1 2147483647]"},
    // Floats, percents, special floats.
    {"1.5 .5 -.5 1. 1e3 1.5e-3 1E10 1'000.5",
     "[1.5 0.5 -0.5 1.0 1000.0 0.0015 10000000000.0 1000.5]"},
    {"1e309 5e-324", "[1.#INF 5.0e-324]"},
    {"50% -1.5% 0.5%", "[50% -1.5% 0.5%]"},
    {"1.#INF -1.#inf 1.#NaN +1.#INF", "[1.#INF -1.#INF 1.#NaN 1.#INF]"},
    // Tuples, pairs, points.
    {"1.2.3 255.255.255.255 1.2.3.4.5.6.7.8.9.10.11.12",
     "[1.2.3 255.255.255.255 1.2.3.4.5.6.7.8.9.10.11.12]"},
    {"3x4 -3x-4 1'000x2 3X4", "[3x4 -3x-4 1000x2 3x4]"},
    {"(1, 2) (1.5, -2) (1, 2, 3) ( 1 , 2 ) (1.#INF, 0)",
     "[(1, 2) (1.5, -2) (1, 2, 3) (1, 2) (1.#INF, 0)]"},
    // Times, money, dates.
    {"1:30 30:15.5 1:30:15 -1:00 -0:30 100:00 +2:00",
     "[1:30:00 0:30:15.5 1:30:15 -1:00:00 -0:30:00 100:00:00 2:00:00]"},
    {"$1 $1.50 -$1.50 USD$1'234.50 -EUR$1'000.00 $00012",
     "[$1.00 $1.50 -$1.50 USD$1234.50 -EUR$1000.00 $12.00]"},
    {"2024-02-29 1/Jan/2020 1-january-2020 2020-01-01 1-1-99",
     "[29-Feb-2024 1-Jan-2020 1-Jan-2020 1-Jan-2020 1-Jan-1999]"},
    {"2020-W01-1 2020-032 20200101T1200Z 20200101T120000",
     "[30-Dec-2019 1-Feb-2020 1-Jan-2020/12:00:00 1-Jan-2020/12:00:00]"},
    {"2020-01-01/10:30+05:30 2020-01-01T10:30:15.5-08:00",
     "[1-Jan-2020/10:30:00+05:30 1-Jan-2020/10:30:15.5-08:00]"},
    // Strings and the other text kinds.
    {R"~("" "abc" "a^"b" "^(E9)" {a{b}c} {a^}b})~", R"~(["" "abc" "a^"b" "é" "a{b}c" "a}b"])~"},
    {"%{}% %{a}b}% %%{x}% y}%%", R"~(["" "a}b" "x}% y"])~"},
    {R"(<a> <a b="c"> <a 'x>'>)", R"([<a> <a b="c"> <a 'x>'>])"},
    {"http://x.y/z?a=1 http://x.y/%41 ftp:abc", "[http://x.y/z?a=1 http://x.y/A ftp:abc]"},
    {"a@b.c user@example.com @ref @a.b", "[a@b.c user@example.com @ref @a.b]"},
    {R"(%file %dir/ %a%20b %"with space")", R"([%file %dir/ %"a b" %"with space"])"},
    {"#{} #{41} 2#{01000001} 64#{QQ==} 16#{4142} 64#{QUI=} #{41 42 ; c\n43}",
     "[#{} #{41} #{41} #{41} #{4142} #{4142} #{414243}]"},
    // Words of every kind.
    {"abc def: 'g :h /i #j", "[abc def: 'g :h /i #j]"},
    {"/ :/ /: '/ // < > <= >= <> << + - . =", "[/ :/ /: '/ // < > <= >= <> << + - . =]"},
    {"#abc #a#b #1 /a'b", "[#abc #a#b #1 /a'b]"},
    // Blocks, parens, paths, maps, constructions.
    {"[] [1 [2 [3]]] () (1 (2)) [a (b) c]", "[[] [1 [2 [3]]] () (1 (2)) [a (b) c]]"},
    {"a/b a/b/c 'a/b :a/b a/b: a/1 a/\"s\" a/(b c) a/(b)/c a/#x a/@r",
     "[a/b a/b/c 'a/b :a/b a/b: a/1 a/\"s\" a/(b c) a/(b)/c a/#x a/@r]"},
    {"a/(1, 2) a/b[c] a/b(c) (a/b) a/b:c", "[a/(1, 2) a/b [c] a/b (c) (a/b) a/b: c]"},
    {"#(true) #(false) #(none) #(unset) #(integer!) #(block!)",
     "[true false none unset integer! block!]"},
    {"#[] #[a 1 b 2] #[\"x\" 1 2 3]", "[#[] #[a: 1 b: 2] #[\"x\" 1 2 3]]"},
    // Whitespace, comments, whitespace code points.
    {"a\xC2\xA0"
     "b ;c\n1 \xC2\xA0\xE3\x80\x80",
     "[a b 1]"},
    {"a\xC2\xA0/b x \xE3\x80\x80/c", "[a /b x /c]"},
    {"", "[]"},
};

} // namespace

TEST(LexerLiterals, TextsLoadTheirValues) {
    for (const literal& l : literals) EXPECT_EQ(test::load_molded(l.text), l.molded) << l.text;
}

namespace {
// Loads the text, molds the values, loads the mold: the same values come back.
void expect_round_trip(const char* text) {
    std::string once = test::load_molded(text, nullptr, false);
    std::string inner = once.substr(1, once.size() - 2);
    test::raised_error e = test::load_error(inner);
    ASSERT_EQ(e.id, "") << text << " molded as " << inner << ": " << e.middle << " " << e.excerpt;
    EXPECT_EQ(test::load_molded(inner, nullptr, false), once) << text;
}
} // namespace

// What mold writes loads back to the same value (shown by the same mold).
TEST(LexerLiterals, MoldedValuesLoadBack) {
    for (const literal& l : literals) expect_round_trip(l.text);
    for (const char* text : {R"("a^/b^-c")", R"("tab^-quote^"caret^^")", R"({multi
line})",
                             R"(%"a b")", "#{00FF7F}", "2020-02-29/23:59:59.5-00:30", "$0.00001",
                             "1.0e-10", "-1.7976931348623157e308", "12:34:56.789"})
        expect_round_trip(text);
}

TEST(LexerLiterals, CharsLoadTheirCodePoints) {
    struct char_case {
        const char* text;
        u32 code_point;
    } cases[] = {{"#\"a\"", 'a'},         {"#\"^/\"", 10},
                 {"#\"^(line)\"", 10},    {"#\"^(0A)\"", 10},
                 {"#\"^(41)\"", 65},      {"#\"^(TAB)\"", 9},
                 {"#\"\xC3\xA9\"", 0xE9}, {"#\"^\"\"", '"'},
                 {"#\"^^\"", '^'},        {"#\"^(1F600)\"", 0x1F600},
                 {"#\"^@\"", 0},          {"#\"^a\"", 1},
                 {"#\"^Z\"", 26},         {"#\"^[\"", 27},
                 {"#\"^~\"", 127},        {"#\"^(null)\"", 0},
                 {"#\"^(DEL)\"", 127},    {"#\"\xF0\x9F\x98\x80\"", 0x1F600}};
    for (const auto& c : cases) {
        cell block = test::load(c.text);
        ASSERT_EQ(used_units(buffer_of(block.w2)), 1u) << c.text;
        const cell* v = head_cell(buffer_of(block.w2));
        ASSERT_TRUE(is(v, type_id::char_)) << c.text;
        EXPECT_EQ(v->w2, c.code_point) << c.text;
    }
}

// Text with characters beyond ASCII gets wider units; escapes widen by their digit count.
TEST(LexerLiterals, StringUnitsFollowTheirCharacters) {
    struct unit_case {
        const char* text;
        u32 unit;
        std::u32string chars;
    } cases[] = {{R"("abc")", 1, U"abc"},
                 {"\"\xC3\xA9\"", 2, U"\u00E9"},
                 {"\"\xF0\x9F\x98\x80\"", 4, U"\U0001F600"},
                 {R"~("^(E9)")~", 1, U"\u00E9"},
                 {R"~("^(00E9)")~", 2, U"\u00E9"},
                 {R"~("^(1F600)x")~", 4, U"\U0001F600x"}};
    for (const auto& c : cases) {
        cell block = test::load(c.text);
        const cell* s = head_cell(buffer_of(block.w2));
        ASSERT_TRUE(is(s, type_id::string)) << c.text;
        series_buffer* b = buffer_of(s->w2);
        EXPECT_EQ(unit_of(b), c.unit) << c.text;
        std::u32string got;
        for (u32 i = 0; i < used_units(b); i++)
            got.push_back(text_units::read(head_ptr(b) + i * c.unit, c.unit));
        EXPECT_EQ(got, c.chars) << c.text;
    }
}

// A value carries the new-line mark when a line break came before it; a braced string when
// one came before its opening brace (not for the breaks inside it).
TEST(LexerLiterals, NewLineMarks) {
    cell block = test::load("a\nb c [\nd] {x\ny}\n{z} %{p\nq}% (1, 2) \n(3, 4)\n\"s\"");
    series_buffer* b = buffer_of(block.w2);
    const bool expected[] = {false, true, false, false, false, true, false, false, true, true};
    ASSERT_EQ(used_units(b), sizeof expected);
    for (u32 i = 0; i < used_units(b); i++)
        EXPECT_EQ(cell_ops::has_newline(head_cell(b) + i), expected[i]) << "value " << i;
    const cell* inner = head_cell(buffer_of((head_cell(b) + 3)->w2));
    EXPECT_TRUE(cell_ops::has_newline(inner));
}

// Words are bound to the global context with their letter case kept.
TEST(LexerLiterals, WordsKeepTheirCase) {
    cell block = test::load("Foo foo FOO");
    const cell* w = head_cell(buffer_of(block.w2));
    EXPECT_EQ(symbol::text(w[0].w2), "Foo");
    EXPECT_EQ(symbol::text(w[2].w2), "FOO");
    EXPECT_EQ(symbol::canonical_id(w[0].w2), symbol::canonical_id(w[1].w2));
    EXPECT_EQ(w[0].w3, w[1].w3); // one slot of the global context
    EXPECT_NE(w[0].w1, 0u);
}

// The argument blocks of the natives and actions are real source: each loads as one block.
TEST(LexerLiterals, NativeAndActionSpecsLoad) {
    std::vector<std::string_view> specs;
    for (u32 slot = 1; slot <= natives::count(); slot++)
        specs.push_back(natives::definition_of(slot)->spec);
    for (u32 slot = 1; slot <= act::action_count; slot++)
        if (!actions::spec_of(slot).empty()) specs.push_back(actions::spec_of(slot));
    ASSERT_GT(specs.size(), 150u);
    for (std::string_view spec : specs) {
        EXPECT_EQ(test::load_error(spec).id, "") << spec;
        cell block = test::load(spec);
        ASSERT_EQ(used_units(buffer_of(block.w2)), 1u) << spec;
        EXPECT_TRUE(is(head_cell(buffer_of(block.w2)), type_id::block)) << spec;
    }
}
