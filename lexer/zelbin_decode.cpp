// The serialized-value reader. Every read checks the end of the records first, every count is
// bounded by the bytes that remain before it drives an allocation, and a reference path is
// resolved only through cells already decoded: hostile data raises `zb-invalid-record`, never
// loops or reads outside its input. A container's cell is placed before its content is read, so
// that a path back to it (a cycle) resolves. New nodes stay on the data stack until placed.
#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "datatypes/binary.hpp"
#include "datatypes/bitset.hpp"
#include "datatypes/block.hpp"
#include "datatypes/context.hpp"
#include "datatypes/error.hpp"
#include "datatypes/function.hpp"
#include "datatypes/hash.hpp"
#include "datatypes/image.hpp"
#include "datatypes/map.hpp"
#include "datatypes/native.hpp"
#include "datatypes/object.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/stack.hpp"
#include "lexer/lz.hpp"
#include "lexer/zelbin.hpp"
#include "lexer/zelbin_format.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/process.hpp"

namespace zel::zelbin {

namespace {

namespace fmt = format;

cell* push(cell c) {
    return stack::push_value(&c);
}

// Where decoded cells go: the tail of a block, or the value slots of a context.
struct target {
    u32 node;     // the block's series node, or the context node
    bool context; // value slots of a context, from `next` below `limit`
    u32 next = 0;
    u32 limit = 0;
};

class decoder {
  public:
    decoder(const u8* start, const u8* data, const u8* end, const cell* root)
        : start_(start), p_(data), end_(end), root_(*root) {}

    void run(bool compact) {
        compact_ = compact;
        number(); // the record count is not used
        u32 records = number();
        if (symbols_flag_) {
            u32 s = number(), n = number();
            if (s > static_cast<u64>(left()) / 4) fail();
            offsets_ = p_;
            p_ += static_cast<std::size_t>(s) * 4;
            if (n > left()) fail();
            names_ = p_;
            names_size_ = n;
            symbol_count_ = s;
            if (n > 0 && names_[n - 1] != 0) fail();
            p_ += n;
            symbols_.assign(s, 0);
        }
        if (records > left()) fail();
        end_ = p_ + records;
        target t{root_.w2, false};
        while (p_ < end_) {
            if (!compact_ && skip_padding()) continue;
            read(t);
        }
    }

    bool symbols_flag_ = false;

  private:
    // ---- reading ----
    [[noreturn]] void fail() const { fail_at(p_); }
    [[noreturn]] void fail_at(const u8* at) const {
        cell position;
        init_integer(&position, static_cast<i32>(at - start_ + 1));
        error::raise(err::E("script", "zb-invalid-record"), &position);
    }
    std::size_t left() const { return static_cast<std::size_t>(end_ - p_); }
    u8 byte() {
        if (p_ >= end_) fail();
        return *p_++;
    }
    u32 u32le() {
        if (left() < 4) fail();
        u32 v = p_[0] | p_[1] << 8 | p_[2] << 16 | static_cast<u32>(p_[3]) << 24;
        p_ += 4;
        return v;
    }
    u32 varint() {
        u32 v = 0;
        for (int i = 0; i < 5; i++) {
            u8 b = byte();
            if (i == 4 && b >= 0x10) fail_at(p_ - 1);
            v |= static_cast<u32>(b & 0x7F) << (7 * i);
            if (!(b & 0x80)) return v;
        }
        fail();
    }
    u32 number() { return compact_ ? varint() : u32le(); }
    i32 signed_number() {
        if (!compact_) return static_cast<i32>(u32le());
        u32 u = varint();
        return static_cast<i32>((u >> 1) ^ (0u - (u & 1)));
    }
    // A count of things of at least `unit` bytes each, bounded by what is left.
    u32 count(std::size_t unit) {
        const u8* at = p_;
        u32 n = number();
        if (static_cast<u64>(n) * unit > left()) fail_at(at);
        return n;
    }
    const u8* take(std::size_t n) {
        if (n > left()) fail();
        const u8* at = p_;
        p_ += n;
        if (!compact_)
            while ((p_ - start_) % 4 && p_ < end_) p_++; // plain data is padded to 4 bytes
        return at;
    }
    bool skip_padding() {
        if (left() >= 4 && p_[0] == 0 && p_[1] == 0 && p_[2] == 0 && p_[3] == 0) {
            p_ += 4;
            return true;
        }
        return false;
    }

