// The parse engine: a recursive matcher over a rules block with backtracking. Invariants: every
// read of the input or of a rules block is bounds-checked against the series as it is now (a
// paren may shrink either at any time); no buffer address is held across an evaluation or an
// allocation; every value the engine makes is on the data stack before anything may collect.
// The engine's own stacks are C++ objects of one run, so a nested parse works above them and an
// error that leaves the engine leaves nothing behind.
#include "evaluator/parse.hpp"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "datatypes/basic.hpp"
#include "datatypes/bitset.hpp"
#include "datatypes/series.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/text_units.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/natives_common.hpp"
#include "evaluator/stack.hpp"
#include "lexer/lexer.hpp"
#include "runtime/errors.hpp"
#include "runtime/process.hpp"
#include "runtime/unicode.hpp"

namespace zel::parse {

namespace {

// ---- keywords ------------------------------------------------------------------------------

enum class kw : u8 {
    none_kw,
    bar,
    any,
    some,
    opt,
    while_,
    skip,
    to,
    thru,
    end,
    none,
    fail,
    break_,
    reject,
    not_,
    ahead,
    quote,
    set,
    copy,
    into,
    collect,
    keep,
    insert,
    change,
    remove,
    if_,
    case_,
    count
};

constexpr const char* keyword_text[] = {"",      "|",     "any",    "some",    "opt",    "while",
                                        "skip",  "to",    "thru",   "end",     "none",   "fail",
                                        "break", "reject", "not",   "ahead",   "quote",  "set",
                                        "copy",  "into",  "collect", "keep",   "insert", "change",
                                        "remove", "if",   "case"};
static_assert(std::size(keyword_text) == static_cast<std::size_t>(kw::count));

struct symbols {
    std::array<u32, static_cast<std::size_t>(kw::count)> keyword{};
    // The keyword of each canonical symbol id up to the largest keyword's: one look per rule word.
    std::vector<u8> keyword_by_id;
    u32 pick = 0, only = 0, after = 0;
    u32 ev_push = 0, ev_pop = 0, ev_fetch = 0, ev_match = 0, ev_iterate = 0, ev_paren = 0,
        ev_end = 0, callback = 0;
};

const symbols& make_syms() {
    static symbols s = [] {
        symbols t;
        for (std::size_t i = 1; i < t.keyword.size(); i++)
            t.keyword[i] = symbol::canonical_id(symbol::intern_text(keyword_text[i]));
        t.keyword_by_id.assign(*std::max_element(t.keyword.begin(), t.keyword.end()) + 1, 0);
        for (std::size_t i = 1; i < t.keyword.size(); i++)
            t.keyword_by_id[t.keyword[i]] = static_cast<u8>(i);
        auto canon = [](const char* text) { return symbol::canonical_id(symbol::intern_text(text)); };
        t.pick = canon("pick");
        t.only = canon("only");
        t.after = canon("after");
        t.ev_push = symbol::intern_text("push");
        t.ev_pop = symbol::intern_text("pop");
        t.ev_fetch = symbol::intern_text("fetch");
        t.ev_match = symbol::intern_text("match");
        t.ev_iterate = symbol::intern_text("iterate");
        t.ev_paren = symbol::intern_text("paren");
        t.ev_end = symbol::intern_text("end");
        t.callback = symbol::intern_text("<parse-callback>");
        return t;
    }();
    return s;
}

// Every rule step asks for these: a plain pointer read instead of a guarded static each time.
const symbols* syms_cache = nullptr;
inline const symbols& syms() {
    if (!syms_cache) syms_cache = &make_syms();
    return *syms_cache;
}

kw keyword_of_symbol(u32 id) {
    u32 c = symbol::canonical_id(id);
    const std::vector<u8>& by_id = syms().keyword_by_id;
    return c < by_id.size() ? static_cast<kw>(by_id[c]) : kw::none_kw;
}

// A rule block names few words, each asked for at every step: the answers of the last ones are
// kept by symbol id (symbols are never freed, so an id keeps its spelling).
struct keyword_memo {
    std::array<u32, 256> id{};
    std::array<kw, 256> word{};
};
thread_local keyword_memo memo;

kw keyword_of(const cell& item) {
    if (!is(&item, type_id::word)) return kw::none_kw;
    u32 slot = item.w2 & 255;
    if (memo.id[slot] != item.w2) {
        memo.word[slot] = keyword_of_symbol(item.w2);
        memo.id[slot] = item.w2;
    }
    return memo.word[slot];
}

bool is_word_named(const cell& item, u32 canonical) {
    return is(&item, type_id::word) && symbol::canonical_id(item.w2) == canonical;
}

// ---- rules blocks --------------------------------------------------------------------------

u32 units_of(const cell& s) {
    return used_units(buffer_of(s.w2));
}

// Rules blocks hold cells: the bound is the byte count, read once, without a division.
bool rule_at(const cell& blk, u32 i, cell& out) {
    series_buffer* b = buffer_of(blk.w2);
    if (u64(i) * sizeof(cell) >= used_bytes(b)) return false;
    out = head_cell(b)[i];
    return true;
}

// Thrown to leave the engine without an error: the trace callback asked to stop, or a paren left
// a non-local exit pending.
struct engine_stop {};

enum class input_kind : u8 { cells, text, bytes };

input_kind kind_of_type(u32 t) {
    if (is_any_block_type(t)) return input_kind::cells;
    if (t == type_id::binary) return input_kind::bytes;
    return input_kind::text;
}

[[noreturn]] void rule_error(const cell& item) {
    error::raise(err::E("script", "parse-rule"), &item);
}
[[noreturn]] void end_error(const cell& keyword) {
    error::raise(err::E("script", "parse-end"), &keyword);
}

constexpr u32 stack_limit_cells = 10000;

// ---- the engine ----------------------------------------------------------------------------

struct rule_frame {
    cell rules; // the block, at the position it was entered
    u32 input_node;
    u32 pos;
};

struct collect_level {
    cell* target; // data-stack cell: the block collected into, or the into/after series
    u8 mode;      // 0 a new block, 1 into, 2 after
    u32 at;       // into/after: where the next kept value goes
};

class engine {
  public:
    engine(const cell& input, i32 limit, bool case_, const cell* callback, cell* result_slot)
        : case_(case_), callback_(callback), result_slot_(result_slot) {
        in_.series = input;
        in_.kind = kind_of_type(type_of(&input));
        in_.limit = limit;
    }

