// The runtime's services that the library's own code reaches: routines held in a private
// context to which the loader binds their words (names beginning with "_") in the embedded
// sources only, and the hand-over of the finished system object to the runtime units.
#include "library/system_services.hpp"

#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "datatypes/basic.hpp"
#include "datatypes/context.hpp"
#include "datatypes/date.hpp"
#include "datatypes/error.hpp"
#include "datatypes/float.hpp"
#include "datatypes/handle.hpp"
#include "datatypes/object.hpp"
#include "datatypes/port.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/load_text.hpp"
#include "evaluator/stack.hpp"
#include "lexer/lexer.hpp"
#include "gui/terminal/gui_routines.hpp"
#include "lexer/zelbin_codec.hpp"
#include "library/boot_args.hpp"
#include "library/cache_files.hpp"
#include "library/image_codecs.hpp"
#include "library/json_routines.hpp"
#include "library/routine_table.hpp"
#include "runtime/collector.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/roots.hpp"
#include "runtime/unicode.hpp"

namespace zel::system_services {

bool full_float_support = false;

namespace {

cell* services = nullptr; // rooted: the object of the private routines

void system_words() {
    cell o = object::make_cell(context::global_node(), -1, 0);
    routines::answer(o);
}

void error_catalog() {
    routines::answer(*error::catalog());
}

void exit_states() {
    cell* out = stack::push_value(stack::arguments);
    lexer::make_exit_states(out);
    routines::answer(*out);
}

// The build's date, from the compiler's date and time of this unit.
void build_date() {
    static const char* months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const char* d = __DATE__; // "Mmm dd yyyy"
    const char* t = __TIME__; // "hh:mm:ss"
    int month = static_cast<int>((std::strstr(months, std::string(d, 3).c_str()) - months) / 3) + 1;
    int day = 0, year = 0, h = 0, m = 0, s = 0;
    std::sscanf(d + 4, "%d %d", &day, &year);
    std::sscanf(t, "%d:%d:%d", &h, &m, &s);
    cell date;
    date::init_cell_hms(&date, year, month, day, h, m, s, 0);
    routines::answer(date);
}

// [word value]: the float formatter's flags that system/options/float mirrors.
void float_flag() {
    cell word = *stack::arg(0);
    bool on = is_truthy(stack::arg(1));
    u32 s = symbol::canonical_id(word.w2);
    if (s == symbol::canonical_id(symbol::intern_text("pretty?")))
        float_::pretty = on;
    else if (s == symbol::canonical_id(symbol::intern_text("full?")))
        full_float_support = on;
    routines::answer_unset();
}

// Some user code is being evaluated: library code never moves the interpreter's position.
void interpreted() {
    routines::answer_logic(interp::code_node != 0);
}

void null_handle() {
    cell h;
    handle::init_cell(&h, 0, handle::kind::none);
    routines::answer(h);
}

// event! belongs to the GUI backend, which registers it later; its typeset bit is known now.
void event_type() {
    cell t;
    routines::answer(*init_datatype(&t, type_id::event));
}

void gc_active() {
    routines::answer_logic(gc::active);
}
void gc_series_cycles() {
    routines::answer_integer(static_cast<i32>(gc::series_cycles));
}
void gc_nodes_cycles() {
    routines::answer_integer(static_cast<i32>(gc::nodes_cycles));
}

const routines::definition table[] = {
    {"_system-words", "[]", system_words},
    {"_error-catalog", "[]", error_catalog},
    {"_exit-states", "[]", exit_states},
    {"_build-date", "[]", build_date},
    {"_null-handle", "[]", null_handle},
    {"_event-type", "[]", event_type},
    {"_float-flag", "[word [word!] value]", float_flag},
    {"_interpreted?", "[]", interpreted},
    {"_gc-active?", "[]", gc_active},
    {"_gc-series-cycles", "[]", gc_series_cycles},
    {"_gc-nodes-cycles", "[]", gc_nodes_cycles},
    {"_replace-file", "[path [file!] data [binary!]]", cache_files::replace_file_routine},
    {"_text-of-bytes", "[data [binary!]]", cache_files::text_of_bytes_routine},
};

// A field of an object as a copy (none! when the value is not an object or has no such field):
// interning the name may allocate, so no address into the object is kept.
cell field(const cell& object, std::string_view name) {
    cell none{type_id::none, 0, 0, 0};
    if (!is_object_type(type_of(&object))) return none;
    u32 symbol = symbol::intern_text(name);
    return *object::field_value(&object, symbol);
}

// The catalog's message templates were kept as source text until the lexer could load them.
void load_message_templates() {
    const cell* catalog = error::catalog(); // a rooted slot
    u32 categories = object::field_count(catalog);
    for (u32 c = 0; c < categories; c++) {
        cell category = context::values_base(catalog->w1)[c];
        if (!is(&category, type_id::object)) continue;
        u32 n = object::field_count(&category);
        for (u32 i = 0; i < n; i++) {
            cell message = context::values_base(category.w1)[i];
            if (!is(&message, type_id::string)) continue;
            std::string text = utf8::encode_string(&message);
            if (text.empty() || text.front() != '[') continue;
            cell loaded;
            if (load_text::spec_from_text(text, &loaded))
                context::values_base(category.w1)[i] = loaded;
        }
    }
}

} // namespace

void set_up() {
    if (services) return;
    load_message_templates();
    cell none{type_id::none, 0, 0, 0};
    services = roots::append(&none);
    cell* base = stack::top;
    cell* o = stack::push_value(&none);
    object::init_cell_empty(o, sizeof table / sizeof table[0]);
    *services = *o;
    for (auto group : {std::span<const routines::definition>(table), boot_args::private_routines(),
                       image_codecs::private_routines(), json_routines::private_routines(),
                       gui_routines::private_routines(), zelbin_codec::private_routines()}) {
        for (const routines::definition& d : group) {
            cell* r = routines::push_routine(d.interface, d.fn);
            cell key{type_id::word, 0, symbol::intern_text(d.name), context::unbound};
            context::put_word_value(services->w1, &key, r);
            stack::top = o + 1;
        }
    }
    stack::top = base;
}

void bind_private_words(const cell* block) {
    u32 ctx = services->w1;
    // The symbols of the private names, marked once: most words of the library are not among
    // them, and a mark is cheaper than a lookup.
    static std::vector<bool> marked;
    static u32 marked_keys = 0;
    u32 keys = context::key_count(ctx);
    if (keys != marked_keys) {
        marked.clear();
        for (u32 k = 0; k < keys; k++) {
            u32 symbol = context::key_word(ctx, k)->w2;
            if (symbol >= marked.size()) marked.resize(symbol + 1);
            marked[symbol] = true;
        }
        marked_keys = keys;
    }
    std::vector<u32> pending{block->w2};
    // The nodes seen (a block may hold one series twice): an open-addressed set, grown at half
    // full. Node 0 is never a series.
    std::vector<u32> seen(1024, 0);
    u32 seen_count = 0;
    auto first_visit = [&](u32 node) {
        u32 mask = static_cast<u32>(seen.size()) - 1;
        u32 at = (node * 2654435761u) & mask;
        while (seen[at]) {
            if (seen[at] == node) return false;
            at = (at + 1) & mask;
        }
        seen[at] = node;
        if (++seen_count * 2 > seen.size()) {
            std::vector<u32> old(seen.size() * 2, 0);
            old.swap(seen);
            u32 grown = static_cast<u32>(seen.size()) - 1;
            for (u32 n : old) {
                if (!n) continue;
                u32 k = (n * 2654435761u) & grown;
                while (seen[k]) k = (k + 1) & grown;
                seen[k] = n;
            }
        }
        return true;
    };
    while (!pending.empty()) {
        u32 node = pending.back();
        pending.pop_back();
        if (!first_visit(node)) continue;
        u32 n = used_units(buffer_of(node));
        for (u32 i = 0; i < n; i++) {
            cell* c = head_cell(buffer_of(node)) + i;
            u32 t = type_of(c);
            if (is_any_block_type(t) && c->w2) {
                pending.push_back(c->w2);
            } else if (is_any_word_type(t) && t != type_id::refinement && t != type_id::issue &&
                       c->w2 < marked.size() && marked[c->w2]) {
                // Only the private names: they begin with "_".
                i32 slot = context::find_symbol_index(ctx, c->w2, false);
                if (slot >= 0) {
                    c->w1 = ctx;
                    c->w3 = static_cast<u32>(slot);
                }
            }
        }
    }
}

void adopt_system() {
    cell w = context::global_word(sym::system);
    cell system = *context::word_value_address(&w);
    if (!is(&system, type_id::object)) error::raise(err::E("script", "no-value"), &w);
    cell* held = stack::push_value(&system);
    cell state = field(*held, "state");
    if (is(&state, type_id::object)) error::set_state(&state);
    cell standard = field(*held, "standard");
    cell error_proto = field(standard, "error");
    if (is(&error_proto, type_id::object)) error::set_prototype(&error_proto);
    cell port_proto = field(standard, "port");
    cell schemes = field(*held, "schemes");
    if (is(&port_proto, type_id::object)) {
        cell none{type_id::none, 0, 0, 0};
        port::set_environment(&port_proto, &none, &schemes);
    }
    cell months = field(field(*held, "locale"), "months");
    if (is(&months, type_id::block)) date::set_month_list(months.w2);
    stack::drop_values(1);
}

} // namespace zel::system_services
