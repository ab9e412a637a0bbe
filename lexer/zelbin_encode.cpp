// The serialized-value writer. A series, context or object is recorded with the path of indexes
// that leads to it before its content is written, so that a later occurrence (or a cycle back to
// it) is written as that path. The writer allocates nothing in the arena until the end and runs
// no language code, so the cells it walks cannot move under it.
#include <cmath>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "datatypes/binary.hpp"
#include "datatypes/bitset.hpp"
#include "datatypes/context.hpp"
#include "datatypes/function.hpp"
#include "datatypes/image.hpp"
#include "datatypes/symbol.hpp"
#include "evaluator/stack.hpp"
#include "lexer/zelbin.hpp"
#include "lexer/zelbin_format.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/process.hpp"

namespace zel::zelbin {

namespace {

namespace fmt = format;

class encoder {
  public:
    explicit encoder(bool compact) : compact_(compact) {}

    std::vector<u8> run(const cell* value) {
        write(value);
        std::vector<u8> out(fmt::magic, fmt::magic + 6);
        out.push_back(fmt::version);
        bool with_symbols = !symbol_ids_.empty();
        out.push_back(static_cast<u8>((compact_ ? fmt::flag::compact : 0) |
                                      (with_symbols ? fmt::flag::symbols : 0)));
        std::vector<u8> head;
        std::swap(head, records_);
        number(1);
        number(static_cast<u32>(head.size()));
        if (with_symbols) {
            number(static_cast<u32>(symbol_ids_.size()));
            number(static_cast<u32>(names_.size()));
            for (u32 offset : name_offsets_) u32le(offset);
        }
        out.insert(out.end(), records_.begin(), records_.end());
        out.insert(out.end(), names_.begin(), names_.end());
        out.insert(out.end(), head.begin(), head.end());
        return out;
    }

  private:
    // ---- bytes ----
    void byte(u32 b) { records_.push_back(static_cast<u8>(b)); }
    void u32le(u32 v) {
        for (int i = 0; i < 4; i++) byte(v >> (8 * i));
    }
    void varint(u32 v) {
        while (v >= 0x80) {
            byte((v & 0x7F) | 0x80);
            v >>= 7;
        }
        byte(v);
    }
    // A count or index: a varint, or a 32-bit word in the plain form.
    void number(u32 v) { compact_ ? varint(v) : u32le(v); }
    void signed_number(i32 v) {
        if (compact_)
            varint((static_cast<u32>(v) << 1) ^ static_cast<u32>(v >> 31));
        else
            u32le(static_cast<u32>(v));
    }
    void raw(const u8* p, std::size_t n) {
        records_.insert(records_.end(), p, p + n);
        if (!compact_)
            while (records_.size() % 4) byte(0);
    }

    // The record's head: prefixes and head byte, or the plain header word with its bits.
    void head(u32 type, bool f, bool ref, bool newline, u32 plain_bits = 0) {
        if (compact_) {
            if (newline) byte(fmt::newline);
            if (ref) byte(fmt::reference);
            byte(type | (f ? fmt::head_flag : 0));
            return;
        }
        u32le(type | plain_bits | (newline ? fmt::plain::newline : 0) |
              (ref ? fmt::plain::reference : 0));
    }
    void series_head(u32 head_index) {
        if (!compact_)
            u32le(head_index);
        else if (head_index)
            varint(head_index);
    }

    u32 symbol_index(u32 id) {
        auto [it, added] = symbol_ids_.try_emplace(id, static_cast<u32>(symbol_ids_.size()));
        if (added) {
            name_offsets_.push_back(static_cast<u32>(names_.size()));
            std::string_view text = symbol::text_view(id);
            names_.insert(names_.end(), text.begin(), text.end());
            names_.push_back(0);
            if (!compact_)
                while (names_.size() % 8) names_.push_back(0);
        }
        return it->second;
    }

    // ---- sharing ----
    // The paths to the records met so far are kept as a tree: an entry holds a record's index in
    // its level and the entry of that level. Recording a path costs one entry whatever its depth
    // (a copy of the whole path for every nested record would cost the square of the depth).
    struct path_entry {
        u32 up;
        u32 index;
    };
    static constexpr u32 no_entry = 0xFFFFFFFF;

