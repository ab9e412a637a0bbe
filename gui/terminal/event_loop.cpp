// The paced loop, its timers and the terminal modes it owns.
#include "gui/terminal/event_loop.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "runtime/process.hpp"

namespace zel::tui {

namespace {

constexpr int pass_ms = 33;
constexpr int click_counter_cap = 800;
constexpr const char* mouse_modes_on = "\x1b[?1000h\x1b[?1003h\x1b[?1015h\x1b[?1006h";
constexpr const char* mouse_modes_off = "\x1b[?1000l\x1b[?1003l\x1b[?1015l\x1b[?1006l";

class steady_clock final : public clock {
  public:
    i64 now_ms() override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    void sleep_ms(int ms) override {
        if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

} // namespace

clock& system_clock() {
    static steady_clock c;
    return c;
}

void timer_list::add(u32 widget, int interval_ms) {
    timers_.push_back({widget, interval_ms});
    ids_.push_back(++serial_);
}

void timer_list::remove(u32 widget) {
    for (std::size_t i = timers_.size(); i-- > 0;) {
        if (timers_[i].widget == widget) {
            timers_.erase(timers_.begin() + static_cast<std::ptrdiff_t>(i));
            ids_.erase(ids_.begin() + static_cast<std::ptrdiff_t>(i));
            return;
        }
    }
}

void timer_list::tick(int dt_ms, const std::function<void(u32)>& fire) {
    std::vector<u64> snapshot = ids_;
    for (u64 id : snapshot) {
        // Found again by identity: a handler may have changed the list.
        auto it = std::find(ids_.begin(), ids_.end(), id);
        if (it == ids_.end()) continue;
        timer& t = timers_[static_cast<std::size_t>(it - ids_.begin())];
        t.elapsed_ms += dt_ms;
        if (t.done || t.elapsed_ms < t.interval_ms) continue;
        t.elapsed_ms = 0;
        t.done = t.one_shot;
        u32 widget = t.widget;
        if (fire) fire(widget);
    }
}

int interval_of_rate(i64 per_second) {
    return per_second > 0 ? static_cast<int>(1000 / per_second) : 0;
}

int interval_of_seconds(double seconds) {
    return seconds > 0 ? static_cast<int>(seconds * 1000) : 0;
}

terminal::screen_size backend::size() {
    auto s = port_.measure();
    if (!s || s->columns < 1 || s->rows < 1) return {80, 24};
    return *s;
}

void backend::write(const std::string& bytes) {
    if (!bytes.empty()) port_.write(bytes);
}

void backend::update_restore_bytes() {
    std::string bytes;
    if (mouse_on_) bytes += mouse_modes_off;
    if (frame.alternate) bytes += "\x1b[?1049l";
    if (frame.cursor_hidden) bytes += "\x1b[?25h";
    terminal::set_restore_bytes(bytes.empty() ? -1 : port_.restore_descriptor(), bytes);
}

void backend::set_mouse(bool on) {
    mouse_on_ = on;
    write(on ? mouse_modes_on : mouse_modes_off);
    update_restore_bytes();
}

void backend::enter_terminal() {
    owner_ = true;
    bool tty = port_.output_is_terminal();
    if (!raw_ && port_.input_is_terminal()) {
        port_.enter_raw_mode();
        raw_ = true;
        terminal::screen_size s = size();
        if (on_resize) on_resize(s.columns, s.rows);
    }
    if (tty && frame.full_screen && !frame.alternate) {
        write("\x1b[?1049h\x1b[2J");
        frame.alternate = true;
    }
    if (tty && mouse_wanted != mouse_on_) set_mouse(mouse_wanted);
    update_restore_bytes();
    // Only a terminal at both ends answers; elsewhere the answer would land in the user's shell.
    if (tty && !frame.full_screen) write("\x1b[6n");
}

void backend::discard_input() {
    if (!port_.input_is_terminal()) return;
    u8 buffer[256];
    for (int i = 0; i < 64 && port_.read(buffer, sizeof buffer, 0) > 0; ++i) {
    }
    pending_.clear();
    decoder_.reset();
}

void backend::leave_terminal() {
    write(leave_bytes(frame));
    if (mouse_on_) set_mouse(false);
    if (frame.alternate) write("\x1b[?1049l");
    if (frame.cursor_hidden) write("\x1b[?25h");
    if (raw_) {
        // A position report still on its way would land at the shell's prompt.
        if (awaiting_report_ && port_.input_is_terminal()) {
            u8 buffer[64];
            port_.read(buffer, sizeof buffer, 150);
        }
        port_.leave_raw_mode();
        raw_ = false;
    }
    awaiting_report_ = false;
    discard_input();
    if (on_teardown) on_teardown();
    frame = frame_state{};
    screen.release();
    timers.clear();
    click_state = click_counter = 0;
    mouse_on_ = false;
    mouse_.reset();
    owner_ = false;
    update_restore_bytes();
}

bool backend::read_input(int timeout_ms) {
    if (!port_.input_is_terminal()) {
        clock_.sleep_ms(timeout_ms);
        return false;
    }
    u8 buffer[4096];
    long n = port_.read(buffer, sizeof buffer, timeout_ms);
    if (n < 0) {
        clock_.sleep_ms(timeout_ms);
        return false;
    }
    pending_.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
    return n > 0;
}

void backend::decode(std::string_view bytes) {
    if (bytes.empty() && !decoder_.pending()) return; // an idle pass does no work
    std::deque<input_item> items;
    decoder_.pass(bytes, items);
    while (!items.empty()) {
        // Taken off before it is handled: a handler may run a nested loop that resets the
        // decoder.
        input_item item = items.front();
        items.pop_front();
        if (item.kind == input_item::cursor) {
            frame.top_row = item.y;
            awaiting_report_ = false;
        } else if (item.kind == input_item::mouse) {
            mouse_event m;
            if (mouse_.convert(item, frame.top_row, m) && on_mouse) on_mouse(m);
        } else if (on_input) {
            on_input(item);
        }
    }
}

void backend::render() {
    if (frame.full_screen)
        frame.top_row = 0;
    else if (frame.height > 0 && size().rows < frame.top_row + frame.height)
        frame.top_row = size().rows - frame.height;
    if (!frame.dirty) return;
    bool caret = paint ? paint(screen, frame) : false;
    if (!caret && !frame.cursor_hidden) {
        write("\x1b[?25l");
        frame.cursor_hidden = true;
        update_restore_bytes();
    }
    std::fflush(nullptr);
    std::string bytes = frame_bytes(screen, frame, caret);
    frame.dirty = false;
    if (bytes.empty()) return;
    write(bytes);
    frame.written = true;
    if (caret && frame.cursor_hidden) {
        write("\x1b[?25h");
        frame.cursor_hidden = false;
        update_restore_bytes();
    }
    std::fflush(nullptr);
}

bool backend::do_events(bool no_wait) {
    int saved = depth_;
    if (!no_wait) ++depth_;
    bool took = !no_wait && !owner_;
    if (!no_wait && owner_) {
        pending_.clear();
        decoder_.reset();
    }
    // Gives the terminal back on every way out, an error or a halt included.
    struct guard {
        backend& b;
        int saved;
        bool took;
        ~guard() {
            b.depth_ = std::min(b.depth_, saved);
            if (took) b.leave_terminal();
        }
    } g{*this, saved, took};
    if (took) {
        enter_terminal();
        last_tick_ = clock_.now_ms();
    }
    if (last_tick_ == 0) last_tick_ = clock_.now_ms();
    int elapsed = 0;
    bool got = false;
    for (;;) {
        got = read_input(0);
        if (no_wait && !got) break;
        if (elapsed <= pass_ms && read_input(pass_ms - elapsed)) got = true;
        i64 start = clock_.now_ms();
        // Time as measured: a wait cut short by input counts for what it lasted.
        int dt = static_cast<int>(std::max<i64>(0, start - last_tick_));
        last_tick_ = start;
        timers.tick(dt, on_timer);
        if (port_.take_resize()) {
            terminal::screen_size s = size();
            if (on_resize) on_resize(s.columns, s.rows);
            if (frame.alternate) {
                frame.dirty = true;
                render();
            }
        }
        render();
        std::string bytes;
        bytes.swap(pending_);
        decode(bytes);
        if (click_state == 2 && click_counter < click_counter_cap)
            click_counter = std::min(click_counter_cap, click_counter + dt);
        if (on_pass_end) on_pass_end();
        elapsed = static_cast<int>(clock_.now_ms() - start);
        if (runtime::interrupt_requested) {
            runtime::interrupt_requested = 0;
            --depth_;
        }
        if (no_wait || depth_ <= saved) break;
    }
    if (!took && !no_wait) discard_input();
    return got;
}

bool backend::pass_for_wait() {
    return raw_ ? do_events(true) : false;
}

void backend::console_suspend() {
    if (!raw_) return;
    write(erase_bytes(frame));
    frame.written = false;
    std::fflush(nullptr);
}

void backend::console_resume() {
    if (!raw_) return;
    frame.dirty = true;
    if (port_.output_is_terminal() && !frame.full_screen) {
        write("\x1b[6n");
        awaiting_report_ = true;
    }
}

backend& program_backend() {
    static terminal::tty_port port(0, 1);
    static backend b(port, system_clock());
    return b;
}

bool process_events_once() {
    return program_backend().pass_for_wait();
}

} // namespace zel::tui
