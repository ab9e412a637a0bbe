// The terminal as a byte port: reading with a timeout, writing, raw mode, the screen size and the
// window title. Invariant: while a raw_mode guard lives the terminal is raw, and every way out of
// the process (normal exit, interrupt, fault, SIGTERM, SIGHUP) puts the saved mode back, and the
// window title too once the program has set it.
#pragma once
#include <cstddef>
#include <optional>
#include <string_view>

#include "runtime/arena.hpp"

namespace zel::terminal {

struct screen_size {
    int columns;
    int rows;
};

// What the line editor talks to: the real terminal, or a fake one in tests.
class port {
  public:
    virtual ~port() = default;
    // Reads what has arrived, up to n bytes, waiting at most timeout_ms (negative: as long as
    // it takes). Answers the count, 0 when the time ran out or a signal that needs attention (a
    // new window size, an interrupt) broke the wait, -1 at the end of input or on failure.
    virtual long read(u8* buffer, std::size_t n, int timeout_ms) = 0;
    virtual void write(std::string_view bytes) = 0;
    // The size in character cells; nothing when it cannot be measured.
    virtual std::optional<screen_size> measure() = 0;
    // Input comes from a terminal (editing applies); otherwise it is redirected.
    virtual bool input_is_terminal() = 0;
    // Output goes to a terminal that understands and answers control sequences.
    virtual bool output_is_terminal() = 0;
    virtual void enter_raw_mode() = 0;
    virtual void leave_raw_mode() = 0;
    // True once after each change of the window size.
    virtual bool take_resize() = 0;
    // The descriptor that the exit paths write to when they restore the terminal; -1 for none.
    virtual int restore_descriptor() const { return -1; }
};

// Raw mode for the guard's lifetime.
class raw_mode {
  public:
    explicit raw_mode(port& p) : port_(p) { port_.enter_raw_mode(); }
    ~raw_mode() { port_.leave_raw_mode(); }
    raw_mode(const raw_mode&) = delete;
    raw_mode& operator=(const raw_mode&) = delete;

  private:
    port& port_;
};

// Standard input and output (or any pair of descriptors, such as a pseudo-terminal in tests).
// Raw mode keeps output processing, so that a line feed still starts a new row. When the output
// is not a terminal but the input is, writes go to the input's terminal.
class tty_port final : public port {
  public:
    explicit tty_port(int in_fd = 0, int out_fd = 1);
    long read(u8* buffer, std::size_t n, int timeout_ms) override;
    void write(std::string_view bytes) override;
    std::optional<screen_size> measure() override;
    bool input_is_terminal() override;
    bool output_is_terminal() override;
    void enter_raw_mode() override;
    void leave_raw_mode() override;
    bool take_resize() override;
    int restore_descriptor() const override { return out_fd_; }

  private:
    int in_fd_;
    int out_fd_;    // the output given, or the input's terminal when the output is not one
    int depth_ = 0; // nested guards
};

// Sets the window title; does nothing when the output is not a terminal. The title it replaces is
// saved on the terminal's title stack, once until restore() puts it back.
void set_title(port& p, std::string_view title);

// Bytes that put back what a full-screen program changed on the terminal (mouse reporting, the
// alternate screen, a hidden cursor), written to fd by restore(); empty bytes forget them. At
// most 255 bytes are kept.
void set_restore_bytes(int fd, std::string_view bytes);

// Puts back the modes the program changed (the restore bytes), the mode that raw mode saved and
// the title that set_title saved. Safe in a signal
// handler; what is restored once is not restored again.
void restore();

} // namespace zel::terminal
