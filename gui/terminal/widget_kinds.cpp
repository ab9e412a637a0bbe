// The widget kinds. The registry (widgets.cpp) owns the records; this unit keeps each record's
// kind state and does what the kind adds to painting and to the events the widget receives.
#include "gui/terminal/widget_kinds.hpp"

#include <algorithm>

#include "console/utf8_stream.hpp"
#include "datatypes/basic.hpp"
#include "datatypes/change_events.hpp"
#include "datatypes/context.hpp"
#include "datatypes/image.hpp"
#include "datatypes/object.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/tuple.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/stack.hpp"
#include "gui/terminal/input.hpp"
#include "gui/terminal/posting.hpp"
#include "gui/terminal/rich_text.hpp"
#include "gui/terminal/widgets.hpp"
#include "runtime/collector.hpp"
#include "runtime/display_width.hpp"
#include "runtime/errors.hpp"
#include "runtime/hash_index.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"

namespace zel::kinds {

namespace colour = tui::colour;
namespace attr = tui::attr;

namespace {

constexpr u32 ev_click = 9, ev_focus = 17, ev_unfocus = 18, ev_select = 25,
              ev_change = 26;
constexpr u32 bit_image = 0x10;

int depth = 4;
int caret_column = -1, caret_row = -1;

int width_of(char32_t c) {
    return display_width::codepoint_columns(static_cast<u32>(c));
}

cell none_cell() {
    return cell{type_id::none, 0, 0, 0};
}

u32 sym(std::string_view name) {
    return symbol::intern_text(name);
}

bool word_is(const cell& w, std::string_view text) {
    return is_any_word_type(type_of(&w)) &&
           symbol::canonical_id(w.w2) == symbol::canonical_id(sym(text));
}

cell field(const cell& object, std::string_view name) {
    if (!is(&object, type_id::object)) return none_cell();
    return *object::field_value(&object, sym(name));
}

cell* field_slot(const cell& object, std::string_view name) {
    if (!is(&object, type_id::object) || object::find_field(&object, sym(name)) < 0)
        return nullptr;
    return const_cast<cell*>(object::field_value(&object, sym(name)));
}

std::u32string text_of(const cell& s) {
    return utf8_stream::decode(utf8::encode_string(&s));
}

// The value after a key word (a word or set-word) in an options block, or none.
cell option(const cell& options, std::string_view key) {
    if (!is(&options, type_id::block)) return none_cell();
    series_buffer* b = buffer_of(options.w2);
    for (u32 k = options.w1; k + 1 < used_units(b); ++k)
        if (word_is(head_cell(b)[k], key)) return head_cell(b)[k + 1];
    return none_cell();
}

// system/view/auto-sync? off while the kind changes its own face, so that the change handlers
// queue the change instead of pushing it back here.
class quiet_sync {
  public:
    quiet_sync() {
        cell word = context::global_word(sym("system"));
        cell* system = context::word_value_address(&word);
        if (system) slot_ = field_slot(field(*system, "view"), "auto-sync?");
        if (slot_) {
            saved_ = *slot_;
            init_logic(slot_, false);
        }
    }
    ~quiet_sync() {
        if (!slot_) return;
        cell word = context::global_word(sym("system"));
        cell* system = context::word_value_address(&word);
        if (system) slot_ = field_slot(field(*system, "view"), "auto-sync?");
        if (slot_) *slot_ = saved_;
    }
    quiet_sync(const quiet_sync&) = delete;
    quiet_sync& operator=(const quiet_sync&) = delete;