    u32 symbol() {
        const u8* at = p_;
        u32 i = number();
        if (i >= symbol_count_) fail_at(at);
        last_symbol_ = i;
        if (!symbols_[i]) {
            const u8* o = offsets_ + 4 * static_cast<std::size_t>(i);
            u32 offset = o[0] | o[1] << 8 | o[2] << 16 | static_cast<u32>(o[3]) << 24;
            if (offset >= names_size_) fail_at(at);
            const char* name = reinterpret_cast<const char*>(names_ + offset);
            std::size_t len = std::strlen(name); // the names end with a NUL
            if (len == 0) fail_at(at);
            symbols_[i] = symbol::intern_text(std::string_view(name, len));
        }
        return symbols_[i];
    }

    // The global context's word for a symbol of the table, as the lexer makes it (found or added
    // case-insensitively); the same for every use of the symbol in this data.
    cell global_word() {
        u32 sym = symbol();
        u32 i = last_symbol_;
        if (words_.size() <= i) words_.resize(symbol_count_);
        if (!words_[i].header) words_[i] = word::intern_literal(symbol::text_view(sym));
        return words_[i];
    }

    // ---- targets ----
    cell* slot_address(const target& t, u32 i) {
        if (t.context) return context::values_base(t.node) + i;
        return head_cell(buffer_of(t.node)) + i;
    }
    // Places a cell (kept on the data stack meanwhile); answers its slot index.
    u32 place(target& t, const cell& c) {
        cell* held = stack::push_value(&c);
        u32 i;
        if (t.context) {
            if (t.next >= t.limit) fail();
            i = t.next++;
        } else {
            cell b{type_id::block, 0, t.node, 0};
            i = used_units(buffer_of(t.node));
            memory::append_cell_slot(&b);
        }
        *slot_address(t, i) = *held;
        stack::drop_values(1);
        return i;
    }

    // ---- references ----
    cell resolve() {
        const u8* at = p_;
        u32 n = number();
        if (n < 1 || n > fmt::max_path || n > left()) fail_at(at);
        cell current = root_;
        cell part;
        for (u32 k = 0; k < n; k++) {
            u32 i = number();
            u32 t = type_of(&current);
            const cell* next = nullptr;
            if (is_any_block_type(t) || t == type_id::map) {
                series_buffer* b = buffer_of(current.w2);
                if (i < used_units(b)) next = head_cell(b) + i;
            } else if (is_any_word_type(t) && t != type_id::issue) {
                u32 ctx = current.w1;
                if (ctx && !context::is_stack(ctx) && i < context::key_count(ctx)) {
                    next = context::values_base(ctx) + i;
                } else if (ctx && context::is_stack(ctx) && i < 2 &&
                           is(context::self_cell(ctx), type_id::function)) {
                    cell fn = *context::self_cell(ctx);
                    part = function_part(&fn, i);
                    next = &part;
                }
            } else if (t == type_id::function ||
                       (t == type_id::op && ((current.header >> 16) & 0xFF) == type_id::function)) {
                if (i < 2) {
                    part = function_part(&current, i);
                    next = &part;
                }
            } else if (t == type_id::native || t == type_id::action) {
                series_buffer* b = buffer_of(current.w2);
                if (i < used_units(b)) next = head_cell(b) + i;
            } else if (t == type_id::object) {
                if (i < context::key_count(current.w1)) next = context::values_base(current.w1) + i;
            } else if (t == type_id::error) {
                if (i < 6) next = context::values_base(current.w1) + 3 + i;
            }
            if (!next) fail_at(at);
            current = *next;
        }
        return current;
    }

    // A function's spec (0) or body (1) block.
    static cell function_part(const cell* fn, u32 i) {
        if (i == 0) return cell{type_id::block, 0, fn->w2, 0};
        return *function::side_cell(fn, function::side::body);
    }

    // A reference may only take a series of the kind its own type reads: a block over another
    // value's cells, a text or bytes over units of a width they read. Anything else would make
    // one type read another's memory.
    static bool holds_cells(const cell* c) {
        u32 t = type_of(c);
        bool ok = is_any_block_type(t) || t == type_id::map || t == type_id::native ||
                  t == type_id::action || t == type_id::function ||
                  (t == type_id::op && ((c->header >> 16) & 0xFF) != type_id::routine);
        return ok && unit_of(buffer_of(c->w2)) == sizeof(cell);
    }
    static bool holds_units(const cell* c, u32 type) {
        u32 t = type_of(c);
        if (type == type_id::vector) return t == type_id::vector;
        if (!is_any_string_type(t) && t != type_id::binary && t != type_id::bitset) return false;
        u32 unit = unit_of(buffer_of(c->w2));
        return is_any_string_type(type) ? unit == 1 || unit == 2 || unit == 4 : unit == 1;
    }

