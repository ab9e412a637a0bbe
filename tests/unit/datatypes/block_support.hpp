// Test helpers for blocks: a small reader of block text (integers, none, true, false, unset,
// datatype names, nested blocks and parens, paths of those, a line break marking the next value),
// molding and forming to a std::string, and calls of the handlers through the action table.
// Tests hold series in C++ locals, which the collector cannot see: every series a helper makes is
// kept alive until the test ends (`keep`, tests/unit/kept_cells.hpp), so a collection before each
// allocation (ZEL_GC_STRESS=1) never takes one. Nodes never move, so the locals stay valid.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "datatypes/block.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/series.hpp"
#include "datatypes/text_out.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/errors.hpp"
#include "runtime/roots.hpp"
#include "tests/unit/command_output.hpp"
#include "tests/unit/datatypes/text_helpers.hpp"
#include "tests/unit/kept_cells.hpp"

namespace zel::test {

class block_reader {
  public:
    explicit block_reader(std::string_view text) : s_(text) {}

    cell read_block(u32 type = type_id::block, char close = 0) {
        cell b;
        block::init_cell(&b, 4);
        cell_ops::write_type(&b, type);
        keep(b);
        bool newline = false;
        while (i_ < s_.size()) {
            char c = s_[i_];
            if (c == '\n') {
                newline = true;
                i_++;
            } else if (c == ' ' || c == '\t') {
                i_++;
            } else if (c == close) {
                i_++;
                return b;
            } else {
                cell v = read_value();
                cell_ops::set_newline(&v, newline);
                newline = false;
                block::append_value_copy(&b, &v);
            }
        }
        return b;
    }

  private:
    cell read_value() {
        char c = s_[i_];
        if (c == '[') {
            i_++;
            return read_block(type_id::block, ']');
        }
        if (c == '(') {
            i_++;
            return read_block(type_id::paren, ')');
        }
        std::size_t start = i_;
        while (i_ < s_.size() &&
               std::string_view(" \t\n[]()").find(s_[i_]) == std::string_view::npos)
            i_++;
        return token(s_.substr(start, i_ - start));
    }

    static cell token(std::string_view t) {
        if (t.find('/') != std::string_view::npos) return path_token(t);
        cell v;
        if (t == "none") return *init_none(&v);
        if (t == "true" || t == "false") return *init_logic(&v, t == "true");
        if (t == "unset") return *init_unset(&v);
        for (u32 type = 1; type <= 53; type++)
            if (datatype::name_of(type) == t) return *init_datatype(&v, type);
        return *init_integer(&v, std::stoi(std::string(t)));
    }

    static cell path_token(std::string_view t) {
        u32 type = type_id::path;
        if (t.front() == '\'')
            type = type_id::lit_path, t.remove_prefix(1);
        else if (t.front() == ':')
            type = type_id::get_path, t.remove_prefix(1);
        else if (t.back() == ':')
            type = type_id::set_path, t.remove_suffix(1);
        cell p;
        block::init_cell(&p, 4);
        cell_ops::write_type(&p, type);
        keep(p);
        std::size_t from = 0;
        while (from <= t.size()) {
            std::size_t to = t.find('/', from);
            if (to == std::string_view::npos) to = t.size();
            cell e = token(t.substr(from, to - from));
            block::append_value_copy(&p, &e);
            from = to + 1;
        }
        return p;
    }

    std::string_view s_;
    std::size_t i_ = 0;
};

inline cell load(std::string_view text) {
    return block_reader(text).read_block();
}

// The block at a head index.
inline cell at(cell b, i32 head) {
    b.w1 = static_cast<u32>(head);
    return b;
}

inline std::string text_string(const cell& out) {
    std::string s;
    for (char32_t c : text_of(out)) s.push_back(static_cast<char>(c));
    return s;
}

// Mold; a limit >= 0 is given as /part.
inline std::string mold(const cell& v, bool only = false, bool flat = false, i32 limit = -1,
                        i32* left = nullptr) {
    cell value = keep(v), part, out;
    init_none(&out);
    gc::root out_root(&out);
    out::new_string(&out);
    init_integer(&part, limit);
    i32 r = actions::mold_typed(&value, &out, only, false, flat, limit >= 0 ? &part : nullptr,
                                limit >= 0 ? limit : 0x7FFFFFFF, 0);
    if (left) *left = r;
    return text_string(out);
}

inline std::string form(const cell& v, i32 limit = -1, i32* left = nullptr) {
    cell value = keep(v), part, out;
    init_none(&out);
    gc::root out_root(&out);
    out::new_string(&out);
    init_integer(&part, limit);
    i32 r = actions::form_typed(&value, &out, limit >= 0 ? &part : nullptr,
                                limit >= 0 ? limit : 0x7FFFFFFF);
    if (left) *left = r;
    return text_string(out);
}

// The block from its head, molded; "none" for none!.
inline std::string show(const cell& v) {
    return mold(v);
}

// Calls a handler taking its arguments from the current frame (the position actions); answers
// the result slot.
inline cell frame_call(void (*handler)(), const cell& first, const cell* second = nullptr) {
    stack::mark m = stack::save();
    stack::open_native_frame(nullptr);
    stack::push_value(&first);
    if (second) stack::push_value(second);
    handler();
    cell r = *stack::arg(0);
    stack::restore(m);
    return keep(r);
}

// Runs tests/unit/datatypes/block_oracle.py over the cases; one line per case, empty when
// Python could not be run.
inline std::vector<std::string> block_oracle(const std::string& cases) {
    char path[] = "/tmp/zel_block_oracle_XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return {};
    FILE* f = fdopen(fd, "w");
    std::fputs(cases.c_str(), f);
    std::fclose(f);
    std::string command =
        std::string("python3 ") + ZEL_SOURCE_DIR + "/tests/unit/datatypes/block_oracle.py " + path;
    std::vector<std::string> lines = command_lines(command);
    std::remove(path);
    return lines;
}

// The integers of a block from its head, space-separated.
inline std::string integers_of(const cell& b) {
    std::string out;
    for (u32 i = series::clamped_head(&b); i < series::units_from_start(&b); i++) {
        if (!out.empty()) out += ' ';
        out += std::to_string(int_of(block::cell_address(&b, i)));
    }
    return out;
}

inline cell integer_block(const std::vector<i32>& values) {
    cell b;
    block::init_cell(&b, static_cast<i32>(values.size()));
    keep(b);
    for (i32 v : values) {
        cell c;
        init_integer(&c, v);
        block::append_value_copy(&b, &c);
    }
    return b;
}

inline cell integer_cell(i32 n) {
    cell c;
    return *init_integer(&c, n);
}

// The name of the error raised (its catalog code), for EXPECT_EQ.
#define EXPECT_RAISES(statement, category, id)                                                     \
    EXPECT_EQ(::zel::test::raised([&] { statement; }), ::zel::err::E(category, id).code())

} // namespace zel::test
