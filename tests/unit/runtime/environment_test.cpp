// Environment variables and the OS description: the name/value split, the variables the OS
// refuses, the command line, and uname's fields against Python's os.uname().
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "datatypes/object.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/tuple.hpp"
#include "evaluator/stack.hpp"
#include "runtime/environment.hpp"
#include "runtime/process.hpp"
#include "runtime/unicode.hpp"
#include "tests/unit/command_output.hpp"

using namespace zel;

TEST(Environment, VariablesAreLookedUpByTheirWholeName) {
    setenv("ZEL_SPLIT", "a=b=c", 1);
    setenv("ZEL_SPLIT_LONGER", "other", 1);
    EXPECT_EQ(os::env_var("ZEL_SPLIT"), "a=b=c");
    EXPECT_EQ(os::env_var("ZEL_SPLIT_LONGER"), "other");
    EXPECT_EQ(os::env_var("ZEL_SPLI"), std::nullopt);
    EXPECT_EQ(os::env_var("ZEL_SPLIT=a"), std::nullopt);
    EXPECT_EQ(os::env_var(""), std::nullopt);
    unsetenv("ZEL_SPLIT");
    EXPECT_EQ(os::env_var("ZEL_SPLIT"), std::nullopt);
}

TEST(Environment, PutRefusesWhatTheOsCannotHold) {
    std::string_view value = "v";
    std::string_view with_nul("a\0b", 3);
    EXPECT_TRUE(os::put_env_var("ZEL_PUT", &value));
    EXPECT_STREQ(std::getenv("ZEL_PUT"), "v");
    EXPECT_FALSE(os::put_env_var("ZEL_PUT", &with_nul));
    EXPECT_STREQ(std::getenv("ZEL_PUT"), "v");
    EXPECT_FALSE(os::put_env_var("", &value));
    EXPECT_FALSE(os::put_env_var("A=B", &value));
    EXPECT_FALSE(os::put_env_var(std::string_view("ZEL_PUT\0X", 9), &value));
    EXPECT_TRUE(os::put_env_var("ZEL_PUT", nullptr));
    EXPECT_EQ(std::getenv("ZEL_PUT"), nullptr);
    EXPECT_TRUE(os::put_env_var("ZEL_NEVER_SET", nullptr));
}

TEST(Environment, CommandLineQuotesWhatNeedsIt) {
    runtime::runtime_record saved = runtime::record;
    char a0[] = "zel", a1[] = "script.zel", a2[] = "two words", a3[] = "", a4[] = "say \"hi\"";
    char* argv[] = {a0, a1, a2, a3, a4, nullptr};
    runtime::record.argc = 5;
    runtime::record.argv = argv;
    EXPECT_EQ(os::command_line_text(), "zel script.zel \"two words\" \"\" \"say \\\"hi\\\"\"");
    runtime::record = saved;
}

TEST(Environment, ArchitectureAndReleaseNumbers) {
    struct arch_row {
        const char* machine;
        const char* name;
    };
    const arch_row arches[] = {{"x86_64", "x86-64"},  {"aarch64", "ARM64"}, {"i686", "x86-32"},
                               {"i386", "x86-32"},    {"armv7l", "ARM"},    {"ia64", "IA-64"},
                               {"riscv64", "Unknown"}};
    for (const arch_row& r : arches) EXPECT_EQ(os::arch_name(r.machine), r.name) << r.machine;

    struct release_row {
        const char* text;
        u8 a, b, c;
        i32 build;
    };
    const release_row releases[] = {
        {"6.1.0-18-amd64", 6, 1, 0, 18},
        {"5.15.0-91-generic", 5, 15, 0, 91},
        {"6.8.0", 6, 8, 0, 0},
        {"6.6.87.2-microsoft-standard-WSL2", 6, 6, 87, 2},
        {"4.19", 4, 19, 0, 0},
        {"300.1.2-rc1", 255, 1, 2, 1},
        {"", 0, 0, 0, 0},
    };
    for (const release_row& r : releases) {
        os::release_numbers n = os::parse_release(r.text);
        EXPECT_EQ(n.version[0], r.a) << r.text;
        EXPECT_EQ(n.version[1], r.b) << r.text;
        EXPECT_EQ(n.version[2], r.c) << r.text;
        EXPECT_EQ(n.build, r.build) << r.text;
    }
}

TEST(Environment, OsDescriptionAgreesWithPython) {
    std::string python = test::command_output(
        "python3 -c 'import os; u = os.uname(); "
        "print(u.sysname + \" \" + u.release); print(u.machine); print(u.release)'");
    std::size_t first = python.find('\n'), second = python.find('\n', first + 1);
    ASSERT_NE(second, std::string::npos);
    std::string name = python.substr(0, first);
    std::string machine = python.substr(first + 1, second - first - 1);
    std::string release = python.substr(second + 1, python.size() - second - 2);

    cell* info = os::push_os_description();
    ASSERT_EQ(type_of(info), type_id::object);
    EXPECT_EQ(object::field_count(info), 4u);
    const cell* f_name = object::field_value(info, symbol::intern_text("name"));
    const cell* f_arch = object::field_value(info, symbol::intern_text("arch"));
    const cell* f_version = object::field_value(info, symbol::intern_text("version"));
    const cell* f_build = object::field_value(info, symbol::intern_text("build"));
    ASSERT_EQ(type_of(f_name), type_id::string);
    EXPECT_EQ(utf8::encode_string(f_name, -1, utf8::flag::lossless), name);
    ASSERT_EQ(type_of(f_arch), type_id::word);
    EXPECT_EQ(symbol::text(f_arch->w2), os::arch_name(machine));
    ASSERT_EQ(type_of(f_version), type_id::tuple);
    os::release_numbers n = os::parse_release(release);
    EXPECT_EQ(tuple::length_of(f_version), 3u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(tuple::bytes_of(f_version)), 3),
              std::string(reinterpret_cast<const char*>(n.version), 3));
    ASSERT_EQ(type_of(f_build), type_id::integer);
    EXPECT_EQ(int_of(f_build), n.build);
    stack::top = info;
}