    // ---- records ----
    void read(target& t) {
        runtime::check_stack();
        if (++depth_ > fmt::max_depth) fail();
        if (compact_)
            read_compact(t);
        else
            read_plain(t);
        depth_--;
    }

    void read_compact(target& t) {
        bool nl = false, ref = false;
        u8 h;
        const u8* at;
        for (;;) {
            at = p_;
            h = byte();
            if (h == fmt::newline)
                nl = true;
            else if (h == fmt::reference)
                ref = true;
            else if (h == fmt::assignment)
                fail_at(at); // start-up assignments only at boot
            else
                break;
        }
        u32 nl_bit = nl ? cell_flag::newline : 0;
        if (h >= 0x80) {
            if (ref) fail_at(at);
            cell c;
            if (h < 0xC0)
                init_integer(&c, h & 0x3F);
            else if (h == fmt::logic_true || h == fmt::logic_false)
                init_logic(&c, h == fmt::logic_true);
            else if (h == fmt::back_reference)
                c = resolve();
            else
                fail_at(at);
            c.header |= nl_bit;
            place(t, c);
            return;
        }
        u32 type = h & 0x3F;
        if (type == 63) type = varint();
        read_body(t, type, (h & fmt::head_flag) != 0, ref, nl_bit, at, 0);
    }

    void read_plain(target& t) {
        const u8* at = p_;
        u32 h = u32le();
        u32 type = h & 0xFF;
        u32 nl_bit = (h & fmt::plain::newline) ? cell_flag::newline : 0;
        if (type == 0xFF) {
            cell c = resolve();
            c.header |= nl_bit;
            place(t, c);
            return;
        }
        bool ref = type != type_id::op && (h & fmt::plain::reference);
        read_body(t, type, false, ref, nl_bit, at, h);
    }

