// The routines bound to global words: quiet assignment, bit shifts, the current directory and
// directory tests, colour and address tuples, UTF-8 counting, the data and frame stacks, the
// trace state, the clipboard and standard output.
#include <cerrno>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "datatypes/basic.hpp"
#include "datatypes/context.hpp"
#include "datatypes/file.hpp"
#include "datatypes/function.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/tuple.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "evaluator/trace.hpp"
#include "library/library_code.hpp"
#include "library/routine_table.hpp"
#include "runtime/collector.hpp"
#include "runtime/environment.hpp"
#include "runtime/errors.hpp"
#include "runtime/file_io.hpp"
#include "runtime/memory.hpp"
#include "runtime/os_services.hpp"
#include "runtime/platform/clipboard.hpp"
#include "runtime/print_hooks.hpp"
#include "runtime/unicode.hpp"

namespace zel::routines {

namespace {

cell* arg(u32 i) {
    return stack::arg(i);
}

// The text of a file! or string! argument as the OS takes it.
void quit_return() {
    unwind u{throw_code::quit};
    u.status = int_of(arg(0));
    throw u;
}

bool quiet_word_type(u32 t) {
    return t == type_id::word || t == type_id::set_word || t == type_id::get_word ||
           t == type_id::lit_word;
}

void set_quiet() {
    cell word = *arg(0);
    if (!quiet_word_type(type_of(&word))) raise_expect_arg(&word, "word");
    cell value = *arg(1);
    if (word.w3 == context::unbound || !word.w1) word = context::global_word(word.w2);
    context::store_word_value(&word, &value, word.w1, false);
    answer(value);
}

void set_slot_quiet() {
    cell series = *arg(0);
    u32 t = type_of(&series);
    if (t != type_id::block && t != type_id::paren && !is_any_path_type(t))
        raise_expect_arg(&series, "series");
    series_buffer* b = buffer_of(series.w2);
    if (series.w1 < used_units(b)) head_cell(b)[series.w1] = *arg(1);
    answer_unset();
}

// Shifts as the `shift` native does them: a count below 0 is 0; 32 or more shifts every bit out.
i32 shift_value(i32 data, i32 bits, bool left, bool logical) {
    if (bits < 0) bits = 0;
    u32 u = static_cast<u32>(data);
    if (left) return bits >= 32 ? 0 : static_cast<i32>(u << bits);
    if (logical) return bits >= 32 ? 0 : static_cast<i32>(u >> bits);
    if (bits >= 32) return data < 0 ? -1 : 0;
    return data >> bits;
}
void shift_right() {
    answer_integer(shift_value(int_of(arg(0)), int_of(arg(1)), false, false));
}
void shift_left() {
    answer_integer(shift_value(int_of(arg(0)), int_of(arg(1)), true, false));
}
void shift_logical() {
    answer_integer(shift_value(int_of(arg(0)), int_of(arg(1)), false, true));
}

void last_lf() {
    answer_logic(print_hooks::last_newline != 0);
}

void get_current_dir() {
    std::string dir = os::current_dir_text();
    if (dir.empty() || dir.back() != '/') dir += '/';
    cell file;
    utf8::decode_to_new_string(&file, reinterpret_cast<const u8*>(dir.data()),
                               static_cast<u32>(dir.size()), utf8::flag::lossless);
    cell_ops::write_type(&file, type_id::file);
    answer(file);
}

// A name holding a NUL never reaches the OS, which would cut it there.
void set_current_dir() {
    std::optional<std::string> path = file::to_os_text(arg(0));
    if (!path || !os::change_dir(*path)) error::raise(err::E("access", "cannot-open"), arg(0));
    answer_unset();
}

void create_dir() {
    fs::create_dir(arg(0));
    answer_unset();
}

void exists() {
    answer_logic(fs::exists(arg(0)));
}

void os_info() {
    answer(*os::push_os_description());
}

// A tuple of the arguments' bytes. Negative components, and components that do not fit their
// byte (which would spill into the next one), are refused.
void make_tuple(u32 n, bool wrap) {
    u8 bytes[4];
    for (u32 i = 0; i < n; i++) {
        i32 v = int_of(arg(i));
        if (v < 0 || (!wrap && v > 255)) error::raise(err::E("script", "invalid-arg"), arg(i));
        bytes[i] = static_cast<u8>(v & 0xFF);
    }
    cell t{}; // init_cell keeps the slot's new-line flag
    tuple::init_cell(&t, bytes, n);
    answer(t);
}
void as_color() {
    make_tuple(3, true);
}
void as_ipv4() {
    make_tuple(4, false);
}

// One UTF-8 sequence per step, as its lead byte gives the length; the walk stays inside the
// buffer, so a sequence cut by the tail counts once and ends it.
void count_chars() {
    series_buffer* b = buffer_of(arg(0)->w2);
    u32 end = used_units(b);
    u32 from = arg(0)->w1, to = arg(1)->w1;
    if (to > end) to = end;
    const u8* p = head_ptr(b);
    i32 count = 0;
    for (u32 i = from; i < to;) {
        u8 lead = p[i];
        u32 len = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        count++;
        i += len;
    }
    answer_integer(count);
}

void stack_size() {
    answer_integer(static_cast<i32>(stack::top - stack::bottom));
}

// A stack cell that is safe to hand out as a value: helper cells that C++ code keeps there
// (context holders, internal types) come back as none.
bool plain_value(const cell* c) {
    u32 t = type_of(c);
    if (t == type_id::none_ || t >= type_id::count || t == type_id::symbol || t == type_id::context)
        return false;
    if (is_object_type(t)) return c->w1 && context::kind_of(c->w1) == context::kind::object;
    return true;
}

void pick_stack() {
    i32 idx = int_of(arg(0));
    i32 size = static_cast<i32>(stack::top - stack::bottom);
    cell* c = stack::bottom + (idx - 1);
    if (idx > 0 && idx < size && plain_value(c))
        answer(*c);
    else
        answer_none();
}

// The running function is the innermost function call below this routine's own frame; its
// arguments start where the frame above it saved the caller's position.
void frame_index() {
    u32 depth = stack::frame_depth();
    cell* first = stack::arguments;
    for (u32 i = depth - 1; i > 0; i--) {
        if (frame_kind_of(stack::frame_bottom + (i - 1)) != frame_kind::function) continue;
        first = arena::at<cell>(stack::frame_bottom[i].saved_arguments);
        break;
    }
    answer_integer(static_cast<i32>(first - stack::bottom));
}

void collect_calls() {
    cell block = *arg(0);
    cell* held = stack::push_value(&block);
    u32 depth = stack::frame_depth();
    for (u32 i = depth; i > 0; i--) {
        const call_frame* f = stack::frame_bottom + (i - 1);
        if (!library_code::user_visible_call(f)) continue;
        cell word{type_id::word, 0, frame_symbol(f), context::unbound};
        cell* own =
            i < depth ? arena::at<cell>(stack::frame_bottom[i].saved_arguments) : stack::arguments;
        cell position;
        init_integer(&position, static_cast<i32>(own - stack::bottom));
        *memory::append_cell_slot(held) = word;
        *memory::append_cell_slot(held) = position;
    }
    answer(*held);
}

void tracing() {
    answer_logic(trace::active);
}

// Events resume or pause inside a traced evaluation; outside one nothing is switched on.
void switch_tracing() {
    trace::on = is_truthy(arg(0)) && trace::active;
    trace::switches++;
    answer_unset();
}

void read_clipboard() {
    answer(*clipboard::fetch_contents());
}
void write_clipboard() {
    answer_logic(clipboard::store_contents(arg(0)));
}

// Standard output that refuses the bytes raises the error a failed print raises.
void write_all(const char* p, std::size_t n) {
    if (fs::write_handle(STDOUT_FILENO, reinterpret_cast<const u8*>(p), n) < 0)
        fs::raise_write_failure(nullptr, errno ? errno : EIO);
}

void write_stdout() {
    cell data = *arg(0);
    std::fflush(stdout);
    if (is(&data, type_id::binary)) {
        series_buffer* b = buffer_of(data.w2);
        u32 n = used_units(b) > data.w1 ? used_units(b) - data.w1 : 0;
        // The bytes are copied first: writing cannot move the buffer, but keep the rule.
        std::string bytes(reinterpret_cast<const char*>(head_ptr(b)) + data.w1, n);
        write_all(bytes.data(), bytes.size());
    } else {
        cell* held = stack::push_value(&data);
        if (!is_any_string_type(type_of(held))) {
            cell buffer;
            string::init_cell_bytes(&buffer, 16);
            cell* out = stack::push_value(&buffer);
            actions::form_typed(held, out, nullptr, 1 << 30);
            held = out;
        }
        // As print writes it: bytes that came in undecoded go out as they came.
        std::string text = utf8::encode_string(held, -1, utf8::flag::lossless);
        write_all(text.data(), text.size());
    }
    answer_unset();
}

const definition runtime_routines[] = {
    {"quit-return",
     R"~(["Stops evaluation and exits the program with a given status" status [integer!] "Process termination value to return"])~",
     quit_return},
    {"set-quiet",
     R"~(["Set an object's field to a value without triggering eventual object's events" word [any-type!] value [any-type!]])~",
     set_quiet},
    {"set-slot-quiet",
     R"~(["Set a value in series without triggering eventual owner's events" series [any-type!] value [any-type!]])~",
     set_slot_quiet},
    {"shift-right", R"~(["Shift bits to the right" data [integer!] bits [integer!]])~",
     shift_right},
    {"shift-left", R"~(["Shift bits to the left" data [integer!] bits [integer!]])~", shift_left},
    {"shift-logical", R"~(["Shift bits to the right (unsigned)" data [integer!] bits [integer!]])~",
     shift_logical},
    {"last-lf?", R"~(["Internal Use Only"])~", last_lf},
    {"get-current-dir", R"~(["Returns the platform's current directory for the process"])~",
     get_current_dir},
    {"set-current-dir", R"~(["Sets the platform's current process directory" path [file!]])~",
     set_current_dir},
    {"create-dir", R"~(["Create the given directory" path [file!]])~", create_dir},
    {"exists?", R"~(["Returns TRUE if the file exists" path [file!]])~", exists},
    {"os-info", R"~(["Returns detailed operating system version information"])~", os_info},
    {"as-color",
     R"~(["Combine R, G and B values into a tuple" r [integer!] g [integer!] b [integer!]])~",
     as_color},
    {"as-ipv4",
     R"~(["Combine a, b, c and d values into a tuple" a [integer!] b [integer!] c [integer!] d [integer!]])~",
     as_ipv4},
    {"as-rgba",
     R"~(["Combine R, G, B and A color components into a tuple" r [integer!] g [integer!] b [integer!] a [integer!]])~",
     as_ipv4},
    {"count-chars",
     R"~(["Count UTF-8 encoded characters between two positions in a binary series" start [binary!] pos [binary!]])~",
     count_chars},
    {"stack-size?", "[]", stack_size},
    {"pick-stack", "[idx [integer!]]", pick_stack},
    {"frame-index?", "[]", frame_index},
    {"collect-calls", "[blk [block!]]", collect_calls},
    {"tracing?", "[]", tracing},
    {"switch-tracing", R"~(["Internal Use Only" on? [logic!]])~", switch_tracing},
    {"read-clipboard",
     R"~(["Return the contents of the system clipboard" return: [any-type!] "false on failure, none if empty, otherwise: string!, block! of files!, or an image!"])~",
     read_clipboard},
    {"write-clipboard",
     R"~(["Write content to the system clipboard" data [any-type!] "string!, block! of files!, an image! or none!" return: [logic!] "indicates success"])~",
     write_clipboard},
    {"write-stdout", R"~(["Write data to STDOUT" data [any-type!]])~", write_stdout},
};

} // namespace

void bind_runtime_routines() {
    bind_globals(runtime_routines);
}

} // namespace zel::routines
