// Program entry and process lifecycle: the large-stack interpreter thread, the fault handlers
// with their numbered runtime error report, the machine-stack depth guard, the interrupt and the
// exit paths.
#pragma once
#include <csignal>

#include "runtime/arena.hpp"

namespace zel::runtime {

// The process-level record of the runtime.
struct runtime_record {
    int argc = 0;
    char** argv = nullptr; // UTF-8, null-terminated
    u32 last_throw_code = 0;
};
extern runtime_record record;

// Runs the whole program on a thread with a large stack; answers the exit code.
int main_entry(int argc, char** argv);

// Writes the runtime error report (when code is not 0) and ends the process with the code.
[[noreturn]] void fatal_error_exit(int code, const void* address);
// The message of a runtime error number ("unknown error code!" for an unlisted one).
const char* runtime_error_message(int code);

// Ends the process normally with the code: output flushed, terminal restored.
[[noreturn]] void exit_process(int code);

// Installs the fault handlers on the calling thread (with its own alternate signal stack).
void install_fault_handlers();

// Puts the terminal back as the program found it (mode and window title); the fault handlers
// and every exit call it.
void restore_terminal();

// The exit code of a program that the user interrupted.
constexpr int interrupted_exit_code = 130;
// Set by SIGINT. The evaluator acts on it at its next safe point (`check_stack`) by raising the
// interrupt, which ends the program once the history is saved; waits for input give up when it
// is set. A second SIGINT while it is still set ends the process at once.
extern volatile std::sig_atomic_t interrupt_requested;
[[noreturn]] void raise_interrupt();
inline void check_interrupt() {
    if (interrupt_requested) raise_interrupt();
}

// Machine-stack depth guard for every recursive entry point: raises the stack-overflow error
// when less than the reserve is left. These are the evaluator's safe points, so the interrupt is
// taken here too.
extern const char* stack_limit;
[[noreturn]] void raise_stack_overflow();
inline void check_stack() {
    char probe;
    if (&probe < stack_limit) raise_stack_overflow();
    check_interrupt();
}
// Records the current thread's stack bounds (the thread that runs the interpreter).
void set_stack_bounds(const char* low, const char* high);

// Interpreter thread's stack size.
constexpr std::size_t machine_stack_size = std::size_t(512) << 20;
// Room kept free below the guard for the error path itself.
constexpr std::size_t stack_reserve = std::size_t(256) << 10;

} // namespace zel::runtime