    // F is the compact head flag; `h` the plain header word (0 in the compact form).
    void read_body(target& t, u32 type, bool f, bool ref, u32 nl, const u8* at, u32 h) {
        cell c{type | nl, 0, 0, 0};
        auto scalar = [&]() {
            if (ref) fail_at(at);
        };
        switch (type) {
        case type_id::datatype: {
            scalar();
            u32 id = number();
            if (id < 1 || id > type_id::event) fail_at(at);
            c.w1 = id;
            break;
        }
        case type_id::unset:
        case type_id::none:
            scalar();
            break;
        case type_id::logic:
            scalar();
            if (compact_) fail_at(at);
            c.w1 = u32le() ? 1 : 0;
            break;
        case type_id::char_: {
            scalar();
            c.w2 = number();
            if (c.w2 > 0x10FFFF) fail_at(at);
            break;
        }
        case type_id::integer:
            scalar();
            c.w2 = static_cast<u32>(signed_number());
            break;
        case type_id::float_:
        case type_id::percent:
        case type_id::time: {
            scalar();
            if (f) {
                double v = signed_number();
                if (type == type_id::percent) v /= 100;
                set_float_payload(&c, v);
            } else {
                c.w2 = u32le();
                c.w3 = u32le();
            }
            break;
        }
        case type_id::pair:
            scalar();
            c.w2 = static_cast<u32>(signed_number());
            c.w3 = static_cast<u32>(signed_number());
            break;
        case type_id::point2d:
            scalar();
            c.w1 = u32le();
            c.w2 = u32le();
            break;
        case type_id::point3d:
            scalar();
            c.w1 = u32le();
            c.w2 = u32le();
            c.w3 = u32le();
            break;
        case type_id::date: {
            scalar();
            c.w1 = u32le();
            bool timed = c.w1 & 0x10000;
            if (compact_ && timed != f) fail_at(at);
            if (timed || !compact_) {
                c.w2 = u32le();
                c.w3 = u32le();
            }
            if (!timed) c.w2 = c.w3 = 0;
            break;
        }
        case type_id::typeset: {
            scalar();
            if (compact_) {
                u32 n = byte();
                if (n > 12) fail_at(at);
                const u8* bits = take(n);
                std::memcpy(&c.w1, bits, n);
            } else {
                c.w1 = u32le();
                c.w2 = u32le();
                c.w3 = u32le();
            }
            break;
        }
        case type_id::tuple: {
            scalar();
            u32 n;
            if (compact_) {
                n = f ? byte() : 3;
                if (n < 1 || n > 12) fail_at(at);
                std::memcpy(&c.w1, take(n), n);
            } else {
                n = (h >> fmt::plain::tuple_shift) & 0xFF;
                if (n < 1 || n > 12) fail_at(at);
                c.w1 = u32le();
                c.w2 = u32le();
                c.w3 = u32le();
            }
            c.header |= n << 19;
            break;
        }
        case type_id::money: {
            scalar();
            bool negative = compact_ ? f : (h & fmt::plain::money_sign) != 0;
            if (compact_)
                std::memcpy(&c.w1, take(12), 12);
            else {
                c.w1 = u32le();
                c.w2 = u32le();
                c.w3 = u32le();
            }
            if (negative) c.header |= 1u << 14;
            break;
        }
        case type_id::issue: {
            scalar();
            // As the lexer makes it: the global context's word, retyped.
            cell w = global_word();
            w.header = type_id::issue | nl;
            place(t, w);
            return;
        }
        case type_id::word:
        case type_id::set_word:
        case type_id::lit_word:
        case type_id::get_word:
        case type_id::refinement:
            return read_word(t, type, f, ref, nl, at, h);
        case type_id::block:
        case type_id::paren:
        case type_id::path:
        case type_id::lit_path:
        case type_id::set_path:
        case type_id::get_path:
        case type_id::hash:
            return read_block(t, type, f, ref, nl, at);
        case type_id::string:
        case type_id::file:
        case type_id::url:
        case type_id::tag:
        case type_id::email:
        case type_id::ref:
        case type_id::binary:
        case type_id::vector:
        case type_id::bitset:
            return read_bytes(t, type, f, ref, nl, at, h);
        case type_id::map:
            return read_map(t, ref, nl, at);
        case type_id::object:
            return read_object(t, ref, nl, at);
        case type_id::error:
            return read_error(t, nl, at);
        case type_id::native:
        case type_id::action:
            return read_native(t, type, nl, at);
        case type_id::op:
            return read_op(t, nl, at, h);
        case type_id::function:
            return read_function(t, ref, nl, at, false, nullptr);
        case type_id::image:
            return read_image(t, f, ref, nl, at);
        case type_id::routine:
        case type_id::triple:
        case type_id::handle:
        case type_id::port:
        case type_id::event: {
            cell dt;
            init_datatype(&dt, type);
            error::raise(err::E("access", "no-codec"), &dt);
        }
        default:
            fail_at(at);
        }
        place(t, c);
    }

    // A slot of the context; or, for the word `self` of an object's body, no slot: that word
    // stands for the object itself.
    static bool slot_ok(u32 type, u32 sym, i32 index, u32 ctx, u32 keys) {
        if (index == -1)
            return type == type_id::word && sym == sym::self &&
                   context::kind_of(ctx) == context::kind::object;
        return index >= 0 && static_cast<u32>(index) < keys;
    }

    void read_word(target& t, u32 type, bool f, bool ref, u32 nl, const u8* at, u32 h) {
        bool global = compact_ ? !f : (h & fmt::plain::global) != 0;
        if (global) {
            cell w = global_word();
            if (!compact_) u32le(); // the slot it had
            w.header = type | nl;
            place(t, w);
            return;
        }
        u32 sym = symbol();
        i32 index = signed_number();
        u32 ctx;
        if (ref) {
            cell owner = resolve();
            u32 ot = type_of(&owner);
            bool owner_ok =
                ot == type_id::object || ot == type_id::function ||
                (ot == type_id::op && ((owner.header >> 16) & 0xFF) == type_id::function) ||
                (is_any_word_type(ot) && ot != type_id::issue && owner.w1);
            if (!owner_ok) fail_at(at);
            ctx = owner.w1;
            if (!slot_ok(type, sym, index, ctx, context::key_count(ctx))) fail_at(at);
            place(t, cell{type | nl, ctx, sym, static_cast<u32>(index)});
            return;
        }
        // The owner inline: an object record whose values come after the word is placed.
        const u8* owner_at = p_;
        u8 oh = compact_ ? byte() : static_cast<u8>(u32le());
        if ((oh & 0x3F) == type_id::function) {
            read_function(t, false, 0, owner_at, true, [&](u32 fctx) {
                if (index < 0 || static_cast<u32>(index) >= context::key_count(fctx)) fail_at(at);
                place(t, cell{type | nl, fctx, sym, static_cast<u32>(index)});
            });
            return;
        }
        if ((oh & 0x3F) != type_id::object) fail_at(owner_at);
        signed_number(); // the class id: a decoded object has none
        u32 k;
        bool values;
        ctx = read_context_keys(&k, &values);
        cell* held = push(cell{type_id::object, ctx, 0, 0});
        cell obj = object::make_cell(ctx, -1, 0);
        *context::self_cell(ctx) = obj;
        if (!slot_ok(type, sym, index, ctx, k)) fail_at(at);
        place(t, cell{type | nl, ctx, sym, static_cast<u32>(index)});
        if (values) read_values(ctx, k);
        (void)held;
        stack::drop_values(1);
    }

