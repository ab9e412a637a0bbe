// UTF-8 and UTF-16LE codecs against Python's codecs, the checked decoder's rules, and the case
// tables against Python's one-to-one mappings.
#include <gtest/gtest.h>

#include <sstream>
#include <unistd.h>

#include "runtime/unicode.hpp"
#include "tests/unit/datatypes/text_helpers.hpp"

using namespace zel;
using namespace zel::test;

namespace {

std::string as_string(const std::vector<u8>& v) {
    return std::string(v.begin(), v.end());
}

bool starts_with_bom(const std::vector<u8>& v) {
    return v.size() > 2 && v[0] == 0xEF && v[1] == 0xBB && v[2] == 0xBF;
}

u32 invalid_utf8 = err::E("access", "invalid-utf8").code();
u32 invalid_char = err::E("script", "invalid-char").code();

} // namespace

// Every input is an exact-size heap copy, so a read past its end is caught by the sanitizer build.
TEST(Utf8, AgainstPythonCodecs) {
    auto lines = oracle_lines("utf8");
    ASSERT_GT(lines.size(), 1000u) << "python3 oracle did not run";
    int strict_ok = 0;
    for (const std::string& line : lines) {
        std::istringstream in(line);
        std::string hex, strict, escaped;
        u32 replaced;
        in >> hex >> strict >> escaped >> replaced;
        std::vector<u8> bytes = hex == "." ? std::vector<u8>{} : from_hex(hex);
        const u8* b = bytes.data();
        const u8* e = b + bytes.size();
        SCOPED_TRACE(hex);

        // Counting treats each broken sequence as one replacement character.
        EXPECT_EQ(utf8::count_codepoints(b, e), replaced);

        // Lossless mode keeps every byte it cannot decode, and gives them back.
        held_cell os;
        utf8::decode_to_new_string(&os, b, static_cast<u32>(bytes.size()), utf8::flag::lossless);
        EXPECT_EQ(text_of(os), from_cps(escaped));
        EXPECT_EQ(utf8::encode_string(&os, -1, utf8::flag::lossless), as_string(bytes));

        if (strict == "!") {
            // Not comparable with Python (overlong forms are accepted here), but never unsafe.
            u32 left = 0;
            raised([&] {
                held_cell c;
                utf8::decode_to_new_string(&c, b, static_cast<u32>(bytes.size()), 0, &left);
            });
            continue;
        }
        strict_ok++;
        std::u32string expected = from_cps(strict);
        if (starts_with_bom(bytes)) expected.erase(0, 1);
        held_cell c;
        u32 left = 99;
        utf8::decode_to_new_string(&c, b, static_cast<u32>(bytes.size()), 0, &left);
        EXPECT_EQ(left, 0u);
        EXPECT_EQ(text_of(c), expected);
        u32 widest = 0;
        for (char32_t cp : expected) widest = std::max<u32>(widest, cp);
        EXPECT_EQ(unit_of_text(c), text_units::unit_for_write(widest));
        std::string back = utf8::encode_string(&c);
        EXPECT_EQ(back, as_string(bytes).substr(starts_with_bom(bytes) ? 3 : 0));
        EXPECT_EQ(utf8::measure_units(head_ptr(buffer_of(c.w2)), tail_ptr(buffer_of(c.w2)),
                                      unit_of_text(c)),
                  back.size());
    }
    EXPECT_GT(strict_ok, 500);
}

TEST(Utf8, CheckedDecoder) {
    struct row {
        const char* hex;
        i32 code_point; // -1: cut off; -2: raises
        u32 length;
    };
    const row rows[] = {
        {"41", 0x41, 1},
        {"C3A9", 0xE9, 2},
        {"C0AF", -2, 0}, // overlong forms of "/", NUL, "A" and of the first 3- and 4-byte values
        {"C080", -2, 0},
        {"C181", -2, 0},
        {"E08080", -2, 0},
        {"E09FBF", -2, 0},
        {"F08FBFBF", -2, 0},
        {"C280", 0x80, 2},
        {"E0A080", 0x800, 3},
        {"EDA080", 0xD800, 3},
        {"EDB380", -2, 0},
        {"EDB080", -2, 0},
        {"EDBFBF", 0xDFFF, 3},
        {"F09F9880", 0x1F600, 4},
        {"F48FBFBF", 0x10FFFF, 4},
        {"F4908080", -2, 0},
        {"F7BFBFBF", -2, 0},
        {"C3", -1, 0},
        {"E282", -1, 0},
        {"F09F98", -1, 0},
        {"E241", -2, 0}, // broken, not cut
        {"F09F41", -2, 0},
        {"80", -2, 0},
        {"BF41", -2, 0},
        {"F8808080", -2, 0},
        {"FF", -2, 0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.hex);
        std::vector<u8> bytes = from_hex(r.hex);
        u32 length = static_cast<u32>(bytes.size());
        i32 cp = 0;
        u32 code = raised([&] { cp = utf8::decode_sequence_checked(bytes.data(), length); });
        if (r.code_point == -2) {
            EXPECT_EQ(code, invalid_utf8);
            continue;
        }
        EXPECT_EQ(code, 0u);
        EXPECT_EQ(cp, r.code_point);
        if (cp >= 0) {
            EXPECT_EQ(length, r.length);
        }
    }
}

