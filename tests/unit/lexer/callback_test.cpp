// The callback protocol: the events and their arguments, the answers that skip, drop or stop,
// steering the input, nested scans from a callback, and the console's delimiter check built on
// the open, close and error events.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "tests/unit/lexer/lexer_helpers.hpp"

using namespace zel;

namespace {
// Releases the blocks the tests load.
class LexerCallback : public testing::Test {
  protected:
    void TearDown() override { test::release_kept(); }
};
} // namespace

TEST_F(LexerCallback, EventsOfEachToken) {
    test::recorder r;
    EXPECT_EQ(test::load_molded("a [b] {c} ;x\n1", &r), "[a [b] \"c\" 1]");
    const std::vector<std::string> expected = {
        "prescan word! 1 1-2 @1",       "scan word! 1 1-2 @1",         "load word! 1 a @1",
        "prescan block! 1 3-3 @2",      "open block! 1 3-4 @2",        "prescan word! 1 4-5 @4",
        "scan word! 1 4-5 @4",          "load word! 1 b @4",           "prescan block! 1 5-5 @4",
        "close block! 1 3-6 @4",        "prescan string! 1 7-7 @6",    "open string! 1 7-8 @6",
        "prescan string! 1 8-9 @7",     "close string! 1 7-10 @8",     "scan string! 1 7-10 @9",
        "load string! 1 \"c\" @9",      "prescan comment 1 11-13 @10", "scan comment 1 11-13 @12",
        "prescan integer! 2 14-15 @14", "scan integer! 2 14-15 @14",   "load integer! 2 1 @14"};
    EXPECT_EQ(r.events, expected);
}

TEST_F(LexerCallback, PositionsInCharactersForStrings) {
    struct positions : lexer::callback {
        std::vector<u32> inputs;
        u32 event_mask() const override { return lexer::event::load; }
        bool on_event(lexer::event_args& a) override {
            inputs.push_back(a.input);
            return true;
        }
    } p;
    cell source = test::load("\"\xC3\xA9t\xC3\xA9 ab cd\""); // a string holding "été ab cd"
    cell s = *head_cell(buffer_of(source.w2));
    cell* slot = stack::push_value(&s);
    slot->w1 = 1; // from "té ab cd"
    cell result;
    lexer::scan_options o;
    o.cb = &p;
    lexer::transcode_string(&result, slot, -1, o, nullptr);
    stack::drop_values(1);
    EXPECT_EQ(test::molded(result), "[té ab cd]");
    EXPECT_EQ(p.inputs, (std::vector<u32>{3, 6, 9}));
}

// Positions far apart in a text of multi-byte characters: a close reports its opener, so the
// positions of one event lie far apart, and each must still count characters, not bytes.
TEST_F(LexerCallback, PositionsFarApartInLongText) {
    struct positions : lexer::callback {
        std::vector<std::string> events;
        u32 event_mask() const override { return lexer::event::open | lexer::event::close; }
        bool on_event(lexer::event_args& a) override {
            events.push_back(std::to_string(a.token_start) + "-" + std::to_string(a.token_end) +
                             " @" + std::to_string(a.input));
            return true;
        }
    } p;
    auto repeat = [](const char* c, int n) {
        std::string out;
        for (int i = 0; i < n; i++) out += c;
        return out;
    };
    // 100 x "é", then [ 40 x "ü" [a] 40 x "ö" ] with the blocks' words spaced out.
    std::string text = "\"" + repeat("\xC3\xA9", 100) + "[" + repeat("\xC3\xBC", 40) + " [a] " +
                       repeat("\xC3\xB6", 40) + "]\"";
    cell source = test::load(text);
    cell s = *head_cell(buffer_of(source.w2));
    cell* slot = stack::push_value(&s);
    slot->w1 = 100; // from the first "["
    cell result;
    lexer::scan_options o;
    o.cb = &p;
    o.load = false;
    lexer::transcode_string(&result, slot, -1, o, nullptr);
    stack::drop_values(1);
    // Token positions count from 1; the input is the index (from 0) of the bracket.
    EXPECT_EQ(p.events, (std::vector<std::string>{"101-102 @100", "143-144 @142", "143-146 @144",
                                                  "101-188 @186"}));
}

// A false answer to load drops the value; to scan it skips the value.
TEST_F(LexerCallback, AnswersDropAndSkip) {
    test::recorder r;
    r.refuse = "load integer!";
    EXPECT_EQ(test::load_molded("1 a 2", &r), "[a]");
    test::recorder s;
    s.refuse = "scan word!";
    EXPECT_EQ(test::load_molded("1 a 2 [b]", &s), "[1 2 []]");
    test::recorder p;
    p.refuse = "prescan string!";
    EXPECT_EQ(test::load_molded("\"x\" 3", &p), "[3]");
}