    const u32* seen(u32 key) const {
        auto it = seen_.find(key);
        return it == seen_.end() ? nullptr : &it->second;
    }
    // The entry of the record at `index` of the current level.
    u32 entry(u32 index) {
        entries_.push_back({levels_.empty() ? no_entry : levels_.back(), index});
        return static_cast<u32>(entries_.size() - 1);
    }
    void path(u32 e) {
        std::vector<u32> p;
        for (; e != no_entry; e = entries_[e].up) p.push_back(entries_[e].index);
        if (p.size() > fmt::max_path) too_deep();
        number(static_cast<u32>(p.size()));
        for (auto i = p.rbegin(); i != p.rend(); ++i) number(*i);
    }
    // Opens the level of a record's content: its key is recorded with the path to it.
    void open(u32 key) {
        u32 e = entry(counter_);
        levels_.push_back(e);
        counters_.push_back(counter_);
        counter_ = 0;
        if (key) seen_[key] = e;
    }
    void close() {
        counter_ = counters_.back();
        counters_.pop_back();
        levels_.pop_back();
    }

    // What the reader would refuse as too deep is not written.
    [[noreturn]] void too_deep() { error::raise(err::E("internal", "stack-overflow")); }

    [[noreturn]] void no_codec(const cell* value) {
        cell copy = *value;
        error::raise(err::E("access", "no-codec"), &copy);
    }

    // ---- records ----
    void write(const cell* c) {
        runtime::check_stack();
        if (++depth_ > fmt::max_depth) too_deep();
        record(c);
        depth_--;
        counter_++;
    }

