// Evaluating source text in tests.
#include "tests/unit/evaluator/eval_fixture.hpp"

#include <cstdlib>
#include <string>
#include <utility>

#include "datatypes/context.hpp"
#include "datatypes/native.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/word.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/load_text.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cycle_stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"

namespace zel::test {

namespace {

// A reader for the small subset of the source syntax the tests use, standing in for the lexer
// until it is part of the build: integers, decimals, strings, words of every kind, paths, blocks
// and parens.
class reader {
  public:
    explicit reader(std::string_view text) : text_(text) {}

    cell read_block(char close, u32 type) {
        cell b{type, 0, memory::new_cell_series(8), 0};
        cell* holder = stack::push_value(&b);
        for (;;) {
            skip_space();
            if (pos_ >= text_.size()) {
                if (close) fail("missing close");
                break;
            }
            char c = text_[pos_];
            if (c == close) {
                pos_++;
                break;
            }
            // The value stays on the stack while the block grows: growing may collect.
            cell* v = stack::push_value(&none_value);
            *v = read_value();
            cell copy = *v;
            *memory::append_cell_slot(holder) = copy;
            stack::drop_values(1);
        }
        b = *holder;
        stack::drop_values(1);
        return b;
    }

    bool failed = false;

  private:
    static constexpr cell none_value{type_id::none, 0, 0, 0};
    std::string_view text_;
    size_t pos_ = 0;

    void fail(const char* why) {
        failed = true;
        ADD_FAILURE() << "test reader: " << why << " in: " << text_;
        pos_ = text_.size();
    }

    void skip_space() {
        while (pos_ < text_.size()) {
            char c = text_[pos_];
            if (c == ';') {
                while (pos_ < text_.size() && text_[pos_] != '\n') pos_++;
            } else if (c == ' ' || c == '\n' || c == '\t' || c == '\r') {
                pos_++;
            } else {
                break;
            }
        }
    }

    static bool delimiter(char c) {
        return c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '[' || c == ']' ||
               c == '(' || c == ')' || c == '"' || c == ';';
    }

    cell read_value() {
        char c = text_[pos_];
        if (c == '[') {
            pos_++;
            return read_block(']', type_id::block);
        }
        if (c == '(') {
            pos_++;
            return read_block(')', type_id::paren);
        }
        if (c == '"') return read_string();
        size_t start = pos_;
        while (pos_ < text_.size() && !delimiter(text_[pos_])) pos_++;
        return token(text_.substr(start, pos_ - start));
    }

    cell read_string() {
        pos_++;
        std::string s;
        while (pos_ < text_.size() && text_[pos_] != '"') s += text_[pos_++];
        pos_++;
        cell out;
        string::decode_buffer(reinterpret_cast<const u8*>(s.data()), static_cast<u32>(s.size()),
                              &out, string::encoding_utf8);
        return out;
    }

    static bool is_number(std::string_view t) {
        size_t i = (t[0] == '-' || t[0] == '+') ? 1 : 0;
        if (i >= t.size() || !std::isdigit(static_cast<unsigned char>(t[i]))) return false;
        for (; i < t.size(); i++)
            if (!std::isdigit(static_cast<unsigned char>(t[i])) && t[i] != '.' && t[i] != 'e' &&
                t[i] != 'E' && t[i] != '-')
                return false;
        return true;
    }

    static cell word_of(std::string_view t, u32 type) {
        cell w = word::intern_literal(t);
        cell_ops::write_type(&w, type);
        return w;
    }

    static cell element(std::string_view t) {
        if (is_number(t)) return number(t);
        if (t[0] == ':') return word_of(t.substr(1), type_id::get_word);
        return word_of(t, type_id::word);
    }

    static cell number(std::string_view t) {
        std::string s(t);
        cell v;
        if (s.find_first_of(".eE") != std::string::npos)
            init_float(&v, std::strtod(s.c_str(), nullptr));
        else
            init_integer(&v, static_cast<i32>(std::strtol(s.c_str(), nullptr, 10)));
        return v;
    }

