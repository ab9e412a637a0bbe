// image!: making, pixel and path access, change, copy, comparison and mold. Language pixels are
// tuples red.green.blue.alpha whose alpha is a transparency (255 minus the stored alpha). Images
// compare by size first, so a 2x3 and a 3x2 image holding the same bytes differ. Pixel addresses
// are taken afresh after anything that allocates: the buffer moves when the collector compacts.
#include "datatypes/image.hpp"

#include <algorithm>
#include <cstring>
#include <string>

#include "datatypes/binary.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/series.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/string_common.hpp"
#include "datatypes/text_out.hpp"
#include "datatypes/tuple.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/hash_index.hpp"
#include "runtime/memory.hpp"
#include "runtime/owner.hpp"

namespace zel::image {

namespace {
namespace cop = actions::compare_op;

u32 count_of(const cell* c) {
    return width_of(c) * height_of(c);
}
u32* words_of(const cell* c) {
    return reinterpret_cast<u32*>(head_ptr(buffer_of(c->w2)));
}
u32 head_of(const cell* c) {
    return std::min(c->w1, count_of(c));
}

[[noreturn]] void invalid_arg(const cell* value) {
    cell v = *value;
    error::raise(err::E("script", "invalid-arg"), &v);
}
[[noreturn]] void not_done() {
    error::raise(err::E("internal", "not-done"));
}
[[noreturn]] void bad_media() {
    error::raise(err::E("access", "bad-media"));
}

// A new image of a size whose pixels are all `fill`. A size over the limits is refused before
// anything is allocated.
cell* init_filled(cell* slot, i64 width, i64 height, u32 fill, const cell* size_value) {
    width = std::max<i64>(width, 0);
    height = std::max<i64>(height, 0);
    if (!imaging::size_allowed(u64(width), u64(height))) {
        if (width > imaging::max_side || height > imaging::max_side) invalid_arg(size_value);
        error::raise(err::E("internal", "no-memory"));
    }
    u32 n = static_cast<u32>(width * height);
    u32 node = memory::new_series(n ? n : 1, 4, 0);
    series_buffer* b = buffer_of(node);
    u32* p = reinterpret_cast<u32*>(head_ptr(b));
    std::fill(p, p + n, fill);
    b->tail = b->head + n * 4;
    *slot = cell{type_id::image, 0, node, static_cast<u32>(height) << 16 | static_cast<u32>(width)};
    return slot;
}

cell* init_empty(cell* slot) {
    cell none{type_id::none, 0, 0, 0};
    return init_filled(slot, 0, 0, 0, &none);
}

u32 word_of_tuple(const cell* t) {
    const u8* b = tuple::bytes_of(t);
    u32 alpha = tuple::length_of(t) >= 4 ? 255u - b[3] : 255u;
    return alpha << 24 | u32(b[0]) << 16 | u32(b[1]) << 8 | b[2];
}

cell* tuple_of_word(cell* out, u32 w) {
    u8 bytes[4] = {u8(w >> 16), u8(w >> 8), u8(w), u8(255 - (w >> 24))};
    init_none(out);
    return tuple::init_cell(out, bytes, 4);
}

// A copy of the rectangle at x, y of w x h, clipped to the image; an empty image when nothing is
// left of it.
cell* copy_rect(cell* out, const cell* source, i64 x, i64 y, i64 w, i64 h) {
    i64 W = width_of(source), H = height_of(source);
    if (x < 0) w += x, x = 0;
    if (y < 0) h += y, y = 0;
    w = std::min(w, W - x);
    h = std::min(h, H - y);
    if (w <= 0 || h <= 0) return init_empty(out);
    cell src = *source;
    cell* kept = stack::push_value(&src);
    cell made;
    init_filled(&made, w, h, 0, kept);
    const u32* from = words_of(kept);
    u32* to = words_of(&made);
    for (i64 row = 0; row < h; row++)
        std::memcpy(to + row * w, from + (y + row) * W + x, std::size_t(w) * 4);
    stack::drop_values(1);
    *out = made;
    return out;
}

// The target index of a position (image/index-of): base 1 for pick, poke and at, 0 for skip.
u32 index_of(const cell* image, const cell* position, i64 base, bool& out_of_range) {
    i64 W = width_of(image), H = height_of(image), count = W * H;
    i64 e;
    out_of_range = false;
    if (is(position, type_id::integer)) {
        e = int_of(position);
    } else if (is(position, type_id::pair)) {
        i64 x = static_cast<i32>(position->w2), y = static_cast<i32>(position->w3);
        if (base == 1) {
            e = x + W * (y - 1);
            out_of_range = x > W || x < 1 || y > H || y < 1;
        } else {
            e = x + W * y;
            out_of_range = x >= W || x < 0 || y >= H || y < 0;
        }
    } else {
        invalid_arg(position);
    }
    i64 target = e + head_of(image) - base;
    if (base == 1 && e <= 0) target += 1;
    if (e == 0 || target < 0 || target >= count) out_of_range = true;
    return static_cast<u32>(std::clamp<i64>(target, 0, count));
}

// ---- making --------------------------------------------------------------------------------

cell* copy(cell* value, cell* out, cell* part, bool, cell*);

cell* to(cell* proto, cell* spec, u32) {
    if (is(spec, type_id::image)) return copy(spec, proto, nullptr, false, nullptr);
    cell type, value = *spec;
    init_datatype(&type, type_id::image);
    error::raise(err::E("script", "bad-to-arg"), &type, &value);
}

cell* make(cell* proto, cell* spec, u32 type) {
    if (is(spec, type_id::pair)) {
        cell size = *spec;
        return init_filled(proto, static_cast<i32>(size.w2), static_cast<i32>(size.w3), 0xFFFFFFFFu,
                           &size);
    }
    if (!is(spec, type_id::block)) return to(proto, spec, type);
    u32 length = used_units(buffer_of(spec->w2));
    u32 at = std::min(spec->w1, length);
    if (at == length) {
        if (is(proto, type_id::image)) return copy(proto, proto, nullptr, false, nullptr);
        invalid_arg(spec);
    }
    string_type::detail::stack_scope scope;
    cell* block = stack::push_value(spec);
    auto item = [&](u32 i) { return head_cell(buffer_of(block->w2))[at + i]; };
    u32 n = length - at;
    cell size = item(0);
    if (!is(&size, type_id::pair)) invalid_arg(&size);
    cell colour{type_id::none, 0, 0, 0}, alpha{type_id::none, 0, 0, 0};
    if (n > 1) {
        colour = item(1);
        if (!is(&colour, type_id::binary) && !is(&colour, type_id::tuple)) invalid_arg(&colour);
    }
    if (n > 2) {
        alpha = item(2);
        if (!is(&alpha, type_id::binary)) invalid_arg(&alpha);
    }
    cell* kept_colour = stack::push_value(&colour);
    cell* kept_alpha = stack::push_value(&alpha);
    u32 fill = is(&colour, type_id::tuple) ? word_of_tuple(&colour) : 0xFFFFFFFFu;
    cell made;
    init_filled(&made, static_cast<i32>(size.w2), static_cast<i32>(size.w3), fill, &size);
    u32* p = words_of(&made);
    u32 count = count_of(&made);
    if (is(kept_colour, type_id::binary)) {
        series_buffer* b = buffer_of(kept_colour->w2);
        u32 bytes = used_bytes(b) > kept_colour->w1 ? used_bytes(b) - kept_colour->w1 : 0;
        const u8* rgb = head_ptr(b) + kept_colour->w1;
        u32 pixels = std::min(bytes / 3, count);
        for (u32 i = 0; i < pixels; i++)
            p[i] = 0xFF000000u | u32(rgb[i * 3]) << 16 | u32(rgb[i * 3 + 1]) << 8 | rgb[i * 3 + 2];
    }
    if (is(kept_alpha, type_id::binary)) {
        series_buffer* b = buffer_of(kept_alpha->w2);
        u32 bytes = used_bytes(b) > kept_alpha->w1 ? used_bytes(b) - kept_alpha->w1 : 0;
        const u8* a = head_ptr(b) + kept_alpha->w1;
        for (u32 i = 0; i < std::min(bytes, count); i++)
            p[i] = (p[i] & 0xFFFFFF) | u32(255 - a[i]) << 24;
    }
    *proto = made;
    return proto;
}

// ---- form and mold -------------------------------------------------------------------------

void write_indent(std::string& text, i32 level) {
    if (level > 0) text.append(static_cast<std::size_t>(level) * 4, ' ');
}

const char hex[] = "0123456789ABCDEF";

void put_hex(std::string& text, u32 byte) {
    text += hex[(byte >> 4) & 15];
    text += hex[byte & 15];
}

// The colours from the head, ten pixels a line when the run is long and not flat, then the
// transparencies of the same pixels when any is not opaque: text that makes the same image back.
i32 mold_pixels(cell* value, cell* buffer, bool only, bool flat, cell* part, i32 limit,
                i32 indent) {
    std::string text;
    if (!only) {
        text += "make image! [";
        limit -= 13;
    }
    std::string size = std::to_string(width_of(value)) + "x" + std::to_string(height_of(value));
    text += size;
    limit -= static_cast<i32>(size.size());
    u32 count = count_of(value), head = head_of(value);
    if (count == 0) {
        text += " #{}";
        limit -= 4;
    } else {
        const u32* p = words_of(value);
        u32 n = count - head;
        bool lines = n >= 31 && !flat;
        text += " #{";
        limit -= 3;
        if (lines) {
            text += '\n';
            write_indent(text, indent);
        }
        bool translucent = false;
        bool cut = false;
        for (u32 i = 0; i < n; i++) {
            u32 w = p[head + i];
            put_hex(text, w >> 16);
            put_hex(text, w >> 8);
            put_hex(text, w);
            limit -= 6;
            if ((w >> 24) != 255) translucent = true;
            if (lines && (i + 1) % 10 == 0 && i + 1 < n) {
                text += '\n';
                write_indent(text, indent);
            }
            if (part && limit < 1) {
                cut = true;
                break;
            }
        }
        if (!cut) {
            if (lines) {
                text += '\n';
                write_indent(text, indent - 1);
            }
            text += '}';
            if (translucent) {
                text += " #{";
                if (lines) {
                    text += '\n';
                    write_indent(text, indent);
                }
                for (u32 i = 0; i < n; i++) {
                    put_hex(text, 255 - (p[head + i] >> 24));
                    if (lines && (i + 1) % 10 == 0 && i + 1 < n) {
                        text += '\n';
                        write_indent(text, indent);
                    }
                }
                if (lines) {
                    text += '\n';
                    write_indent(text, indent - 1);
                }
                text += '}';
            }
        }
    }
    if (!only && !(part && limit < 1)) text += ']';
    string::append_c_text(buffer, text);
    return limit;
}

i32 form(cell* value, cell* buffer, cell* part, i32 limit) {
    return mold_pixels(value, buffer, false, false, part, limit, 1);
}

i32 mold(cell* value, cell* buffer, bool only, bool, bool flat, cell* part, i32 limit, i32 indent) {
    return mold_pixels(value, buffer, only, flat, part, limit, indent + 1);
}

// ---- byte views ----------------------------------------------------------------------------

enum view : int { alpha_view = 0, rgb_view = 1, argb_view = 2 };

cell* push_view(const cell* image, int mode) {
    u32 count = count_of(image);
    const u32* p = words_of(image);
    std::string bytes;
    bytes.reserve(std::size_t(count) * (mode == alpha_view ? 1 : mode == rgb_view ? 3 : 4));
    for (u32 i = 0; i < count; i++) {
        u32 w = p[i];
        if (mode == alpha_view) {
            bytes += char(255 - (w >> 24));
        } else if (mode == rgb_view) {
            bytes += char(w >> 16);
            bytes += char(w >> 8);
            bytes += char(w);
        } else {
            bytes.append(reinterpret_cast<const char*>(&w), 4);
        }
    }
    return binary::push_from_bytes(reinterpret_cast<const u8*>(bytes.data()),
                                   static_cast<u32>(bytes.size()));
}

void store_view(cell* image, const cell* value, int mode) {
    u32 count = count_of(image);
    bool told =
        owner::notify_change(image, owner::event::change, value, 0, static_cast<i32>(count));
    count = std::min(count, used_units(buffer_of(image->w2)));
    u32* p = words_of(image);
    if (is(value, type_id::binary)) {
        series_buffer* b = buffer_of(value->w2);
        u32 n = used_bytes(b) > value->w1 ? used_bytes(b) - value->w1 : 0;
        const u8* from = head_ptr(b) + value->w1;
        if (mode == argb_view) {
            std::memcpy(p, from, std::min<u64>(n, u64(count) * 4));
        } else if (mode == rgb_view) {
            for (u32 i = 0; i < std::min(n / 3, count); i++)
                p[i] = (p[i] & 0xFF000000u) | u32(from[i * 3]) << 16 | u32(from[i * 3 + 1]) << 8 |
                       from[i * 3 + 2];
        } else {
            for (u32 i = 0; i < std::min(n, count); i++)
                p[i] = (p[i] & 0xFFFFFF) | u32(255 - from[i]) << 24;
        }
    } else if (is(value, type_id::tuple) || is(value, type_id::integer)) {
        u8 c[4] = {0, 0, 0, 0};
        if (is(value, type_id::tuple)) {
            std::memcpy(c, tuple::bytes_of(value), 4);
            if (tuple::length_of(value) < 4) c[3] = 0;
        } else {
            u32 v = value->w2;
            c[0] = u8(v), c[1] = u8(v >> 8), c[2] = u8(v >> 16), c[3] = u8(v >> 24);
        }
        u32 colour = u32(c[0]) << 16 | u32(c[1]) << 8 | c[2];
        for (u32 i = 0; i < count; i++) {
            if (mode == argb_view)
                p[i] = u32(255 - c[3]) << 24 | colour;
            else if (mode == rgb_view)
                p[i] = (p[i] & 0xFF000000u) | colour;
            else
                p[i] = (p[i] & 0xFFFFFF) | u32(255 - c[0]) << 24;
        }
    } else {
        invalid_arg(value);
    }
    if (told) owner::notify_change(image, owner::event::changed, value, 0, static_cast<i32>(count));
}

// ---- pixel access --------------------------------------------------------------------------

cell* pick(cell* series, i32, cell* index_cell) {
    bool out = false;
    u32 at = index_of(series, index_cell, 1, out);
    if (out) return init_none(series);
    return tuple_of_word(series, words_of(series)[at]);
}

void poke(cell* series, i32, cell* value, cell* index_cell) {
    bool out = false;
    u32 at = index_of(series, index_cell, 1, out);
    if (out) {
        cell position = *index_cell;
        error::raise(err::E("script", "out-of-range"), &position);
    }
    if (!is(value, type_id::tuple)) invalid_arg(value);
    bool told = owner::notify_change(series, owner::event::poke, value, static_cast<i32>(at), 1);
    if (at < used_units(buffer_of(series->w2))) words_of(series)[at] = word_of_tuple(value);
    if (told) owner::notify_change(series, owner::event::poked, value, static_cast<i32>(at), 1);
}

bool word_is(const cell* word, const char* name) {
    u32 s = series::name_symbol(name);
    return s && hash_index::canonical_symbol(word->w2) == hash_index::canonical_symbol(s);
}

cell* eval_path(cell* parent, cell* element, cell* value, const path_step& step) {
    static cell answer;
    if (is(element, type_id::integer) || is(element, type_id::pair)) {
        if (!value) {
            answer = *parent;
            return pick(&answer, 0, element);
        }
        poke(parent, 0, value, element);
        return value;
    }
    cell path, elem = *element;
    if (step.path)
        path = *step.path;
    else
        init_none(&path);
    if (!is(element, type_id::word)) error::raise(err::E("script", "invalid-path"), &path, &elem);
    int mode = word_is(element, "alpha")  ? alpha_view
               : word_is(element, "rgb")  ? rgb_view
               : word_is(element, "argb") ? argb_view
                                          : -1;
    if (word_is(element, "size") && !value) {
        pair::init_cell(&answer, static_cast<i32>(width_of(parent)),
                        static_cast<i32>(height_of(parent)));
        return &answer;
    }
    if (mode < 0) error::raise(err::E("script", "invalid-path"), &path, &elem);
    if (!value) {
        answer = *push_view(parent, mode);
        stack::drop_values(1);
        return &answer;
    }
    store_view(parent, value, mode);
    return value;
}

// ---- series actions ------------------------------------------------------------------------

void at() {
    cell* s = stack::arg(0);
    bool out = false;
    s->w1 = index_of(s, stack::arg(1), 1, out);
}

void skip() {
    cell* s = stack::arg(0);
    bool out = false;
    s->w1 = index_of(s, stack::arg(1), 0, out);
}

void next() {
    cell* s = stack::arg(0);
    if (u64(s->w1) + 1 <= count_of(s)) s->w1++;
}

void tail() {
    stack::arg(0)->w1 = count_of(stack::arg(0));
}

void tail_q() {
    cell* s = stack::arg(0);
    init_logic(s, s->w1 >= count_of(s));
}

i32 length_q(cell* series) {
    return static_cast<i32>(count_of(series));
}

i32 compare(cell* value1, cell* value2, i32 op) {
    if (!is(value2, type_id::image)) return -2;
    bool same = value1->w2 == value2->w2 && value1->w1 == value2->w1;
    if (op == cop::same) return same ? 0 : -1;
    if (op == cop::lesser || op == cop::lesser_or_equal || op == cop::greater ||
        op == cop::greater_or_equal)
        return -2;
    if (same && (op == cop::equal || op == cop::not_equal || op == cop::strict_equal)) return 0;
    u32 n1 = count_of(value1), n2 = count_of(value2);
    if (n1 != n2) return n1 < n2 ? -1 : 1;
    // Equal counts: the sizes next, then the bytes.
    if (value1->w3 != value2->w3) return width_of(value1) < width_of(value2) ? -1 : 1;
    if (n1 == 0) return 0;
    i32 r = std::memcmp(words_of(value1), words_of(value2), std::size_t(n1) * 4);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

void change(cell* series, cell* value, i32 part, bool, i32 dup) {
    if (part >= 0 || dup >= 2) not_done();
    u32 head = head_of(series), count = count_of(series);
    if (is(value, type_id::tuple)) {
        if (head >= count) return;
        bool told =
            owner::notify_change(series, owner::event::change, value, static_cast<i32>(head), 1);
        if (head < used_units(buffer_of(series->w2))) words_of(series)[head] = word_of_tuple(value);
        series->w1 = head + 1;
        if (told)
            owner::notify_change(series, owner::event::changed, value, static_cast<i32>(head), 1);
        return;
    }
    if (!is(value, type_id::image)) {
        cell type;
        init_datatype(&type, type_of(value));
        error::raise(err::E("script", "invalid-type"), &type);
    }
    if (head >= count) return;
    u32 W = width_of(series), H = height_of(series);
    u32 x = head % W, y = head / W;
    u32 sw = width_of(value), sh = height_of(value);
    u32 w = std::min(sw, W - x), h = std::min(sh, H - y);
    bool told = owner::notify_change(series, owner::event::change, value, static_cast<i32>(head),
                                     static_cast<i32>(w * h));
    if (count_of(series) == used_units(buffer_of(series->w2)) &&
        count_of(value) == used_units(buffer_of(value->w2))) {
        u32* to = words_of(series);
        const u32* from = words_of(value);
        // memmove: the pasted image may be this very one.
        for (u32 row = 0; row < h; row++)
            std::memmove(to + std::size_t(y + row) * W + x, from + std::size_t(row) * sw,
                         std::size_t(w) * 4);
    }
    u32 last_row = h ? y + h - 1 : y;
    series->w1 = last_row * W + std::min(x + sw, W);
    if (told) owner::notify_change(series, owner::event::changed, value, static_cast<i32>(head), 0);
}

cell* copy(cell* value, cell* out, cell* part, bool, cell*) {
    cell v = *value;
    i64 W = width_of(&v), H = height_of(&v);
    if (W == 0 || H == 0) return init_empty(out);
    i64 head = head_of(&v), x = head % W, y = head / W;
    if (!part) {
        if (head == 0) return copy_rect(out, &v, 0, 0, W, H);
        return copy_rect(out, &v, x, y, W - x, H - y);
    }
    if (is(part, type_id::integer)) not_done();
    if (is(part, type_id::pair)) {
        i64 a = static_cast<i32>(part->w2), b = static_cast<i32>(part->w3);
        if (a >= 1 && b >= 1 && head < W * H) return copy_rect(out, &v, x, y, a, b);
        if (a < 0 && b < 0 && head > 0) {
            i64 ea = -a, eb = -b;
            i64 xx = x == 0 ? W : x, yy = y < H ? y + 1 : y;
            return copy_rect(out, &v, xx - ea, yy - eb, ea, eb);
        }
        return init_empty(out);
    }
    if (is(part, type_id::image)) {
        if (part->w2 != v.w2) series::raise_refine_arg("part", part);
        i64 other = std::min<i64>(part->w1, W * H);
        i64 lo = std::min(head, other), hi = std::max(head, other);
        i64 x1 = lo % W, y1 = lo / W, x2 = hi % W, y2 = hi / W;
        return copy_rect(out, &v, std::min(x1, x2), y1, std::abs(x2 - x1), y2 - y1);
    }
    series::raise_refine_arg("part", part);
}

} // namespace

cell* init_cell(cell* slot, const imaging::pixels& pixels) {
    cell none{type_id::none, 0, 0, 0};
    init_filled(slot, pixels.width, pixels.height, 0, &none);
    if (!pixels.words.empty())
        std::memcpy(words_of(slot), pixels.words.data(), pixels.words.size() * 4);
    return slot;
}

cell* push_decoded(const u8* bytes, std::size_t n) {
    cell result{type_id::none, 0, 0, 0};
    if (!imaging::known_format(bytes, n)) return stack::push_value(&result);
    imaging::pixels pixels;
    if (!imaging::decode(bytes, n, pixels)) bad_media();
    init_cell(&result, pixels);
    return stack::push_value(&result);
}

cell* push_encoded(const cell* image, int format) {
    if (count_of(image) == 0) bad_media();
    std::vector<u8> bytes;
    if (!imaging::encode(format, words_of(image), width_of(image), height_of(image), bytes))
        bad_media();
    return binary::push_from_bytes(bytes.data(), static_cast<u32>(bytes.size()));
}

void register_type() {
    datatype::register_row(action_row{.type = type_id::image,
                                      .parent = type_id::series,
                                      .name = "image!",
                                      .make = make,
                                      .to = to,
                                      .form = form,
                                      .mold = mold,
                                      .eval_path = eval_path,
                                      .compare = compare,
                                      .at = at,
                                      .back = act::inherit,
                                      .change = change,
                                      .copy = copy,
                                      .head = act::inherit,
                                      .head_q = act::inherit,
                                      .index_q = act::inherit,
                                      .length_q = length_q,
                                      .next = next,
                                      .pick = pick,
                                      .poke = poke,
                                      .skip = skip,
                                      .tail = tail,
                                      .tail_q = tail_q,
                                      .modify = act::inherit});
}

} // namespace zel::image
