// Widget records, painting a window's face tree into the screen buffer, and turning the
// backend's input into events for the faces. Faces are read afresh at every paint and after every
// call into script code: a record keeps only its face, its parent and its children.
#include "gui/terminal/widgets.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "console/utf8_stream.hpp"
#include "datatypes/basic.hpp"
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/handle.hpp"
#include "datatypes/object.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/series.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/tuple.hpp"
#include "evaluator/stack.hpp"
#include "gui/terminal/draw.hpp"
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
             f_options, f_draw, facet_count };
constexpr std::string_view facet_names[facet_count] = {
    "type", "offset", "size", "text", "color", "visible?", "enabled?", "font", "para", "options",
    "draw"};

// A record's place in the registry together with its generation: the only way the backend
// keeps a widget across a call into script code, since the record may be destroyed and its slot
// reused meanwhile.
struct ref {
    i32 index = -1;
    u32 generation = 0;
};

struct record {
    cell face{type_id::none, 0, 0, 0};
    cell shown[facet_count] = {};
    i32 parent = -1;
    std::vector<i32> children;
    u32 generation = 1;
    bool alive = false;
    bool window = false;
    bool timed = false;
    cell rate{type_id::none, 0, 0, 0}; // the rate its timer was set for
    ref focus;                         // a window's focused widget
    bool focus_untold = false;         // that widget took the focus unseen, before the window showed
    std::u32string ui;                 // a UI text set by set-face-ui, drawn over the face
    kinds::state kind;                 // what the face's kind keeps: caret, scroll, cells
    // A window's content box: its own box grown by the boxes of the children made in it. The
    // screen buffer is sized to it.
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

// A deque: records stay where they are while script code run from a walk makes new ones.
std::deque<record> registry;
std::vector<i32> free_slots;
std::vector<i32> dead_this_pass; // reused only once no walk can hold them
std::vector<ref> windows;        // shown windows, the current one last
ref hovered, pressed, last_click;
std::vector<ref> pressed_list;   // the widgets under the current press, deepest first
bool pressed_left = false;       // the pointer left the pressed widget during the press
int posting = 0;                 // calls into script code under way
constexpr int double_click_counter = 500;
constexpr std::size_t registry_limit = 65536;
tui::backend* attached = nullptr;

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

ref ref_of(i32 i) {
    return live(i) ? ref{i, registry[i].generation} : ref{};
}

// The record a ref names, or -1 when it was destroyed since.
i32 get(ref r) {
    return live(r.index) && registry[r.index].generation == r.generation ? r.index : -1;
}

u32 handle_value(i32 i) {
    return static_cast<u32>(i) | registry[i].generation << index_bits;
}

i32 index_of_value(u32 v) {
    return get({static_cast<i32>(v & index_mask), v >> index_bits});
}

// The record of a handle, or -1 for a null or stale handle.
i32 index_of_handle(const cell& h) {
    if (!is(&h, type_id::handle) || h.w1 != handle::kind::window) return -1;
    return index_of_value(h.w2);
}

cell handle_of(i32 i) {
    cell h{};
    handle::init_cell(&h, handle_value(i), handle::kind::window);
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
    return attached ? *attached : tui::program_backend();
}

void mark_dirty() {
    backend().frame.dirty = true;
}

// The timer interval of a `rate` in milliseconds, 0 for none; any other value raises.
int rate_interval(const cell& rate) {
    if (is_none(&rate)) return 0;
    int ms = 0;
    if (is(&rate, type_id::integer)) ms = tui::interval_of_rate(int_of(&rate));
    if (is(&rate, type_id::time)) ms = tui::interval_of_seconds(float_of(&rate));
    // A rate too fast to count in milliseconds still fires at every pass.
    bool positive = is(&rate, type_id::integer) ? int_of(&rate) > 0
                    : is(&rate, type_id::time)  ? float_of(&rate) > 0
                                                : false;
    if (!positive) error::raise(err::E("script", "invalid-facet-type"), &rate);
    return std::max(ms, 1);
}

void sync_timer(i32 i) {
    cell rate = field(registry[i].face, "rate");
    int ms = rate_interval(rate);
    record& r = registry[i];
    r.rate = rate;
    if (r.timed) backend().timers.remove(handle_value(i));
    r.timed = ms > 0;
    if (r.timed) backend().timers.add(handle_value(i), ms);
}

// The face leaves the lists of faces that its font and its para keep, so that a change of the
// font or para no longer reaches it.
void leave_sub_lists(const cell& face) {
    for (std::string_view facet : {"font", "para"}) {
        cell sub = field(face, facet);
        if (!is(&sub, type_id::object) || object::find_field(&sub, sym("parent")) < 0) continue;
        cell list = field(sub, "parent");
        if (!is(&list, type_id::block)) continue;
        series_buffer* b = buffer_of(list.w2);
        u32 length = used_units(b);
        for (u32 k = 0; k < length; ++k) {
            const cell* c = head_cell(b) + k;
            if (!is(c, type_id::object) || object::context_of(c) != object::context_of(&face))
                continue;
            std::memmove(head_cell(b) + k, head_cell(b) + k + 1, (length - k - 1) * sizeof(cell));
            b->tail -= sizeof(cell);
            series::index_sync::removed(&list, k, 1, length);
            break;
        }
    }
}

// The backend takes up a shown face's font: the font's `state` becomes a block, after which the
// font's change handler pushes its changes to every face that uses it.
void take_up_font(const cell& face) {
    cell font = field(face, "font");
    if (!is(&font, type_id::object) || object::find_field(&font, sym("state")) < 0) return;
    if (is(object::field_value(&font, sym("state")), type_id::block)) return;
    gc::rooted_cell held(font);
    gc::rooted_cell fresh;
    block::init_cell(&fresh.value, 1);
    *const_cast<cell*>(object::field_value(&held.value, sym("state"))) = fresh.value;
}

// Unlinks nothing: the caller takes the record out of its parent. The record is dead at once
// and its slot waits until no walk of the backend can still name it.
void kill(i32 i) {
    record& r = registry[i];
    leave_sub_lists(r.face);
    for (std::size_t k = 0; k < r.children.size(); ++k)
        if (live(r.children[k])) kill(r.children[k]);
    if (r.timed) backend().timers.remove(handle_value(i));
    // The face no longer names a widget.
    if (widget_of(r.face) == i) init_none(const_cast<cell*>(object::field_value(&r.face, sym("state"))));
    r.alive = false;
    r.timed = false;
    r.children.clear();
    r.ui.clear();
    r.focus = {};
    r.focus_untold = false;
    r.kind = kinds::state{};
    ++r.generation;
    if (r.generation > 0xFFFF) r.generation = 1;
    r.face = none_cell();
    for (cell& c : r.shown) c = none_cell();
    dead_this_pass.push_back(i);
}

// Slots of dead records become free when no walk of the backend is under way.
void reclaim() {
    if (posting > 0) return;
    free_slots.insert(free_slots.end(), dead_this_pass.begin(), dead_this_pass.end());
    dead_this_pass.clear();
}

void mark_widgets() {
    for (record& r : registry)
        if (r.alive) {
            gc::mark_cell(&r.face);
            gc::mark_cell(&r.rate);
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

// A face's size in cells: its `size`, or without one the size of its text.
xy size_of(const record& r) {
    const cell& size = r.shown[f_size];
    if (is(&size, type_id::pair) || is(&size, type_id::point2d)) return planar(size);
    if (!is(&r.shown[f_text], type_id::string)) return {};
    tui::measure_result m = tui::measure(text_of(r.shown[f_text]));
    return {m.width, m.lines};
}

// A window's content box starts as its own box, at 0x0 wherever the window stands.
void reset_content(record& w) {
    xy size = planar(w.shown[f_size]);
    w.x1 = w.y1 = 0;
    w.x2 = size.x;
    w.y2 = size.y;
}

// A child made in a window widens the window's content box to hold it.
void grow_content(record& w, const record& child) {
    xy at = planar(child.shown[f_offset]), size = size_of(child);
    w.x1 = std::min(w.x1, at.x);
    w.y1 = std::min(w.y1, at.y);
    w.x2 = std::max(w.x2, at.x + size.x);
    w.y2 = std::max(w.y2, at.y + size.y);
}

// Paints widget i, or the record given: a copy placed elsewhere, or one made for a face that has
// no widget (i is -1 then).
void paint_face(tui::screen_buffer& screen, i32 i, xy origin, const tui::clip_rect& outer,
                bool disabled, const record* unregistered = nullptr) {
    const record& r = unregistered ? *unregistered : registry[i];
    cell visible = r.shown[f_visible];
    if (!is_truthy(&visible)) return;
    cell enabled = r.shown[f_enabled];
    disabled = disabled || !is_truthy(&enabled);
    xy at = r.window ? xy{} : planar(r.shown[f_offset]);
    xy size = size_of(r);
    cell text = r.shown[f_text];
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
        kinds::paint(r.kind, r.face, has_focus(i), c);
        cell draw = r.shown[f_draw];
        if (is(&draw, type_id::block))
            tui::draw::run(draw, {&screen, pos.x, pos.y, clip, disabled ? tui::paint::dim : 0});
    }
    // Children are clipped to every ancestor below the window, not only to this face; a
    // window's children are cut to the screen buffer alone, which spans all of them.
    const tui::clip_rect& inner = r.window ? outer : clip;
    for (std::size_t k = 0; k < r.children.size(); ++k)
        if (live(r.children[k])) paint_face(screen, r.children[k], pos, inner, disabled);
}


i32 current_window() {
    while (!windows.empty() && get(windows.back()) < 0) windows.pop_back();
    return windows.empty() ? -1 : get(windows.back());
}

bool paint(tui::screen_buffer& screen, tui::frame_state&) {
    i32 w = current_window();
    if (w < 0) {
        screen.size_to(0, 0);
        return false;
    }
    const record& r = registry[w];
    xy size{r.x2 - r.x1, r.y2 - r.y1};
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

// The deepest visible face under a point of the window, searched from the last face of each
// pane to the first, and the point relative to it.
i32 hit(i32 i, xy point, xy origin, xy& local) {
    const record& r = registry[i];
    cell visible = r.shown[f_visible];
    if (!is_truthy(&visible)) return -1;
    xy at = r.window ? xy{} : planar(r.shown[f_offset]);
    xy size = size_of(r);
    xy pos{origin.x + at.x, origin.y + at.y};
    if (!r.window && (point.x < pos.x || point.y < pos.y || point.x >= pos.x + size.x ||
                      point.y >= pos.y + size.y))
        return -1;
    for (std::size_t k = r.children.size(); k-- > 0;)
        if (live(r.children[k])) {
            i32 found = hit(r.children[k], point, pos, local);
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

xy local_to(i32 i, xy point) {
    xy o = origin_of(i);
    return {point.x - o.x, point.y - o.y};
}

i32 window_of(i32 i) {
    while (live(i) && !registry[i].window) i = registry[i].parent;
    return live(i) ? i : -1;
}

i32 focused_in(i32 w) {
    return live(w) ? get(registry[w].focus) : -1;
}

bool enabled(i32 i) {
    cell e = registry[i].shown[f_enabled];
    return is_truthy(&e);
}

// Input reaches a face only while it and every face around it are enabled: a disabled panel
// is painted dim with all it holds.
bool enabled_path(i32 i) {
    for (; live(i); i = registry[i].parent)
        if (!enabled(i)) return false;
    return true;
}

bool face_flag(i32 i, std::string_view flag) {
    return has_flag(field(registry[i].face, "flags"), flag);
}

// Script code runs inside: records destroyed meanwhile keep their slots until it is over.
struct posting_scope {
    posting_scope() { ++posting; }
    ~posting_scope() { --posting; }
};

// Posts an event to a widget's face, after the widget's own reaction; a disabled widget
// receives nothing. The record may die meanwhile, so the caller holds nothing but refs across it.
bool post(u32 type, i32 i, xy local, u32 flags, const cell& picked = none_cell()) {
    if (!live(i) || !enabled(i)) return false;
    kinds::event(i, type, local.x, local.y);
    if (!live(i)) return false;
    posting_scope scope;
    gc::rooted_cell face(registry[i].face);
    gc::rooted_cell p(picked);
    bool done = tui::post_event(type, face.value, static_cast<float>(local.x),
                                static_cast<float>(local.y), none_cell(), p.value, flags);
    mark_dirty();
    return done;
}

constexpr u32 ev_down = 1, ev_up = 2, ev_click = 9, ev_dbl_click = 10, ev_wheel = 11, ev_over = 12,
              ev_focus = 17, ev_unfocus = 18;

// Moves a window's focus: `unfocus` to the widget that had it, `focus` to the new one.
void take_focus(i32 i) {
    i32 w = window_of(i);
    if (w < 0) return;
    i32 old = focused_in(w);
    if (old == i) return;
    ref now = ref_of(i);
    registry[w].focus = now;
    registry[w].focus_untold = false;
    mark_dirty();
    if (old >= 0) post(ev_unfocus, old, {}, 0);
    if (get(now) >= 0 && focused_in(window_of(now.index)) == now.index)
        post(ev_focus, now.index, {}, 0);
}

// The widgets under a point, deepest first, up to the window.
std::vector<ref> path_of(i32 i) {
    std::vector<ref> path;
    for (; live(i); i = registry[i].parent) path.push_back(ref_of(i));
    return path;
}

bool pressed_has(ref r) {
    return std::any_of(pressed_list.begin(), pressed_list.end(), [&](const ref& p) {
        return p.index == r.index && p.generation == r.generation;
    });
}

xy last_hover;

void motion(i32 w, i32 target, xy point, xy local, u32 flags) {
    ref t = ref_of(target);
    if (get(hovered) < 0 && target != w) post(ev_over, w, point, flags);
    i32 h = get(hovered);
    if (get(t) != h) {
        if (h >= 0) {
            if (h == get(pressed)) pressed_left = true;
            post(ev_over, h, local_to(h, last_hover), flags | tui::event_flag::away);
        }
        if (get(t) >= 0 && get(t) == get(pressed)) pressed_left = false;
        hovered = t;
        post(ev_over, get(t), local, flags);
    } else if (face_flag(target, "all-over")) {
        post(ev_over, target, local, flags);
    }
    last_hover = point;
    // A pressed face the pointer has left follows it when it asks for every motion (dragging).
    i32 p = get(pressed);
    if (p >= 0 && pressed_left && p != get(t) && face_flag(p, "all-over"))
        post(ev_over, p, local_to(p, point), flags);
}

void button_up(i32 target, xy point, xy local, u32 flags) {
    tui::backend& b = backend();
    std::vector<ref> path = path_of(target);
    ref was = pressed;
    bool left = pressed_left;
    post(ev_up, target, local, flags);
    // The click goes to the deepest face on the path that the press went to as well.
    for (const ref& r : path) {
        i32 c = get(r);
        if (c < 0 || !pressed_has(r)) continue;
        bool twice = b.click_state == 2 && b.click_counter < double_click_counter &&
                     get(last_click) == c;
        last_click = twice ? ref{} : r;
        post(ev_click, c, local_to(c, point), flags);
        if (twice && get(r) >= 0) {
            b.click_state = 10;
            post(ev_dbl_click, r.index, local_to(r.index, point), flags);
        }
        // A click focuses the deepest face when it takes the focus.
        i32 t = get(path.front());
        if (t >= 0 && face_flag(t, "focusable") && focused_in(window_of(t)) != t) take_focus(t);
        break;
    }
    i32 p = get(was);
    if (p >= 0 && left && p != get(path.front())) post(ev_up, p, local_to(p, point), flags);
    pressed = {};
    pressed_list.clear();
    pressed_left = false;
    b.click_state = b.click_state == 10 ? 0 : 2;
    b.click_counter = 0;
}

void on_mouse(const tui::mouse_event& m) {
    i32 w = current_window();
    if (w < 0) return;
    xy point{static_cast<int>(m.x), static_cast<int>(m.y)};
    xy local;
    i32 target = hit(w, point, {}, local);
    if (target < 0) return;
    switch (m.type) {
    case ev_over:
        motion(w, target, point, local, m.flags);
        break;
    case ev_down: {
        // A press may come with no motion reported before it: the pointer is where it is.
        ref t = ref_of(target);
        if (get(hovered) != target) motion(w, target, point, local, m.flags);
        if (get(t) < 0) break;
        pressed = t;
        pressed_left = false;
        pressed_list = path_of(target);
        if (enabled_path(target)) post(ev_down, target, local, m.flags);
        break;
    }
    case ev_up:
        if (enabled_path(target))
            button_up(target, point, local, m.flags);
        else
            pressed = {}, pressed_list.clear();
        break;
    case ev_wheel: {
        cell amount{};
        init_float(&amount, m.wheel);
        if (enabled_path(target)) post(ev_wheel, target, local, m.flags, amount);
        break;
    }
    default:
        if (enabled_path(target)) post(m.type, target, local, m.flags);
    }
}

// A key goes to the focused widget of the current window, or to the window itself.
void on_input(const tui::input_item& item) {
    i32 w = current_window();
    if (w < 0) return;
    i32 to = focused_in(w) >= 0 ? focused_in(w) : w;
    if (!enabled_path(to)) return;
    posting_scope scope;
    gc::rooted_cell face(registry[to].face);
    if (!tui::post_key(face.value, item.code, item.flags) && live(to))
        kinds::key(to, item.code, item.flags);
    mark_dirty();
}

void on_timer(u32 value) {
    i32 i = index_of_value(value);
    if (i >= 0) post(tui::event_type::time, i, {}, 0);
}

// The outermost loop is over: every widget goes, and the faces that still named one name
// none, so that a later `show` or `unview` starts afresh.
void teardown() {
    for (std::size_t i = 0; i < registry.size(); ++i)
        if (registry[i].alive && !live(registry[i].parent)) kill(static_cast<i32>(i));
    windows.clear();
    hovered = pressed = last_click = {};
    pressed_list.clear();
    pressed_left = false;
    reclaim();
}

// A window becomes current: hover and press start afresh.
void reset_tracking() {
    hovered = pressed = {};
    pressed_list.clear();
    pressed_left = false;
}

void sync_window_count() {
    backend().open_windows = static_cast<int>(windows.size());
}

cell* arg(u32 i) {
    return stack::arg(i);
}

} // namespace

void make_view() {
    cell face = *arg(0);
    i32 parent = index_of_handle(*arg(1));
    // An invalid rate or flag raises before anything is made.
    rate_interval(field(face, "rate"));
    kinds::face_flags(field(face, "flags"));
    reclaim();
    i32 i;
    if (!free_slots.empty()) {
        i = free_slots.back();
        free_slots.pop_back();
    } else {
        // Handles carry the index in 16 bits.
        if (registry.size() >= registry_limit) error::raise(err::E("internal", "no-memory"));
        i = static_cast<i32>(registry.size());
        registry.emplace_back();
    }
    record& r = registry[i];
    r.face = face;
    r.parent = parent;
    r.alive = true;
    r.window = word_is(field(face, "type"), "window");
    r.children.clear();
    r.focus = {};
    r.focus_untold = false;
    snapshot(r);
    take_up_font(face);
    if (r.window) reset_content(r);
    if (parent >= 0) {
        registry[parent].children.push_back(i);
        if (registry[parent].window) grow_content(registry[parent], r);
    }
    // The first focusable face made in a window takes its focus; it hears of it when the window
    // is shown.
    if (parent >= 0 && face_flag(i, "focusable")) {
        i32 w = window_of(i);
        if (w >= 0 && focused_in(w) < 0) {
            registry[w].focus = ref_of(i);
            registry[w].focus_untold = true;
        }
    }
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
    bool was_current = current_window() == i;
    i32 parent = registry[i].parent;
    if (live(parent)) {
        auto& c = registry[parent].children;
        c.erase(std::remove(c.begin(), c.end(), i), c.end());
    }
    kill(i);
    if (window) {
        windows.erase(std::remove_if(windows.begin(), windows.end(),
                                     [](const ref& r) { return get(r) < 0; }),
                      windows.end());
        if (was_current) reset_tracking();
        sync_window_count();
        // Closing a window ends one loop level; children never end one.
        if (backend().depth() > 0) backend().post_quit();
    }
    mark_dirty();
    routines::answer_none();
}

void show_window() {
    i32 i = index_of_handle(*arg(0));
    // `show` of a window shown already (a face dragged in it shows its parent) keeps the press
    // and hover; a window that becomes current starts them afresh.
    if (i >= 0 && current_window() != i) {
        windows.erase(std::remove_if(windows.begin(), windows.end(),
                                     [&](const ref& r) { return get(r) < 0 || r.index == i; }),
                      windows.end());
        windows.push_back(ref_of(i));
        reset_tracking();
        sync_window_count();
    }
    if (i >= 0 && registry[i].focus_untold) {
        registry[i].focus_untold = false;
        if (i32 f = focused_in(i); f >= 0) post(ev_focus, f, {}, 0);
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
// The change bits in a face's state.
u32 change_bits(const cell& face) {
    cell state = field(face, "state");
    if (!is(&state, type_id::block)) return 0;
    series_buffer* b = buffer_of(state.w2);
    if (state.w1 + 1 < used_units(b) && is(&head_cell(b)[state.w1 + 1], type_id::integer))
        return head_cell(b)[state.w1 + 1].w2;
    return 0;
}

void update_one(const cell& face) {
    i32 i = widget_of(face);
    if (i < 0) return;
    constexpr u32 flags_bit = 0x800;
    if (change_bits(face) & flags_bit) kinds::face_flags(field(face, "flags"));
    take_up_font(face);
    snapshot(registry[i]);
    // Only a new rate restarts the timer: other changes leave its count running.
    cell rate = field(face, "rate"), &was = registry[i].rate;
    if (type_of(&rate) != type_of(&was) || rate.w1 != was.w1 || rate.w2 != was.w2 ||
        rate.w3 != was.w3)
        sync_timer(i);
    u32 bits = change_bits(face);
    // A window given a new size forgets what its children added to its content box.
    constexpr u32 size_bit = 0x4;
    if (registry[i].window && (bits & size_bit)) reset_content(registry[i]);
    kinds::updated(i, bits);
    i = widget_of(face);
    if (i < 0) return;
    // A window's `selected` names the face that holds its focus; none gives it to the window.
    constexpr u32 selected_bit = 0x400;
    if (registry[i].window && (bits & selected_bit)) {
        cell chosen = field(face, "selected");
        i32 s = is(&chosen, type_id::object) ? widget_of(chosen) : -1;
        take_focus(s >= 0 && window_of(s) == i ? s : i);
        i = widget_of(face);
        if (i < 0) return;
    }
    cell state = field(face, "state");
    series_buffer* b = buffer_of(state.w2);
    if (state.w1 + 1 < used_units(b) && is(&head_cell(b)[state.w1 + 1], type_id::integer))
        head_cell(b)[state.w1 + 1].w2 = 0;
}

[[noreturn]] void raise_invalid_type(const cell& v) {
    cell t{};
    init_datatype(&t, type_of(&v));
    error::raise(err::E("script", "invalid-type"), &t);
}
} // namespace

void update_view() {
    cell v = *arg(0);
    if (is(&v, type_id::block)) {
        // Every value is checked before any face is updated.
        for (u32 k = v.w1; k < used_units(buffer_of(v.w2)); ++k)
            if (!is(&head_cell(buffer_of(v.w2))[k], type_id::object))
                raise_invalid_type(head_cell(buffer_of(v.w2))[k]);
        for (u32 k = v.w1; k < used_units(buffer_of(v.w2)); ++k)
            update_one(head_cell(buffer_of(v.w2))[k]);
    } else if (is(&v, type_id::object)) {
        update_one(v);
    } else {
        raise_invalid_type(v);
    }
    mark_dirty();
    routines::answer_none();
}

void update_facet() {
    cell owner = *arg(0), word = *arg(1), value = *arg(2), action = *arg(3);
    i32 index = int_of(arg(5)), part = int_of(arg(6));
    i32 i = widget_of(owner);
    cell type = field(owner, "type");
    if (word_is(word, "data") && is(&value, type_id::block)) {
        if ((word_is(type, "drop-list") || word_is(type, "drop-down")) && part == 0)
            return routines::answer_none();
        bool shrinks = word_is(action, "remove") || word_is(action, "take") ||
                       word_is(action, "clear") || word_is(action, "move");
        if (i >= 0 && word_is(type, "text-list") && shrinks) {
            u32 used = used_units(buffer_of(value.w2));
            i32 length = used > value.w1 ? static_cast<i32>(used - value.w1) : 0;
            record& r = registry[i];
            if (r.kind.first_line > index) r.kind.first_line = index;
            if (index == 0 && part >= length) r.kind.first_line = 0;
            cell* selected = const_cast<cell*>(object::field_value(&owner, sym("selected")));
            if (is(selected, type_id::integer) && int_of(selected) > std::max(0, length - part))
                init_integer(selected, std::max(0, length - part));
        }
    }
    update_one(owner);
    mark_dirty();
    routines::answer_none();
}

void focused() {
    i32 i = widget_of(*arg(0));
    routines::answer_logic(i >= 0 && focused_in(window_of(i)) == i);
}

void widget_data() {
    i32 i = widget_of(*arg(0));
    if (i < 0) return routines::answer_none();
    cell n{};
    routines::answer(*init_integer(&n, kinds::widget_data(i)));
}

void set_face_ui() {
    i32 i = widget_of(*arg(0));
    if (i >= 0) {
        registry[i].ui = text_of(*arg(1));
        mark_dirty();
    }
    routines::answer_none();
}

void set_focus() {
    i32 i = widget_of(*arg(0));
    if (i >= 0) take_focus(i);
    routines::answer_logic(i >= 0);
}

void attach(tui::backend& b) {
    static bool marked = false;
    if (!marked) gc::add_mark_callback(mark_widgets);
    marked = true;
    attached = &b;
    b.paint = paint;
    b.on_mouse = on_mouse;
    b.on_input = on_input;
    b.on_timer = on_timer;
    b.on_pass_end = reclaim;
    b.on_teardown = teardown;
}

void install() {
    static bool done = false;
    if (done) return;
    done = true;
    attach(tui::program_backend());
}

void paint_face_at(tui::screen_buffer& screen, const cell& face, int x, int y,
                   const tui::clip_rect& clip) {
    // A face without a widget gets a record of its own for this painting only: it is never
    // registered, so it takes no focus, runs no timer and closes no loop when it goes.
    i32 i = widget_of(face);
    record temporary;
    if (i < 0) {
        temporary.face = face;
        snapshot(temporary);
    }
    record r = i < 0 ? temporary : registry[i];
    r.window = false;
    pair::init_cell(&r.shown[f_offset], 0, 0);
    paint_face(screen, i, {x, y}, clip, false, &r);
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
    return w >= 0 && focused_in(window_of(w)) == w;
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

int free_count() {
    return static_cast<int>(free_slots.size());
}

} // namespace zel::widgets
