// Widget records, painting a window's face tree into the screen buffer, and turning the
// backend's input into events for the faces. Faces are read afresh at every paint and after every
// call into script code: a record keeps only its face, its parent and its children.
#include "gui/terminal/widgets.hpp"

#include <algorithm>
#include <bit>
#include <string>
#include <vector>

#include "console/utf8_stream.hpp"
#include "datatypes/basic.hpp"
#include "datatypes/context.hpp"
#include "datatypes/handle.hpp"
#include "datatypes/object.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/tuple.hpp"
#include "evaluator/stack.hpp"
#include "gui/terminal/event_loop.hpp"
#include "gui/terminal/posting.hpp"
#include "gui/terminal/text_layout.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "runtime/errors.hpp"
#include "runtime/unicode.hpp"

namespace zel::widgets {

namespace {

// The facets that painting and hit testing read, as the last push to the widget left them, so that
// changes made while auto-sync? is off wait for `show`.
enum facet { f_type, f_offset, f_size, f_text, f_color, f_visible, f_enabled, f_font, f_para,
             f_options, facet_count };
constexpr std::string_view facet_names[facet_count] = {
    "type", "offset", "size", "text", "color", "visible?", "enabled?", "font", "para", "options"};

struct record {
    cell face{type_id::none, 0, 0, 0};
    cell shown[facet_count] = {};
    i32 parent = -1;
    std::vector<i32> children;
    u32 generation = 1;
    bool alive = false;
    bool window = false;
    bool timed = false;
    std::u32string ui; // a UI text set by set-face-ui, drawn over the face
    kinds::state kind;
};

std::vector<record> registry;
std::vector<i32> free_slots;
std::vector<i32> dead_this_pass; // reused only once the pass is over
std::vector<i32> windows;        // shown windows, newest last
i32 focus = -1;
i32 pressed = -1;
i32 hovered = -1;
i32 last_click = -1;
i64 last_click_ms = -1000000;
constexpr i64 double_click_ms = 500;

constexpr u32 index_bits = 16;
constexpr u32 index_mask = (1u << index_bits) - 1;

cell none_cell() {
    return cell{type_id::none, 0, 0, 0};
}

u32 sym(std::string_view name) {
    return symbol::intern_text(name);
}

cell field(const cell& object, std::string_view name) {
    if (!is(&object, type_id::object)) return none_cell();
    return *object::field_value(&object, sym(name));
}


bool word_is(const cell& w, std::string_view text) {
    return is_any_word_type(type_of(&w)) &&
           symbol::canonical_id(w.w2) == symbol::canonical_id(sym(text));
}

using kinds::has_flag;

bool live(i32 i) {
    return i >= 0 && static_cast<std::size_t>(i) < registry.size() && registry[i].alive;
}

// The record of a handle, or -1 for a null or stale handle.
i32 index_of_handle(const cell& h) {
    if (!is(&h, type_id::handle) || h.w1 != handle::kind::window) return -1;
    i32 i = static_cast<i32>(h.w2 & index_mask);
    if (!live(i) || registry[i].generation != (h.w2 >> index_bits)) return -1;
    return i;
}

cell handle_of(i32 i) {
    cell h{};
    handle::init_cell(&h, static_cast<u32>(i) | registry[i].generation << index_bits,
                      handle::kind::window);
    return h;
}

// The widget of a face: its state's first value, checked against the registry.
i32 widget_of(const cell& face) {
    cell state = field(face, "state");
    if (!is(&state, type_id::block)) return -1;
    series_buffer* b = buffer_of(state.w2);
    if (state.w1 >= used_units(b)) return -1;
    i32 i = index_of_handle(head_cell(b)[state.w1]);
    if (i < 0 || registry[i].face.w2 != face.w2) return -1;
    return i;
}

struct xy {
    int x = 0, y = 0;
};

xy planar(const cell& v) {
    if (is(&v, type_id::pair)) return {static_cast<i32>(v.w2), static_cast<i32>(v.w3)};
    if (is(&v, type_id::point2d))
        return {static_cast<int>(std::bit_cast<float>(v.w1)),
                static_cast<int>(std::bit_cast<float>(v.w2))};
    return {};
}

u32 colour_of(const cell& c) {
    if (!is(&c, type_id::tuple)) return tui::paint_state::keep;
    const u8* b = tuple::bytes_of(&c);
    int a = tuple::length_of(&c) > 3 ? b[3] : 0;
    return tui::colour::from_rgba(b[0], b[1], b[2], a);
}

tui::backend& backend() {
    return tui::program_backend();
}

void mark_dirty() {
    backend().frame.dirty = true;
}

void sync_timer(i32 i) {
    record& r = registry[i];
    cell rate = field(r.face, "rate");
    if (r.timed) backend().timers.remove(static_cast<u32>(i));
    r.timed = false;
    int ms = 0;
    if (is(&rate, type_id::integer) && int_of(&rate) > 0)
        ms = tui::interval_of_rate(int_of(&rate));
    if (ms > 0) {
        backend().timers.add(static_cast<u32>(i), ms);
        r.timed = true;
    }
}

void kill(i32 i) {
    record& r = registry[i];
    for (i32 c : std::vector<i32>(r.children))
        if (live(c)) kill(c);
    if (r.timed) backend().timers.remove(static_cast<u32>(i));
    r.alive = false;
    r.timed = false;
    r.children.clear();
    r.ui.clear();
    r.kind = kinds::state{};
    ++r.generation;
    if (r.generation > 0xFFFF) r.generation = 1;
    if (focus == i) focus = -1;
    if (pressed == i) pressed = -1;
    if (hovered == i) hovered = -1;
    if (last_click == i) last_click = -1;
    r.face = none_cell();
    dead_this_pass.push_back(i);
}

void mark_widgets() {
    for (record& r : registry)
        if (r.alive) {
            gc::mark_cell(&r.face);
            for (cell& c : r.shown) gc::mark_cell(&c);
        }
}

void snapshot(record& r) {
    for (int k = 0; k < facet_count; ++k) r.shown[k] = field(r.face, facet_names[k]);
}

// --- painting -------------------------------------------------------------------------------

tui::clip_rect intersect(const tui::clip_rect& a, const tui::clip_rect& b) {
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom)};
}

