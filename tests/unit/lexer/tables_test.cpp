// The automaton's tables, row by row: every transition against its rule written as a default
// and exceptions, every byte's class and flags, the type of each state, the path-end classes,
// the whitespace code points and the exit-state names of the token kinds.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <string>

#include "datatypes/symbol.hpp"
#include "lexer/lexer.hpp"
#include "lexer/lexer_tables.hpp"
#include "tests/unit/lexer/lexer_helpers.hpp"

using namespace zel;
using namespace zel::lexer::tables;

namespace {

const char* class_names[class_count] = {
    "blank",  "LF", "digit",     "zero", "[", "]",    "(",    ")",      "{",   "}",
    "dquote", "#",  "squote",    ":",    "x", "T",    "h",    "e",      "E",   "hexlow",
    "hexup",  "/",  "backslash", "<",    ">", "=",    "%",    ",",      ";",   "@",
    ".",      "$",  "+",         "-",    "^", "ctrl", "cont", "letter", "bad", "end"};

struct rule {
    u32 state;
    u32 otherwise;
    const char* exceptions; // "`class` `class`: next; ..."
};

const rule rules[] = {
    {0, 52,
     "`}` `backslash` `cont` `bad`: 67; `blank` `LF` `ctrl`: 0; `digit` `zero`: 23; "
     "`squote` `:`: 51; `E` `hexup`: 40; `+` `-`: 47; `[`: 68; `]`: 69; `(`: 70; "
     "`)`: 71; `{`: 72; `dquote`: 2; `#`: 16; `/`: 13; `<`: 43; `=`: 58; `%`: 6; "
     "`,`: 78; `;`: 1; `@`: 57; `.`: 49; `$`: 36; `end`: 66"},
    {1, 1, "`LF` `end`: 77; `bad`: 67"},
    {2, 2, "`LF` `bad` `end`: 67; `dquote`: 79; `^`: 3"},
    {3, 2, "`bad` `end`: 67"},
    {4, 4, "`bad` `end`: 67; `{`: 72; `}`: 73; `^`: 5"},
    {5, 4, "`bad` `end`: 67"},
    {6, 7,
     "`blank` `LF` `[` `]` `(` `)` `}` `;` `@` `ctrl` `end`: 80; `{`: 10; "
     "`dquote`: 8; `:`: 54; `%`: 9; `bad`: 67"},
    {7, 7, "`blank` `LF` `[` `]` `(` `)` `{` `}` `:` `;` `@` `end`: 85; `dquote` `bad`: 67"},
    {8, 8, "`LF` `bad` `end`: 67; `dquote`: 85"},
    {9, 7,
     "`blank` `LF` `[` `]` `(` `)` `}` `dquote` `backslash` `;` `ctrl` `end`: 80; "
     "`{`: 10; `%`: 9; `bad`: 67"},
    {10, 10, "`bad` `end`: 67; `}`: 11"},
    {11, 10, "`bad` `end`: 67; `}`: 11; `%`: 12"},
    {12, 67, "`blank` `LF` `[` `]` `(` `)` `{` `dquote` `<` `;` `ctrl` `end`: 100; `%`: 12"},
    {13, 14,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `#` `;` `@` `ctrl` `end`: 80; "
     "`,` `bad`: 67; `:`: 53; `/`: 15"},
    {14, 14,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `/` `;` `@` `ctrl` `end`: 83; "
     "`:` `,` `bad`: 67"},
    {15, 52,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `#` `;` `@` `ctrl` `end`: 80; "
     "`%` `,` `$` `bad`: 67; `/`: 15"},
    {16, 22,
     "`blank` `LF` `]` `)` `}` `:` `<` `>` `,` `bad`: 67; `;` `@` `ctrl` `end`: 81; "
     "`[`: 74; `(`: 21; `{`: 17; `dquote`: 19"},
    {17, 67,
     "`blank` `LF` `digit` `zero` `x` `T` `h` `e` `E` `hexlow` `hexup` `/` `=` `+` `letter`: 17; "
     "`}`: 86; `;`: 18"},
    {18, 18, "`bad` `end`: 67; `LF`: 17"},
    {19, 19, "`bad` `end`: 67; `dquote`: 84; `^`: 20"},
    {20, 19, "`bad` `end`: 67"},
    {21, 21, "`bad` `end`: 67; `)`: 76"},
    {22, 22,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `;` `@` `ctrl` `end`: 81; "
     "`:` `/` `bad`: 67"},
    {23, 82,
     "`hexlow` `backslash` `>` `=` `$` `+` `^` `cont` `letter` `bad`: 67; "
     "`digit` `zero` `squote`: 23; `T` `/` `-`: 30; `#`: 16; `:`: 31; `x`: 33; "
     "`h`: 42; `e`: 26; `E`: 27; `hexup`: 39; `%`: 87; `@`: 56; `.`: 24"},
    {24, 67,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `/` `<` `,` `;` `ctrl` `end`: 88; "
     "`digit` `zero` `squote`: 25; `e` `E`: 26; `#`: 28; `x`: 33; `%`: 87"},
    {25, 88,
     "`#` `T` `h` `hexlow` `hexup` `backslash` `>` `=` `$` `+` `-` `^` `cont` `letter` `bad`: 67; "
     "`digit` `zero` `squote`: 25; `e` `E`: 26; `x`: 33; `%`: 87; `@`: 56; `.`: 29"},
    {26, 67,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `:` `/` `<` `,` `;` `ctrl` `end`: 88; "
     "`digit` `zero` `+` `-`: 26; `@`: 56"},
    {27, 88,
     "`#` `squote` `x` `T` `e` `hexlow` `backslash` `>` `=` `;` `$` `^` `cont` `letter` `bad`: 67; "
     "`digit` `zero`: 27; `E` `hexup`: 40; `+` `-`: 26; `h`: 42; `%`: 87; `@`: 56; "
     "`.`: 29"},
    {28, 89,
     "`x` `T` `h` `e` `E` `hexlow` `hexup` `>` `=` `.` `+` `-` `cont` `letter`: 28; "
     "`#` `squote` `:` `%` `@` `$` `^` `bad`: 67; `digit`: 88"},
    {29, 67,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `:` `/` `<` `;` `ctrl` `end`: 90; "
     "`digit` `zero` `.`: 29"},
    {30, 30,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `<` `;` `$` `ctrl` `end`: 91; "
     "`%` `,` `@` `^` `cont` `bad`: 67"},
    {31, 67, "`digit` `zero`: 32"},
    {32, 67,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `/` `<` `;` `ctrl` `end`: 94; "
     "`digit` `zero` `:` `.`: 32"},
    {33, 67, "`digit` `zero` `+` `-`: 34; `@`: 56"},
    {34, 67,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `:` `/` `<` `;` `ctrl` `end`: 92; "
     "`digit` `zero` `e` `E` `.`: 34; `@`: 56"},
    {35, 67,
     "`blank` `digit` `zero` `]` `#` `e` `E` `hexlow` `hexup` `,` `.` `+` `-` `letter`: 35; "
     "`)`: 93"},
    {36, 67, "`digit` `zero`: 37"},
    {37, 67,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `#` `:` `/` `<` `;` `ctrl` `end`: 95; "
     "`digit` `zero` `squote`: 37; `.`: 38"},
    {38, 67,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `#` `:` `/` `<` `;` `ctrl` `end`: 95; "
     "`digit` `zero` `squote`: 38"},
    {39, 67, "`digit` `zero` `E` `hexup`: 39; `h`: 41; `@`: 56"},
    {40, 80,
     "`squote` `x` `T` `e` `hexlow` `<` `>` `=` `.` `+` `-` `^` `cont` `letter`: 52; "
     "`digit` `zero` `E` `hexup`: 40; `%` `,` `bad`: 67; `:`: 53; `h`: 41; `/`: 75; "
     "`@`: 56; `$`: 37"},
    {41, 52,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `backslash` `;` `ctrl` `end`: 99; "
     "`#` `%` `,` `bad`: 67; `:`: 53; `/`: 75; `@`: 56; `$`: 37"},
    {42, 67,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `backslash` `<` `;` `ctrl` `end`: 99; "
     "`/`: 75; `@`: 56; `$`: 37"},
    {43, 44,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `;` `ctrl` `end`: 80; "
     "`>` `=` `-`: 52; `squote`: 46; `:`: 53; `<`: 43; `bad`: 67"},
    {44, 44, "`bad` `end`: 67; `dquote`: 45; `squote`: 46; `>`: 96"},
    {45, 45, "`bad` `end`: 67; `dquote`: 44"},
    {46, 46, "`bad` `end`: 67; `squote`: 44"},
    {47, 52,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `#` `backslash` `;` `ctrl` `end`: 80; "
     "`squote` `%` `^` `bad`: 67; `digit` `zero`: 23; `/`: 75; `.`: 49; `$`: 37"},
    {48, 52,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `#` `backslash` `;` `ctrl` `end`: 80; "
     "`squote` `%` `$` `^` `bad`: 67; `/`: 75"},
    {49, 52,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `#` `backslash` `;` `ctrl` `end`: 80; "
     "`digit` `zero` `+` `-`: 50; `%` `,` `$` `bad`: 67; `:`: 53; `/`: 75; `@`: 56"},
    {50, 67,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `:` `/` `<` `ctrl` `end`: 88; "
     "`digit` `zero` `e` `E` `+` `-`: 50; `x`: 33; `%`: 87; `@`: 56"},
    {51, 67,
     "`x` `T` `h` `e` `E` `hexlow` `hexup` `>` `.` `^` `cont` `letter`: 52; "
     "`+` `-`: 48; `/`: 13; `<`: 43; `=`: 58; `%`: 54"},
    {52, 52,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `#` `backslash` `<` `;` `ctrl` `end`: 80; "
     "`%` `,` `bad`: 67; `:`: 53; `/`: 75; `@`: 56; `$`: 36"},
    {53, 55,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `backslash` `;` `ctrl` `end`: 80; "
     "`<` `bad`: 67"},
    {54, 67, "`blank` `LF` `[` `]` `(` `)` `{` `}` `backslash` `;` `ctrl` `end`: 80; `%`: 54"},
    {55, 55,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `backslash` `<` `;` `ctrl` `end`: 97; "
     "`>` `^` `bad`: 67"},
    {56, 98,
     "`digit` `zero` `x` `T` `h` `e` `E` `hexlow` `hexup` `%` `.` `+` `-` `cont` `letter`: 56; "
     "`#` `squote` `:` `>` `=` `,` `@` `$` `^` `bad`: 67"},
    {57, 57,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `<` `;` `ctrl` `end`: 101; "
     "`#` `squote` `backslash` `>` `=` `,` `@` `$` `^` `bad`: 67"},
    {58, 52,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `:` `backslash` `;` `ctrl` `end`: 80; "
     "`#` `%` `,` `@` `$` `bad`: 67; `/`: 75"},
    {59, 67,
     "`x` `T` `h` `e` `E` `hexlow` `hexup` `>` `=` `.` `cont` `letter`: 62; "
     "`digit` `zero`: 60; `squote` `:`: 61; `+` `-`: 64; `(`: 70; `)`: 71; "
     "`dquote`: 2; `#`: 63; `<`: 43; `@`: 57; `$`: 36"},
    {60, 67,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `:` `/` `<` `;` `ctrl` `end`: 82; "
     "`digit` `zero` `squote`: 60; `e` `E`: 26; `x`: 33; `%`: 87; `@`: 56; `.`: 24"},
    {61, 67, "`x` `T` `h` `e` `E` `hexlow` `hexup` `<` `>` `=` `.` `+` `-` `cont` `letter`: 62"},
    {62, 62,
     "`blank` `LF` `[` `]` `(` `)` `{` `}` `dquote` `:` `/` `backslash` `;` `ctrl` `end`: 80; "
     "`#` `%` `,` `bad`: 67; `@`: 56; `$`: 36"},
    {63, 22,
     "`blank` `LF` `]` `(` `)` `{` `}` `:` `/` `<` `>` `=` `,` `;` `@` `ctrl` `bad` `end`: 67; "
     "`[`: 21; `dquote`: 19"},
    {64, 80,
     "`x` `T` `h` `e` `E` `hexlow` `hexup` `>` `=` `.` `cont` `letter`: 62; "
     "`#` `squote` `<` `%` `,` `^` `bad`: 67; `digit` `zero`: 60; `+` `-`: 64; "
     "`@`: 56; `$`: 36"},
};

u32 class_index(const std::string& name) {
    for (u32 i = 0; i < class_count; i++)
        if (name == class_names[i]) return i;
    ADD_FAILURE() << "unknown class " << name;
    return 0;
}

} // namespace

