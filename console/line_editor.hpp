// The console's line editor: reads one line from the terminal with editing keys, history recall
// and Tab completion, redrawing prompt and line with relative cursor movement; from redirected
// input it reads UTF-8 lines instead. Invariant: the caret stays within the line, and the
// tracked cursor is where the terminal's cursor is, counted from the prompt's first row; while
// the editor waits for a key the cursor stands on the caret, never held past the last column.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/terminal.hpp"
#include "console/utf8_stream.hpp"
#include "console/vt_input.hpp"

namespace zel::terminal {

enum class edit_status {
    entered,     // Enter (or a line of redirected input): the line as typed
    escaped,     // Escape: the line followed by the Escape character (27)
    interrupted, // Ctrl-C: the line "q"; or an interrupt (SIGINT) came while waiting
    listed,      // Tab listed several candidates: an empty line; the next edit offers the text
    end_of_input // Ctrl-D on an empty line (the line "q"), or the input ended (an empty line)
};

// What Tab makes of the line: the completed line with its caret, and, when there is more than
// one candidate, the candidates to list.
struct completion {
    std::u32string line;
    std::size_t caret = 0;
    std::vector<std::u32string> candidates;
};
// Called with the line and the caret; nothing when there is nothing to complete. It may throw:
// the terminal is restored on the way out, and the edit is abandoned.
using completer =
    std::function<std::optional<completion>(const std::u32string& line, std::size_t caret)>;

class line_editor {
  public:
    explicit line_editor(port& io);

    // Start-up: tells a terminal from redirected input and measures the terminal.
    void init();
    // Empties the text carried into the next edit.
    void init_globals();
    bool console_input() const { return console_input_; }
    // The window size last measured; nothing when it could not be measured.
    std::optional<screen_size> window_size() const { return window_; }
    void set_completer(completer fn) { complete_ = std::move(fn); }

    // The line to fill and the history (newest first) for the following edits. Enter adds the
    // line at the head of the history unless it is hidden, empty or equal to the newest entry.
    void setup(std::u32string& line, std::vector<std::u32string>& history);
    // Reads one line into the line given to setup. On a terminal the prompt is shown and the
    // terminal is raw for the duration; redirected input shows no prompt.
    edit_status edit(std::u32string_view prompt, bool hidden);

    // Redirected input: one line up to a line feed (not kept; a carriage return is).
    edit_status read_line(std::u32string& line);
    // Raw bytes of standard input, at most n: what read_line has read ahead first, else one read.
    // Answers the count, 0 at the end of input.
    std::size_t read_stdin(u8* buffer, std::size_t n);

  private:
    edit_status edit_loop();
    void measure();
    // Inserts typed text at the caret.
    void insert(std::u32string_view text);
    void fetch_history(long index);
    void add_history();
    void list_candidates(completion& found);
    void finish();
    // Asks for a redraw, made once the keys that have already arrived are handled: `full`
    // writes the text again, `clear_after` clears the screen behind a caret at the end.
    void want_redraw(bool full, bool clear_after = false);
    // Brings the screen up to date: the redraw asked for, or the cursor after echoed text.
    void show();
    void redraw(bool clear_after = false);
    void write_out();
    void window_resized();

    // Cells, counted as positions row * columns + column from the origin row.
    long render(std::u32string_view text, long pos, bool masked, std::string* out) const;
    long advance(long pos, int cells) const;
    // Notes where the terminal's cursor is after text from cell `from` to cell `to` was written.
    void wrote(long from, long to);
    void move_cursor(std::string& out, long row, long column);

    port& io_;
    vt_input::key_reader keys_;
    completer complete_;
    bool console_input_ = true;
    long columns_ = -1;
    std::optional<screen_size> window_;

    std::u32string own_line_;
    std::vector<std::u32string> own_history_;
    std::u32string* line_ = &own_line_;
    std::vector<std::u32string>* history_ = &own_history_;
    std::u32string saved_input_; // text carried into the next edit after a listing
    std::size_t saved_caret_ = 0;

    // The edit under way.
    std::u32string prompt_;
    std::size_t caret_ = 0;
    long history_index_ = -1;
    bool hidden_ = false;
    bool redraw_due_ = false;
    bool full_redraw_ = false;
    bool clear_after_ = false;
    bool placement_due_ = false; // text was echoed at the end; the cursor is not yet placed
    // The line ends inside a control sequence, where text typed after it is not laid out
    // as if written alone.
    bool open_sequence_ = false;
    bool first_redraw_ = true;
    std::string out_; // output not yet written, in the order it is to reach the terminal
    long origin_column_ = 0;
    long cursor_row_ = 0; // the terminal's cursor, rows below the origin row
    long cursor_column_ = 0;
    // The cursor is held past the last column after text that ends there: terminals differ in
    // where a relative move counts from then, so the next move starts with a carriage return.
    bool wrap_pending_ = false;
    long rows_open_ = 0; // rows below the origin row known to be on the screen
    long end_ = 0;       // the cell after the text

    // Redirected input read ahead.
    std::string input_;
    std::size_t input_pos_ = 0;
    utf8_stream::decoder input_decoder_;
};

} // namespace zel::terminal
