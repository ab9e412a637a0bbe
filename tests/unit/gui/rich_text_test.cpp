// Rich-text styles applied to cells.
#include <gtest/gtest.h>

#include "evaluator/load_text.hpp"
#include "gui/terminal/rich_text.hpp"
#include "runtime/error_catalog.hpp"
#include "runtime/errors.hpp"
#include "tests/unit/library/library_fixture.hpp"

namespace zel::tui {
namespace {

std::vector<screen_cell> styled(const char* text, const char* styles) {
    libtest::run("none"); // the runtime started
    cell block{};
    EXPECT_TRUE(load_text::spec_from_text(styles, &block));
    std::u32string t;
    for (const char* p = text; *p; ++p) t += static_cast<char32_t>(*p);
    return styled_cells(t, &block, 0, 0);
}

TEST(RichText, StylesApplyToTheirRange) {
    auto c = styled("abcdef", "[2x3 255.0.0 bold backdrop 0.0.255 5x9 underline 0.255.0 'dotted "
                              "italic border \"Mono\" 12 1.5]");
    u32 red = colour::palette(196), blue = colour::palette(21);
    EXPECT_EQ(c[0].fg, 0u);
    EXPECT_EQ(c[0].flags, 0u);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(c[i].fg, red) << i;
        EXPECT_EQ(c[i].bg, blue) << i;
        EXPECT_EQ(c[i].flags, attr::bold) << i;
    }
    // 5x9 is cut to the text; the tuple after underline is its colour, not the range's.
    EXPECT_EQ(c[3].flags & attr::underline, 0u);
    for (int i = 4; i <= 5; ++i) {
        EXPECT_EQ(c[i].flags, attr::underline | attr::italic) << i;
        EXPECT_EQ(c[i].fg, 0u) << i;
    }
}

TEST(RichText, AnUnknownStyleIsADrawError) {
    libtest::run("none");
    cell block{};
    ASSERT_TRUE(load_text::spec_from_text("[1x2 bold #issue]", &block));
    u32 code = 0;
    try {
        styled_cells(U"abc", &block, 0, 0);
    } catch (const unwind&) {
        code = error::last_code();
    }
    EXPECT_EQ(code, err::E("script", "draw-invalid").code());
}

} // namespace
} // namespace zel::tui