TEST(LexerTables, EveryTransitionFollowsItsRule) {
    ASSERT_EQ(sizeof rules / sizeof rules[0], state_count);
    for (const rule& r : rules) {
        u32 expected[class_count];
        for (u32& e : expected) e = r.otherwise;
        std::string text = r.exceptions;
        std::regex group(R"(((?:`[^`]+`\s*)+):\s*(\d+))");
        std::regex name("`([^`]+)`");
        for (auto g = std::sregex_iterator(text.begin(), text.end(), group);
             g != std::sregex_iterator(); ++g) {
            std::string names = (*g)[1];
            u32 next = static_cast<u32>(std::stoul((*g)[2]));
            for (auto n = std::sregex_iterator(names.begin(), names.end(), name);
                 n != std::sregex_iterator(); ++n)
                expected[class_index((*n)[1])] = next;
        }
        for (u32 c = 0; c < class_count; c++)
            EXPECT_EQ(transitions[r.state][c], expected[c])
                << "state " << r.state << " class " << class_names[c];
    }
}

TEST(LexerTables, NoTransitionProducesStateSixtyFive) {
    for (u32 s = 0; s < state_count; s++)
        for (u32 c = 0; c < class_count; c++) {
            u32 next = transitions[s][c];
            EXPECT_TRUE(next < 65 || (next >= first_kind && next <= last_kind)) << s << " " << c;
        }
}

