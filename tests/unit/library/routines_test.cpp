// The routines bound to global words.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/unit/library/library_fixture.hpp"

namespace zel {
namespace {

using libtest::gives;
using libtest::printed;
using libtest::raises;
using libtest::run;

TEST(Routines, QuietAssignment) {
    // The handler would fail the test by raising.
    const char* object = "o: context [x: 1 on-change*: func [w o n] [cause-error 'user 'message "
                         "[\"fired\"]]] ";
    EXPECT_TRUE(gives(std::string(object) + "set-quiet in o 'x 5 o/x", "5"));
    EXPECT_TRUE(raises(std::string(object) + "o/x: 5", err::E("user", "message")));
    EXPECT_TRUE(gives("set-quiet 'quiet-global 7 quiet-global", "7"));
    EXPECT_TRUE(gives("set-quiet quote q-set: 8 q-set", "8"));
    EXPECT_TRUE(gives("set-quiet 'q 9", "9"));
    EXPECT_TRUE(raises("set-quiet \"x\" 5", err::E("script", "expect-arg")));
    EXPECT_TRUE(raises("set-quiet /x 5", err::E("script", "expect-arg")));
    libtest::outcome o = run("set-quiet \"x\" 5");
    EXPECT_NE(o.molded.find("set-quiet does not allow string! for its word argument"),
              std::string::npos)
        << o.molded;

    libtest::check_all({
        {"b: [1 2] set-slot-quiet next b 9 b", "[1 9]"},
        {"b: [1] set-slot-quiet tail b 2 b", "[1]"},
        {"p: quote (1 2) set-slot-quiet p 0 p", "(0 2)"},
        {"p: quote a/b set-slot-quiet next p 'c p", "a/c"},
    });
    EXPECT_TRUE(raises("set-slot-quiet \"ab\" 1", err::E("script", "expect-arg")));
    EXPECT_TRUE(raises("set-slot-quiet make hash! [1] 1", err::E("script", "expect-arg")));
}

TEST(Routines, Shifts) {
    libtest::check_all({
        {"shift-right -8 1", "-4"},
        {"shift-logical -8 1", "2147483644"},
        {"shift-left 1 4", "16"},
        {"shift-left 1 31", "-2147483648"},
        {"shift-left 1 32", "0"},
        {"shift-right -1 40", "-1"},
        {"shift-right 5 40", "0"},
        {"shift-logical -1 32", "0"},
        {"shift-right 8 -3", "8"},
        {"1 << 3", "8"},
        {"-16 >> 2", "-4"},
        {"-16 >>> 28", "15"},
    });
}

TEST(Routines, ColourAndAddressTuples) {
    libtest::check_all({
        {"as-color 255 128 256", "255.128.0"},
        {"as-color 300 0 1", "44.0.1"},
        {"as-ipv4 192 168 0 1", "192.168.0.1"},
        {"as-rgba 1 2 3 4", "1.2.3.4"},
    });
    libtest::outcome o = run("as-color 1 -2 -3");
    EXPECT_EQ(o.error_code, err::E("script", "invalid-arg").code());
    EXPECT_NE(o.molded.find("invalid argument: -2"), std::string::npos) << o.molded;
    EXPECT_TRUE(raises("as-ipv4 -1 0 0 0", err::E("script", "invalid-arg")));
    // A component that does not fit its byte is refused instead of spilling into the next one.
    EXPECT_TRUE(raises("as-ipv4 1 256 0 0", err::E("script", "invalid-arg")));
    EXPECT_TRUE(raises("as-rgba 0 0 0 1000", err::E("script", "invalid-arg")));
}

TEST(Routines, CountChars) {
    // a, U+00E9 and U+20AC in UTF-8.
    const char* b = "b: #{61C3A9E282AC} ";
    libtest::check_all({
        {(std::string(b) + "count-chars b skip b 3").c_str(), "2"},
        {(std::string(b) + "count-chars b tail b").c_str(), "3"},
        {(std::string(b) + "count-chars b b").c_str(), "0"},
        {(std::string(b) + "count-chars tail b b").c_str(), "0"},
        // A step that begins before the position counts whole.
        {(std::string(b) + "count-chars b skip b 2").c_str(), "2"},
        {(std::string(b) + "count-chars next b tail b").c_str(), "2"},
    });
    // A sequence cut by the tail counts once; nothing past the tail is read.
    EXPECT_TRUE(gives("b: #{61E282} count-chars b tail b", "2"));
    // A position past the buffer's tail (of another series) stops at the tail.
    EXPECT_TRUE(gives("b: #{6162} c: #{616263646566} count-chars b skip c 6", "2"));
}

TEST(Routines, DataAndFrameStacks) {
    libtest::check_all({
        {"pick-stack 0", "none"},
        {"pick-stack stack-size?", "none"},
        {"pick-stack -1", "none"},
        {"n: stack-size? n > 1", "true"},
        {"frame-index? > 0", "true"},
        // frame-index? counts the cells below the running function's first argument.
        {"f: func [a] [pick-stack 1 + frame-index?] f 42", "42"},
        {"f: func [a b] [pick-stack 2 + frame-index?] f 1 43", "43"},
        {"tracing?", "false"},
        {"r: none do/trace [r: tracing?] func [e c o v [any-type!] f g] [true] r", "true"},
    });
    // Whatever the stack holds, handing its cells out never breaks mold.
    EXPECT_TRUE(gives("f: func [x /local r] [r: copy [] repeat i stack-size? [append/only r "
                      "pick-stack i] length? mold r] integer? f 1",
                      "true"));
}

TEST(Routines, CollectCallsListsUserFunctionsInnermostFirst) {
    EXPECT_TRUE(gives("f: func [] [g] g: func [] [collect-calls copy []] b: f "
                      "reduce [b/1 b/3 integer? b/2 b/2 > b/4]",
                      "[g f true true]"));
    EXPECT_TRUE(gives("collect-calls copy []", "[]"));
}

TEST(Routines, Directories) {
    char cwd[4096];
    ASSERT_TRUE(::getcwd(cwd, sizeof cwd));
    std::string dir(cwd);
    if (dir.back() != '/') dir += '/';
    EXPECT_TRUE(gives("get-current-dir", "%" + dir));

    char pattern[] = "/tmp/zel-dirs-XXXXXX";
    ASSERT_TRUE(::mkdtemp(pattern));
    std::string base = std::string(pattern) + "/";
    EXPECT_TRUE(gives("exists? %" + base, "true"));
    EXPECT_TRUE(gives("exists? %" + base + "sub", "false"));
    EXPECT_TRUE(gives("type? create-dir %" + base + "sub", "unset!"));
    EXPECT_TRUE(gives("exists? %" + base + "sub", "true"));
    EXPECT_TRUE(raises("create-dir %" + base + "sub", err::E("access", "no-create")));
    EXPECT_TRUE(raises("create-dir %" + base + "a/b", err::E("access", "no-create")));
    EXPECT_TRUE(gives("set-current-dir %" + base + "sub get-current-dir", "%" + base + "sub/"));
    EXPECT_TRUE(raises("set-current-dir %" + base + "missing", err::E("access", "cannot-open")));
    EXPECT_TRUE(gives("set-current-dir %" + dir + " get-current-dir", "%" + dir));
    ::rmdir((base + "sub").c_str());
    ::rmdir(pattern);
}

TEST(Routines, OsInfoAndClipboard) {
    EXPECT_TRUE(gives("words-of os-info", "[name arch version build]"));
    EXPECT_TRUE(gives("word? get in os-info 'arch", "true"));
    // Without a display the clipboard is the program's own.
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    EXPECT_TRUE(gives("write-clipboard \"x\" read-clipboard", "\"x\""));
    EXPECT_TRUE(raises("write-clipboard 5", err::E("script", "invalid-arg")));
}

TEST(Routines, StandardOutput) {
    EXPECT_EQ(printed("write-stdout \"h\xC3\xA9\""), "h\xC3\xA9");
    EXPECT_EQ(printed("write-stdout #{410A42}"), "A\nB");
    EXPECT_EQ(printed("write-stdout next \"abc\""), "bc");
    EXPECT_EQ(printed("write-stdout 12"), "12");
    EXPECT_TRUE(gives("print 1 last-lf?", "true"));
    EXPECT_TRUE(gives("prin 1 last-lf?", "false"));
}

TEST(Routines, QuitReturn) {
    libtest::outcome o = run("quit-return 7");
    EXPECT_EQ(o.status, 7);
    EXPECT_FALSE(o.raised);
}

} // namespace
} // namespace zel
