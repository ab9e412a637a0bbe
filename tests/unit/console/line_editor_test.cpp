// The line editor over a fake terminal: what the keys make of the line, what the screen shows
// and where the cursor is (wrapping, wide characters, prompts with colours, an origin that is
// not the first column), the bytes of the cheap paths, history, completion, and redirected input.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "console/line_editor.hpp"
#include "console/utf8_stream.hpp"
#include "fake_terminal.hpp"
#include "runtime/process.hpp"

using namespace zel;
using terminal::edit_status;
using zel::testing_terminal::fake_terminal;

namespace {

struct session {
    explicit session(int columns = 80, int rows = 24) : term(columns, rows), editor(term) {
        editor.init();
        editor.setup(line, history);
    }
    edit_status ask(const std::string& prompt = ">> ", bool hidden = false) {
        line.clear();
        return editor.edit(utf8_stream::decode(prompt), hidden);
    }
    std::string text() const { return utf8_stream::encode(line); }
    // The screen while the editor waited for the last chunk of keys.
    const fake_terminal::snapshot& before_last_key() const { return term.waits.back(); }
    fake_terminal term;
    terminal::line_editor editor;
    std::u32string line;
    std::vector<std::u32string> history;
};

} // namespace

TEST(LineEditor, KeysEditTheLine) {
    struct row {
        const char* name;
        std::string typed;
        std::string line;
        edit_status status;
    };
    const edit_status entered = edit_status::entered;
    const row rows[] = {
        {"plain", "abc\r", "abc", entered},
        {"left and insert", "abc\x1b[D\x1b[DX\r", "aXbc", entered},
        {"ctrl-b and ctrl-f", "abc\x02\x02\x06X\r", "abXc", entered},
        {"CSI home and end", "bc\x1b[Ha\x1b[Fd\r", "abcd", entered},
        {"tilde home and end", "bc\x1b[1~a\x1b[4~d\r", "abcd", entered},
        {"ctrl-a and ctrl-e",
         "bc\x01"
         "a\x05"
         "d\r",
         "abcd", entered},
        {"left stops at the start", "\x1b[D\x1b[Dab\r", "ab", entered},
        {"right stops at the end", "ab\x1b[C\x1b[Cc\r", "abc", entered},
        {"backspace and ctrl-h",
         "abc\x7f\x08"
         "d\r",
         "ad", entered},
        {"backspace inside", "abc\x1b[D\x7f\r", "ac", entered},
        {"backspace at the start", "ab\x01\x7f\r", "ab", entered},
        {"delete", "abc\x01\x1b[3~\r", "bc", entered},
        {"delete at the end", "abc\x1b[3~\r", "abc", entered},
        {"ctrl-k", "abcd\x1b[D\x1b[D\x0b\r", "ab", entered},
        {"ctrl-d inside", "abc\x01\x04\r", "bc", entered},
        {"ctrl-d at the end", "abc\x04\r", "abc", entered},
        {"ctrl-d on an empty line", "\x04", "q", edit_status::end_of_input},
        {"ctrl-c", "abc\x03", "q", edit_status::interrupted},
        {"unmapped keys",
         "\x1b[2~\x1b[5~\x1b[6~\x1b[15~\x07\x1a"
         "a\r",
         "a", entered},
        {"line feed enters", "ab\n", "ab", entered},
        {"utf-8", "h\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80\r",
         "h\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80", entered},
        {"input ends", "abc", "", edit_status::end_of_input},
    };
    for (const row& r : rows) {
        session s;
        s.term.type(r.typed);
        EXPECT_EQ(s.ask(), r.status) << r.name;
        EXPECT_EQ(s.text(), r.line) << r.name;
        EXPECT_EQ(s.term.raw_depth, 0) << r.name;
        EXPECT_EQ(s.term.raw_entries, 1) << r.name;
    }
}

