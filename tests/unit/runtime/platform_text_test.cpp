// The text rules of the Linux layer that no whole-program test reaches directly: how a response
// header line is split, and how a command line is split into arguments without a shell.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/platform/child_process.hpp"
#include "runtime/platform/http.hpp"

namespace zel {
namespace {

TEST(HttpHeaders, SplitAtTheFirstColonAndTrimmed) {
    struct row {
        const char* line;
        bool ok;
        const char* name;
        const char* value;
    };
    const row rows[] = {
        {"Content-Type: text/plain\r\n", true, "Content-Type", "text/plain"},
        {"X-Tight:value\r\n", true, "X-Tight", "value"},
        {"Location:  http://h:80/a?b=c  \r\n", true, "Location", "http://h:80/a?b=c"},
        {"X-Empty:\r\n", true, "X-Empty", ""},
        {"X-Last: no line end", true, "X-Last", "no line end"},
        {"\r\n", false, "", ""},
        {"no colon here\r\n", false, "", ""},
        {": nameless\r\n", false, "", ""},
    };
    for (const row& r : rows) {
        std::string name, value;
        EXPECT_EQ(http::split_header(r.line, name, value), r.ok) << r.line;
        if (!r.ok) continue;
        EXPECT_EQ(name, r.name) << r.line;
        EXPECT_EQ(value, r.value) << r.line;
    }
}

TEST(CommandLine, SplitAsAShellSplitsASimpleCommand) {
    using words = std::vector<std::string>;
    struct row {
        const char* text;
        words expected;
    };
    const row rows[] = {
        {"echo hi", {"echo", "hi"}},
        {"  a \t b\n", {"a", "b"}},
        {"printf '%s|' 'a b' \"c\\\"d\" e\\ f", {"printf", "%s|", "a b", "c\"d", "e f"}},
        {"a'b'\"c\"d", {"abcd"}},
        {"'' x", {"", "x"}},
        {"\"a\\nb\"", {"a\\nb"}},
        {"'unclosed", {"unclosed"}},
        {"", {}},
    };
    for (const row& r : rows) EXPECT_EQ(process::split_command(r.text), r.expected) << r.text;
}

} // namespace
} // namespace zel