TEST(Utf8, InvalidSequenceErrorCarriesOnlyBytesThatExist) {
    for (const char* hex : {"E241", "EDB38041", "80"}) {
        std::vector<u8> bytes = from_hex(hex);
        stack::mark m = stack::save();
        u32 length = static_cast<u32>(bytes.size());
        EXPECT_THROW(utf8::decode_sequence_checked(bytes.data(), length), unwind);
        const cell* arg = stack::top - 1;
        ASSERT_TRUE(is(arg, type_id::binary));
        series_buffer* b = buffer_of(arg->w2);
        std::vector<u8> carried(head_ptr(b), tail_ptr(b));
        bytes.resize(std::min<std::size_t>(bytes.size(), 4));
        EXPECT_EQ(carried, bytes) << hex;
        stack::restore(m);
    }
}

TEST(Utf8, DecodingIntoStrings) {
    struct row {
        const char* hex;
        u32 flags;
        std::u32string text;
        u32 unit;
        u32 remaining;
    };
    const row rows[] = {
        {"EFBBBF41", 0, U"A", 1, 0},
        {"EFBBBF", 0, U"", 1, 0},
        {"EFBB", 0, U"", 1, 2}, // too short to be a mark: a cut-off sequence
        {"C3A9", 0, U"\u00E9", 1, 0},
        {"C3A9E282AC", 0, U"\u00E9\u20AC", 2, 0},
        {"41F09F9880", 0, U"A\U0001F600", 4, 0},
        {"61C3", 0, U"a", 1, 1},
        {"61F09F98", 0, U"a", 1, 3},
        {"610D0A620D63", utf8::flag::crlf, U"a\nb\nc", 1, 0},
        {"610D", utf8::flag::crlf, U"a\n", 1, 0},
        {"610D0A620D63", 0, U"a\r\nb\rc", 1, 0},
        {"EDA080", 0, U"\xD800", 2, 0},
        {"61C3", utf8::flag::lossless, U"a\xDCC3", 2, 0},
        {"EFBBBF41", utf8::flag::lossless,
         U"\xFEFF"
         U"A",
         2, 0},
        {"C0AF", utf8::flag::lossless, U"\xDCC0\xDCAF", 2, 0}, // overlong kept as bytes
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.hex);
        std::vector<u8> bytes = from_hex(r.hex);
        held_cell c;
        u32 left = 99;
        utf8::decode_to_new_string(&c, bytes.data(), static_cast<u32>(bytes.size()), r.flags,
                                   &left);
        EXPECT_EQ(text_of(c), r.text);
        EXPECT_EQ(unit_of_text(c), r.unit);
        EXPECT_EQ(left, r.remaining);
    }
}

TEST(Utf8, DecodingOntoAStringAppendsAndLeavesItAloneOnError) {
    held_cell target = make_text(U"ab", 1);
    std::vector<u8> euro = from_hex("E282AC");
    utf8::decode_into_buffer(euro.data(), 3, &target, 0);
    EXPECT_EQ(text_of(target), U"ab\u20AC");
    EXPECT_EQ(unit_of_text(target), 2u);

    std::vector<u8> bad = from_hex("41EDB380");
    EXPECT_EQ(raised([&] { utf8::decode_into_buffer(bad.data(), 4, &target, 0); }), invalid_utf8);
    EXPECT_EQ(text_of(target), U"ab\u20AC");

    // Input that lies in a buffer of the arena is read safely while the target grows.
    held_cell source = make_text(U"xyz", 1);
    held_cell big = make_text(U"", 1);
    for (int i = 0; i < 100; i++)
        utf8::decode_into_buffer(head_ptr(buffer_of(source.w2)), 3, &big, 0);
    EXPECT_EQ(text_of(big).size(), 300u);
    EXPECT_EQ(text_of(big).substr(294), U"xyzxyz");
}