    // Matches the whole rules block; answers the result of parse (true when the rules matched
    // and the input is at its end).
    bool run(const cell& rules, u32 start) {
        u32 p = start;
        bool ok = match_block(rules, p);
        brk_ = 0;
        last_ = ok && p == end();
        trace(&symbols::ev_end, rules, units_of(rules), p);
        return last_;
    }

    bool last_match() const { return last_; }
    bool collected() const { return top_collect_; }

  private:
    struct input_state {
        cell series;
        input_kind kind;
        i32 limit; // -1: the tail
    };

    input_state in_;
    bool case_;
    const cell* callback_;
    cell* result_slot_;
    u8 brk_ = 0; // 1 break, 2 reject: travelling to the enclosing iteration
    bool last_ = false;
    bool top_collect_ = false;
    u32 cells_used_ = 0;
    u32 changes_ = 0; // input changes made by insert, change and remove: progress too
    std::vector<rule_frame> frames_;
    std::vector<collect_level> collects_;
    std::vector<u32> scratch_;

    // -- input access --

    u32 length() const { return units_of(in_.series); }
    u32 end() const {
        u32 n = length();
        return in_.limit >= 0 && static_cast<u32>(in_.limit) < n ? static_cast<u32>(in_.limit) : n;
    }
    u32 unit_at(u32 i) const {
        series_buffer* b = buffer_of(in_.series.w2);
        u32 unit = unit_of(b);
        return text_units::read(head_ptr(b) + u64(i) * unit, unit);
    }
    cell cell_at(u32 i) const { return head_cell(buffer_of(in_.series.w2))[i]; }
    cell input_at(u32 p) const {
        cell c = in_.series;
        c.w1 = p;
        return c;
    }
    // The element at p as a value: a char! of text, an integer! byte, or the cell itself.
    cell element_at(u32 p) const {
        cell c;
        if (in_.kind == input_kind::cells) return cell_at(p);
        if (in_.kind == input_kind::bytes) return *init_integer(&c, static_cast<i32>(unit_at(p)));
        return *init_char(&c, unit_at(p));
    }
    u32 fold(u32 cp) const { return case_ ? cp : case_::to_lower(cp); }
    void adjust_limit(i64 delta) {
        if (in_.limit >= 0) in_.limit = static_cast<i32>(std::max<i64>(0, in_.limit + delta));
    }

    // -- stack accounting --

    struct depth_guard {
        engine& e;
        u32 n;
        depth_guard(engine& e, u32 n) : e(e), n(n) {
            runtime::check_stack();
            e.cells_used_ += n;
            if (e.cells_used_ > stack_limit_cells) {
                e.cells_used_ -= n;
                error::raise(err::E("script", "parse-stack"));
            }
        }
        ~depth_guard() { e.cells_used_ -= n; }
    };

    // -- trace and evaluation --

    // Called at every step: only a traced parse pays for more than the test.
    void trace(u32 symbols::*event, const cell& rules, u32 ri, u32 p) {
        if (callback_) call_tracer(syms().*event, rules, ri, p);
    }
    void call_tracer(u32 event, const cell& rules, u32 ri, u32 p) {
        cell* base = stack::top;
        cell fn = *callback_;
        stack::push_value(&fn);
        cell w = natives::plain_word(event);
        stack::push_value(&w);
        cell m;
        stack::push_value(init_logic(&m, last_));
        cell r = rules;
        r.w1 = std::min(ri, units_of(rules));
        stack::push_value(&r);
        cell i = input_at(std::min(p, length()));
        stack::push_value(&i);
        // A copy of the rule stack: the callback may change it freely.
        cell copy{type_id::block, 0, memory::new_cell_series(static_cast<u32>(frames_.size()) * 2), 0};
        cell* held = stack::push_value(&copy);
        for (const rule_frame& f : frames_) {
            *memory::append_cell_slot(held) = f.rules;
            cell n;
            *memory::append_cell_slot(held) = *init_integer(&n, static_cast<i32>(f.pos + 1));
        }
        cell name = natives::plain_word(syms().callback);
        interp::call_with_arguments(&fn, 5, &name);
        if (interp::pending) throw engine_stop{};
        bool go = is_truthy(base);
        stack::top = base;
        if (!go) throw engine_stop{};
    }

    // Evaluates a paren; its value is left at the returned data-stack cell (the caller drops it).
    cell* eval_paren(const cell& paren, const cell& rules, u32 ri, u32 p) {
        cell* base = stack::top;
        cell code = paren;
        interp::evaluate_block(&code, false);
        if (interp::pending) throw engine_stop{};
        stack::top = base + 1;
        trace(&symbols::ev_paren, rules, ri, p);
        return base;
    }

