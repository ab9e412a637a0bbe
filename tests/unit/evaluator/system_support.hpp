// Helpers of the system natives' tests: capturing printed text through a value hook, and running
// commands such as Python oracles.
#pragma once
#include <cstdio>
#include <string>

#include "runtime/print_hooks.hpp"
#include "runtime/unicode.hpp"
#include "tests/unit/command_output.hpp"

namespace zel::test {

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
    print_capture(const print_capture&) = delete;
    print_capture& operator=(const print_capture&) = delete;
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

} // namespace zel::test
