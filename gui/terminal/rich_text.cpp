// Rich-text styles on cells.
#include "gui/terminal/rich_text.hpp"

#include <algorithm>

#include "datatypes/context.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/tuple.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"

namespace zel::tui {

u32 colour_of_tuple(const cell* t) {
    const u8* b = tuple::bytes_of(t);
    int alpha = tuple::length_of(t) >= 4 ? b[3] : 0;
    return colour::from_rgba(b[0], b[1], b[2], alpha);
}

namespace {

bool is_word(const cell* c, std::string_view text) {
    return type_of(c) == type_id::word &&
           symbol::canonical_id(c->w2) == symbol::canonical_id(symbol::intern_text(text));
}

} // namespace

std::vector<screen_cell> styled_cells(const std::u32string& text, const cell* styles, u32 fg,
                                      u32 bg) {
    std::vector<screen_cell> cells(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) cells[i] = {static_cast<u32>(text[i]), bg, fg, 0};
    if (!styles || !is(styles, type_id::block)) return cells;
    std::size_t from = 0, to = 0; // the selected range
    u32 node = styles->w2;
    u32 n = used_units(buffer_of(node));
    auto at = [&](u32 i) { return head_cell(buffer_of(node)) + i; };
    auto apply = [&](auto&& change) {
        for (std::size_t k = from; k < to; ++k) change(cells[k]);
    };
    for (u32 i = styles->w1; i < n; ++i) {
        const cell* v = at(i);
        u32 t = type_of(v);
        if (t == type_id::pair) {
            i32 start = static_cast<i32>(v->w2), length = static_cast<i32>(v->w3);
            i64 first = std::clamp<i64>(i64(start) - 1, 0, static_cast<i64>(text.size()));
            from = static_cast<std::size_t>(first);
            to = static_cast<std::size_t>(
                std::clamp<i64>(first + std::max(length, 0), first, static_cast<i64>(text.size())));
        } else if (t == type_id::tuple) {
            u32 code = colour_of_tuple(v);
            apply([&](screen_cell& c) { c.fg = code; });
        } else if (is_word(v, "backdrop")) {
            if (i + 1 >= n) break;
            cell colour = *at(++i);
            if (type_of(&colour) == type_id::word) {
                if (cell* held = context::word_value_address(&colour)) colour = *held;
            }
            if (type_of(&colour) == type_id::tuple) {
                u32 code = colour_of_tuple(&colour);
                apply([&](screen_cell& c) { c.bg = code; });
            }
        } else if (is_word(v, "bold") || is_word(v, "italic") || is_word(v, "underline") ||
                   is_word(v, "strike")) {
            u32 flag = is_word(v, "bold")        ? attr::bold
                       : is_word(v, "italic")    ? attr::italic
                       : is_word(v, "underline") ? attr::underline
                                                 : attr::strike;
            apply([&](screen_cell& c) { c.flags |= flag; });
            if (flag == attr::underline || flag == attr::strike) {
                // An optional colour and style word follow; the terminal has no use for them.
                if (i + 1 < n && type_of(at(i + 1)) == type_id::tuple) ++i;
                if (i + 1 < n && type_of(at(i + 1)) == type_id::lit_word) ++i;
            }
        } else if (is_word(v, "border") || t == type_id::string || t == type_id::integer ||
                   t == type_id::float_) {
            // Fonts and borders have no meaning in cells.
        } else {
            cell block = *styles;
            cell position = *styles;
            position.w1 = i;
            error::raise(err::E("script", "draw-invalid"), &block, &position);
        }
    }
    return cells;
}

} // namespace zel::tui
