// The console's routines over the line editor. The line and history that `_set-buffer-history`
// names live in rooted slots between the calls; the editor works on copies of their text, and
// only the finished line is written back (and, when the editor took it into its history, the line
// string itself is put at the head of the history block, as the language sees it).
#include "console/console_routines.hpp"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "console/console_binding.hpp"
#include "console/line_editor.hpp"
#include "console/terminal.hpp"
#include "console/utf8_stream.hpp"
#include "datatypes/basic.hpp"
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/object.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/stack.hpp"
#include "library/routine_table.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/process.hpp"
#include "runtime/roots.hpp"
#include "runtime/unicode.hpp"

namespace zel::console_routines {

namespace {

terminal::tty_port& port() {
    static terminal::tty_port p(0, 1);
    return p;
}

terminal::line_editor& editor() {
    static terminal::line_editor e(port());
    return e;
}

bool initialised = false;

void ensure_initialised() {
    if (initialised) return;
    initialised = true;
    editor().init();
    editor().init_globals();
}

// [0] the line to fill, [1] the history block.
cell* slots = nullptr;

void ensure_slots() {
    if (slots) return;
    cell none{type_id::none, 0, 0, 0};
    slots = roots::append(&none);
    roots::append(&none);
}

// The text of a string from its head.
std::u32string text_of(const cell* s) {
    return utf8_stream::decode(utf8::encode_string(s));
}

// Replaces the text of a string from its head on (the cell must not lie in a movable buffer).
void write_text(cell* s, const std::u32string& text) {
    series_buffer* b = string::buffer_of_cell(s);
    string::truncate_units(b, s->w1);
    for (char32_t c : text) b = string::append_codepoint(b, static_cast<u32>(c));
}

cell* push_string(const std::u32string& text) {
    cell made{type_id::string, 0, memory::new_byte_series(static_cast<u32>(text.size()) + 16), 0};
    cell* s = stack::push_value(&made);
    write_text(s, text);
    return s;
}

// The history as the editor holds it, kept from one edit to the next: converting every entry
// for every line would make a long paste cost time in the square of its lines. It is made again
// when the block is another one or shows a change: another length, first or last entry.
struct history_mirror {
    std::vector<std::u32string> texts;
    u32 node = 0, index = 0, count = 0;
    cell first{}, last{};
} mirror;

bool same_cell(const cell& a, const cell& b) {
    return a.header == b.header && a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3;
}

// Notes the block's present state as the one the texts mirror.
void note_history(const cell* block) {
    u32 n = used_units(buffer_of(block->w2));
    mirror.node = block->w2;
    mirror.index = block->w1;
    mirror.count = n > block->w1 ? n - block->w1 : 0;
    cell none{type_id::none, 0, 0, 0};
    mirror.first = mirror.count ? head_cell(buffer_of(block->w2))[block->w1] : none;
    mirror.last = mirror.count ? head_cell(buffer_of(block->w2))[n - 1] : none;
}

std::vector<std::u32string>& history_of(const cell* block) {
    if (!is(block, type_id::block)) {
        mirror.texts.clear();
        mirror.node = 0;
        return mirror.texts;
    }
    u32 node = mirror.node, index = mirror.index, count = mirror.count;
    cell first = mirror.first, last = mirror.last;
    note_history(block);
    if (node == mirror.node && index == mirror.index && count == mirror.count &&
        same_cell(first, mirror.first) && same_cell(last, mirror.last))
        return mirror.texts;
    mirror.texts.clear();
    u32 n = used_units(buffer_of(block->w2));
    for (u32 i = block->w1; i < n; i++) {
        cell entry = head_cell(buffer_of(block->w2))[i];
        mirror.texts.push_back(is_any_string_type(type_of(&entry)) ? text_of(&entry)
                                                                   : std::u32string());
    }
    return mirror.texts;
}

const cell* field(const cell* object, std::string_view name) {
    if (!object || !is(object, type_id::object)) return nullptr;
    i32 i = object::find_field(object, symbol::intern_text(name));
    return i < 0 ? nullptr : object::first_value_address(object) + i;
}

// The console object the console runs in (the one `system/console` held at start-up, whatever
// a user has done with that word since).
const cell* console_object() {
    if (const cell* own = console_binding::console_object()) return own;
    cell w = context::global_word(symbol::intern_text("system"));
    return field(context::word_value_address(&w), "console");
}

// After the input seemed to end: whether standard input in fact cannot be read (a directory, a
// closed descriptor, an I/O error), which the editor's reads do not tell from its end. A
// further read at the end answers 0 again; one that fails says why.
bool standard_input_failed() {
    pollfd p{0, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return false;
    u8 byte;
    for (;;) {
        ssize_t got = ::read(0, &byte, 1);
        if (got >= 0) return false;
        if (errno != EINTR) return errno != EAGAIN;
    }
}

[[noreturn]] void raise_unreadable_input() {
    cell name;
    init_none(&name);
    cell* text = push_string(U"/dev/stdin");
    text->header = (text->header & ~0xFFu) | type_id::file;
    name = *text;
    error::raise(err::E("access", "cannot-open"), &name);
}

void set_console_size(int columns, int rows) {
    const cell* console = console_object();
    const cell* size = field(console, "size");
    if (!size) return;
    if (columns <= 0 || rows <= 0) {
        columns = 80;
        rows = 50;
    }
    *const_cast<cell*>(size) =
        cell{type_id::pair, 0, static_cast<u32>(columns), static_cast<u32>(rows)};
}

// Tab: `complete-input` of the completion context with the line at the caret. Whatever goes
// wrong there leaves the line as it was (the editor then inserts the Tab).
std::optional<terminal::completion> complete(const std::u32string& line, std::size_t caret) {
    const cell* fn = console_binding::completion_function();
    if (!fn) return std::nullopt;
    stack::mark mark = stack::save();
    u32 node = interp::code_node, index = interp::code_index;
    std::optional<terminal::completion> found;
    try {
        cell callee = *fn;
        cell* base = stack::push_value(&callee);
        cell* text = push_string(line);
        text->w1 = static_cast<u32>(caret);
        cell yes;
        stack::push_value(init_logic(&yes, true));
        cell name = context::global_word(symbol::intern_text("complete-input"));
        interp::call_with_arguments(base, 2, &name);
        cell result = *base;
        if (interp::pending) {
            interp::pending = 0;
        } else if (is(&result, type_id::block)) {
            std::vector<cell> entries;
            u32 n = used_units(buffer_of(result.w2));
            for (u32 i = result.w1; i < n; i++)
                entries.push_back(head_cell(buffer_of(result.w2))[i]);
            if (!entries.empty() && is_any_string_type(type_of(&entries[0]))) {
                terminal::completion c;
                cell first = entries[0];
                c.caret = first.w1;
                first.w1 = 0;
                c.line = text_of(&first);
                for (std::size_t i = 1; i < entries.size(); i++)
                    if (is_any_string_type(type_of(&entries[i])))
                        c.candidates.push_back(text_of(&entries[i]));
                found = std::move(c);
            }
        }
    } catch (const unwind& u) {
        if (u.code != throw_code::error) throw;
        found.reset();
    }
    stack::restore(mark);
    interp::code_node = node;
    interp::code_index = index;
    return found;
}

cell status_word(terminal::edit_status status, const std::u32string& line) {
    const char* name = "line";
    if (status == terminal::edit_status::interrupted) name = "interrupt";
    if (status == terminal::edit_status::end_of_input) name = line == U"q" ? "quit" : "end";
    return context::global_word(symbol::intern_text(name));
}

// _set-buffer-history line hist
void set_buffer_history() {
    ensure_slots();
    slots[0] = *stack::arg(0);
    slots[1] = *stack::arg(1);
    routines::answer_unset();
}

// _read-input prompt hidden?: the line read goes into the string given to _set-buffer-history;
// answers how the line ended: `line`, `interrupt` (Ctrl-C: the line is "q"), `quit` (Ctrl-D on
// an empty line: the line is "q") or `end` (the input has ended: the line is empty). An
// interrupt (SIGINT) that came while waiting is raised.
void read_input() {
    ensure_initialised();
    ensure_slots();
    std::u32string prompt = text_of(stack::arg(0));
    bool hidden = is_truthy(stack::arg(1));
    if (!is(&slots[0], type_id::string)) slots[0] = *push_string(U"");
    std::u32string line = text_of(&slots[0]);
    std::vector<std::u32string>& history = history_of(&slots[1]);
    std::size_t before = history.size();
    // What was printed must be out before the program waits for input.
    std::fflush(nullptr);
    editor().set_completer(complete);
    editor().setup(line, history);
    terminal::edit_status status = editor().edit(prompt, hidden);
    runtime::check_interrupt();
    if (status == terminal::edit_status::end_of_input && line.empty() && standard_input_failed())
        raise_unreadable_input();
    write_text(&slots[0], line);
    if (history.size() > before && is(&slots[1], type_id::block)) {
        cell block = slots[1];
        block.w1 = 0;
        cell* held = stack::push_value(&block);
        cell entry = slots[0];
        block::insert_one(held, &entry, false, true);
        note_history(&slots[1]);
    } else if (history.size() > before) {
        mirror.node = 0;
    }
    if (editor().console_input())
        if (auto size = editor().window_size()) set_console_size(size->columns, size->rows);
    routines::answer(status_word(status, line));
}

void terminate_console() {
    routines::answer_unset();
}

// input-stdin: one line of standard input, read as redirected input is.
void input_stdin() {
    std::fflush(nullptr);
    std::u32string line;
    terminal::edit_status status = editor().read_line(line);
    runtime::check_interrupt();
    if (status == terminal::edit_status::end_of_input && standard_input_failed())
        raise_unreadable_input();
    cell made{type_id::string, 0, memory::new_byte_series(256), 0};
    cell* s = stack::push_value(&made);
    write_text(s, line);
    routines::answer(*s);
}

// read-stdin buffer buflen: one read of standard input onto the binary's tail, never past the
// room its buffer has.
void read_stdin() {
    cell b = *stack::arg(0);
    i32 wanted = int_of(stack::arg(1));
    if (wanted > 0) {
        series_buffer* sb = buffer_of(b.w2);
        std::size_t room = static_cast<std::size_t>(data_end(sb) - tail_ptr(sb));
        std::size_t n = std::min(static_cast<std::size_t>(wanted), room);
        if (n > 0) {
            std::size_t got = editor().read_stdin(tail_ptr(sb), n);
            if (got == 0 && standard_input_failed()) raise_unreadable_input();
            buffer_of(b.w2)->tail += static_cast<u32>(got);
        }
    }
    runtime::check_interrupt();
    routines::answer_unset();
}

// system/console/init str: the title (only on a terminal; a failure changes nothing), the
// editor's start-up and the console size.
void console_init() {
    terminal::set_title(port(), utf8::encode_string(stack::arg(0)));
    initialised = true;
    editor().init();
    editor().init_globals();
    auto size = editor().window_size();
    set_console_size(size ? size->columns : 0, size ? size->rows : 0);
    routines::answer_unset();
}

const routines::definition input_routines[] = {
    {"_set-buffer-history", R"(["Internal Use Only" line [string!] hist [block!]])",
     set_buffer_history},
    {"_read-input", R"(["Internal Use Only" prompt [string!] hidden? [logic!]])", read_input},
    {"_terminate-console", "[]", terminate_console},
    {"input-stdin", R"(["Temporary function, internal use only"])", input_stdin},
    {"read-stdin",
     R"(["Temporary function, internal use only" buffer [binary!] buflen [integer!]])", read_stdin},
};

} // namespace

void bind_input_routines() {
    routines::bind_globals(input_routines);
}

void attach_init() {
    if (!field(console_object(), "init")) return;
    cell* base = stack::top;
    cell* made = routines::push_routine("[str [string!]]", console_init);
    // Making the routine may have moved the object's values: find the slot again.
    const cell* slot = field(console_object(), "init");
    if (slot) *const_cast<cell*>(slot) = *made;
    stack::top = base;
}

} // namespace zel::console_routines
