// A face's draw block of 10,000 commands (pens, fills, boxes, lines, shapes, text) painted into
// an 80x24 screen buffer, timed. Prints the median of several runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "evaluator/load_text.hpp"
#include "evaluator/stack.hpp"
#include "gui/terminal/draw.hpp"
#include "runtime/startup.hpp"

int main() {
    using namespace zel;
    startup::init_runtime();
    const char* commands[] = {
        "pen 255.0.0 ",       "fill-pen 0.0.255 ",   "box 1x1 20x8 ",
        "line 0x0 50x15 ",    "triangle 2x2 30x4 10x15 ", "circle 30x10 4 ",
        "ellipse 5x5 20x8 ",  "text 3x3 \"draw in cells\" ", "fill-pen off ",
        "line-width 2 ",
    };
    std::string text = "[";
    for (int i = 0; i < 10000; ++i) text += commands[i % 10];
    text += "]";
    cell none{type_id::none, 0, 0, 0};
    cell* block = stack::push_value(&none);
    if (!load_text::spec_from_text(text, block)) return 1;
    tui::screen_buffer screen;
    screen.size_to(80, 24);
    std::vector<double> t;
    for (int run = 0; run < 15; ++run) {
        screen.clear();
        auto start = std::chrono::steady_clock::now();
        tui::draw::run(*block, {&screen, 10, 2, {10, 2, 70, 22}, 0});
        t.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                              start)
                        .count());
    }
    std::sort(t.begin(), t.end());
    std::printf("draw block of 10000 commands on a 60x20 face: %.3f ms\n", t[t.size() / 2]);
    return 0;
}
