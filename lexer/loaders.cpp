// The token loaders of the text, word and number kinds: each checks the text the automaton
// accepted and, when asked, appends the value. A loader reserves its output cell before it makes
// the value, so that the value's series is reachable from the value array as soon as it exists.
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include "datatypes/base_codecs.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/percent.hpp"
#include "datatypes/point.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/tuple.hpp"
#include "datatypes/url.hpp"
#include "datatypes/word.hpp"
#include "evaluator/stack.hpp"
#include "lexer/convert.hpp"
#include "lexer/loaders_shared.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"

namespace zel::lexer {

using namespace tables;

namespace {

std::u32string decoded; // reused by every text load (scans of one thread only)

bool is_digit(u8 c) {
    return c >= '0' && c <= '9';
}

// ^(name) escapes.
i32 named_escape(std::string_view name) {
    static const struct {
        std::string_view name;
        u32 code;
    } names[] = {{"null", 0},  {"back", 8}, {"tab", 9},  {"line", 10},
                 {"page", 12}, {"esc", 27}, {"del", 127}};
    for (const auto& n : names) {
        if (n.name.size() != name.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < name.size() && same; i++) same = (name[i] | 0x20) == n.name[i];
        if (same) return static_cast<i32>(n.code);
    }
    return -1;
}

// The code point of ^ followed by the character c.
u32 caret_escape(u32 c) {
    switch (c) {
    case '@':
        return 0;
    case '/':
        return 10;
    case '-':
        return 9;
    case '"':
        return 0x22;
    case '{':
        return 0x7B;
    case '}':
        return 0x7D;
    case '^':
        return 0x5E;
    case '~':
        return 0x7F;
    }
    if (c >= 'a' && c <= 'z') return c - 'a' + 1;
    if (c >= 0x41 && c <= 0x5F) return c - 0x40;
    return c;
}

} // namespace

escape_result read_escape(const u8* p, const u8* end) {
    // p is just after the ^.
    if (p >= end) return {-1, p, 0};
    if (*p == '(') {
        const u8* q = p + 1;
        const u8* close = q;
        while (close < end && *close != ')') close++;
        if (close >= end || close == q) return {-1, p, 0};
        std::string_view text(reinterpret_cast<const char*>(q), std::size_t(close - q));
        i32 named = named_escape(text);
        if (named >= 0) return {named, close + 1, 1};
        u32 value = 0;
        for (char c : text) {
            u32 d = c >= '0' && c <= '9'   ? u32(c - '0')
                    : c >= 'A' && c <= 'F' ? u32(c - 'A' + 10)
                    : c >= 'a' && c <= 'f' ? u32(c - 'a' + 10)
                                           : 99;
            if (d == 99) return {-1, p, 0};
            value = value * 16 + d;
            if (value > 0x10FFFF) return {-1, p, 0};
        }
        u32 unit = text.size() > 4 ? 4 : text.size() > 2 ? 2 : 1;
        return {static_cast<i32>(value), close + 1, unit};
    }
    utf8::step s = utf8::next_codepoint(p, end);
    if (s.code_point < 0) return {-1, p, 0};
    return {static_cast<i32>(caret_escape(u32(s.code_point))), s.next, 1};
}

static bool decode_text(const u8* p, const u8* end, u32 flags, bool escapes) {
    decoded.clear();
    bool carets = escapes && (flags & flag::caret);
    while (p < end) {
        if (*p < 0x80 && !(carets && *p == '^')) {
            decoded.push_back(*p++);
            continue;
        }
        if (*p == '^') {
            escape_result e = read_escape(p + 1, end);
            if (e.code_point < 0) return false;
            decoded.push_back(static_cast<char32_t>(e.code_point));
            p = e.next;
            continue;
        }
        // A byte that leads no sequence (a lone continuation byte) is refused too.
        utf8::step s = utf8::next_codepoint(p, end);
        if (s.code_point < 0) return false;
        decoded.push_back(static_cast<char32_t>(s.code_point));
        p = s.next;
    }
    return true;
}

static u32 text_unit(u32 flags, const u8* p, const u8* end, bool escapes) {
    u32 unit = flags & flag::lead_long ? 4 : flags & flag::lead_short ? 2 : 1;
    if (!escapes || !(flags & flag::caret) || unit == 4) return unit;
    for (; p < end; p++) {
        if (*p != '^') continue;
        escape_result e = read_escape(p + 1, end);
        if (e.unit > unit) unit = e.unit;
        if (e.code_point >= 0) p = e.next - 1;
    }
    return unit;
}

static cell text_value(u32 type, u32 unit) {
    cell s;
    string::init_cell_unit(&s, static_cast<u32>(decoded.size()), unit);
    series_buffer* b = buffer_of(s.w2);
    u8* out = tail_ptr(b);
    for (char32_t cp : decoded) {
        text_units::write(out, unit, cp);
        out += unit;
    }
    b->tail += static_cast<u32>(decoded.size()) * unit;
    s.header = type;
    return s;
}

void put(scan_state& st, u32 index, const cell& value, bool newline) {
    cell* c = slot(index);
    *c = value;
    cell_ops::set_newline(c, newline);
}

void put(scan_state& st, u32 index, const cell& value) {
    put(st, index, value, st.line_before);
}

static void load_text(scan_state& st, const u8* start, const u8* end, u32 flags, bool make,
                      u32 type, bool escapes, bool newline) {
    if (!decode_text(start, end, flags, escapes)) invalid(st, type, st.token_start);
    if (!make) return;
    u32 unit = text_unit(flags, start, end, escapes);
    u32 i = reserve(st);
    cell value = text_value(type, unit);
    put(st, i, value, newline);
}

// Text with percent escapes (urls, unquoted files): checked as UTF-8, then decoded.
static void load_percent_text(scan_state& st, const u8* start, const u8* end, bool make, u32 type) {
    for (const u8* p = start; p < end;) {
        if (*p < 0x80) {
            p++;
            continue;
        }
        utf8::step s = utf8::next_codepoint(p, end);
        if (s.code_point < 0) invalid(st, type, st.token_start);
        p = s.next;
    }
    if (!make) return;
    u32 i = reserve(st);
    cell value;
    string::init_cell_bytes(&value, static_cast<u32>(end - start));
    // Widening may allocate: the text stays on the data stack while it is decoded.
    cell* held = stack::push_value(&value);
    url::percent_decode(start, end, held);
    value = *held;
    stack::drop_values(1);
    value.header = type;
    put(st, i, value);
}

cell word_of_text(const u8* start, const u8* end, u32 type) {
    cell w = word::intern_literal(
        std::string_view(reinterpret_cast<const char*>(start), std::size_t(end - start)));
    w.header = type;
    return w;
}

namespace {

bool valid_utf8(const u8* p, const u8* end) {
    while (p < end) {
        if (*p < 0x80) {
            p++;
            continue;
        }
        utf8::step s = utf8::next_codepoint(p, end);
        if (s.code_point < 0) return false;
        p = s.next;
    }
    return true;
}

void make_word(scan_state& st, const u8* start, const u8* end, u32 type, bool make) {
    if (start >= end || !valid_utf8(start, end)) invalid(st, type, st.token_start);
    st.token_type = static_cast<i32>(type);
    if (!make) return;
    u32 i = reserve(st);
    cell w = word_of_text(start, end, type);
    put(st, i, w);
}

} // namespace

// --- Text kinds ---

void load_string(scan_state& st, const u8* start, const u8* end, u32 flags, bool make) {
    st.pos = end + 1;
    load_text(st, start + 1, end, flags, make, type_id::string, true, st.line_before);
}

void load_braced(scan_state& st, const u8* start, const u8* end, u32 flags, bool make) {
    st.pending_type = type_id::string;
    load_text(st, start + 1, end, flags, make, type_id::string, true,
              (flags & flag::line_before_brace) != 0);
}

void load_file(scan_state& st, const u8* start, const u8* end, u32 flags, bool make) {
    st.pending_type = type_id::file;
    if (end - start > 1 && start[1] == '"') {
        if (end >= st.end || *end != '"') invalid(st, type_id::file, start);
        st.pos = end + 1;
        load_text(st, start + 2, end, flags, make, type_id::file, true, st.line_before);
        return;
    }
    st.pos = end;
    load_percent_text(st, start + 1, end, make, type_id::file);
}

void load_url(scan_state& st, const u8* start, const u8* end, u32 flags, bool make) {
    st.pending_type = type_id::url;
    st.pos = end;
    if (*start == ':') invalid(st, type_id::get_word, start);
    if (*start == '\'') invalid(st, type_id::lit_word, start);
    if (flags & flag::percent)
        load_percent_text(st, start, end, make, type_id::url);
    else
        load_text(st, start, end, flags, make, type_id::url, false, st.line_before);
}

void load_email(scan_state& st, const u8* start, const u8* end, u32 flags, bool make) {
    st.pending_type = type_id::email;
    st.pos = end;
    load_text(st, start, end, flags, make, type_id::email, false, st.line_before);
}

void load_tag(scan_state& st, const u8* start, const u8* end, u32 flags, bool make) {
    st.pending_type = type_id::tag;
    if (*start != '<' || end >= st.end || *end != '>') invalid(st, type_id::tag, start);
    st.pos = end + 1;
    load_text(st, start + 1, end, flags, make, type_id::tag, false, st.line_before);
}

void load_ref(scan_state& st, const u8* start, const u8* end, u32 flags, bool make) {
    st.pending_type = type_id::ref;
    st.pos = end;
    load_text(st, start + 1, end, flags, make, type_id::ref, false, st.line_before);
}

void load_raw_string(scan_state& st, const u8* start, const u8* end, u32 flags, bool make) {
    st.pending_type = type_id::string;
    u32 n = 0;
    while (start + n < end && start[n] == '%') n++;
    const u8* body = start + n + 1; // after the {
    u32 m = 0;
    while (end - m > body && end[-1 - i32(m)] == '%') m++;
    const u8* close = end - m - 1; // the } before the closing run
    if (m > n || close < body || *close != '}') invalid(st, type_id::string, start);
    const u8* after = end;
    if (m < n) {
        // The closing run is longer: look past the token for a } and n signs.
        const u8* q = end;
        for (;; q++) {
            if (q + n >= st.end) invalid(st, type_id::string, start);
            if (*q != '}') continue;
            u32 k = 0;
            while (k < n && q[1 + k] == '%') k++;
            if (k == n) break;
        }
        close = q;
        after = q + 1 + n;
    }
    st.pos = after;
    if (!st.full_load() && st.cb) {
        send_event(st, event::open, start, type_cell(type_id::string), start, body);
        send_event(st, event::close, close, type_cell(type_id::string), start, after);
    }
    load_text(st, body, close, flags, make, type_id::string, false, st.line_before);
}

void load_char(scan_state& st, const u8* start, const u8* end, u32 flags, bool make) {
    st.pos = end + 1;
    if (end - start < 3 || start[0] != '#' || start[1] != '"' || end >= st.end || *end != '"')
        invalid(st, type_id::char_, start);
    const u8* p = start + 2;
    i32 cp;
    const u8* next;
    if (*p == '^') {
        escape_result e = read_escape(p + 1, end);
        cp = e.code_point;
        next = e.next;
    } else {
        utf8::step s = utf8::next_codepoint(p, end);
        cp = s.code_point;
        next = s.next;
    }
    if (cp < 0 || cp > 0x10FFFF || next != end) invalid(st, type_id::char_, start);
    if (!make) return;
    cell c;
    init_char(&c, static_cast<u32>(cp));
    put(st, reserve(st), c);
}

// --- Word kinds ---

void load_word(scan_state& st, const u8* start, const u8* end, u32 flags, bool make) {
    u32 type = st.pending_type > 0 ? u32(st.pending_type) : u32(type_id::word);
    const u8* p = start;
    const u8* q = end;
    if (st.pending_type <= 0 && p < q) {
        if (*p == '\'') {
            type = type_id::lit_word;
            p++;
            if (q > p && q[-1] == ':') invalid(st, type_id::lit_word, start);
        } else if (*p == ':') {
            type = type_id::get_word;
            p++;
        } else if (q > p + 1 && q[-1] == ':') {
            type = type_id::set_word;
            q--;
        }
        if (std::memchr(p, ':', std::size_t(q - p))) invalid(st, type, start);
    }
    st.pos = end;
    make_word(st, p, q, type, make);
}

void load_issue(scan_state& st, const u8* start, const u8* end, u32 flags, bool make) {
    st.pos = end;
    if (end - start < 2 || *start != '#') invalid(st, type_id::issue, start);
    make_word(st, start + 1, end, type_id::issue, make);
}

void load_refinement(scan_state& st, const u8* start, const u8* end, u32 flags, bool make) {
    st.pos = end;
    std::string_view text(reinterpret_cast<const char*>(start), std::size_t(end - start));
    const u8* slash = start + (text.find('/') == std::string_view::npos ? 0 : text.find('/'));
    if (text == "/" || text == "'/" || text == ":/" || text == "/:") {
        u32 type = text == "/"    ? type_id::word
                   : text == "'/" ? type_id::lit_word
                   : text == ":/" ? type_id::get_word
                                  : type_id::set_word;
        make_word(st, slash, slash + 1, type, make);
        return;
    }
    if (*start != '/') invalid(st, type_id::refinement, start);
    make_word(st, start + 1, end, type_id::refinement, make);
}

// --- Numbers ---

namespace {

// Digits with an optional sign and single apostrophes, in 32 bits. False on any other form.
bool read_int(const u8* p, const u8* end, i64& value, u32& digits) {
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    value = 0;
    digits = 0;
    u8 previous = 0;
    for (; p < end; p++) {
        if (*p == '\'') {
            if (previous == '\'') return false;
        } else if (is_digit(*p)) {
            if (value <= 2147483648ll) value = value * 10 + (*p - '0');
            digits++;
        } else {
            return false;
        }
        previous = *p;
    }
    if (negative) value = -value;
    return digits > 0;
}

bool fits_int(i64 v) {
    return v >= -2147483648ll && v <= 2147483647ll;
}

std::string_view view(const u8* start, const u8* end) {
    return {reinterpret_cast<const char*>(start), std::size_t(end - start)};
}

void make_float(scan_state& st, const u8* start, const u8* end, int exponent, u32 type, bool make) {
    std::string_view text = view(start, end);
    double d;
    if (!convert::float_syntax_ok(text) || !convert::text_to_double(text, exponent, d))
        invalid(st, type_id::float_, start);
    if (!make) return;
    cell c;
    if (type == type_id::percent)
        percent::init_cell(&c, d);
    else
        init_float(&c, d);
    put(st, reserve(st), c);
}

} // namespace

void load_integer(scan_state& st, const u8* start, const u8* end, u32 flags, bool make) {
    st.pos = end;
    for (const u8* p = start; p + 1 < end; p++)
        if (p[0] == '\'' && p[1] == '\'') invalid(st, type_id::integer, start);
    i64 value;
    u32 digits;
    if (!read_int(start, end, value, digits)) invalid(st, type_id::integer, start);
    if (digits > 10 || !fits_int(value)) {
        st.token_type = type_id::float_;
        make_float(st, start, end, 0, type_id::float_, make);
        return;
    }
    if (!make) return;
    cell c;
    init_integer(&c, static_cast<i32>(value));
    put(st, reserve(st), c);
}

void load_float(scan_state& st, const u8* start, const u8* end, u32 flags, bool make) {
    st.pos = end;
    make_float(st, start, end, 0, type_id::float_, make);
}

void load_percent(scan_state& st, const u8* start, const u8* end, u32 flags, bool make) {
    st.pos = end + 1;
    make_float(st, start, end, -2, type_id::percent, make);
}

bool special_float(const u8* start, const u8* end, double& out) {
    const u8* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (end - p != 6 || p[0] != '1' || p[1] != '.' || p[2] != '#') return false;
    char letters[3];
    for (int i = 0; i < 3; i++) letters[i] = static_cast<char>(p[3 + i] & ~0x20);
    std::string_view name(letters, 3);
    if (name == "NAN")
        out = std::nan("");
    else if (name == "INF")
        out = negative ? -INFINITY : INFINITY;
    else
        return false;
    return true;
}

void load_special_float(scan_state& st, const u8* start, const u8* end, u32 flags, bool make) {
    st.pos = end;
    double d;
    if (!special_float(start, end, d)) invalid(st, type_id::float_, start);
    if (!make) return;
    cell c;
    init_float(&c, d);
    put(st, reserve(st), c);
}

void load_hex(scan_state& st, const u8* start, const u8* end, u32 flags, bool make) {
    st.pos = end;
    const u8* h = end - 1; // the h
    u32 digits = static_cast<u32>(h - start);
    if (digits <= 1 && !is_digit(*start)) invalid(st, type_id::word, start);
    u32 value = 0;
    for (const u8* p = start; p < h; p++) {
        u32 d = is_digit(*p) ? u32(*p - '0') : (*p >= 'A' && *p <= 'F') ? u32(*p - 'A' + 10) : 99;
        if (d == 99) invalid(st, type_id::integer, start);
        value = value << 4 | d;
    }
    if (digits < 2 || digits > 8) invalid(st, type_id::integer, start);
    if (!make) return;
    cell c;
    init_integer(&c, static_cast<i32>(value));
    put(st, reserve(st), c);
}

void load_tuple(scan_state& st, const u8* start, const u8* end, u32 flags, bool make) {
    st.pos = end;
    u8 bytes[tuple::max_length] = {};
    u32 n = 0;
    const u8* p = start;
    while (p <= end) {
        u32 value = 0, digits = 0;
        for (; p < end && is_digit(*p); p++) {
            value = value * 10 + (*p - '0');
            if (value > 255) invalid(st, type_id::tuple, start);
            digits++;
        }
        if (!digits || n == tuple::max_length) invalid(st, type_id::tuple, start);
        bytes[n++] = static_cast<u8>(value);
        if (p == end) break;
        if (*p != '.') invalid(st, type_id::tuple, start);
        p++;
    }
    if (n < 3) invalid(st, type_id::tuple, start);
    if (!make) return;
    cell c{};
    tuple::init_cell(&c, bytes, n);
    put(st, reserve(st), c);
}

void load_pair(scan_state& st, const u8* start, const u8* end, u32 flags, bool make) {
    st.pos = end;
    st.token_type = type_id::pair;
    const u8* x = start;
    while (x < end && *x != 'x' && *x != 'X') x++;
    i64 a, b;
    u32 da, db;
    if (flags & flag::point || x == end || !read_int(start, x, a, da) ||
        !read_int(x + 1, end, b, db) || da > 10 || db > 10 || !fits_int(a) || !fits_int(b))
        invalid(st, type_id::pair, start);
    if (!make) return;
    cell c{};
    pair::init_cell(&c, static_cast<i32>(a), static_cast<i32>(b));
    put(st, reserve(st), c);
}

// --- Points ---

bool starts_point(const u8* p, const u8* end) {
    if (end - p <= 3) return false;
    for (; p < end; p++) {
        u8 c = *p;
        bool number = c == '\t' || c == ' ' || is_digit(c) || c == '+' || c == '-' || c == '.' ||
                      c == '#' || (c != 0 && std::strchr("AEFINaefin", c) != nullptr);
        if (!number) return c == ',';
    }
    return true;
}

namespace {

// Reads the coordinates between the ( and the ); answers their count (2 or 3), 0 when bad.
u32 read_point(const u8* p, const u8* close, float out[3]) {
    u32 n = 0;
    for (;;) {
        while (p < close && (*p == ' ' || *p == '\t')) p++;
        const u8* q = p;
        while (q < close && *q != ',' && *q != ' ' && *q != '\t') q++;
        if (q == p || n == 3) return 0;
        double d;
        bool special = std::memchr(p, '#', std::size_t(q - p)) != nullptr;
        if (special ? !special_float(p, q, d)
                    : !convert::float_syntax_ok(view(p, q)) ||
                          !convert::text_to_double(view(p, q), 0, d))
            return 0;
        out[n++] = static_cast<float>(d);
        p = q;
        while (p < close && (*p == ' ' || *p == '\t')) p++;
        if (p == close) return n >= 2 ? n : 0;
        if (*p != ',') return 0;
        p++;
    }
}

void put_point(scan_state& st, u32 index, const u8* open, const u8* close, bool newline) {
    float xyz[3];
    u32 n = read_point(open, close, xyz);
    if (!n) invalid(st, type_id::point2d, open);
    st.token_type = n == 3 ? type_id::point3d : type_id::point2d;
    if (index == u32(-1)) return;
    cell c{};
    if (n == 3)
        point3d::init_cell(&c, xyz[0], xyz[1], xyz[2]);
    else
        point2d::init_cell(&c, xyz[0], xyz[1]);
    put(st, index, c, newline);
}

} // namespace

void load_point(scan_state& st, const u8* start, const u8* end, u32 flags, bool make) {
    st.pos = end + 1;
    if (end >= st.end || *end != ')') invalid(st, type_id::point2d, start);
    if (!make) {
        put_point(st, u32(-1), start, end, false);
        return;
    }
    u32 i = reserve(st);
    put_point(st, i, start, end, st.point_line_before);
}

void load_point_into(scan_state& st, const u8* open, const u8* close, u32 index) {
    bool newline = cell_ops::has_newline(slot(index));
    put_point(st, index, open + 1, close, newline);
}

// --- Binary ---

void load_binary(scan_state& st, const u8* start, const u8* end, u32 flags, bool make) {
    st.pos = end + 1;
    const u8* hash = start;
    while (hash < end && *hash != '#') hash++;
    u32 base = 16;
    if (hash > start) {
        i64 v;
        u32 digits;
        base = read_int(start, hash, v, digits) && digits <= 3 ? u32(v) : 0;
    }
    const u8* body = hash + 2; // after #{
    if ((base != 2 && base != 16 && base != 64) || body > end) invalid(st, type_id::binary, start);
    // The output cell is taken first, so that the decoded bytes are reachable once they exist.
    u32 i = make ? reserve(st) : 0;
    binary::decoded d = binary::from_base_text(base, body, static_cast<u32>(end - body), 1, true);
    if (!d.node) {
        if (make) drop_last(st);
        invalid(st, type_id::binary, body + d.error_at);
    }
    if (!make) return;
    cell c;
    binary::init_cell_series(&c, d.node);
    put(st, i, c);
}

} // namespace zel::lexer
