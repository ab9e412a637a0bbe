// Test helpers for text: strings made from code points in a chosen unit, read back as code points,
// byte strings from hex, and the Python oracle's output.
#pragma once
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "datatypes/string_buffer.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/errors.hpp"
#include "tests/unit/command_output.hpp"

namespace zel::test {

// A cell kept in a C++ local and rooted while it is in scope, so that its series survives (and is
// re-pointed by) the collections that any allocation may run.
struct held_cell : cell {
    held_cell() : cell{type_id::none, 0, 0, 0} {}
    held_cell(const cell& v) : cell(v) {}
    held_cell(const held_cell& v) : cell(v) {}
    held_cell& operator=(const cell& v) {
        static_cast<cell&>(*this) = v;
        return *this;
    }
    held_cell& operator=(const held_cell& v) { return *this = static_cast<const cell&>(v); }

  private:
    gc::root keep_{this};
};

inline cell make_text(std::u32string_view cps, u32 unit = 1) {
    cell c;
    string::init_cell_unit(&c, static_cast<u32>(cps.size()), unit);
    series_buffer* b = buffer_of(c.w2);
    for (char32_t cp : cps) {
        text_units::write(tail_ptr(b), unit, cp);
        b->tail += unit;
    }
    return c;
}

inline std::u32string text_of(const cell& c) {
    series_buffer* b = buffer_of(c.w2);
    u32 u = unit_of(b);
    std::u32string out;
    i32 h = static_cast<i32>(c.w1);
    for (u32 i = h < 0 ? 0 : h; i < used_units(b); i++)
        out.push_back(text_units::read(head_ptr(b) + i * u, u));
    return out;
}

inline u32 unit_of_text(const cell& c) {
    return unit_of(buffer_of(c.w2));
}

inline std::vector<u8> from_hex(std::string_view hex) {
    std::vector<u8> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        if (hex[i] == ' ') {
            i--;
            continue;
        }
        out.push_back(static_cast<u8>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return out;
}

// "41,E9" or "." as code points.
inline std::u32string from_cps(std::string_view list) {
    std::u32string out;
    if (list == ".") return out;
    std::size_t i = 0;
    while (i < list.size()) {
        std::size_t j = list.find(',', i);
        if (j == std::string_view::npos) j = list.size();
        out.push_back(
            static_cast<char32_t>(std::stoul(std::string(list.substr(i, j - i)), nullptr, 16)));
        i = j + 1;
    }
    return out;
}

// The oracle's lines for a mode; empty when Python could not be run.
inline std::vector<std::string> oracle_lines(const char* mode) {
    std::string command =
        std::string("python3 ") + ZEL_SOURCE_DIR + "/tests/unit/runtime/unicode_oracle.py " + mode;
    return command_lines(command);
}

// The code of the error that `f` raises, or 0. The data stack is put back as it was.
template <class F> u32 raised(F&& f) {
    stack::mark m = stack::save();
    try {
        f();
    } catch (const unwind&) {
        stack::restore(m);
        return error::last_code();
    }
    return 0;
}

} // namespace zel::test
