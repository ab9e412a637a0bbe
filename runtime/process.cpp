// Program entry and process lifecycle. The interpreter runs on its own thread with a large stack;
// faults end the process with a numbered report written with write(2) and _exit. The signals that
// ask for attention (an interrupt, a new window size) go to the interpreter's thread, so that they
// break the waits it is in.
#include "runtime/process.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <ucontext.h>
#include <unistd.h>

#include "console/terminal.hpp"
#include "runtime/errors.hpp"
#include "runtime/startup.hpp"

namespace zel::runtime {

runtime_record record;
const char* stack_limit = nullptr;
volatile std::sig_atomic_t interrupt_requested = 0;

namespace {
const char* stack_low = nullptr;
const char* stack_high = nullptr;

struct thread_args {
    int argc;
    char** argv;
    int exit_code;
};

struct message_row {
    int code;
    const char* text;
};
const message_row messages[] = {
    {1, "access violation"},
    {2, "invalid alignment"},
    {3, "breakpoint"},
    {4, "single step"},
    {5, "bounds exceeded"},
    {6, "float denormal operan"},
    {7, "float divide by zero"},
    {8, "float inexact result"},
    {9, "float invalid operation"},
    {10, "float overflow"},
    {11, "float stack check"},
    {12, "float underflow"},
    {13, "integer divide by zero"},
    {14, "integer overflow"},
    {15, "privileged instruction"},
    {16, "invalid virtual address"},
    {17, "illegal instruction"},
    {18, "non-continuable exception"},
    {19, "stack error or overflow"},
    {20, "invalid disposition"},
    {21, "guard page"},
    {22, "invalid handle"},
    {23, "illegal operand"},
    {24, "illegal addressing mode"},
    {25, "illegal trap"},
    {26, "coprocessor error"},
    {27, "non-existent physical address"},
    {28, "object specific hardware error"},
    {29, "hardware memory error consumed AR"},
    {30, "hardware memory error consumed AO"},
    {31, "privileged register"},
    {32, "segmentation fault"},
    {33, "FPU error"},
    {34, "Bus error"},
    {94, "out of memory"},
    {95, "no CATCH for THROW"},
    {98, "assertion failed"},
    {99, "unknown error"},
    {100, "no value matched in CASE"},
    {101, "no value matched in SWITCH"},
};

// Async-signal-safe text building for the report.
struct report_buffer {
    char text[256];
    std::size_t len = 0;
    void add(const char* s) {
        while (*s && len < sizeof text) text[len++] = *s++;
    }
    void add_decimal(long v) {
        char digits[24];
        int n = 0;
        bool neg = v < 0;
        unsigned long u = neg ? 0UL - static_cast<unsigned long>(v) : static_cast<unsigned long>(v);
        do digits[n++] = static_cast<char>('0' + u % 10);
        while (u /= 10);
        if (neg) add("-");
        while (n) {
            char c[2] = {digits[--n], 0};
            add(c);
        }
    }
    void add_hex(std::uintptr_t v) {
        static const char hex[] = "0123456789ABCDEF";
        for (int shift = 60; shift >= 0; shift -= 4) {
            char c[2] = {hex[(v >> shift) & 0xF], 0};
            add(c);
        }
    }
};

void write_all(int fd, const char* p, std::size_t n) {
    while (n) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
}

[[noreturn]] void report_and_exit(int code, const void* address) {
    if (code != 0) {
        report_buffer r;
        r.add("\n*** Runtime Error ");
        r.add_decimal(code);
        r.add(": ");
        r.add(runtime_error_message(code));
        r.add("\n*** at: ");
        r.add_hex(reinterpret_cast<std::uintptr_t>(address));
        r.add("h\n");
        write_all(STDOUT_FILENO, r.text, r.len);
    }
    restore_terminal();
    _exit(code);
}

int fault_number(int sig, const siginfo_t* info) {
    switch (sig) {
    case SIGFPE:
        switch (info->si_code) {
        case FPE_INTDIV:
            return 13;
        case FPE_INTOVF:
            return 14;
        case FPE_FLTDIV:
            return 7;
        case FPE_FLTOVF:
            return 10;
        case FPE_FLTUND:
            return 12;
        case FPE_FLTRES:
            return 8;
        case FPE_FLTINV:
            return 9;
        case FPE_FLTSUB:
            return 5;
        default:
            return 33;
        }
    case SIGSEGV: {
        auto addr = static_cast<const char*>(info->si_addr);
        // A fault just below the interpreter's stack is a machine-stack overflow.
        if (stack_low && addr < stack_low && addr + (1 << 20) >= stack_low) return 19;
        return 1;
    }
    case SIGBUS:
        return info->si_code == BUS_ADRALN ? 2 : 34;
    case SIGILL:
        return 17;
    case SIGTRAP:
        return 3;
    default:
        return 99;
    }
}

void on_fault(int sig, siginfo_t* info, void* context) {
    const void* address = info->si_addr;
#if defined(__x86_64__)
    if (context) {
        auto uc = static_cast<ucontext_t*>(context);
        address = reinterpret_cast<const void*>(uc->uc_mcontext.gregs[REG_RIP]);
    }
#endif
    report_and_exit(fault_number(sig, info), address);
}

void on_interrupt(int) {
    // The first interrupt waits for a safe point; one that comes while it still waits (a long
    // native, a blocked call) ends the process at once, without saving anything.
    if (interrupt_requested) {
        restore_terminal();
        _exit(interrupted_exit_code);
    }
    interrupt_requested = 1;
}

// An interrupt that was ignored when the program started (a background job) stays ignored.
void catch_interrupt() {
    static bool decided = false, ignored = false;
    if (!decided) {
        struct sigaction previous {};
        ignored = sigaction(SIGINT, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN;
        decided = true;
    }
    if (ignored) return;
    struct sigaction si {};
    si.sa_handler = on_interrupt; // no SA_RESTART: a blocking read returns, and sees the flag
    sigemptyset(&si.sa_mask);
    sigaction(SIGINT, &si, nullptr);
}

sigset_t attention_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGWINCH);
    return set;
}

void* interpreter_thread(void* p) {
    auto* args = static_cast<thread_args*>(p);
    pthread_attr_t attr;
    void* low = nullptr;
    std::size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        pthread_attr_getstack(&attr, &low, &size);
        pthread_attr_destroy(&attr);
    }
    set_stack_bounds(static_cast<const char*>(low), static_cast<const char*>(low) + size);
    install_fault_handlers();
    sigset_t attention = attention_signals();
    pthread_sigmask(SIG_UNBLOCK, &attention, nullptr);
    args->exit_code = startup::run(args->argc, args->argv);
    return nullptr;
}
} // namespace

