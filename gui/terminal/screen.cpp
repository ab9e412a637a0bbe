// Screen cells to terminal bytes.
#include "gui/terminal/screen.hpp"

#include <algorithm>

#include "console/utf8_stream.hpp"

namespace zel::tui {

namespace colour {

namespace {
constexpr int cube_levels[6] = {0, 95, 135, 175, 215, 255};
constexpr rgb base16[16] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                            {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                            {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                            {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

int level(int v) {
    if (v < 48) return 0;
    if (v <= 114) return 1;
    return (v - 35) / 40;
}

int distance(rgb a, rgb b) {
    return (a.r - b.r) * (a.r - b.r) + (a.g - b.g) * (a.g - b.g) + (a.b - b.b) * (a.b - b.b);
}
} // namespace

rgb palette_rgb(int i) {
    if (i < 16) return base16[i];
    if (i < 232) {
        int c = i - 16;
        return {cube_levels[c / 36], cube_levels[c / 6 % 6], cube_levels[c % 6]};
    }
    int v = 8 + 10 * (i - 232);
    return {v, v, v};
}

u32 from_rgba(int r, int g, int b, int a) {
    if (a == 255) return default_;
    int cube = 16 + 36 * level(r) + 6 * level(g) + level(b);
    int average = (r + g + b) / 3;
    int grey = average > 238 ? 23 : (average - 3) / 10;
    if (grey < 0) grey = 0;
    rgb c{r, g, b};
    bool cube_nearer = distance(c, palette_rgb(cube)) < distance(c, palette_rgb(232 + grey));
    return palette(static_cast<u32>(cube_nearer ? cube : 232 + grey));
}

} // namespace colour

namespace {

constexpr const char* table16_params[18][2] = {
    {"40", "30"},  {"41", "31"},  {"42", "32"},  {"43", "33"},  {"44", "34"},  {"45", "35"},
    {"46", "36"},  {"47", "37"},  {"0", "0"},    {"49", "39"},  {"100", "90"}, {"101", "91"},
    {"102", "92"}, {"103", "93"}, {"104", "94"}, {"105", "95"}, {"106", "96"}, {"107", "97"}};

// Sequences are built in a small local buffer and appended in one piece.
struct sequence {
    char text[48];
    int n = 0;
    void put(const char* s) {
        while (*s) text[n++] = *s++;
    }
    void put(char c) { text[n++] = c; }
    void number(u32 v) {
        char digits[10];
        int k = 0;
        do {
            digits[k++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v);
        while (k) text[n++] = digits[--k];
    }
};

void append_number(std::string& out, u32 v) {
    sequence q;
    q.number(v);
    out.append(q.text, static_cast<std::size_t>(q.n));
}

void append_colour(std::string& out, u32 code, bool foreground) {
    u32 kind = code >> 24, value = code & 0xFFFFFF;
    sequence q;
    q.put("\x1b[");
    switch (kind) {
    case 0:
        q.put(foreground ? "39" : "49");
        break;
    case 1:
        q.put(value < 18 ? table16_params[value][foreground ? 1 : 0] : "0");
        break;
    case 2:
        q.put(foreground ? "38;5;" : "48;5;");
        q.number(value & 0xFF);
        break;
    case 4:
        q.put(foreground ? "38;2;" : "48;2;");
        q.number(value >> 16 & 0xFF);
        q.put(';');
        q.number(value >> 8 & 0xFF);
        q.put(';');
        q.number(value & 0xFF);
        break;
    default:
        q.put('0');
    }
    q.put('m');
    out.append(q.text, static_cast<std::size_t>(q.n));
}

void append_number_sequence(std::string& out, int n, char final) {
    out += "\x1b[";
    append_number(out, static_cast<u32>(n));
    out += final;
}

} // namespace

void append_changes(std::string& out, const screen_cell& p, const screen_cell& q) {
    auto on = [](u32 flags, u32 bit) { return (flags & bit) != 0; };
    bool p_dim = on(p.flags, attr::dim), p_bold = on(p.flags, attr::bold);
    bool q_dim = on(q.flags, attr::dim), q_bold = on(q.flags, attr::bold);
    // One code, 22, ends both bold and dim: whichever of the two stays on is set again after it.
    if (p_dim && !q_dim) {
        out += "\x1b[22m";
        p_bold = false;
    } else if (q_dim && !p_dim) {
        out += "\x1b[2m";
    }
    if (on(p.flags ^ q.flags, attr::reverse))
        out += on(q.flags, attr::reverse) ? "\x1b[7m" : "\x1b[27m";
    if (p_bold && !q_bold) {
        out += "\x1b[22m";
        if (q_dim) out += "\x1b[2m";
    } else if (q_bold && !p_bold) {
        out += "\x1b[1m";
    }
    if (on(p.flags ^ q.flags, attr::italic))
        out += on(q.flags, attr::italic) ? "\x1b[3m" : "\x1b[23m";
    if (on(p.flags ^ q.flags, attr::strike))
        out += on(q.flags, attr::strike) ? "\x1b[9m" : "\x1b[29m";
    if (on(p.flags ^ q.flags, attr::underline))
        out += on(q.flags, attr::underline) ? "\x1b[4m" : "\x1b[24m";
    if (p.fg != q.fg) append_colour(out, q.fg, true);
    if (p.bg != q.bg) append_colour(out, q.bg, false);
}

void screen_buffer::size_to(int width, int height) {
    if (width < 0) width = 0;
    if (height < 0) height = 0;
    std::size_t need = static_cast<std::size_t>(width) * height;
    if (need > cells_.size()) cells_.resize(need);
    width_ = width;
    height_ = height;
}

void screen_buffer::clear() {
    std::fill(cells_.begin(), cells_.begin() + static_cast<std::ptrdiff_t>(width_) * height_,
              screen_cell{});
}

void screen_buffer::release() {
    std::vector<screen_cell>().swap(cells_);
    width_ = height_ = 0;
}

std::string frame_bytes(const screen_buffer& buffer, frame_state& state, bool shows_caret) {
    int w = buffer.width(), h = buffer.height();
    std::string out;
    if (w <= 0 || h <= 0) return out;
    // Most cells take a character and a colour change or two.
    out.reserve(std::max<std::size_t>(2000, static_cast<std::size_t>(w) * h * 24));
    if (state.full_screen) {
        out += "\x1b[H";
    } else {
        out += '\r';
        if (state.cursor_row > 0) append_number_sequence(out, state.cursor_row, 'A');
        out += "\x1b[0J";
    }
    screen_cell previous{};
    const screen_cell* cells = buffer.data();
    for (int y = 0; y < h; ++y) {
        if (y > 0) {
            previous.bg = colour::default_;
            out += "\x1b[49m\r\n";
        }
        for (int x = 0; x < w; ++x) {
            const screen_cell& c = cells[static_cast<std::size_t>(y) * w + x];
            if (c.flags & attr::wide_second) continue;
            append_changes(out, previous, c);
            if (c.flags & attr::masked)
                out += '*';
            else
                utf8_stream::append(out, c.code ? static_cast<char32_t>(c.code) : U' ');
            previous = c;
        }
    }
    append_changes(out, previous, screen_cell{});
    if (shows_caret && (state.caret_column >= 0 || state.caret_row >= 0)) {
        out += '\r';
        int up = h - state.caret_row - 1;
        if (up > 0) append_number_sequence(out, up, 'A');
        if (state.caret_column > 0) append_number_sequence(out, state.caret_column, 'C');
        state.cursor_row = state.caret_row;
    } else {
        state.cursor_row = h - 1;
    }
    state.height = h;
    return out;
}

std::string erase_bytes(frame_state& state) {
    std::string out;
    if (!state.written) return out;
    out += '\r';
    if (state.cursor_row > 0) append_number_sequence(out, state.cursor_row, 'A');
    // Always erased, whatever row the cursor was on: text printed next lands where the UI was.
    out += "\x1b[0J";
    state.cursor_row = 0;
    return out;
}

std::string leave_bytes(const frame_state& state) {
    std::string out;
    if (!state.written || state.full_screen) return out;
    int down = state.height - 1 - state.cursor_row;
    if (down > 0) append_number_sequence(out, down, 'B');
    out += "\r\n";
    return out;
}

} // namespace zel::tui