  private:
    cell* slot_ = nullptr;
    cell saved_{};
};

// Sets a facet as a script assignment does: the face's change handler hears of it.
void set_facet(const cell& face, std::string_view name, const cell& value) {
    i32 index = object::find_field(&face, sym(name));
    if (index < 0) return;
    cell obj = face;
    cell fresh = value;
    cell* base = stack::push_value(&obj);
    cell* slot = const_cast<cell*>(object::field_value(&obj, sym(name)));
    cell* old = stack::push_value(slot);
    cell* new_value = stack::push_value(&fresh);
    *slot = fresh;
    if (obj.w3) {
        cell word{type_id::word, 0, sym(name), context::unbound};
        object::notify_change(&obj, &word, old, new_value);
    }
    stack::top = base;
}

// Calls a function of TUI-helpers with a face; answers its result (none when there is none).
cell call_helper(std::string_view name, const cell& face) {
    cell word = context::global_word(sym("TUI-helpers"));
    cell* helpers = context::word_value_address(&word);
    if (!helpers) return none_cell();
    cell fn = field(*helpers, name);
    if (!is(&fn, type_id::function)) return none_cell();
    cell* base = stack::top;
    cell* f = stack::push_value(&fn);
    stack::push_value(&face);
    cell n{type_id::word, 0, sym(name), context::unbound};
    interp::call_with_arguments(f, 1, &n);
    cell answer = *base;
    stack::top = base;
    return answer;
}

bool enabled(i32 w) {
    cell e = field(widgets::face_of(w), "enabled?");
    return is_truthy(&e);
}

// --- set-up and rebuild ---

void make_image(i32 w) {
    state& s = widgets::kind_state(w);
    s.image.clear();
    s.image_width = 0;
    cell img = field(widgets::face_of(w), "image");
    if (!is(&img, type_id::image)) return;
    int width = 0, height = 0;
    widgets::size_of(w, width, height);
    series_buffer* b = buffer_of(img.w2);
    const u32* px = reinterpret_cast<const u32*>(head_ptr(b));
    s.image = image_cells(px, static_cast<int>(image::width_of(&img)),
                          static_cast<int>(image::height_of(&img)), width, height, depth);
    s.image_width = s.image.empty() ? 0 : width;
}

void setup_edit(i32 w) {
    state& s = widgets::kind_state(w);
    cell text = field(widgets::face_of(w), "text");
    int width = 0, height = 0;
    widgets::size_of(w, width, height);
    if (is(&text, type_id::string)) {
        s.edit = measure_edit(text_of(text), width);
        s.edit_text = text.w2;
    } else {
        s.edit = {};
        s.edit_text = 0;
    }
}

void make_styled(i32 w) {
    state& s = widgets::kind_state(w);
    cell face = widgets::face_of(w);
    cell text = field(face, "text"), data = field(face, "data"), color = field(face, "color");
    s.styled.clear();
    s.styled_made = false;
    if (!is(&text, type_id::string) || !is(&data, type_id::block)) return;
    std::u32string t = text_of(text);
    if (t.empty()) return;
    u32 bg = colour::default_;
    if (is(&color, type_id::tuple) &&
        (tuple::length_of(&color) == 3 || tuple::bytes_of(&color)[3] == 0))
        bg = tui::colour_of_tuple(&color);
    gc::rooted_cell keep(data);
    std::vector<tui::screen_cell> cells = tui::styled_cells(t, &keep.value, colour::default_, bg);
    if (!widgets::alive(w)) return;
    widgets::kind_state(w).styled = std::move(cells);
    widgets::kind_state(w).styled_made = true;
}

void rebuild(i32 w);

// A radio that was set cleared its siblings' data: their marks follow.
void rebuild_sibling_radios(i32 w) {
    cell face = widgets::face_of(w);
    cell parent = field(face, "parent");
    cell pane = field(parent, "pane");
    if (!is(&pane, type_id::block)) return;
    gc::rooted_cell keep(pane);
    for (u32 k = pane.w1;; ++k) {
        series_buffer* b = buffer_of(keep.value.w2);
        if (k >= used_units(b)) break;
        cell f = head_cell(b)[k];
        if (!is(&f, type_id::object) || f.w1 == face.w1) continue;
        i32 other = widgets::widget_of_face(f);
        if (other >= 0 && widgets::kind_state(other).k == kind::radio) {
            gc::rooted_cell keep_face(f);
            call_helper("make-radio-ui", keep_face.value);
            if (widgets::alive(other)) widgets::reread(other);
        }
    }
}

void rebuild(i32 w) {
    if (!widgets::alive(w)) return;
    quiet_sync quiet;
    gc::rooted_cell face(widgets::face_of(w));
    switch (widgets::kind_state(w).k) {
    case kind::progress:
        call_helper("make-progress-ui", face.value);
        break;
    case kind::text_list:
        call_helper("make-text-list-ui", face.value);
        break;
    case kind::check:
    case kind::radio: {
        bool radio = widgets::kind_state(w).k == kind::radio;
        cell ui = call_helper(radio ? "make-radio-ui" : "make-checkbox-ui", face.value);
        if (!widgets::alive(w)) return;
        if (is(&ui, type_id::string)) widgets::set_ui(w, text_of(ui));
        cell data = field(face.value, "data");
        if (radio && is_truthy(&data)) rebuild_sibling_radios(w);
        break;
    }
    case kind::rich_text:
        make_styled(w);
        break;
    default:
        return;
    }
    if (widgets::alive(w)) widgets::reread(w);
}

// --- events of the kinds ---

// The caret made consistent with the text as it is now (a script may have changed it).
edit_state caret_now(const std::u32string& text, const edit_state& e) {
    edit_state c;
    c.index = std::clamp(e.index, 0, static_cast<int>(text.size()));
    for (int i = 0; i < static_cast<int>(text.size()); ++i) {
        if (i < c.index) c.column += width_of(text[i]);
        c.width += width_of(text[i]);
    }
    return c;
}

// The face's text, an empty string put in its place when it has none.
cell field_text(i32 w) {
    cell face = widgets::face_of(w);
    cell text = field(face, "text");
    if (is(&text, type_id::string)) return text;
    gc::rooted_cell keep(face);
    cell fresh{};
    utf8::decode_to_new_string(&fresh, nullptr, 0);
    set_facet(keep.value, "text", fresh);
    if (!widgets::alive(w)) return none_cell();
    return field(widgets::face_of(w), "text");
}

void field_key(i32 w, i32 code, bool special) {
    cell text = field_text(w);
    if (!is(&text, type_id::string)) return;
    state& s = widgets::kind_state(w);
    std::u32string t = text_of(text);
    int width = 0, height = 0;
    widgets::size_of(w, width, height);
    edit_state before = caret_now(t, s.edit);
    edit_step step = edit_key(t, before, width, code, special);
    if (!step.handled) return;
    s.edit = step.after;
    s.edit_text = text.w2;
    // Through the series actions, so that the face's owner notification runs.
    if (step.insert || step.remove) {
        cell* base = stack::top;
        cell* at = stack::push_value(&text);
        at->w1 += static_cast<u32>(step.insert ? before.index : step.after.index);
        if (step.insert) {
            cell* ch = stack::push_value(&text);
            init_char(ch, static_cast<u32>(step.character));
            actions::handler_of_value<act::slot::insert>(at)(at, ch, -1, false, 1, false);
        } else {
            actions::handler_of_value<act::slot::remove>(at)(at, nullptr, nullptr);
        }
        stack::top = base;
    }
    widgets::request_repaint();
}

// A text list's new selection: `select`, then `change` unless the select was answered done.
void list_selected(i32 w, const list_move& m) {
    state& s = widgets::kind_state(w);
    s.first_line = m.first_line;
    gc::rooted_cell face(widgets::face_of(w));
    cell old = field(face.value, "selected");
    int was = is(&old, type_id::integer) ? int_of(&old) : 0;
    if (m.selected == was && is(&old, type_id::integer)) {
        widgets::request_repaint();
        return;
    }
    cell picked{};
    init_integer(&picked, m.selected);
    bool done = tui::post_event(ev_select, face.value, 0, 0, none_cell(), picked, 0);
    if (!widgets::alive(w)) return;
    cell now = field(face.value, "selected");
    if (type_of(&now) == type_of(&old) && now.w2 == old.w2) {
        {
            quiet_sync quiet;
            set_facet(face.value, "selected", picked);
        }
        rebuild(w);
        widgets::request_repaint();
    }
    if (!done && widgets::alive(w))
        tui::post_event(ev_change, face.value, 0, 0, none_cell(), picked, 0);
}

int entry_count(const cell& data) {
    if (is(&data, type_id::block) || is(&data, type_id::hash)) {
        u32 n = used_units(buffer_of(data.w2));
        return data.w1 < n ? static_cast<int>(n - data.w1) : 0;
    }
    if (is(&data, type_id::map)) return static_cast<int>(hash_index::record_of(data.w3)->size);
    return 0;
}

void list_event(i32 w, bool click, int row, i32 code, bool special) {
    cell face = widgets::face_of(w);
    cell selected = field(face, "selected");
    int sel = is(&selected, type_id::integer) ? int_of(&selected) : 0;
    int count = entry_count(field(face, "data"));
    if (!widgets::alive(w)) return;
    int width = 0, height = 0;
    widgets::size_of(w, width, height);
    state& s = widgets::kind_state(w);
    list_move m = click ? list_click(sel, s.first_line, count, row)
                        : list_key(sel, s.first_line, count, height, code, special);
    if (m.handled) list_selected(w, m);
}

// Space or a click: a check box toggles, a radio button is set.
void toggle(i32 w, bool post_change) {
    gc::rooted_cell face(widgets::face_of(w));
    cell data = field(face.value, "data");
    cell next{};
    init_logic(&next, toggled(widgets::kind_state(w).k, data));
    {
        quiet_sync quiet;
        set_facet(face.value, "data", next);
    }
    rebuild(w);
    widgets::request_repaint();
    cell picked{};
    init_integer(&picked, 0);
    if (post_change && widgets::alive(w))
        tui::post_event(ev_change, face.value, 0, 0, none_cell(), picked, 0);
}

// --- painting ---

void fill(canvas& c) {
    for (int y = c.clip.top; y < c.clip.bottom; ++y) {
        tui::screen_cell* row = c.screen.row(y);
        for (int x = c.clip.left; x < c.clip.right; ++x) {
            row[x].code = 0;
            if (c.bg != tui::paint_state::keep) row[x].bg = c.bg;
            row[x].flags = 0;
        }
    }
}

// Cells that carry their own colours: a row per line feed, cut at the clip's right edge.
void write_cells(canvas& c, const std::vector<tui::screen_cell>& cells, int x, int y, u32 flags) {
    int row = y, col = x;
    for (const tui::screen_cell& cell : cells) {
        if (row >= c.clip.bottom) break;
        if (cell.code == U'\n') {
            ++row;
            col = x;
            continue;
        }
        int w = width_of(cell.code);
        if (w == 0) continue;
        if (row >= c.clip.top && col >= c.clip.left && col + w <= c.clip.right) {
            tui::screen_cell* at = c.screen.row(row) + col;
            *at = cell;
            at->flags |= flags;
            if (w == 2) {
                at[1] = *at;
                at[1].code = 0;
                at[1].flags |= attr::wide_second;
            }
        }
        col += w;
    }
}

void write_image(canvas& c, const state& s) {
    if (s.image_width <= 0) return;
    int rows = static_cast<int>(s.image.size()) / s.image_width;
    for (int r = 0; r < rows; ++r) {
        int y = c.y + r;
        if (y < c.clip.top || y >= c.clip.bottom) continue;
        for (int k = 0; k < s.image_width; ++k) {
            int x = c.x + k;
            if (x < c.clip.left || x >= c.clip.right) continue;
            c.screen.row(y)[x] = s.image[static_cast<std::size_t>(r * s.image_width + k)];
        }
    }
}

// The UI text, then (unless skip_text) the face text or the hint, aligned in the face.
void paint_text(canvas& c, u32 flags) {
    tui::paint_state st;
    st.flags = flags | c.flags;
    st.fg = c.fg;
    if (c.ui && !c.ui->empty()) {
        tui::paint_state ui = st;
        tui::write_text(c.screen, *c.ui, c.x, c.y, c.clip, ui);
    }
    if (flags & tui::paint::skip_text) return;
    std::u32string t;
    if (is(&c.text, type_id::string) && !c.window) t = text_of(c.text);
    if (t.empty()) {
        cell hint = option(c.options, "hint");
        if (!is(&hint, type_id::string)) return;
        t = text_of(hint);
        st.flags |= tui::paint::dim;
    }
    st.align = c.align;
    tui::offset o = tui::aligned(t, c.width, c.height, st.align);
    tui::write_text(c.screen, t, c.x + o.x, c.y + o.y, c.clip, st);
}

// A password shows one star per character: the second half of a wide one becomes a space.
void unmask_second_halves(canvas& c) {
    int y = c.y;
    if (y < c.clip.top || y >= c.clip.bottom) return;
    tui::screen_cell* row = c.screen.row(y);
    for (int x = c.clip.left; x < c.clip.right; ++x)
        if ((row[x].flags & attr::masked) && (row[x].flags & attr::wide_second)) {
            row[x].flags &= ~(attr::masked | attr::wide_second);
            row[x].code = 0;
        }
}

void paint_group_box(canvas& c) {
    fill(c);
    cell corners = option(c.options, "border-corners");
    cell colour = option(c.options, "border-color");
    bool round = word_is(corners, "round");
    u32 fg = is(&colour, type_id::tuple) ? tui::colour_of_tuple(&colour) : c.fg;
    int x1 = c.x, y1 = c.y, x2 = c.x + c.width - 1, y2 = c.y + c.height - 1;
    auto put = [&](int x, int y, char32_t code) {
        if (x < c.clip.left || x >= c.clip.right || y < c.clip.top || y >= c.clip.bottom) return;
        tui::screen_cell& cell = c.screen.row(y)[x];
        cell.code = static_cast<u32>(code);
        cell.fg = fg;
        cell.flags = c.flags;
    };
    if (c.width >= 1 && c.height >= 1) {
        for (int x = x1 + 1; x < x2; ++x) {
            put(x, y1, U'\u2500');
            put(x, y2, U'\u2500');
        }
        for (int y = y1 + 1; y < y2; ++y) {
            put(x1, y, U'\u2502');
            put(x2, y, U'\u2502');
        }
        put(x1, y1, round ? U'\u256D' : U'\u250C');
        put(x2, y1, round ? U'\u256E' : U'\u2510');
        put(x1, y2, round ? U'\u2570' : U'\u2514');
        put(x2, y2, round ? U'\u256F' : U'\u2518');
    }
    if (is(&c.text, type_id::string)) {
        tui::paint_state st;
        st.flags = tui::paint::escapes | c.flags;
        st.fg = c.fg;
        tui::write_text(c.screen, text_of(c.text), c.x + 1, c.y, c.clip, st);
    }
}

// A base whose options name caret faces: when one of them has the focus, the cursor stands at
// the base. Answers whether the base names any.
bool caret_base(canvas& c) {
    if (!is(&c.options, type_id::block)) return false;
    series_buffer* b = buffer_of(c.options.w2);
    u32 n = used_units(b) - std::min(used_units(b), c.options.w1);
    if (n % 2) return false;
    bool any = false;
    for (u32 k = c.options.w1; k + 1 < used_units(b); k += 2) {
        if (!word_is(head_cell(b)[k], "caret")) continue;
        any = true;
        cell v = head_cell(b)[k + 1];
        if (is_any_word_type(type_of(&v))) {
            cell* held = context::word_value_address(&v);
            v = held ? *held : none_cell();
        }
        i32 named = is(&v, type_id::object) ? widgets::widget_of_face(v) : -1;
        if (named >= 0 && widgets::has_focus(named)) {
            caret_column = c.x;
            caret_row = c.y;
        }
    }
    return any;
}

} // namespace

bool has_flag(const cell& facet, std::string_view flag) {
    if (is_any_word_type(type_of(&facet))) return word_is(facet, flag);
    if (!is(&facet, type_id::block)) return false;
    series_buffer* b = buffer_of(facet.w2);
    for (u32 i = facet.w1; i < used_units(b); ++i)
        if (word_is(head_cell(b)[i], flag)) return true;
    return false;
}

namespace {
u32 flag_bit(const cell& word) {
    static const std::pair<const char*, u32> table[] = {
        {"all-over", 0x1},           {"focusable", 0x2},          {"tri-state", 0x20000},
        {"scrollable", 0x40000},     {"password", 0x80000},       {"no-sync", 0x100000},
        {"fullscreen", 0x200000},    {"popup", 0x1000000},        {"modal", 0x2000000},
        {"resize", 0x4000000},       {"no-buttons", 0x8000000},   {"no-max", 0x10000000},
        {"no-min", 0x20000000},      {"no-title", 0x40000000},    {"no-border", 0x80000000}};
    for (auto& [name, bit] : table)
        if (word_is(word, name)) return bit;
    cell unknown = word; // out of the block: raising allocates
    error::raise(err::E("script", "invalid-arg"), &unknown);
}
} // namespace

u32 face_flags(const cell& facet) {
    if (is_any_word_type(type_of(&facet))) return flag_bit(facet);
    if (!is(&facet, type_id::block)) return 0;
    u32 bits = 0;
    series_buffer* b = buffer_of(facet.w2);
    for (u32 i = facet.w1; i < used_units(b); ++i) {
        const cell& c = head_cell(b)[i];
        if (is_any_word_type(type_of(&c))) bits |= flag_bit(c);
    }
    return bits;
}

kind kind_of_type(const cell& type) {
    static const std::pair<const char*, kind> table[] = {
        {"window", kind::window},       {"base", kind::base},       {"field", kind::field},
        {"button", kind::button},       {"progress", kind::progress},
        {"text-list", kind::text_list}, {"rich-text", kind::rich_text},
        {"group-box", kind::group_box}, {"check", kind::check},     {"radio", kind::radio}};
    for (auto& [name, k] : table)
        if (word_is(type, name)) return k;
    return kind::plain;
}

edit_state measure_edit(const std::u32string& text, int width) {
    tui::measure_result m = tui::measure(text, std::max(width, 0));
    edit_state e;
    e.index = m.consumed;
    e.column = m.width;
    e.width = m.width;
    return e;
}

edit_step edit_key(const std::u32string& text, const edit_state& caret, int field_width, i32 code,
                   bool special) {
    edit_step s;
    s.after = caret;
    edit_state& a = s.after;
    int length = static_cast<int>(text.size());
    if (!special && (code == 0 || code == 9 || code == 13)) return s;
    s.handled = true;
    bool left = special ? code == tui::key_code::left : code == 2;
    bool right = special ? code == tui::key_code::right : code == 6;
    if (left) {
        if (a.index > 0) {
            --a.index;
            a.column -= width_of(text[static_cast<std::size_t>(a.index)]);
        }
    } else if (right) {
        if (a.index < length) {
            a.column += width_of(text[static_cast<std::size_t>(a.index)]);
            ++a.index;
        }
    } else if (special) {
        // Home, End, Delete and the rest do nothing in a field.
    } else if (code == 8 || code == 127) {
        if (a.index > 0) {
            --a.index;
            int w = width_of(text[static_cast<std::size_t>(a.index)]);
            a.column -= w;
            a.width -= w;
            s.remove = true;
        }
    } else if (code >= 32) {
        char32_t c = static_cast<char32_t>(code);
        int w = width_of(c);
        if (a.width + w <= field_width) {
            s.insert = true;
            s.character = c;
            ++a.index;
            a.column += w;
            a.width += w;
        }
    }
    return s;
}

edit_state click_edit(const std::u32string& text, const edit_state& caret, int column) {
    tui::measure_result m = tui::measure(text, std::max(column, 0));
    edit_state e = caret;
    e.index = m.consumed;
    e.column = m.width;
    return e;
}

list_move list_key(int selected, int first_line, int count, int height, i32 code, bool special) {
    list_move m{false, selected, first_line};
    if (!special) return m;
    if (code == tui::key_code::up) {
        m.handled = true;
        if (m.selected > 1) --m.selected;
        if (m.selected >= 1 && m.selected <= m.first_line) m.first_line = m.selected - 1;
    } else if (code == tui::key_code::down) {
        m.handled = true;
        if (m.selected < count) ++m.selected;
        if (height > 0 && m.selected > m.first_line + height) m.first_line = m.selected - height;
    }
    return m;
}

list_move list_click(int selected, int first_line, int count, int row) {
    list_move m{false, selected, first_line};
    int at = first_line + row + 1;
    // A click below the last entry selects nothing.
    if (row < 0 || at > count) return m;
    m.handled = true;
    m.selected = at;
    return m;
}

bool toggled(kind k, const cell& data) {
    if (k == kind::radio || is(&data, type_id::none)) return true;
    if (is(&data, type_id::logic)) return !data.w1;
    return false;
}

std::vector<tui::screen_cell> image_cells(const u32* pixels, int image_width, int image_height,
                                          int width, int height, int depth_code) {
    std::vector<tui::screen_cell> out;
    if (width <= 0 || height <= 0 || image_width <= 0 || image_height <= 0) return out;
    out.resize(static_cast<std::size_t>(width) * height);
    int ph = height * 2;
    auto pixel = [&](int x, int y) {
        int sx = static_cast<int>(static_cast<i64>(x) * image_width / width);
        int sy = static_cast<int>(static_cast<i64>(y) * image_height / ph);
        return pixels[static_cast<std::size_t>(sy) * image_width + sx];
    };
    auto code_of = [&](u32 p) {
        int a = static_cast<int>(p >> 24), r = p >> 16 & 0xFF, g = p >> 8 & 0xFF, b = p & 0xFF;
        if (a == 0) return colour::default_;
        if (depth_code == 4) return colour::rgb24(static_cast<u32>(r), static_cast<u32>(g),
                                                   static_cast<u32>(b));
        return colour::from_rgba(r, g, b, 255 - a);
    };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            u32 upper = pixel(x, y * 2), lower = pixel(x, y * 2 + 1);
            tui::screen_cell& c = out[static_cast<std::size_t>(y) * width + x];
            if ((upper >> 24) == 0) {
                c = {0, colour::default_, colour::default_, 0};
            } else {
                c = {0x2584, code_of(upper), code_of(lower), 0};
            }
        }
    return out;
}

