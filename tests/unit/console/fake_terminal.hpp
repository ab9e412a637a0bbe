// A fake terminal for the line editor's tests: typed bytes come in chunks (a chunk typed after a
// pause lets a waiting escape sequence time out), and the output drives a small screen model
// with the behaviour of a VT terminal (deferred wrap, wide characters, relative moves, clearing,
// scrolling, cursor-position reports), so that tests can look at the screen as a user would.
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

    // Bytes typed after a pause.
    void type(const std::string& bytes) { input_.push_back({bytes, true}); }
    // Bytes that arrive together with the previous ones.
    void type_on(const std::string& bytes) { input_.push_back({bytes, false}); }

    bool terminal_input = true;
    bool terminal_output = true;
    std::string typed_before_answer; // typed-ahead bytes that reach the program before a report
    int raw_depth = 0;
    int raw_entries = 0;
    bool resized = false;
    std::string output;              // everything written
    std::vector<std::string> writes; // each write
    struct snapshot {
        int row, column;
        std::vector<std::string> screen;
    };
    std::vector<snapshot> waits; // the screen whenever the program waits for a key

    long read(u8* buffer, std::size_t n, int timeout_ms) override {
        if (timeout_ms >= 0) {
            if (input_.empty()) return 0;
            if (input_.front().after_pause) {
                input_.front().after_pause = false; // the pause has passed
                return 0;
            }
        } else {
            waits.push_back({row_, column_, screen_text()});
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
    };

    void line_feed() {
        pending_wrap_ = false;
        if (row_ + 1 < rows_) {
            ++row_;
        } else {
            screen_.erase(screen_.begin());
            screen_.push_back(std::u32string(columns_, U' '));
            ++scrolled;
        }
    }

    void put(char32_t c) {
        int w = c >= 0x1F300 && c <= 0x1F5FF ? 2 : display_width::codepoint_columns(c);
        if (w == 0) return;
        if (pending_wrap_ || (w == 2 && column_ == columns_ - 1)) {
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
    int row_ = 0, column_ = 0;
    bool pending_wrap_ = false;
    int state_ = 0;
    std::string params_;
    utf8_stream::decoder decoder_;
    std::deque<chunk> input_;
};

} // namespace zel::testing_terminal
