// The draw dialect in cells: a reader that checks each command's arguments, and painters for the
// commands that mean something in cells. Coordinates are cells relative to the face's origin;
// a cell is written only inside the face's clip (itself inside the screen buffer), and the walks
// of lines, triangles and ellipses visit only what can land there, so a huge shape costs no more
// than a small one.
#include "gui/terminal/draw.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <string>
#include <unordered_map>
#include <vector>

#include "console/utf8_stream.hpp"
#include "datatypes/basic.hpp"
#include "datatypes/image.hpp"
#include "datatypes/object.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/natives_common.hpp"
#include "evaluator/stack.hpp"
#include "gui/terminal/rich_text.hpp"
#include "gui/terminal/widgets.hpp"
#include "library/routine_table.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/owner.hpp"
#include "runtime/unicode.hpp"

namespace zel::tui::draw {

namespace {

// clang-format off
enum kw : int {
    // commands
    k_pen, k_fill_pen, k_box, k_line, k_triangle, k_circle, k_ellipse, k_font, k_text,
    k_line_width, k_line_join, k_line_cap, k_line_pattern, k_polygon, k_anti_alias, k_arc,
    k_curve, k_spline, k_image, k_shadow, k_clip, k_shape, k_rotate, k_scale, k_translate,
    k_skew, k_transform, k_matrix, k_reset_matrix, k_invert_matrix, k_push,
    command_count,
    // words inside commands
    k_off = command_count, k_on, k_closed, k_border, k_crop, k_inset, k_replace, k_intersect,
    k_union, k_xor, k_exclude, k_linear, k_radial, k_diamond, k_pad, k_repeat, k_reflect,
    k_pattern, k_bitmap, k_tile, k_flip_x, k_flip_y, k_flip_xy, k_clamp, k_miter, k_round,
    k_bevel, k_miter_bevel, k_flat, k_square,
    // the shape sub-dialect
    k_move, k_curv, k_hline, k_vline, k_qcurv, k_qcurve, k_sweep, k_large, k_close,
    keyword_count
};
constexpr const char* keyword_names[keyword_count] = {
    "pen", "fill-pen", "box", "line", "triangle", "circle", "ellipse", "font", "text",
    "line-width", "line-join", "line-cap", "line-pattern", "polygon", "anti-alias", "arc",
    "curve", "spline", "image", "shadow", "clip", "shape", "rotate", "scale", "translate",
    "skew", "transform", "matrix", "reset-matrix", "invert-matrix", "push",
    "off", "on", "closed", "border", "crop", "inset", "replace", "intersect",
    "union", "xor", "exclude", "linear", "radial", "diamond", "pad", "repeat", "reflect",
    "pattern", "bitmap", "tile", "flip-x", "flip-y", "flip-xy", "clamp", "miter", "round",
    "bevel", "miter-bevel", "flat", "square",
    "move", "curv", "hline", "vline", "qcurv", "qcurve", "sweep", "large", "close",
};
// clang-format on

const std::unordered_map<u32, int>& keyword_table() {
    static const std::unordered_map<u32, int> table = [] {
        std::unordered_map<u32, int> t;
        for (int k = 0; k < keyword_count; ++k)
            t.emplace(symbol::canonical_id(symbol::intern_text(keyword_names[k])), k);
        return t;
    }();
    return table;
}

// The keyword a word names, or -1.
int keyword_of(const cell& c) {
    if (!is_any_word_type(type_of(&c))) return -1;
    const auto& t = keyword_table();
    auto at = t.find(symbol::canonical_id(c.w2));
    return at == t.end() ? -1 : at->second;
}

constexpr char32_t full_block = 0x2588;

struct point {
    i64 x = 0, y = 0;
};

// The state of one drawing: the target, the pens and the nesting.
struct state {
    const target* where;
    bool pen = true;
    u32 pen_colour = colour::default_;
    bool fill = false;
    u32 fill_colour = colour::default_;
    bool font_colour_set = false;
    u32 text_colour = colour::default_;
    int depth = 0;
};

// A cursor over one block of the dialect. The buffer is looked up at every read: painting a face
// argument may run script code, which may move buffers.
class reader {
  public:
    explicit reader(const cell& block) : block_(block), at_(block.w1) {}