    cell word_value(const cell& word) {
        cell* v = natives::word_value_or_null(&word);
        if (!v || is_unset(v)) error::raise(err::E("script", "no-value"), &word);
        return *v;
    }

    // The input position a word refers to, when it is a position in the input series.
    bool position_word(const cell& item, u32& at) {
        if (!is(&item, type_id::word) || keyword_of(item) != kw::none_kw) return false;
        cell* v = natives::word_value_or_null(&item);
        if (!v || type_of(v) != type_of(&in_.series) || v->w2 != in_.series.w2) return false;
        at = std::min(v->w1, length());
        return true;
    }

    // -- literal matching --

    // The code points of a text rule (a tag with its angle brackets).
    const std::vector<u32>& text_of(const cell& v) {
        scratch_.clear();
        bool tag = is(&v, type_id::tag);
        if (tag) scratch_.push_back('<');
        series_buffer* b = buffer_of(v.w2);
        u32 unit = unit_of(b), n = used_units(b);
        const u8* base = head_ptr(b);
        for (u32 i = std::min(v.w1, n); i < n; i++)
            scratch_.push_back(text_units::read(base + i * unit, unit));
        if (tag) scratch_.push_back('>');
        return scratch_;
    }

    bool match_literal(const cell& rule, u32 p, u32& next) {
        u32 e = end();
        u32 t = type_of(&rule);
        switch (in_.kind) {
        case input_kind::cells: {
            if (p >= e) return false;
            cell want = rule;
            if (t == type_id::lit_word) cell_ops::write_type(&want, type_id::word);
            if (t == type_id::lit_path) cell_ops::write_type(&want, type_id::path);
            cell have = cell_at(p);
            if (!actions::compare(&have, &want,
                                  case_ ? actions::compare_op::strict_equal
                                        : actions::compare_op::find))
                return false;
            next = p + 1;
            return true;
        }
        case input_kind::text:
            if (t == type_id::char_) {
                if (p >= e || fold(unit_at(p)) != fold(rule.w2)) return false;
                next = p + 1;
                return true;
            }
            if (t == type_id::bitset) {
                if (p >= e || !bitset::has_bit(&rule, unit_at(p))) return false;
                next = p + 1;
                return true;
            }
            if (is_any_string_type(t)) {
                const std::vector<u32>& text = text_of(rule);
                if (e - std::min(p, e) < text.size()) return false;
                for (std::size_t k = 0; k < text.size(); k++)
                    if (fold(unit_at(p + static_cast<u32>(k))) != fold(text[k])) return false;
                next = p + static_cast<u32>(text.size());
                return true;
            }
            rule_error(rule);
        case input_kind::bytes:
            if (t == type_id::char_ || t == type_id::integer) {
                if (p >= e || unit_at(p) != rule.w2) return false;
                next = p + 1;
                return true;
            }
            if (t == type_id::bitset) {
                if (p >= e || !bitset::has_bit(&rule, unit_at(p))) return false;
                next = p + 1;
                return true;
            }
            if (t == type_id::binary || is_any_string_type(t)) {
                std::string bytes;
                if (t == type_id::binary) {
                    series_buffer* b = buffer_of(rule.w2);
                    u32 n = used_units(b), h = std::min(rule.w1, n);
                    bytes.assign(reinterpret_cast<const char*>(head_ptr(b)) + h, n - h);
                } else {
                    bytes = utf8::encode_string(&rule);
                    if (t == type_id::tag) bytes = "<" + bytes + ">";
                }
                if (e - std::min(p, e) < bytes.size()) return false;
                for (std::size_t k = 0; k < bytes.size(); k++)
                    if (unit_at(p + static_cast<u32>(k)) != static_cast<u8>(bytes[k])) return false;
                next = p + static_cast<u32>(bytes.size());
                return true;
            }
            rule_error(rule);
        }
        return false;
    }

    // A datatype! or typeset! rule.
    bool match_type(const cell& rule, u32 p, u32& next) {
        u32 e = end();
        if (in_.kind == input_kind::text) error::raise(err::E("script", "parse-unsupported"));
        auto wanted = [&](u32 t) {
            return is(&rule, type_id::datatype) ? rule.w1 == t : typeset_has(&rule, t);
        };
        if (p >= e) return false;
        if (in_.kind == input_kind::cells) {
            cell c = cell_at(p);
            if (!wanted(type_of(&c))) return false;
            next = p + 1;
            return true;
        }
        // Binary input: the lexer recognises the next token, which must be of the type.
        cell* base = stack::top;
        cell* source = stack::push_value(&in_.series);
        source->w1 = p;
        cell* out = init_unset(stack::reserve_slot());
        lexer::scan_options o;
        o.one_value = true;
        o.build = false;
        u32 consumed = 0;
        i32 found = lexer::transcode_binary(out, source, static_cast<i32>(e - p), o, &consumed);
        stack::top = base;
        if (found <= 0 || !wanted(static_cast<u32>(found)) || consumed == 0) return false;
        next = std::min(p + consumed, e);
        return true;
    }

    // A value used as a rule: a block is a sub-rule, a datatype or typeset matches by type, any
    // other value literally.
    bool match_value(const cell& v, u32& p) {
        u32 t = type_of(&v);
        u32 next = p;
        if (t == type_id::block) return match_block(v, p);
        if (t == type_id::datatype || t == type_id::typeset) {
            if (!match_type(v, p, next)) return false;
        } else if (!match_literal(v, p, next)) {
            return false;
        }
        p = next;
        return true;
    }

