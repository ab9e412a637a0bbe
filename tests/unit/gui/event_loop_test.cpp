// The paced loop with a fake clock and terminal: pacing, timers, halts, and the terminal given
// back on every way out.
#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>

#include "gui/terminal/event_loop.hpp"
#include "tests/unit/gui/fake_clock.hpp"
#include "runtime/process.hpp"

namespace zel::tui {
namespace {

using testing::fake_clock;

class fake_port final : public terminal::port {
  public:
    explicit fake_port(fake_clock& c) : clock_(c) {}
    bool terminal = true;
    std::deque<std::string> arriving; // bytes that arrive during the next wait, one per wait
    std::vector<int> timeouts;        // every read's timeout
    std::string output;
    int raw = 0, raw_entries = 0;

    long read(u8* buffer, std::size_t n, int timeout_ms) override {
        timeouts.push_back(timeout_ms);
        if (timeout_ms <= 0 || arriving.empty()) {
            clock_.sleep_ms(timeout_ms);
            return 0;
        }
        std::string bytes = arriving.front();
        arriving.pop_front();
        std::size_t k = std::min(n, bytes.size());
        std::copy_n(bytes.data(), k, buffer);
        return static_cast<long>(k);
    }
    void write(std::string_view bytes) override { output += bytes; }
    std::optional<terminal::screen_size> measure() override {
        return terminal::screen_size{100, 30};
    }
    bool input_is_terminal() override { return terminal; }
    bool output_is_terminal() override { return terminal; }
    void enter_raw_mode() override {
        ++raw;
        ++raw_entries;
    }
    void leave_raw_mode() override { --raw; }
    bool take_resize() override { return false; }