void set_colour_depth(int d) {
    depth = d;
}

void made(i32 w) {
    state& s = widgets::kind_state(w);
    s = state{};
    s.k = kind_of_type(field(widgets::face_of(w), "type"));
    make_image(w);
    switch (s.k) {
    case kind::field:
        setup_edit(w);
        break;
    case kind::progress:
    case kind::text_list:
    case kind::check:
    case kind::radio:
    case kind::rich_text:
        rebuild(w);
        break;
    default:
        break;
    }
}

void updated(i32 w, u32 bits) {
    if (!widgets::alive(w)) return;
    if (bits & bit_image) make_image(w);
    state& s = widgets::kind_state(w);
    if (s.k == kind::field) {
        // A text put in by a script gets the caret at its end, as a new field does.
        cell text = field(widgets::face_of(w), "text");
        if (!is(&text, type_id::string) || text.w2 != s.edit_text) setup_edit(w);
        return;
    }
    rebuild(w);
}

void start_frame() {
    caret_column = caret_row = -1;
}

bool caret(int& column, int& row) {
    column = caret_column;
    row = caret_row;
    return caret_column >= 0 && caret_row >= 0;
}

void paint(const state& s, const cell& face, bool focused, canvas& c) {
    if (s.k == kind::base && caret_base(c)) return;
    if (s.k == kind::group_box) return paint_group_box(c);
    fill(c);
    if (!s.image.empty()) write_image(c, s);
    switch (s.k) {
    case kind::field: {
        c.clip.bottom = std::min(c.clip.bottom, c.y + 1);
        cell flags = field(face, "flags");
        bool password = has_flag(flags, "password");
        paint_text(c, tui::paint::escapes | (password ? tui::paint::masked : 0));
        if (password) unmask_second_halves(c);
        if (focused) {
            std::u32string t = is(&c.text, type_id::string) ? text_of(c.text) : std::u32string();
            edit_state e = caret_now(t, s.edit);
            caret_column = c.x + e.column;
            caret_row = c.y;
        }
        break;
    }
    case kind::button:
        paint_text(c, tui::paint::escapes | (focused ? tui::paint::reverse : 0));
        break;
    case kind::progress:
        paint_text(c, 0);
        break;
    case kind::rich_text:
        if (s.styled_made) {
            std::u32string t = text_of(c.text);
            tui::offset o = tui::aligned(t, c.width, c.height, c.align);
            write_cells(c, s.styled, c.x + o.x, c.y + o.y, c.flags);
        } else {
            paint_text(c, 0);
        }
        break;
    case kind::check:
    case kind::radio:
        paint_text(c, tui::paint::escapes | tui::paint::skip_text |
                          (focused ? tui::paint::reverse : 0));
        break;
    default:
        paint_text(c, tui::paint::escapes);
    }
}

