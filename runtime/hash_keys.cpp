// How the hash index hashes and compares keys. A hash must agree with the equality used on the
// same bucket: equal values of one type always hash alike.
#include <cstring>

#include "runtime/hash_index_detail.hpp"
#include "runtime/unicode.hpp"

namespace zel::hash_index {

namespace {
using detail::bytes_view;
u32 symbols_index = 0;

// A text from its head to its tail, in units of 1, 2 or 4 bytes.
struct text_view {
    const u8* p;
    u32 unit;
    u32 n;
    u32 at(u32 i) const {
        if (unit == 1) return p[i];
        if (unit == 2) {
            u16 v;
            std::memcpy(&v, p + 2 * i, 2);
            return v;
        }
        u32 v;
        std::memcpy(&v, p + 4 * i, 4);
        return v;
    }
};

// A series cell's bytes from its head index (clamped into the used part) to its tail.
text_view series_text(const cell* c) {
    series_buffer* b = buffer_of(c->w2);
    u32 unit = unit_of(b);
    if (unit != 2 && unit != 4) unit = 1;
    u32 total = used_bytes(b) / unit;
    i32 head = static_cast<i32>(c->w1);
    u32 h = head < 0 ? 0 : std::min<u32>(static_cast<u32>(head), total);
    return {head_ptr(b) + h * unit, unit, total - h};
}

bool same_text(const text_view& a, const text_view& b, bool fold) {
    if (a.n != b.n) return false;
    for (u32 i = 0; i < a.n; i++) {
        u32 x = a.at(i), y = b.at(i);
        if (x != y && (!fold || case_::to_upper(x) != case_::to_upper(y))) return false;
    }
    return true;
}

// Lenient UTF-8 reading for folding symbol texts: a malformed byte stands for itself.
u32 next_utf8(const u8*& p, const u8* end) {
    u32 b = *p++;
    u32 extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
    if (!extra || end - p < static_cast<long>(extra)) return b;
    u32 cp = b & (0x3F >> extra);
    for (u32 i = 0; i < extra; i++) {
        if ((p[i] & 0xC0) != 0x80) return b;
        cp = cp << 6 | (p[i] & 0x3F);
    }
    p += extra;
    return cp;
}

bool same_utf8_folded(bytes_view a, bytes_view b) {
    const u8 *p = a.p, *pe = a.p + a.n, *q = b.p, *qe = b.p + b.n;
    while (p < pe && q < qe)
        if (case_::to_upper(next_utf8(p, pe)) != case_::to_upper(next_utf8(q, qe))) return false;
    return p == pe && q == qe;
}

bool is_float_payload(u32 t) {
    return t == type_id::float_ || t == type_id::percent || t == type_id::time;
}

double as_double(const cell* c) {
    return float_of(c);
}

// Tolerant float equality: equal, within the double epsilon, or at most 10 representable steps.
bool near_equal(double a, double b) {
    if (a != a || b != b) return false;
    if (a == b) return true;
    double d = a - b;
    if (d < 0) d = -d;
    if (d < 2.220446049250313e-16) return true;
    auto ordered = [](double x) {
        i64 i;
        std::memcpy(&i, &x, 8);
        return i < 0 ? static_cast<i64>(0x8000000000000000ull) - i : i;
    };
    i64 x = ordered(a), y = ordered(b);
    u64 diff = x > y ? u64(x) - u64(y) : u64(y) - u64(x);
    return diff <= 10;
}

bool payload_same(const cell* a, const cell* b) {
    return a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3;
}
} // namespace

void set_symbol_table(u32 index) {
    symbols_index = index;
}
u32 symbol_table() {
    return symbols_index;
}

u32 canonical_symbol(u32 id) {
    if (!symbols_index || id == 0) return id;
    index_record* r = record_of(symbols_index);
    if (id > detail::value_count(r)) return id;
    i32 alias = static_cast<i32>(detail::value_cells(r)[id - 1].w1);
    return alias > 0 ? static_cast<u32>(alias) : id;
}

namespace detail {

bytes_view symbol_bytes(const cell* symbol) {
    series_buffer* b = buffer_of(symbol->w3);
    return {head_ptr(b), used_bytes(b)};
}

bool keys_equal(const cell* a, const cell* b, u32 mode) {
    u32 ta = type_of(a), tb = type_of(b);
    bool loose = mode == 0 || mode == 1 || mode == 11 || mode == 12;
    bool result;
    if (ta != tb) {
        // Only the equality modes compare across types: word kinds, chars with integers, texts.
        bool words = is_any_word_type(ta) && is_any_word_type(tb) && ta != type_id::issue &&
                     tb != type_id::issue;
        bool word_lit = (ta == type_id::word && tb == type_id::lit_word) ||
                        (ta == type_id::lit_word && tb == type_id::word);
        bool numeric = (ta == type_id::integer || ta == type_id::char_) &&
                       (tb == type_id::integer || tb == type_id::char_);
        if (words && (mode <= 1 || mode == 11 || mode == 12))
            result = (mode != 11 || word_lit) && canonical_symbol(a->w2) == canonical_symbol(b->w2);
        else if (word_lit && mode == 10)
            result = a->w2 == b->w2;
        else if (numeric && mode <= 1)
            result = a->w2 == b->w2;
        else if (is_any_string_type(ta) && is_any_string_type(tb) && mode <= 1)
            result = same_text(series_text(a), series_text(b), true);
        else
            result = false;
        return mode == 1 ? !result : result;
    }
    switch (ta) {
    case type_id::unset:
    case type_id::none:
        result = true;
        break;
    case type_id::integer:
    case type_id::char_:
        result = a->w2 == b->w2;
        break;
    case type_id::float_:
    case type_id::percent:
    case type_id::time:
        if (mode == 9)
            result = a->w2 == b->w2 && a->w3 == b->w3;
        else if (loose)
            result = near_equal(as_double(a), as_double(b));
        else
            result = as_double(a) == as_double(b);
        break;
    case type_id::symbol:
        if (loose)
            result = same_utf8_folded(symbol_bytes(a), symbol_bytes(b));
        else {
            bytes_view x = symbol_bytes(a), y = symbol_bytes(b);
            result = x.n == y.n && std::memcmp(x.p, y.p, x.n) == 0;
        }
        break;
    case type_id::binary: {
        text_view x = series_text(a), y = series_text(b);
        result =
            mode == 9 ? payload_same(a, b) : x.n == y.n && std::memcmp(x.p, y.p, x.n * x.unit) == 0;
        break;
    }
    case type_id::money:
        result = payload_same(a, b) && ((a->header ^ b->header) & 0x4000) == 0;
        break;
    case type_id::tuple: {
        u32 la = (a->header >> 19) & 15, lb = (b->header >> 19) & 15;
        result = la == lb && std::memcmp(&a->w1, &b->w1, std::min<u32>(la, 12)) == 0;
        break;
    }
    default:
        if (is_any_word_type(ta)) {
            if (mode == 9)
                result = a->w2 == b->w2 && a->w1 == b->w1;
            else if (loose)
                result = canonical_symbol(a->w2) == canonical_symbol(b->w2);
            else
                result = a->w2 == b->w2;
        } else if (is_any_string_type(ta)) {
            result =
                mode == 9 ? payload_same(a, b) : same_text(series_text(a), series_text(b), loose);
        } else {
            result = payload_same(a, b);
        }
    }
    return mode == 1 ? !result : result;
}

} // namespace detail

u32 symbol_text_hash(const u8* text, u32 length) {
    return murmur3_ascii_lowered(text, length);
}

u32 text_hash(const cell* string) {
    text_view t = series_text(string);
    murmur3_blocks m(seed());
    for (u32 i = 0; i < t.n; i++) m.add(case_::to_upper(t.at(i)));
    return m.finish();
}

u32 hash_cell(const cell* c) {
    u32 t = type_of(c);
    switch (t) {
    case type_id::unset:
        return 0xFFFFFFFEu;
    case type_id::none:
        return 0xFFFFFFFFu;
    case type_id::datatype:
    case type_id::logic:
    case type_id::object:
    case type_id::error:
    case type_id::port:
        return fmix32(c->w1);
    case type_id::char_:
    case type_id::integer:
    case type_id::map:
    case type_id::handle:
    case type_id::event:
        return fmix32(c->w2);
    case type_id::native:
    case type_id::action:
        return fmix32(c->w3);
    case type_id::symbol: {
        detail::bytes_view b = detail::symbol_bytes(c);
        return symbol_text_hash(b.p, b.n);
    }
    case type_id::binary: {
        text_view v = series_text(c);
        return murmur3(v.p, std::size_t(v.n) * v.unit);
    }
    case type_id::block:
    case type_id::paren:
    case type_id::path:
    case type_id::lit_path:
    case type_id::set_path:
    case type_id::get_path:
    case type_id::hash:
    case type_id::image:
    case type_id::point2d:
        return murmur3(&c->w1, 8);
    case type_id::float_:
    case type_id::percent:
    case type_id::time:
    case type_id::pair: {
        u32 w[2] = {c->w2, c->w3};
        // -0.0 equals 0.0, so it must land in the same bucket.
        if (is_float_payload(t) && w[0] == 0 && w[1] == 0x80000000u) w[1] = 0;
        return murmur3(w, 8);
    }
    case type_id::op:
    case type_id::function:
    case type_id::triple:
    case type_id::typeset:
    case type_id::date:
    case type_id::point3d:
        return murmur3(&c->w1, 12);
    case type_id::tuple:
        return murmur3(&c->w1, std::min<u32>((c->header >> 19) & 15, 12));
    case type_id::money: {
        cell m = *c;
        m.header = type_id::money | (c->header & 0x4000);
        return murmur3(&m, sizeof m);
    }
    default:
        if (is_any_word_type(t)) return fmix32(canonical_symbol(c->w2));
        if (is_any_string_type(t)) return text_hash(c);
        return 0;
    }
}

} // namespace zel::hash_index