// A false answer to error ends the scan without raising; what was closed is kept.
TEST_F(LexerCallback, ErrorAnswerStopsQuietly) {
    test::recorder r;
    r.refuse = "error integer!";
    EXPECT_EQ(test::load_error("1 2 1a 3", &r).id, "");
    EXPECT_EQ(test::load_molded("1 2 1a 3", &r), "[1 2]");
    test::recorder b;
    b.refuse = "error block!";
    EXPECT_EQ(test::load_molded("x [1 [2", &b), "[x]");
    EXPECT_EQ(b.events.back(), "error block! 1 6-8 @7");
    // A true answer raises the error.
    test::recorder t;
    EXPECT_EQ(test::load_error("[1", &t).id, "missing");
    EXPECT_EQ(t.events.back(), "error block! 1 1-3 @2");
}

TEST_F(LexerCallback, ErrorEventTypes) {
    struct error_type : lexer::callback {
        std::string type;
        u32 event_mask() const override { return lexer::event::error; }
        bool on_event(lexer::event_args& a) override {
            type = test::molded(a.type);
            return false;
        }
    };
    struct row {
        const char* text;
        const char* type;
    } rows[] = {{"[1 2", "block!"},    {"(1 2", "paren!"}, {"#[a", "map!"},     {"1a", "integer!"},
                {"{abc", "string!"},   {"<ab", "tag!"},    {"#{41", "binary!"}, {"\xFF", "error!"},
                {"(1, 2", "point2D!"}, {"[1)", "block!"},  {"#(x)", "error!"}};
    for (const row& w : rows) {
        error_type e;
        test::load(w.text, &e);
        EXPECT_EQ(e.type, w.type) << w.text;
    }
}

// A false answer to close leaves the block open: the close is ignored.
TEST_F(LexerCallback, CloseAnswerKeepsTheMarkerOpen) {
    test::recorder r;
    r.refuse = "close block!";
    EXPECT_EQ(test::load_error("[1] 2", &r).id, "missing");
}

TEST_F(LexerCallback, MaskLimitsTheEvents) {
    test::recorder r;
    r.mask = lexer::event::open | lexer::event::close;
    test::load("a (b) {c}", &r);
    EXPECT_EQ(r.events,
              (std::vector<std::string>{"open paren! 1 3-4 @2", "close paren! 1 3-6 @4",
                                        "open string! 1 7-8 @6", "close string! 1 7-10 @8"}));
}

// Moving the input resumes the scan there.
TEST_F(LexerCallback, SteeringTheInput) {
    struct skipper : lexer::callback {
        u32 event_mask() const override { return lexer::event::prescan; }
        bool on_event(lexer::event_args& a) override {
            if (a.token_end - a.token_start == 4) a.input = 9; // "skip b c" -> "c"
            return true;
        }
    } s;
    EXPECT_EQ(test::load_molded("a skip b c", &s), "[a c]");
}

// Moving the input of a string source far ahead past multi-byte characters lands on the
// character named, not on a byte.
TEST_F(LexerCallback, SteeringPastMultiByteText) {
    struct skipper : lexer::callback {
        u32 event_mask() const override { return lexer::event::prescan; }
        bool on_event(lexer::event_args& a) override {
            if (a.token_end - a.token_start == 4) a.input = 205; // "skip" -> the last " ü"
            return true;
        }
    } s;
    std::string text = "[a skip";
    for (int i = 0; i < 100; i++) text += " \xC3\xBC"; // 100 x " ü": indexes 7 to 206
    text += " c]";
    cell source = test::load("\"" + text + "\"");
    cell str = *head_cell(buffer_of(source.w2));
    cell* slot = stack::push_value(&str);
    cell result;
    lexer::scan_options o;
    o.cb = &s;
    lexer::transcode_string(&result, slot, -1, o, nullptr);
    stack::drop_values(1);
    EXPECT_EQ(test::molded(result), "[[a \xC3\xBC c]]");
}

// A callback may load text itself: the nested scan's values go above the outer scan's in the
// shared value array, which grows and moves while the outer values wait.
TEST_F(LexerCallback, NestedScans) {
    struct nester : lexer::callback {
        std::string inner;
        u32 event_mask() const override { return lexer::event::load; }
        bool on_event(lexer::event_args& a) override {
            if (!is(&a.value, type_id::word) || symbol::text(a.value.w2) != "inner") return true;
            std::string text;
            for (int i = 0; i < 3000; i++) text += std::to_string(i) + " ";
            cell block = test::load(text);
            std::string count = std::to_string(used_units(buffer_of(block.w2)));
            inner = count + " " + test::molded(*(head_cell(buffer_of(block.w2)) + 2999));
            return true;
        }
    } n;
    std::string outer = "[";
    for (int i = 0; i < 500; i++) outer += "x" + std::to_string(i) + " ";
    outer += "inner] tail";
    cell block = test::load(outer, &n);
    EXPECT_EQ(n.inner, "3000 2999");
    series_buffer* b = buffer_of(block.w2);
    ASSERT_EQ(used_units(b), 2u);
    const cell* first = head_cell(b);
    series_buffer* inner = buffer_of(first->w2);
    EXPECT_EQ(used_units(inner), 501u);
    EXPECT_EQ(test::molded(*(head_cell(inner) + 499)), "x499");
    EXPECT_GE(lexer::value_array_capacity(), 3000u);
    EXPECT_EQ(lexer::live_scans(), 0u);
}