TEST(Utf8, EncodersAndMeasures) {
    struct row {
        u32 cp;
        u32 size;
    };
    for (row r : {row{0, 1},
                  {0x7F, 1},
                  {0x80, 2},
                  {0x7FF, 2},
                  {0x800, 3},
                  {0xD800, 3},
                  {0xFFFF, 3},
                  {0x10000, 4},
                  {0x10FFFF, 4}}) {
        u8 buf[4];
        EXPECT_EQ(utf8::encoded_size(r.cp), r.size);
        EXPECT_EQ(utf8::encode_codepoint(r.cp, buf), r.size);
    }
    u8 buf[4];
    EXPECT_EQ(raised([&] { utf8::encoded_size(0x110000); }), invalid_char);
    EXPECT_EQ(raised([&] { utf8::encode_codepoint(0x110000, buf); }), invalid_char);
    utf8::encode_codepoint(0xD800, buf);
    EXPECT_EQ(std::vector<u8>(buf, buf + 3), from_hex("EDA080"));
    EXPECT_EQ(utf8::encode_codepoint_bounded(0x20AC, buf, 2), 2u);
    EXPECT_EQ(std::vector<u8>(buf, buf + 2), from_hex("E282"));

    held_cell s = make_text(U"a\u00E9\n\u20AC\U0001F600", 4);
    EXPECT_EQ(utf8::encode_string(&s), "a\xC3\xA9\n\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(utf8::encode_string(&s, 3), "a\xC3\xA9\n");
    EXPECT_EQ(utf8::encode_string_lines(&s, 3), "a\xC3\xA9\r\n");
    s.w1 = 3; // from the head
    EXPECT_EQ(utf8::encode_string(&s), "\xE2\x82\xAC\xF0\x9F\x98\x80");
    s.w1 = 0;

    u8 out[16];
    EXPECT_EQ(utf8::encode_string_into(&s, out, 2, true), 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out)), "a\xC3\xA9");
    // Room for "a", "é" and the NUL: the euro sign does not fit and is not cut.
    std::memset(out, 0xAA, sizeof out);
    EXPECT_EQ(utf8::encode_string_bounded(&s, out, 5, 0, true), 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out)), "a\xC3\xA9\n");
    EXPECT_EQ(out[5], 0xAA);
    EXPECT_EQ(utf8::encode_string_bounded(&s, out, 0, 0, true), 0u);
    EXPECT_EQ(out[0], 'a');

    held_cell wide = make_text(U"a", 4);
    text_units::write(head_ptr(buffer_of(wide.w2)), 4, 0x110000);
    EXPECT_EQ(raised([&] { utf8::encode_string(&wide); }), invalid_char);
}

TEST(Utf8, LowLevelWalk) {
    struct row {
        u8 byte;
        u32 length;
    };
    for (row r : {row{0x41, 0},
                  {0x80, 0},
                  {0xBF, 0},
                  {0xC0, 2},
                  {0xDF, 2},
                  {0xE0, 3},
                  {0xEF, 3},
                  {0xF0, 4},
                  {0xF8, 4},
                  {0xFF, 4}})
        EXPECT_EQ(utf8::lead_byte_length(r.byte), r.length) << int(r.byte);

    std::vector<u8> text = from_hex("41C3A9E282ACF09F9880");
    const u8* b = text.data();
    const u8* e = b + text.size();
    EXPECT_EQ(utf8::skip_codepoints(b, e, 2), b + 3);
    EXPECT_EQ(utf8::skip_codepoints(b, e, 9), e);
    // A sequence cut off by the end is one code point and never read past it.
    utf8::step s = utf8::next_codepoint(b + 6, b + 8);
    EXPECT_EQ(s.code_point, -1);
    EXPECT_EQ(s.next, b + 8);
}

