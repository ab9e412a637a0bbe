// The terminal port on POSIX descriptors. The saved mode and title live in plain globals so that
// restoring them, which fault and termination handlers do, needs nothing but tcsetattr and write.
#include "console/terminal.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "console/utf8_stream.hpp"
#include "runtime/process.hpp"

namespace zel::terminal {

namespace {

termios saved_mode;
volatile sig_atomic_t raw_fd = -1;   // the descriptor in raw mode, -1 when none
volatile sig_atomic_t title_fd = -1; // where the saved title is to be put back, -1 when none
volatile sig_atomic_t resized = 0;
// The restore bytes: written only while their length is set, so a handler never sees them half
// made.
char restore_text[256];
volatile sig_atomic_t restore_length = 0;
volatile sig_atomic_t restore_fd = -1;

struct sigaction previous_term, previous_hup;
bool term_handled = false, hup_handled = false;

void restore_saved_mode() {
    int fd = raw_fd;
    if (fd >= 0) tcsetattr(fd, TCSANOW, &saved_mode);
}

void write_all(int fd, std::string_view bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left) {
        ssize_t w = ::write(fd, p, left);
        if (w < 0) {
            if (errno == EINTR) continue;
            return;
        }
        p += w;
        left -= static_cast<std::size_t>(w);
    }
}

void on_resize(int) {
    resized = 1;
}

// Termination: put the terminal back, then let the signal do what it did before.
void on_terminate(int sig) {
    restore();
    sigaction(sig, sig == SIGTERM ? &previous_term : &previous_hup, nullptr);
    raise(sig);
}

void install_resize_handler() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction sa {};
    sa.sa_handler = on_resize;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGWINCH, &sa, nullptr);
}

// Catches sig unless it was ignored (an ignored signal must stay ignored).
bool catch_termination(int sig, struct sigaction* previous) {
    if (sigaction(sig, nullptr, previous) != 0 || previous->sa_handler == SIG_IGN) return false;
    struct sigaction sa {};
    sa.sa_handler = on_terminate;
    sigemptyset(&sa.sa_mask);
    return sigaction(sig, &sa, nullptr) == 0;
}

// Termination is caught while there is something to put back: raw mode, or a saved title.
void hold_termination() {
    if (!term_handled) term_handled = catch_termination(SIGTERM, &previous_term);
    if (!hup_handled) hup_handled = catch_termination(SIGHUP, &previous_hup);
}

void release_termination() {
    raw_fd = -1;
    if (title_fd >= 0 || restore_length > 0) return;
    if (term_handled) sigaction(SIGTERM, &previous_term, nullptr);
    if (hup_handled) sigaction(SIGHUP, &previous_hup, nullptr);
    term_handled = hup_handled = false;
}

// A wait broken by a signal gives up when the signal needs attention.
bool attention_wanted() {
    return resized || runtime::interrupt_requested;
}

} // namespace

// With the output redirected and the keys coming from a terminal, what the port shows (a prompt,
// the echo of the keys, a window) goes to that terminal: in the redirected output it would be
// seen by nobody and would mix keystrokes and cursor moves into the program's own output.
tty_port::tty_port(int in_fd, int out_fd) : in_fd_(in_fd), out_fd_(out_fd) {
    if (isatty(out_fd) == 1 || isatty(in_fd) != 1) return;
    if (const char* name = ttyname(in_fd)) {
        int fd;
        do {
            fd = ::open(name, O_WRONLY | O_NOCTTY | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd >= 0) out_fd_ = fd;
    }
}

long tty_port::read(u8* buffer, std::size_t n, int timeout_ms) {
    for (;;) {
        pollfd pfd{in_fd_, POLLIN, 0};
        int ready = ::poll(&pfd, 1, timeout_ms);
        if (ready < 0) {
            if (errno != EINTR) return -1;
            if (attention_wanted()) return 0;
            continue;
        }
        if (ready == 0) return 0;
        ssize_t got = ::read(in_fd_, buffer, n);
        if (got > 0) return got;
        if (got < 0 && errno == EINTR && attention_wanted()) return 0;
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        return -1;
    }
}

void tty_port::write(std::string_view bytes) {
    // Text printed through stdio must reach the screen before the editor positions the cursor.
    std::fflush(stdout);
    write_all(out_fd_, bytes);
}

std::optional<screen_size> tty_port::measure() {
    winsize ws{};
    if (ioctl(out_fd_, TIOCGWINSZ, &ws) != 0 && ioctl(in_fd_, TIOCGWINSZ, &ws) != 0)
        return std::nullopt;
    if (ws.ws_col == 0) return std::nullopt;
    return screen_size{ws.ws_col, ws.ws_row};
}

bool tty_port::input_is_terminal() {
    return isatty(in_fd_) == 1;
}

bool tty_port::output_is_terminal() {
    return isatty(out_fd_) == 1 && isatty(in_fd_) == 1;
}

void tty_port::enter_raw_mode() {
    if (depth_++ > 0 || !input_is_terminal()) return;
    termios mode;
    if (tcgetattr(in_fd_, &mode) != 0) return;
    saved_mode = mode;
    // Keys arrive one by one, unechoed; Ctrl-C, Ctrl-Z, Ctrl-S and Enter arrive as bytes.
    mode.c_iflag &= ~tcflag_t(BRKINT | ICRNL | INLCR | IGNCR | INPCK | ISTRIP | IXON);
    mode.c_lflag &= ~tcflag_t(ECHO | ICANON | ISIG | IEXTEN);
    mode.c_cflag |= CS8;
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    install_resize_handler();
    raw_fd = in_fd_;
    hold_termination();
    if (tcsetattr(in_fd_, TCSANOW, &mode) != 0) release_termination();
}

void tty_port::leave_raw_mode() {
    if (depth_ == 0 || --depth_ > 0) return;
    if (raw_fd != in_fd_) return;
    tcsetattr(in_fd_, TCSANOW, &saved_mode);
    release_termination();
}

bool tty_port::take_resize() {
    if (!resized) return false;
    resized = 0;
    return true;
}

void set_title(port& p, std::string_view title) {
    if (!p.output_is_terminal()) return;
    std::string out;
    if (title_fd < 0) {
        out = "\x1b[22;0t";
        title_fd = p.restore_descriptor();
        if (title_fd >= 0) hold_termination();
    }
    // Control characters in the title would end the sequence early and inject others.
    out += "\x1b]0;";
    for (char32_t c : utf8_stream::decode(std::string(title)))
        if (c >= 0x20 && (c < 0x7F || c > 0x9F)) utf8_stream::append(out, c);
    out += '\a';
    p.write(out);
}

void set_restore_bytes(int fd, std::string_view bytes) {
    restore_length = 0;
    std::size_t n = std::min(bytes.size(), sizeof restore_text - 1);
    std::copy_n(bytes.data(), n, restore_text);
    restore_fd = fd;
    restore_length = static_cast<sig_atomic_t>(n);
    if (n > 0) hold_termination();
}

void restore() {
    if (int n = restore_length; n > 0 && restore_fd >= 0) {
        restore_length = 0;
        write_all(restore_fd, std::string_view(restore_text, static_cast<std::size_t>(n)));
    }
    restore_saved_mode();
    int fd = title_fd;
    if (fd >= 0) {
        title_fd = -1;
        write_all(fd, "\x1b[23;0t");
    }
}

} // namespace zel::terminal