const char* runtime_error_message(int code) {
    for (const auto& m : messages)
        if (m.code == code) return m.text;
    return "unknown error code!";
}

void set_stack_bounds(const char* low, const char* high) {
    stack_low = low;
    stack_high = high;
    stack_limit = low ? low + stack_reserve : nullptr;
}

void raise_stack_overflow() {
    // Leave the guard zone so that the error path has room to run, then raise.
    error::raise(err::E("internal", "stack-overflow"));
}

void restore_terminal() {
    terminal::restore();
}

void raise_interrupt() {
    throw unwind{throw_code::interrupt};
}

void install_fault_handlers() {
    static thread_local char* alt_stack = nullptr;
    stack_t current{};
    bool has_stack = sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE);
    if (!alt_stack && !has_stack) {
        std::size_t size = 1 << 16;
        alt_stack = static_cast<char*>(std::malloc(size));
        stack_t ss{};
        ss.ss_sp = alt_stack;
        ss.ss_size = size;
        sigaltstack(&ss, nullptr);
    }
    struct sigaction sa {};
    sa.sa_sigaction = on_fault;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP}) sigaction(sig, &sa, nullptr);
    catch_interrupt();
}

void fatal_error_exit(int code, const void* address) {
    std::fflush(nullptr);
    report_and_exit(code, address);
}

void exit_process(int code) {
    std::fflush(nullptr);
    restore_terminal();
    _exit(code);
}

int main_entry(int argc, char** argv) {
    record.argc = argc;
    record.argv = argv;
    install_fault_handlers();
    thread_args args{argc, argv, 0};
    // This thread only waits for the interpreter: the signals that need attention go there.
    sigset_t attention = attention_signals();
    pthread_sigmask(SIG_BLOCK, &attention, nullptr);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, machine_stack_size);
    pthread_t thread;
    if (pthread_create(&thread, &attr, interpreter_thread, &args) != 0) {
        // Not enough address space for the large stack: run on this thread instead.
        interpreter_thread(&args);
    } else {
        pthread_join(thread, nullptr);
    }
    pthread_attr_destroy(&attr);
    std::fflush(nullptr);
    restore_terminal();
    return args.exit_code;
}

} // namespace zel::runtime
