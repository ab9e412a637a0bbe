// The text UI's decoder over byte strings, whole and split into two reads at every position.
#include <gtest/gtest.h>

#include <string>

#include "gui/terminal/input.hpp"

namespace zel::tui {
namespace {

std::string describe(const std::deque<input_item>& items) {
    std::string out;
    for (const input_item& i : items) {
        if (!out.empty()) out += ' ';
        switch (i.kind) {
        case input_item::key:
            out += (i.flags & event_flag::special ? "S" : "K") + std::to_string(i.code);
            if (i.flags & event_flag::shift) out += "+shift";
            break;
        case input_item::mouse:
            out += "M" + std::to_string(i.code) + "@" + std::to_string(i.x) + "," +
                   std::to_string(i.y) + (i.release ? "up" : "");
            if (i.flags & event_flag::shift) out += "+shift";
            if (i.flags & event_flag::alt) out += "+alt";
            if (i.flags & event_flag::control) out += "+ctrl";
            break;
        case input_item::cursor:
            out += "C" + std::to_string(i.x) + "," + std::to_string(i.y);
            break;
        }
    }
    return out;
}

// Passes: the given reads one per pass, then a pass that brings nothing.
std::string decode(const std::vector<std::string>& reads) {
    input_decoder d;
    std::deque<input_item> items;
    for (const std::string& r : reads) d.pass(r, items);
    d.pass("", items);
    return describe(items);
}

TEST(GuiInput, SequencesWholeAndSplitAcrossReads) {
    struct {
        const char* bytes;
        const char* keys;
    } cases[] = {
        {"a", "K97"},
        {"\xe2\x82\xac", "K8364"}, // a three-byte character
        {"\r\n", "K13 K13"},
        {"\x08\x7f", "K127 K127"},
        {"\x03", "K3"}, // Ctrl-C reaches the loop as a key
        {"\x1b", "K27"},
        {"\x1b[A\x1b[B\x1b[C\x1b[D", "S-20 S-21 S-22 S-23"},
        {"\x1bOA\x1bOD", "S-20 S-23"}, // application-mode arrows
        {"\x1b[H\x1b[F\x1b[1~\x1b[4~", "S-25 S-24 S-25 S-24"},
        {"\x1b[3~\x1b[5~\x1b[6~", "S-27 S-28 S-29"},
        {"\x1bOP\x1bOS\x1b[15~\x1b[17~\x1b[21~\x1b[24~", "S-31 S-34 S-35 S-36 S-40 S-42"},
        {"\x1b[Z", "K9+shift"},
        {"\x1b[2~x", "K120"},   // insert sends nothing
        {"\x1b[1;5Ax", "K120"}, // nor a key with a modifier
        {"\x1b"
         "ab",
         "K98"}, // Alt-a sends nothing; the b after it is a key
        {"\x1b[<0;10;5M\x1b[<0;10;5m", "M0@9,4 M0@9,4up"},
        {"\x1b[<64;1;1M\x1b[<65;1;1M", "M4@0,0 M5@0,0"},
        {"\x1b[<2;3;4M", "M2@2,3"},
        {"\x1b[<4;1;1M\x1b[<8;1;1M\x1b[<16;1;1M", "M0@0,0+shift M0@0,0+alt M0@0,0+ctrl"},
        {"\x1b[32;10;5M", "M0@9,4"}, // the urxvt form carries 32 more
        {"\x1b[12;40R", "C39,11"},
        {"\x1b]0;title\x07"
         "a\x1b]2;t\x1b\\b",
         "K97 K98"}, // OSC ends at BEL or ST
        {"\x1bPq#1\x1b\\c", "K99"},
    };
    for (const auto& c : cases) {
        std::string bytes = c.bytes;
        EXPECT_EQ(decode({bytes}), c.keys) << "whole: " << c.keys;
        for (std::size_t cut = 1; cut < bytes.size(); ++cut)
            EXPECT_EQ(decode({bytes.substr(0, cut), bytes.substr(cut)}), c.keys)
                << "split at " << cut << ": " << c.keys;
    }
}

TEST(GuiInput, EscapeWaitsForAPassThatBringsNothing) {
    input_decoder d;
    std::deque<input_item> items;
    d.pass("a\x1b", items);
    EXPECT_EQ(describe(items), "K97") << "an Escape ending a read waits";
    d.pass("[A", items);
    EXPECT_EQ(describe(items), "K97 S-20") << "the rest of an arrow came in the next pass";
    d.pass("\x1b", items);
    d.pass("", items);
    EXPECT_EQ(describe(items), "K97 S-20 K27");
}

} // namespace
} // namespace zel::tui

namespace zel::tui {
namespace {

TEST(GuiInput, MouseReportsBecomeButtonMotionAndWheelEvents) {
    // Reports as the terminal sends them, with the frame's top row at 2.
    input_decoder d;
    mouse_reports m;
    std::deque<input_item> items;
    d.pass("\x1b[<0;10;5M\x1b[<32;12;5M\x1b[<0;10;5m\x1b[<35;3;3M\x1b[<64;1;1M\x1b[<65;1;1M"
           "\x1b[<2;1;4M\x1b[<2;1;4m\x1b[<1;1;4M\x1b[<3;1;4m",
           items);
    std::string got;
    for (const input_item& i : items) {
        mouse_event e;
        if (!m.convert(i, 2, e)) continue;
        got += std::to_string(e.type) + "@" + std::to_string(static_cast<int>(e.x)) + "," +
               std::to_string(static_cast<int>(e.y));
        if (e.flags & event_flag::down) got += "+down";
        if (e.wheel) got += e.wheel > 0 ? "+1" : "-1";
        got += " ";
    }
    EXPECT_EQ(got, "1@9,2 12@11,2+down 2@9,2 12@2,0 11@0,-2+1 11@0,-2-1 5@0,1 6@0,1 3@0,1 "
                   "12@0,1 ");
}

} // namespace
} // namespace zel::tui
