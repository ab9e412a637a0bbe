// A fake terminal for the line editor's tests: typed bytes come in chunks (a chunk typed after a
// pause lets a waiting escape sequence time out), and the output drives a small screen model
// with the behaviour of a VT terminal (deferred wrap, wide characters, relative moves, clearing,
// scrolling, cursor-position reports), so that tests can look at the screen as a user would.
// Where terminals differ it takes the less forgiving side: while the wrap is deferred the cursor
// stands past the last column, where relative moves count from; and a change of the window size
// either keeps the rows (cut at the new width) or re-wraps the lines, as the test asks.
#pragma once
#include <algorithm>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "console/terminal.hpp"
#include "console/utf8_stream.hpp"
#include "runtime/display_width.hpp"

namespace zel::testing_terminal {

class fake_terminal : public terminal::port {
  public:
    fake_terminal(int columns = 80, int rows = 24) : columns_(columns), rows_(rows) {
        screen_.assign(rows, std::u32string(columns, U' '));
    }

    // Bytes typed after a pause (a pause outlasts a program's look at what has arrived).
    void type(const std::string& bytes) { input_.push_back({bytes, true}); }
    // Bytes that arrive together with the previous ones.
    void type_on(const std::string& bytes) { input_.push_back({bytes, false}); }
    // The window takes a new width once the keys typed before have been read; the wait that
    // sees it is broken as a signal breaks it.
    void resize_after_keys(int columns, bool rewrap) {
        input_.push_back({"", false, columns, rewrap});
    }

    bool terminal_input = true;
    bool terminal_output = true;
    std::string typed_before_answer; // typed-ahead bytes that reach the program before a report
    int raw_depth = 0;
    int raw_entries = 0;
    bool resized = false;
    std::string output;              // everything written
    std::vector<std::string> writes; // each write
    struct snapshot {
        int row, column; // the column is one past the last while the wrap is deferred
        std::vector<std::string> screen;
        std::size_t writes; // writes made so far
    };
    std::vector<snapshot> waits; // the screen whenever the program waits for a key

    long read(u8* buffer, std::size_t n, int timeout_ms) override {
        if (!input_.empty() && input_.front().new_columns > 0) {
            if (timeout_ms == 0) return 0; // the change comes while the program waits
            chunk c = input_.front();
            input_.pop_front();
            resize(c.new_columns, c.rewrap);
            resized = true;
            return 0;
        }
        if (timeout_ms >= 0) {
            if (input_.empty()) return 0;
            if (input_.front().after_pause) {
                if (timeout_ms == 0) return 0;
                input_.front().after_pause = false; // the pause has passed
                return 0;
            }
        } else {
            waits.push_back(
                {row_, column_ + (pending_wrap_ ? 1 : 0), screen_text(), writes.size()});
            if (input_.empty()) return -1;
        }
        chunk& c = input_.front();
        std::size_t take = std::min(n, c.bytes.size());
        std::copy_n(c.bytes.data(), take, buffer);
        c.bytes.erase(0, take);
        c.after_pause = false;
        if (c.bytes.empty()) input_.pop_front();
        return static_cast<long>(take);
    }

    void write(std::string_view bytes) override {
        output.append(bytes);
        writes.emplace_back(bytes);
        for (char c : bytes) interpret(static_cast<u8>(c));
    }

    std::optional<terminal::screen_size> measure() override {
        if (!terminal_output) return std::nullopt;
        return terminal::screen_size{columns_, rows_};
    }
    bool input_is_terminal() override { return terminal_input; }
    bool output_is_terminal() override { return terminal_output; }
    void enter_raw_mode() override {
        ++raw_depth;
        ++raw_entries;
    }
    void leave_raw_mode() override { --raw_depth; }
    bool take_resize() override {
        bool r = resized;
        resized = false;
        return r;
    }

    // Text shown as if written by earlier output (the program's own print, for example).
    void show(const std::string& text) {
        for (char c : text) interpret(static_cast<u8>(c));
    }
    std::string row(int r) const {
        std::string out;
        for (char32_t c : screen_[r])
            if (c != wide_tail) utf8_stream::append(out, c);
        while (!out.empty() && out.back() == ' ') out.pop_back();
        return out;
    }
    std::vector<std::string> screen_text() const {
        std::vector<std::string> out;
        for (int r = 0; r < rows_; ++r) out.push_back(row(r));
        return out;
    }
    int cursor_row() const { return row_; }
    int cursor_column() const { return column_; }
    int scrolled = 0;

  private:
    static constexpr char32_t wide_tail = 0xFFFFFFFF;
    struct chunk {
        std::string bytes;
        bool after_pause;
        int new_columns = 0;
        bool rewrap = false;
    };

    static int width_of(char32_t c) {
        return c >= 0x1F300 && c <= 0x1F5FF ? 2 : display_width::codepoint_columns(c);
    }

    void line_feed() {
        pending_wrap_ = false;
        if (row_ + 1 < rows_) {
            ++row_;
        } else {
            screen_.erase(screen_.begin());
            screen_.push_back(std::u32string(columns_, U' '));
            wrapped_.erase(wrapped_.begin());
            wrapped_.push_back(false);
            ++scrolled;
        }
    }

    void put(char32_t c) {
        int w = width_of(c);
        if (w == 0) return;
        if (pending_wrap_ || (w == 2 && column_ == columns_ - 1)) {
            wrapped_[row_] = true; // the row goes on in the next one
            line_feed();
            column_ = 0;
        }
        screen_[row_][column_] = c;
        if (w == 2) screen_[row_][column_ + 1] = wide_tail;
        column_ += w;
        if (column_ >= columns_) {
            column_ = columns_ - 1;
            pending_wrap_ = true;
        }
    }