    bool done() const { return at_ >= size(); }
    u32 at() const { return at_; }
    void seek(u32 i) { at_ = i; }
    const cell& block() const { return block_; }

    // The value at the cursor as written.
    cell raw() const { return done() ? cell{type_id::none_, 0, 0, 0} : cells()[at_]; }
    // The value at the cursor, a word standing for the value it holds.
    cell value() const {
        cell c = raw();
        if (is(&c, type_id::word)) {
            cell* v = natives::word_value_or_null(&c);
            if (v && !is_unset(v)) return *v;
        }
        return c;
    }
    bool take(int k) {
        if (done() || !is(&cells()[at_], type_id::word) || keyword_of(raw()) != k) return false;
        ++at_;
        return true;
    }
    bool take_lit(int k) {
        if (done() || !is(&cells()[at_], type_id::lit_word) || keyword_of(raw()) != k) return false;
        ++at_;
        return true;
    }
    // Points are pairs or point2D! values (truncated toward zero).
    bool take_point(point& p) {
        if (done()) return false;
        cell v = value();
        if (is(&v, type_id::pair)) {
            p = {static_cast<i32>(v.w2), static_cast<i32>(v.w3)};
        } else if (is(&v, type_id::point2d)) {
            float x = std::bit_cast<float>(v.w1), y = std::bit_cast<float>(v.w2);
            if (!std::isfinite(x) || !std::isfinite(y)) return false;
            p = {static_cast<i64>(std::trunc(x)), static_cast<i64>(std::trunc(y))};
        } else {
            return false;
        }
        ++at_;
        return true;
    }
    bool take_number(double& n) {
        if (done()) return false;
        cell v = value();
        if (is(&v, type_id::integer))
            n = int_of(&v);
        else if (is(&v, type_id::float_))
            n = float_of(&v);
        else
            return false;
        ++at_;
        return true;
    }
    bool take_colour(u32& code) {
        if (done()) return false;
        cell v = value();
        if (!is(&v, type_id::tuple) || tuple_length(v) < 3) return false;
        code = colour_of_tuple(&v);
        ++at_;
        return true;
    }
    bool take_type(u32 type, cell& out) {
        if (done()) return false;
        cell v = value();
        if (!is(&v, type)) return false;
        out = v;
        ++at_;
        return true;
    }
    bool take_block(cell& out) { return take_type(type_id::block, out); }
    // A word at the cursor that is one of the keywords given.
    bool take_one_of(std::initializer_list<int> ks) {
        for (int k : ks)
            if (take(k)) return true;
        return false;
    }

  private:
    static u32 tuple_length(const cell& t) { return (t.header >> 19) & 15; }
    const cell* cells() const { return head_cell(buffer_of(block_.w2)); }
    u32 size() const { return used_units(buffer_of(block_.w2)); }

