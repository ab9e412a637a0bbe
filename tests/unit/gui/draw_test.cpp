// The draw dialect in cells: what each command paints for a face at 10x3 (10x5 cells), that a
// face's drawing stays inside its clip, and the argument errors.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/context.hpp"
#include "datatypes/symbol.hpp"
#include "gui/terminal/draw.hpp"
#include "gui/terminal/event_loop.hpp"
#include "gui/terminal/widgets.hpp"
#include "runtime/error_catalog.hpp"
#include "runtime/errors.hpp"
#include "tests/unit/library/library_fixture.hpp"

namespace zel::tui {
namespace {

// The value of a block made by running `code` that ends with it, kept in a global word.
cell block_from(const std::string& code) {
    auto o = libtest::run("draw-test-block: do [" + code + "] ()");
    EXPECT_FALSE(o.raised) << o.molded;
    cell w = context::global_word(symbol::intern_text("draw-test-block"));
    return *context::word_value_address(&w);
}

struct painted {
    screen_buffer screen;
    std::vector<std::u32string> rows; // "." for a blank cell
};

// A 30x10 buffer with the face at 10x3, 10x5 cells.
void paint(painted& p, const std::string& code) {
    p.screen.size_to(30, 10);
    p.screen.clear();
    cell block = block_from(code);
    draw::run(block, {&p.screen, 10, 3, {10, 3, 20, 8}, 0});
    p.rows.clear();
    for (int y = 0; y < 10; ++y) {
        std::u32string r;
        for (int x = 0; x < 30; ++x) {
            u32 c = p.screen.row(y)[x].code;
            r += c ? static_cast<char32_t>(c) : U'.';
        }
        p.rows.push_back(r);
    }
}

// The painted rows 2 to 8, columns 8 to 21: the face and a border of two cells round it.
std::vector<std::u32string> around(const painted& p) {
    std::vector<std::u32string> out;
    for (int y = 2; y <= 8; ++y) out.push_back(p.rows[y].substr(8, 14));
    return out;
}

std::string utf8(const std::u32string& s) {
    std::string out;
    for (char32_t c : s) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

TEST(Draw, CommandsPaintInsideTheFace) {
    const std::u32string blank = U"..............";
    struct {
        const char* block;
        std::vector<std::u32string> want; // rows 2-8, columns 8-21
    } cases[] = {
        {"[fill-pen 255.0.0 box 0x0 4x2]",
         {blank, U"..┌───┐.......", U"..│...│.......", U"..└───┘.......", blank, blank, blank}},
        {"[pen off box 0x0 3x3]", {blank, blank, blank, blank, blank, blank, blank}},
        // Placed at the face's origin, not at the screen's.
        {"[line 0x0 3x0]", {blank, U"..████........", blank, blank, blank, blank, blank}},
        {"[circle 10x5 0]", {blank, blank, blank, blank, blank, blank, blank}},
        {"[rotate 30 [box 0x0 2x2]]",
         {blank, U"..┌─┐.........", U"..│.│.........", U"..└─┘.........", blank, blank, blank}},
        {"[polygon 0x0 5x0 5x5]", {blank, blank, blank, blank, blank, blank, blank}},
        // Cut to the face: nothing lands on its neighbours, whatever the points.
        {"[line -5x0 30x2]",
         {blank, U"..████........", U"......██████..", blank, blank, blank, blank}},
        {"[line -100000x1 100000x1]",
         {blank, blank, U"..██████████..", blank, blank, blank, blank}},
        {"[box -1x1 4x20]",
         {blank, blank, U"..────┐.......", U"......│.......", U"......│.......",
          U"......│.......", blank}},
        {"[box -1x-1 20x20]", {blank, blank, blank, blank, blank, blank, blank}},
        {"[line 0x0 0x2 3x4]",
         {blank, U"..█...........", U"..█...........", U"..█...........", U"...██.........",
          U".....█........", blank}},
        {"[pen off fill-pen 1.2.3 triangle 0x0 4x0 0x2 line 0x4 1x4]",
         {blank, U"..............", U"..............", U"..............", blank, blank, blank}},
        {"[triangle 0x0 4x0 0x2]",
         {blank, U"..█████.......", U"..█.██........", U"..██..........", blank, blank, blank}},
        {"[circle 4x2 1]",
         {blank, U"..............", U".....███......", U"....█...█.....", U".....███......",
          blank, blank}},
        {"[ellipse 0x0 5x3]",
         {blank, U"...███........", U"..█...█.......", U"...███........", blank, blank, blank}},
        {"[ellipse 0x0 0x3]", {blank, blank, blank, blank, blank, blank, blank}},
        {"[text 1x1 \"hello world\"]",
         {blank, blank, U"...hello wor..", U"...ld.........", blank, blank, blank}},
        {"[text 8x4 \"abc\" text -2x0 \"xyz\"]",
         {blank, U"..z...........", blank, blank, blank, U"..........ab..", blank}},
    };
    for (const auto& c : cases) {
        painted p;
        paint(p, c.block);
        auto got = around(p);
        for (std::size_t i = 0; i < c.want.size(); ++i) {
            std::u32string want = c.want[i];
            want.resize(14, U'.');
            EXPECT_EQ(utf8(got[i]), utf8(want)) << c.block << " row " << i + 2;
        }
    }
}

TEST(Draw, PensFillsAndTextColours) {
    painted p;
    paint(p, "[fill-pen 255.0.0 box 0x0 4x2]");
    for (int y = 3; y <= 5; ++y)
        for (int x = 10; x <= 14; ++x) {
            EXPECT_EQ(p.screen.row(y)[x].bg, colour::palette(196)) << x << "," << y;
            EXPECT_EQ(p.screen.row(y)[x].fg, colour::default_) << x << "," << y;
        }
    EXPECT_EQ(p.screen.row(4)[11].code, 0u);

    // The pen colours lines and text; a font colour wins over the pen for text.
    paint(p, "compose [pen 0.0.255 line 0x0 1x0 text 0x1 \"a\" font (make font! [color: 0.255.0]) "
             "text 1x1 \"b\" pen off font (make font! []) text 2x1 \"c\"]");
    EXPECT_EQ(p.screen.row(3)[10].fg, colour::palette(21));
    EXPECT_EQ(p.screen.row(4)[10].fg, colour::palette(21));
    EXPECT_EQ(p.screen.row(4)[11].fg, colour::palette(46));
    EXPECT_EQ(p.screen.row(4)[12].code, static_cast<u32>('c'));
    EXPECT_EQ(p.screen.row(4)[12].fg, colour::palette(21));

    // A colour word stands for its value; fills keep the glyphs' cells blank.
    paint(p, "[pen off fill-pen blue circle 4x2 1]");
    EXPECT_EQ(p.screen.row(5)[14].bg, colour::palette(21));
    EXPECT_EQ(p.screen.row(5)[14].code, 0u);
    EXPECT_EQ(p.screen.row(5)[16].bg, colour::palette(21));
    EXPECT_EQ(p.screen.row(5)[17].bg, colour::default_);
}

TEST(Draw, HugeShapesCostNoMoreThanTheFace) {
    // Fills that cover the face from far away fill exactly its cells, without overflowing or
    // walking the whole outline.
    for (const char* block :
         {"[pen off fill-pen 255.0.0 triangle -2000000000x-2000000000 2000000000x0 "
          "-2000000000x2000000000]",
          "[pen off fill-pen 255.0.0 box -2000000000x-2000000000 2000000000x2000000000]",
          "[pen off fill-pen 255.0.0 circle 4x2 1000]",
          "[pen off fill-pen 255.0.0 ellipse -1000x-1000 2000x2000]"}) {
        painted p;
        paint(p, block);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 30; ++x) {
                bool in_face = x >= 10 && x < 20 && y >= 3 && y < 8;
                EXPECT_EQ(p.screen.row(y)[x].bg, in_face ? colour::palette(196) : 0u)
                    << block << " at " << x << "," << y;
            }
    }
    // A line across the whole coordinate range, and radii too large to walk.
    painted p;
    paint(p, "[line -2000000000x2 2000000000x2 circle 0x0 1000000000 "
             "ellipse 0x0 2000000000x2000000000]");
    EXPECT_EQ(utf8(around(p)[3]), "..██████████..");
    EXPECT_EQ(utf8(around(p)[1]), "..............");
    // A clip below the buffer's last row paints nothing.
    cell block = block_from("[fill-pen 255.0.0 circle 0x0 100 box 0x0 5x5 text 0x0 \"x\"]");
    p.screen.clear();
    draw::run(block, {&p.screen, 0, 50, {0, 50, 30, 60}, 0});
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 30; ++x) EXPECT_EQ(p.screen.row(y)[x].bg, 0u);
}

u32 error_of(const std::string& code);

TEST(Draw, AFaceAsTextIsPaintedWithoutAWidgetOfItsOwn) {
    // A timed, focusable face that was never shown: painting it registers nothing, so no timer
    // runs for it and no focus or loop level can reach it.
    libtest::run("draw-test-face: make face! [type: 'base size: 6x1 text: \"face\" rate: 10 "
                 "flags: 'focusable]");
    int widgets_before = widgets::live_count();
    std::size_t timers_before = program_backend().timers.size();
    painted p;
    paint(p, "compose [text 1x1 (draw-test-face)]");
    EXPECT_EQ(utf8(around(p)[2]), "....face......"); // centred in its 6 cells, as a base is
    EXPECT_EQ(widgets::live_count(), widgets_before);
    EXPECT_EQ(program_backend().timers.size(), timers_before);
    // A face drawing itself as its own text is refused, not followed down the stack.
    libtest::run("draw-test-face/draw: compose [text 0x0 (draw-test-face)]");
    EXPECT_EQ(error_of("compose [text 0x0 (draw-test-face)]"),
              err::E("script", "draw-infinite").code());
}

u32 error_of(const std::string& code) {
    cell block = block_from(code);
    screen_buffer screen;
    screen.size_to(30, 10);
    screen.clear();
    try {
        draw::run(block, {&screen, 10, 3, {10, 3, 20, 8}, 0});
    } catch (const unwind&) {
        return error::last_code();
    }
    return 0;
}

TEST(Draw, ArgumentsAreChecked) {
    const u32 invalid = err::E("script", "draw-invalid").code();
    const u32 infinite = err::E("script", "draw-infinite").code();
    struct {
        const char* block;
        u32 code;
    } cases[] = {
        {"[box 0x0]", invalid},
        {"[box 0x0 \"2x2\"]", invalid},
        {"[pen \"red\"]", invalid},
        {"[fill-pen linear]", invalid},
        {"[wobble 1x1]", invalid},
        {"[1 box 0x0 1x1]", invalid},
        {"[line 0x0]", invalid},
        {"[triangle 0x0 1x1]", invalid},
        {"[circle 0x0]", invalid},
        {"[ellipse 0x0 1]", invalid},
        {"[font 1]", invalid},
        {"[text \"a\"]", invalid},
        {"[text 0x0 1]", invalid},
        {"[line-join wobbly]", invalid},
        {"[matrix [1 2 3]]", invalid},
        {"[shape [move 0x0 wiggle]]", invalid},
        {"[push 1]", invalid},
        {"[polygon 0x0 1x1]", invalid},
        {"[rotate 30 [box 0x0]]", invalid},
        // The commands that change nothing in cells still read their arguments.
        {"compose [line-width 2 line-join round line-cap flat line-pattern 1 2 anti-alias off "
         "arc 5x5 2x2 0 90 closed curve 0x0 1x1 2x2 spline 0x0 1x1 closed "
         "image (make image! 2x2) 0x0 2x2 border crop 0x0 1x1 shadow 1x1 2 3 0.0.0 inset "
         "clip 0x0 5x5 intersect [box 0x0 1x1] shape [move 0x0 'line 1x1 arc 2x2 1 1 0 sweep "
         "large hline 2 vline 2 close] scale 2 2 translate 1x1 skew 2 transform 30 0x0 1 1 0x0 "
         "matrix [1 0 0 1 0 0] reset-matrix invert-matrix pen linear red 0 blue 1 pad "
         "fill-pen pattern 2x2 [box 0x0 1x1] pen bitmap (make image! 2x2) tile a: box 0x0 1x1]",
         0},
        {"b: copy [push] append/only b b", infinite},
        {"b: copy [rotate 30] append/only b b", infinite},
        // A cycle through another block meets the depth limit.
        {"a: copy [push] b: copy [push] append/only a b append/only b a", infinite},
    };
    for (const auto& c : cases) EXPECT_EQ(error_of(c.block), c.code) << c.block;
}

TEST(Draw, AnErrorNamesTheCommandsPosition) {
    auto o = libtest::run("try [system/view/platform/draw-image make image! 2x2 [box 0x0 1x1 "
                          "circle 0x0]]");
    EXPECT_NE(o.molded.find("circle 0x0"), std::string::npos) << o.molded;
    // A drawing on an empty image checks nothing; on another image the pixels stay.
    EXPECT_TRUE(libtest::gives("system/view/platform/draw-image make image! 0x2 [wobble]", "none"));
    EXPECT_TRUE(libtest::gives(
        "i: make image! 2x1 system/view/platform/draw-image i [fill-pen red box 0x0 1x1] i/1",
        "255.255.255.0"));
}

} // namespace
} // namespace zel::tui