TEST(LineEditor, AnInterruptEndsTheWait) {
    session s;
    s.term.type("ab\r");
    runtime::interrupt_requested = 1; // SIGINT came: no key is waited for any more
    EXPECT_EQ(s.ask(), edit_status::interrupted);
    runtime::interrupt_requested = 0;
    EXPECT_EQ(s.term.raw_depth, 0);
    EXPECT_TRUE(s.history.empty());
}

TEST(LineEditor, LoneEscapeEndsTheEditWithTheEscapeCharacter) {
    session s;
    s.term.type("abc");
    s.term.type("\x1b"); // nothing follows: a lone Escape
    s.term.type("d\r");
    EXPECT_EQ(s.ask(), edit_status::escaped);
    EXPECT_EQ(s.text(), "abc\x1b");
    EXPECT_TRUE(s.history.empty());
    EXPECT_EQ(s.ask(), edit_status::entered) << "the key after the Escape belongs to the next line";
    EXPECT_EQ(s.text(), "d");
}

TEST(LineEditor, ScreenAndCursor) {
    session s(20, 5);
    s.term.type("abc");
    s.term.type("\x1b[D\x1b[D");
    s.term.type("\r");
    s.ask();
    EXPECT_EQ(s.term.waits.at(1).screen[0], ">> abc");
    EXPECT_EQ(s.term.waits.at(1).column, 6);
    EXPECT_EQ(s.before_last_key().column, 4);
    // After Enter the next output starts on the row below.
    EXPECT_EQ(s.term.cursor_row(), 1);
    EXPECT_EQ(s.term.cursor_column(), 0);
}

TEST(LineEditor, TypingAtTheEndEchoesOnlyTheCharacter) {
    session s;
    s.term.type("a");
    s.term.type("b");
    s.term.type("\x1b[D");
    s.term.type("\x7f");
    s.term.type("\x1b[C");
    s.term.type("\x7f");
    s.term.type("\r");
    s.ask();
    // Writes: the cursor query, the prompt, then one write per key.
    ASSERT_GE(s.term.writes.size(), 8u);
    EXPECT_EQ(s.term.writes[0], "\x1b[6n");
    EXPECT_EQ(s.term.writes[1], ">> ");
    EXPECT_EQ(s.term.writes[2], "a");
    EXPECT_EQ(s.term.writes[3], "b");
    EXPECT_EQ(s.term.writes[4], "\x1b[1D") << "a caret move only repositions";
    // Backspace inside the line redraws from the prompt's origin.
    EXPECT_EQ(s.term.writes[5], "\r\x1b[J>> b\x1b[1D");
    EXPECT_EQ(s.term.writes[6], "\x1b[1C");
    EXPECT_EQ(s.term.writes[7], "\x1b[1D\x1b[J") << "backspace at the end clears behind the cursor";
    EXPECT_EQ(s.text(), "");
}

TEST(LineEditor, LongLinesWrap) {
    session s(10, 6);
    s.term.type("abcdefghijkl");
    s.term.type("\x1b[H");
    s.term.type("X");
    s.term.type("\x1b[F\r");
    s.ask();
    const auto& typed = s.term.waits.at(1);
    EXPECT_EQ(typed.screen[0], ">> abcdefg");
    EXPECT_EQ(typed.screen[1], "hijkl");
    EXPECT_EQ(typed.row, 1);
    EXPECT_EQ(typed.column, 5);
    EXPECT_EQ(s.term.waits.at(2).row, 0) << "home goes back to the first row";
    EXPECT_EQ(s.term.waits.at(2).column, 3);
    const auto& inserted = s.term.waits.at(3);
    EXPECT_EQ(inserted.screen[0], ">> Xabcdef");
    EXPECT_EQ(inserted.screen[1], "ghijkl");
    EXPECT_EQ(inserted.row, 0);
    EXPECT_EQ(inserted.column, 4);
    EXPECT_EQ(s.text(), "Xabcdefghijkl");
    EXPECT_EQ(s.term.cursor_row(), 2);
    EXPECT_EQ(s.term.cursor_column(), 0);
}

