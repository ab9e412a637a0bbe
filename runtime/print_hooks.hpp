// Print hooks: every text the language prints goes through two lists of output callbacks. Value
// hooks take a string! cell and a line-end flag; text hooks take the runtime's own messages. The
// first value hook, registered at set-up, is the standard-output printer. Each list starts with
// room for 5 callbacks and grows by 5.
#pragma once
#include "runtime/cell.hpp"

namespace zel::print_hooks {

// The string! cell must stay where it is while the hooks run (a data-stack cell).
using value_hook = void (*)(const cell* string, u32 newline);
// UTF-8 text of `length` bytes.
using text_hook = void (*)(const u8* text, u32 length, u32 flag);

constexpr u32 initial_capacity = 5;
constexpr u32 capacity_step = 5;

// Registers the standard-output printer as the first value hook; runs once.
void set_up();
bool ready();

// Each callback given (not null) is appended to, or its first occurrence removed from, its list.
void add_hooks(value_hook value, text_hook text);
void remove_hooks(value_hook value, text_hook text);

void call_value_hooks(const cell* string, u32 newline);
void call_text_hooks(const u8* text, u32 length, u32 flag);

// The default value hook: writes the string from its head to standard output, with a line end
// when `newline` is not 0. Raises access/cannot-write when standard output refuses the text.
void stdout_printer(const cell* string, u32 newline);
// The same text to standard error, for the report of an error that ends the program once
// standard output has failed. Answers whether every byte was written.
bool stderr_printer(const cell* string, u32 newline);

u32 value_hook_count();
u32 value_hook_capacity();
u32 text_hook_count();
u32 text_hook_capacity();

// The line-end flag of the last print or prin.
extern u32 last_newline;

// The text-mode backend returns the terminal to its plain mode around every print (suspend) and
// puts its screen back afterwards (resume). Either may be null.
using console_hook = void (*)();
void set_console_hooks(console_hook suspend, console_hook resume);

} // namespace zel::print_hooks