std::u32string text_of(const cell& s) {
    return utf8_stream::decode(utf8::encode_string(&s));
}

u32 align_bits(const record& r) {
    cell type = r.shown[f_type];
    u32 bits = 0;
    if (word_is(type, "base") || word_is(type, "button")) bits = tui::align::center | tui::align::middle;
    cell para = r.shown[f_para];
    if (is(&para, type_id::object)) {
        cell a = field(para, "align"), v = field(para, "v-align");
        if (word_is(a, "center")) bits = (bits & ~tui::align::right) | tui::align::center;
        if (word_is(a, "right")) bits = (bits & ~tui::align::center) | tui::align::right;
        if (word_is(a, "left")) bits &= ~(tui::align::center | tui::align::right);
        if (word_is(v, "middle")) bits = (bits & ~tui::align::bottom) | tui::align::middle;
        if (word_is(v, "bottom")) bits = (bits & ~tui::align::middle) | tui::align::bottom;
        if (word_is(v, "top")) bits &= ~(tui::align::middle | tui::align::bottom);
        cell wrap = field(para, "wrap?");
        if (is_truthy(&wrap)) bits |= tui::align::wrap;
    }
    return bits;
}

void paint_face(tui::screen_buffer& screen, i32 i, xy origin, const tui::clip_rect& outer,
                bool disabled) {
    const record& r = registry[i];
    cell visible = r.shown[f_visible];
    if (!is_truthy(&visible)) return;
    cell enabled = r.shown[f_enabled];
    disabled = disabled || !is_truthy(&enabled);
    xy at = r.window ? xy{} : planar(r.shown[f_offset]);
    xy size = planar(r.shown[f_size]);
    cell text = r.shown[f_text];
    cell size_facet = r.shown[f_size];
    if (!is(&size_facet, type_id::pair) && !is(&size_facet, type_id::point2d) &&
        is(&text, type_id::string)) {
        tui::measure_result m = tui::measure(text_of(text));
        size = {m.width, m.lines};
    }
    xy pos{origin.x + at.x, origin.y + at.y};
    tui::clip_rect clip = intersect(outer, {pos.x, pos.y, pos.x + size.x, pos.y + size.y});
    u32 bg = colour_of(r.shown[f_color]);
    u32 fg = tui::colour::default_;
    cell font = r.shown[f_font];
    if (is(&font, type_id::object)) {
        u32 c = colour_of(field(font, "color"));
        if (c != tui::paint_state::keep) fg = c;
    }
    if (clip.left < clip.right && clip.top < clip.bottom) {
        kinds::canvas c{screen, pos.x, pos.y, size.x, size.y, clip, bg, fg,
                        disabled ? tui::paint::dim : 0u, text, r.shown[f_options], align_bits(r),
                        &r.ui, r.window};
        kinds::paint(r.kind, r.face, i == focus, c);
    }
    // Children are clipped to every ancestor, not only to this face.
    for (i32 c : r.children)
        if (live(c)) paint_face(screen, c, pos, clip, disabled);
}