    void record(const cell* c) {
        u32 t = type_of(c);
        bool nl = c->header & cell_flag::newline;
        switch (t) {
        case type_id::datatype:
            head(t, false, false, nl);
            return number(c->w1);
        case type_id::unset:
        case type_id::none:
            return head(t, false, false, nl);
        case type_id::logic:
            if (compact_) {
                if (nl) byte(fmt::newline);
                return byte(c->w1 ? fmt::logic_true : fmt::logic_false);
            }
            head(t, false, false, nl);
            return u32le(c->w1 ? 1 : 0);
        case type_id::char_:
            head(t, false, false, nl);
            return number(c->w2);
        case type_id::integer: {
            i32 v = int_of(c);
            if (compact_ && v >= 0 && v < 64) {
                if (nl) byte(fmt::newline);
                return byte(fmt::small_integer | v);
            }
            head(t, false, false, nl);
            return signed_number(v);
        }
        case type_id::float_:
        case type_id::percent:
        case type_id::time:
            return write_float(c, t, nl);
        case type_id::pair:
            head(t, false, false, nl);
            signed_number(static_cast<i32>(c->w2));
            return signed_number(static_cast<i32>(c->w3));
        case type_id::point2d:
            head(t, false, false, nl);
            u32le(c->w1);
            return u32le(c->w2);
        case type_id::point3d:
            head(t, false, false, nl);
            u32le(c->w1);
            u32le(c->w2);
            return u32le(c->w3);
        case type_id::date: {
            bool timed = c->w1 & 0x10000;
            head(t, compact_ && timed, false, nl);
            u32le(c->w1);
            if (timed || !compact_) {
                u32le(c->w2);
                u32le(c->w3);
            }
            return;
        }
        case type_id::typeset: {
            const u8* bits = reinterpret_cast<const u8*>(&c->w1);
            head(t, false, false, nl);
            if (!compact_) {
                u32le(c->w1);
                u32le(c->w2);
                return u32le(c->w3);
            }
            u32 n = 12;
            while (n > 0 && bits[n - 1] == 0) n--;
            byte(n);
            for (u32 i = 0; i < n; i++) byte(bits[i]);
            return;
        }
        case type_id::tuple: {
            u32 n = (c->header >> 19) & 15;
            const u8* bytes = reinterpret_cast<const u8*>(&c->w1);
            if (!compact_) {
                head(t, false, false, nl, n << fmt::plain::tuple_shift);
                u32le(c->w1);
                u32le(c->w2);
                return u32le(c->w3);
            }
            head(t, n != 3, false, nl);
            if (n != 3) byte(n);
            for (u32 i = 0; i < n; i++) byte(bytes[i]);
            return;
        }
        case type_id::money: {
            bool negative = c->header & (1u << 14);
            const u8* bytes = reinterpret_cast<const u8*>(&c->w1);
            if (!compact_) {
                head(t, false, false, nl, negative ? fmt::plain::money_sign : 0);
                u32le(c->w1);
                u32le(c->w2);
                return u32le(c->w3);
            }
            head(t, negative, false, nl);
            for (u32 i = 0; i < 12; i++) byte(bytes[i]);
            return;
        }
        case type_id::issue:
            head(t, false, false, nl);
            return number(symbol_index(c->w2));
        case type_id::word:
        case type_id::set_word:
        case type_id::lit_word:
        case type_id::get_word:
        case type_id::refinement:
            return write_word(c, t, nl);
        case type_id::block:
        case type_id::paren:
        case type_id::path:
        case type_id::lit_path:
        case type_id::set_path:
        case type_id::get_path:
        case type_id::hash:
            return write_block(c, t, nl);
        case type_id::string:
        case type_id::file:
        case type_id::url:
        case type_id::tag:
        case type_id::email:
        case type_id::ref:
        case type_id::binary:
        case type_id::vector:
        case type_id::bitset:
            return write_bytes(c, t, nl);
        case type_id::map:
            return write_map(c, nl);
        case type_id::image:
            return write_image(c, nl);
        case type_id::object:
            return write_object(c, nl, false);
        case type_id::error:
            return write_error(c, nl);
        case type_id::function:
            return write_function(c, nl, false);
        case type_id::native:
        case type_id::action:
            head(t, false, false, nl);
            number(c->w1 + 1);
            {
                // The interface block as a record at the native's own level: a path through the
                // native reaches its cells, and one met before is written as a path to it.
                cell spec{type_id::block, 0, c->w2, 0};
                return write_block(&spec, type_id::block, false);
            }
        case type_id::op: {
            u32 wrapped = (c->header >> 16) & 0xFF;
            if (wrapped != type_id::native && wrapped != type_id::action &&
                wrapped != type_id::function)
                no_codec(c);
            if (compact_) {
                if (nl) byte(fmt::newline);
                byte(type_id::op);
            } else {
                head(t, false, false, nl, wrapped << fmt::plain::wrapped_shift);
            }
            cell inner = *c;
            inner.header = wrapped;
            return record(&inner);
        }
        default:
            // routine!, triple!, handle!, port!, event! and the rest.
            no_codec(c);
        }
    }

    void write_float(const cell* c, u32 t, bool nl) {
        double d = float_of(c);
        bool as_int = false;
        i32 v = 0;
        if (compact_ && !(d == 0 && std::signbit(d))) {
            if (t == type_id::percent) {
                if (d >= -21474836.0 && d <= 21474836.0) {
                    double n = std::round(d * 100);
                    if (n / 100 == d) {
                        v = static_cast<i32>(n);
                        as_int = true;
                    }
                }
            } else if (d >= -2147483000.0 && d <= 2147483000.0 && d == static_cast<i32>(d)) {
                v = static_cast<i32>(d);
                as_int = true;
            }
        }
        if (!compact_)
            while (records_.size() % 8) byte(0);
        head(t, as_int, false, nl);
        if (as_int) return signed_number(v);
        u32le(c->w2);
        u32le(c->w3);
    }