    // -- rule extent --

    // The index after the rule that starts at ri, found without running anything.
    u32 term_end(const cell& blk, u32 ri, u32 depth = 0) {
        cell item;
        if (!rule_at(blk, ri, item) || depth > 64) return ri + 1;
        if (is(&item, type_id::integer)) {
            cell second;
            if (rule_at(blk, ri + 1, second) && is(&second, type_id::integer))
                return term_end(blk, ri + 2, depth + 1);
            return term_end(blk, ri + 1, depth + 1);
        }
        cell next;
        u32 at = 0;
        switch (keyword_of(item)) {
        case kw::any:
        case kw::some:
        case kw::opt:
        case kw::while_:
        case kw::not_:
        case kw::ahead:
        case kw::to:
        case kw::thru:
        case kw::into:
            return term_end(blk, ri + 1, depth + 1);
        case kw::quote:
        case kw::if_:
            return ri + 2;
        case kw::set:
        case kw::copy:
        case kw::case_:
            return term_end(blk, ri + 2, depth + 1);
        case kw::collect:
            if (rule_at(blk, ri + 1, next) &&
                (keyword_of(next) == kw::set || keyword_of(next) == kw::into ||
                 is_word_named(next, syms().after)))
                return term_end(blk, ri + 3, depth + 1);
            return term_end(blk, ri + 1, depth + 1);
        case kw::keep:
            if (rule_at(blk, ri + 1, next) && is_word_named(next, syms().pick))
                return term_end(blk, ri + 2, depth + 1);
            return term_end(blk, ri + 1, depth + 1);
        case kw::insert: {
            u32 i = ri + 1;
            if (rule_at(blk, i, next) && is_word_named(next, syms().only)) i++;
            cell after;
            if (rule_at(blk, i, next) && position_word(next, at) && rule_at(blk, i + 1, after)) i++;
            return i + 1;
        }
        case kw::change: {
            u32 i = ri + 1;
            if (rule_at(blk, i, next) && is_word_named(next, syms().only)) i++;
            if (rule_at(blk, i, next) && position_word(next, at)) i++;
            else i = term_end(blk, i, depth + 1);
            return i + 1;
        }
        case kw::remove:
            if (rule_at(blk, ri + 1, next) && position_word(next, at)) return ri + 2;
            return term_end(blk, ri + 1, depth + 1);
        default:
            return ri + 1;
        }
    }

    // -- blocks and alternatives --

    bool match_block(const cell& blk, u32& pos) {
        depth_guard guard(*this, 2);
        for (const rule_frame& f : frames_)
            if (f.rules.w2 == blk.w2 && f.rules.w1 == blk.w1 && f.pos == pos &&
                f.input_node == in_.series.w2)
                error::raise(err::E("script", "parse-infinite"), &blk);
        cell* base = stack::top;
        stack::push_value(&blk); // keeps the block alive if a paren drops every other reference
        // The rules block itself is no sub-rule: the trace starts with its first fetch.
        bool sub = !frames_.empty();
        frames_.push_back({blk, in_.series.w2, pos});
        if (sub) trace(&symbols::ev_push, blk, blk.w1, pos);
        bool ok = alternatives(blk, pos);
        frames_.pop_back();
        stack::top = base;
        if (sub) trace(&symbols::ev_pop, blk, blk.w1, pos);
        return ok;
    }

    bool alternatives(const cell& blk, u32& pos) {
        u32 ri = blk.w1;
        u32 p = pos;
        for (;;) {
            cell item;
            if (!rule_at(blk, ri, item) || keyword_of(item) == kw::bar) {
                pos = p;
                return true;
            }
            bool ok = match_term(blk, ri, p);
            if (brk_) {
                if (brk_ == 1) pos = p;
                return brk_ == 1;
            }
            if (ok) continue;
            // The next alternative, from the block's entry position.
            for (;;) {
                if (!rule_at(blk, ri, item)) return false;
                if (keyword_of(item) == kw::bar) break;
                ri = term_end(blk, ri);
            }
            ri++;
            p = pos;
        }
    }

    // -- one rule --

    // Matches the rule at ri from p. ri always moves past the whole rule (matched or not); p moves
    // only on success.
    bool match_term(const cell& blk, u32& ri, u32& p) {
        cell item;
        if (!rule_at(blk, ri, item)) return true;
        trace(&symbols::ev_fetch, blk, ri, p);
        bool ok = term(blk, ri, p, item);
        last_ = ok;
        trace(&symbols::ev_match, blk, ri, p);
        return ok;
    }

    bool term(const cell& blk, u32& ri, u32& p, const cell& item) {
        u32 t = type_of(&item);
        switch (t) {
        case type_id::word: {
            kw k = keyword_of(item);
            if (k != kw::none_kw) return keyword(blk, ri, p, item, k);
            cell v = word_value(item);
            ri++;
            return match_value(v, p);
        }
        case type_id::set_word: {
            ri++;
            cell* held = stack::push_value(&in_.series);
            held->w1 = p;
            natives::set_word(&item, held);
            stack::top = held;
            return true;
        }
        case type_id::get_word: {
            ri++;
            cell v = word_value(item);
            if (type_of(&v) != type_of(&in_.series) || v.w2 != in_.series.w2)
                error::raise(err::E("script", "parse-invalid-ref"), &item);
            p = std::min(v.w1, length());
            return true;
        }
        case type_id::block:
            ri++;
            return match_block(item, p);
        case type_id::paren: {
            ri++;
            cell* v = eval_paren(item, blk, ri, p);
            stack::top = v;
            return true;
        }
        case type_id::integer:
            return counted(blk, ri, p, item);
        case type_id::path:
        case type_id::set_path:
        case type_id::get_path:
            rule_error(item);
        default: {
            ri++;
            return match_value(item, p);
        }
        }
    }