i32 current_window() {
    while (!windows.empty() && !live(windows.back())) windows.pop_back();
    return windows.empty() ? -1 : windows.back();
}

bool paint(tui::screen_buffer& screen, tui::frame_state&) {
    // The pass is over: records destroyed during it may be reused now.
    for (i32 i : dead_this_pass) free_slots.push_back(i);
    dead_this_pass.clear();
    i32 w = current_window();
    if (w < 0) {
        screen.size_to(0, 0);
        return false;
    }
    xy size = planar(registry[w].shown[f_size]);
    auto term = backend().size();
    size.x = std::clamp(size.x, 1, std::max(1, term.columns));
    size.y = std::clamp(size.y, 1, std::max(1, term.rows));
    screen.size_to(size.x, size.y);
    screen.clear();
    kinds::start_frame();
    paint_face(screen, w, {}, {0, 0, size.x, size.y}, false);
    tui::frame_state& frame = backend().frame;
    return kinds::caret(frame.caret_column, frame.caret_row);
}

// --- input --------------------------------------------------------------------------------

// The deepest visible face under a point of the window, and the point relative to it.
i32 hit(i32 i, xy point, xy origin, xy& local) {
    const record& r = registry[i];
    cell visible = r.shown[f_visible];
    if (!is_truthy(&visible)) return -1;
    xy at = r.window ? xy{} : planar(r.shown[f_offset]);
    xy size = planar(r.shown[f_size]);
    xy pos{origin.x + at.x, origin.y + at.y};
    if (!r.window && (point.x < pos.x || point.y < pos.y || point.x >= pos.x + size.x ||
                      point.y >= pos.y + size.y))
        return -1;
    for (auto it = r.children.rbegin(); it != r.children.rend(); ++it)
        if (live(*it)) {
            i32 found = hit(*it, point, pos, local);
            if (found >= 0) return found;
        }
    local = {point.x - pos.x, point.y - pos.y};
    return i;
}

// The origin of a face in its window.
xy origin_of(i32 i) {
    xy o;
    for (i32 k = i; live(k) && !registry[k].window; k = registry[k].parent) {
        xy at = planar(registry[k].shown[f_offset]);
        o.x += at.x;
        o.y += at.y;
    }
    return o;
}

// Posts an event to a widget's face; the record may die meanwhile, so nothing is held after.
void post(u32 type, i32 i, xy local, u32 flags, const cell& key = none_cell(), i32 picked = 0) {
    if (!live(i)) return;
    kinds::event(i, type, local.x, local.y); // the widget's own reaction comes first
    if (!live(i)) return;
    gc::rooted_cell face(registry[i].face);
    cell p{type_id::integer, 0, static_cast<u32>(picked), 0};
    tui::post_event(type, face.value, static_cast<float>(local.x), static_cast<float>(local.y), key,
                    p, flags);
    mark_dirty();
}

constexpr u32 ev_down = 1, ev_up = 2, ev_click = 9, ev_dbl_click = 10, ev_wheel = 11, ev_over = 12,
              ev_focus = 17, ev_unfocus = 18;