TEST(LineEditor, TextThatFillsTheRowOpensTheNextOne) {
    session s(10, 6);
    s.term.type("abcdefg"); // the prompt and 7 characters fill the row exactly
    s.term.type("\x7f");
    s.term.type("g\r");
    s.ask();
    EXPECT_EQ(s.term.waits.at(1).screen[0], ">> abcdefg");
    EXPECT_EQ(s.term.waits.at(1).row, 1);
    EXPECT_EQ(s.term.waits.at(1).column, 0);
    EXPECT_EQ(s.term.waits.at(2).screen[0], ">> abcdef");
    EXPECT_EQ(s.term.waits.at(2).row, 0);
    EXPECT_EQ(s.term.waits.at(2).column, 9);
    // Enter leaves no empty row below a text that fills its last row.
    EXPECT_EQ(s.term.cursor_row(), 1);
    EXPECT_EQ(s.term.screen_text()[1], "");
}

// A change that leaves the caret in the last column of a full row: the text written ends at the
// end of the row, where the terminal defers the wrap; the cursor must still stand on the caret,
// and the next caret move count from there.
TEST(LineEditor, CaretInTheLastColumnAfterARemoval) {
    const std::string left = "\x1b[D";
    struct row {
        const char* name;
        std::string to_the_place; // typed before the removal
        std::string removal;
    };
    const row rows[] = {
        {"backspace", "abcdefgh" + left, "\x7f"},
        {"delete", "abcdefgh" + left + left, "\x1b[3~"},
    };
    for (const row& r : rows) {
        session s(10, 6);
        s.term.type(r.to_the_place);
        s.term.type(r.removal);
        s.term.type(left);
        s.term.type("X");
        s.term.type("\r");
        s.ask();
        const auto& removed = s.term.waits.at(2);
        EXPECT_EQ(removed.screen[0], ">> abcdefh") << r.name;
        EXPECT_EQ(removed.row, 0) << r.name;
        EXPECT_EQ(removed.column, 9) << r.name;
        EXPECT_EQ(s.term.waits.at(3).column, 8) << r.name;
        EXPECT_EQ(s.before_last_key().screen[0], ">> abcdeXf") << r.name;
        EXPECT_EQ(s.before_last_key().screen[1], "h") << r.name;
        EXPECT_EQ(s.text(), "abcdeXfh") << r.name;
    }
}

// The window changes width while a line of several rows is edited. Whether the terminal keeps
// its rows or re-wraps its lines, the redrawn line starts right below the output before it, no
// row of the old layout stays, and the cursor stands on the caret.
TEST(LineEditor, RedrawAfterTheWindowChangesWidth) {
    struct row {
        const char* name;
        std::string caret_keys; // where the caret goes before the change
        int columns;
        bool rewrap;
    };
    const std::string home_right = "\x1b[H\x1b[C";
    const row rows[] = {
        {"narrower, re-wrapped", "", 25, true},
        {"narrower, rows kept", "", 25, false},
        {"wider, re-wrapped", "", 60, true},
        {"wider, rows kept", "", 60, false},
        {"narrower, caret on the first row, re-wrapped", home_right, 25, true},
        {"narrower, caret on the first row, rows kept", home_right, 25, false},
        {"narrower, caret inside, re-wrapped", "\x1b[D\x1b[D\x1b[D", 25, true},
    };
    const std::string text = std::string(40, 'x') + std::string(40, 'y');
    for (const row& r : rows) {
        session s(40, 12);
        s.term.show("\r\n1\r\n"); // output above the prompt, with a row to spare above it
        s.term.type(text);
        if (!r.caret_keys.empty()) s.term.type(r.caret_keys);
        s.term.resize_after_keys(r.columns, r.rewrap);
        s.term.type("Q");
        s.term.type("\r");
        s.ask();
        std::string line = s.text();
        std::size_t caret = line.find('Q') + 1;
        // The line as written afresh at the new width.
        std::string shown = ">> " + line;
        std::vector<std::string> expected;
        for (std::size_t i = 0; i < shown.size(); i += r.columns)
            expected.push_back(shown.substr(i, r.columns));
        const auto& seen = s.before_last_key();
        auto above = std::find(seen.screen.begin(), seen.screen.end(), "1");
        if (above == seen.screen.end()) {
            ADD_FAILURE() << r.name << ": the output above is gone";
            continue;
        }
        int first = static_cast<int>(above - seen.screen.begin()) + 1;
        for (int i = first; i < static_cast<int>(seen.screen.size()); ++i) {
            std::size_t k = static_cast<std::size_t>(i - first);
            EXPECT_EQ(seen.screen[i], k < expected.size() ? expected[k] : "")
                << r.name << ", row " << i;
        }
        long p = 3 + static_cast<long>(caret);
        EXPECT_EQ(seen.row, first + p / r.columns) << r.name;
        EXPECT_EQ(seen.column, p % r.columns) << r.name;
    }
}

