// Key decoding: the byte sequences terminals send for each key, a lone Escape told apart from a
// sequence by a pause, UTF-8 input including broken sequences, and cursor reports kept apart
// from typed keys.
#include <gtest/gtest.h>

#include <vector>

#include "console/utf8_stream.hpp"
#include "console/vt_input.hpp"
#include "fake_terminal.hpp"

using namespace zel;
using zel::testing_terminal::fake_terminal;
namespace key = vt_input::key;

namespace {

// Keys read until the input ends. Chunks after the first arrive after a pause unless they
// begin with "+" (then they arrive together with the one before).
std::vector<i32> keys_of(const std::vector<std::string>& chunks) {
    fake_terminal term;
    for (const auto& c : chunks) {
        if (!c.empty() && c[0] == '+')
            term.type_on(c.substr(1));
        else
            term.type(c);
    }
    vt_input::key_reader reader(term);
    std::vector<i32> keys;
    for (i32 k; (k = reader.read_key()) != key::failed;) keys.push_back(k);
    return keys;
}

} // namespace

TEST(VtInput, KeySequences) {
    struct row {
        const char* name;
        std::vector<std::string> chunks;
        std::vector<i32> keys;
    };
    const row rows[] = {
        {"arrows", {"\x1b[A\x1b[B\x1b[C\x1b[D"}, {key::up, key::down, key::right, key::left}},
        {"application arrows", {"\x1bOA\x1bOD"}, {key::up, key::left}},
        {"modified arrow", {"\x1b[1;5C"}, {key::right}},
        {"CSI home and end", {"\x1b[H\x1b[F"}, {key::home, key::end}},
        {"SS3 home and end", {"\x1bOH\x1bOF"}, {key::home, key::end}},
        {"tilde home and end", {"\x1b[1~\x1b[4~"}, {key::home, key::end}},
        {"tilde 7 and 8 home and end", {"\x1b[7~\x1b[8~"}, {key::home, key::end}},
        {"editing keys",
         {"\x1b[2~\x1b[3~\x1b[5~\x1b[6~"},
         {key::insert, key::delete_, key::page_up, key::page_down}},
        {"function keys map to nothing, whole",
         {"\x1b[15~\x1bOP\x1b[[A\x1b[Z\x1b[<0;3;4M"},
         {key::nothing, key::nothing, key::nothing, key::nothing, key::nothing}},
        {"control keys", {"\x01\x03\x04\x08\x7f\t"}, {1, 3, 4, key::backspace, key::del, key::tab}},
        {"enter as CR or LF", {"a\rb\n"}, {'a', key::enter, 'b', key::enter}},
        {"lone escape after a pause", {"\x1b", "a"}, {key::escape, 'a'}},
        {"lone escape at the end", {"x\x1b"}, {'x', key::escape}},
        {"escape then a key at once", {"\x1bx"}, {key::escape, 'x'}},
        {"two escapes", {"\x1b\x1b"}, {key::escape, key::escape}},
        {"escape then [ typed", {"\x1b[", "a"}, {key::escape, '[', 'a'}},
        {"escape then O typed", {"\x1bO", "k"}, {key::escape, 'O', 'k'}},
        {"sequence split without pause", {"\x1b", "+[", "+D"}, {key::left}},
        {"late cursor report is dropped", {"\x1b[5;7Rx"}, {'x'}},
        {"broken sequence then escape", {"\x1b[1\x1b[C"}, {key::right}},
        {"utf-8", {"\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80"}, {0xE9, 0x4E2D, 0x1F600}},
        {"utf-8 split without pause", {"\xe4\xb8", "+\xad"}, {0x4E2D}},
        {"cut sequence keeps the next byte", {"\xc3(\xe4\xb8\r"}, {0xFFFE, '(', 0xFFFE, 13}},
        {"stray bytes", {"\x80\xff\xc0\xaf"}, {0xFFFE, 0xFFFE, 0xFFFE, 0xFFFE}},
        {"encoded surrogate refused", {"\xed\xa0\x80"}, {0xFFFE, 0xFFFE, 0xFFFE}},
        {"cut character at the end", {"a\xf0\x9f"}, {'a', 0xFFFE}},
    };
    for (const row& r : rows) EXPECT_EQ(keys_of(r.chunks), r.keys) << r.name;
}

TEST(VtInput, CursorQueryKeepsTypedAheadKeys) {
    fake_terminal term;
    term.show("abcd");
    term.typed_before_answer = "xy\x1b[D";
    term.type("z");
    vt_input::key_reader reader(term);
    auto at = reader.query_cursor(1000);
    ASSERT_TRUE(at);
    EXPECT_EQ(at->row, 1);
    EXPECT_EQ(at->column, 5);
    EXPECT_EQ(term.output, "\x1b[6n");
    std::vector<i32> keys;
    for (i32 k; (k = reader.read_key()) != key::failed;) keys.push_back(k);
    EXPECT_EQ(keys, (std::vector<i32>{'x', 'y', key::left, 'z'}));
}

TEST(VtInput, CursorQueryGivesUpOnSilentTerminals) {
    fake_terminal silent;
    silent.terminal_output = false;
    vt_input::key_reader reader(silent);
    EXPECT_FALSE(reader.query_cursor(1000));
    EXPECT_EQ(silent.output, "") << "nothing is asked of a terminal that cannot answer";

    struct never_answers : fake_terminal {
        void write(std::string_view bytes) override { output.append(bytes); }
    } quiet;
    vt_input::key_reader reader3(quiet);
    EXPECT_FALSE(reader3.query_cursor(20));
    EXPECT_FALSE(reader3.query_cursor(20));
    EXPECT_EQ(quiet.output, "\x1b[6n");
}

TEST(Utf8Stream, RoundTrip) {
    const std::u32string text = U"a\u00e9\u4e2d\U0001F600\U0010FFFF";
    EXPECT_EQ(utf8_stream::decode(utf8_stream::encode(text)), text);
    EXPECT_EQ(utf8_stream::encode(std::u32string(1, char32_t(0xD800))), "\xef\xbf\xbd");
    EXPECT_EQ(utf8_stream::decode("\xe0\x80\x80"), std::u32string(3, char32_t(0xFFFE)))
        << "overlong forms are refused";
    EXPECT_EQ(utf8_stream::decode("\xf4\x90\x80\x80").front(), char32_t(0xFFFE))
        << "above U+10FFFF";
}
