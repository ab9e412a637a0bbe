// file!: mold and the action row.
#include "datatypes/file.hpp"

#include <string>

#include "datatypes/registry.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/text_out.hpp"
#include "datatypes/url.hpp"

namespace zel::file {

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
} // namespace

void register_type() {
    datatype::register_row(action_row{.type = type_id::file,
                                      .parent = type_id::url,
                                      .name = "file!",
                                      .make = act::inherit,
                                      .to = act::inherit,
                                      .form = act::inherit,
                                      .mold = mold,
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
                                      .modify = act::inherit});
}

} // namespace zel::file
