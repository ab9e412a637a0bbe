// Test helpers for the lexer: loading text, a mold of the loaded values (blocks and paths written
// here, other values through their mold handlers), the syntax error a load raises with its
// arguments, and a recording callback. A loaded block is kept (see kept_cells.hpp) so that a test
// may hold it while it allocates.
#pragma once
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "datatypes/registry.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "lexer/lexer.hpp"
#include "runtime/collector.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"
#include "tests/unit/kept_cells.hpp"

namespace zel::test {

inline std::string text_of_string(const cell& s) {
    cell copy = s;
    return utf8::encode_string(&copy);
}

inline std::string molded(const cell& value, bool own_strings = true);

inline std::string molded_series(const cell& block, const char* open, const char* close,
                                 const char* separator, bool own_strings) {
    cell series = block;
    gc::root keep(&series); // molding the items may collect
    std::string out = open;
    u32 n = used_units(buffer_of(series.w2));
    for (u32 i = series.w1; i < n; i++) {
        if (i > series.w1) out += separator;
        out += molded(*(head_cell(buffer_of(series.w2)) + i), own_strings);
    }
    return out + close;
}

// Blocks, parens, paths and maps are written here, strings too unless `own_strings` is clear
// and string! has its mold; the rest through the type's mold.
inline std::string molded(const cell& value, bool own_strings) {
    switch (type_of(&value)) {
    case type_id::block:
        return molded_series(value, "[", "]", " ", own_strings);
    case type_id::paren:
        return molded_series(value, "(", ")", " ", own_strings);
    case type_id::path:
        return molded_series(value, "", "", "/", own_strings);
    case type_id::lit_path:
        return molded_series(value, "'", "", "/", own_strings);
    case type_id::get_path:
        return molded_series(value, ":", "", "/", own_strings);
    case type_id::set_path:
        return molded_series(value, "", ":", "/", own_strings);
    case type_id::map:
        return molded_series(value, "#[", "]", " ", own_strings);
    }
    bool own = is(&value, type_id::string) && own_strings;
    if (own || !act::handler<act::slot::mold>(type_of(&value))) {
        // A string written with the escapes the lexer reads, until string! molds itself.
        if (!is(&value, type_id::string)) return "<no mold>";
        std::string out = "\"";
        for (char c : text_of_string(value)) {
            if (c == '"' || c == '^') out += '^';
            out += c == '\n'   ? std::string("^/")
                   : c == '\t' ? std::string("^-")
                               : std::string(1, c);
        }
        return out + "\"";
    }
    cell copy = value;
    gc::root keep(&copy); // the buffer's growth may collect
    cell out;
    out::new_string(&out);
    gc::root keep_out(&out);
    actions::mold_typed(&copy, &out, false, false, false, nullptr, 0x7FFFFFFF, 0);
    return utf8::encode_string(&out);
}

// Full load of the UTF-8 text: the block of values, kept.
inline cell load(std::string_view text, lexer::callback* cb = nullptr) {
    cell result;
    init_none(&result);
    lexer::scan_options o;
    o.cb = cb;
    lexer::scan_utf8(&result, reinterpret_cast<const u8*>(text.data()),
                     static_cast<u32>(text.size()), o, nullptr);
    return keep(result);
}

inline std::string load_molded(std::string_view text, lexer::callback* cb = nullptr,
                               bool own_strings = true) {
    kept_scope scope;
    return molded(load(text, cb), own_strings);
}

// The syntax error a load raises: its id, the line text, the middle argument molded (a
// datatype or the missing character) and the excerpt. Empty id when nothing is raised.
struct raised_error {
    std::string id;
    std::string line;
    std::string middle;
    std::string excerpt;
};

inline raised_error& captured() {
    static raised_error e;
    return e;
}

inline cell capturing_builder(err::id id, const cell* a1, const cell* a2, const cell* a3) {
    raised_error& e = captured();
    e = {};
    u32 index = 2;
    for (const err::entry& entry : err::entries) {
        if (entry.category != id.category) continue;
        if (index++ == id.index) e.id = std::string(entry.name);
    }
    const cell* args[3] = {a1, a2, a3};
    std::vector<const cell*> given;
    for (const cell* a : args)
        if (a) given.push_back(a);
    if (!given.empty() && is(given.front(), type_id::string)) e.line = text_of_string(*given[0]);
    if (given.size() == 3) e.middle = molded(*given[1]);
    if (given.size() >= 2 && is(given.back(), type_id::string))
        e.excerpt = text_of_string(*given.back());
    return cell{type_id::error, 0, id.code(), 0};
}

inline raised_error load_error(std::string_view text, lexer::callback* cb = nullptr) {
    auto saved = error::builder;
    error::builder = capturing_builder;
    captured() = {};
    stack::mark m = stack::save();
    kept_scope scope;
    try {
        load(text, cb);
    } catch (const unwind&) {
        stack::restore(m);
    }
    error::builder = saved;
    return captured();
}

// Records every event as "event type line start-end" (or "load type value").
struct recorder : lexer::callback {
    std::vector<std::string> events;
    u32 mask = lexer::event::all;
    // Answer false to this event when `refuse` matches "event type".
    std::string refuse;
    u32 event_mask() const override { return mask; }
    bool on_event(lexer::event_args& a) override {
        cell w = lexer::event_word(a.event);
        std::string e = symbol::text(w.w2);
        std::string t = molded(a.type);
        std::string line = e + " " + t + " " + std::to_string(a.line) + " ";
        if (a.event == lexer::event::load)
            line += molded(a.value);
        else
            line += std::to_string(a.token_start) + "-" + std::to_string(a.token_end);
        line += " @" + std::to_string(a.input);
        events.push_back(line);
        return refuse.empty() || (e + " " + t) != refuse;
    }
};

} // namespace zel::test