TEST(Utf16, AgainstPythonCodecs) {
    auto lines = oracle_lines("utf16");
    ASSERT_GT(lines.size(), 100u) << "python3 oracle did not run";
    for (const std::string& line : lines) {
        std::istringstream in(line);
        std::string list, hex;
        in >> list >> hex;
        SCOPED_TRACE(line);
        std::vector<u8> bytes = hex == "." ? std::vector<u8>{} : from_hex(hex);
        std::u32string expected = from_cps(list);
        u32 node = utf16::decode_to_string(bytes.data(), static_cast<u32>(bytes.size() / 2),
                                           nullptr, false);
        held_cell c = cell{type_id::string, 0, node, 0};
        EXPECT_EQ(text_of(c), expected);
        bool surrogates = false, high = false;
        for (std::size_t i = 1; i < bytes.size(); i += 2) {
            surrogates |= bytes[i] >= 0xD8 && bytes[i] <= 0xDF;
            high |= bytes[i] != 0;
        }
        EXPECT_EQ(unit_of_text(c), surrogates ? 4u : high ? 2u : 1u);
        auto back = utf16::encode_string(&c, -1, false);
        ASSERT_TRUE(back);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(back->data()), back->size() * 2),
                  as_string(bytes));
    }
}

TEST(Utf16, DecodingRules) {
    struct row {
        const char* hex;
        bool drop_cr;
        std::u32string text;
        u32 unit;
    };
    const row rows[] = {
        {"3DD800DE", false, U"\U0001F600", 4},
        {"00DC4100", false,
         U"\xDC00"
         U"A",
         4}, // a lone low surrogate is kept
        {"E9000D000A00", true, U"\u00E9\n", 1},
        {"E9000D000A00", false, U"\u00E9\r\n", 1},
        {"00014100", false, U"\u0100A", 2},
        {"", false, U"", 1},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.hex);
        std::vector<u8> bytes = from_hex(r.hex);
        u32 node = utf16::decode_to_string(bytes.data(), static_cast<u32>(bytes.size() / 2),
                                           nullptr, r.drop_cr);
        held_cell c = cell{type_id::string, 0, node, 0};
        EXPECT_EQ(text_of(c), r.text);
        EXPECT_EQ(unit_of_text(c), r.unit);
        EXPECT_TRUE(buffer_of(node)->flags & 0x40000);
    }
    // Onto an existing string: appended, widening the target.
    held_cell target = make_text(U"ab", 1);
    std::vector<u8> smile = from_hex("3DD800DE");
    utf16::decode_to_string(smile.data(), 2, &target, false);
    EXPECT_EQ(text_of(target), U"ab\U0001F600");
}

TEST(Utf16DeathTest, UnpairedHighSurrogateEndsTheProcess) {
    for (const char* hex : {"3DD84100", "3DD8"}) {
        std::vector<u8> bytes = from_hex(hex);
        EXPECT_EXIT(
            {
                dup2(STDERR_FILENO, STDOUT_FILENO);
                utf16::decode_to_string(bytes.data(), static_cast<u32>(bytes.size() / 2), nullptr,
                                        false);
            },
            testing::ExitedWithCode(1), "\\*\\*\\* Input Error: invalid UTF-16LE codepoint")
            << hex;
    }
}

TEST(Utf16, Encoding) {
    u16 pair[2];
    EXPECT_EQ(utf16::encode_codepoint(0x41, pair), 1u);
    EXPECT_EQ(utf16::encode_codepoint(0x1F600, pair), 2u);
    EXPECT_EQ(pair[0], 0xD83D);
    EXPECT_EQ(pair[1], 0xDE00);
    EXPECT_EQ(utf16::encode_codepoint(0x110000, pair), 0u);

    held_cell s = make_text(std::u32string_view(U"a\nb\0c", 5), 1);
    EXPECT_EQ(utf16::encode_string(&s, -1, false), std::u16string(u"a\nb"));
    EXPECT_EQ(utf16::encode_string_crlf(&s), std::u16string(u"a\r\nb"));
    EXPECT_EQ(utf16::encode_string(&s, 1, true), std::u16string(u"a"));
    held_cell wide = make_text(U"ab", 4);
    text_units::write(head_ptr(buffer_of(wide.w2)) + 4, 4, 0x110000);
    EXPECT_FALSE(utf16::encode_string(&wide, -1, false));
}

