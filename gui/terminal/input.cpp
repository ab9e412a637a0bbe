// From decoded terminal events to the backend's keys and mouse reports.
#include "gui/terminal/input.hpp"

namespace zel::tui {

void input_decoder::convert(std::deque<vt_input::event>& events, std::deque<input_item>& out) {
    for (const vt_input::event& e : events) {
        switch (e.kind) {
        case vt_input::event::cursor_report:
            out.push_back({input_item::cursor, 0, 0, e.column - 1, e.row - 1});
            break;
        case vt_input::event::mouse: {
            int b = e.code;
            input_item m{input_item::mouse, (b & 3) | ((b & 64) >> 4), 0, e.column - 1, e.row - 1};
            if (b & 4) m.flags |= event_flag::shift;
            if (b & 8) m.flags |= event_flag::alt;
            if (b & 16) m.flags |= event_flag::control;
            m.release = e.release;
            out.push_back(m);
            break;
        }
        case vt_input::event::key: {
            if (e.modified) break; // keys with modifiers have no meaning here
            i32 c = e.code;
            if (c == vt_input::key::nothing) {
                if (e.function)
                    out.push_back(
                        {input_item::key, key_code::f1 - (e.function - 1), event_flag::special});
                else if (e.back_tab)
                    out.push_back({input_item::key, 9, event_flag::shift});
            } else if (c < 0) {
                // The editor's cursor and editing keys share the backend's codes; insert sends
                // nothing.
                if (c >= key_code::page_down && c <= key_code::up && c != vt_input::key::insert)
                    out.push_back({input_item::key, c, event_flag::special});
            } else {
                out.push_back({input_item::key, c == 8 ? 127 : c == 10 ? 13 : c, 0});
            }
            break;
        }
        }
    }
    events.clear();
}

bool mouse_reports::convert(const input_item& r, int top_row, mouse_event& out) {
    constexpr u32 over = 12, wheel = 11;
    out = {0, static_cast<float>(r.x), static_cast<float>(r.y - top_row), r.flags};
    int button = r.code;
    if (button <= 2) {
        bool press = !r.release;
        if (press != pressed_) {
            pressed_ = press;
            out.type = static_cast<u32>(button * 2 + (press ? 0 : 1) + 1);
            return true;
        }
        out.flags |= event_flag::down; // held while moving
        out.type = over;
        return true;
    }
    if (button == 3) {
        out.type = over;
        return true;
    }
    if (button == 4 || button == 5) {
        out.type = wheel;
        out.wheel = button == 4 ? 1 : -1;
        return true;
    }
    return false;
}

void input_decoder::pass(std::string_view bytes, std::deque<input_item>& out) {
    std::deque<vt_input::event> events;
    if (bytes.empty()) {
        if (decoder_.pending()) decoder_.flush(events);
    } else {
        for (char b : bytes) decoder_.feed(static_cast<u8>(b), events);
    }
    convert(events, out);
}

} // namespace zel::tui