    // The value item of insert and change: a paren's result, a word's value or the item itself.
    // It is left on the data stack (the caller drops it).
    cell* value_item(const cell& blk, u32& ri, u32 p, const cell& keyword_item) {
        cell item;
        if (!rule_at(blk, ri, item)) end_error(keyword_item);
        ri++;
        if (is(&item, type_id::paren)) return eval_paren(item, blk, ri, p);
        if (is_any_path_type(type_of(&item)) && !is(&item, type_id::lit_path)) rule_error(item);
        if (is(&item, type_id::word)) {
            cell v = word_value(item);
            return stack::push_value(&v);
        }
        return stack::push_value(&item);
    }

    // The rule after a keyword: must exist.
    void need(const cell& blk, u32 ri, const cell& keyword_item) {
        cell item;
        if (!rule_at(blk, ri, item) || keyword_of(item) == kw::bar) end_error(keyword_item);
    }

    bool keyword(const cell& blk, u32& ri, u32& p, const cell& item, kw k) {
        u32 e = end();
        switch (k) {
        case kw::bar: // reached only as the rule of a keyword
            ri++;
            return true;
        case kw::skip:
            ri++;
            if (p >= e) return false;
            p++;
            return true;
        case kw::end:
            ri++;
            return p >= e;
        case kw::none:
            ri++;
            return true;
        case kw::fail:
            ri++;
            return false;
        case kw::break_:
            ri++;
            brk_ = 1;
            return true;
        case kw::reject:
            ri++;
            brk_ = 2;
            return false;
        case kw::any:
            return iterate(blk, ri, p, item, 0, -1, false);
        case kw::some:
            return iterate(blk, ri, p, item, 1, -1, false);
        case kw::opt:
            return iterate(blk, ri, p, item, 0, 1, false);
        case kw::while_:
            return iterate(blk, ri, p, item, 0, -1, true);
        case kw::not_:
        case kw::ahead: {
            ri++;
            need(blk, ri, item);
            depth_guard guard(*this, 3);
            u32 q = p;
            bool ok = match_term(blk, ri, q);
            return k == kw::ahead ? ok : !ok;
        }
        case kw::to:
        case kw::thru:
            return to_thru(blk, ri, p, item, k == kw::thru);
        case kw::quote: {
            cell v;
            if (!rule_at(blk, ri + 1, v)) end_error(item);
            ri += 2;
            u32 next = p;
            if (!match_literal(v, p, next)) return false;
            p = next;
            return true;
        }
        case kw::set:
        case kw::copy:
            return set_copy(blk, ri, p, item, k == kw::copy);
        case kw::into:
            return into(blk, ri, p, item);
        case kw::collect:
            return collect(blk, ri, p, item);
        case kw::keep:
            return keep(blk, ri, p, item);
        case kw::insert:
            return insert(blk, ri, p, item);
        case kw::change:
            return change(blk, ri, p, item);
        case kw::remove:
            return remove(blk, ri, p, item);
        case kw::if_: {
            cell code;
            if (!rule_at(blk, ri + 1, code)) end_error(item);
            if (!is(&code, type_id::paren)) rule_error(code);
            ri += 2;
            cell* v = eval_paren(code, blk, ri, p);
            bool ok = is_truthy(v);
            stack::top = v;
            return ok;
        }
        case kw::case_: {
            cell word;
            if (!rule_at(blk, ri + 1, word)) end_error(item);
            if (!is_any_word_type(type_of(&word))) rule_error(word);
            ri += 2;
            need(blk, ri, item);
            bool saved = case_;
            case_ = is_truthy(&(word = word_value(word)));
            depth_guard guard(*this, 3);
            bool ok;
            try {
                ok = match_term(blk, ri, p);
            } catch (...) {
                case_ = saved;
                throw;
            }
            case_ = saved;
            return ok;
        }
        default:
            rule_error(item);
        }
    }

    // -- repetition --

    // A rule that the repetition loop may test directly: a literal whose match needs no engine.
    bool simple_literal(const cell& item, cell& v) {
        v = item;
        if (is(&item, type_id::word)) {
            if (keyword_of(item) != kw::none_kw) return false;
            cell* w = natives::word_value_or_null(&item);
            if (!w) return false;
            v = *w;
        }
        u32 t = type_of(&v);
        if (in_.kind == input_kind::text)
            return t == type_id::char_ || t == type_id::bitset || is_any_string_type(t);
        if (in_.kind == input_kind::bytes)
            return t == type_id::char_ || t == type_id::bitset || t == type_id::binary ||
                   is_any_string_type(t);
        switch (t) {
        case type_id::word:
        case type_id::block:
        case type_id::paren:
        case type_id::datatype:
        case type_id::typeset:
        case type_id::set_word:
        case type_id::get_word:
        case type_id::integer:
        case type_id::path:
        case type_id::set_path:
        case type_id::get_path:
        case type_id::unset:
            return false;
        default:
            return true;
        }
    }

