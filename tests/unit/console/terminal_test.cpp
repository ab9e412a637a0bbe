// The real terminal port on a pseudo-terminal: raw mode and the window title, and their
// restoration on every way out (the guard, the runtime's restorer, a fault, SIGTERM), the size,
// resize notices, and one line edited through the real port.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "console/line_editor.hpp"
#include "console/terminal.hpp"
#include "console/utf8_stream.hpp"
#include "fake_terminal.hpp"
#include "runtime/process.hpp"

using namespace zel;

namespace {

struct pty {
    int master = -1, slave = -1;
    pty() {
        winsize ws{};
        ws.ws_col = 100;
        ws.ws_row = 40;
        EXPECT_EQ(openpty(&master, &slave, nullptr, nullptr, &ws), 0);
    }
    ~pty() {
        close(master);
        close(slave);
    }
    termios mode() const {
        termios t{};
        tcgetattr(slave, &t);
        return t;
    }
};

bool same_mode(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_lflag == b.c_lflag &&
           a.c_cflag == b.c_cflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

} // namespace

TEST(Terminal, RawModeAndItsRestoration) {
    pty p;
    termios cooked = p.mode();
    terminal::tty_port port(p.slave, p.slave);
    {
        terminal::raw_mode raw(port);
        termios t = p.mode();
        EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
        EXPECT_FALSE(t.c_iflag & (ICRNL | IXON));
        EXPECT_TRUE(t.c_oflag & OPOST) << "a line feed must still start a new row";
        EXPECT_EQ(t.c_cc[VMIN], 1);
        { terminal::raw_mode nested(port); }
        EXPECT_FALSE(p.mode().c_lflag & ICANON) << "a nested guard keeps the mode";
        // What exit and the fault handlers call.
        runtime::restore_terminal();
        EXPECT_TRUE(same_mode(p.mode(), cooked));
    }
    EXPECT_TRUE(same_mode(p.mode(), cooked));
    runtime::restore_terminal(); // not raw any more: leaves the terminal alone
    EXPECT_TRUE(same_mode(p.mode(), cooked));
}

namespace {
// Everything the child wrote to the terminal, once it has ended.
std::string drained(int master) {
    std::string out;
    char buffer[256];
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) out.append(buffer, n);
    return out;
}
} // namespace

TEST(Terminal, ProcessEndsRestoreTheTerminal) {
    struct row {
        const char* name;
        void (*end)();
        int signal;    // the child ends by this signal, or
        int exit_code; // with this exit code
    };
    const row rows[] = {
        {"fault", [] { raise(SIGSEGV); }, 0, 1},
        {"SIGTERM", [] { raise(SIGTERM); }, SIGTERM, 0},
        {"SIGHUP", [] { raise(SIGHUP); }, SIGHUP, 0},
        {"exit", [] { runtime::exit_process(3); }, 0, 3},
    };
    for (const row& r : rows) {
        pty p;
        termios cooked = p.mode();
        static void (*end)();
        end = r.end;
        pid_t pid = fork();
        if (pid == 0) {
            int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, STDOUT_FILENO);
            runtime::install_fault_handlers();
            terminal::tty_port port(p.slave, p.slave);
            port.enter_raw_mode();
            terminal::set_title(port, "Zel Console");
            end();
            _exit(77);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        // The title saved on the terminal's title stack before it was set, and put back.
        std::string written = drained(p.master);
        EXPECT_EQ(written.rfind("\x1b[22;0t\x1b]0;Zel Console\x07", 0), 0u) << r.name << written;
        EXPECT_TRUE(written.ends_with("\x1b[23;0t")) << r.name << written;
        if (r.signal) {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == r.signal) << r.name;
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == r.exit_code) << r.name;
        }
        EXPECT_TRUE(same_mode(p.mode(), cooked)) << r.name;
    }
}

TEST(Terminal, SizeAndResize) {
    pty p;
    terminal::tty_port port(p.slave, p.slave);
    auto size = port.measure();
    ASSERT_TRUE(size);
    EXPECT_EQ(size->columns, 100);
    EXPECT_EQ(size->rows, 40);
    EXPECT_TRUE(port.input_is_terminal());
    {
        terminal::raw_mode raw(port);
        port.take_resize();
        winsize ws{};
        ws.ws_col = 60;
        ws.ws_row = 20;
        ioctl(p.master, TIOCSWINSZ, &ws);
        raise(SIGWINCH);
        EXPECT_TRUE(port.take_resize());
        EXPECT_FALSE(port.take_resize());
        EXPECT_EQ(port.measure()->columns, 60);
    }
    terminal::tty_port piped(p.master, p.master);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    terminal::tty_port not_a_tty(fds[0], fds[1]);
    EXPECT_FALSE(not_a_tty.input_is_terminal());
    EXPECT_FALSE(not_a_tty.measure());
    close(fds[0]);
    close(fds[1]);
}

TEST(Terminal, EditsALineThroughARealTerminal) {
    pty p;
    terminal::tty_port port(p.slave, p.slave);
    terminal::line_editor editor(port);
    editor.init();
    ASSERT_TRUE(editor.console_input());
    ASSERT_TRUE(editor.window_size());
    EXPECT_EQ(editor.window_size()->columns, 100);
    std::u32string line;
    std::vector<std::u32string> history;
    editor.setup(line, history);
    // Plays the terminal: answers the cursor query, then types.
    std::string seen;
    std::thread user([&] {
        char buffer[256];
        while (seen.find("\x1b[6n") == std::string::npos) {
            ssize_t n = read(p.master, buffer, sizeof buffer);
            if (n <= 0) return;
            seen.append(buffer, n);
        }
        const char typed[] = "\x1b[1;1Rab\x1b[Dc\xe4\xb8\xad\r";
        write(p.master, typed, sizeof typed - 1);
    });
    auto status = editor.edit(U">> ", false);
    user.join();
    EXPECT_EQ(status, terminal::edit_status::entered);
    EXPECT_EQ(utf8_stream::encode(line), "ac\xe4\xb8\xad"
                                         "b");
    EXPECT_EQ(history.size(), 1u);
}

TEST(Terminal, TitleCannotCarryControlSequences) {
    testing_terminal::fake_terminal term;
    terminal::set_title(term, "Zel\x07\x1b]2;x\xc2\x9c Console");
    // The title it replaces is saved on the terminal's title stack first.
    EXPECT_EQ(term.output, "\x1b[22;0t\x1b]0;Zel]2;x Console\x07");
    term.output.clear();
    term.terminal_output = false;
    terminal::set_title(term, "Zel Console");
    EXPECT_EQ(term.output, "");
}
