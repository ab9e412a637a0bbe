// Print hooks and console output: the hook lists grow by 5 and keep their order; the standard
// output printer writes every unit width as UTF-8 (read back through a pipe).
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "datatypes/string_buffer.hpp"
#include "evaluator/stack.hpp"
#include "runtime/console_output.hpp"
#include "runtime/errors.hpp"
#include "runtime/print_hooks.hpp"
#include "runtime/unicode.hpp"

using namespace zel;

namespace {
std::string calls;
template <char C> void value_hook(const cell*, u32 newline) {
    calls += newline ? C : char(C + 32);
}
template <char C> void text_hook(const u8* text, u32 length, u32) {
    calls += C;
    calls.append(reinterpret_cast<const char*>(text), length);
}

// Standard output redirected into a pipe while `body` runs; answers the bytes written.
template <class F> std::string captured_stdout(F body) {
    std::fflush(stdout);
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    int saved = dup(STDOUT_FILENO);
    dup2(fds[1], STDOUT_FILENO);
    close(fds[1]);
    body();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, n);
    close(fds[0]);
    return out;
}

// A string! on the data stack decoded from UTF-8 (losslessly, so raw bytes survive).
cell* push_text(std::string_view utf8) {
    cell s;
    utf8::decode_to_new_string(&s, reinterpret_cast<const u8*>(utf8.data()),
                               static_cast<u32>(utf8.size()), utf8::flag::lossless);
    return stack::push_value(&s);
}

u32 unit_of_string(const cell* s) {
    return unit_of(buffer_of(s->w2));
}
} // namespace

TEST(PrintHooks, StandardPrinterIsFirstAndListsGrowByFive) {
    ASSERT_TRUE(print_hooks::ready());
    EXPECT_EQ(print_hooks::value_hook_count(), 1u);
    EXPECT_EQ(print_hooks::value_hook_capacity(), 5u);
    EXPECT_EQ(print_hooks::text_hook_count(), 0u);
    EXPECT_EQ(print_hooks::text_hook_capacity(), 5u);

    print_hooks::remove_hooks(print_hooks::stdout_printer, nullptr);
    const print_hooks::value_hook hooks[] = {value_hook<'A'>, value_hook<'B'>, value_hook<'C'>,
                                             value_hook<'D'>, value_hook<'E'>, value_hook<'F'>};
    for (auto h : hooks) print_hooks::add_hooks(h, nullptr);
    EXPECT_EQ(print_hooks::value_hook_count(), 6u);
    EXPECT_EQ(print_hooks::value_hook_capacity(), 10u);

    cell* s = push_text("x");
    calls.clear();
    print_hooks::call_value_hooks(s, 1);
    print_hooks::call_value_hooks(s, 0);
    EXPECT_EQ(calls, "ABCDEFabcdef");

    // Removing takes the first occurrence and keeps the order; an absent hook changes nothing.
    print_hooks::remove_hooks(value_hook<'C'>, nullptr);
    print_hooks::remove_hooks(value_hook<'C'>, nullptr);
    calls.clear();
    print_hooks::call_value_hooks(s, 1);
    EXPECT_EQ(calls, "ABDEF");

    for (auto h : hooks) print_hooks::remove_hooks(h, nullptr);
    print_hooks::add_hooks(print_hooks::stdout_printer, nullptr);
    EXPECT_EQ(print_hooks::value_hook_count(), 1u);
    stack::top = s;
}

TEST(PrintHooks, RuntimeMessagesReachTextHooksAndStandardOutput) {
    print_hooks::add_hooks(nullptr, text_hook<'T'>);
    calls.clear();
    std::string out = captured_stdout([] { conout::print_report("Message é\n"); });
    print_hooks::remove_hooks(nullptr, text_hook<'T'>);
    EXPECT_EQ(out, "Message é\n");
    EXPECT_EQ(calls, "TMessage é\n");
    EXPECT_EQ(print_hooks::text_hook_count(), 0u);
}

TEST(PrintHooks, PrinterWritesEveryUnitWidthAsUtf8) {
    struct row {
        std::string text;
        u32 unit;
        bool newline;
        std::string bytes;
    };
    const row rows[] = {
        {"", 1, true, "\n"},
        {"", 1, false, ""},
        {"\xC3\xA9", 1, true, "\xC3\xA9\n"}, // é in a Latin-1 buffer
        {"a\xE2\x82\xAC", 2, false, "a\xE2\x82\xAC"},
        {"\xF0\x9F\x98\x80z", 4, true, "\xF0\x9F\x98\x80z\n"},
        {"\x1B[31mred\x1B[0m", 1, false, "\x1B[31mred\x1B[0m"}, // escapes pass through
        {"one\ntwo", 1, true, "one\ntwo\n"},                    // LF stays LF
        {"raw \xFF\xFE", 2, true, "raw \xFF\xFE\n"},            // lossless bytes go back out
    };
    for (const row& r : rows) {
        cell* s = push_text(r.text);
        EXPECT_EQ(unit_of_string(s), r.unit) << r.bytes;
        std::string out = captured_stdout([&] { print_hooks::stdout_printer(s, r.newline); });
        EXPECT_EQ(out, r.bytes);
        stack::top = s;
    }
}

TEST(PrintHooks, PrinterStartsAtTheHeadAndWritesLongTextWhole) {
    std::string long_text;
    for (int i = 0; i < 1500; i++) long_text += (i % 3 == 0) ? "\xE2\x82\xAC" : "ab";
    cell* s = push_text(long_text);
    EXPECT_TRUE(captured_stdout([&] { print_hooks::stdout_printer(s, 1); }) == long_text + "\n");
    s->w1 = 3; // "€ab" skipped
    EXPECT_TRUE(captured_stdout([&] { print_hooks::stdout_printer(s, 0); }) == long_text.substr(5));
    s->w1 = 1u << 30; // a head past the tail prints nothing
    EXPECT_EQ(captured_stdout([&] { print_hooks::stdout_printer(s, 1); }), "\n");
    stack::top = s;
}

// Output that standard output refuses is an error (EPIPE, not SIGPIPE, for a closed pipe), and
// the report of an error can still go to standard error.
TEST(PrintHooks, RefusedOutputRaisesWithoutEndingTheProcess) {
    cell* s = push_text("lost");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    std::fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    u32 raised = 0;
    for (int refusing : {fds[1], ::open("/dev/full", O_WRONLY)}) {
        dup2(refusing, STDOUT_FILENO);
        close(refusing);
        stack::mark m = stack::save();
        try {
            print_hooks::stdout_printer(s, 1);
        } catch (const unwind&) {
            stack::restore(m);
            if (error::last_code() == err::E("access", "cannot-write").code()) raised++;
        }
        EXPECT_TRUE(conout::stdout_failed());
    }
    dup2(saved, STDOUT_FILENO);
    close(saved);
    EXPECT_EQ(raised, 2u);
    std::string out = captured_stdout([&] { print_hooks::stdout_printer(s, 0); });
    EXPECT_EQ(out, "lost");
    EXPECT_FALSE(conout::stdout_failed());
    stack::top = s;
}

TEST(PrintHooks, ConsoleHooksSurroundEveryPrint) {
    static std::string order;
    order.clear();
    print_hooks::set_console_hooks([] { order += "S"; }, [] { order += "R"; });
    cell* s = push_text("x");
    std::string out = captured_stdout([&] { print_hooks::stdout_printer(s, 0); });
    print_hooks::set_console_hooks(nullptr, nullptr);
    EXPECT_EQ(out, "x");
    EXPECT_EQ(order, "SR");
    stack::top = s;
}