TEST(LineEditor, WideCharacters) {
    session s(10, 6);
    s.term.type("abcdef\xe4\xb8\xad"); // 中 does not fit in the last column
    s.term.type("\x1b[D");
    s.term.type("\x1b[D");
    s.term.type("\r");
    s.ask();
    const auto& typed = s.term.waits.at(1);
    EXPECT_EQ(typed.screen[0], ">> abcdef") << "the last cell stays empty";
    EXPECT_EQ(typed.screen[1], "\xe4\xb8\xad");
    EXPECT_EQ(typed.row, 1);
    EXPECT_EQ(typed.column, 2);
    EXPECT_EQ(s.term.waits.at(2).row, 1) << "the caret on the wrapped wide character";
    EXPECT_EQ(s.term.waits.at(2).column, 0);
    EXPECT_EQ(s.term.waits.at(3).row, 0);
    EXPECT_EQ(s.term.waits.at(3).column, 8);
    EXPECT_EQ(s.text(), "abcdef\xe4\xb8\xad");
}

TEST(LineEditor, NarrowCharacterAboveLatin1InTheLastColumn) {
    session s(10, 6);
    s.term.type("abcdef\xd0\x96x"); // Ж is one cell and fits in the last column
    s.term.type("\x1b[D");
    s.term.type("\x1b[D");
    s.term.type("\r");
    s.ask();
    EXPECT_EQ(s.term.waits.at(1).screen[0], ">> abcdef\xd0\x96");
    EXPECT_EQ(s.term.waits.at(1).screen[1], "x");
    EXPECT_EQ(s.term.waits.at(3).row, 0) << "the caret stays on the row where the character is";
    EXPECT_EQ(s.term.waits.at(3).column, 9);
}

TEST(LineEditor, CombiningMarksAndTabs) {
    session s(20, 4);
    s.term.type("e\xcc\x81"
                "x");
    s.term.type("\x7f");
    s.term.type("\x7f");
    s.term.type("\t"); // nothing completes: Tab goes into the line, shown as four spaces
    s.term.type("\r");
    s.ask();
    EXPECT_EQ(s.term.waits.at(1).column, 5) << "the combining accent takes no cell";
    EXPECT_EQ(s.term.waits.at(3).screen[0], ">> e") << "removing the accent redraws the e alone";
    EXPECT_EQ(s.text(), "e\t");
    EXPECT_EQ(s.before_last_key().column, 8);
    EXPECT_EQ(s.term.writes.back(), "\r\n");
    EXPECT_EQ(s.term.screen_text()[0], ">> e");
}

TEST(LineEditor, PromptWithColourSequences) {
    session s(10, 4);
    s.term.type("abcdefgh");
    s.term.type("\r");
    s.ask("\x1b[32m>> \x1b[0m");
    EXPECT_EQ(s.term.writes[1], "\x1b[32m>> \x1b[0m");
    EXPECT_EQ(s.before_last_key().screen[0], ">> abcdefg");
    EXPECT_EQ(s.before_last_key().screen[1], "h");
    EXPECT_EQ(s.before_last_key().column, 1);
}