    cell block_;
    u32 at_;
};

[[noreturn]] void invalid(const reader& r, u32 command_at) {
    cell block = r.block();
    cell position = block;
    position.w1 = command_at;
    error::raise(err::E("script", "draw-invalid"), &block, &position);
}

// --- cells ------------------------------------------------------------------------------------

// The drawing area: the clip, cut to the screen buffer, in absolute cells.
clip_rect area_of(const target& t) {
    clip_rect c = t.clip;
    c.left = std::max(c.left, 0);
    c.top = std::max(c.top, 0);
    c.right = std::min(c.right, t.screen->width());
    c.bottom = std::min(c.bottom, t.screen->height());
    return c;
}

bool inside(const clip_rect& c, i64 x, i64 y) {
    return x >= c.left && x < c.right && y >= c.top && y < c.bottom;
}

// A glyph in a colour; the cell's background stays.
void put_glyph(const target& t, const clip_rect& a, i64 x, i64 y, char32_t code, u32 fg) {
    if (!inside(a, x, y)) return;
    screen_cell& c = t.screen->row(static_cast<int>(y))[x];
    c.code = static_cast<u32>(code);
    c.fg = fg;
    c.flags = t.flags;
}

// Spaces on a colour along a row, from x1 to x2 inclusive.
void put_span(const target& t, const clip_rect& a, i64 y, i64 x1, i64 x2, u32 bg) {
    if (y < a.top || y >= a.bottom) return;
    x1 = std::max<i64>(x1, a.left);
    x2 = std::min<i64>(x2, a.right - 1);
    screen_cell* row = t.screen->row(static_cast<int>(y));
    for (i64 x = x1; x <= x2; ++x) {
        row[x].code = 0;
        row[x].bg = bg;
        row[x].flags = t.flags;
    }
}

// --- lines ------------------------------------------------------------------------------------

// The integer midpoint walk from a to b, each visited cell a full block. Cells outside the area
// are skipped; a walk longer than the area could hold is first cut to the stretch near it.
void line_cells(const state& s, const clip_rect& a, point p, point q) {
    const target& t = *s.where;
    i64 x0 = p.x + t.x, y0 = p.y + t.y, x1 = q.x + t.x, y1 = q.y + t.y;
    i64 dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    if (std::max(dx, -dy) > 4 * static_cast<i64>(a.right - a.left + a.bottom - a.top) + 64) {
        // Cut the segment to the area grown by a margin, in real numbers, then walk the rest.
        double t0 = 0, t1 = 1, fx = static_cast<double>(x1 - x0), fy = static_cast<double>(y1 - y0);
        double lo_x = a.left - 2.0, hi_x = a.right + 1.0, lo_y = a.top - 2.0, hi_y = a.bottom + 1.0;
        auto cut = [&](double pdir, double qdist) {
            if (pdir == 0) return qdist >= 0;
            double r = qdist / pdir;
            if (pdir < 0) t0 = std::max(t0, r);
            else t1 = std::min(t1, r);
            return t0 <= t1;
        };
        if (!cut(-fx, static_cast<double>(x0) - lo_x) || !cut(fx, hi_x - static_cast<double>(x0)) ||
            !cut(-fy, static_cast<double>(y0) - lo_y) || !cut(fy, hi_y - static_cast<double>(y0)))
            return;
        i64 nx0 = static_cast<i64>(std::llround(x0 + t0 * fx)), ny0 = static_cast<i64>(std::llround(y0 + t0 * fy));
        i64 nx1 = static_cast<i64>(std::llround(x0 + t1 * fx)), ny1 = static_cast<i64>(std::llround(y0 + t1 * fy));
        x0 = nx0, y0 = ny0, x1 = nx1, y1 = ny1;
        dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    }
    i64 err = dx + dy;
    for (;;) {
        put_glyph(t, a, x0, y0, full_block, s.pen_colour);
        if (x0 == x1 && y0 == y1) break;
        i64 e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

// --- shapes -----------------------------------------------------------------------------------

void box_cells(const state& s, point p, point q) {
    const target& t = *s.where;
    clip_rect a = area_of(t);
    i64 left = std::min(p.x, q.x) + t.x, right = std::max(p.x, q.x) + t.x;
    i64 top = std::min(p.y, q.y) + t.y, bottom = std::max(p.y, q.y) + t.y;
    if (right < a.left || left >= a.right || bottom < a.top || top >= a.bottom) return;
    if (s.fill)
        for (i64 y = std::max<i64>(top, a.top); y <= std::min<i64>(bottom, a.bottom - 1); ++y)
            put_span(t, a, y, left, right, s.fill_colour);
    if (!s.pen) return;
    u32 fg = s.pen_colour;
    for (i64 x = std::max<i64>(left + 1, a.left); x < std::min<i64>(right, a.right); ++x) {
        put_glyph(t, a, x, top, 0x2500, fg);
        put_glyph(t, a, x, bottom, 0x2500, fg);
    }
    for (i64 y = std::max<i64>(top + 1, a.top); y < std::min<i64>(bottom, a.bottom); ++y) {
        put_glyph(t, a, left, y, 0x2502, fg);
        put_glyph(t, a, right, y, 0x2502, fg);
    }
    put_glyph(t, a, left, top, 0x250C, fg);
    put_glyph(t, a, right, top, 0x2510, fg);
    put_glyph(t, a, left, bottom, 0x2514, fg);
    put_glyph(t, a, right, bottom, 0x2518, fg);
}

void triangle_cells(const state& s, point p0, point p1, point p2) {
    const target& t = *s.where;
    clip_rect a = area_of(t);
    if (s.fill) {
        point v[3] = {p0, p1, p2};
        std::sort(v, v + 3, [](const point& l, const point& r) { return l.y < r.y; });
        auto along = [](const point& from, const point& to, i64 y) -> i64 {
            if (to.y == from.y) return from.x;
            // Differences of 32-bit coordinates multiply past 64 bits.
            __int128 dx = to.x - from.x;
            return from.x + static_cast<i64>(dx * (y - from.y) / (to.y - from.y));
        };
        i64 first = std::max<i64>(v[0].y, a.top - t.y), last = std::min<i64>(v[2].y, a.bottom - 1 - t.y);
        for (i64 y = first; y <= last; ++y) {
            i64 x_long = along(v[0], v[2], y);
            i64 x_short = y < v[1].y ? along(v[0], v[1], y) : along(v[1], v[2], y);
            put_span(t, a, y + t.y, std::min(x_long, x_short) + t.x, std::max(x_long, x_short) + t.x,
                     s.fill_colour);
        }
    }
    if (s.pen) {
        line_cells(s, a, p0, p1);
        line_cells(s, a, p1, p2);
        line_cells(s, a, p2, p0);
    }
}

// The midpoint ellipse walk over one quadrant; `visit` gets each (x, y) offset from the centre.
template <class F>
void ellipse_walk(i64 rx, i64 ry, F visit) {
    double rx2 = static_cast<double>(rx) * rx, ry2 = static_cast<double>(ry) * ry;
    i64 x = 0, y = ry;
    double dx = 0, dy = 2 * rx2 * y;
    double p = ry2 - rx2 * ry + 0.25 * rx2;
    while (dx < dy) {
        visit(x, y);
        ++x;
        dx += 2 * ry2;
        if (p < 0) {
            p += dx + ry2;
        } else {
            --y;
            dy -= 2 * rx2;
            p += dx - dy + ry2;
        }
    }
    p = ry2 * (x + 0.5) * (x + 0.5) + rx2 * static_cast<double>(y - 1) * (y - 1) - rx2 * ry2;
    while (y >= 0) {
        visit(x, y);
        --y;
        dy -= 2 * rx2;
        if (p > 0) {
            p += rx2 - dy;
        } else {
            ++x;
            dx += 2 * ry2;
            p += dx - dy + rx2;
        }
    }
}

// Radii beyond this are not walked: the walk visits every cell of the outline, and no terminal
// shows enough of such a shape to tell it from its neighbourhood's lines.
constexpr i64 max_radius = 1 << 20;

void ellipse_cells(const state& s, point centre, i64 rx, i64 ry) {
    const target& t = *s.where;
    clip_rect a = area_of(t);
    i64 cx = centre.x + t.x, cy = centre.y + t.y;
    if (cx + rx < a.left || cx - rx >= a.right || cy + ry < a.top || cy - ry >= a.bottom) return;
    if ((!s.fill && !s.pen) || rx > max_radius || ry > max_radius) return;
    if (s.fill) {
        // The widest outline cell of each row of the area bounds the row's span.
        std::vector<i64> widest(static_cast<std::size_t>(a.bottom - a.top), -1);
        auto widen = [&](i64 row, i64 x) {
            if (row >= a.top && row < a.bottom) widest[row - a.top] = std::max(widest[row - a.top], x);
        };
        ellipse_walk(rx, ry, [&](i64 x, i64 y) {
            widen(cy - y, x);
            widen(cy + y, x);
        });
        for (int row = a.top; row < a.bottom; ++row)
            if (widest[row - a.top] >= 0)
                put_span(t, a, row, cx - widest[row - a.top], cx + widest[row - a.top],
                         s.fill_colour);
    }
    if (s.pen)
        ellipse_walk(rx, ry, [&](i64 x, i64 y) {
            put_glyph(t, a, cx + x, cy + y, full_block, s.pen_colour);
            put_glyph(t, a, cx - x, cy + y, full_block, s.pen_colour);
            put_glyph(t, a, cx + x, cy - y, full_block, s.pen_colour);
            put_glyph(t, a, cx - x, cy - y, full_block, s.pen_colour);
        });
}

std::u32string text_of(const cell& s) {
    return utf8_stream::decode(utf8::encode_string(&s));
}

// --- the reader -------------------------------------------------------------------------------

void run_block(const cell& block, state& s);

// A nested block runs with the same pens; one that is the block being read, or nested too deep,
// is refused.
void run_nested(const reader& r, const cell& nested, state& s) {
    if (nested.w2 == r.block().w2 || s.depth >= max_depth)
        error::raise(err::E("script", "draw-infinite"));
    ++s.depth;
    run_block(nested, s);
    --s.depth;
}

// Up to `most` points in a row; answers how many.
int points(reader& r, point* out, int most) {
    int n = 0;
    point p;
    while (n < most && r.take_point(p)) out[n++] = p;
    return n;
}

int skip_points(reader& r) {
    int n = 0;
    point p;
    while (r.take_point(p)) ++n;
    return n;
}

bool pen_value(reader& r, state& s, bool fill);

// The shape sub-dialect: checked only.
void check_shape(const cell& block) {
    reader r(block);
    while (!r.done()) {
        u32 at = r.at();
        cell c = r.raw();
        if (!is(&c, type_id::word) && !is(&c, type_id::lit_word)) invalid(r, at);
        int k = keyword_of(c);
        r.seek(at + 1);
        double n;
        point p;
        bool ok = true;
        switch (k) {
        case k_move:
            ok = r.take_point(p);
            break;
        case k_line:
        case k_curve:
        case k_curv:
        case k_qcurve:
        case k_qcurv:
            ok = skip_points(r) >= 1;
            break;
        case k_hline:
        case k_vline:
            ok = r.take_number(n);
            break;
        case k_arc:
            ok = r.take_point(p) && r.take_number(n) && r.take_number(n) && r.take_number(n);
            r.take(k_sweep);
            r.take(k_large);
            break;
        case k_close:
            break;
        default:
            ok = false;
        }
        if (!ok) invalid(r, at);
    }
}

// An optional 'pen or 'fill-pen before a transformation.
void transform_target(reader& r) {
    if (!r.take_lit(k_pen)) r.take_lit(k_fill_pen);
}

// An optional block of commands after a transformation, run with the same pens.
void trailing_block(reader& r, state& s) {
    cell b;
    if (r.take_block(b)) run_nested(r, b, s);
}

void text_command(reader& r, state& s, u32 at) {
    point p;
    if (!r.take_point(p)) invalid(r, at);
    cell v = r.value();
    if (!is(&v, type_id::string) && !is(&v, type_id::object)) invalid(r, at);
    r.seek(r.at() + 1);
    const target& t = *s.where;
    if (!t.screen) return;
    clip_rect a = area_of(t);
    i64 x = p.x + t.x, y = p.y + t.y;
    if (x >= a.right || y >= a.bottom) return;
    // Positions far to the left or above cannot reach the area.
    if (x < -(1ll << 30) || y < -(1ll << 30)) return;
    if (is(&v, type_id::object)) {
        widgets::paint_face_at(*t.screen, v, static_cast<int>(x), static_cast<int>(y), a);
        return;
    }
    paint_state st;
    st.flags = t.flags | paint::escapes;
    st.align = align::wrap;
    st.fg = s.font_colour_set ? s.text_colour : s.pen ? s.pen_colour : s.text_colour;
    write_text(*t.screen, text_of(v), static_cast<int>(x), static_cast<int>(y), a, st);
}

// Runs one command at the cursor, leaving the cursor after it.
void command(reader& r, state& s) {
    u32 at = r.at();
    cell c = r.raw();
    if (is(&c, type_id::set_word)) { // a name for the position that follows
        r.seek(at + 1);
        return;
    }
    int k = is(&c, type_id::word) ? keyword_of(c) : -1;
    if (k < 0 || k >= command_count) invalid(r, at);
    r.seek(at + 1);
    const bool paints = s.where->screen != nullptr;
    point pts[4];
    double n;
    cell v;
    switch (k) {
    case k_pen:
    case k_fill_pen:
        if (!pen_value(r, s, k == k_fill_pen)) invalid(r, at);
        break;
    case k_box:
        if (points(r, pts, 2) != 2) invalid(r, at);
        r.take_number(n); // a radius: corners stay square in cells
        if (paints) box_cells(s, pts[0], pts[1]);
        break;
    case k_line: {
        std::vector<point> ps;
        point p;
        while (r.take_point(p)) ps.push_back(p);
        if (ps.size() < 2) invalid(r, at);
        if (paints && s.pen) {
            clip_rect a = area_of(*s.where);
            for (std::size_t i = 0; i + 1 < ps.size(); ++i) line_cells(s, a, ps[i], ps[i + 1]);
        }
        break;
    }
    case k_triangle:
        if (points(r, pts, 3) != 3) invalid(r, at);
        if (paints) triangle_cells(s, pts[0], pts[1], pts[2]);
        break;
    case k_circle: {
        if (!r.take_point(pts[0]) || !r.take_number(n)) invalid(r, at);
        double second;
        r.take_number(second); // a second radius has no use in cells
        i64 radius = static_cast<i64>(std::clamp(n, -1.0, 1e9));
        if (paints && radius > 0) ellipse_cells(s, pts[0], 2 * radius, radius);
        break;
    }
    case k_ellipse: {
        if (points(r, pts, 2) != 2) invalid(r, at);
        if (!paints || pts[1].x < 1 || pts[1].y < 1) break;
        i64 rx = static_cast<i64>((static_cast<double>(pts[1].x) + 0.5) / 2);
        i64 ry = static_cast<i64>((static_cast<double>(pts[1].y) + 0.5) / 2);
        ellipse_cells(s, {pts[0].x + rx, pts[0].y + ry}, rx, ry);
        break;
    }
    case k_font: {
        if (!r.take_type(type_id::object, v)) invalid(r, at);
        u32 colour_word = symbol::intern_text("color");
        cell colour{type_id::none, 0, 0, 0};
        if (object::find_field(&v, colour_word) >= 0) colour = *object::field_value(&v, colour_word);
        if (is(&colour, type_id::tuple)) {
            s.text_colour = colour_of_tuple(&colour);
            s.font_colour_set = true;
        } else {
            s.font_colour_set = false;
            s.text_colour = s.pen_colour;
        }
        break;
    }
    case k_text:
        text_command(r, s, at);
        break;
    case k_line_width:
        if (!r.take_number(n)) invalid(r, at);
        break;
    case k_line_join:
        if (!r.take_one_of({k_miter, k_round, k_bevel, k_miter_bevel})) invalid(r, at);
        break;
    case k_line_cap:
        if (!r.take_one_of({k_flat, k_square, k_round})) invalid(r, at);
        break;
    case k_line_pattern:
        if (r.take(k_off)) break;
        if (!r.take_number(n)) invalid(r, at);
        while (r.take_number(n)) {
        }
        break;
    case k_polygon:
        if (skip_points(r) < 3) invalid(r, at);
        break;
    case k_anti_alias:
        if (!r.take_one_of({k_on, k_off}) && !r.take_type(type_id::logic, v)) invalid(r, at);
        break;
    case k_arc:
        if (!r.take_point(pts[0]) || !r.take_point(pts[1]) || !r.take_number(n) ||
            !r.take_number(n))
            invalid(r, at);
        r.take(k_closed);
        break;
    case k_curve:
        if (int m = skip_points(r); m < 3 || m > 4) invalid(r, at);
        break;
    case k_spline:
        if (skip_points(r) < 2) invalid(r, at);
        r.take(k_closed);
        break;
    case k_image: {
        if (!r.take_type(type_id::image, v)) invalid(r, at);
        if (skip_points(r) > 4) invalid(r, at);
        u32 key;
        r.take_colour(key);
        r.take(k_border);
        if (r.take(k_crop) && points(r, pts, 2) != 2) invalid(r, at);
        break;
    }
    case k_shadow:
        if (r.take(k_off)) break;
        if (!r.take_point(pts[0])) invalid(r, at);
        if (r.take_number(n)) r.take_number(n);
        {
            u32 colour;
            r.take_colour(colour);
        }
        r.take(k_inset);
        break;
    case k_clip:
        if (r.take_block(v)) {
            check_shape(v);
        } else if (points(r, pts, 2) != 2) {
            invalid(r, at);
        }
        r.take_one_of({k_replace, k_intersect, k_union, k_xor, k_exclude});
        trailing_block(r, s);
        break;
    case k_shape:
        if (!r.take_block(v)) invalid(r, at);
        check_shape(v);
        break;
    case k_rotate:
        transform_target(r);
        if (!r.take_number(n)) invalid(r, at);
        r.take_point(pts[0]);
        trailing_block(r, s);
        break;
    case k_scale:
        transform_target(r);
        if (!r.take_number(n) || !r.take_number(n)) invalid(r, at);
        trailing_block(r, s);
        break;
    case k_translate:
        transform_target(r);
        if (!r.take_point(pts[0])) invalid(r, at);
        trailing_block(r, s);
        break;
    case k_skew:
        transform_target(r);
        if (!r.take_number(n)) invalid(r, at);
        r.take_number(n);
        trailing_block(r, s);
        break;
    case k_transform:
        transform_target(r);
        if (!r.take_number(n)) invalid(r, at);
        r.take_point(pts[0]);
        if (!r.take_number(n) || !r.take_number(n) || !r.take_point(pts[1])) invalid(r, at);
        trailing_block(r, s);
        break;
    case k_matrix: {
        transform_target(r);
        if (!r.take_block(v)) invalid(r, at);
        reader m(v);
        int count = 0;
        while (m.take_number(n)) ++count;
        if (count != 6 || !m.done()) invalid(r, at);
        trailing_block(r, s);
        break;
    }
    case k_reset_matrix:
    case k_invert_matrix:
        transform_target(r);
        break;
    case k_push:
        if (!r.take_block(v)) invalid(r, at);
        run_nested(r, v, s);
        break;
    default:
        invalid(r, at);
    }
}

// The value of pen or fill-pen: a colour, off, a gradient or a pattern.
bool pen_value(reader& r, state& s, bool fill) {
    u32 code;
    if (r.take(k_off)) {
        (fill ? s.fill : s.pen) = false;
        return true;
    }
    if (r.take_colour(code)) {
        if (fill) {
            s.fill = true;
            s.fill_colour = code;
        } else {
            s.pen = true;
            s.pen_colour = code;
            if (!s.font_colour_set) s.text_colour = code;
        }
        return true;
    }
    double n;
    point p;
    cell v;
    if (r.take_one_of({k_linear, k_radial, k_diamond})) {
        int colours = 0;
        for (;;) {
            if (r.take_colour(code)) ++colours;
            else if (!r.take_number(n) && !r.take_point(p) && !r.take_one_of({k_pad, k_repeat, k_reflect}))
                break;
        }
        return colours > 0;
    }
    if (r.take(k_pattern)) {
        if (!r.take_point(p)) return false;
        if (r.take_point(p) && !r.take_point(p)) return false;
        if (!r.take_block(v)) return false;
        run_nested(r, v, s);
        return true;
    }
    if (r.take(k_bitmap)) {
        if (!r.take_type(type_id::image, v)) return false;
        r.take_one_of({k_tile, k_flip_x, k_flip_y, k_flip_xy, k_clamp});
        if (r.take_point(p) && !r.take_point(p)) return false;
        return true;
    }
    return false;
}

void run_block(const cell& block, state& s) {
    reader r(block);
    while (!r.done()) command(r, s);
}

} // namespace

namespace {
// Drawings in progress: a face drawn as text inside its own drawing starts another.
int drawings = 0;
}

void run(const cell& block, const target& where) {
    if (drawings >= max_depth) error::raise(err::E("script", "draw-infinite"));
    struct count {
        count() { ++drawings; }
        ~count() { --drawings; }
    } counting;
    // A face wholly off the screen paints nothing, but its commands are still checked.
    target checking;
    const target* to = &where;
    if (where.screen) {
        clip_rect a = area_of(where);
        if (a.left >= a.right || a.top >= a.bottom) to = &checking;
    }
    state s;
    s.where = to;
    s.text_colour = s.pen_colour;
    run_block(block, s);
}

void draw_image() {
    cell image = *stack::arg(0);
    cell block = *stack::arg(1);
    if (image::width_of(&image) == 0 || image::height_of(&image) == 0)
        return routines::answer_none();
    run(block, target{});
    // The pixels stay as they are, but whoever owns the image hears of a change to all of it.
    cell none{type_id::none, 0, 0, 0};
    if (owner::notify_change(&image, owner::event::poke, &none, -1, -1))
        owner::notify_change(&image, owner::event::poked, &none, -1, -1);
    routines::answer_none();
}

} // namespace zel::tui::draw
