// The widget kinds' own logic, free of faces: field editing, text-list moves, check and radio
// toggling, and images turned into half-block cells.
#include <gtest/gtest.h>

#include "gui/terminal/input.hpp"
#include "gui/terminal/widget_kinds.hpp"

namespace zel::kinds {
namespace {

constexpr i32 left = tui::key_code::left, right = tui::key_code::right;

// A key: a code point, or a special key (`special` set).
struct key_press {
    i32 code;
    bool special = false;
};

// Applies keys to a field as the widget does, the text changed at the caret.
std::u32string type_into(std::u32string text, int width, const std::vector<key_press>& keys,
                         edit_state& caret) {
    caret = measure_edit(text, width);
    for (const key_press& k : keys) {
        edit_step s = edit_key(text, caret, width, k.code, k.special);
        if (s.insert) text.insert(text.begin() + caret.index, s.character);
        if (s.remove) text.erase(text.begin() + s.after.index);
        caret = s.after;
    }
    return text;
}

TEST(FieldEditing, KeysFullFieldAndWideCharacters) {
    struct {
        const char* what;
        std::u32string text;
        int width;
        std::vector<key_press> keys;
        std::u32string want;
        int index, column;
    } cases[] = {
        {"typing appends at the caret", U"ab", 10, {{'c'}, {'d'}}, U"abcd", 4, 4},
        {"left, backspace, right", U"abcd", 10, {{left, true}, {127}, {right, true}}, U"abd", 3, 3},
        {"Ctrl-B and Ctrl-F move too; 8 is a backspace", U"abc", 10, {{2}, {2}, {8}, {6}},
         U"bc", 1, 1},
        {"insert in the middle", U"ac", 10, {{left, true}, {'b'}}, U"abc", 2, 2},
        {"a full field takes no more", U"abcd", 4, {{'e'}}, U"abcd", 4, 4},
        {"backspace at the start does nothing", U"ab", 10, {{left, true}, {left, true}, {127}},
         U"ab", 0, 0},
        {"right at the end does nothing", U"ab", 10, {{right, true}}, U"ab", 2, 2},
        {"home, end, delete, enter, tab and line feed do nothing", U"ab", 10,
         {{tui::key_code::home, true}, {tui::key_code::delete_, true}, {13}, {9}, {10}, {1}}, U"ab",
         2, 2},
        {"a wide character takes two columns", U"a", 10, {{0x65E5}}, U"a\u65E5", 2, 3},
        {"a wide character that would not fit is refused", U"abc", 4, {{0x65E5}}, U"abc", 3, 3},
        {"left over a wide character steps back two columns", U"\u65E5b", 10,
         {{left, true}, {left, true}}, U"\u65E5b", 0, 0},
        {"backspace of a wide character frees two columns", U"a\u65E5", 3, {{127}, {'x'}, {'y'}},
         U"axy", 3, 3},
        {"a text longer than the field puts the caret after what fits", U"abcdef", 4, {}, U"abcdef",
         4, 4},
    };
    for (auto& c : cases) {
        edit_state caret;
        std::u32string got = type_into(c.text, c.width, c.keys, caret);
        EXPECT_TRUE(got == c.want) << c.what;
        EXPECT_EQ(caret.index, c.index) << c.what;
        EXPECT_EQ(caret.column, c.column) << c.what;
    }
    // Enter, tab and 0 are left to the engine's handlers.
    for (i32 code : {0, 9, 13}) EXPECT_FALSE(edit_key(U"ab", {2, 2, 2}, 10, code, false).handled);
}

TEST(FieldEditing, ClickPutsTheCaretAtTheCharacterUnderIt) {
    edit_state e = click_edit(U"a\u65E5bc", {}, 2);
    EXPECT_EQ(e.index, 1) << "a click on a wide character's second half lands before it";
    EXPECT_EQ(e.column, 1);
    e = click_edit(U"a\u65E5bc", {}, 3);
    EXPECT_EQ(e.index, 2);
    EXPECT_EQ(e.column, 3);
    e = click_edit(U"ab", {}, 9);
    EXPECT_EQ(e.index, 2) << "past the end: after the last character";
}

TEST(TextList, KeysScrollAndClicksSelect) {
    const i32 up = tui::key_code::up, down = tui::key_code::down;
    struct {
        const char* what;
        int selected, first, count, height;
        i32 code;
        int want_selected, want_first;
    } keys[] = {
        {"down moves the selection", 1, 0, 10, 3, down, 2, 0},
        {"down past the visible rows scrolls", 3, 0, 10, 3, down, 4, 1},
        {"down at the last entry stays", 10, 7, 10, 3, down, 10, 7},
        {"down without a selection selects the first", 0, 0, 10, 3, down, 1, 0},
        {"up moves the selection", 5, 3, 10, 3, up, 4, 3},
        {"up above the first visible row scrolls", 4, 3, 10, 3, up, 3, 2},
        {"up at the first entry stays", 1, 0, 10, 3, up, 1, 0},
    };
    for (auto& k : keys) {
        list_move m = list_key(k.selected, k.first, k.count, k.height, k.code, true);
        EXPECT_TRUE(m.handled) << k.what;
        EXPECT_EQ(m.selected, k.want_selected) << k.what;
        EXPECT_EQ(m.first_line, k.want_first) << k.what;
    }
    EXPECT_FALSE(list_key(1, 0, 10, 3, 'a', false).handled) << "other keys are not the list's";
    EXPECT_FALSE(list_key(1, 0, 10, 3, tui::key_code::home, true).handled);

    list_move m = list_click(1, 5, 20, 2);
    EXPECT_TRUE(m.handled);
    EXPECT_EQ(m.selected, 8) << "third visible row of a list scrolled by 5";
    EXPECT_FALSE(list_click(1, 0, 3, 5).handled) << "a click below the last entry";
}

TEST(CheckAndRadio, Toggling) {
    cell none{type_id::none, 0, 0, 0}, yes{}, no{}, number{};
    init_logic(&yes, true);
    init_logic(&no, false);
    init_integer(&number, 3);
    struct {
        kind k;
        cell data;
        bool want;
    } cases[] = {
        {kind::check, none, true}, {kind::check, yes, false}, {kind::check, no, true},
        {kind::check, number, false}, {kind::radio, none, true}, {kind::radio, yes, true},
        {kind::radio, no, true},
    };
    for (auto& c : cases) EXPECT_EQ(toggled(c.k, c.data), c.want) << type_of(&c.data);
}

TEST(ImageCells, HalfBlocksInBothColourDepths) {
    const u32 red = 0xFFFF0000, blue = 0xFF0000FF, clear = 0x00FFFFFF;
    // A 1x4 column: red over blue, then transparent over red.
    const u32 px[] = {red, blue, clear, red};
    auto cells = image_cells(px, 1, 4, 1, 2, 4);
    ASSERT_EQ(cells.size(), 2u);
    EXPECT_EQ(cells[0].code, 0x2584u);
    EXPECT_EQ(cells[0].bg, tui::colour::rgb24(255, 0, 0));
    EXPECT_EQ(cells[0].fg, tui::colour::rgb24(0, 0, 255));
    EXPECT_EQ(cells[1].code, 0u) << "a transparent upper pixel gives a blank cell";
    EXPECT_EQ(cells[1].bg, tui::colour::default_);

    cells = image_cells(px, 1, 4, 1, 2, 2);
    EXPECT_EQ(cells[0].bg, tui::colour::palette(196)) << "pure red in the palette";
    EXPECT_EQ(cells[0].fg, tui::colour::palette(21)) << "pure blue in the palette";

    // Scaled: a 2x2 image to 4 cells wide, 2 high (4x4 pixels), nearest neighbour.
    const u32 quad[] = {red, blue, blue, red};
    cells = image_cells(quad, 2, 2, 4, 2, 4);
    ASSERT_EQ(cells.size(), 8u);
    EXPECT_EQ(cells[0].bg, tui::colour::rgb24(255, 0, 0));
    EXPECT_EQ(cells[0].fg, tui::colour::rgb24(255, 0, 0));
    EXPECT_EQ(cells[3].bg, tui::colour::rgb24(0, 0, 255));
    EXPECT_EQ(cells[4].bg, tui::colour::rgb24(0, 0, 255));
    EXPECT_TRUE(image_cells(quad, 2, 2, 0, 2, 4).empty()) << "a widget without width";
}

} // namespace
} // namespace zel::kinds