TEST(LineEditor, PromptStartsWhereTheCursorIs) {
    session s(10, 4);
    s.term.show("Name:");
    s.term.type("abcdef");
    s.term.type("\x1b[H");
    s.term.type("\r");
    s.ask("? ");
    EXPECT_EQ(s.term.waits.at(1).screen[0], "Name:? abc");
    EXPECT_EQ(s.term.waits.at(1).screen[1], "def");
    EXPECT_EQ(s.term.waits.at(2).row, 0);
    EXPECT_EQ(s.term.waits.at(2).column, 7);
}

TEST(LineEditor, WithoutCursorReportsThePromptStartsAtTheLeft) {
    session s(10, 4);
    s.term.terminal_output = false;
    s.term.type("ab");
    s.term.type("\r");
    s.ask();
    EXPECT_EQ(s.term.output.find("\x1b[6n"), std::string::npos);
    EXPECT_EQ(s.text(), "ab");
    EXPECT_EQ(s.before_last_key().column, 5);
}

TEST(LineEditor, EndingInsideAWrappedLineLeavesTheTextAbove) {
    for (const char* end : {"\r", "\x03", "\x04\x04"}) {
        session s(10, 6);
        s.term.type(std::string("abcdefghijklmn\x1b[H") + end);
        s.ask();
        EXPECT_EQ(s.term.cursor_row(), 2) << int(end[0]);
        EXPECT_EQ(s.term.cursor_column(), 0) << int(end[0]);
    }
}

TEST(LineEditor, HiddenInput) {
    session s(20, 4);
    s.term.type("s3cr\xc3\xa9t");
    s.term.type("\r");
    EXPECT_EQ(s.ask("Password: ", true), edit_status::entered);
    EXPECT_EQ(s.text(), "s3cr\xc3\xa9t");
    EXPECT_EQ(s.before_last_key().screen[0], "Password: ******");
    EXPECT_EQ(s.term.output.find("s3cr"), std::string::npos);
    EXPECT_TRUE(s.history.empty());
}

TEST(LineEditor, HistoryAdds) {
    session s;
    for (const char* typed : {"one\r", "two\r", "two\r", "\r", "one\r"}) {
        s.term.type(typed);
        s.ask();
    }
    EXPECT_EQ(s.history, (std::vector<std::u32string>{U"one", U"two", U"one"}));
}

TEST(LineEditor, HistoryRecall) {
    struct row {
        std::string keys;
        std::string line;
    };
    const std::string up = "\x1b[A", down = "\x1b[B";
    const row rows[] = {
        {up, "new"},
        {up + up, "old"},
        {up + up + up, ""}, // beyond the oldest
        {up + up + up + down, "new"},
        {up + down, ""}, // beyond the newest
        {"\x10\x10\x0e", "new"},
        {"typed" + down, ""},
        {up + "!", "new!"},
    };
    for (const row& r : rows) {
        session s;
        s.history = {U"new", U"old"};
        s.term.type(r.keys + "\r");
        s.ask();
        EXPECT_EQ(s.text(), r.line) << r.keys;
    }
    session s;
    s.term.type("\x1b[A\x1b[A\r");
    s.ask();
    EXPECT_EQ(s.text(), "") << "an empty history";
}

TEST(LineEditor, HistoryEntryReplacesTheScreenLine) {
    session s(20, 4);
    s.history = {U"short"};
    s.term.type("a much longer line");
    s.term.type("\x1b[A");
    s.term.type("\r");
    s.ask();
    EXPECT_EQ(s.before_last_key().screen[0], ">> short");
    EXPECT_EQ(s.before_last_key().screen[1], "");
    EXPECT_EQ(s.before_last_key().column, 8);
}

