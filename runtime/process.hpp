// Program entry and process lifecycle: the large-stack interpreter thread, the fault handlers
// with their numbered runtime error report, the machine-stack depth guard and the exit paths.
#pragma once
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

// Called by the fault handlers and at exit to put the terminal back; set by the console.
using terminal_restorer = void (*)();
void set_terminal_restorer(terminal_restorer fn);
void restore_terminal();

// Machine-stack depth guard for every recursive entry point: raises the stack-overflow error
// when less than the reserve is left.
extern const char* stack_limit;
[[noreturn]] void raise_stack_overflow();
inline void check_stack() {
    char probe;
    if (&probe < stack_limit) raise_stack_overflow();
}
// Records the current thread's stack bounds (the thread that runs the interpreter).
void set_stack_bounds(const char* low, const char* high);

// Interpreter thread's stack size.
constexpr std::size_t machine_stack_size = std::size_t(512) << 20;
// Room kept free below the guard for the error path itself.
constexpr std::size_t stack_reserve = std::size_t(256) << 10;

} // namespace zel::runtime
