// The library's start-up stages. Embedded modules are evaluated in the order of this list, never
// in file order: each may use what the earlier stages bound and nothing later.
#include "runtime/modules.hpp"

#include <functional>

#include "console/console_binding.hpp"
#include "console/console_routines.hpp"
#include "datatypes/block.hpp"
#include "datatypes/error.hpp"
#include "datatypes/event.hpp"
#include "gui/terminal/gui_routines.hpp"
#include "datatypes/string_buffer.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/stack.hpp"
#include "lexer/boot_payload.hpp"
#include "lexer/lexer.hpp"
#include "lexer/zelbin.hpp"
#include "library/library_code.hpp"
#include "library/routine_table.hpp"
#include "library/system_services.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycle_stack.hpp"
#include "runtime/embedded.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"

namespace zel::modules {

namespace {

enum class kind {
    module,       // an embedded source file
    routines,     // the routines bound to global words
    predicates,   // the type predicates
    adopt_system, // the system object handed to the runtime units
    mark_library, // the library's functions marked as compiled ones
    // The console's input routines, and the console object's init routine.
    console_input,
    console_init,
    // The console's code bound to words of its own: the library's words noted before the
    // console's modules, the binding after them.
    console_begin,
    console_bind,
    // The GUI: event! and the global routines before its script side.
    gui_types,
};

struct stage {
    kind what;
    const char* path = nullptr;
};

const stage stages[] = {
    {kind::module, "library/base.zel"}, // none, true, false
    {kind::routines},
    {kind::module, "library/constants.zel"}, // base words, typesets, colours
    {kind::module, "library/core.zel"},      // the first library functions
    {kind::predicates},
    {kind::module, "library/converters.zel"}, // to-integer and the other converters
    {kind::module, "library/helpers.zel"}, // context, charset, cause-error, mod, modulo ...
    {kind::module, "library/files.zel"},   // file name helpers
    // collect, extract, split, replace, rejoin, sum and the other series helpers
    {kind::module, "library/series.zel"},
    // sin, cos, sqrt and the other short names of math natives
    {kind::module, "library/math_shorthands.zel"},
    // Folders, clean-path, split-path; do-file and extract-boot-args.
    {kind::module, "library/file_helpers.zel"},
    {kind::module, "library/script_runner.zel"},
    {kind::module, "library/load.zel"},         // suffix?, load, save
    {kind::module, "library/remote_cache.zel"}, // path-thru, read-thru and their kin
    {kind::module, "library/aliases.zel"},      // dt, time-it and the aliases
    {kind::module, "library/math.zel"},         // math, clock, date zones, send
    {kind::module, "library/system.zel"},       // the system object
    {kind::module, "library/parse_trace.zel"},  // parse-trace, transcode-trace, scan
    // load-json, to-json, load-csv, to-csv and their codecs in system/codecs
    {kind::module, "library/json.zel"},
    {kind::module, "library/csv.zel"},
    {kind::adopt_system},
    {kind::module, "library/operators.zel"}, // the infix operators
    // register-scheme; url-parser, decode-url and encode-url
    {kind::module, "library/url_parser.zel"},
    {kind::module, "library/reactivity.zel"},   // reactor templates, system/reactivity, react
    {kind::module, "library/preprocessor.zel"}, // preprocessor, expand-directives
    {kind::module, "library/version.zel"},   // system/version as a value
    {kind::module, "library/tools.zel"},        // trace, profile, debug and system/tools
    // The command line; the console: completion, input, shell words, the console object and
    // its configuration.
    {kind::module, "library/command_line.zel"},
    {kind::gui_types},
    {kind::module, "gui/view.zel"},     // system/view, the face templates, the support functions
    {kind::module, "gui/platform.zel"}, // the TUI helpers and the platform object, started
    {kind::module, "gui/engine.zel"},   // showing faces, the event loop entry, the dispatch
    {kind::module, "gui/layout.zel"},   // the layout dialect, make-face, alert, draw, GUI rules
    {kind::module, "gui/rtd.zel"},      // the rich-text dialect
    {kind::module, "gui/tui.zel"},      // the text renderings of widgets and the file requesters
    {kind::console_begin},
    {kind::module, "console/complete.zel"},
    {kind::console_input},
    {kind::module, "console/input.zel"},
    {kind::module, "console/shell.zel"},
    {kind::module, "console/console.zel"},
    {kind::console_init},
    {kind::module, "console/config.zel"},
    {kind::console_bind},
    {kind::module, "console/help.zel"}, // help, ?, what, source, about
    {kind::mark_library},
};

// Loads a module's code into the cell and evaluates it; false with the error report on failure.
bool evaluate_loaded(std::string_view path, std::string* failure,
                     const std::function<void(cell*)>& load);

// The report of the error in flight, as text.
std::string error_text() {
    cell* base = stack::top;
    cell* error = stack::push_value(error::thrown());
    if (!is(error, type_id::error)) {
        stack::top = base;
        return "error code " + std::to_string(error::last_code());
    }
    cell buffer;
    string::init_cell_bytes(&buffer, 64);
    cell* out = stack::push_value(&buffer);
    error::form_report(error, out, nullptr, 1 << 20);
    std::string text = utf8::encode_string(out);
    stack::top = base;
    return text;
}

std::string exit_text(u32 code) {
    switch (code) {
    case throw_code::quit:
        return "quit";
    case throw_code::halt:
        return "halt";
    case throw_code::break_:
        return "break";
    case throw_code::continue_:
        return "continue";
    case throw_code::return_:
        return "return";
    case throw_code::exit_:
        return "exit";
    case throw_code::throw_:
        return "throw";
    default:
        return "a non-local exit";
    }
}

bool run_stage(const stage& s, std::string* failure) {
    switch (s.what) {
    case kind::module: {
        std::span<const u8> data = boot_payload::module_data(s.path);
        if (data.empty()) {
            *failure = std::string("missing module ") + s.path;
            return false;
        }
        return evaluate_loaded(s.path, failure, [&](cell* code) {
            // No collection while the payload is decoded: its cells are the library's for good.
            struct collector_off {
                bool was = gc::active;
                collector_off() { gc::active = false; }
                ~collector_off() { gc::active = was; }
            } off;
            cell* decoded = block::push_new(1);
            zelbin::decode(data.data(), data.size(), decoded, decoded);
            // The payload holds the module's block as its one value.
            series_buffer* b = buffer_of(decoded->w2);
            if (used_units(b) != 1 || !is(head_cell(b), type_id::block))
                error::raise(err::E("script", "invalid-data"), decoded);
            *code = *head_cell(b);
        });
    }
    case kind::routines:
        routines::bind_runtime_routines();
        return true;
    case kind::predicates:
        routines::bind_type_predicates();
        return true;
    case kind::adopt_system:
        system_services::adopt_system();
        return true;
    case kind::mark_library:
        library_code::mark_reachable_functions();
        return true;
    case kind::console_input:
        console_routines::bind_input_routines();
        return true;
    case kind::console_init:
        console_routines::attach_init();
        return true;
    case kind::console_begin:
        console_binding::note_library_words();
        return true;
    case kind::console_bind:
        console_binding::bind_console_code();
        return true;
    case kind::gui_types:
        event::register_type();
        gui_routines::bind_globals();
        return true;
    }
    return true;
}

} // namespace

std::string_view embedded_text(std::string_view path) {
    for (int i = 0; i < embedded::file_count; i++)
        if (path == embedded::files[i].path)
            return std::string_view(embedded::files[i].text, embedded::files[i].size);
    return {};
}

bool evaluate_source(std::string_view path, std::string_view text, std::string* failure) {
    return evaluate_loaded(path, failure, [&](cell* code) {
        lexer::scan_options options;
        u32 consumed = 0;
        lexer::scan_utf8(code, reinterpret_cast<const u8*>(text.data()),
                         static_cast<u32>(text.size()), options, &consumed);
    });
}

namespace {
bool evaluate_loaded(std::string_view path, std::string* failure,
                     const std::function<void(cell*)>& load) {
    cell* base = stack::top;
    stack::mark mark = stack::save();
    u32 cycles = cycle_stack::depth();
    auto fail = [&](const std::string& what) {
        stack::restore(mark);
        if (cycle_stack::depth() > cycles) cycle_stack::drop_nodes(cycle_stack::depth() - cycles);
        interp::pending = 0;
        stack::top = base;
        *failure = std::string(path) + ": " + what;
        return false;
    };
    try {
        cell none{type_id::none, 0, 0, 0};
        cell* code = stack::push_value(&none);
        load(code);
        system_services::bind_private_words(code);
        interp::evaluate_block(code, false);
        if (interp::pending) return fail("left " + exit_text(interp::pending));
    } catch (const unwind& u) {
        if (u.code == throw_code::interrupt) throw;
        if (u.code == throw_code::error) return fail(error_text());
        return fail("left " + exit_text(u.code));
    }
    stack::top = base;
    return true;
}
} // namespace

bool run_all(std::string* failure) {
    system_services::set_up();
    for (const stage& s : stages)
        if (!run_stage(s, failure)) return false;
    return true;
}

} // namespace zel::modules