    // A word bound to the global context (or to none) is written by its symbol only; any other
    // carries its slot and its context's owner, inline the first time and by path afterwards.
    void write_word(const cell* c, u32 t, bool nl) {
        u32 ctx = c->w1;
        bool global = ctx == 0 || ctx == context::global_node();
        if (!global) {
            u32 owner = type_of(context::self_cell(ctx));
            global = owner == type_id::none || owner == type_id::unset || owner == type_id::block;
            if (!global && owner != type_id::object && owner != type_id::function) no_codec(c);
        }
        if (global) {
            head(t, false, false, nl, fmt::plain::global);
            number(symbol_index(c->w2));
            if (!compact_) u32le(c->w3);
            return;
        }
        const u32* known = seen(ctx);
        head(t, true, known != nullptr, nl);
        number(symbol_index(c->w2));
        signed_number(static_cast<i32>(c->w3));
        if (known) return path(*known);
        open(ctx);
        const cell* self = context::self_cell(ctx);
        if (is(self, type_id::function))
            write_function(self, false, true);
        else
            write_object(self, false, true);
        close();
    }

    void write_block_content(const cell& b, u32 node) {
        series_buffer* buf = buffer_of(node);
        u32 n = used_units(buf);
        number(n);
        for (u32 i = 0; i < n; i++) write(head_cell(buffer_of(node)) + i);
    }

    void write_block(const cell* c, u32 t, bool nl) {
        u32 node = c->w2;
        const u32* known = seen(node);
        head(t, c->w1 != 0, known != nullptr, nl);
        series_head(c->w1);
        if (known) return path(*known);
        open(node);
        write_block_content(*c, node);
        close();
    }

    void write_bytes(const cell* c, u32 t, bool nl) {
        u32 node = c->w2;
        series_buffer* b = buffer_of(node);
        u32 unit = unit_of(b);
        const u32* known = seen(node);
        bool bitset = t == type_id::bitset;
        bool f = bitset ? (b->flags & bitset::negated_flag) != 0 : c->w1 != 0;
        u32 bits = 0;
        if (!compact_) {
            if (is_any_string_type(t) || t == type_id::vector)
                bits = unit << fmt::plain::unit_shift;
            if (bitset && f) bits |= fmt::plain::complemented;
        }
        head(t, f, known != nullptr, nl, bits);
        if (!bitset) series_head(c->w1);
        if (known) return path(*known);
        seen_[node] = entry(counter_);
        u32 n = used_units(b);
        const u8* data = head_ptr(b);
        u32 log2 = unit == 1 ? 0 : unit == 2 ? 1 : unit == 4 ? 2 : 3;
        if (t == type_id::vector) {
            if (compact_) {
                byte(c->w3 * 4 + log2);
                varint(n);
            } else {
                u32le(n);
                u32le(c->w3);
            }
        } else if (is_any_string_type(t)) {
            number(compact_ ? (n << 2 | log2) : n);
        } else {
            number(n);
        }
        raw(data, static_cast<std::size_t>(n) * unit);
    }

    // The size, then every pixel word as its four bytes in memory order (blue, green, red,
    // stored alpha), from pixel 0 whatever the head.
    void write_image(const cell* c, bool nl) {
        u32 node = c->w2;
        const u32* known = seen(node);
        head(type_id::image, c->w1 != 0, known != nullptr, nl);
        series_head(c->w1);
        if (known) return path(*known);
        seen_[node] = entry(counter_);
        u32 width = image::width_of(c), height = image::height_of(c);
        if (compact_) {
            varint(width);
            varint(height);
        } else {
            u32le(height << 16 | width);
        }
        series_buffer* b = buffer_of(node);
        std::size_t bytes = static_cast<std::size_t>(width) * height * 4;
        std::size_t held =
            std::min<std::size_t>(bytes, static_cast<std::size_t>(used_units(b)) * 4);
        raw(head_ptr(b), held);
        records_.resize(records_.size() + (bytes - held), 0);
    }

    void write_map(const cell* c, bool nl) {
        u32 node = c->w2;
        const u32* known = seen(node);
        head(type_id::map, false, known != nullptr, nl);
        if (known) return path(*known);
        open(node);
        u32 n = used_units(buffer_of(node));
        u32 live = 0;
        for (u32 i = 0; i + 1 < n; i += 2)
            if (head_cell(buffer_of(node))[i + 1].header != 0) live++;
        number(2 * live);
        for (u32 i = 0; i + 1 < n; i += 2) {
            if (head_cell(buffer_of(node))[i + 1].header == 0) continue;
            write(head_cell(buffer_of(node)) + i);
            write(head_cell(buffer_of(node)) + i + 1);
        }
        close();
    }