void on_mouse(const tui::mouse_event& m) {
    i32 w = current_window();
    if (w < 0) return;
    xy point{static_cast<int>(m.x), static_cast<int>(m.y)};
    xy local;
    cell enabled = registry[w].shown[f_enabled];
    if (!is_truthy(&enabled)) return;
    i32 target = hit(w, point, {}, local);
    if (target < 0) return;
    switch (m.type) {
    case ev_down: {
        pressed = target;
        post(ev_down, target, local, m.flags);
        break;
    }
    case ev_up: {
        i32 was = pressed;
        pressed = -1;
        if (live(was) && was != target) {
            xy o = origin_of(was);
            post(ev_up, was, {point.x - o.x, point.y - o.y}, m.flags);
            break;
        }
        post(ev_up, target, local, m.flags);
        if (!live(target) || was != target) break;
        i64 now = tui::system_clock().now_ms();
        bool twice = last_click == target && now - last_click_ms < double_click_ms;
        last_click = twice ? -1 : target;
        last_click_ms = now;
        post(twice ? ev_dbl_click : ev_click, target, local, m.flags);
        break;
    }
    case ev_over: {
        // A face being pressed follows the pointer (dragging); others see entering and leaving.
        if (live(pressed)) {
            xy o = origin_of(pressed);
            cell flags = field(registry[pressed].face, "flags");
            if (has_flag(flags, "all-over"))
                post(ev_over, pressed, {point.x - o.x, point.y - o.y}, m.flags);
            break;
        }
        if (target != hovered) {
            i32 old = hovered;
            hovered = target;
            if (live(old)) {
                xy o = origin_of(old);
                post(ev_over, old, {point.x - o.x, point.y - o.y}, m.flags | tui::event_flag::away);
            }
            post(ev_over, target, local, m.flags);
        } else if (has_flag(field(registry[target].face, "flags"), "all-over")) {
            post(ev_over, target, local, m.flags);
        }
        break;
    }
    case ev_wheel: {
        post(ev_wheel, target, local, m.flags, none_cell(), m.wheel);
        break;
    }
    default:
        post(m.type, target, local, m.flags);
    }
}

void on_input(const tui::input_item& item) {
    i32 w = current_window();
    if (w < 0) return;
    i32 to = live(focus) ? focus : w;
    gc::rooted_cell face(registry[to].face);
    if (!tui::post_key(face.value, item.code, item.flags) && live(to))
        kinds::key(to, item.code, item.flags);
    mark_dirty();
}

void on_timer(u32 i) {
    if (!live(static_cast<i32>(i))) return;
    post(tui::event_type::time, static_cast<i32>(i), {}, 0);
}

cell* arg(u32 i) {
    return stack::arg(i);
}

} // namespace

void make_view() {
    cell face = *arg(0);
    i32 parent = index_of_handle(*arg(1));
    i32 i;
    if (!free_slots.empty()) {
        i = free_slots.back();
        free_slots.pop_back();
    } else {
        i = static_cast<i32>(registry.size());
        registry.emplace_back();
    }
    record& r = registry[i];
    r.face = face;
    r.parent = parent;
    r.alive = true;
    r.window = word_is(field(face, "type"), "window");
    r.children.clear();
    snapshot(r);
    if (parent >= 0) registry[parent].children.push_back(i);
    sync_timer(i);
    mark_dirty();
    kinds::made(i);
    routines::answer(handle_of(i));
}

void destroy_view() {
    cell face = *arg(0);
    i32 i = widget_of(face);
    if (i < 0) return routines::answer_none();
    bool window = registry[i].window;
    i32 parent = registry[i].parent;
    if (live(parent)) {
        auto& c = registry[parent].children;
        c.erase(std::remove(c.begin(), c.end(), i), c.end());
    }
    kill(i);
    if (window) {
        auto at = std::find(windows.begin(), windows.end(), i);
        if (at != windows.end()) {
            windows.erase(at);
            backend().open_windows = static_cast<int>(windows.size());
            // Closing a window ends one loop level; children never end one.
            if (backend().depth() > 0) backend().post_quit();
        }
    }
    mark_dirty();
    routines::answer_none();
}

