// The command line for the library. Arguments that are not valid UTF-8 keep their bytes.
#include "library/boot_args.hpp"

#include <cstring>

#include "evaluator/stack.hpp"
#include "runtime/memory.hpp"
#include "runtime/process.hpp"
#include "runtime/unicode.hpp"

namespace zel::boot_args {

std::string raw_text(int argc, char** argv) {
    std::string raw;
    for (int i = 0; i < argc; i++) {
        std::string_view arg(argv[i] ? argv[i] : "");
        if (i > 0) raw += ' ';
        bool quoted = arg.empty() || arg.find_first_of(" \t") != std::string_view::npos;
        if (quoted) raw += '"';
        raw += arg;
        if (quoted) raw += '"';
    }
    return raw;
}

namespace {

cell* push_text(std::string_view text) {
    cell* out = stack::reserve_slot();
    init_none(out);
    utf8::decode_to_new_string(out, reinterpret_cast<const u8*>(text.data()),
                               static_cast<u32>(text.size()), utf8::flag::lossless);
    return out;
}

void command_line() {
    std::string raw = raw_text(runtime::record.argc, runtime::record.argv);
    routines::answer(*push_text(raw));
}

void arguments() {
    int argc = runtime::record.argc;
    cell block{type_id::block, 0, memory::new_cell_series(static_cast<u32>(argc) + 1), 0};
    cell* held = stack::push_value(&block);
    for (int i = 0; i < argc; i++) {
        cell* text = push_text(runtime::record.argv[i] ? runtime::record.argv[i] : "");
        cell value = *text;
        *memory::append_cell_slot(held) = value;
        stack::top = held + 1;
    }
    routines::answer(*held);
}

const routines::definition table[] = {
    {"_command-line", "[]", command_line},
    {"_boot-args", "[]", arguments},
};

} // namespace

std::span<const routines::definition> private_routines() {
    return table;
}

} // namespace zel::boot_args