TEST(LexerTables, EveryByteHasItsClassAndFlags) {
    auto expected_class = [](u32 b) -> u32 {
        std::string single = "\n0[](){}\"#':xXThe/\\<>=%,;@.$+-^E";
        const u32 single_class[] = {
            cls::lf,        cls::zero,   cls::lbracket, cls::rbracket, cls::lparen,  cls::rparen,
            cls::lbrace,    cls::rbrace, cls::dquote,   cls::hash,     cls::squote,  cls::colon,
            cls::x,         cls::x,      cls::t,        cls::h,        cls::e_low,   cls::slash,
            cls::backslash, cls::less,   cls::greater,  cls::equal,    cls::percent, cls::comma,
            cls::semicolon, cls::at,     cls::point,    cls::dollar,   cls::plus,    cls::minus,
            cls::caret,     cls::e_up};
        if (b == 0) return cls::bad; // a NUL inside the text ends nothing
        if (b == '\t' || b == '\r' || b == ' ') return cls::blank;
        std::size_t at = single.find(static_cast<char>(b));
        if (at != std::string::npos) return single_class[at];
        if (b >= '1' && b <= '9') return cls::digit;
        if (std::string("abcdf").find(char(b)) != std::string::npos) return cls::hexlow;
        if (std::string("ABCDF").find(char(b)) != std::string::npos) return cls::hexup;
        if (b <= 0x08 || b == 0x0B || b == 0x0C || (b >= 0x0E && b <= 0x1F)) return cls::ctrl;
        if (b >= 0x7F && b <= 0xBF) return cls::cont;
        if (b == 0xC0 || b == 0xC1 || b >= 0xF8) return cls::bad;
        return cls::letter;
    };
    const std::map<u32, u32> flag_of = {
        {'%', 0x40000},   {'>', 0x80000},   {'<', 0x100000},   {'+', 0x200000},  {'-', 0x200000},
        {0, 0x400000},    {'#', 0x800000},  {'e', 0x1000000},  {'E', 0x1000000}, {'\'', 0x2000000},
        {':', 0x4000000}, {',', 0x8000000}, {'.', 0x10000000}, {'^', 0x20000000}};
    for (u32 b = 0; b < 256; b++) {
        EXPECT_EQ(class_of(static_cast<u8>(b)), expected_class(b)) << "byte " << b;
        u32 flags = flag_of.count(b) ? flag_of.at(b) : 0;
        if (b >= 0xC2 && b <= 0xEF) flags = 0x40000000;
        if (b >= 0xF0 && b <= 0xF7) flags = 0x80000000;
        EXPECT_EQ(flags_of(static_cast<u8>(b)), flags) << "byte " << b;
    }
    // The letters listed by name: the rest of printable ASCII.
    for (char c : std::string("!&*?GHIJKLMNOPQRSUVWYZ_`gijklmnopqrstuvwyz|~"))
        EXPECT_EQ(class_of(static_cast<u8>(c)), cls::letter) << c;
}

