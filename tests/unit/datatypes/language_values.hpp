// Values of the language for tests that hand real ones to a handler (a sort comparator is a
// function! that the interpreter runs): source text evaluated in the full start-up environment,
// and global words read and set from the test.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "datatypes/context.hpp"
#include "datatypes/word.hpp"
#include "tests/unit/kept_cells.hpp"
#include "tests/unit/library/library_fixture.hpp"

namespace zel::test {

inline cell global_value(std::string_view name) {
    cell word = word::intern_literal(name);
    return keep(*context::word_value_address(&word));
}

inline void set_global(std::string_view name, const cell& value) {
    cell word = word::intern_literal(name);
    context::set_word_value(&word, &value);
}

// The value of the source text, kept until the test ends.
inline cell evaluated(std::string_view source) {
    libtest::outcome o = libtest::run("test-value: " + std::string(source));
    EXPECT_FALSE(o.raised) << source << ": " << o.molded;
    return global_value("test-value");
}

} // namespace zel::test