// A C++ exception from a callback unwinds through the scan and leaves nothing behind.
TEST_F(LexerCallback, ExceptionsLeaveNoState) {
    struct thrower : lexer::callback {
        u32 event_mask() const override { return lexer::event::open; }
        bool on_event(lexer::event_args&) override { throw std::runtime_error("stop"); }
    } t;
    EXPECT_THROW(test::load("a [b [c", &t), std::runtime_error);
    EXPECT_EQ(lexer::live_scans(), 0u);
    EXPECT_EQ(test::load_molded("[1] 2"), "[[1] 2]");
}

namespace {

// The console's delimiter check: open delimiters are stacked by open and close events; an
// error tells an input that needs more lines from a real syntax error.
struct delimiter_check : lexer::callback {
    struct need_more {};
    struct stop {};
    std::string input;
    std::string delimiters;

    static char delimiter_of(const cell& type) {
        if (!is(&type, type_id::datatype)) return 0;
        switch (type.w1) {
        case type_id::block:
            return '[';
        case type_id::paren:
        case type_id::map:
        case type_id::point2d:
            return '(';
        case type_id::string:
            return '{';
        default:
            return is_any_path_type(type.w1) ? '/' : 0;
        }
    }
    u32 event_mask() const override {
        return lexer::event::open | lexer::event::close | lexer::event::error;
    }
    bool on_event(lexer::event_args& a) override {
        char d = delimiter_of(a.type);
        char last = delimiters.empty() ? 0 : delimiters.back();
        if (a.event == lexer::event::open) {
            delimiters += d;
            return true;
        }
        if (a.event == lexer::event::close) {
            if (d != last) throw stop{};
            delimiters.pop_back();
            return true;
        }
        u32 t = is(&a.type, type_id::datatype) ? a.type.w1 : 0;
        if (t == type_id::error) throw stop{};
        if ((t == type_id::block || t == type_id::paren || t == type_id::map ||
             t == type_id::point2d) &&
            d == last && input.find_first_of(")]") == std::string::npos)
            throw need_more{};
        if (t == type_id::tag) {
            delimiters += '<';
            throw need_more{};
        }
        if (t == type_id::binary && input.size() >= 2 && input[input.size() - 2] != '}') {
            delimiters += '{';
            throw need_more{};
        }
        if (t == type_id::string) {
            u32 start = a.input - (a.token_end - a.token_start);
            if (input[start] == '%') {
                std::size_t head = input.find_first_not_of('%');
                std::size_t before_last = input.size() - 1, tail = 0;
                while (tail < before_last && input[before_last - 1 - tail] == '%') tail++;
                if (head > tail) {
                    delimiters += '{';
                    throw need_more{};
                }
            } else if (last == '{') {
                throw need_more{};
            }
        }
        throw stop{};
    }
    // "complete", "more <delimiters>" or "error".
    std::string check(const std::string& text) {
        input = text;
        delimiters.clear();
        try {
            cell result;
            lexer::scan_options o;
            o.cb = this;
            lexer::scan_utf8(&result, reinterpret_cast<const u8*>(text.data()),
                             static_cast<u32>(text.size()), o, nullptr);
        } catch (const need_more&) {
            return "more " + delimiters;
        } catch (const stop&) {
            return "error";
        }
        return delimiters.empty() ? "complete" : "more " + delimiters;
    }
};

} // namespace

TEST_F(LexerCallback, ConsoleDelimiterCheck) {
    struct row {
        const char* input;
        const char* outcome;
    } rows[] = {{"1 + 2\n", "complete"},
                {"[1 2\n", "more ["},
                {"[1 2\n3]\n", "complete"},
                {"x: [\n  a: (1 + \n", "more [("},
                {"(1 2\n", "more ("},
                {"print {abc\n", "more {"},
                {"print {a {b} c\n", "more {"},
                {"<abc\n", "more <"},
                {"#{41\n", "more {"},
                {"%{abc\n", "more {"},
                {"#[a 1\n", "more ("},
                {"1a\n", "error"},
                {"[1 2)\n", "error"},
                {"]\n", "error"},
                {"\"abc\n", "error"}};
    delimiter_check d;
    for (const row& r : rows) EXPECT_EQ(d.check(r.input), r.outcome) << r.input;
    EXPECT_EQ(lexer::live_scans(), 0u);
}
