// Fault reports: a real signal in a child process reaches the handler, which writes the numbered
// report to standard output and ends the process with the number; and the interrupt.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "runtime/errors.hpp"
#include "runtime/process.hpp"

using namespace zel;

namespace {
struct outcome {
    std::string out;
    int code;
};

outcome run_child(void (*body)()) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        runtime::install_fault_handlers();
        body();
        _exit(77);
    }
    close(fds[1]);
    std::string out;
    char buf[512];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}
} // namespace

TEST(Process, FaultReports) {
    struct row {
        int sig;
        int number;
        const char* message;
    };
    const row rows[] = {
        {SIGSEGV, 1, "access violation"},
        {SIGILL, 17, "illegal instruction"},
        {SIGBUS, 34, "Bus error"},
        {SIGTRAP, 3, "breakpoint"},
    };
    for (const row& r : rows) {
        static int sig;
        sig = r.sig;
        outcome o = run_child([] { raise(sig); });
        std::string expected =
            "\n*** Runtime Error " + std::to_string(r.number) + ": " + r.message + "\n*** at: ";
        EXPECT_EQ(o.out.substr(0, expected.size()), expected) << r.message;
        EXPECT_EQ(o.out.back(), '\n');
        EXPECT_NE(o.out.find("h\n"), std::string::npos);
        EXPECT_EQ(o.code, r.number) << r.message;
    }
}

TEST(Process, RealSegmentationFault) {
    outcome o = run_child([] {
        // Read through a volatile so the compiler cannot see the address it faults on.
        volatile std::uintptr_t address = 16;
        *reinterpret_cast<volatile int*>(address) = 1;
    });
    EXPECT_EQ(o.code, 1);
    EXPECT_NE(o.out.find("*** Runtime Error 1: access violation"), std::string::npos);
}

TEST(Process, ErrorMessages) {
    EXPECT_STREQ(runtime::runtime_error_message(6), "float denormal operan");
    EXPECT_STREQ(runtime::runtime_error_message(95), "no CATCH for THROW");
    EXPECT_STREQ(runtime::runtime_error_message(101), "no value matched in SWITCH");
    EXPECT_STREQ(runtime::runtime_error_message(50), "unknown error code!");
}

// An interrupt waits for the evaluator's next safe point, which raises it; a second one that
// comes while the first still waits ends the process at once, quietly, with 130.
TEST(Process, InterruptIsTakenAtASafePointOrEndsTheProcess) {
    outcome o = run_child([] {
        raise(SIGINT);
        if (!runtime::interrupt_requested) _exit(75);
        try {
            runtime::check_stack();
            _exit(76);
        } catch (const unwind& u) {
            if (u.code != throw_code::interrupt) _exit(77);
        }
        raise(SIGINT);
    });
    EXPECT_EQ(o.code, runtime::interrupted_exit_code);
    EXPECT_EQ(o.out, "");
}