    // The inline context record: kind and flags, keys, and the values when any is set.
    void write_context(u32 ctx) {
        const cell* cc = context::context_cell(ctx);
        u32 flags = (cc->header >> 11) & fmt::context_bits::kind_mask;
        bool stack = cc->header & context::stack_flag;
        if (stack) flags |= fmt::context_bits::stack;
        if (cc->header & context::object_flag) flags |= fmt::context_bits::object;
        u32 k = context::key_count(ctx);
        const cell* values = stack ? nullptr : context::values_base(ctx);
        bool any = false;
        for (u32 i = 0; values && i < k && !any; i++)
            any = !is_unset(context::values_base(ctx) + i);
        if (any) flags |= fmt::context_bits::values;
        if (compact_) {
            byte(type_id::context);
            byte(flags);
        } else {
            u32le(type_id::context | flags << fmt::plain::context_shift);
        }
        number(k);
        for (u32 i = 0; i < k; i++) number(symbol_index(context::key_word(ctx, i)->w2));
        if (any)
            for (u32 i = 0; i < k; i++) write(context::values_base(ctx) + i);
    }

    // An object, or (inline) the owner of a word's context, whose level the word opened.
    void write_object(const cell* c, bool nl, bool inline_owner) {
        u32 ctx = c->w1;
        if (!inline_owner) {
            const u32* known = seen(ctx);
            head(type_id::object, false, known != nullptr, nl);
            if (known) return path(*known);
            open(ctx);
        } else {
            head(type_id::object, false, false, false);
        }
        signed_number(static_cast<i32>(c->w2));
        write_context(ctx);
        if (!inline_owner) close();
    }

    // A function: the cell counts of interface and body, its context's keys, then the interface
    // and the body as elements 0 and 1 of its level.
    void write_function(const cell* c, bool nl, bool inline_owner) {
        u32 ctx = c->w1;
        if (!inline_owner) {
            const u32* known = seen(ctx);
            head(type_id::function, false, known != nullptr, nl);
            if (known) return path(*known);
            open(ctx);
        } else {
            head(type_id::function, false, false, false);
        }
        cell spec{type_id::block, 0, c->w2, 0};
        cell body = *function::side_cell(c, function::side::body);
        number(used_units(buffer_of(spec.w2)));
        number(used_units(buffer_of(body.w2)));
        write_context(ctx);
        write(&spec);
        write(&body);
        if (!inline_owner) close();
    }

    // An error has no record by reference: one that holds itself cannot be written.
    void write_error(const cell* c, bool nl) {
        if (!errors_open_.insert(c->w1).second) no_codec(c);
        head(type_id::error, false, false, nl);
        const cell* fields = context::values_base(c->w1);
        number(fields[0].w2);
        open(0);
        for (u32 i = 3; i < 9; i++) write(context::values_base(c->w1) + i);
        close();
        errors_open_.erase(c->w1);
    }

    bool compact_;
    std::vector<u8> records_;
    std::vector<u8> names_;
    std::vector<u32> name_offsets_;
    std::unordered_map<u32, u32> symbol_ids_;
    std::vector<path_entry> entries_;
    std::vector<u32> levels_;   // the entry of each open level
    std::vector<u32> counters_; // the index counter of each enclosing level
    u32 counter_ = 0;
    u32 depth_ = 0;
    std::unordered_map<u32, u32> seen_; // key -> entry
    std::unordered_set<u32> errors_open_;
};

} // namespace

std::vector<u8> encode_bytes(const cell* value, bool compact) {
    encoder e(compact);
    return e.run(value);
}

cell* push_encoded(const cell* value, bool compact) {
    std::vector<u8> bytes = encode_bytes(value, compact);
    if (bytes.size() > 0x7FFFFFFF) error::raise(err::E("internal", "no-memory"));
    return binary::push_from_bytes(bytes.data(), static_cast<u32>(bytes.size()));
}

} // namespace zel::zelbin