    cell token(std::string_view t) {
        if (is_number(t)) return number(t);
        if (t.size() > 1 && t[0] == '/') {
            cell r = word::refinement_from_literal(t.substr(1));
            return r;
        }
        u32 type = type_id::word;
        if (t.size() > 1 && t.back() == ':') {
            type = type_id::set_word;
            t.remove_suffix(1);
        } else if (t.size() > 1 && t[0] == ':') {
            type = type_id::get_word;
            t.remove_prefix(1);
        } else if (t.size() > 1 && t[0] == '\'') {
            type = type_id::lit_word;
            t.remove_prefix(1);
        }
        size_t slash = t.find('/', 1);
        if (slash == std::string_view::npos || t.size() == 1) return word_of(t, type);
        u32 path_type = type == type_id::set_word   ? type_id::set_path
                        : type == type_id::get_word ? type_id::get_path
                        : type == type_id::lit_word ? type_id::lit_path
                                                    : type_id::path;
        cell p{path_type, 0, memory::new_cell_series(4), 0};
        cell* holder = stack::push_value(&p);
        size_t from = 0;
        for (;;) {
            size_t to = t.find('/', from);
            std::string_view part =
                t.substr(from, to == std::string_view::npos ? t.npos : to - from);
            *memory::append_cell_slot(holder) =
                from == 0 ? word_of(part, type_id::word) : element(part);
            if (to == std::string_view::npos) break;
            from = to + 1;
        }
        p = *holder;
        stack::drop_values(1);
        return p;
    }
};

// A spec text is one block: its value.
cell read_spec(std::string_view text);

cell read_text(std::string_view text) {
    cell out;
    if (load_text::block_from_text(text, &out)) return out;
    reader r(text);
    return r.read_block(0, type_id::block);
}

cell read_spec(std::string_view text) {
    cell loaded = read_text(text);
    series_buffer* b = buffer_of(loaded.w2);
    if (used_units(b) == 1 && type_of(head_cell(b)) == type_id::block) return *head_cell(b);
    return loaded;
}

// Binds the natives and actions to their words when the start-up could not (it loads their
// specs as text), and defines the words the tests lean on.
void bind_once() {
    static bool bound = false;
    if (bound) return;
    bound = true;
    cell probe = word::intern_literal("if");
    if (type_of(context::word_value_address(&probe)) == type_id::native) return;
    for (u32 slot = 1; slot <= natives::count(); slot++) {
        const natives::definition* d = natives::definition_of(slot);
        cell spec = read_spec(d->spec);
        cell* holder = stack::push_value(&spec);
        native_value::make_callable(type_id::native, slot - 1, holder);
        cell word = context::global_word(symbol::intern_text(d->name));
        context::set_word_value(&word, stack::top_value());
        stack::top = holder;
    }
    for (u32 slot = 1; slot <= 62; slot++) {
        if (!actions::entry(slot)) continue;
        cell spec = read_spec(actions::spec_of(slot));
        cell* holder = stack::push_value(&spec);
        native_value::make_callable(type_id::action, slot - 1, holder);
        cell word = context::global_word(symbol::intern_text(actions::name_of(slot)));
        context::set_word_value(&word, stack::top_value());
        stack::top = holder;
    }
    const std::pair<const char*, cell> constants[] = {
        {"true", cell{type_id::logic, 1, 0, 0}},
        {"false", cell{type_id::logic, 0, 0, 0}},
        {"none", cell{type_id::none, 0, 0, 0}},
    };
    for (const auto& [name, value] : constants) {
        cell word = word::intern_literal(name);
        context::set_word_value(&word, &value);
    }
    for (u32 t = 1; t <= datatype::max_type_id(); t++) {
        const cell* word = datatype::word_of(t);
        // series! names a typeset in the language, not one datatype.
        if (!word || t == type_id::series) continue;
        cell w = *word, type;
        init_datatype(&type, t);
        context::set_word_value(&w, &type);
    }
}

struct op_definition {
    const char* name;
    const char* source;
};
const op_definition operators[] = {
    {"+", "add"},
    {"-", "subtract"},
    {"*", "multiply"},
    {"=", "equal?"},
    {"<>", "not-equal?"},
    {"==", "strict-equal?"},
    {"<", "lesser?"},
    {">", "greater?"},
    {"<=", "lesser-or-equal?"},
    {">=", "greater-or-equal?"},
    {"//", "remainder"},
};

void define_operators() {
    static bool defined = false;
    if (defined) return;
    defined = true;
    for (const op_definition& d : operators) {
        cell source = word::intern_literal(d.source);
        cell* fn = context::word_value_address(&source);
        cell op_type;
        init_datatype(&op_type, type_id::op);
        cell* proto = stack::push_value(&op_type);
        stack::push_value(fn);
        auto make = act::handler<act::slot::make>(type_id::op);
        cell* made = make(proto, proto + 1, type_id::op);
        cell word = word::intern_literal(d.name);
        context::set_word_value(&word, made);
        stack::top = proto;
    }
}

outcome evaluate(const cell& block) {
    outcome o;
    cell* base = stack::top;
    stack::mark mark = stack::save();
    u32 depth = cycle_stack::depth();
    try {
        cell* slot = stack::push_value(&block);
        interp::evaluate_block(slot, false);
        o.value = stack::top[-1];
        o.pending = interp::pending;
    } catch (const unwind& u) {
        stack::restore(mark);
        if (cycle_stack::depth() > depth) cycle_stack::drop_nodes(cycle_stack::depth() - depth);
        o.raised = u.code == throw_code::error;
        o.error_code = error::last_code();
    }
    interp::pending = 0;
    stack::top = base;
    return o;
}

} // namespace

cell load(std::string_view text) {
    bind_once();
    return read_text(text);
}

outcome run(std::string_view text) {
    static bool ready = false;
    if (!ready) {
        ready = true;
        bind_once();
        define_operators();
    }
    cell block = read_text(text);
    return evaluate(block);
}

std::string mold(const cell* value) {
    // The value first: making the buffer may collect.
    cell* base = stack::top;
    cell* held = stack::push_value(value);
    cell buffer;
    string::init_cell_bytes(&buffer, 16);
    cell* out = stack::push_value(&buffer);
    actions::mold_typed(held, out, false, false, false, nullptr, 1 << 30, 0);
    std::string text = utf8::encode_string(out);
    stack::top = base;
    return text;
}

::testing::AssertionResult gives(std::string_view text, std::string_view molded) {
    outcome o = run(text);
    if (o.raised) return ::testing::AssertionFailure() << text << " raised error " << o.error_code;
    if (o.pending)
        return ::testing::AssertionFailure() << text << " left exit " << std::hex << o.pending;
    std::string got = mold(&o.value);
    if (got != molded)
        return ::testing::AssertionFailure() << text << " gave " << got << ", wanted " << molded;
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult gives_type(std::string_view text, u32 type) {
    outcome o = run(text);
    if (o.raised) return ::testing::AssertionFailure() << text << " raised error " << o.error_code;
    if (type_of(&o.value) != type)
        return ::testing::AssertionFailure() << text << " gave type " << type_of(&o.value);
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult raises(std::string_view text, err::id id) {
    outcome o = run(text);
    if (!o.raised) return ::testing::AssertionFailure() << text << " raised nothing";
    if (o.error_code != id.code())
        return ::testing::AssertionFailure()
               << text << " raised " << o.error_code << ", wanted " << id.code();
    return ::testing::AssertionSuccess();
}

} // namespace zel::test
