// Test helpers for the literal datatypes: the form and mold texts of a value, strings of a type,
// blocks built from cells, and the lines of the Python oracle.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "datatypes/text_out.hpp"
#include "evaluator/actions.hpp"
#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"
#include "tests/unit/command_output.hpp"
#include "text_helpers.hpp"

namespace zel::test {

struct mold_options {
    bool only = false;
    bool all = false;
    bool flat = false;
    i32 indent = 0;
};

inline std::string mold_text(cell value, mold_options o = {}) {
    gc::root keep(&value); // making and growing the buffer may collect
    cell buffer;
    out::new_string(&buffer);
    gc::root keep_buffer(&buffer);
    actions::mold_typed(&value, &buffer, o.only, o.all, o.flat, nullptr, 0, o.indent);
    return utf8::encode_string(&buffer);
}

inline std::string form_text(cell value) {
    gc::root keep(&value);
    cell buffer;
    out::new_string(&buffer);
    gc::root keep_buffer(&buffer);
    actions::form_typed(&value, &buffer, nullptr, 0);
    return utf8::encode_string(&buffer);
}

// A text value of the type from UTF-8.
inline cell text_value(const std::string& utf8, u32 type = type_id::string) {
    cell c;
    utf8::decode_to_new_string(&c, reinterpret_cast<const u8*>(utf8.data()),
                               static_cast<u32>(utf8.size()));
    c.header = type;
    return c;
}

// The cells are held on the data stack while the block is made, and taken from there: the
// collector rewrites those copies when it moves their nodes, not the ones on the heap. The caller
// holds the block.
inline cell block_of(const std::vector<cell>& cells) {
    stack::mark m = stack::save();
    cell* first = stack::top;
    for (const cell& c : cells) stack::push_value(&c);
    held_cell block =
        cell{type_id::block, 0, memory::new_cell_series(static_cast<u32>(cells.size())), 0};
    for (std::size_t i = 0; i < cells.size(); i++) *memory::append_cell_slot(&block) = first[i];
    stack::restore(m);
    return block;
}

// The lines the literal oracle prints for a mode; empty when Python could not be run.
inline std::vector<std::string> literal_oracle(const char* mode) {
    std::string command = std::string("python3 ") + ZEL_SOURCE_DIR +
                          "/tests/unit/datatypes/literals_oracle.py " + mode;
    return command_lines(command);
}

inline std::vector<std::string> fields(const std::string& line, char separator = ' ') {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (true) {
        std::size_t j = line.find(separator, i);
        out.push_back(line.substr(i, j == std::string::npos ? std::string::npos : j - i));
        if (j == std::string::npos) return out;
        i = j + 1;
    }
}

} // namespace zel::test
