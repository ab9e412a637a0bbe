// Evaluating source text in tests: loads text into a block of values bound to the global
// context, evaluates it under a guard as the console would, and reports the value or the error
// raised. Values answered are copies: they stay valid until the next evaluation.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "runtime/cell.hpp"
#include "runtime/error_catalog.hpp"

namespace zel::test {

// The block of the text's values; fails the test when the text does not load.
cell load(std::string_view text);

struct outcome {
    bool raised = false;
    u32 error_code = 0; // the catalog code of the error raised
    cell value{};       // the result, when nothing was raised
    u32 pending = 0;    // a non-local exit that left the evaluation (a fault of the natives)
};

// Evaluates the text as a block.
outcome run(std::string_view text);

// The molded form of a value (as far as the datatypes can mold it).
std::string mold(const cell* value);

// Checks helpers: the result molded, the result's type, or the error raised.
::testing::AssertionResult gives(std::string_view text, std::string_view molded);
::testing::AssertionResult gives_type(std::string_view text, u32 type);
::testing::AssertionResult raises(std::string_view text, err::id id);

} // namespace zel::test
