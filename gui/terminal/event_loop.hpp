// The text UI's event loop: paced passes of about 33 ms that read the terminal, tick the timers,
// render the current window when it is dirty and decode input into events. The loop owns the
// terminal while it runs. Invariant: every way out of the outermost loop (its end, a halt, an
// error or `quit` in a handler, a fault, SIGTERM, SIGHUP) gives the terminal back as it was:
// mouse reporting off, alternate screen left, cursor shown, modes restored.
#pragma once
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "console/terminal.hpp"
#include "gui/terminal/input.hpp"
#include "gui/terminal/screen.hpp"

namespace zel::tui {

// Monotonic milliseconds, and a sleep on them (a fake clock in tests).
class clock {
  public:
    virtual ~clock() = default;
    virtual i64 now_ms() = 0;
    virtual void sleep_ms(int ms) = 0;
};
clock& system_clock();

// One record per timed widget. Records live outside the language heap.
struct timer {
    u32 widget;
    int interval_ms;
    int elapsed_ms = 0;
    bool one_shot = false;
    bool done = false;
};

class timer_list {
  public:
    void add(u32 widget, int interval_ms);
    // Takes out the last record of the widget.
    void remove(u32 widget);
    // Advances every record by dt; fire is called for each that is due. Handlers may add or
    // remove timers meanwhile: the records ticked are those listed when the tick began, and a
    // record removed during the tick is not fired.
    void tick(int dt_ms, const std::function<void(u32 widget)>& fire);
    std::size_t size() const { return timers_.size(); }
    void clear() { timers_.clear(); }

  private:
    std::vector<timer> timers_;
    u64 serial_ = 0;
    std::vector<u64> ids_; // parallel to timers_: identity across a tick
};

// The interval of a rate: an integer r > 0 gives 1000 / r ms. Zero or below answers 0 (the
// caller raises the error).
int interval_of_rate(i64 per_second);
int interval_of_seconds(double seconds);

class backend {
  public:
    backend(terminal::port& port, clock& clk) : port_(port), clock_(clk) {}

    // Runs the loop; true when the last read found input.
    bool do_events(bool no_wait);
    // Ends the innermost running loop after its current pass.
    void post_quit() { --depth_; }
    // One pass for `wait`, when a loop owns the terminal.
    bool pass_for_wait();
    // Print hooks: lift the UI off the screen before the runtime prints; repaint after.
    void console_suspend();
    void console_resume();

    // What the script side sets and the loop reads.
    bool mouse_wanted = true; // the platform's mouse-event?
    int open_windows = 0;

    // Where input and ticks go; the window layer sets these. Without them input is dropped.
    std::function<void(const input_item&)> on_input; // keys
    std::function<void(const mouse_event&)> on_mouse;
    std::function<void(u32 widget)> on_timer;
    std::function<void(int columns, int rows)> on_resize;
    // Paints the current window into the screen buffer; answers whether it shows a caret.
    std::function<bool(screen_buffer&, frame_state&)> paint;
    // Called after each pass, and when the outermost loop gives the terminal back.
    std::function<void()> on_pass_end;
    std::function<void()> on_teardown;

    timer_list timers;
    frame_state frame;
    screen_buffer screen;
    // The click state and counter of mouse tracking (the counter grows with the time passed).
    int click_state = 0;
    int click_counter = 0;

    int depth() const { return depth_; }
    bool raw() const { return raw_; }
    bool mouse_on() const { return mouse_on_; }
    terminal::screen_size size();
    // Renders a frame now when the frame is dirty.
    void render();
    // Answers the bytes of the terminal to the decoder; public for tests.
    void decode(std::string_view bytes);

  private:
    bool read_input(int timeout_ms);
    void enter_terminal();
    void leave_terminal();
    void discard_input();
    void write(const std::string& bytes);
    void update_restore_bytes();
    void set_mouse(bool on);

    terminal::port& port_;
    clock& clock_;
    input_decoder decoder_;
    mouse_reports mouse_;
    std::string pending_; // bytes read and not decoded yet this pass
    int depth_ = 0;
    bool raw_ = false;
    bool mouse_on_ = false;
    bool owner_ = false; // the outermost loop took the terminal
    bool awaiting_report_ = false; // a cursor position was asked for and not answered yet
    i64 last_tick_ = 0;
};

// The backend of the program (the real terminal and clock).
backend& program_backend();
// `wait`'s pass: one pass of the loop when a GUI runs, else nothing.
bool process_events_once();

} // namespace zel::tui
