// Keys from the bytes a terminal sends: UTF-8 characters, control keys and the escape
// sequences of the cursor, editing and function keys (in each of the forms common terminals and
// the Linux console send), mouse reports and cursor-position answers. A lone Escape is told from
// the start of a sequence by a short pause. A sequence split across reads is completed by the
// next bytes fed, whatever the split.
#pragma once
#include <chrono>
#include <deque>
#include <optional>
#include <string>

#include "console/terminal.hpp"
#include "console/utf8_stream.hpp"

namespace zel::vt_input {

// Editor keys: a code point (control keys as their codes), or one of these.
namespace key {
constexpr i32 failed = -1; // the input ended or cannot be read
constexpr i32 nothing = 0; // a key that maps to nothing
constexpr i32 up = -20, down = -21, right = -22, left = -23, end = -24, home = -25, insert = -26,
              delete_ = -27, page_up = -28, page_down = -29;
constexpr i32 tab = 9, enter = 13, escape = 27, backspace = 8, del = 127;
// Not keys: the window size changed; an interrupt (SIGINT) came while waiting.
constexpr i32 resized = -30, interrupted = -31;
} // namespace key

struct event {
    enum kind_t { key, cursor_report, mouse } kind;
    i32 code = 0; // the key; the button word of a mouse report
    int row = 0;  // 1-based position of a cursor report or a mouse report
    int column = 0;
    // Keys the editor does not use come as the key `nothing` with these set.
    int function = 0;      // F1 to F12
    bool back_tab = false; // Shift-Tab
    bool modified = false; // a cursor or editing key with a modifier parameter
    bool release = false;  // a mouse report of a released button
};

// The console reads keys only; the text UI also wants mouse reports, skips terminal strings
// (OSC, DCS) whole, and takes Escape followed by a character (Alt with a key) as one key.
enum class dialect { console, gui };

// Bytes to events. Each complete sequence gives exactly one event, an unknown one the key
// `nothing`, so that none of its bytes is taken for typed text.
class decoder {
  public:
    explicit decoder(dialect d = dialect::console) : dialect_(d) {}
    void feed(u8 byte, std::deque<event>& out);
    // The pause after an unfinished sequence has run out: a lone Escape is the Escape key.
    void flush(std::deque<event>& out);
    bool pending() const { return state_ != state::ground || utf8_.pending(); }

  private:
    enum class state { ground, escape, csi, csi_bracket, ss3, string, string_escape };
    void ground(u8 byte, std::deque<event>& out);
    void control_sequence(u8 final, std::deque<event>& out);
    dialect dialect_;
    state state_ = state::ground;
    std::string params_; // parameter bytes of a control sequence, capped
    bool intermediates_ = false;
    utf8_stream::decoder utf8_;
};

// How long the rest of an escape sequence may take to arrive.
constexpr int escape_timeout_ms = 50;

// Keys from a port. Events decoded ahead (typed-ahead keys, a late cursor report) wait in a
// queue, so asking for the cursor position never loses a key.
class key_reader {
  public:
    explicit key_reader(terminal::port& p) : port_(p) {}
    // The next key; key::failed when the input has ended. Typed keys come first; then, while
    // waiting, key::resized after a change of the window size and key::interrupted once an
    // interrupt is pending.
    i32 read_key();
    // The next key when one has already arrived (it stays to be read); never waits. Lets the
    // editor take a burst of keys, such as pasted text, before it shows the result.
    std::optional<i32> ready_key();
    // Asks the terminal for the cursor position (1-based row and column); nothing when the
    // terminal does not answer in time (it is not asked again then).
    struct position {
        int row, column;
    };
    std::optional<position> query_cursor(int timeout_ms);

  private:
    // Reads one batch of bytes; false when the time ran out or the input ended.
    bool fill(int timeout_ms);
    terminal::port& port_;
    decoder decoder_;
    std::deque<event> events_;
    bool ended_ = false;
    bool answers_ = true;
};

} // namespace zel::vt_input
