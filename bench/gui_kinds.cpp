// One Down key in a focused text list of 10,000 entries, from the key to the bytes of the frame
// that shows it: the handlers, the list's rebuild by its TUI helper and the painting. Prints the
// median of several keys.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "evaluator/interp.hpp"
#include "evaluator/load_text.hpp"
#include "evaluator/stack.hpp"
#include "gui/terminal/event_loop.hpp"
#include "gui/terminal/input.hpp"
#include "runtime/startup.hpp"

namespace {

bool run(const char* text) {
    using namespace zel;
    cell* base = stack::top;
    cell none{type_id::none, 0, 0, 0};
    cell* code = stack::push_value(&none);
    bool ok = load_text::block_from_text(text, code);
    if (ok) interp::evaluate_block(code, false);
    stack::top = base;
    return ok;
}

} // namespace

int main() {
    using namespace zel;
    startup::init_runtime();
    if (!run("lst: make face! [type: 'text-list offset: 0x0 size: 30x20 flags: 'focusable "
             "    data: collect [repeat i 10000 [keep rejoin [\"entry \" i]]] selected: 1]\n"
             "win: make face! [type: 'window size: 40x22 pane: reduce [lst]]\n"
             "show win set-focus lst")) {
        std::fprintf(stderr, "the window was not made\n");
        return 1;
    }
    tui::backend& b = tui::program_backend();
    tui::input_item down{tui::input_item::key, tui::key_code::down, tui::event_flag::special};
    std::vector<double> t;
    std::size_t bytes = 0;
    for (int i = 0; i < 41; ++i) {
        auto start = std::chrono::steady_clock::now();
        b.on_input(down);
        bool caret = b.paint(b.screen, b.frame);
        bytes = tui::frame_bytes(b.screen, b.frame, caret).size();
        t.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                              start)
                        .count());
    }
    std::sort(t.begin(), t.end());
    std::printf("Down key in a text list of 10,000 entries to its frame: %.3f ms (%zu bytes)\n",
                t[t.size() / 2], bytes);
    return bytes ? 0 : 1;
}