TEST(LexerTables, TypeOfEachState) {
    struct span {
        u32 first, last, type;
    };
    const span spans[] = {
        {2, 5, type_id::string},       {6, 9, type_id::file},         {10, 12, type_id::string},
        {13, 13, type_id::word},       {14, 14, type_id::refinement}, {15, 15, type_id::word},
        {16, 16, type_id::issue},      {17, 17, type_id::binary},     {19, 20, type_id::char_},
        {22, 22, type_id::issue},      {23, 23, type_id::integer},    {24, 28, type_id::float_},
        {29, 29, type_id::tuple},      {30, 30, type_id::date},       {31, 32, type_id::time},
        {33, 34, type_id::pair},       {35, 35, type_id::point2d},    {36, 38, type_id::money},
        {40, 40, type_id::integer},    {41, 41, type_id::word},       {42, 42, type_id::integer},
        {43, 46, type_id::tag},        {47, 49, type_id::word},       {50, 50, type_id::float_},
        {51, 52, type_id::word},       {53, 53, type_id::set_word},   {54, 54, type_id::word},
        {55, 55, type_id::url},        {56, 56, type_id::email},      {57, 57, type_id::ref},
        {58, 58, type_id::word},       {59, 59, type_id::path},       {60, 60, type_id::integer},
        {61, 62, type_id::word},       {63, 63, type_id::issue},      {64, 64, type_id::word},
        {67, 67, type_id::error},      {73, 73, type_id::string},     {79, 79, type_id::string},
        {80, 80, type_id::word},       {81, 81, type_id::issue},      {82, 82, type_id::integer},
        {83, 83, type_id::refinement}, {84, 84, type_id::char_},      {85, 85, type_id::file},
        {86, 86, type_id::binary},     {87, 87, type_id::percent},    {88, 89, type_id::float_},
        {90, 90, type_id::tuple},      {91, 91, type_id::date},       {92, 92, type_id::pair},
        {93, 93, type_id::point2d},    {94, 94, type_id::time},       {95, 95, type_id::money},
        {96, 96, type_id::tag},        {97, 97, type_id::url},        {98, 98, type_id::email},
        {99, 99, type_id::integer},    {100, 100, type_id::string},   {101, 101, type_id::ref}};
    u32 expected[102] = {};
    for (const span& s : spans)
        for (u32 i = s.first; i <= s.last; i++) expected[i] = s.type;
    for (u32 i = 0; i < 102; i++) EXPECT_EQ(state_types[i], expected[i]) << "state " << i;
}