// Python 3.11 carries Unicode 14.0, the version of the tables. Where Python maps to several
// characters the tables hold the simple mapping of the character database, listed here.
TEST(CaseMapping, AgainstPython) {
    auto lines = oracle_lines("case");
    ASSERT_GT(lines.size(), 2000u) << "python3 oracle did not run";
    if (lines[0] != "version 14.0.0")
        GTEST_SKIP() << "the tables follow Unicode 14.0; Python has " << lines[0];
    std::vector<u32> upper(0x110000), lower(0x110000);
    for (u32 cp = 0; cp < 0x110000; cp++) upper[cp] = lower[cp] = cp;
    for (std::size_t i = 1; i < lines.size(); i++) {
        std::istringstream in(lines[i]);
        std::string cp, up, lo;
        in >> cp >> up >> lo;
        u32 c = std::stoul(cp, nullptr, 16);
        if (up != "-") upper[c] = std::stoul(up, nullptr, 16);
        if (lo != "-") lower[c] = std::stoul(lo, nullptr, 16);
    }
    upper[0xDF] = 0x53; // folding makes "ß" equal to "s"
    lower[0x130] = 0x69;
    for (u32 i = 0; i < 8; i++) {
        upper[0x1F80 + i] = 0x1F88 + i;
        upper[0x1F90 + i] = 0x1F98 + i;
        upper[0x1FA0 + i] = 0x1FA8 + i;
    }
    upper[0x1FB3] = 0x1FBC;
    upper[0x1FC3] = 0x1FCC;
    upper[0x1FF3] = 0x1FFC;
    int wrong = 0;
    for (u32 cp = 0; cp < 0x110000 && wrong < 20; cp++) {
        if (case_::to_upper(cp) != upper[cp] || case_::to_lower(cp) != lower[cp]) {
            ADD_FAILURE() << std::hex << "U+" << cp << " upper " << case_::to_upper(cp) << " lower "
                          << case_::to_lower(cp);
            wrong++;
        }
    }
    EXPECT_EQ(case_::to_upper(0x110000), 0x110000u);
    EXPECT_EQ(case_::to_upper(0xFFFFFFFF), 0xFFFFFFFFu);
}

TEST(CaseMapping, TellingRows) {
    struct row {
        u32 cp;
        bool to_upper;
        u32 mapped;
    };
    const row rows[] = {
        {0xDF, true, 0x53},       {0xFF, true, 0x178},       {0x131, true, 0x49},
        {0x17F, true, 0x53},      {0xB5, true, 0x39C},       {0x3C2, true, 0x3A3},
        {0x130, false, 0x69},     {0x212A, false, 0x6B},     {0x1E9E, false, 0xDF},
        {0x1C5, true, 0x1C4},     {0x1C5, false, 0x1C6},     {0x10400, false, 0x10428},
        {0x1E922, true, 0x1E900}, {0x1E900, false, 0x1E922}, {0x41, true, 0x41},
    };
    for (const row& r : rows)
        EXPECT_EQ(case_::map_codepoint(r.cp, r.to_upper), r.mapped) << std::hex << r.cp;
}

TEST(CaseMapping, ConvertValue) {
    cell ch;
    init_char(&ch, 0x1E922);
    case_::convert_value(&ch, true, nullptr);
    EXPECT_EQ(ch.w2, 0x1E900u);

    // ÿ upper-cases to U+0178: the Latin-1 buffer widens and the walk goes on in 2-byte units.
    held_cell s = make_text(U"a\u00FFb\u00E9", 1);
    case_::convert_value(&s, true, nullptr);
    EXPECT_EQ(text_of(s), U"A\u0178B\u00C9");
    EXPECT_EQ(unit_of_text(s), 2u);

    struct row {
        i32 head;
        i32 part; // integer /part; INT32_MIN: none
        std::u32string text;
    };
    const row rows[] = {
        {0, INT32_MIN, U"ABCD"}, {1, 2, U"aBCd"}, {1, -3, U"abcd"},
        {2, 100, U"abCD"},       {9, 1, U"abcd"}, // head past the tail: nothing
    };
    for (const row& r : rows) {
        held_cell t = make_text(U"abcd", 1);
        t.w1 = static_cast<u32>(r.head);
        cell part;
        init_integer(&part, r.part);
        case_::convert_value(&t, true, r.part == INT32_MIN ? nullptr : &part);
        t.w1 = 0;
        EXPECT_EQ(text_of(t), r.text) << r.head << " " << r.part;
    }
    // /part as a position in the same series, and anything else.
    held_cell t = make_text(U"abcd", 1);
    held_cell at = t;
    at.w1 = 3;
    case_::convert_value(&t, true, &at);
    EXPECT_EQ(text_of(t), U"ABCd");
    held_cell other = make_text(U"xy", 1);
    EXPECT_EQ(raised([&] { case_::convert_value(&t, false, &other); }),
              err::E("script", "invalid-refine-arg").code());
    EXPECT_EQ(text_of(t), U"ABCd");

    held_cell w = make_text(U"\U00010400\u0130", 4);
    case_::convert_value(&w, false, nullptr);
    EXPECT_EQ(text_of(w), U"\U00010428i");
}