TEST(LineEditor, CompletionWithOneCandidate) {
    session s;
    std::u32string seen;
    std::size_t seen_caret = 99;
    s.editor.set_completer([&](const std::u32string& line, std::size_t caret) {
        seen = line;
        seen_caret = caret;
        return terminal::completion{U"print append x", 12, {}};
    });
    s.term.type("print app x\x1b[D\x1b[D\t");
    s.term.type("!\r");
    s.ask();
    EXPECT_EQ(seen, U"print app x");
    EXPECT_EQ(seen_caret, 9u);
    EXPECT_EQ(s.text(), "print append! x");
}

TEST(LineEditor, CompletionListsCandidatesAndOffersTheCommonPart) {
    session s(40, 6);
    s.editor.set_completer([&](const std::u32string& line, std::size_t) {
        return terminal::completion{U"ab", 2, {U"abc", U"abd"}};
    });
    s.term.type("a\t");
    EXPECT_EQ(s.ask(), edit_status::listed);
    EXPECT_EQ(s.text(), "");
    EXPECT_TRUE(s.history.empty());
    s.term.type("c\r");
    EXPECT_EQ(s.ask(), edit_status::entered);
    EXPECT_EQ(s.text(), "abc");
    const auto& screen = s.term.screen_text();
    EXPECT_EQ(screen[0], ">> abc abd");
    EXPECT_EQ(screen[1], ">> abc");

    // The offered text is shown once: an edit ended otherwise does not bring it back.
    s.term.type("a\t");
    s.ask();
    s.term.type("\x03");
    s.ask();
    s.term.type("z\r");
    s.ask();
    EXPECT_EQ(s.text(), "z");
}

TEST(LineEditor, NothingToCompleteInsertsATab) {
    session s;
    int calls = 0;
    s.editor.set_completer([&](const std::u32string&, std::size_t) {
        ++calls;
        return std::optional<terminal::completion>();
    });
    s.term.type("x\ty\r");
    s.ask();
    EXPECT_EQ(s.text(), "x\ty");
    EXPECT_EQ(calls, 1);

    // A hidden line is not completed: the candidates would show what was typed.
    s.term.type("x\t\r");
    s.ask("? ", true);
    EXPECT_EQ(s.text(), "x\t");
    EXPECT_EQ(calls, 1);
}

TEST(LineEditor, FailingCompletionRestoresTheTerminal) {
    session s;
    s.editor.set_completer(
        [](const std::u32string&, std::size_t) -> std::optional<terminal::completion> {
            throw std::runtime_error("completion failed");
        });
    s.term.type("ab\t");
    EXPECT_THROW(s.ask(), std::runtime_error);
    EXPECT_EQ(s.term.raw_depth, 0);
}

TEST(LineEditor, RedirectedInput) {
    session s;
    s.term.terminal_input = false;
    s.editor.init();
    s.term.type("one\ntw");
    s.term.resize_after_keys(60, true); // a signal that breaks the wait is not the input's end
    s.term.type("o\r\n");
    s.term.type_on("caf\xc3\xa9\n\xc3\nb\xff\nlast");
    const char* expected[] = {"one",          "two\r",         "caf\xc3\xa9",
                              "\xef\xbf\xbe", "b\xef\xbf\xbe", "last"};
    for (const char* e : expected) {
        EXPECT_EQ(s.ask(), edit_status::entered);
        EXPECT_EQ(s.text(), e);
    }
    EXPECT_EQ(s.ask(), edit_status::end_of_input);
    EXPECT_EQ(s.text(), "");
    EXPECT_EQ(s.ask(), edit_status::end_of_input);
    EXPECT_EQ(s.term.output, "") << "no prompt, no echo";
    EXPECT_EQ(s.term.raw_entries, 0);
    EXPECT_TRUE(s.history.empty());
}

