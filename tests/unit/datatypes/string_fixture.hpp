// Test fixture of the string! and char! handlers: values made on the data stack (as the action
// layer hands them over), texts in a chosen unit, and error codes.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "datatypes/string.hpp"
#include "evaluator/stack.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"
#include "tests/unit/datatypes/text_helpers.hpp"

namespace zel::test {

inline u32 code(err::id id) {
    return id.code();
}

// UTF-8 for failure messages.
inline std::string utf8_of(const std::u32string& s) {
    std::string out;
    for (char32_t c : s) {
        u8 bytes[4];
        u32 n = utf8::encode_codepoint(c, bytes);
        out.append(reinterpret_cast<char*>(bytes), n);
    }
    return out;
}

// The units that can hold every code point of the text (a buffer never narrows, so a narrow
// text may sit in any wider unit).
inline std::vector<u32> units_for(std::u32string_view text) {
    u32 widest = 0;
    for (char32_t c : text) widest = std::max<u32>(widest, c);
    if (widest > 0xFFFF) return {4};
    if (widest > 0xFF) return {2, 4};
    return {1, 2, 4};
}

class text_fixture : public testing::Test {
  protected:
    void SetUp() override { mark_ = stack::save(); }
    void TearDown() override { stack::restore(mark_); }

    // A text of the type on the data stack, positioned at a 0-based head.
    cell* text(std::u32string_view cps, u32 unit = 1, u32 head = 0, u32 type = type_id::string) {
        cell c = make_text(cps, unit);
        c.w1 = head;
        cell_ops::write_type(&c, type);
        return stack::push_value(&c);
    }
    cell* integer(i32 n) {
        cell c;
        return stack::push_value(init_integer(&c, n));
    }
    cell* character(u32 cp) {
        cell c;
        return stack::push_value(init_char(&c, cp));
    }
    cell* decimal(double d) {
        cell c;
        return stack::push_value(init_float(&c, d));
    }
    cell* binary(const std::vector<u8>& bytes, u32 head = 0) {
        u32 node = memory::new_byte_series(static_cast<u32>(bytes.size()));
        series_buffer* b = buffer_of(node);
        if (!bytes.empty()) std::memcpy(head_ptr(b), bytes.data(), bytes.size());
        b->tail = b->head + static_cast<u32>(bytes.size());
        cell c{type_id::binary, head, node, 0};
        return stack::push_value(&c);
    }
    // A block of the given cells.
    cell* block(std::initializer_list<cell> cells, u32 type = type_id::block) {
        u32 node = memory::new_cell_series(static_cast<u32>(cells.size()));
        series_buffer* b = buffer_of(node);
        for (const cell& item : cells) *tail_cell(b) = item, b->tail += sizeof(cell);
        cell c{type, 0, node, 0};
        return stack::push_value(&c);
    }
    // A value of a type that has no handlers yet.
    cell* opaque(u32 type) {
        cell c{type, 0, 0, 0};
        return stack::push_value(&c);
    }
    cell* none() {
        cell c;
        return stack::push_value(init_none(&c));
    }

    static std::u32string whole(const cell* s) {
        cell c = *s;
        c.w1 = 0;
        return text_of(c);
    }

  private:
    stack::mark mark_{};
};

} // namespace zel::test
