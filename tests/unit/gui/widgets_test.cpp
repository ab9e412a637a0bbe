// Widget records at a fake terminal and clock: stale handles, widgets destroyed while an event is
// being posted, mouse tracking through the paced loop (the double-click edges), painting into the
// screen buffer, and the limit of the registry.
#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "gui/terminal/event_loop.hpp"
#include "gui/terminal/widgets.hpp"
#include "tests/unit/gui/fake_clock.hpp"
#include "runtime/process.hpp"
#include "tests/unit/library/library_fixture.hpp"

namespace zel::tui {
namespace {

using libtest::gives;

using testing::fake_clock;

// Each wait of the loop lasts its whole timeout and brings the next input of the script (an
// empty one: nothing this pass). When the script is over the loop is interrupted.
class scripted_port final : public terminal::port {
  public:
    explicit scripted_port(fake_clock& c) : clock_(c) {}
    std::deque<std::string> passes;

    long read(u8* buffer, std::size_t n, int timeout_ms) override {
        if (timeout_ms <= 0) return 0;
        clock_.now += timeout_ms;
        if (passes.empty()) {
            runtime::interrupt_requested = 1;
            return 0;
        }
        std::string bytes = passes.front();
        passes.pop_front();
        std::size_t k = std::min(n, bytes.size());
        std::copy_n(bytes.data(), k, buffer);
        return static_cast<long>(k);
    }
    void write(std::string_view) override {}
    std::optional<terminal::screen_size> measure() override {
        return terminal::screen_size{40, 12};
    }
    bool input_is_terminal() override { return true; }
    bool output_is_terminal() override { return false; }
    void enter_raw_mode() override {}
    void leave_raw_mode() override {}
    bool take_resize() override { return false; }

  private:
    fake_clock& clock_;
};

std::string click_at(int column, int row) {
    std::string at = std::to_string(column + 1) + ";" + std::to_string(row + 1);
    return "\x1b[<0;" + at + "M\x1b[<0;" + at + "m";
}

struct widgets_fixture : ::testing::Test {
    fake_clock clk;
    scripted_port port{clk};
    backend b{port, clk};

