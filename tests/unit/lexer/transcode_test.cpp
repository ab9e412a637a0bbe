// `transcode` called as a native (arguments on the data stack, refinements as positions): each
// refinement, binary! and string! sources, and sources whose UTF-8 copy is larger than the
// scratch area.
#include <gtest/gtest.h>

#include "datatypes/binary.hpp"
#include "lexer/scan_hook.hpp"
#include "lexer/transcode.hpp"
#include "tests/unit/lexer/lexer_helpers.hpp"

using namespace zel;

namespace {

// Releases the values the tests keep.
class Transcode : public testing::Test {
  protected:
    void TearDown() override { test::release_kept(); }
};

struct refinements {
    bool next = false, one = false, prescan = false, scan = false;
    const cell* part = nullptr;
    const cell* into = nullptr;
};

// The native's result for the source (string! or binary!) and refinements.
cell transcode_of(const cell& source, refinements r, lexer::callback* cb = nullptr) {
    stack::mark m = stack::save();
    cell none;
    init_none(&none);
    cell* base = stack::push_value(&source);
    stack::push_value(r.part ? r.part : &none);
    stack::push_value(r.into ? r.into : &none);
    stack::push_value(&none);
    stack::arguments = base;
    const i32 given[transcode::refinement::count] = {
        r.next ? 0 : -1, r.one ? 0 : -1,  r.prescan ? 0 : -1, r.scan ? 0 : -1,
        r.part ? 1 : -1, r.into ? 2 : -1, cb ? 3 : -1};
    transcode::run(given, cb);
    cell result = *base;
    stack::restore(m);
    return test::keep(result);
}

cell string_of(std::string_view utf8) {
    cell s;
    string::decode_buffer(reinterpret_cast<const u8*>(utf8.data()), static_cast<u32>(utf8.size()),
                          &s, string::encoding_utf8);
    return test::keep(s);
}

cell binary_of(std::string_view bytes) {
    cell b;
    binary::init_cell_from_bytes(&b, reinterpret_cast<const u8*>(bytes.data()),
                                 static_cast<u32>(bytes.size()));
    return test::keep(b);
}

std::string result_of(const cell& source, refinements r) {
    return test::molded(transcode_of(source, r));
}

cell integer_cell(i32 n) {
    cell c;
    init_integer(&c, n);
    return c;
}

u32 raised_code(const cell& source, refinements r) {
    stack::mark m = stack::save();
    try {
        transcode_of(source, r);
    } catch (const unwind&) {
        stack::restore(m);
        return error::last_code();
    }
    return 0;
}

} // namespace

TEST_F(Transcode, AllValues) {
    EXPECT_EQ(result_of(string_of("1 [a] \"s\""), {}), "[1 [a] \"s\"]");
    EXPECT_EQ(result_of(binary_of("1 [a] \"s\""), {}), "[1 [a] \"s\"]");
    EXPECT_EQ(result_of(string_of(""), {}), "[]");
}

TEST_F(Transcode, NextAndOne) {
    refinements next;
    next.next = true;
    EXPECT_EQ(result_of(string_of("1 2"), next), "[1 \" 2\"]");
    EXPECT_EQ(result_of(string_of("[1 2] 3"), next), "[[1 2] \" 3\"]");
    EXPECT_EQ(result_of(string_of("a/b c"), next), "[a/b \" c\"]");
    EXPECT_EQ(result_of(string_of("#(true) 1"), next), "[true \" 1\"]");
    EXPECT_EQ(result_of(string_of("\xC3\xA9t\xC3\xA9 x"), next), "[\xC3\xA9t\xC3\xA9 \" x\"]");
    EXPECT_EQ(result_of(binary_of("1 2"), next), "[1 #{2032}]");
    refinements one;
    one.one = true;
    EXPECT_EQ(result_of(string_of(" 7 8"), one), "7");
    EXPECT_EQ(result_of(string_of("[7] 8"), one), "[7]");
    refinements both = next;
    both.one = true;
    EXPECT_EQ(result_of(string_of("7 8"), both), "7");
}

TEST_F(Transcode, ScanAndPrescanAnswerTypes) {
    refinements scan;
    scan.scan = true;
    refinements prescan;
    prescan.prescan = true;
    struct row {
        const char* text;
        const char* scanned;
        const char* prescanned;
    } rows[] = {{"12", "integer!", "integer!"},
                {"", "none", "none"},
                {";c", "none", "none"},
                {"1a", "error!", "error!"},
                {"[1 2] x", "block!", "block!"},
                {"[1", "error!", "error!"},
                {"abc", "word!", "word!"},
                {"a/b c", "path!", "path!"},
                {"{abc} 1", "string!", "string!"},
                {"1.5x2", "error!", "pair!"},
                {"2020-01-01", "date!", "date!"},
                {"1 2", "integer!", "integer!"}};
    for (const row& r : rows) {
        EXPECT_EQ(result_of(string_of(r.text), scan), r.scanned) << r.text;
        EXPECT_EQ(result_of(string_of(r.text), prescan), r.prescanned) << r.text;
    }
}