TEST(LexerTables, PathEndsAndWhitespace) {
    std::string ending = " blank LF [ ] ( ) { dquote : < ; letter bad end ";
    for (u32 c = 0; c < class_count; c++)
        EXPECT_EQ(path_end[c] != 0,
                  ending.find(std::string(" ") + class_names[c] + " ") != std::string::npos)
            << class_names[c];
    u32 count = 0;
    for (u32 cp = 0; cp < 0x11000; cp++) count += is_whitespace_codepoint(cp);
    EXPECT_EQ(count, 21u);
    for (u32 cp : {0x85u, 0xA0u, 0x1680u, 0x180Eu, 0x2000u, 0x200Au, 0x200Bu, 0x2028u, 0x2029u,
                   0x202Fu, 0x205Fu, 0x3000u})
        EXPECT_TRUE(is_whitespace_codepoint(cp)) << cp;
}

// 36 kinds, 36 names: the comma (78) and the point (93) have their own entries, so each kind
// reports its own state.
TEST(LexerTables, ExitStatesNameEveryKind) {
    const char* names[36] = {
        "eof",     "error!",  "block!",  "block!",   "paren!",    "paren!",
        "string!", "string!", "map!",    "path!",    "datatype!", "comment",
        "comma",   "string!", "word!",   "issue!",   "integer!",  "refinement!",
        "char!",   "file!",   "binary!", "percent!", "float!",    "float!",
        "tuple!",  "date!",   "pair!",   "point2D!", "time!",     "money!",
        "tag!",    "url!",    "email!",  "hex",      "rawstring", "ref!"};
    test::kept_scope scope;
    cell block;
    lexer::make_exit_states(&block);
    test::keep(block); // molding the states may collect
    series_buffer* b = buffer_of(block.w2);
    ASSERT_EQ(used_units(b), 36u);
    for (u32 k = first_kind; k <= last_kind; k++) {
        cell e = lexer::exit_state(k);
        std::string text = is(&e, type_id::word) ? symbol::text(e.w2) : test::molded(e);
        EXPECT_EQ(text, names[k - first_kind]) << "kind " << k;
        const cell* in_block = head_cell(buffer_of(block.w2)) + (k - first_kind);
        EXPECT_EQ(type_of(in_block), type_of(&e));
    }
}