    void SetUp() override {
        ASSERT_TRUE(gives("unless system/view/screens [system/view/platform/init] ()", "unset"));
        widgets::attach(b);
    }
    void TearDown() override {
        // Whatever a test left shown goes, as at the end of the outermost loop.
        b.on_teardown();
        ASSERT_TRUE(gives("clear system/view/screens/1/pane ()", "unset"));
        widgets::attach(program_backend());
    }
    // Runs the loop over the passes given, until they are used up.
    void run(std::deque<std::string> passes) {
        port.passes = std::move(passes);
        b.do_events(false);
    }
    // Paints the current window into the screen buffer, as a frame does.
    void paint() {
        frame_state f;
        b.paint(b.screen, f);
    }
    const screen_cell& at(int x, int y) { return b.screen.row(y)[x]; }
    std::string row_text(int y) {
        std::string s;
        for (int x = 0; x < b.screen.width(); ++x) {
            u32 c = at(x, y).code;
            s += c ? static_cast<char>(c) : ' ';
        }
        return s;
    }
};

// A window with a face C at 2x1 (3x1) that logs its clicks, double clicks and focus.
constexpr const char* clicker =
    "log: copy [] "
    "c: make face! [type: 'base offset: 2x1 size: 3x1 text: \"C\" flags: 'focusable "
    "  actors: object [on-click: func [f e] [append log 'click] "
    "    on-dbl-click: func [f e] [append log 'dbl-click] on-focus: func [f e] [append log "
    "'focus]]] "
    "win: make face! [type: 'window size: 20x4 offset: 0x0 pane: reduce [c]] show win ()";

TEST_F(widgets_fixture, SecondClickWithin15PassesIsADoubleClick) {
    // The click counter grows by 33 a pass after a click: the second click released 15 passes
    // after the first sees 495, after 16 passes 528. The face, the window's first focusable one,
    // hears of its focus when the window shows.
    struct row {
        std::deque<std::string> passes;
        const char* log;
    };
    auto after = [](int passes) {
        std::deque<std::string> p{click_at(3, 1)};
        for (int i = 1; i < passes; ++i) p.push_back("");
        p.push_back(click_at(3, 1));
        return p;
    };
    const row rows[] = {
        {after(15), "[focus click click dbl-click]"},
        {after(16), "[focus click click]"},
        // A double click ends the run: the third click is a single one again.
        {{click_at(3, 1), "", click_at(3, 1), "", click_at(3, 1)},
         "[focus click click dbl-click click]"},
        // Two clicks on different faces are never a double click.
        {{click_at(3, 1), click_at(10, 2), click_at(3, 1)}, "[focus click click]"},
    };
    for (const row& r : rows) {
        ASSERT_TRUE(gives(clicker, "unset"));
        run(r.passes);
        EXPECT_TRUE(gives("log", r.log));
        EXPECT_EQ(widgets::live_count(), 0) << "the end of the loop frees every widget";
        EXPECT_TRUE(gives("reduce [win/state c/state]", "[none none]"));
    }
}

TEST_F(widgets_fixture, MotionTellsHoverChangesAndDraggedFacesFollow) {
    ASSERT_TRUE(gives(
        "log: copy [] "
        "mk: func [name off] [make face! [type: 'base offset: off size: 3x1 text: name "
        "  actors: object [on-over: func [f e] [append log reduce [f/text e/offset e/away?]] "
        "    on-down: func [f e] [append log reduce [f/text 'down]]]]] "
        "a: mk \"a\" 1x1 b: mk \"b\" 6x1 "
        "win: make face! [type: 'window size: 20x4 offset: 0x0 pane: reduce [a b]] show win ()",
        "unset"));
    // Over a, over b (a told it is left), press on b, leave b while pressed: b is told; b asks
    // for every motion (all-over) and so follows the pointer afterwards.
    ASSERT_TRUE(gives("b/flags: 'all-over ()", "unset"));
    run({"\x1b[<35;3;2M", "\x1b[<35;8;2M", "\x1b[<0;8;2M", "\x1b[<32;13;3M",
         "\x1b[<0;13;3m"});
    EXPECT_TRUE(gives("log", R"(["a" 1x0 false "a" 1x0 true "b" 1x0 false "b" down "b" 1x0 true )"
                             R"("b" 6x1 false])"));
}

TEST_F(widgets_fixture, AWidgetDestroyedDuringItsClickIsNeverUsedAgain) {
    // The click's actor closes the window and shows another whose focusable face could take the
    // slot of the clicked one: the focus the click would give must not land on it (the new
    // window's first focusable face, e, holds its focus).
    ASSERT_TRUE(gives(
        "log: copy [] "
        "c: make face! [type: 'base offset: 2x1 size: 3x1 flags: 'focusable "
        "  actors: object [on-click: func [f e] [append log 'click unview show win2]]] "
        "win: make face! [type: 'window size: 20x4 offset: 0x0 pane: reduce [c]] show win "
        "d: make face! [type: 'base offset: 2x1 size: 3x1 flags: 'focusable "
        "  actors: object [on-focus: func [f e] [append log 'd-focus]]] "
        "e: make face! [type: 'base offset: 8x1 size: 3x1 flags: 'focusable] "
        "win2: make face! [type: 'window size: 20x4 offset: 0x0 pane: reduce [e d]] ()",
        "unset"));
    run({click_at(3, 1)});
    EXPECT_TRUE(gives("log", "[click]"));
}

TEST_F(widgets_fixture, StaleHandlesNameNothing) {
    ASSERT_TRUE(gives("f: make face! [type: 'base size: 2x1] "
                      "win: make face! [type: 'window size: 10x2 pane: reduce [f]] show win "
                      "old: f/state  h1: form old/1 "
                      "reduce [system/view/platform/update-view f  TUI-helpers/widget-data f]",
                      "[none 0]"));
    // Unview: the faces name no widget any more, and their slots are taken by new widgets.
    ASSERT_TRUE(gives("unview/only win reduce [win/state f/state]", "[none none]"));
    ASSERT_TRUE(gives("show win  h2: form f/state/1  set-quiet in f 'state old "
                      "reduce [TUI-helpers/widget-data f  TUI-helpers/focused? f]",
                      "[none false]"));
    auto h1 = libtest::run("h1"), h2 = libtest::run("h2");
    auto value = [](const std::string& molded) {
        return std::stoul(molded.substr(1, molded.size() - 3), nullptr, 16);
    };
    EXPECT_EQ(value(h1.molded) & 0xFFFF, value(h2.molded) & 0xFFFF) << "the slot is reused";
    EXPECT_NE(value(h1.molded) >> 16, value(h2.molded) >> 16) << "with a new generation";
}

TEST_F(widgets_fixture, RemovingFromATextListsDataKeepsItsSelectionInRange) {
    // The list is shown, so a change to its data would reach the platform by itself: the
    // calls below stand for changes that left two entries behind a selection of 4.
    ASSERT_TRUE(gives("l: make face! [type: 'text-list size: 5x3 data: [\"a\" \"b\"] "
                      "  selected: 4] "
                      "win: make face! [type: 'window size: 10x4 pane: reduce [l]] show win ()",
                      "unset"));
    libtest::check_all({
        {"system/view/platform/on-change-facet l 'data l/data 'clear none 0 0 l/selected", "2"},
        {"system/view/platform/on-change-facet l 'data l/data 'remove none 2 2 l/selected", "0"},
        {"TUI-helpers/widget-data l", "0"},
    });
}

TEST_F(widgets_fixture, RatesGiveTimerIntervals) {
    ASSERT_TRUE(gives("ticks: 0 "
                      "t: make face! [type: 'base size: 1x1 rate: 0:0:0.5 "
                      "  actors: object [on-time: func [f e] [ticks: ticks + 1]]] "
                      "win: make face! [type: 'window size: 10x2 pane: reduce [t]] show win ()",
                      "unset"));
    // 16 passes of 33 ms: 528 ms, one tick of a 500 ms rate.
    run(std::deque<std::string>(16, ""));
    EXPECT_TRUE(gives("ticks", "1"));
    libtest::check_all({
        {"f: make face! [type: 'base rate: 0] "
         "error? try [show make face! [type: 'window size: 2x2 pane: reduce [f]]]",
         "true"},
        {"f: make face! [type: 'base rate: 'fast] "
         "e: try [show make face! [type: 'window size: 2x2 pane: reduce [f]]] e/id",
         "invalid-facet-type"},
    });
}

TEST_F(widgets_fixture, PaintingClipsToEveryAncestorAndSkipsHiddenFaces) {
    ASSERT_TRUE(gives(
        "inner: make face! [type: 'panel offset: 1x0 size: 30x1 "
        "  pane: reduce [make face! [type: 'text offset: 0x0 size: 30x1 text: \"XXXXXXXXXX\"]]] "
        "p: make face! [type: 'panel offset: 2x1 size: 5x3 pane: reduce [inner "
        "  make face! [type: 'text offset: 0x2 size: 9x1 text: \"abcdefghi\"]]] "
        "h: make face! [type: 'text offset: 10x1 size: 4x1 text: \"hide\" visible?: false "
        "  pane: reduce [make face! [type: 'text size: 2x1 text: \"in\"]]] "
        "d: make face! [type: 'text offset: 10x2 size: 3x1 text: \"dim\" enabled?: false] "
        "c: make face! [type: 'text offset: 14x0 size: 10x1 text: \"ab\" "
        "  para: make para! [align: 'center]] "
        "r: make face! [type: 'text offset: 14x1 size: 10x2 text: \"ab\" "
        "  para: make para! [align: 'right v-align: 'bottom]] "
        "win: make face! [type: 'window text: \"title\" size: 24x4 pane: reduce [p h d c r]] "
        "show win ()",
        "unset"));
    paint();
    ASSERT_EQ(b.screen.width(), 24);
    EXPECT_EQ(row_text(0), "                  ab    ") << "centred, and no window title";
    EXPECT_EQ(row_text(1), "   XXXX                 ") << "cut to the grandparent";
    EXPECT_EQ(row_text(2), "          dim         ab") << "hidden faces and what they hold";
    EXPECT_EQ(row_text(3), "  abcde                 ") << "cut to the parent";
    EXPECT_EQ(at(10, 2).flags & attr::dim, attr::dim);
    EXPECT_EQ(at(18, 0).flags & attr::dim, 0u);
    ASSERT_TRUE(gives("unview/only win ()", "unset"));
}

TEST_F(widgets_fixture, TheScreenBufferSpansTheWindowAndTheChildrenMadeInIt) {
    // A window of 10x2 whose children reach past its right and bottom edges: the frame grows to
    // hold them, up to the terminal's 40x12, and they are not cut to the window. A face deeper
    // down adds nothing and is cut to its parent.
    ASSERT_TRUE(gives(
        "low: make face! [type: 'text offset: 0x3 size: 4x1 text: \"low\"] "
        "wide: make face! [type: 'text offset: 8x0 size: 6x1 text: \"widest\"] "
        "deep: make face! [type: 'panel offset: 0x1 size: 2x1 pane: reduce [make face! [ "
        "  type: 'text offset: 0x0 size: 30x5 text: \"cut\"]]] "
        "win: make face! [type: 'window size: 10x2 pane: reduce [low wide deep]] show win ()",
        "unset"));
    paint();
    ASSERT_EQ(b.screen.width(), 14);
    ASSERT_EQ(b.screen.height(), 4);
    EXPECT_EQ(row_text(0), "        widest");
    EXPECT_EQ(row_text(1), "cu            ");
    EXPECT_EQ(row_text(3), "low           ");
    // A child appended later widens it too; past the terminal the frame stops at its edge.
    ASSERT_TRUE(gives("append win/pane make face! [type: 'text offset: 30x5 size: 20x1 "
                      "  text: \"0123456789abcdefghij\"] ()",
                      "unset"));
    paint();
    ASSERT_EQ(b.screen.width(), 40);
    ASSERT_EQ(b.screen.height(), 6);
    EXPECT_EQ(row_text(5), std::string(30, ' ') + "0123456789");
    // A new size of the window starts its content box afresh from the window's own box.
    ASSERT_TRUE(gives("win/size: 12x3 ()", "unset"));
    paint();
    EXPECT_EQ(b.screen.width(), 12);
    EXPECT_EQ(b.screen.height(), 3);
    ASSERT_TRUE(gives("unview/only win ()", "unset"));
}

TEST_F(widgets_fixture, AFontChangeRepaintsTheFacesThatUseIt) {
    ASSERT_TRUE(gives("fnt: make font! [color: 255.0.0] "
                      "win: make face! [type: 'window size: 6x2 pane: reduce [ "
                      "  make face! [type: 'text size: 3x1 text: \"abc\" font: fnt] "
                      "  make face! [type: 'text offset: 0x1 size: 3x1 text: \"def\" font: fnt]]] "
                      "show win ()",
                      "unset"));
    paint();
    b.frame.dirty = false;
    ASSERT_TRUE(gives("fnt/color: 0.0.255 ()", "unset"));
    EXPECT_TRUE(b.frame.dirty) << "the faces using the font asked for a repaint";
    paint();
    EXPECT_EQ(at(0, 0).fg, colour::from_rgba(0, 0, 255, 0));
    EXPECT_EQ(at(2, 1).fg, colour::from_rgba(0, 0, 255, 0));
    ASSERT_TRUE(gives("unview/only win ()", "unset"));
}

TEST_F(widgets_fixture, TheRegistryHoldsAtMost65536Widgets) {
    ASSERT_TRUE(gives("f: make face! [type: 'base] h: system/view/platform/make-null-handle "
                      "e: try [loop 65537 [system/view/platform/make-view f h]] e/id",
                      "no-memory"));
    EXPECT_EQ(widgets::live_count(), 65536);
}

} // namespace
} // namespace zel::tui