    void read_block(target& t, u32 type, bool f, bool ref, u32 nl, const u8* at) {
        u32 head = compact_ ? (f ? varint() : 0) : u32le();
        if (ref) {
            cell c = resolve();
            if (!holds_cells(&c)) fail_at(at);
            if (type_of(&c) != type) c.w3 = 0; // word 3 means something else in the source
            c.header = type | nl;
            c.w1 = head;
            if (type == type_id::hash) {
                // The index covers the whole buffer, shared with the earlier value.
                if (!is(&c, type_id::hash)) fail_at(at);
                c.header = type | nl;
            }
            place(t, c);
            return;
        }
        u32 n = count(compact_ ? 1 : 4);
        u32 node = memory::new_cell_series(n ? n : 1);
        u32 i = place(t, cell{type_id::block | nl, head, node, 0});
        target inner{node, false};
        cell* keep = push(cell{type_id::block, 0, node, 0});
        for (u32 k = 0; k < n; k++) {
            if (!compact_ && skip_padding()) {
                k--;
                continue;
            }
            read(inner);
        }
        (void)keep;
        if (type == type_id::hash) {
            cell* made = push(cell{type_id::block, head, 0, 0});
            hash::init_cell(made, node, n);
            made->header = (made->header & ~0xFFu) | type_id::hash | nl;
            made->w1 = head;
            *slot_address(t, i) = *made;
        } else {
            slot_address(t, i)->header = type | nl;
        }
        stack::drop_values(type == type_id::hash ? 2 : 1);
    }

    void read_bytes(target& t, u32 type, bool f, bool ref, u32 nl, const u8* at, u32 h) {
        bool bitset = type == type_id::bitset;
        u32 head = 0;
        if (!bitset) head = compact_ ? (f ? varint() : 0) : u32le();
        if (ref) {
            cell c = resolve();
            if (!holds_units(&c, type)) fail_at(at);
            bool same_kind = type_of(&c) == type;
            if (type == type_id::vector && !same_kind) fail_at(at); // no element kind to take
            if (!same_kind) c.w3 = 0;
            c.header = type | nl;
            if (!bitset) c.w1 = head;
            place(t, c);
            return;
        }
        u32 unit = 1, n, element = 0;
        if (type == type_id::vector) {
            u32 log2;
            if (compact_) {
                u32 b = byte();
                element = b >> 2;
                log2 = b & 3;
                n = varint();
            } else {
                n = u32le();
                element = u32le();
                u32 u = (h >> fmt::plain::unit_shift) & 0x1F;
                log2 = u == 1 ? 0 : u == 2 ? 1 : u == 4 ? 2 : u == 8 ? 3 : 4;
            }
            unit = 1u << log2;
            bool whole = element == type_id::char_ || element == type_id::integer;
            bool real = element == type_id::float_ || element == type_id::percent;
            if (log2 > 3 || !(whole ? unit <= 4 : real && unit >= 4)) fail_at(at);
        } else if (is_any_string_type(type)) {
            if (compact_) {
                u32 w = varint();
                if ((w & 3) == 3) fail_at(at);
                unit = 1u << (w & 3);
                n = w >> 2;
            } else {
                unit = (h >> fmt::plain::unit_shift) & 0x1F;
                if (unit != 1 && unit != 2 && unit != 4) fail_at(at);
                n = u32le();
            }
        } else {
            n = number();
        }
        u64 bytes = static_cast<u64>(n) * unit;
        if (bytes > left()) fail_at(at);
        const u8* data = take(static_cast<std::size_t>(bytes));
        u32 node = memory::new_series(n ? n : 1, unit, 0);
        series_buffer* b = buffer_of(node);
        std::memcpy(head_ptr(b), data, static_cast<std::size_t>(bytes));
        b->tail = b->head + static_cast<u32>(bytes);
        if (bitset && (compact_ ? f : (h & fmt::plain::complemented) != 0))
            b->flags |= bitset::negated_flag;
        place(t, cell{type | nl, head, node, element});
    }

