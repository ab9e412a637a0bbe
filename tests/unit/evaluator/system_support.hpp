// Helpers of the system natives' tests: evaluating source text, molding and forming values,
// capturing printed text through a value hook, and running Python.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "datatypes/text_out.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/load_text.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/errors.hpp"
#include "runtime/print_hooks.hpp"
#include "runtime/unicode.hpp"

namespace zel::test {

// The value of the last expression of the source, or an error's code in `error`.
struct evaluation {
    gc::rooted_cell value;
    u32 error = 0;
};

inline void evaluate(const char* source, evaluation& e) {
    cell code;
    ASSERT_TRUE(load_text::block_from_text(source, &code)) << source;
    cell* holder = stack::push_value(&code);
    stack::mark m = stack::save();
    try {
        interp::evaluate_block(holder, false);
        e.value.value = *(stack::top - 1);
    } catch (const unwind&) {
        stack::restore(m);
        e.error = error::last_code();
    }
    stack::top = holder;
}

inline std::string text_of(cell value, bool mold) {
    cell* v = stack::push_value(&value);
    cell out;
    out::new_string(&out);
    cell* o = stack::push_value(&out);
    if (mold)
        actions::mold_typed(v, o, false, false, false, nullptr, 1 << 30, 0);
    else
        actions::form_typed(v, o, nullptr, 1 << 30);
    std::string s = utf8::encode_string(o);
    stack::top = v;
    return s;
}

// The molded value of the source's last expression, or "<error N>".
inline std::string eval_mold(const char* source) {
    evaluation e;
    evaluate(source, e);
    if (e.error) return "<error " + std::to_string(e.error) + ">";
    return text_of(e.value.value, true);
}

// Captures what the value hooks receive (the standard-output printer is taken out meanwhile):
// each text as UTF-8, "\n" after it when the line-end flag is set.
class print_capture {
  public:
    print_capture() {
        text().clear();
        print_hooks::remove_hooks(print_hooks::stdout_printer, nullptr);
        print_hooks::add_hooks(hook, nullptr);
    }
    ~print_capture() {
        print_hooks::remove_hooks(hook, nullptr);
        print_hooks::add_hooks(print_hooks::stdout_printer, nullptr);
    }
    static std::string& text() {
        static std::string captured;
        return captured;
    }

  private:
    static void hook(const cell* string, u32 newline) {
        text() += utf8::encode_string(string);
        if (newline) text() += "\n";
    }
};

// Runs a shell command; answers its standard output.
inline std::string command_output(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

constexpr const char* operators = "+: make op! :add -: make op! :subtract ";

} // namespace zel::test
