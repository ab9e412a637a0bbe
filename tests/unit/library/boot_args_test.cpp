// The raw text of the command line: what the script launcher cuts its switches and the script's
// name from, so an argument must come back whole from it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/boot_args.hpp"

using namespace zel;

namespace {

std::string raw(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return boot_args::raw_text(static_cast<int>(args.size()), argv.data());
}

} // namespace

TEST(BootArgs, RawTextQuotesWhatABlankWouldSplit) {
    struct row {
        std::vector<std::string> args;
        std::string text;
    } rows[] = {
        {{"zel"}, "zel"},
        {{"zel", "a.zel", "x"}, "zel a.zel x"},
        {{"zel", "two words", "tab\there"}, "zel \"two words\" \"tab\there\""},
        {{"zel", "", "x"}, "zel \"\" x"},
        {{"zel", "q\"uote", "--catch"}, "zel q\"uote --catch"},
        {{"/path with space/zel", "é"}, "\"/path with space/zel\" é"},
    };
    for (const row& r : rows) EXPECT_EQ(raw(r.args), r.text);
}
