// file!: mold, the OS form of names, the I/O actions and the action row.
#include "datatypes/file.hpp"

#include <string>

#include "datatypes/registry.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/text_out.hpp"
#include "datatypes/url.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/file_io.hpp"
#include "runtime/os_services.hpp"
#include "runtime/unicode.hpp"

namespace zel::file {

std::optional<std::string> to_os_text(const cell* file) {
    std::string text = utf8::encode_string(file, -1, utf8::flag::lossless);
    if (text.find('\0') != std::string::npos) return std::nullopt;
    return text;
}

void to_os_separators(const cell* file, cell* target, bool full) {
    cell source = *file;
    cell* held = stack::push_value(&source);
    if (full &&
        (string::units_from_head(held) == 0 || string::char_at_index(held, held->w1) != '/')) {
        std::string dir = os_current_dir();
        if (dir.empty()) error::raise(err::E("access", "cannot-open"), held);
        cell prefix;
        init_cell_os_name(&prefix, dir, false);
        cell* p = stack::push_value(&prefix);
        string::append_text_part(target, p, -1, true);
    }
    string::append_text_part(target, held, -1, true);
    stack::top = held;
}

std::string os_current_dir() {
    std::string dir = os::current_dir_text();
    if (!dir.empty() && dir.back() != '/') dir += '/';
    return dir;
}

void init_cell_os_name(cell* slot, std::string_view os_name, bool folder) {
    cell made;
    utf8::decode_to_new_string(&made, reinterpret_cast<const u8*>(os_name.data()),
                               static_cast<u32>(os_name.size()), utf8::flag::lossless);
    cell_ops::write_type(&made, type_id::file);
    if (folder) {
        cell* held = stack::push_value(&made);
        string::append_codepoint(buffer_of(held->w2), '/');
        made = *held;
        stack::top = held;
    }
    *slot = made;
}

namespace {
// Whether the name must be quoted to read back as one file: a character below 127 outside the
// URL set, or one that ends an unquoted file ("(", ")", ":", "@").
bool needs_quotes(u32 cp) {
    if (cp >= 127) return false;
    return !url::in_url_set(cp) || cp == '(' || cp == ')' || cp == ':' || cp == '@';
}

// Inside the quotes a double quote, "^" and control characters other than TAB are escaped, so
// that the quoted text reads back as the same name.
void append_quoted_char(std::u32string& text, u32 cp) {
    static const char hex[] = "0123456789ABCDEF";
    if (cp == '^') {
        text += U"^^";
    } else if (cp == '\n') {
        text += U"^/";
    } else if (cp == '"' || (cp < 0x20 && cp != '\t')) {
        text += U"^(";
        text += static_cast<char32_t>(hex[cp >> 4]);
        text += static_cast<char32_t>(hex[cp & 15]);
        text += U')';
    } else {
        text += static_cast<char32_t>(cp);
    }
}

i32 mold(cell* value, cell* buffer, bool, bool, bool, cell* part, i32 limit, i32) {
    limit = out::text(buffer, "%", limit);
    u32 n = string::units_from_head(value);
    if (n == 0) return out::text(buffer, "\"\"", limit);
    if (part && limit >= 0 && static_cast<u32>(limit) < n) n = static_cast<u32>(limit);
    u32 unit = unit_of(buffer_of(value->w2));
    const u8* head = string::head_address(value);
    bool quoted = false;
    for (u32 i = 0; i < n && !quoted; i++)
        quoted = needs_quotes(string::read_unit(head + i * unit, unit));
    if (!quoted) return url::append_text(buffer, value, part, limit);
    std::u32string text = U"\"";
    for (u32 i = 0; i < n; i++) append_quoted_char(text, string::read_unit(head + i * unit, unit));
    text += U'"';
    series_buffer* out = buffer_of(buffer->w2);
    for (char32_t cp : text) out = string::append_codepoint(out, cp);
    return limit - static_cast<i32>(text.size());
}

[[noreturn]] void not_done() {
    error::raise(err::E("internal", "not-done"));
}

cell* read(cell* source, cell* part, cell* seek, bool binary, bool lines, bool, cell* as) {
    if (as) not_done();
    return fs::read_path(source, part, seek, binary, lines);
}

cell* write(cell* destination, cell* data, bool binary, bool lines, bool, bool append, cell* part,
            cell* seek, cell* allow, cell* as) {
    if (allow || as) not_done();
    fs::write_failure why;
    if (fs::write_path(destination, data, part, seek, binary, append, lines, &why) < 0) {
        if (why.opened) fs::raise_write_failure(destination, why.error);
        error::raise(err::E("access", "cannot-open"), destination);
    }
    cell done;
    return stack::push_value(init_unset(&done));
}

void delete_(cell* file) {
    init_logic(file, fs::remove_path(file));
}

void query(cell* file) {
    cell* result = fs::stat_path(file);
    cell date = *result;
    stack::top = result;
    *file = date;
}

void rename(cell* from, cell* to) {
    if (!is_any_string_type(type_of(to))) error::raise(err::E("script", "invalid-arg"), to);
    init_logic(from, fs::move_path(from, to));
}
} // namespace

void register_type() {
    datatype::register_row(action_row{.type = type_id::file,
                                      .parent = type_id::url,
                                      .name = "file!",
                                      .make = act::inherit,
                                      .to = act::inherit,
                                      .form = act::inherit,
                                      .mold = mold,
                                      .eval_path = act::inherit,
                                      .compare = act::inherit,
                                      .append = act::inherit,
                                      .at = act::inherit,
                                      .back = act::inherit,
                                      .change = act::inherit,
                                      .clear = act::inherit,
                                      .copy = act::inherit,
                                      .find = act::inherit,
                                      .head = act::inherit,
                                      .head_q = act::inherit,
                                      .index_q = act::inherit,
                                      .insert = act::inherit,
                                      .length_q = act::inherit,
                                      .move = act::inherit,
                                      .next = act::inherit,
                                      .pick = act::inherit,
                                      .poke = act::inherit,
                                      .remove = act::inherit,
                                      .reverse = act::inherit,
                                      .select = act::inherit,
                                      .skip = act::inherit,
                                      .swap = act::inherit,
                                      .tail = act::inherit,
                                      .tail_q = act::inherit,
                                      .take = act::inherit,
                                      .delete_ = delete_,
                                      .modify = act::inherit,
                                      .query = query,
                                      .read = read,
                                      .rename = rename,
                                      .write = write});
}

} // namespace zel::file
