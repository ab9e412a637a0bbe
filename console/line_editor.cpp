// The line editor. Text typed at the end of the line is echoed alone and caret moves only
// reposition the cursor; every other change moves to the prompt's origin, clears to the end of
// the screen and writes prompt and line in one write. Keys that have already arrived (pasted
// text) are handled together and the screen brought up to date once after them, so that a long
// paste costs time in proportion to its length. The text is kept one wrapped line from the
// origin's row on (a row below it is opened by wrapping into it), so that a terminal that
// re-wraps its lines when the window changes size re-wraps the text as a fresh write at the new
// width would lay it out.
#include "console/line_editor.hpp"

#include <algorithm>

#include "runtime/display_width.hpp"
#include "runtime/process.hpp"

namespace zel::terminal {

namespace {

// How long the terminal may take to report the cursor position.
constexpr int cursor_query_ms = 1000;

int cells_of(u32 c) {
    // Pictographs that terminals draw two cells wide whatever their width property says.
    if (c >= 0x1F300 && c <= 0x1F5FF) return 2;
    return display_width::codepoint_columns(c);
}

void append_number_sequence(std::string& out, long n, char final) {
    out += "\x1b[";
    out += std::to_string(n);
    out += final;
}

// Whether text ends inside a control sequence (see render), where text after it would be taken
// into the sequence. It may answer yes for a text that does not: that only costs a redraw.
bool ends_in_sequence(std::u32string_view text) {
    std::size_t i = text.size();
    while (i > 0 && ((text[i - 1] >= '0' && text[i - 1] <= '9') || text[i - 1] == ';')) --i;
    if (i == text.size() && i > 0 && text[i - 1] == 27) return true;
    return i >= 2 && (text[i - 1] == '[' || text[i - 1] == '(') && text[i - 2] == 27;
}

// Keys that go into the line as text.
bool typed_text(i32 key) {
    return key > 31 && key != vt_input::key::del;
}

} // namespace

line_editor::line_editor(port& io) : io_(io), keys_(io) {}

void line_editor::init() {
    console_input_ = io_.input_is_terminal();
    if (console_input_) measure();
}

void line_editor::init_globals() {
    saved_input_.clear();
    saved_caret_ = 0;
}

void line_editor::setup(std::u32string& line, std::vector<std::u32string>& history) {
    line_ = &line;
    history_ = &history;
}

void line_editor::measure() {
    if (auto size = io_.measure()) {
        window_ = size;
        columns_ = size->columns;
    }
    if (columns_ <= 0) columns_ = 80;
}

edit_status line_editor::edit(std::u32string_view prompt, bool hidden) {
    if (!console_input_) {
        hidden_ = false;
        return read_line(*line_);
    }
    hidden_ = hidden;
    first_redraw_ = true;
    prompt_.assign(prompt);
    edit_status status;
    {
        raw_mode raw(io_);
        status = edit_loop();
    }
    io_.write("\r\n");
    return status;
}

edit_status line_editor::edit_loop() {
    std::u32string& line = *line_;
    caret_ = 0;
    history_index_ = -1;
    measure();
    // The text left by a listing is offered once, whatever ends this edit.
    if (!saved_input_.empty()) {
        line += saved_input_;
        caret_ = std::min(saved_caret_, line.size());
        init_globals();
    }
    out_.clear();
    redraw_due_ = clear_after_ = placement_due_ = false;
    full_redraw_ = true;
    redraw();
    for (;;) {
        // The screen is brought up to date before waiting, not after every key.
        if (!keys_.ready_key()) show();
        i32 key = keys_.read_key();
        switch (key) {
        case vt_input::key::resized:
            window_resized();
            break;
        case vt_input::key::interrupted:
            finish();
            return edit_status::interrupted;
        case vt_input::key::tab:
            // A hidden line is never completed: the listing would show what was typed.
            if (!hidden_ && complete_) {
                show(); // the completion may print
                if (auto found = complete_(line, caret_)) {
                    if (found->candidates.empty()) {
                        line = std::move(found->line);
                        caret_ = std::min(found->caret, line.size());
                        want_redraw(true);
                    } else {
                        list_candidates(*found);
                        return edit_status::listed;
                    }
                    break;
                }
            }
            insert(U"\t");
            break;
        case 2:
        case vt_input::key::left:
            if (caret_ > 0) {
                --caret_;
                want_redraw(false);
            }
            break;
        case 6:
        case vt_input::key::right:
            if (caret_ < line.size()) {
                ++caret_;
                want_redraw(false);
            }
            break;
        case vt_input::key::backspace:
        case vt_input::key::del:
            if (caret_ > 0) {
                --caret_;
                u32 gone = line[caret_];
                line.erase(caret_, 1);
                // At the end it is enough to clear behind the cursor, unless the character
                // was drawn over the one before it.
                bool at_end = caret_ == line.size() && (hidden_ || cells_of(gone) > 0);
                want_redraw(!at_end, at_end);
            }
            break;
        case vt_input::key::enter:
            finish();
            add_history();
            init_globals();
            return edit_status::entered;
        case 14:
        case vt_input::key::down:
            if (history_index_ > -1) --history_index_;
            if (history_index_ == -1) {
                line.clear();
                caret_ = 0;
            } else {
                fetch_history(history_index_);
            }
            want_redraw(true);
            break;
        case 16:
        case vt_input::key::up:
            if (history_index_ < static_cast<long>(history_->size()) - 1) {
                fetch_history(++history_index_);
            } else {
                line.clear();
                caret_ = 0;
            }
            want_redraw(true);
            break;
        case 1:
        case vt_input::key::home:
            caret_ = 0;
            want_redraw(false);
            break;
        case 5:
        case vt_input::key::end:
            caret_ = line.size();
            want_redraw(false);
            break;
        case vt_input::key::delete_:
            if (caret_ < line.size()) {
                line.erase(caret_, 1);
                want_redraw(true);
            }
            break;
        case 11:
            if (caret_ < line.size()) {
                line.erase(caret_);
                want_redraw(true);
            }
            break;
        case 4:
            if (caret_ < line.size()) {
                line.erase(caret_, 1);
                want_redraw(true);
            } else if (line.empty()) {
                finish();
                line = U"q";
                return edit_status::end_of_input;
            }
            break;
        case 3:
            finish();
            line = U"q";
            return edit_status::interrupted;
        case vt_input::key::escape:
            finish();
            init_globals();
            line += char32_t(27);
            return edit_status::escaped;
        case vt_input::key::failed:
            // The terminal is gone: nothing more will come, so the edit must not wait for it.
            finish();
            line.clear();
            return edit_status::end_of_input;
        default:
            if (typed_text(key)) {
                // A burst of text (a paste) goes into the line at once.
                std::u32string text(1, static_cast<char32_t>(key));
                for (std::optional<i32> next; (next = keys_.ready_key()) && typed_text(*next);)
                    text += static_cast<char32_t>(keys_.read_key());
                insert(text);
            }
            break;
        }
    }
}

void line_editor::insert(std::u32string_view text) {
    std::u32string& line = *line_;
    if (caret_ == line.size() && !redraw_due_ && !open_sequence_) {
        // The cursor stands at the end of the text, and nothing before it moves: the text is
        // echoed alone, laid out from there as a redraw would lay it out (it holds no Escape).
        line += text;
        long to = render(text, end_, hidden_, &out_);
        wrote(end_, to);
        end_ = to;
        placement_due_ = true;
    } else {
        line.insert(caret_, text);
        want_redraw(true);
    }
    caret_ += text.size();
}

void line_editor::fetch_history(long index) {
    *line_ = (*history_)[static_cast<std::size_t>(index)];
    caret_ = line_->size();
}

void line_editor::add_history() {
    const std::u32string& line = *line_;
    if (hidden_ || line.empty() || (!history_->empty() && history_->front() == line)) return;
    history_->insert(history_->begin(), line);
}

void line_editor::list_candidates(completion& found) {
    saved_input_ = std::move(found.line);
    saved_caret_ = std::min(found.caret, saved_input_.size());
    std::u32string& line = *line_;
    line.clear();
    for (const auto& candidate : found.candidates) {
        line += candidate;
        line += U' ';
    }
    caret_ = line.size();
    want_redraw(true);
    finish();
    line.clear();
}

// Puts the cursor at the start of the last row the text takes, so that the line end written
// after the edit leaves the whole text above the next output.
void line_editor::finish() {
    show();
    long row = end_ / columns_;
    if (end_ % columns_ == 0 && row > 0) --row;
    std::string out;
    move_cursor(out, row, 0);
    if (!out.empty()) io_.write(out);
}

long line_editor::advance(long pos, int cells) const {
    // A wide character that does not fit in the row starts the next one; the cell left over
    // stays empty.
    if (cells == 2 && columns_ > 1 && pos % columns_ == columns_ - 1) return pos + 3;
    return pos + cells;
}

long line_editor::render(std::u32string_view text, long pos, bool masked, std::string* out) const {
    for (std::size_t i = 0; i < text.size(); ++i) {
        u32 c = text[i];
        if (masked) {
            if (out) *out += '*';
            pos = advance(pos, 1);
        } else if (c == '\t') {
            if (out) *out += "    ";
            pos += 4;
        } else if (c == 27) {
            // ESC [ or ESC ( with digits and ";" up to a final character: a control sequence
            // that the terminal acts on and that takes no cells.
            if (out) *out += '\x1b';
            if (i + 1 < text.size() && (text[i + 1] == '[' || text[i + 1] == '(')) {
                ++i;
                if (out) *out += static_cast<char>(text[i]);
                while (++i < text.size()) {
                    u32 d = text[i];
                    if (out) utf8_stream::append(*out, d);
                    if (!((d >= '0' && d <= '9') || d == ';')) break;
                }
            }
        } else {
            if (out) utf8_stream::append(*out, c);
            pos = advance(pos, cells_of(c));
        }
    }
    return pos;
}

void line_editor::wrote(long from, long to) {
    // After the last column the terminal holds the cursor there until the next character.
    wrap_pending_ = to % columns_ == 0 && to > from;
    if (wrap_pending_) {
        cursor_row_ = to / columns_ - 1;
        cursor_column_ = columns_ - 1;
    } else {
        cursor_row_ = to / columns_;
        cursor_column_ = to % columns_;
    }
    rows_open_ = std::max(rows_open_, cursor_row_);
}

void line_editor::move_cursor(std::string& out, long row, long column) {
    if (wrap_pending_) {
        wrap_pending_ = false;
        if (row == cursor_row_ + 1 && column == 0) {
            // The text ends at the end of a row and the caret after it: a blank written past
            // the text wraps into the next row (scrolling at the bottom) as the text itself
            // would, and the carriage return brings the cursor back onto the caret.
            out += " \r";
            cursor_row_ = row;
            cursor_column_ = 0;
            rows_open_ = std::max(rows_open_, row);
            return;
        }
        out += '\r';
        cursor_column_ = 0;
    }
    if (row > rows_open_) {
        // Rows below the text may lie past the bottom of the screen, where moving down stops:
        // line feeds open them, scrolling when needed.
        move_cursor(out, rows_open_, 0);
        for (; cursor_row_ < row; ++cursor_row_) out += "\r\n";
        rows_open_ = row;
    }
    if (row < cursor_row_)
        append_number_sequence(out, cursor_row_ - row, 'A');
    else if (row > cursor_row_)
        append_number_sequence(out, row - cursor_row_, 'B');
    if (column != cursor_column_) {
        if (column == 0)
            out += '\r';
        else if (column > cursor_column_)
            append_number_sequence(out, column - cursor_column_, 'C');
        else
            append_number_sequence(out, cursor_column_ - column, 'D');
    }
    cursor_row_ = row;
    cursor_column_ = column;
}

void line_editor::want_redraw(bool full, bool clear_after) {
    redraw_due_ = true;
    full_redraw_ = full_redraw_ || full;
    clear_after_ = clear_after_ || clear_after;
}

void line_editor::show() {
    if (redraw_due_) {
        // Clearing behind the caret shows removals at the end only while nothing else changed
        // and the caret has stayed at the end.
        bool clear_after = clear_after_ && !full_redraw_ && caret_ == line_->size();
        if (clear_after_ && !clear_after) full_redraw_ = true;
        redraw(clear_after);
    } else if (placement_due_) {
        placement_due_ = false;
        move_cursor(out_, end_ / columns_, end_ % columns_);
    }
    write_out();
}

void line_editor::write_out() {
    if (out_.empty()) return;
    io_.write(out_);
    out_.clear();
}

void line_editor::redraw(bool clear_after) {
    const std::u32string& line = *line_;
    std::string& out = out_;
    bool write_text = full_redraw_;
    bool first = first_redraw_;
    redraw_due_ = full_redraw_ = clear_after_ = placement_due_ = false;
    if (first_redraw_) {
        first_redraw_ = false;
        write_text = true;
        origin_column_ = 0;
        write_out();
        if (auto at = keys_.query_cursor(cursor_query_ms))
            origin_column_ = std::clamp<long>(at->column - 1, 0, columns_ - 1);
        cursor_row_ = 0;
        cursor_column_ = origin_column_;
        wrap_pending_ = false;
        rows_open_ = 0;
    }
    std::u32string_view view(line);
    long start = origin_column_;
    long a = render(prompt_, start, false, nullptr);
    long p = render(view.substr(0, caret_), a, hidden_, nullptr);
    long q = render(view.substr(caret_), p, hidden_, nullptr);
    // A caret in a row the terminal has not opened yet: writing the text again ends it where
    // the wrap into that row can be made.
    if (!write_text && !wrap_pending_ && p / columns_ > rows_open_) write_text = true;
    if (write_text) {
        if (!first) {
            move_cursor(out, 0, start);
            out += "\x1b[J";
        }
        render(prompt_, start, false, &out);
        render(view, a, hidden_, &out);
        wrote(start, q);
    }
    end_ = q;
    open_sequence_ = !hidden_ && ends_in_sequence(view);
    // The caret on a wide character that wraps is shown where that character is drawn.
    if (caret_ < line.size() && !hidden_ && cells_of(line[caret_]) == 2 &&
        p % columns_ == columns_ - 1)
        ++p;
    move_cursor(out, p / columns_, p % columns_);
    if (clear_after) out += "\x1b[J";
    write_out();
}

// The window changed size. Terminals either keep their rows as they are (cut at the new width,
// the cursor kept in its row) or re-wrap their lines (the cursor kept on its character); where
// the cursor is now tells which, and from there the editor finds the origin and redraws.
void line_editor::window_resized() {
    show();
    long old_columns = columns_;
    measure();
    if (columns_ == old_columns) return;
    const std::u32string& line = *line_;
    // Re-wrapped: the text laid out afresh at the new width.
    long caret = render(std::u32string_view(line).substr(0, caret_),
                        render(prompt_, origin_column_, false, nullptr), hidden_, nullptr);
    if (caret_ < line.size() && !hidden_ && cells_of(line[caret_]) == 2 &&
        caret % columns_ == columns_ - 1)
        ++caret;
    long origin_rows = origin_column_ / columns_; // a prompt that began past the new width
    long rewrapped_row = caret / columns_ - origin_rows;
    long rewrapped_column = caret % columns_;
    // Kept: the rows stay, the cursor column is cut to the new width.
    long kept_row = cursor_row_;
    long kept_column = std::min(cursor_column_, columns_ - 1);
    bool rewrapped = true;
    auto at = keys_.query_cursor(cursor_query_ms);
    if (at && at->column - 1 == kept_column && at->column - 1 != rewrapped_column)
        rewrapped = false;
    if (rewrapped) {
        cursor_row_ = rewrapped_row;
        cursor_column_ = rewrapped_column;
        origin_column_ %= columns_;
    } else {
        cursor_row_ = kept_row;
        cursor_column_ = kept_column;
        origin_column_ = std::min(origin_column_, columns_ - 1);
    }
    // The origin cannot be above the screen's first row.
    if (at) cursor_row_ = std::min<long>(cursor_row_, at->row - 1);
    cursor_row_ = std::max(0L, cursor_row_);
    wrap_pending_ = false;
    rows_open_ = cursor_row_;
    full_redraw_ = true;
    redraw();
}

edit_status line_editor::read_line(std::u32string& line) {
    bool any = false;
    u32 cps[2];
    for (;;) {
        if (input_pos_ == input_.size()) {
            input_.resize(4096);
            input_pos_ = 0;
            long n = io_.read(reinterpret_cast<u8*>(input_.data()), input_.size(), -1);
            input_.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
            // A wait broken by a new window size goes on; by an interrupt, it ends here.
            if (n == 0 && !runtime::interrupt_requested) {
                io_.take_resize();
                continue;
            }
            if (n <= 0) {
                // The end of input ends the line like a line feed.
                if (input_decoder_.finish(cps)) line += static_cast<char32_t>(cps[0]);
                return any ? edit_status::entered : edit_status::end_of_input;
            }
        }
        any = true;
        int n = input_decoder_.feed(static_cast<u8>(input_[input_pos_++]), cps);
        for (int i = 0; i < n; ++i) {
            if (cps[i] == '\n') return edit_status::entered;
            line += static_cast<char32_t>(cps[i]);
        }
    }
}

std::size_t line_editor::read_stdin(u8* buffer, std::size_t n) {
    if (input_pos_ < input_.size()) {
        std::size_t take = std::min(n, input_.size() - input_pos_);
        std::copy_n(input_.data() + input_pos_, take, buffer);
        input_pos_ += take;
        return take;
    }
    for (;;) {
        long got = io_.read(buffer, n, -1);
        if (got == 0 && !runtime::interrupt_requested) {
            io_.take_resize(); // a new window size broke the wait: it goes on
            continue;
        }
        return got > 0 ? static_cast<std::size_t>(got) : 0;
    }
}

} // namespace zel::terminal