TEST(LineEditor, RawReadsServeTheBytesReadAhead) {
    session s;
    s.term.terminal_input = false;
    s.editor.init();
    s.term.type("line\nrest of it");
    s.term.type("more");
    s.ask();
    EXPECT_EQ(s.text(), "line");
    u8 buffer[64];
    std::size_t n = s.editor.read_stdin(buffer, sizeof buffer);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), n), "rest of it");
    n = s.editor.read_stdin(buffer, 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), n), "mo");
}

TEST(LineEditor, PastedLinesAreReadOneByOne) {
    session s(20, 6);
    s.term.type("1 + 2\r[1 2\r3]\r");
    const char* expected[] = {"1 + 2", "[1 2", "3]"};
    for (const char* e : expected) {
        EXPECT_EQ(s.ask(), edit_status::entered);
        EXPECT_EQ(s.text(), e);
    }
    EXPECT_EQ(s.ask(), edit_status::end_of_input);
    const auto& screen = s.term.screen_text();
    EXPECT_EQ(screen[0], ">> 1 + 2");
    EXPECT_EQ(screen[1], ">> [1 2");
    EXPECT_EQ(screen[2], ">> 3]");
}

// Keys that arrive together (pasted text) leave the screen and the cursor as the same keys typed
// one by one do, and the screen is written once for all of them.
TEST(LineEditor, KeysArrivingTogetherAreShownOnce) {
    const std::string left = "\x1b[D", home = "\x1b[H", end = "\x1b[F", del = "\x7f";
    struct row {
        const char* name;
        std::vector<std::string> keys;
    };
    const row rows[] = {
        {"text over several rows", {"abcdefghijklmnopqrstuvwxyz0123456789"}},
        {"text that fills the row", {"abcdefg"}},
        {"removal at the end of a full row", {"abcdefgh", del}},
        {"removals at the end, then the caret home", {"abcd", del, del, home}},
        {"edits inside, then text at the end", {"abcdefghijk", left, left, "X", end, "yz"}},
        {"insertion after home", {"abcdefghijkl", home, "Z"}},
        {"a wide character that does not fit", {"abcdef\xe4\xb8\xad", "g"}},
        {"tab and combining mark", {"a\tb", "e\xcc\x81"}},
    };
    for (const row& r : rows) {
        session one_by_one(10, 8), together(10, 8);
        std::string all;
        for (const std::string& k : r.keys) {
            one_by_one.term.type(k);
            all += k;
        }
        together.term.type(all);
        for (session* s : {&one_by_one, &together}) {
            s->term.type("\r");
            s->ask();
        }
        const auto& a = one_by_one.before_last_key();
        const auto& b = together.before_last_key();
        EXPECT_EQ(b.screen, a.screen) << r.name;
        EXPECT_EQ(b.row, a.row) << r.name;
        EXPECT_EQ(b.column, a.column) << r.name;
        EXPECT_EQ(together.text(), one_by_one.text()) << r.name;
        EXPECT_EQ(b.writes, 3u) << r.name << ": the cursor query, the prompt, then one write";
    }
}

TEST(LineEditor, TextPastTheLastRowScrollsWithItsOrigin) {
    session s(10, 3);
    s.term.show("one\r\ntwo\r\n"); // the prompt starts on the last row
    s.term.type("abcdefghijklmnop");
    s.term.type("\x1b[H");
    s.term.type("X");
    s.term.type("\r");
    s.ask();
    EXPECT_EQ(s.term.waits.at(1).screen,
              (std::vector<std::string>{"two", ">> abcdefg", "hijklmnop"}));
    EXPECT_EQ(s.term.waits.at(2).row, 1);
    EXPECT_EQ(s.term.waits.at(2).column, 3);
    EXPECT_EQ(s.term.waits.at(3).screen,
              (std::vector<std::string>{"two", ">> Xabcdef", "ghijklmnop"}));
    EXPECT_EQ(s.term.waits.at(3).column, 4);
    EXPECT_EQ(s.text(), "Xabcdefghijklmnop");
}
