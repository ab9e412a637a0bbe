// vector!: making, element access, insertion and change, search and sort, element-wise
// arithmetic, comparison, form and mold. Integer elements are computed in 64 bits and stored only
// when the result fits the element; float elements of 8 bytes are stored and written with every
// bit, so that mold and load give back the same vector.
#include "datatypes/vector.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.hpp"
#include "datatypes/float.hpp"
#include "datatypes/number_cores.hpp"
#include "datatypes/percent.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/float_text.hpp"
#include "runtime/hash_index.hpp"
#include "runtime/memory.hpp"
#include "runtime/cycle_stack.hpp"
#include "runtime/owner.hpp"

namespace zel::vector {

namespace {
namespace cop = actions::compare_op;

// The most bytes a vector may be made with: a bound on what a spec can make it allocate.
constexpr u64 max_bytes = 0x40000000;

bool integral(u32 kind) {
    return kind == type_id::integer || kind == type_id::char_;
}

series_buffer* buf(const cell* v) {
    return buffer_of(v->w2);
}
u32 width_of(const cell* v) {
    return unit_of(buf(v));
}
u32 length_of(const cell* v) {
    return used_units(buf(v));
}
u32 head_of(const cell* v) {
    return std::min(v->w1, length_of(v));
}
u8* at(const cell* v, u32 i) {
    return head_ptr(buf(v)) + std::size_t(i) * width_of(v);
}

[[noreturn]] void not_done() {
    error::raise(err::E("internal", "not-done"));
}
[[noreturn]] void no_memory() {
    error::raise(err::E("internal", "no-memory"));
}
[[noreturn]] void invalid_arg(const cell* value) {
    error::raise(err::E("script", "invalid-arg"), value);
}
[[noreturn]] void overflow() {
    error::raise(err::E("math", "overflow"));
}

// ---- elements ------------------------------------------------------------------------------

// Integer elements are signed; char elements are code points, read without sign.
i64 read_int(const u8* p, u32 width, u32 kind) {
    bool chars = kind == type_id::char_;
    switch (width) {
    case 1: return chars ? i64(*p) : i64(static_cast<std::int8_t>(*p));
    case 2: {
        u16 u;
        std::memcpy(&u, p, 2);
        return chars ? i64(u) : i64(static_cast<std::int16_t>(u));
    }
    default: {
        u32 u;
        std::memcpy(&u, p, 4);
        return chars ? i64(u) : i64(static_cast<i32>(u));
    }
    }
}

double read_float(const u8* p, u32 width) {
    if (width == 4) {
        float f;
        std::memcpy(&f, p, 4);
        return f;
    }
    double d;
    std::memcpy(&d, p, 8);
    return d;
}

bool int_fits(i64 n, u32 width, u32 kind) {
    if (kind == type_id::char_) {
        if (n < 0) return false;
        return width == 4 ? n <= 0x10FFFF : n < (i64(1) << (8 * width));
    }
    i64 half = i64(1) << (8 * width - 1);
    return n >= -half && n < half;
}

bool float_fits(double d, u32 width) {
    return width == 8 || !std::isfinite(d) || std::fabs(d) <= FLT_MAX;
}

void write_int(u8* p, u32 width, i64 n) {
    u32 u = static_cast<u32>(n);
    std::memcpy(p, &u, width); // little-endian: the low bytes
}

void write_float(u8* p, u32 width, double d) {
    if (width == 4) {
        float f = static_cast<float>(d);
        std::memcpy(p, &f, 4);
    } else {
        std::memcpy(p, &d, 8);
    }
}

double scalar_double(const cell* value) {
    return type_of(value) == type_id::integer || type_of(value) == type_id::char_
               ? double(int_of(value))
               : float_of(value);
}

// The bytes of a value as an element of the kind and width; false when it does not fit.
bool encode(const cell* value, u32 kind, u32 width, u8* out) {
    if (integral(kind)) {
        i64 n = int_of(value);
        if (kind == type_id::char_) n = value->w2;
        if (!int_fits(n, width, kind)) return false;
        write_int(out, width, n);
        return true;
    }
    double d = float_of(value);
    if (!float_fits(d, width)) return false;
    write_float(out, width, d);
    return true;
}

// The bytes of a value for the vector: exactly the element kind (`invalid-arg`), and a value the
// element can hold (`out-of-range`).
void encode_checked(const cell* value, u32 kind, u32 width, u8* out) {
    if (type_of(value) != kind) invalid_arg(value);
    if (!encode(value, kind, width, out)) error::raise(err::E("script", "out-of-range"), value);
}

void value_of(const u8* p, u32 width, u32 kind, cell* out) {
    switch (kind) {
    case type_id::integer: init_integer(out, static_cast<i32>(read_int(p, width, kind))); break;
    case type_id::char_: init_char(out, static_cast<u32>(read_int(p, width, kind))); break;
    case type_id::float_: init_float(out, read_float(p, width)); break;
    case type_id::percent: percent::init_cell(out, read_float(p, width)); break;
    default: error::raise(err::E("internal", "not-done"));
    }
}

// ---- making ------------------------------------------------------------------------------

u32 node_for(u64 count, u32 width) {
    if (count * width > max_bytes) no_memory();
    u32 node = memory::new_series(count ? static_cast<u32>(count) : 1, width, 0);
    series_buffer* b = buffer_of(node);
    std::memset(head_ptr(b), 0, std::size_t(count) * width);
    b->tail = b->head + static_cast<u32>(count * width);
    return node;
}

// A new vector of `count` zero elements.
cell* init_zeroed(cell* out, u32 kind, u32 width, u64 count) {
    u32 node = node_for(count, width);
    *out = cell{type_id::vector, 0, node, kind};
    return out;
}

u32 default_width(u32 kind) {
    return integral(kind) ? 4 : 8;
}

bool symbol_is(const cell* word, const char* name) {
    u32 s = series::name_symbol(name);
    return s && hash_index::canonical_symbol(word->w2) == hash_index::canonical_symbol(s);
}

[[noreturn]] void bad_make(const cell* spec) {
    cell t;
    init_datatype(&t, type_id::vector);
    error::raise(err::E("script", "bad-make-arg"), &t, spec);
}
[[noreturn]] void bad_field(const cell* spec) {
    error::raise(err::E("script", "invalid-spec-field"), spec);
}

// Fills a new vector from the values of a block (from its head).
cell* from_values(cell* out, u32 kind, u32 width, const cell* values) {
    u32 n = block::cells_from_head(values);
    std::vector<u8> bytes(std::size_t(n) * width);
    for (u32 i = 0; i < n; i++) {
        const cell* v = head_cell(buffer_of(values->w2)) + values->w1 + i;
        encode_checked(v, kind, width, bytes.data() + std::size_t(i) * width);
    }
    init_zeroed(out, kind, width, n);
    if (n) std::memcpy(head_ptr(buf(out)), bytes.data(), bytes.size());
    return out;
}

cell* make(cell* proto, cell* spec, u32) {
    u32 t = type_of(spec);
    cell made;
    if (t == type_id::integer || t == type_id::float_) {
        double n = t == type_id::integer ? int_of(spec) : float_of(spec);
        if (!(n >= 0)) error::raise(err::E("script", "out-of-range"), spec);
        if (n * 4 > double(max_bytes)) no_memory();
        *proto = *init_zeroed(&made, type_id::integer, 4, static_cast<u64>(n));
        return proto;
    }
    if (t != type_id::block) not_done();
    u32 n = block::cells_from_head(spec);
    if (n == 0) {
        *proto = *init_zeroed(&made, type_id::integer, 4, 0);
        return proto;
    }
    cell first = head_cell(buffer_of(spec->w2))[spec->w1];
    if (type_of(&first) == type_id::word) {
        if (n < 2) bad_make(spec);
        u32 kind;
        if (symbol_is(&first, "integer!")) kind = type_id::integer;
        else if (symbol_is(&first, "char!")) kind = type_id::char_;
        else if (symbol_is(&first, "float!")) kind = type_id::float_;
        else if (symbol_is(&first, "percent!")) kind = type_id::percent;
        else bad_make(spec);
        cell bits = head_cell(buffer_of(spec->w2))[spec->w1 + 1];
        u32 width;
        u32 next = spec->w1 + 2;
        if (type_of(&bits) == type_id::integer) {
            i32 b = int_of(&bits);
            if (kind == type_id::percent) b = 64;
            bool ok = integral(kind) ? (b == 8 || b == 16 || b == 32) : (b == 32 || b == 64);
            if (!ok) bad_make(spec);
            width = static_cast<u32>(b) / 8;
        } else {
            if (kind != type_id::percent) bad_field(spec);
            width = 8;
            next = spec->w1 + 1;
        }
        if (next >= used_units(buffer_of(spec->w2))) bad_field(spec);
        cell rest = head_cell(buffer_of(spec->w2))[next];
        if (type_of(&rest) == type_id::integer) {
            if (int_of(&rest) < 0) error::raise(err::E("script", "out-of-range"), &rest);
            *proto = *init_zeroed(&made, kind, width, static_cast<u64>(int_of(&rest)));
            return proto;
        }
        if (type_of(&rest) != type_id::block) bad_field(spec);
        *proto = *from_values(&made, kind, width, &rest);
        return proto;
    }
    u32 kind = type_of(&first);
    if (kind != type_id::integer && kind != type_id::char_ && kind != type_id::float_ &&
        kind != type_id::percent) {
        cell type;
        init_datatype(&type, kind);
        error::raise(err::E("script", "invalid-type"), &type);
    }
    *proto = *from_values(&made, kind, default_width(kind), spec);
    return proto;
}

// ---- form and mold -----------------------------------------------------------------------

std::string general(double v, int precision) {
    std::string s(float_text::format_general(v, precision).view());
    size_t e = s.find('e');
    if (e != std::string::npos) {
        // "1e+20" is written "1e20", "1e-05" "1e-5".
        std::string exp = s.substr(e + 1);
        bool negative = !exp.empty() && exp[0] == '-';
        if (!exp.empty() && (exp[0] == '-' || exp[0] == '+')) exp.erase(0, 1);
        size_t nz = exp.find_first_not_of('0');
        exp = nz == std::string::npos ? "0" : exp.substr(nz);
        s = s.substr(0, e) + "e" + (negative ? "-" : "") + exp;
    }
    if (s.find('.') == std::string::npos) {
        e = s.find('e');
        if (e == std::string::npos) s += ".0";
        else s.insert(e, ".0");
    }
    return s;
}

// The text of a float element: the usual digits, or as many more as reading it back needs.
std::string float_text_of(double v, u32 width) {
    if (!std::isfinite(v)) return float_::text(v, float_::format::float_);
    if (width == 8) {
        std::string s = float_::text(v, float_::format::float_);
        if (std::strtod(s.c_str(), nullptr) == v) return s;
        return general(v, 17);
    }
    float f = static_cast<float>(v);
    std::string s = float_::text(v, float_::format::vector32);
    for (int p = 8; std::strtof(s.c_str(), nullptr) != f && p <= 9; p++) s = general(v, p);
    return s;
}

i32 element_text(cell* buffer, const cell* vec, u32 i, bool mold, i32 limit) {
    u32 kind = vec->w3, width = width_of(vec);
    const u8* p = at(vec, i);
    switch (kind) {
    case type_id::integer: return out::text(buffer, std::to_string(read_int(p, width, kind)), limit);
    case type_id::char_: {
        cell c;
        init_char(&c, static_cast<u32>(read_int(p, width, kind)));
        if (mold) return actions::mold_typed(&c, buffer, false, false, false, nullptr, limit, 0);
        return out::codepoint(buffer, c.w2, limit);
    }
    case type_id::float_: return out::text(buffer, float_text_of(read_float(p, width), width), limit);
    default:
        return out::text(buffer,
                         float_::text(read_float(p, width) * 100,
                                      width == 4 ? float_::format::percent32
                                                 : float_::format::percent),
                         limit);
    }
}

i32 elements_text(cell* value, cell* buffer, bool mold, cell* part, i32 limit) {
    cell* v = stack::push_value(value);
    for (u32 i = head_of(v); i < length_of(v); i++) {
        if (i > head_of(v)) limit = out::text(buffer, " ", limit);
        limit = element_text(buffer, v, i, mold, limit);
        if (part && limit <= 0) break;
    }
    stack::drop_values(1);
    return limit;
}

i32 form(cell* value, cell* buffer, cell* part, i32 limit) {
    return elements_text(value, buffer, false, part, limit);
}

i32 mold(cell* value, cell* buffer, bool, bool, bool, cell* part, i32 limit, i32) {
    u32 kind = value->w3, width = width_of(value);
    bool typed = width != default_width(kind);
    limit = out::text(buffer, "make vector! [", limit);
    if (typed) {
        const char* name = kind == type_id::char_      ? "char!"
                           : kind == type_id::integer ? "integer!"
                           : kind == type_id::float_  ? "float!"
                                                      : "percent!";
        limit = out::text(buffer, name, limit);
        limit = out::text(buffer, " " + std::to_string(width * 8) + " [", limit);
    }
    limit = elements_text(value, buffer, true, part, limit);
    return out::text(buffer, typed ? "]]" : "]", limit);
}

// ---- comparison ----------------------------------------------------------------------------

i32 compare_elements(const cell* a, u32 i, const cell* b, u32 j) {
    if (integral(a->w3)) {
        i64 x = read_int(at(a, i), width_of(a), a->w3), y = read_int(at(b, j), width_of(b), b->w3);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    double x = read_float(at(a, i), width_of(a)), y = read_float(at(b, j), width_of(b));
    return x < y ? -1 : (x > y ? 1 : 0);
}

i32 compare(cell* value1, cell* value2, i32 op) {
    if (!is(value2, type_id::vector)) return -2;
    if (value1->w3 != value2->w3) error::raise(err::E("script", "not-same-type"));
    bool same = value1->w2 == value2->w2 && head_of(value1) == head_of(value2);
    if (op == cop::same) return same ? 0 : -1;
    u32 h1 = head_of(value1), h2 = head_of(value2);
    u32 n1 = length_of(value1) - h1, n2 = length_of(value2) - h2;
    bool equality = op == cop::equal || op == cop::not_equal || op == cop::strict_equal ||
                    op == cop::find;
    if (equality) {
        if (same) return 0;
        if (n1 != n2) return 1;
    }
    for (u32 k = 0; k < std::min(n1, n2); k++) {
        i32 r = compare_elements(value1, h1 + k, value2, h2 + k);
        if (r) return r;
    }
    return n1 < n2 ? -1 : (n1 > n2 ? 1 : 0);
}

// ---- insertion and change ----------------------------------------------------------------

// The encoded elements of a value (one value, or the values of a block, paren or hash; /part
// counts values).
std::vector<u8> encode_value(const cell* vec, const cell* value, i32 part, bool only) {
    u32 kind = vec->w3, width = width_of(vec);
    std::vector<u8> bytes;
    u32 t = type_of(value);
    if (!only && (t == type_id::block || t == type_id::paren || t == type_id::hash)) {
        u32 n = block::cells_from_head(value);
        if (part >= 0) n = std::min<u32>(n, static_cast<u32>(part));
        bytes.resize(std::size_t(n) * width);
        for (u32 i = 0; i < n; i++) {
            const cell* v = head_cell(buffer_of(value->w2)) + value->w1 + i;
            encode_checked(v, kind, width, bytes.data() + std::size_t(i) * width);
        }
        return bytes;
    }
    bytes.resize(width);
    encode_checked(value, kind, width, bytes.data());
    return bytes;
}

// Replaces `removed` elements at unit `pos` by `dup` copies of `bytes`.
void splice(const cell* vec, u32 pos, u32 removed, const std::vector<u8>& bytes, u64 dup) {
    u32 width = width_of(vec);
    u32 length = length_of(vec);
    pos = std::min(pos, length);
    removed = std::min(removed, length - pos);
    u64 added = u64(bytes.size() / width) * dup;
    u64 new_length = u64(length) - removed + added;
    if (new_length * width > max_bytes) no_memory();
    series_buffer* b = buf(vec);
    if (u64(data_end(b) - head_ptr(b)) < new_length * width) {
        u64 grown = std::max<u64>(u64(b->size) * 2, new_length * width);
        b = memory::grow_series(b, static_cast<u32>(std::min<u64>(grown, max_bytes)));
    }
    u8* base = head_ptr(b);
    std::memmove(base + (pos + added) * width, base + std::size_t(pos + removed) * width,
                 std::size_t(length - pos - removed) * width);
    if (!bytes.empty()) {
        std::memcpy(base + std::size_t(pos) * width, bytes.data(), bytes.size());
        if (dup > 1)
            memory::replicate_bytes(base + std::size_t(pos) * width,
                                    static_cast<u32>(bytes.size()), static_cast<u32>(dup));
    }
    b->tail = b->head + static_cast<u32>(new_length * width);
}

void insert(cell* series, cell* value, i32 part, bool only, i32 dup, bool append) {
    if (dup < 1) return;
    std::vector<u8> bytes = encode_value(series, value, part, only);
    u32 pos = append ? length_of(series) : head_of(series);
    bool told = owner::notify_change(series, append ? owner::event::append : owner::event::insert,
                                     value, static_cast<i32>(pos), 0);
    pos = append ? length_of(series) : std::min(pos, length_of(series));
    splice(series, pos, 0, bytes, static_cast<u64>(dup));
    if (told)
        owner::notify_change(series, append ? owner::event::appended : owner::event::inserted,
                             value, static_cast<i32>(pos), 0);
    u64 past = pos + u64(bytes.size() / width_of(series)) * static_cast<u64>(dup);
    series->w1 = append ? 0 : static_cast<u32>(past);
}

void change(cell* series, cell* value, i32 part, bool only, i32 dup) {
    if (dup < 1) return;
    std::vector<u8> bytes = encode_value(series, value, -1, only);
    bool told = owner::notify_change(series, owner::event::change, value,
                                     static_cast<i32>(head_of(series)), 0);
    u32 pos = head_of(series);
    u64 total = u64(bytes.size() / width_of(series)) * static_cast<u64>(dup);
    u64 replaced = std::min<u64>(part >= 0 ? static_cast<u64>(part) : total,
                                 length_of(series) - pos);
    splice(series, pos, static_cast<u32>(replaced), bytes, static_cast<u64>(dup));
    if (told)
        owner::notify_change(series, owner::event::changed, value, static_cast<i32>(pos), 0);
    series->w1 = static_cast<u32>(std::min<u64>(pos + total, length_of(series)));
}

// ---- search and sort -----------------------------------------------------------------------

// Whether element i equals the value (a number of any numeric type; chars by code point).
bool element_equals(const cell* vec, u32 i, const cell* value) {
    u32 t = type_of(value);
    const u8* p = at(vec, i);
    if (integral(vec->w3)) {
        i64 e = read_int(p, width_of(vec), vec->w3);
        if (t == type_id::integer || t == type_id::char_) return e == i64(int_of(value));
        if (t == type_id::float_ || t == type_id::percent) return double(e) == float_of(value);
        return false;
    }
    double e = read_float(p, width_of(vec));
    if (t == type_id::float_ || t == type_id::percent) {
        return width_of(vec) == 4 ? static_cast<float>(float_of(value)) == static_cast<float>(e)
                                  : float_of(value) == e;
    }
    if (t == type_id::integer) return e == double(int_of(value));
    return false;
}

// The unit index of the match, or -1.
i64 locate(cell* series, cell* value, cell* part, cell* skip, bool last, bool reverse,
           bool match) {
    u32 h = head_of(series), n = length_of(series);
    i64 step = 1;
    if (skip) {
        if (!is(skip, type_id::integer) || int_of(skip) < 1)
            error::raise(err::E("script", "out-of-range"), skip);
        step = int_of(skip);
    }
    i64 lo = h, hi = n; // [lo, hi)
    if (part) {
        i64 count;
        if (is(part, type_id::integer)) count = int_of(part);
        else if (is(part, type_id::vector) && part->w2 == series->w2) count = i64(part->w1) - h;
        else series::raise_refine_arg("part", part);
        if (reverse) lo = std::max<i64>(0, i64(h) - count);
        else hi = std::min<i64>(n, i64(h) + std::max<i64>(count, 0));
    }
    if (reverse) {
        if (match) return -1;
        for (i64 i = i64(h) - 1; i >= lo; i -= step)
            if (element_equals(series, static_cast<u32>(i), value)) return i;
        return -1;
    }
    if (match) return h < hi && element_equals(series, h, value) ? h : -1;
    if (last) {
        for (i64 i = hi - 1; i >= lo; i -= step)
            if (element_equals(series, static_cast<u32>(i), value)) return i;
        return -1;
    }
    for (i64 i = lo; i < hi; i += step)
        if (element_equals(series, static_cast<u32>(i), value)) return i;
    return -1;
}

cell* find(cell* series, cell* value, cell* part, bool, bool, bool, bool any, cell* with,
           cell* skip, bool last, bool reverse, bool tail, bool match) {
    if (any || with) not_done();
    i64 i = locate(series, value, part, skip, last, reverse, match);
    if (i < 0) return init_none(series);
    series->w1 = static_cast<u32>(i + ((tail || match) ? 1 : 0));
    return series;
}

cell* select(cell* series, cell* value, cell* part, bool, bool, bool, bool any, cell* with,
             cell* skip, bool last, bool reverse) {
    if (any || with) not_done();
    i64 i = locate(series, value, part, skip, last, reverse, false);
    u32 next = static_cast<u32>(i + (skip && is(skip, type_id::integer) ? int_of(skip) : 1));
    if (i < 0 || next >= length_of(series)) return init_none(series);
    cell v;
    element_value(series, next, &v);
    *series = v;
    return series;
}

cell* sort(cell* series, bool, cell* skip, cell* compare_arg, cell* part, bool all, bool reverse,
           bool) {
    if (compare_arg) not_done();
    u32 h = head_of(series), n = length_of(series);
    i64 count = n - h;
    if (part) {
        if (is(part, type_id::integer)) count = std::clamp<i64>(int_of(part), 0, n - h);
        else if (is(part, type_id::vector) && part->w2 == series->w2)
            count = std::clamp<i64>(i64(part->w1) - h, 0, n - h);
        else series::raise_refine_arg("part", part);
    }
    u32 size = 1;
    if (skip) {
        if (!is(skip, type_id::integer) || int_of(skip) < 1)
            error::raise(err::E("script", "out-of-range"), skip);
        size = static_cast<u32>(int_of(skip));
    }
    u32 records = static_cast<u32>(count / size);
    u32 width = width_of(series);
    u32 record_bytes = size * width;
    const u8* base = at(series, h);
    std::vector<std::vector<u8>> rows(records);
    for (u32 r = 0; r < records; r++)
        rows[r].assign(base + std::size_t(r) * record_bytes,
                       base + std::size_t(r + 1) * record_bytes);
    u32 kind = series->w3;
    auto less = [&](const std::vector<u8>& a, const std::vector<u8>& b) {
        u32 fields = all ? size : 1;
        for (u32 f = 0; f < fields; f++) {
            const u8* x = a.data() + std::size_t(f) * width;
            const u8* y = b.data() + std::size_t(f) * width;
            if (integral(kind)) {
                i64 p = read_int(x, width, kind), q = read_int(y, width, kind);
                if (p != q) return reverse ? p > q : p < q;
            } else {
                double p = read_float(x, width), q = read_float(y, width);
                if (p != q) return reverse ? p > q : p < q;
            }
        }
        return false;
    };
    std::stable_sort(rows.begin(), rows.end(), less);
    u8* out = at(series, h);
    for (u32 r = 0; r < records; r++)
        std::memcpy(out + std::size_t(r) * record_bytes, rows[r].data(), record_bytes);
    return series;
}

// ---- arithmetic ----------------------------------------------------------------------------

// One element operation; for a left-hand scalar the operands are swapped back.
i64 int_op(i32 op, i64 a, i64 b) {
    switch (op) {
    case cores::op::add: return a + b;
    case cores::op::subtract: return a - b;
    case cores::op::multiply: return a * b;
    case cores::op::divide:
        if (b == 0) error::raise(err::E("math", "zero-divide"));
        return a / b;
    case cores::op::remainder:
        if (b == 0) error::raise(err::E("math", "zero-divide"));
        return a % b;
    case cores::op::or_: return static_cast<i32>(a) | static_cast<i32>(b);
    case cores::op::and_: return static_cast<i32>(a) & static_cast<i32>(b);
    default: return static_cast<i32>(a) ^ static_cast<i32>(b);
    }
}

double float_op(i32 op, double a, double b) {
    switch (op) {
    case cores::op::add: return a + b;
    case cores::op::subtract: return a - b;
    case cores::op::multiply: return a * b;
    case cores::op::divide:
        if (b == 0) error::raise(err::E("math", "zero-divide"));
        return a / b;
    case cores::op::remainder:
        if (b == 0) error::raise(err::E("math", "zero-divide"));
        return std::fmod(a, b);
    default: {
        cell t;
        init_datatype(&t, type_id::float_);
        error::raise(err::E("script", "invalid-type"), &t);
    }
    }
}

// Stores a computed element; a result the element cannot hold is an overflow, not a wrap.
void store_int(u8* p, u32 width, u32 kind, i64 n) {
    if (!int_fits(n, width, kind)) overflow();
    write_int(p, width, n);
}
void store_float(u8* p, u32 width, double d) {
    if (!float_fits(d, width)) overflow();
    write_float(p, width, d);
}

// The vector (in place) op the scalar; `scalar_left` computes scalar op element.
void math_scalar(i32 op, cell* vec, const cell* scalar, bool scalar_left) {
    u32 st = type_of(scalar);
    if (st != type_id::integer && st != type_id::float_ && st != type_id::percent) not_done();
    u32 kind = vec->w3, width = width_of(vec);
    double d = scalar_double(scalar);
    if (!scalar_left) {
        bool neutral = ((op == cores::op::add || op == cores::op::subtract) && d == 0) ||
                       ((op == cores::op::multiply || op == cores::op::divide) && d == 1);
        if (neutral) return;
    }
    u32 h = head_of(vec), n = length_of(vec);
    if (integral(kind)) {
        double t = std::trunc(d);
        if (!(t >= -2147483648.0 && t <= 2147483647.0)) overflow();
        i64 s = static_cast<i64>(t);
        // Results are checked before any is stored, so a failing operation changes nothing.
        std::vector<i64> results(n - h);
        for (u32 i = h; i < n; i++) {
            i64 e = read_int(at(vec, i), width, kind);
            results[i - h] = scalar_left ? int_op(op, s, e) : int_op(op, e, s);
            if (!int_fits(results[i - h], width, kind)) overflow();
        }
        for (u32 i = h; i < n; i++) write_int(at(vec, i), width, results[i - h]);
        return;
    }
    std::vector<double> results(n - h);
    for (u32 i = h; i < n; i++) {
        double e = read_float(at(vec, i), width);
        results[i - h] = scalar_left ? float_op(op, d, e) : float_op(op, e, d);
        if (!float_fits(results[i - h], width)) overflow();
    }
    for (u32 i = h; i < n; i++) write_float(at(vec, i), width, results[i - h]);
}

void math_vectors(i32 op, const cell* left, const cell* right, cell* out) {
    if (left->w3 != right->w3) error::raise(err::E("script", "not-same-type"));
    u32 kind = left->w3;
    u32 hl = head_of(left), hr = head_of(right);
    u32 n = std::min(length_of(left) - hl, length_of(right) - hr);
    u32 wl = width_of(left), wr = width_of(right), width = std::max(wl, wr);
    std::vector<u8> bytes(std::size_t(n) * width);
    for (u32 i = 0; i < n; i++) {
        u8* p = bytes.data() + std::size_t(i) * width;
        if (integral(kind)) {
            i64 r = int_op(op, read_int(at(left, hl + i), wl, kind),
                           read_int(at(right, hr + i), wr, kind));
            store_int(p, width, kind, r);
        } else {
            store_float(p, width,
                        float_op(op, read_float(at(left, hl + i), wl),
                                 read_float(at(right, hr + i), wr)));
        }
    }
    init_zeroed(out, kind, width, n);
    if (n) std::memcpy(head_ptr(buf(out)), bytes.data(), bytes.size());
}

template <i32 Op> void math_action() {
    cell* left = stack::arg(0);
    cell* right = stack::arg(1);
    if (is(right, type_id::vector)) {
        cell result;
        math_vectors(Op, left, right, &result);
        *left = result;
        return;
    }
    math_scalar(Op, left, right, false);
}

// The scalar cores' hook: scalar op vector, with the scalar on the left.
void scalar_left_math(i32 op, cell* vec, cell* scalar, cell* result) {
    math_scalar(op, vec, scalar, true);
    *result = *vec;
}

// ---- series hooks --------------------------------------------------------------------------

void pick_hook(const cell* vec, u32 index, cell* out) {
    element_value(vec, index, out);
}
void poke_hook(cell* vec, u32 index, const cell* value) {
    store_element(vec, index, value);
}

// Without /part the element itself, as block! and string! give theirs.
cell* take(cell* series, cell* part, bool deep, bool last) {
    series::take(series, part, deep, last);
    if (!part && is(series, type_id::vector)) {
        cell e;
        element_value(series, 0, &e);
        *series = e;
    }
    return series;
}
} // namespace

void element_value(const cell* vec, u32 index, cell* out) {
    value_of(at(vec, index), width_of(vec), vec->w3, out);
}

void store_element(const cell* vec, u32 index, const cell* value) {
    u8 bytes[8];
    encode_checked(value, vec->w3, width_of(vec), bytes);
    std::memcpy(at(vec, index), bytes, width_of(vec));
}

cell* elements_to_block(cell* slot, const cell* vec) {
    cell* v = stack::push_value(vec);
    u32 h = head_of(v), n = length_of(v);
    cell made;
    block::init_cell(&made, static_cast<i32>(n - h));
    cell* out = stack::push_value(&made);
    for (u32 i = h; i < n && i < length_of(v); i++) {
        cell e;
        element_value(v, i, &e);
        *memory::append_cell_slot(out) = e;
    }
    *slot = *out;
    stack::drop_values(2);
    return slot;
}

void register_type() {
    series::hooks.vector_pick = pick_hook;
    series::hooks.vector_poke = poke_hook;
    cores::vector_math = scalar_left_math;
    action_row row{};
    row.type = type_id::vector;
    row.parent = type_id::string;
    row.name = "vector!";
    row.make = make;
    row.form = form;
    row.mold = mold;
    row.compare = compare;
    row.add = math_action<cores::op::add>;
    row.subtract = math_action<cores::op::subtract>;
    row.multiply = math_action<cores::op::multiply>;
    row.divide = math_action<cores::op::divide>;
    row.remainder = math_action<cores::op::remainder>;
    row.and_t = math_action<cores::op::and_>;
    row.or_t = math_action<cores::op::or_>;
    row.xor_t = math_action<cores::op::xor_>;
    row.append = insert;
    row.insert = insert;
    row.change = change;
    // The string! handlers of these work on text units; a vector's elements need their own.
    row.find = find;
    row.select = select;
    row.sort = sort;
    row.take = take;
    row.random = act::inherit;
    row.reflect = act::inherit;
    row.eval_path = act::inherit;
    row.at = act::inherit;
    row.back = act::inherit;
    row.clear = act::inherit;
    row.copy = act::inherit;
    row.head = act::inherit;
    row.head_q = act::inherit;
    row.index_q = act::inherit;
    row.length_q = act::inherit;
    row.move = act::inherit;
    row.next = act::inherit;
    row.pick = act::inherit;
    row.poke = act::inherit;
    row.remove = act::inherit;
    row.reverse = act::inherit;
    row.skip = act::inherit;
    row.tail = act::inherit;
    row.tail_q = act::inherit;
    row.modify = act::inherit;
    datatype::register_row(row);
}

} // namespace zel::vector
