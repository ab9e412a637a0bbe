// The platform routines. Those that act on a face's widget do nothing while the face has none;
// a widget comes only from `make-view`.
#include "gui/terminal/gui_routines.hpp"

#include <bit>
#include <sys/ioctl.h>
#include <unistd.h>

#include "console/utf8_stream.hpp"
#include "datatypes/basic.hpp"
#include "datatypes/context.hpp"
#include "datatypes/handle.hpp"
#include "datatypes/object.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/point.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "gui/terminal/draw.hpp"
#include "gui/terminal/event_loop.hpp"
#include "gui/terminal/requesters.hpp"
#include "gui/terminal/text_layout.hpp"
#include "gui/terminal/widget_kinds.hpp"
#include "gui/terminal/widgets.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/print_hooks.hpp"
#include "runtime/unicode.hpp"

namespace zel::gui_routines {

namespace {

float point_x(const cell* p) {
    return std::bit_cast<float>(p->w1);
}
float point_y(const cell* p) {
    return std::bit_cast<float>(p->w2);
}

cell* arg(u32 i) {
    return stack::arg(i);
}

// The slot of an object's field, or null.
cell* field_slot(const cell& object, std::string_view name) {
    if (!is(&object, type_id::object)) return nullptr;
    u32 sym = symbol::intern_text(name);
    if (object::find_field(&object, sym) < 0) return nullptr;
    return const_cast<cell*>(object::field_value(&object, sym));
}

cell field_of(const cell& object, std::string_view name) {
    cell none{};
    init_none(&none);
    cell* s = field_slot(object, name);
    return s ? *s : none;
}

bool word_is(const cell& w, std::string_view text) {
    return is_any_word_type(type_of(&w)) &&
           symbol::canonical_id(w.w2) == symbol::canonical_id(symbol::intern_text(text));
}

[[noreturn]] void raise_invalid_type(const cell* value) {
    cell t{};
    init_datatype(&t, type_of(value));
    error::raise(err::E("script", "invalid-type"), &t);
}

std::u32string text_of(const cell* s) {
    return utf8_stream::decode(utf8::encode_string(s));
}


terminal::screen_size terminal_size() {
    winsize ws{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) != 0 || ws.ws_col < 1 || ws.ws_row < 1)
        return {80, 24};
    return {ws.ws_col, ws.ws_row};
}

// The first screen face's size follows the terminal.
void set_screen_size(int columns, int rows) {
    cell word = context::global_word(symbol::intern_text("system"));
    cell system = *context::word_value_address(&word);
    cell view = field_of(system, "view");
    cell screens = field_of(view, "screens");
    if (!is(&screens, type_id::block)) return;
    series_buffer* b = buffer_of(screens.w2);
    if (screens.w1 >= used_units(b)) return;
    cell screen = head_cell(b)[screens.w1];
    if (cell* size = field_slot(screen, "size")) pair::init_cell(size, columns, rows);
}

void none_result() {
    routines::answer_none();
}

void make_null_handle() {
    cell h{};
    routines::answer(*handle::init_cell(&h, 0, handle::kind::none));
}

void get_screen_size() {
    terminal::screen_size s = terminal_size();
    cell p{};
    routines::answer(*pair::init_cell(&p, s.columns, s.rows));
}

void size_text() {
    cell face = *arg(0), value = *arg(1);
    cell text{};
    if (is(&value, type_id::string))
        text = value;
    else if (is_none(&value))
        text = field_of(face, "text");
    else
        raise_invalid_type(&value);
    if (!is(&text, type_id::string)) return none_result();
    tui::measure_result m = tui::measure(text_of(&text));
    cell p{};
    routines::answer(
        *point2d::init_cell(&p, static_cast<float>(m.width), static_cast<float>(m.lines)));
}

void update_font() {
    i32 kind = int_of(arg(1));
    if ((kind >= 0 && kind <= 3) || kind == 5) {
        if (cell* state = field_slot(*arg(0), "state")) init_none(state);
    }
    none_result();
}

void update_para() {
    cell face = *arg(0);
    cell type = field_of(face, "type");
    cell state = field_of(face, "state");
    if (is(&type, type_id::word) && is(&state, type_id::block)) {
        series_buffer* b = buffer_of(state.w2);
        if (state.w1 + 1 < used_units(b)) {
            cell* bits = head_cell(b) + state.w1 + 1;
            if (is(bits, type_id::integer)) bits->w2 |= 0x40000;
        }
    }
    none_result();
}



// A face's draw block is painted with the face, so drawing on it has nothing more to do; its
// flags are read all the same, and a flag word the backend does not know raises.
void draw_face() {
    kinds::face_flags(field_of(*arg(0), "flags"));
    none_result();
}

void do_event_loop() {
    bool no_wait = is_truthy(arg(0));
    cell word = context::global_word(symbol::intern_text("system"));
    cell platform = field_of(field_of(*context::word_value_address(&word), "view"), "platform");
    cell mouse = field_of(platform, "mouse-event?");
    tui::backend& b = tui::program_backend();
    b.mouse_wanted = is_truthy(&mouse);
    routines::answer_logic(b.do_events(no_wait));
}

void exit_event_loop() {
    tui::program_backend().post_quit();
    none_result();
}

void request_font() {
    routines::answer(*arg(0));
}

void text_box_metrics() {
    cell box = *arg(0), a = *arg(1);
    cell type = field_of(box, "type");
    if (!word_is(type, "rich-text")) error::raise(err::E("script", "face-type"), &type);
    cell text = field_of(box, "text");
    if (!is(&text, type_id::string)) return none_result();
    cell size = field_of(box, "size");
    int limit = -1;
    if (is(&size, type_id::pair))
        limit = int_of(&size);
    else if (is(&size, type_id::point2d))
        limit = static_cast<int>(point_x(&size));
    double x = 0, y = 0;
    if (is(&a, type_id::integer))
        x = int_of(&a);
    else if (is(&a, type_id::pair))
        x = int_of(&a), y = static_cast<i32>(a.w3);
    else if (is(&a, type_id::point2d))
        x = point_x(&a), y = point_y(&a);
    tui::metric m = tui::text_box_metric(text_of(&text), limit, int_of(arg(2)), x, y);
    cell out{};
    switch (m.kind) {
    case tui::metric::point:
        point2d::init_cell(&out, static_cast<float>(m.x), static_cast<float>(m.y));
        break;
    case tui::metric::integer:
        init_integer(&out, static_cast<i32>(m.x));
        break;
    case tui::metric::real:
        init_float(&out, m.x);
        break;
    }
    routines::answer(out);
}

void support_dark_mode() {
    routines::answer_logic(false);
}


// The backend's start: the colour depth, and the hooks through which printing and resizing
// reach the loop.
int colour_depth = 4;
void tui_start() {
    colour_depth = int_of(arg(0));
    kinds::set_colour_depth(colour_depth);
    tui::backend& b = tui::program_backend();
    b.on_resize = set_screen_size;
    widgets::install();
    print_hooks::set_console_hooks([] { tui::program_backend().console_suspend(); },
                                   [] { tui::program_backend().console_resume(); });
    none_result();
}

void find_flag() {
    cell facet = *arg(0), flag = *arg(1);
    bool found = false;
    u32 want = symbol::canonical_id(flag.w2);
    if (is(&facet, type_id::word)) {
        found = symbol::canonical_id(facet.w2) == want;
    } else if (is(&facet, type_id::block)) {
        series_buffer* b = buffer_of(facet.w2);
        for (u32 i = facet.w1; i < used_units(b) && !found; ++i) {
            const cell* c = head_cell(b) + i;
            if ((is(c, type_id::word) || is(c, type_id::lit_word)) &&
                symbol::canonical_id(c->w2) == want)
                found = true;
        }
    }
    routines::answer_logic(found);
}

void event_q() {
    routines::answer_logic(is(arg(0), type_id::event));
}

void send_event_os() {
    routines::answer_logic(false);
}

const routines::definition private_table[] = {
    {"_make-null-handle", "[]", make_null_handle},
    {"_fetch-all-screens", "[]", none_result},
    {"_get-screen-size", "[id [integer!]]", get_screen_size},
    {"_size-text", "[face [object!] value [any-type!]]", size_text},
    {"_on-change-facet",
     "[owner [object!] word [any-word!] value [any-type!] action [word!] new [any-type!] index "
     "[integer!] part [integer!]]",
     widgets::update_facet},
    {"_update-text", "[face [object!]]", none_result},
    {"_update-font", "[font [object!] flags [integer!]]", update_font},
    {"_update-para", "[face [object!] flags [integer!]]", update_para},
    {"_destroy-view", "[face [object!] empty? [logic!]]", widgets::destroy_view},
    {"_detach-image", "[img [image!]]", none_result},
    {"_update-view", "[face [any-type!]]", widgets::update_view},
    {"_refresh-window", "[h [handle!]]", widgets::refresh_window},
    {"_redraw", "[face [object!]]", widgets::redraw},
    {"_show-window", "[id [handle!]]", widgets::show_window},
    {"_make-view", "[face [object!] parent [handle!]]", widgets::make_view},
    {"_draw-image", "[image [image!] cmds [block!]]", tui::draw::draw_image},
    {"_draw-face", "[face [object!] cmds [block!]]", draw_face},
    {"_do-event-loop", "[no-wait? [logic!]]", do_event_loop},
    {"_exit-event-loop", "[]", exit_event_loop},
    {"_request-font", "[font [object!] selected [any-type!] mono? [logic!]]", request_font},
    {"_request-file",
     "[title [any-type!] name [any-type!] filter [any-type!] save? [logic!] multi? [logic!]]",
     requesters::request_file},
    {"_request-dir",
     "[title [any-type!] dir [any-type!] filter [any-type!] keep? [logic!] multi? [logic!]]",
     requesters::request_dir},
    {"_text-box-metrics", "[box [object!] arg0 [any-type!] type [integer!]]", text_box_metrics},
    {"_update-scroller", "[scroller [object!] flags [integer!]]", none_result},
    {"_set-dark-mode", "[face [object!] dark? [logic!]]", none_result},
    {"_support-dark-mode?", "[return: [logic!]]", support_dark_mode},
    {"_toggle-GPU", "[]", none_result},
    {"_focused?", "[face [object!]]", widgets::focused},
    {"_widget-data", "[face [object!]]", widgets::widget_data},
    {"_set-face-ui", "[face [object!] ui [string!]]", widgets::set_face_ui},
    {"_set-focus", "[face [object!]]", widgets::set_focus},
    {"_tui-start", "[depth [integer!]]", tui_start},
};

const routines::definition global_table[] = {
    {"find-flag?", "[facet [any-type!] flag [word!]]", find_flag},
    {"event?", "[value [any-type!] return: [logic!]]", event_q},
    {"send-event-os", "[event [event!] queued? [logic!] return: [logic!]]", send_event_os},
};

} // namespace

std::span<const routines::definition> private_routines() {
    return private_table;
}

void bind_globals() {
    routines::bind_globals(global_table);
}

} // namespace zel::gui_routines
