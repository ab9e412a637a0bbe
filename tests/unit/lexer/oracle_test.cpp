// Literal values against Python: integers and floats (int, float, bit for bit), percents
// (decimal scaling), times and dates (datetime), binaries in bases 2, 16 and 64 (base64).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "datatypes/date.hpp"
#include "datatypes/time.hpp"
#include "tests/unit/lexer/lexer_helpers.hpp"

using namespace zel;

namespace {

struct oracle_case {
    std::string text;
    std::string expected;
};

// Every mode's cases, from one run of the script.
std::vector<oracle_case> oracle(const std::string& mode) {
    static std::vector<std::pair<std::string, oracle_case>> all = [] {
        std::vector<std::pair<std::string, oracle_case>> cases;
        std::string command =
            std::string("python3 ") + ZEL_SOURCE_DIR + "/tests/unit/lexer/lexer_oracle.py";
        FILE* f = popen(command.c_str(), "r");
        if (!f) return cases;
        char buffer[4096];
        while (std::fgets(buffer, sizeof buffer, f)) {
            std::string line(buffer);
            if (!line.empty() && line.back() == '\n') line.pop_back();
            std::size_t tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1);
            if (tab2 == std::string::npos) continue;
            std::string text = line.substr(tab1 + 1, tab2 - tab1 - 1), unescaped;
            for (std::size_t i = 0; i < text.size(); i++) {
                bool escape = text[i] == '\\' && i + 1 < text.size() &&
                              (text[i + 1] == 't' || text[i + 1] == 'n');
                if (escape)
                    unescaped += text[++i] == 't' ? '\t' : '\n';
                else
                    unescaped += text[i];
            }
            cases.push_back({line.substr(0, tab1), {unescaped, line.substr(tab2 + 1)}});
        }
        pclose(f);
        return cases;
    }();
    std::vector<oracle_case> out;
    for (const auto& [m, c] : all)
        if (m == mode) out.push_back(c);
    return out;
}

u64 bits_of(const cell& c) {
    double d = float_of(&c);
    u64 b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

// The one value a text loads.
cell single(const std::string& text) {
    cell block = test::load(text);
    EXPECT_EQ(used_units(buffer_of(block.w2)), 1u) << text;
    return *head_cell(buffer_of(block.w2));
}

void run_numbers(const char* mode) {
    auto cases = oracle(mode);
    ASSERT_GT(cases.size(), 100u) << "the oracle did not run";
    for (const auto& c : cases) {
        std::istringstream in(c.expected);
        std::string kind;
        in >> kind;
        cell v = single(c.text);
        if (kind == "integer") {
            long long expected;
            in >> expected;
            ASSERT_TRUE(is(&v, type_id::integer)) << c.text;
            EXPECT_EQ(int_of(&v), expected) << c.text;
        } else {
            unsigned long long expected;
            in >> expected;
            u32 type = kind == "float"     ? type_id::float_
                       : kind == "percent" ? type_id::percent
                                           : type_id::time;
            ASSERT_EQ(type_of(&v), type) << c.text;
            EXPECT_EQ(bits_of(v), expected) << c.text;
        }
    }
}

} // namespace

// Integers (int), floats bit for bit (float), percents (exact decimal scaling) and times.
TEST(LexerOracle, NumbersAgainstPython) {
    for (const char* mode : {"integers", "floats", "percents", "times"}) run_numbers(mode);
}

// Dates (datetime) and binaries in bases 2, 16 and 64 (base64).
TEST(LexerOracle, DatesAndBinariesAgainstPython) {
    auto cases = oracle("dates");
    ASSERT_GT(cases.size(), 100u) << "the oracle did not run";
    for (const auto& c : cases) {
        std::istringstream in(c.expected);
        std::string kind, hh;
        int year, month, day;
        in >> kind >> year >> month >> day >> hh;
        cell v = single(c.text);
        ASSERT_TRUE(is(&v, type_id::date)) << c.text;
        EXPECT_EQ(date::packed::year(v.w1), year) << c.text;
        EXPECT_EQ(date::packed::month(v.w1), month) << c.text;
        EXPECT_EQ(date::packed::day(v.w1), day) << c.text;
        bool has_time = v.w1 & date::packed::has_time;
        EXPECT_EQ(has_time, hh != "-") << c.text;
        if (hh == "-" || !has_time) continue;
        int minutes, zone;
        double seconds;
        in >> minutes >> seconds >> zone;
        u32 zone_bits = date::packed::zone(v.w1);
        EXPECT_EQ(date::zone_offset(zone_bits), zone * 60) << c.text;
        double local = date::to_local_time(float_of(&v), zone_bits);
        EXPECT_NEAR(local, std::stoi(hh) * 3600.0 + minutes * 60.0 + seconds, 1e-6) << c.text;
    }
    cases = oracle("binaries");
    ASSERT_GT(cases.size(), 100u) << "the oracle did not run";
    for (const auto& c : cases) {
        cell v = single(c.text);
        ASSERT_TRUE(is(&v, type_id::binary)) << c.text;
        series_buffer* b = buffer_of(v.w2);
        std::string hex;
        char two[3];
        for (u32 i = v.w1; i < used_bytes(b); i++) {
            std::snprintf(two, sizeof two, "%02x", head_ptr(b)[i]);
            hex += two;
        }
        EXPECT_EQ("binary " + hex, c.expected) << c.text;
    }
}