    bool counted(const cell& blk, u32& ri, u32& p, const cell& first) {
        i32 min = int_of(&first);
        if (min < 0) rule_error(first);
        i32 max = min;
        cell second;
        u32 at = ri + 1;
        if (rule_at(blk, at, second) && is(&second, type_id::integer)) {
            max = int_of(&second);
            if (max < min) rule_error(second);
            at++;
        }
        ri = at - 1;
        return iterate(blk, ri, p, first, min, max, false);
    }

    // ri is at the keyword (or the last count); the rule repeated follows it.
    bool iterate(const cell& blk, u32& ri, u32& p, const cell& keyword_item, i32 min, i32 max,
                 bool while_) {
        u32 sub = ri + 1;
        need(blk, sub, keyword_item);
        u32 after = term_end(blk, sub);
        cell item, v;
        rule_at(blk, sub, item);
        if (!callback_ && simple_literal(item, v)) {
            ri = after;
            return literal_loop(v, p, min, max, while_, blk);
        }
        depth_guard guard(*this, 3);
        trace(&symbols::ev_push, blk, sub, p);
        i32 count = 0;
        u32 q = p;
        bool ok;
        for (;;) {
            if (max >= 0 && count >= max) {
                ok = true;
                break;
            }
            u32 r = sub, next = q, changes = changes_;
            bool pass = match_term(blk, r, next);
            if (brk_) {
                ok = brk_ == 1;
                if (ok) q = next;
                brk_ = 0;
                break;
            }
            if (!pass) {
                ok = count >= min;
                break;
            }
            count++;
            bool progressed = next != q || changes != changes_;
            q = next;
            // Without a maximum, a pass that moved nothing would repeat for ever.
            if (!progressed && !while_ && max < 0) {
                ok = count >= min;
                break;
            }
            runtime::check_interrupt();
            trace(&symbols::ev_iterate, blk, sub, q);
        }
        trace(&symbols::ev_pop, blk, sub, q);
        ri = after;
        if (ok) p = q;
        return ok;
    }

    bool literal_loop(const cell& v, u32& p, i32 min, i32 max, bool while_, const cell& blk) {
        i32 count = 0;
        u32 q = p;
        if (in_.kind == input_kind::text && is(&v, type_id::bitset)) {
            // The common case of a charset over text, without a call per character.
            u32 e = end();
            series_buffer* b = buffer_of(in_.series.w2);
            u32 unit = unit_of(b);
            const u8* base = head_ptr(b);
            series_buffer* bits = buffer_of(v.w2);
            const u8* set = head_ptr(bits);
            u32 set_bits = used_bytes(bits) * 8;
            bool negated = bitset::is_negated(&v);
            while ((max < 0 || count < max) && q < e) {
                u32 cp = text_units::read(base + u64(q) * unit, unit);
                bool member = cp < set_bits ? (set[cp >> 3] & (0x80u >> (cp & 7))) != 0 : negated;
                if (!member) break;
                q++;
                count++;
            }
        } else {
            while (max < 0 || count < max) {
                u32 next = q;
                if (!match_literal(v, q, next)) break;
                count++;
                if (next == q) {
                    // A literal that matches nothing can never progress: a count is reached at
                    // once, any and some stop, while could only loop for ever.
                    if (while_) error::raise(err::E("script", "parse-infinite"), &blk);
                    if (max >= 0) count = max;
                    break;
                }
                q = next;
            }
        }
        if (count < min) return false;
        p = q;
        return true;
    }

    // -- to and thru --

    bool to_thru(const cell& blk, u32& ri, u32& p, const cell& keyword_item, bool thru) {
        u32 sub = ri + 1;
        need(blk, sub, keyword_item);
        cell item, v;
        rule_at(blk, sub, item);
        u32 after = term_end(blk, sub);
        ri = after;
        if (keyword_of(item) == kw::end) {
            p = end();
            return true;
        }
        depth_guard guard(*this, 3);
        if (simple_literal(item, v)) {
            for (u32 q = p; q < end(); q++) {
                u32 next = q;
                if (match_literal(v, q, next)) {
                    p = thru ? next : q;
                    return true;
                }
            }
            return false;
        }
        for (u32 q = p; q <= end(); q++) {
            u32 r = sub, next = q;
            bool ok = match_term(blk, r, next);
            if (brk_) return false;
            if (ok) {
                p = thru ? next : q;
                return true;
            }
            runtime::check_interrupt();
        }
        return false;
    }

    // -- copy and set --

    // Pushes a copy of the input from `from` to `to` (same type as the input).
    cell* push_copy(u32 from, u32 to) {
        cell* slot = stack::push_value(&in_.series);
        slot->w1 = from;
        cell part;
        cell* part_slot = stack::push_value(init_integer(&part, static_cast<i32>(to - from)));
        cell* out = init_unset(stack::reserve_slot());
        cell* r = actions::handler_of_value<act::slot::copy>(slot)(slot, out, part_slot, false,
                                                                   nullptr);
        *slot = *r;
        stack::top = slot + 1;
        return slot;
    }

    bool set_copy(const cell& blk, u32& ri, u32& p, const cell& keyword_item, bool copy) {
        cell word;
        if (!rule_at(blk, ri + 1, word)) end_error(keyword_item);
        if (!is_any_word_type(type_of(&word))) rule_error(word);
        ri += 2;
        need(blk, ri, keyword_item);
        depth_guard guard(*this, 3);
        u32 q = p;
        if (!match_term(blk, ri, q)) return false;
        cell* base = stack::top;
        cell* value;
        if (copy) {
            value = push_copy(p, std::max(p, std::min(q, length())));
        } else {
            cell v;
            if (q > p && p < length()) v = element_at(p);
            else init_none(&v);
            value = stack::push_value(&v);
        }
        natives::set_word(&word, value);
        stack::top = base;
        p = q;
        return true;
    }