    // The size and the pixel words; the size is checked against the bytes left before the image
    // is made, and the head may not pass the last pixel.
    void read_image(target& t, bool f, bool ref, u32 nl, const u8* at) {
        u32 head = compact_ ? (f ? varint() : 0) : u32le();
        cell c;
        if (ref) {
            c = resolve();
            if (!is(&c, type_id::image)) fail_at(at);
        } else {
            u32 width, height;
            if (compact_) {
                width = varint();
                height = varint();
            } else {
                u32 size = u32le();
                width = size & 0xFFFF;
                height = size >> 16;
            }
            if (!imaging::size_allowed(width, height)) fail_at(at);
            u64 bytes = static_cast<u64>(width) * height * 4;
            if (bytes > left()) fail_at(at);
            imaging::pixels pixels;
            pixels.width = width;
            pixels.height = height;
            pixels.words.resize(static_cast<std::size_t>(width) * height);
            if (bytes)
                std::memcpy(pixels.words.data(), take(static_cast<std::size_t>(bytes)), bytes);
            image::init_cell(&c, pixels);
        }
        if (head > image::width_of(&c) * image::height_of(&c)) fail_at(at);
        c.header = type_id::image | nl;
        c.w1 = head;
        place(t, c);
    }

    void read_map(target& t, bool ref, u32 nl, const u8* at) {
        if (ref) {
            cell c = resolve();
            if (!is(&c, type_id::map)) fail_at(at);
            c.header = (c.header & ~(0xFFu | cell_flag::newline)) | type_id::map | nl;
            place(t, c);
            return;
        }
        u32 n = count(compact_ ? 1 : 4);
        if (n % 2) fail_at(at);
        u32 node = memory::new_cell_series(n ? n : 1);
        u32 i = place(t, cell{type_id::block, 0, node, 0});
        target inner{node, false};
        for (u32 k = 0; k < n; k++) {
            if (!compact_ && skip_padding()) {
                k--;
                continue;
            }
            read(inner);
        }
        cell* made = push(cell{type_id::map, 0, 0, 0});
        map::init_cell(made, node, n / 2);
        made->header = (made->header & ~cell_flag::newline) | nl;
        *slot_address(t, i) = *made;
        stack::drop_values(1);
    }

    // The keys of an inline context record; the context comes back on the data stack's top.
    u32 read_context_keys(u32* k, bool* values, bool function = false) {
        const u8* at = p_;
        u32 flags;
        if (compact_) {
            if ((byte() & 0x3F) != type_id::context) fail_at(at);
            flags = byte();
        } else {
            u32 h = u32le();
            if ((h & 0xFF) != type_id::context) fail_at(at);
            flags = (h >> fmt::plain::context_shift) & 0x1F;
        }
        // A function's context keeps its values on the data stack; an object's never does.
        if (((flags & fmt::context_bits::stack) != 0) != function) fail_at(at);
        *k = count(1);
        *values = flags & fmt::context_bits::values;
        if (function && *values) fail_at(at);
        u32 ctx = function ? context::new_node(*k, true, false, nullptr, context::kind::function)
                           : context::new_node(*k, false, true, nullptr, context::kind::object);
        push(cell{type_id::object, ctx, 0, 0});
        cell unset;
        init_unset(&unset);
        for (u32 i = 0; i < *k; i++) {
            const u8* key_at = p_;
            cell w{type_id::word, 0, symbol(), 0};
            if (context::find_symbol_index(ctx, w.w2, true) >= 0) fail_at(key_at);
            if (function)
                context::find_or_add_word(ctx, &w);
            else
                context::add_word_if_absent(ctx, &w, &unset);
        }
        stack::drop_values(1);
        return ctx;
    }

    void read_values(u32 ctx, u32 k) {
        target inner{ctx, true, 0, k};
        for (u32 i = 0; i < k; i++) {
            if (!compact_ && skip_padding()) {
                i--;
                continue;
            }
            read(inner);
        }
    }