void show_window() {
    i32 i = index_of_handle(*arg(0));
    if (i >= 0 && std::find(windows.begin(), windows.end(), i) == windows.end()) {
        windows.push_back(i);
        backend().open_windows = static_cast<int>(windows.size());
    }
    mark_dirty();
    routines::answer_none();
}

void refresh_window() {
    mark_dirty();
    routines::answer_none();
}

void redraw() {
    mark_dirty();
    routines::answer_none();
}

namespace {
void update_one(const cell& face) {
    i32 i = widget_of(face);
    if (i < 0) return;
    snapshot(registry[i]);
    sync_timer(i);
    cell state = field(face, "state");
    series_buffer* b = buffer_of(state.w2);
    u32 bits = 0;
    if (state.w1 + 1 < used_units(b) && is(&head_cell(b)[state.w1 + 1], type_id::integer))
        bits = head_cell(b)[state.w1 + 1].w2;
    kinds::updated(i, bits);
    i = widget_of(face);
    if (i < 0) return;
    state = field(face, "state");
    b = buffer_of(state.w2);
    if (state.w1 + 1 < used_units(b) && is(&head_cell(b)[state.w1 + 1], type_id::integer))
        head_cell(b)[state.w1 + 1].w2 = 0;
}
} // namespace

void update_view() {
    cell v = *arg(0);
    if (is(&v, type_id::block)) {
        for (u32 k = v.w1; k < used_units(buffer_of(v.w2)); ++k) {
            cell c = head_cell(buffer_of(v.w2))[k];
            if (!is(&c, type_id::object)) {
                cell t{};
                init_datatype(&t, type_of(&c));
                error::raise(err::E("script", "invalid-type"), &t);
            }
            update_one(c);
        }
    } else if (is(&v, type_id::object)) {
        update_one(v);
    } else {
        cell t{};
        init_datatype(&t, type_of(&v));
        error::raise(err::E("script", "invalid-type"), &t);
    }
    mark_dirty();
    routines::answer_none();
}

void focused() {
    i32 i = widget_of(*arg(0));
    routines::answer_logic(i >= 0 && i == focus);
}

void widget_data() {
    i32 i = widget_of(*arg(0));
    cell n{};
    init_integer(&n, i >= 0 ? kinds::widget_data(i) : 0);
    routines::answer(n);
}

void set_face_ui() {
    i32 i = widget_of(*arg(0));
    if (i >= 0) {
        registry[i].ui = text_of(*arg(1));
        mark_dirty();
    }
    routines::answer_none();
}

// Moves the focus to a face: `unfocus` to the old one, `focus` to the new one.
void set_focus() {
    i32 i = widget_of(*arg(0));
    if (i >= 0 && i != focus) {
        i32 old = focus;
        focus = i;
        if (live(old)) post(ev_unfocus, old, {}, 0);
        if (live(i) && focus == i) post(ev_focus, i, {}, 0);
    }
    routines::answer_logic(i >= 0);
}

void install() {
    static bool done = false;
    if (done) return;
    done = true;
    gc::add_mark_callback(mark_widgets);
    tui::backend& b = backend();
    b.paint = paint;
    b.on_mouse = on_mouse;
    b.on_input = on_input;
    b.on_timer = on_timer;
}

bool alive(i32 w) {
    return live(w);
}

cell face_of(i32 w) {
    return registry[w].face;
}

kinds::state& kind_state(i32 w) {
    return registry[w].kind;
}

bool has_focus(i32 w) {
    return w >= 0 && w == focus;
}

i32 widget_of_face(const cell& face) {
    return widget_of(face);
}

void size_of(i32 w, int& width, int& height) {
    xy s = planar(registry[w].shown[f_size]);
    width = s.x;
    height = s.y;
}

void set_ui(i32 w, const std::u32string& ui) {
    registry[w].ui = ui;
    mark_dirty();
}

void reread(i32 w) {
    snapshot(registry[w]);
    mark_dirty();
}

void post_to(i32 w, u32 type, int x, int y) {
    post(type, w, {x, y}, 0);
}

void request_repaint() {
    mark_dirty();
}

int live_count() {
    return static_cast<int>(std::count_if(registry.begin(), registry.end(),
                                          [](const record& r) { return r.alive; }));
}

} // namespace zel::widgets