    // -- into --

    bool into(const cell& blk, u32& ri, u32& p, const cell& keyword_item) {
        cell rule;
        if (!rule_at(blk, ri + 1, rule)) end_error(keyword_item);
        ri += 2;
        cell sub = rule;
        if (is(&rule, type_id::word) && keyword_of(rule) == kw::none_kw) sub = word_value(rule);
        if (!is(&sub, type_id::block)) rule_error(rule);
        if (in_.kind != input_kind::cells || p >= end()) return false;
        cell element = cell_at(p);
        u32 t = type_of(&element);
        if (!is_any_block_type(t) && !is_any_string_type(t) && t != type_id::binary) return false;
        depth_guard guard(*this, 3);
        cell* base = stack::top;
        stack::push_value(&element);
        input_state saved = in_;
        in_.series = element;
        in_.kind = kind_of_type(t);
        in_.limit = -1;
        u32 q = series::clamped_head(&element);
        bool ok;
        try {
            ok = match_block(sub, q) && q == end();
        } catch (...) {
            in_ = saved;
            throw;
        }
        in_ = saved;
        stack::top = base;
        if (ok) p++;
        return ok;
    }

    // -- collect and keep --

    bool collect(const cell& blk, u32& ri, u32& p, const cell& keyword_item) {
        cell option, word;
        u8 mode = 0; // 0 plain, 1 into, 2 after, 3 set
        u32 i = ri + 1;
        if (rule_at(blk, i, option)) {
            if (keyword_of(option) == kw::set) mode = 3;
            else if (keyword_of(option) == kw::into) mode = 1;
            else if (is_word_named(option, syms().after)) mode = 2;
        }
        if (mode) {
            if (!rule_at(blk, i + 1, word)) end_error(keyword_item);
            if (!is_any_word_type(type_of(&word))) rule_error(word);
            i += 2;
        }
        need(blk, i, keyword_item);
        ri = i;
        depth_guard guard(*this, 3);
        cell* base = stack::top;
        collect_level level{nullptr, 0, 0};
        if (mode == 1 || mode == 2) {
            cell target = word_value(word);
            u32 tt = type_of(&target);
            if (!series::is_series_type(tt) || tt == type_id::vector || tt == type_id::image)
                error::raise(err::E("script", "parse-into-bad"), &target);
            if (!is_any_block_type(tt) && in_.kind == input_kind::cells)
                error::raise(err::E("script", "parse-into-type"), &target);
            level.target = stack::push_value(&target);
            level.mode = mode;
            level.at = series::clamped_head(&target);
        } else {
            cell made{type_id::block, 0, memory::new_cell_series(8), 0};
            level.target = stack::push_value(&made);
        }
        collects_.push_back(level);
        bool ok;
        try {
            ok = match_term(blk, ri, p);
        } catch (...) {
            collects_.pop_back();
            throw;
        }
        level = collects_.back();
        collects_.pop_back();
        if (mode == 3) {
            natives::set_word(&word, level.target);
        } else if (mode == 2) {
            cell moved = *level.target;
            moved.w1 = level.at;
            cell* held = stack::push_value(&moved);
            natives::set_word(&word, held);
        } else if (mode == 0) {
            if (!collects_.empty()) {
                put_kept(level.target, false);
            } else {
                *result_slot_ = *level.target;
                top_collect_ = true;
            }
        }
        stack::top = base;
        return ok;
    }

    // Puts one value (on the data stack) into the innermost collect target.
    void put_kept(cell* value, bool splice) {
        collect_level& c = collects_.back();
        if (c.mode == 0) {
            if (splice && is_any_block_type(type_of(value))) {
                u32 n = units_of(*value);
                for (u32 i = series::clamped_head(value); i < n && i < units_of(*value); i++) {
                    cell element = head_cell(buffer_of(value->w2))[i];
                    *memory::append_cell_slot(c.target) = element;
                }
            } else {
                cell v = *value;
                *memory::append_cell_slot(c.target) = v;
            }
            return;
        }
        cell* slot = stack::push_value(c.target);
        u32 before = units_of(*slot);
        slot->w1 = std::min(c.at, before);
        bool only = !splice && is_any_block_type(type_of(slot));
        actions::handler_of_value<act::slot::insert>(slot)(slot, value, -1, only, 1, false);
        c.at += units_of(*c.target) - before;
        stack::top = slot;
    }

    bool keep(const cell& blk, u32& ri, u32& p, const cell& keyword_item) {
        if (collects_.empty()) error::raise(err::E("script", "parse-keep"), &keyword_item);
        cell next;
        bool pick = rule_at(blk, ri + 1, next) && is_word_named(next, syms().pick);
        ri += pick ? 2 : 1;
        need(blk, ri, keyword_item);
        cell item{};
        rule_at(blk, ri, item);
        cell* base = stack::top;
        if (is(&item, type_id::paren)) {
            ri++;
            cell* v = eval_paren(item, blk, ri, p);
            put_kept(v, pick);
            stack::top = base;
            return true;
        }
        depth_guard guard(*this, 3);
        u32 q = p;
        if (!match_term(blk, ri, q)) return false;
        u32 to = std::min(q, length());
        if (pick) {
            for (u32 i = p; i < to; i++) {
                if (i >= std::min(q, length())) break;
                cell v = element_at(i);
                put_kept(stack::push_value(&v), false);
                stack::top = base;
            }
        } else if (to == p + 1) {
            cell v = element_at(p);
            put_kept(stack::push_value(&v), false);
        } else if (to > p + 1) {
            put_kept(push_copy(p, to), false);
        }
        stack::top = base;
        p = q;
        return true;
    }

