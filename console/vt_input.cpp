// Key decoding: a small state machine over ECMA-48 control sequences (CSI and SS3) and UTF-8.
#include "console/vt_input.hpp"

#include "runtime/process.hpp"

namespace zel::vt_input {

namespace {

constexpr std::size_t max_params = 32;

void put_key(std::deque<event>& out, i32 code) {
    out.push_back({event::key, code, 0, 0});
}

// The numbers of a parameter string such as "1;5" (an empty field counts as 0). The string is
// capped at max_params bytes, so it never holds more numbers than that.
struct number_list {
    int values[max_params + 1];
    std::size_t count = 1;
    std::size_t size() const { return count; }
    int operator[](std::size_t i) const { return values[i]; }
};
number_list numbers(const std::string& params) {
    number_list out;
    out.values[0] = 0;
    for (char c : params) {
        if (c == ';') {
            out.values[out.count++] = 0;
        } else if (c >= '0' && c <= '9' && out.values[out.count - 1] < 100000) {
            int& v = out.values[out.count - 1];
            v = v * 10 + (c - '0');
        }
    }
    return out;
}

i32 tilde_key(int n) {
    switch (n) {
    case 1:
    case 7:
        return key::home;
    case 2:
        return key::insert;
    case 3:
        return key::delete_;
    case 4:
    case 8:
        return key::end;
    case 5:
        return key::page_up;
    case 6:
        return key::page_down;
    default:
        return key::nothing;
    }
}

// F5 to F12 in their "~" form; 0 for other numbers.
int function_number(int n) {
    switch (n) {
    case 15:
        return 5;
    case 17:
        return 6;
    case 18:
        return 7;
    case 19:
        return 8;
    case 20:
        return 9;
    case 21:
        return 10;
    case 23:
        return 11;
    case 24:
        return 12;
    default:
        return 0;
    }
}

i32 cursor_key(u8 final) {
    switch (final) {
    case 'A':
        return key::up;
    case 'B':
        return key::down;
    case 'C':
        return key::right;
    case 'D':
        return key::left;
    case 'H':
        return key::home;
    case 'F':
        return key::end;
    default:
        return key::nothing;
    }
}

} // namespace

void decoder::ground(u8 b, std::deque<event>& out) {
    u32 cps[2];
    int n = utf8_.feed(b, cps);
    for (int i = 0; i < n; ++i) {
        u32 c = cps[i];
        if (c == 0x1B) state_ = state::escape;
        // A line feed is Enter too: with input translation off some terminals send it.
        else if (c == '\n')
            put_key(out, key::enter);
        else
            put_key(out, static_cast<i32>(c));
    }
}

void decoder::control_sequence(u8 final, std::deque<event>& out) {
    state_ = state::ground;
    bool sgr_mouse = !params_.empty() && params_[0] == '<';
    number_list n = numbers(params_);
    if (dialect_ == dialect::gui && !intermediates_ && (final == 'M' || final == 'm') &&
        n.size() == 3 && (sgr_mouse || params_.empty() || params_[0] != '?')) {
        // The SGR form carries the button as it is; the urxvt form adds 32 to it.
        int button = sgr_mouse ? n[0] : n[0] - 32;
        event e{event::mouse, button, n[2], n[1]};
        e.release = final == 'm';
        out.push_back(e);
        return;
    }
    if (!params_.empty() && params_[0] >= '<' && params_[0] <= '?') {
        put_key(out, key::nothing); // private sequences (mouse, device replies)
        return;
    }
    if (final == '~') {
        i32 code = intermediates_ ? key::nothing : tilde_key(n[0]);
        event e{event::key, code, 0, 0};
        if (!intermediates_) e.function = function_number(n[0]);
        e.modified = n.size() > 1;
        out.push_back(e);
    } else if (final == 'Z' && !intermediates_) {
        event e{event::key, key::nothing, 0, 0};
        e.back_tab = true;
        out.push_back(e);
    } else if (final == 'R' && n.size() == 2 && !intermediates_) {
        out.push_back({event::cursor_report, 0, n[0], n[1]});
    } else if (final == '[' && params_.empty()) {
        state_ = state::csi_bracket; // the Linux console's function keys: ESC [ [ A
    } else {
        event e{event::key, intermediates_ ? key::nothing : cursor_key(final), 0, 0};
        e.modified = n.size() > 1;
        out.push_back(e);
    }
}

void decoder::feed(u8 b, std::deque<event>& out) {
    switch (state_) {
    case state::ground:
        ground(b, out);
        return;
    case state::escape:
        if (b == '[' || b == 'O') {
            state_ = b == '[' ? state::csi : state::ss3;
            params_.clear();
            intermediates_ = false;
        } else if (b == 0x1B) {
            put_key(out, key::escape);
        } else if (dialect_ == dialect::gui && (b == ']' || b == 'P')) {
            state_ = state::string;
        } else if (dialect_ == dialect::gui) {
            // Alt with a key: one key that maps to nothing; the next byte is read afresh.
            state_ = state::ground;
            put_key(out, key::nothing);
        } else {
            put_key(out, key::escape);
            state_ = state::ground;
            ground(b, out);
        }
        return;
    case state::csi:
        if (b >= 0x30 && b <= 0x3F) {
            if (params_.size() < max_params) params_ += static_cast<char>(b);
        } else if (b >= 0x20 && b <= 0x2F) {
            intermediates_ = true;
        } else if (b >= 0x40 && b <= 0x7E) {
            control_sequence(b, out);
        } else {
            // Not a sequence after all: drop what was gathered and read the byte afresh.
            state_ = state::ground;
            ground(b, out);
        }
        return;
    case state::csi_bracket:
        state_ = state::ground;
        if (b >= 0x40 && b <= 0x7E)
            put_key(out, key::nothing);
        else
            ground(b, out);
        return;
    case state::string:
        // A terminal string ends at ST (ESC \) or at BEL; nothing of it is a key.
        if (b == 0x07)
            state_ = state::ground;
        else if (b == 0x1B)
            state_ = state::string_escape;
        return;
    case state::string_escape:
        state_ = b == '\\' ? state::ground : b == 0x1B ? state::string_escape : state::string;
        return;
    case state::ss3:
        state_ = state::ground;
        if (b >= 'P' && b <= 'S') {
            event e{event::key, key::nothing, 0, 0};
            e.function = b - 'P' + 1;
            out.push_back(e);
        } else if (b >= 0x40 && b <= 0x7E) {
            put_key(out, cursor_key(b));
        } else {
            put_key(out, key::escape);
            put_key(out, 'O');
            ground(b, out);
        }
        return;
    }
}

void decoder::flush(std::deque<event>& out) {
    switch (state_) {
    case state::escape:
        put_key(out, key::escape);
        break;
    case state::csi:
        // Escape then "[" typed: two keys. A longer fragment is dropped.
        if (params_.empty() && !intermediates_) {
            put_key(out, key::escape);
            put_key(out, '[');
        }
        break;
    case state::ss3:
        put_key(out, key::escape);
        put_key(out, 'O');
        break;
    case state::csi_bracket:
    case state::ground:
    case state::string:
    case state::string_escape:
        break;
    }
    // An unfinished terminal string waits for its end however long it takes.
    if (state_ == state::string || state_ == state::string_escape) return;
    state_ = state::ground;
    u32 cp[1];
    if (utf8_.finish(cp)) put_key(out, static_cast<i32>(cp[0]));
}

bool key_reader::fill(int timeout_ms) {
    if (ended_) return false;
    u8 buffer[256];
    long n = port_.read(buffer, sizeof buffer, timeout_ms);
    if (n < 0) {
        ended_ = true;
        decoder_.flush(events_);
        return false;
    }
    for (long i = 0; i < n; ++i) decoder_.feed(buffer[i], events_);
    return n > 0;
}

i32 key_reader::read_key() {
    for (;;) {
        while (!events_.empty()) {
            event e = events_.front();
            events_.pop_front();
            if (e.kind == event::key) return e.code;
            // A cursor report nobody waits for (a late answer) is dropped.
        }
        if (ended_) return key::failed;
        if (port_.take_resize()) return key::resized;
        if (runtime::interrupt_requested) return key::interrupted;
        if (decoder_.pending()) {
            if (!fill(escape_timeout_ms) && !ended_) decoder_.flush(events_);
        } else {
            fill(-1);
        }
    }
}

std::optional<i32> key_reader::ready_key() {
    for (bool more = true;; more = !ended_ && fill(0)) {
        // A cursor report nobody waits for (a late answer) is dropped, as read_key drops it.
        while (!events_.empty() && events_.front().kind != event::key) events_.pop_front();
        if (!events_.empty()) return events_.front().code;
        if (!more) return std::nullopt;
    }
}

std::optional<key_reader::position> key_reader::query_cursor(int timeout_ms) {
    if (!answers_ || ended_ || !port_.output_is_terminal()) return std::nullopt;
    port_.write("\x1b[6n");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        for (auto it = events_.begin(); it != events_.end(); ++it) {
            if (it->kind == event::cursor_report) {
                position p{it->row, it->column};
                events_.erase(it);
                return p;
            }
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0 || ended_) break;
        bool pending = decoder_.pending();
        int wait = static_cast<int>(pending && left > escape_timeout_ms ? escape_timeout_ms : left);
        // A sequence cut short by a pause is complete as far as it goes.
        if (!fill(wait) && pending && !ended_) decoder_.flush(events_);
    }
    answers_ = false;
    return std::nullopt;
}

} // namespace zel::vt_input