TEST_F(Transcode, Part) {
    refinements r;
    cell three = integer_cell(3);
    r.part = &three;
    EXPECT_EQ(result_of(string_of("1 2 3"), r), "[1 2]");
    cell minus = integer_cell(-5);
    r.part = &minus;
    EXPECT_EQ(result_of(string_of("1 2 3"), r), "[]");
    cell many = integer_cell(1000);
    r.part = &many;
    EXPECT_EQ(result_of(binary_of("1 2 3"), r), "[1 2 3]");
    // A position in a series of the source's type.
    cell source = string_of("1 2 3");
    cell at = source;
    at.w1 = 3;
    r.part = &at;
    EXPECT_EQ(result_of(source, r), "[1 2]");
    cell other = binary_of("1 2 3");
    r.part = &other;
    EXPECT_EQ(raised_code(source, r), err::E("script", "not-same-type").code());
}

TEST_F(Transcode, Into) {
    cell dst = test::load("x");
    refinements r;
    r.into = &dst;
    cell result = transcode_of(string_of("1 2"), r);
    EXPECT_EQ(result.w2, dst.w2);
    EXPECT_EQ(test::molded(dst), "[x 1 2]");
}

TEST_F(Transcode, SourceIndexAndByteOrderMark) {
    cell bom = binary_of("\xEF\xBB\xBF"
                         "1 2");
    EXPECT_EQ(result_of(bom, {}), "[1 2]");
    refinements next;
    next.next = true;
    EXPECT_EQ(result_of(bom, next), "[1 #{2032}]");
    cell past = string_of("1 2");
    past.w1 = 10;
    EXPECT_EQ(result_of(past, {}), "[]");
}

TEST_F(Transcode, TraceWithCallback) {
    test::recorder r;
    r.mask = lexer::event::load;
    cell result = transcode_of(string_of("1 [a]"), {}, &r);
    EXPECT_EQ(test::molded(result), "[1 [a]]");
    EXPECT_EQ(r.events, (std::vector<std::string>{"load integer! 1 1 @1", "load word! 1 a @4"}));
}

// The UTF-8 copy of a string needs up to 2 bytes per 1-byte unit and 3 per 2-byte unit: large
// texts of such characters go to a buffer of their own instead of overrunning the scratch area.
TEST_F(Transcode, LargeNonAsciiSources) {
    struct wide {
        u32 unit;
        u32 code_point;
        u32 count;
    } cases[] = {{1, 0xE9, 60000}, {2, 0x4E2D, 40000}, {1, 0xE9, 49990}, {2, 0x4E2D, 33320}};
    for (const wide& w : cases) {
        cell s;
        string::init_cell_unit(&s, w.count + 2, w.unit);
        series_buffer* b = buffer_of(s.w2);
        text_units::write(tail_ptr(b), w.unit, '"');
        b->tail += w.unit;
        for (u32 i = 0; i < w.count; i++) {
            text_units::write(tail_ptr(b), w.unit, w.code_point);
            b->tail += w.unit;
        }
        text_units::write(tail_ptr(b), w.unit, '"');
        b->tail += w.unit;
        cell block = transcode_of(s, {});
        const cell* text = head_cell(buffer_of(block.w2));
        ASSERT_TRUE(is(text, type_id::string));
        series_buffer* t = buffer_of(text->w2);
        ASSERT_EQ(used_units(t), w.count);
        EXPECT_EQ(text_units::read(head_ptr(t) + (w.count - 1) * unit_of(t), unit_of(t)),
                  w.code_point);
    }
}

// The conversions of the datatypes scan one value's worth of text.
TEST_F(Transcode, ValueFromString) {
    struct row {
        const char* text;
        const char* value; // empty: refused
    } rows[] = {{"abc", "abc"},     {" 3x4", "3x4"}, {"1:30", "1:30:00"}, {"a b", ""},
                {"1a", ""},         {"", ""},        {"[1 2]", "[1 2]"},  {"abc:", "abc:"},
                {"1.2.3", "1.2.3"}, {"x ", ""}};
    for (const row& r : rows) {
        cell out;
        cell text = string_of(r.text);
        bool ok = scan_hook::value_from_string(&text, &out);
        EXPECT_EQ(ok, *r.value != 0) << r.text;
        if (ok) {
            EXPECT_EQ(test::molded(out), r.value) << r.text;
        }
    }
}

// A function value given to /trace goes through the installed adapter; an adapter's callback
// may abandon the scan, leaving the native without a result.
TEST_F(Transcode, TraceThroughTheAdapter) {
    auto call_native = [](const cell& source) {
        stack::mark m = stack::save();
        cell none;
        init_none(&none);
        cell* base = stack::push_value(&source);
        for (int i = 0; i < 3; i++) stack::push_value(&none);
        stack::arguments = base;
        const i32 given[transcode::refinement::count] = {-1, -1, -1, -1, -1, -1, 3};
        transcode::native(given);
        cell result = *base;
        stack::restore(m);
        return result;
    };
    auto saved = transcode::callback_for_value;
    transcode::callback_for_value = nullptr;
    u32 code = 0;
    stack::mark m = stack::save();
    try {
        call_native(string_of("1"));
    } catch (const unwind&) {
        stack::restore(m);
        code = error::last_code();
    }
    EXPECT_EQ(code, err::E("internal", "not-done").code());
    struct abandoning : lexer::callback {
        bool on_event(lexer::event_args& a) override {
            if (a.event == lexer::event::load) throw lexer::scan_abandoned{};
            return true;
        }
    };
    transcode::callback_for_value = [](const cell*) -> std::unique_ptr<lexer::callback> {
        return std::make_unique<abandoning>();
    };
    cell abandoned = call_native(string_of("[1 2] 3"));
    EXPECT_TRUE(is(&abandoned, type_id::unset));
    EXPECT_EQ(lexer::live_scans(), 0u);
    transcode::callback_for_value = saved;
}