void event(i32 w, u32 type, int x, int y) {
    if (!widgets::alive(w) || !enabled(w)) return;
    state& s = widgets::kind_state(w);
    switch (s.k) {
    case kind::field:
        if (type == ev_click) {
            cell text = field(widgets::face_of(w), "text");
            std::u32string t = is(&text, type_id::string) ? text_of(text) : std::u32string();
            s.edit = click_edit(t, caret_now(t, s.edit), x);
            widgets::request_repaint();
        }
        break;
    case kind::text_list:
        if (type == ev_click) list_event(w, true, y, 0, false);
        // Only the focused list shows its selection.
        if (type == ev_focus || type == ev_unfocus) {
            rebuild(w);
            widgets::request_repaint();
        }
        break;
    case kind::check:
    case kind::radio:
        // A radio's click becomes `change` in the engine's radio handler: no second one here.
        if (type == ev_click) toggle(w, s.k == kind::check);
        if (type == ev_focus || type == ev_unfocus) widgets::request_repaint();
        break;
    case kind::button:
        if (type == ev_focus || type == ev_unfocus) widgets::request_repaint();
        break;
    default:
        break;
    }
}

void key(i32 w, i32 code, u32 flags) {
    if (!widgets::alive(w) || !enabled(w)) return;
    bool special = flags & tui::event_flag::special;
    switch (widgets::kind_state(w).k) {
    case kind::field:
        field_key(w, code, special);
        break;
    case kind::button:
        if (!special && code == ' ') widgets::post_to(w, ev_click, 0, 0);
        widgets::request_repaint();
        break;
    case kind::text_list:
        list_event(w, false, 0, code, special);
        break;
    case kind::check:
    case kind::radio:
        if (!special && code == ' ') toggle(w, true);
        break;
    default:
        break;
    }
}

int widget_data(i32 w) {
    return widgets::alive(w) ? widgets::kind_state(w).first_line : 0;
}

} // namespace zel::kinds
