// Writing and measuring text in cells. Each character's width comes from the runtime's display
// width table, so that measuring and writing always agree.
#include "gui/terminal/text_layout.hpp"

#include <algorithm>
#include <vector>

#include "runtime/display_width.hpp"

namespace zel::tui {

namespace {

int width_of(char32_t c) {
    return display_width::codepoint_columns(static_cast<u32>(c));
}

// SGR codes from a text: attributes, 16-colour and 256-colour codes.
void apply_sgr(const std::vector<u32>& p, paint_state& s) {
    for (std::size_t i = 0; i < p.size(); ++i) {
        u32 n = p[i];
        auto flag_of = [](u32 code) -> u32 {
            switch (code) {
            case 1:
                return attr::bold;
            case 2:
                return attr::dim;
            case 3:
                return attr::italic;
            case 4:
                return attr::underline;
            case 5:
                return attr::blink;
            case 7:
                return attr::reverse;
            case 8:
                return attr::concealed;
            case 9:
                return attr::strike;
            default:
                return 0;
            }
        };
        if (n == 0) {
            s.attributes = 0;
            s.fg = colour::default_;
            s.bg = paint_state::keep;
        } else if (n <= 9) {
            s.attributes |= flag_of(n);
        } else if (n >= 21 && n <= 29) {
            s.attributes &= ~flag_of(n - 20);
        } else if (n >= 30 && n <= 37) {
            s.fg = colour::table16(n - 30);
        } else if (n == 39) {
            s.fg = colour::table16(9);
        } else if (n >= 40 && n <= 47) {
            s.bg = colour::table16(n - 40);
        } else if (n == 49) {
            s.bg = colour::table16(9);
        } else if (n >= 90 && n <= 97) {
            s.fg = colour::table16(n - 90 + 10);
        } else if (n >= 100 && n <= 107) {
            s.bg = colour::table16(n - 100 + 10);
        } else if (n == 38 || n == 48) {
            if (i + 2 < p.size() && p[i + 1] == 5) {
                u32 code = colour::palette(p[i + 2] & 0xFF);
                (n == 38 ? s.fg : s.bg) = code;
                i += 2;
            } else {
                return; // another form of 38 or 48 sets nothing
            }
        }
    }
}

// Reads the control sequence that starts at text[i] (an ESC); answers the index past it.
std::size_t control_sequence(const std::u32string& text, std::size_t i, paint_state& s) {
    std::size_t n = text.size();
    if (i + 1 >= n || text[i + 1] != U'[') return i + 1;
    std::vector<u32> params;
    u32 current = 0;
    bool any = false;
    for (std::size_t j = i + 2; j < n; ++j) {
        char32_t c = text[j];
        if (c >= U'0' && c <= U'9') {
            current = (current * 10 + static_cast<u32>(c - U'0')) % 65535;
            any = true;
        } else if (c == U';') {
            params.push_back(current);
            current = 0;
            any = true;
        } else if (c >= 64 && c <= 126) {
            if (any) params.push_back(current);
            if (c == U'm' && !params.empty()) apply_sgr(params, s);
            return j + 1;
        } else {
            return j + 1; // not a sequence of this kind: it ends here
        }
    }
    return n;
}

} // namespace

void write_text(screen_buffer& buffer, const std::u32string& text, int x, int y,
                const clip_rect& clip_in, paint_state& state) {
    clip_rect clip = clip_in;
    clip.left = std::max(clip.left, 0);
    clip.top = std::max(clip.top, 0);
    clip.right = std::min(clip.right, buffer.width());
    clip.bottom = std::min(clip.bottom, buffer.height());
    if (clip.left >= clip.right || clip.top >= clip.bottom) return;
    bool wrap = state.align & align::wrap;
    bool escapes = state.flags & paint::escapes;
    int row = y, col = x;
    bool skipping = false; // the rest of a line cut at the right edge
    std::size_t i = 0, n = text.size();
    while (i < n && row < clip.bottom) {
        char32_t c = text[i];
        if (escapes && c == 0x1B) {
            i = control_sequence(text, i, state);
            continue;
        }
        if (c == U'\n') {
            ++row;
            col = x;
            skipping = false;
            ++i;
            continue;
        }
        if (skipping) {
            ++i;
            continue;
        }
        int w = width_of(c);
        if (w == 0) {
            ++i;
            continue;
        }
        if (col + w > clip.right) {
            if (wrap && col > x) {
                ++row;
                col = x;
                continue; // the character starts the next row
            }
            skipping = true;
            ++i;
            continue;
        }
        if (row >= clip.top && col >= clip.left) {
            screen_cell* cell = buffer.row(row) + col;
            cell->code = static_cast<u32>(c);
            cell->fg = state.fg;
            if (state.bg != paint_state::keep) cell->bg = state.bg;
            cell->flags = state.attributes | state.flags;
            if (w == 2) {
                cell[1] = *cell;
                cell[1].code = 0;
                cell[1].flags |= attr::wide_second;
            }
        }
        col += w;
        ++i;
    }
}

measure_result measure(const std::u32string& text, int limit) {
    measure_result r;
    int line = 0;
    for (char32_t c : text) {
        if (c == U'\n') {
            ++r.lines;
            line = 0;
            ++r.consumed;
            continue;
        }
        int w = width_of(c);
        if (limit >= 0 && line + w > limit) break; // the overflowing character is not taken
        line += w;
        ++r.consumed;
        r.width = std::max(r.width, line);
        if (limit >= 0 && line >= limit) break;
    }
    return r;
}

measure_result measure_wrapped(const std::u32string& text, int limit) {
    measure_result r;
    int line = 0;
    for (char32_t c : text) {
        if (c == U'\n') {
            ++r.lines;
            line = 0;
            continue;
        }
        int w = width_of(c);
        if (limit >= 0 && line + w > limit) {
            if (line == 0) break; // wider than the whole width
            ++r.lines;
            line = 0;
            if (w > limit) break;
        }
        line += w;
        r.width = std::max(r.width, line);
    }
    return r;
}

offset aligned(const std::u32string& text, int w, int h, u32 bits) {
    offset o{0, 0};
    if (!bits) return o;
    measure_result m = measure_wrapped(text, w);
    if (m.width < w) {
        if (bits & align::center)
            o.x = (w - m.width) / 2;
        else if (bits & align::right)
            o.x = w - m.width;
    }
    if (m.lines < h) {
        if (bits & align::middle)
            o.y = (h - m.lines) / 2;
        else if (bits & align::bottom)
            o.y = h - m.lines;
    }
    return o;
}

namespace {
// Start position (column, line from 0) of every character and of the end, wrapped at limit.
struct placed {
    std::vector<int> column, line;
};
placed place(const std::u32string& text, int limit) {
    placed p;
    int col = 0, line = 0;
    for (char32_t c : text) {
        int w = c == U'\n' ? 0 : width_of(c);
        if (c != U'\n' && limit >= 0 && col > 0 && col + w > limit) {
            ++line;
            col = 0;
        }
        p.column.push_back(col);
        p.line.push_back(line);
        if (c == U'\n') {
            ++line;
            col = 0;
        } else {
            col += w;
        }
    }
    p.column.push_back(col);
    p.line.push_back(line);
    return p;
}

// Characters up to column x of line y, counted from 1.
int index_at(const placed& p, double x, double y) {
    int n = static_cast<int>(p.column.size()) - 1;
    int i = 0;
    while (i < n && p.line[i] < y) ++i;
    while (i < n && p.line[i] == static_cast<int>(y) && p.column[i + 1] <= x &&
           p.line[i + 1] == p.line[i])
        ++i;
    return i + 1;
}
} // namespace

metric text_box_metric(const std::u32string& text, int limit, int kind, double x, double y) {
    switch (kind) {
    case 0:
    case 6: {
        placed p = place(text, limit);
        int n = static_cast<int>(text.size());
        int i = std::clamp(static_cast<int>(x), 0, n);
        if (kind == 0) {
            int at = i > 0 ? i - 1 : 0; // where the i-th character starts
            return {metric::point, double(p.column[at]), double(p.line[at])};
        }
        return {metric::point, double(p.column[i]), double(p.line[i] + 1)};
    }
    case 1:
    case 5: {
        placed p = place(text, limit);
        int i = index_at(p, x, y);
        if (kind == 5 && i > static_cast<int>(text.size())) --i;
        return {metric::integer, double(i), 0};
    }
    case 2:
        return {metric::real, 1.0, 0};
    case 3: {
        measure_result m = measure_wrapped(text, limit);
        return {metric::point, double(m.width), double(m.lines)};
    }
    default:
        return {metric::integer, double(measure_wrapped(text, limit).lines), 0};
    }
}

} // namespace zel::tui