    void read_object(target& t, bool ref, u32 nl, const u8* at) {
        if (ref) {
            cell c = resolve();
            u32 ct = type_of(&c);
            if (ct == type_id::object) {
            } else if (is_any_word_type(ct) && ct != type_id::issue && c.w1 &&
                       is(context::self_cell(c.w1), type_id::object)) {
                c = *context::self_cell(c.w1);
            } else {
                fail_at(at);
            }
            c.header = (c.header & ~cell_flag::newline) | nl;
            place(t, c);
            return;
        }
        signed_number(); // the class id: a decoded object has none
        u32 k;
        bool values;
        u32 ctx = read_context_keys(&k, &values);
        cell* held = push(cell{type_id::object, ctx, 0, 0});
        cell obj = object::make_cell(ctx, -1, 0);
        *context::self_cell(ctx) = obj;
        obj.header |= nl;
        place(t, obj);
        if (values) read_values(ctx, k);
        (void)held;
        stack::drop_values(1);
    }

    // A function: its context's keys, then the interface and the body decoded straight into the
    // blocks it was made with. Inline (as a word's owner) the function is not placed; `placed`
    // puts the word instead, before the interface and body that may lead back to it.
    void read_function(target& t, bool ref, u32 nl, const u8* at, bool inline_owner,
                       const std::function<void(u32)>& placed) {
        if (ref) {
            cell c = resolve();
            u32 ct = type_of(&c);
            if (ct == type_id::op && ((c.header >> 16) & 0xFF) == type_id::function) {
            } else if (is_any_word_type(ct) && ct != type_id::issue && c.w1 &&
                       is(context::self_cell(c.w1), type_id::function)) {
                c = *context::self_cell(c.w1);
            } else if (ct != type_id::function) {
                fail_at(at);
            }
            c.header =
                (c.header & ~(0xFFu | cell_flag::newline | 0xFF0000u)) | type_id::function | nl;
            place(t, c);
            return;
        }
        u32 spec_cells = count(compact_ ? 1 : 4);
        u32 body_cells = count(compact_ ? 1 : 4);
        u32 k;
        bool values;
        u32 ctx = read_context_keys(&k, &values, true);
        cell* base = stack::top;
        push(cell{type_id::object, ctx, 0, 0});
        cell* spec = push(cell{type_id::block, 0, memory::new_cell_series(spec_cells), 0});
        cell* body = push(cell{type_id::block, 0, memory::new_cell_series(body_cells), 0});
        function::build_value(spec, body, ctx, 0, 0);
        cell* fn = stack::top - 1;
        *function::side_cell(fn, function::side::body) = *body;
        if (inline_owner) {
            placed(ctx);
        } else {
            cell c = *fn;
            c.header |= nl;
            place(t, c);
        }
        read_function_block(spec->w2);
        read_function_block(body->w2);
        // The interface must make the very context the record gave, or a call would misread it.
        u32 made = context::new_from_spec(spec, true, false, context::kind::function);
        if (context::key_count(made) != k) fail_at(at);
        for (u32 i = 0; i < k; i++)
            if (symbol::canonical_id(context::key_word(made, i)->w2) !=
                symbol::canonical_id(context::key_word(ctx, i)->w2))
                fail_at(at);
        stack::top = base;
    }

    // The interface or body record of a function, decoded into its prepared block.
    void read_function_block(u32 node) {
        const u8* at = p_;
        bool ref = false;
        if (compact_) {
            u8 h;
            for (;;) {
                h = byte();
                if (h == fmt::newline) continue;
                if (h == fmt::reference)
                    ref = true;
                else
                    break;
            }
            if ((h & 0x3F) != type_id::block) fail_at(at);
            if (h & fmt::head_flag) varint();
        } else {
            while (skip_padding()) {
            }
            u32 h = u32le();
            if ((h & 0xFF) != type_id::block) fail_at(at);
            ref = h & fmt::plain::reference;
            u32le();
        }
        target inner{node, false};
        if (ref) {
            // A block met before: its cells, copied.
            cell c = resolve();
            if (!is_any_block_type(type_of(&c))) fail_at(at);
            u32 n = used_units(buffer_of(c.w2));
            for (u32 i = 0; i < n; i++) place(inner, head_cell(buffer_of(c.w2))[i]);
            return;
        }
        u32 n = count(compact_ ? 1 : 4);
        for (u32 i = 0; i < n; i++) {
            if (!compact_ && skip_padding()) {
                i--;
                continue;
            }
            read(inner);
        }
    }

