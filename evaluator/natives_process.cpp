// Natives that start other programs: call and browse.
#include <cstring>

#include "datatypes/file.hpp"
#include "evaluator/native_families.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/platform/child_process.hpp"
#include "runtime/platform/formed.hpp"
#include "runtime/unicode.hpp"

namespace zel::natives {

namespace {
using stack::arg;

// The OS text of a string or file argument from its index; none when a file! holds a NUL.
std::optional<std::string> os_text(const cell* value) {
    if (is(value, type_id::file)) return file::to_os_text(value);
    return utf8::encode_string(value, -1, utf8::flag::lossless);
}

// Where a redirection refinement sends or takes a stream; false when a file! names nothing the
// OS can take.
bool redirection(const cell* value, process::stream& kind, std::string& data, bool input) {
    if (is(value, type_id::file)) {
        std::optional<std::string> name = file::to_os_text(value);
        if (!name) return false;
        kind = process::stream::file;
        data = *name;
        return true;
    }
    kind = process::stream::memory;
    if (input) data = is(value, type_id::binary) ? platform::bytes_of(value) : *os_text(value);
    return true;
}

// Appends what a child wrote to the string! or binary! that asked for it.
void collect(cell* target, const std::string& bytes) {
    if (bytes.empty() || is(target, type_id::file)) return;
    if (bytes.size() >= 0x7FFFFFFF) error::raise(err::E("script", "size-limit"), target);
    if (is(target, type_id::binary)) {
        u8* tail =
            memory::reserve_tail_bytes(buffer_of(target->w2), static_cast<u32>(bytes.size()));
        std::memcpy(tail, bytes.data(), bytes.size());
        return;
    }
    utf8::decode_into_buffer(reinterpret_cast<const u8*>(bytes.data()),
                             static_cast<u32>(bytes.size()), target,
                             utf8::flag::crlf | utf8::flag::lossless);
}

void integer_result(i32 n) {
    init_integer(arg(0), n);
    stack::top = stack::arguments + 1;
}

// Single-quoted for the shell: a file name run through "/bin/sh -c" stays one word.
std::string shell_quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Without /shell a string is split into the program and its arguments; a program that is not
// found is tried once more through the shell. A command that names nothing to run answers -1,
// the result of a command that cannot start.
void call(const i32* refs) {
    bool wait = refs[0] >= 0, console = refs[2] >= 0, shell = refs[3] >= 0;
    cell* input = refs[4] >= 0 ? arg(static_cast<u32>(refs[4])) : nullptr;
    cell* output = refs[5] >= 0 ? arg(static_cast<u32>(refs[5])) : nullptr;
    cell* error = refs[6] >= 0 ? arg(static_cast<u32>(refs[6])) : nullptr;

    std::optional<std::string> command = os_text(arg(0));
    if (!command || command->find_first_not_of(" \t\r\n") == std::string::npos)
        return integer_result(-1);
    process::request r;
    bool is_file = is(arg(0), type_id::file);
    std::string shell_text = is_file ? shell_quoted(*command) : *command;
    if (shell) {
        r.argv = {"/bin/sh", "-c", shell_text};
    } else {
        r.argv = is_file ? std::vector<std::string>{*command} : process::split_command(*command);
        r.shell_retry = true;
        r.shell_text = shell_text;
    }
    process::stream unredirected = console ? process::stream::inherit : process::stream::null;
    r.output = r.error = unredirected;
    if (input && !redirection(input, r.input, r.input_bytes, true)) return integer_result(-1);
    if (output && !redirection(output, r.output, r.output_file, false)) return integer_result(-1);
    if (error && !redirection(error, r.error, r.error_file, false)) return integer_result(-1);
    r.wait = wait || console;

    process::outcome done = process::run(r);
    if (done.started) {
        if (output) collect(output, done.output);
        if (error) collect(error, done.error);
    }
    integer_result(done.status);
}

// The argument goes to the desktop's opener as one argument, never through a shell.
void browse(const i32*) {
    std::optional<std::string> target = os_text(arg(0));
    if (!target) error::raise(err::E("script", "invalid-arg"), arg(0));
    // A file name that begins with "-" would be taken for an option.
    if (is(arg(0), type_id::file) && !target->empty() && (*target)[0] == '-')
        target->insert(0, "./");
    if (!process::start_detached({"xdg-open", *target}))
        error::raise(err::E("access", "cannot-open"), arg(0));
    init_unset(arg(0));
    stack::top = stack::arguments + 1;
}

const families::entry table[] = {
    {"call", call},
    {"browse", browse},
};
} // namespace

std::span<const families::entry> families::processes() {
    return table;
}

} // namespace zel::natives
