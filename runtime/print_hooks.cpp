// Print hooks. The lists are plain arrays with an explicit capacity: a full list is replaced by
// one 5 entries larger.
#include "runtime/print_hooks.hpp"

#include <cstdio>
#include <string>
#include <unistd.h>

#include "runtime/console_output.hpp"
#include "runtime/file_io.hpp"
#include "runtime/memory.hpp"

namespace zel::print_hooks {

u32 last_newline = 0;

namespace {
template <class F> struct hook_list {
    F* entries = nullptr;
    u32 count = 0;
    u32 capacity = 0;

    void reserve_initial() {
        if (entries) return;
        entries = new F[initial_capacity];
        capacity = initial_capacity;
    }
    void add(F fn) {
        reserve_initial();
        if (count == capacity) {
            F* grown = new F[capacity + capacity_step];
            for (u32 i = 0; i < count; i++) grown[i] = entries[i];
            delete[] entries;
            entries = grown;
            capacity += capacity_step;
        }
        entries[count++] = fn;
    }
    void remove(F fn) {
        for (u32 i = 0; i < count; i++) {
            if (entries[i] != fn) continue;
            for (u32 j = i + 1; j < count; j++) entries[j - 1] = entries[j];
            count--;
            return;
        }
    }
};

hook_list<value_hook> value_hooks;
hook_list<text_hook> text_hooks;
bool is_ready = false;
console_hook suspend_hook = nullptr;
console_hook resume_hook = nullptr;
} // namespace

void set_up() {
    if (is_ready) return;
    value_hooks.reserve_initial();
    text_hooks.reserve_initial();
    value_hooks.add(stdout_printer);
    is_ready = true;
}

bool ready() {
    return is_ready;
}

void add_hooks(value_hook value, text_hook text) {
    if (value) value_hooks.add(value);
    if (text) text_hooks.add(text);
}

void remove_hooks(value_hook value, text_hook text) {
    if (value) value_hooks.remove(value);
    if (text) text_hooks.remove(text);
}

void call_value_hooks(const cell* string, u32 newline) {
    // A hook may add or remove hooks: walk by index over the live count.
    for (u32 i = 0; i < value_hooks.count; i++) value_hooks.entries[i](string, newline);
}

void call_text_hooks(const u8* text, u32 length, u32 flag) {
    for (u32 i = 0; i < text_hooks.count; i++) text_hooks.entries[i](text, length, flag);
}

namespace {
// Writes the string from its head; answers 0 or the OS error number.
int write_string(const cell* string, u32 newline, int fd) {
    if (suspend_hook) suspend_hook();
    series_buffer* b = buffer_of(string->w2);
    u32 unit = unit_of(b);
    int failure = 0;
    if (unit == 1 || unit == 2 || unit == 4) {
        u8* start = head_ptr(b) + u64(string->w1) * unit;
        u8* end = tail_ptr(b);
        if (start > end) start = end;
        failure = conout::write_text(start, static_cast<u32>(end - start), unit, newline != 0, fd);
    } else {
        conout::print_report("Error: unknown string encoding: " + std::to_string(unit));
    }
    std::fflush(nullptr);
    if (resume_hook) resume_hook();
    return failure;
}
} // namespace

void stdout_printer(const cell* string, u32 newline) {
    if (int failure = write_string(string, newline, STDOUT_FILENO))
        fs::raise_write_failure(nullptr, failure);
}

bool stderr_printer(const cell* string, u32 newline) {
    return write_string(string, newline, STDERR_FILENO) == 0;
}

u32 value_hook_count() {
    return value_hooks.count;
}
u32 value_hook_capacity() {
    return value_hooks.capacity;
}
u32 text_hook_count() {
    return text_hooks.count;
}
u32 text_hook_capacity() {
    return text_hooks.capacity;
}

void set_console_hooks(console_hook suspend, console_hook resume) {
    suspend_hook = suspend;
    resume_hook = resume;
}

} // namespace zel::print_hooks