  private:
    fake_clock& clock_;
};

const std::string mouse_on = "\x1b[?1000h\x1b[?1003h\x1b[?1015h\x1b[?1006h";
const std::string mouse_off = "\x1b[?1000l\x1b[?1003l\x1b[?1015l\x1b[?1006l";

struct loop_fixture : ::testing::Test {
    fake_clock clk;
    fake_port port{clk};
    backend b{port, clk};
};

TEST_F(loop_fixture, NoWaitWithoutInputReturnsAtOnce) {
    int fired = 0;
    b.timers.add(1, 1);
    b.on_timer = [&](u32) { ++fired; };
    EXPECT_FALSE(b.do_events(true));
    EXPECT_EQ(fired, 0);
    EXPECT_EQ(port.output, "");
    EXPECT_EQ(port.raw_entries, 0);
    EXPECT_EQ(port.timeouts, std::vector<int>{0});
}

TEST_F(loop_fixture, PassesWaitForWhatIsLeftOf33ms) {
    // A slow pass (50 ms) is followed by no wait, and the timers advance by the time measured.
    int passes = 0, slow_timer = 0;
    b.timers.add(1, 1);  // fires every pass
    b.timers.add(2, 83); // due after 33 + 50 ms
    b.on_timer = [&](u32 w) {
        if (w == 2) {
            ++slow_timer;
            b.post_quit();
            return;
        }
        if (++passes == 1) clk.now += 50;
    };
    b.do_events(false);
    EXPECT_EQ(slow_timer, 1);
    EXPECT_EQ(passes, 2);
    // (The last read discards what is left when the loop ends.)
    EXPECT_EQ(port.timeouts, (std::vector<int>{0, 33, 0, 0}));
}

TEST_F(loop_fixture, InputCutsTheWaitShortAndCountsForWhatItLasted) {
    int fired = 0;
    port.arriving = {"x", "y"}; // each wait ends at once with a key
    b.timers.add(1, 33);
    b.on_timer = [&](u32) { ++fired; };
    std::string keys;
    b.on_input = [&](const input_item& i) {
        keys += static_cast<char>(i.code);
        if (keys.size() == 2) b.post_quit();
    };
    b.do_events(false);
    EXPECT_EQ(keys, "xy");
    EXPECT_EQ(fired, 0) << "no time passed, so no 33 ms tick";
}

TEST_F(loop_fixture, RatesAndTimerSnapshots) {
    EXPECT_EQ(interval_of_rate(3), 333);
    EXPECT_EQ(interval_of_rate(0), 0);
    EXPECT_EQ(interval_of_seconds(0.5), 500);
    timer_list t;
    t.add(1, 10);
    t.add(2, 10);
    t.add(3, 10);
    std::vector<u32> fired;
    // The first timer's handler removes the second and adds a fourth: the removed one does not
    // fire, the new one waits for the next tick.
    t.tick(10, [&](u32 w) {
        fired.push_back(w);
        if (w == 1) {
            t.remove(2);
            t.add(4, 10);
        }
    });
    EXPECT_EQ(fired, (std::vector<u32>{1, 3}));
    fired.clear();
    t.tick(10, [&](u32 w) { fired.push_back(w); });
    EXPECT_EQ(fired, (std::vector<u32>{1, 3, 4}));
}

TEST_F(loop_fixture, TerminalModesAndTheirRestoreOnEveryWayOut) {
    struct {
        const char* how;
        std::function<void(backend&)> end;
        bool throws;
    } ways[] = {
        {"exit-event-loop", [](backend& x) { x.post_quit(); }, false},
        {"halt", [](backend&) { runtime::interrupt_requested = 1; }, false},
        {"error in a handler", [](backend&) { throw std::runtime_error("boom"); }, true},
    };
    for (const auto& w : ways) {
        fake_clock c;
        fake_port p{c};
        backend x{p, c};
        x.timers.add(1, 1);
        x.on_timer = [&](u32) { w.end(x); };
        if (w.throws)
            EXPECT_THROW(x.do_events(false), std::runtime_error);
        else
            x.do_events(false);
        EXPECT_EQ(p.raw, 0) << w.how;
        EXPECT_EQ(p.raw_entries, 1) << w.how;
        EXPECT_EQ(p.output, mouse_on + "\x1b[6n" + mouse_off) << w.how;
        EXPECT_EQ(x.depth(), 0) << w.how;
        EXPECT_FALSE(runtime::interrupt_requested) << w.how;
    }
}

TEST_F(loop_fixture, NestedLoopsStopAtTheirOwnDepthAndRestoreNothing) {
    int level = 0;
    b.timers.add(1, 1);
    b.on_timer = [&](u32) {
        if (++level == 1) {
            b.do_events(false); // a modal window's loop
            EXPECT_EQ(port.raw, 1) << "the nested loop gave nothing back";
            EXPECT_EQ(port.output, mouse_on + "\x1b[6n");
        } else {
            // Two levels end: the depth falls below the nested loop's start, which stops it
            // all the same, and the outer loop ends after its pass.
            b.post_quit();
            b.post_quit();
        }
    };
    b.do_events(false);
    EXPECT_EQ(port.raw, 0);
    EXPECT_EQ(b.depth(), 0);
}

TEST_F(loop_fixture, WithoutATerminalNoModesChange) {
    port.terminal = false;
    b.timers.add(1, 1);
    b.on_timer = [&](u32) { b.post_quit(); };
    b.do_events(false);
    EXPECT_EQ(port.raw_entries, 0);
    EXPECT_EQ(port.output, "") << "no cursor request, no mouse modes";
    EXPECT_EQ(clk.now, 1000 + 33) << "the loop still paces";
}

TEST_F(loop_fixture, PrintingLiftsTheUiAndRepaintsAfter) {
    b.timers.add(1, 1);
    b.on_timer = [&](u32) {
        b.frame.written = true;
        b.frame.cursor_row = 2;
        port.output.clear();
        b.console_suspend();
        EXPECT_EQ(port.output, "\r\x1b[2A\x1b[0J");
        b.console_resume();
        EXPECT_TRUE(b.frame.dirty);
        EXPECT_EQ(port.output, "\r\x1b[2A\x1b[0J\x1b[6n");
        b.frame.dirty = false;
        b.post_quit();
    };
    b.do_events(false);
}

} // namespace
} // namespace zel::tui