    void read_error(target& t, u32 nl, const u8* at) {
        i32 code = static_cast<i32>(number());
        cell spec;
        init_integer(&spec, code);
        cell* made = stack::push_value(&spec);
        error::make(made, made, type_id::error);
        made->header |= nl;
        place(t, *made);
        target fields{made->w1, true, 3, 9};
        for (u32 i = 0; i < 6; i++) {
            if (!compact_ && skip_padding()) {
                i--;
                continue;
            }
            read(fields);
        }
        stack::drop_values(1);
        (void)at;
    }

    void read_native(target& t, u32 type, u32 nl, const u8* at) {
        u32 index = number();
        u32 size = type == type_id::native ? natives::count() : 62u;
        if (index < 1 || index > size) fail_at(at);
        cell* spec_block = push(cell{type_id::block, 0, memory::new_cell_series(1), 0});
        target inner{spec_block->w2, false};
        const u8* spec_at = p_;
        read(inner);
        series_buffer* b = buffer_of(spec_block->w2);
        if (used_units(b) != 1 || !is(head_cell(b), type_id::block)) fail_at(spec_at);
        cell spec = *head_cell(b);
        cell* s = stack::push_value(&spec);
        native_value::make_callable(type, index - 1, s);
        cell made = *(stack::top - 1);
        made.header |= nl;
        place(t, made);
        stack::drop_values(3);
    }

    void read_op(target& t, u32 nl, const u8* at, u32 h) {
        // An op of a function is placed before the function's spec and body, which may lead back
        // to it.
        const u8* inner_at = p_;
        if (compact_ ? (left() > 0 && (*p_ & 0x3F) == type_id::function)
                     : (left() >= 4 && *p_ == type_id::function)) {
            p_ += compact_ ? 1 : 4;
            if (!compact_ && (inner_at[2] & 0x08)) fail_at(inner_at); // no reference here
            if (compact_ && (*inner_at & fmt::head_flag)) fail_at(inner_at);
            read_function(t, false, 0, inner_at, true, [&](u32 fctx) {
                cell fn = *context::self_cell(fctx);
                fn.header = type_id::op | (type_id::function << 16) | nl;
                place(t, fn);
            });
            return;
        }
        cell* holder = push(cell{type_id::block, 0, memory::new_cell_series(1), 0});
        target inner{holder->w2, false};
        // The wrapped value as a record of its own (with its own header word when plain).
        read(inner);
        series_buffer* b = buffer_of(holder->w2);
        if (used_units(b) != 1) fail_at(at);
        cell c = *head_cell(b);
        u32 wt = type_of(&c);
        if (wt != type_id::native && wt != type_id::action && wt != type_id::function) fail_at(at);
        c.header = type_id::op | (wt << 16) | nl;
        place(t, c);
        stack::drop_values(1);
    }

    const u8* start_;
    const u8* p_;
    const u8* end_;
    cell root_;
    bool compact_ = true;
    const u8* offsets_ = nullptr;
    const u8* names_ = nullptr;
    u32 names_size_ = 0, symbol_count_ = 0;
    std::vector<u32> symbols_;
    std::vector<cell> words_;
    u32 last_symbol_ = 0;
    u32 depth_ = 0;
};

} // namespace

void decode(const u8* data, std::size_t length, const cell* target, const cell* input) {
    auto invalid = [&]() {
        cell copy = *input;
        error::raise(err::E("script", "invalid-data"), &copy);
    };
    if (length < 8 || std::memcmp(data, fmt::magic, 6) != 0) invalid();
    u8 flags = data[7];
    std::vector<u8> expanded;
    const u8* body = data + 8;
    const u8* end = data + length;
    const u8* start = data;
    if (flags & fmt::flag::compressed) {
        // Positions in errors then count in the expanded bytes.
        auto out = lz::decompress(body, length - 8, std::size_t{1} << 30);
        if (!out) invalid();
        expanded = std::move(*out);
        body = start = expanded.data();
        end = body + expanded.size();
    }
    if (!(flags & fmt::flag::compact) && end - body < 8) invalid();
    cell root = *target;
    decoder d(start, body, end, &root);
    d.symbols_flag_ = flags & fmt::flag::symbols;
    d.run(flags & fmt::flag::compact);
}

} // namespace zel::zelbin
