// Running source text through the full start-up environment (the library loaded) in tests:
// the text is loaded as the console loads it, evaluated under a guard, and the result is
// answered molded, or the error raised with its catalog code.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "runtime/cell.hpp"
#include "runtime/error_catalog.hpp"

namespace zel::libtest {

struct outcome {
    bool raised = false;
    u32 error_code = 0;
    std::string molded; // the value, or the error's report
    u32 type = 0;       // the value's type id
    u32 pending = 0;    // a non-local exit that left the evaluation
    int status = 0;     // the exit status of a quit
};

// Evaluates the text as a block of code.
outcome run(std::string_view text);

// The result molded; the result formed by the language itself is the test's business.
::testing::AssertionResult gives(std::string_view text, std::string_view molded);
::testing::AssertionResult raises(std::string_view text, err::id id);

// A table row of source text and the molded result it must give.
struct case_ {
    const char* source;
    const char* molded;
};
void check_all(std::initializer_list<case_> cases);

// Standard output written while `fn` runs (the file descriptor is redirected).
std::string captured_output(void (*fn)(std::string_view), std::string_view text);
std::string printed(std::string_view text);

} // namespace zel::libtest