    void control_sequence(char final) {
        int n = params_.empty() ? 0 : std::atoi(params_.c_str());
        int count = n > 0 ? n : 1;
        if (pending_wrap_ && (final == 'C' || final == 'D')) column_ = columns_;
        pending_wrap_ = false;
        switch (final) {
        case 'A':
            row_ = std::max(0, row_ - count);
            break;
        case 'B':
            row_ = std::min(rows_ - 1, row_ + count);
            break;
        case 'C':
            column_ = std::min(columns_ - 1, column_ + count);
            break;
        case 'D':
            column_ = std::max(0, column_ - count);
            break;
        case 'J':
            for (int c = column_; c < columns_; ++c) screen_[row_][c] = U' ';
            for (int r = row_ + 1; r < rows_; ++r) screen_[r].assign(columns_, U' ');
            for (int r = row_; r < rows_; ++r) wrapped_[r] = false;
            break;
        case 'n':
            if (n == 6 && terminal_output) {
                std::string answer = typed_before_answer + "\x1b[" + std::to_string(row_ + 1) +
                                     ";" + std::to_string(column_ + 1) + "R";
                typed_before_answer.clear();
                input_.push_front({answer, false});
            }
            break;
        default:
            break; // colours and the like
        }
    }

    void resize(int columns, bool rewrap) {
        pending_wrap_ = false;
        if (!rewrap) {
            // The rows stay, cut at the new width (a wide character cut in two goes).
            for (auto& r : screen_) {
                r.resize(columns, U' ');
                if (!r.empty() && width_of(r.back()) == 2) r.back() = U' ';
            }
            columns_ = columns;
            column_ = std::min(column_, columns_ - 1);
            return;
        }
        // The rows joined into the lines they wrap, each line laid out again at the new width;
        // the cursor stays on its cell, and in its screen row while there are rows above.
        std::vector<std::u32string> lines;
        std::size_t cursor_line = 0, cursor_offset = 0;
        for (int r = 0; r < rows_; ++r) {
            if (r == 0 || !wrapped_[r - 1]) lines.emplace_back();
            if (r == row_) {
                cursor_line = lines.size() - 1;
                cursor_offset = lines.back().size() + column_;
            }
            lines.back() += screen_[r];
        }
        std::vector<std::u32string> rows;
        std::vector<bool> wraps;
        int cursor_row = 0, cursor_column = 0;
        for (std::size_t l = 0; l < lines.size(); ++l) {
            std::u32string& text = lines[l];
            std::size_t keep = text.find_last_not_of(U' ') + 1; // npos + 1 is 0
            if (l == cursor_line) keep = std::max(keep, cursor_offset);
            text.resize(keep);
            rows.emplace_back();
            for (std::size_t i = 0; i <= text.size(); ++i) {
                bool wide = i < text.size() && width_of(text[i]) == 2;
                if (i < text.size() && text[i] == wide_tail) continue;
                if (i < text.size() &&
                    static_cast<int>(rows.back().size()) + (wide ? 2 : 1) > columns) {
                    rows.back().resize(columns, U' ');
                    wraps.push_back(true);
                    rows.emplace_back();
                }
                if (l == cursor_line && i == cursor_offset) {
                    cursor_row = static_cast<int>(rows.size()) - 1;
                    cursor_column =
                        std::min<int>(static_cast<int>(rows.back().size()), columns - 1);
                }
                if (i == text.size()) break;
                rows.back() += text[i];
                if (wide) rows.back() += wide_tail;
            }
            rows.back().resize(columns, U' ');
            wraps.push_back(false);
        }
        int top = std::max(0, cursor_row - row_);
        scrolled += top;
        columns_ = columns;
        for (int r = 0; r < rows_; ++r) {
            std::size_t from = static_cast<std::size_t>(top + r);
            screen_[r] = from < rows.size() ? rows[from] : std::u32string(columns, U' ');
            wrapped_[r] = from < rows.size() && wraps[from];
        }
        row_ = cursor_row - top;
        column_ = cursor_column;
    }

    void interpret(u8 b) {
        if (state_ == 1) { // after ESC
            state_ = b == '[' ? 2 : b == ']' ? 3 : 0;
            params_.clear();
            return;
        }
        if (state_ == 2) {
            if (b >= 0x40 && b <= 0x7E) {
                state_ = 0;
                control_sequence(static_cast<char>(b));
            } else {
                params_ += static_cast<char>(b);
            }
            return;
        }
        if (state_ == 3) { // an operating-system command, up to BEL
            if (b == 7) state_ = 0;
            return;
        }
        u32 cps[2];
        int n = decoder_.feed(b, cps);
        for (int i = 0; i < n; ++i) {
            u32 c = cps[i];
            if (c == 0x1B)
                state_ = 1;
            else if (c == '\r') {
                column_ = 0;
                pending_wrap_ = false;
            } else if (c == '\n') {
                column_ = 0; // output processing turns a line feed into CR LF
                line_feed();
            } else if (c >= 0x20)
                put(c);
        }
    }

    int columns_, rows_;
    std::vector<std::u32string> screen_;
    std::vector<bool> wrapped_ = std::vector<bool>(static_cast<std::size_t>(rows_), false);
    int row_ = 0, column_ = 0;
    bool pending_wrap_ = false;
    int state_ = 0;
    std::string params_;
    utf8_stream::decoder decoder_;
    std::deque<chunk> input_;
};

} // namespace zel::testing_terminal