    // -- insert, change, remove --

    bool insert(const cell& blk, u32& ri, u32& p, const cell& keyword_item) {
        cell item;
        u32 i = ri + 1;
        bool only = rule_at(blk, i, item) && is_word_named(item, syms().only);
        if (only) i++;
        if (!rule_at(blk, i, item)) end_error(keyword_item);
        u32 at = p;
        cell after;
        bool positioned = position_word(item, at) && rule_at(blk, i + 1, after);
        if (positioned) i++;
        else at = p;
        ri = i;
        cell* base = stack::top;
        cell* value = value_item(blk, ri, p, keyword_item);
        cell* slot = stack::push_value(&in_.series);
        u32 before = length();
        slot->w1 = std::min(at, before);
        actions::handler_of_value<act::slot::insert>(slot)(slot, value, -1, only, 1, false);
        i64 added = i64(length()) - i64(before);
        stack::top = base;
        changes_++;
        adjust_limit(added);
        if (at <= p) p = static_cast<u32>(std::max<i64>(0, i64(p) + added));
        return true;
    }

    bool change(const cell& blk, u32& ri, u32& p, const cell& keyword_item) {
        cell item;
        u32 i = ri + 1;
        bool only = rule_at(blk, i, item) && is_word_named(item, syms().only);
        if (only) i++;
        if (!rule_at(blk, i, item)) end_error(keyword_item);
        u32 from = p, to = p;
        if (position_word(item, to)) {
            i++;
        } else {
            depth_guard guard(*this, 3);
            u32 q = p;
            bool ok = match_term(blk, i, q);
            if (!ok) {
                ri = i + 1;
                return false;
            }
            to = q;
        }
        if (to < from) std::swap(from, to);
        ri = i;
        cell* base = stack::top;
        cell* value = value_item(blk, ri, p, keyword_item);
        cell* slot = stack::push_value(&in_.series);
        u32 before = length();
        from = std::min(from, before);
        to = std::min(to, before);
        slot->w1 = from;
        actions::handler_of_value<act::slot::change>(slot)(slot, value,
                                                           static_cast<i32>(to - from), only, 1);
        u32 next = std::min(slot->w1, length());
        stack::top = base;
        changes_++;
        adjust_limit(i64(length()) - i64(before));
        p = next;
        return true;
    }

    bool remove(const cell& blk, u32& ri, u32& p, const cell& keyword_item) {
        cell item;
        if (!rule_at(blk, ri + 1, item)) end_error(keyword_item);
        u32 from = p, to = p;
        if (position_word(item, to)) {
            ri += 2;
        } else {
            ri++;
            depth_guard guard(*this, 3);
            u32 q = p;
            if (!match_term(blk, ri, q)) return false;
            to = q;
        }
        if (to < from) std::swap(from, to);
        u32 before = length();
        from = std::min(from, before);
        to = std::min(to, before);
        cell* base = stack::top;
        cell* slot = stack::push_value(&in_.series);
        slot->w1 = from;
        cell part;
        cell* part_slot = stack::push_value(init_integer(&part, static_cast<i32>(to - from)));
        actions::handler_of_value<act::slot::remove>(slot)(slot, part_slot, nullptr);
        stack::top = base;
        changes_++;
        adjust_limit(i64(length()) - i64(before));
        p = from;
        return true;
    }
};

} // namespace

void native(const i32* refinements) {
    using stack::arg;
    cell* input = arg(0);
    cell rules = *arg(1);
    bool case_ = refinements[0] >= 0;
    const cell* callback = refinements[2] >= 0 ? arg(static_cast<u32>(refinements[2])) : nullptr;
    u32 length = units_of(*input);
    u32 start = series::clamped_head(input);
    i32 limit = -1;
    if (refinements[1] >= 0) {
        const cell* part = arg(static_cast<u32>(refinements[1]));
        i64 stop;
        if (is(part, type_id::integer)) {
            stop = i64(start) + int_of(part);
        } else if (is(part, type_id::float_)) {
            stop = i64(start) + static_cast<i64>(std::clamp(float_of(part), -4e9, 4e9));
        } else if (type_of(part) == type_of(input) && part->w2 == input->w2) {
            stop = part->w1;
        } else {
            series::raise_refine_arg("part", part);
        }
        if (stop <= i64(start)) {
            cell r;
            stack::set_single_result(init_logic(&r, start >= length));
            return;
        }
        // Clamped to the input: a limit past the tail means the tail.
        limit = static_cast<i32>(std::min<i64>(stop, length));
    }
    cell* result_slot = init_none(stack::reserve_slot());
    engine e(*input, limit, case_, callback, result_slot);
    cell* base = stack::top;
    bool ok;
    try {
        ok = e.run(rules, start);
    } catch (const engine_stop&) {
        stack::top = base;
        if (interp::pending) {
            stack::keep_result_only();
            return;
        }
        ok = e.last_match();
    }
    cell r;
    if (e.collected()) r = *result_slot;
    else init_logic(&r, ok);
    stack::set_single_result(&r);
}

} // namespace zel::parse
