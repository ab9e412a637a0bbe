// The text UI's hot paths, timed: assembling a full 200x60 frame of varied attributes, and
// decoding 1 MB of mixed keys and mouse reports. Prints the median of several runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "gui/terminal/input.hpp"
#include "gui/terminal/screen.hpp"

namespace {

template <class F> double median_ms(F&& f, int runs = 15) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        auto start = std::chrono::steady_clock::now();
        f();
        t.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

} // namespace

int main() {
    using namespace zel::tui;
    screen_buffer b;
    b.size_to(200, 60);
    const zel::u32 flags[] = {0,
                              attr::bold,
                              attr::dim | attr::bold,
                              attr::reverse,
                              attr::underline,
                              attr::italic | attr::strike};
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 200; ++x)
            b.row(y)[x] = {static_cast<zel::u32>(x % 7 == 0 ? 0x65E5 : 'a' + (x + y) % 26),
                           colour::palette(static_cast<zel::u32>((x / 3 + y) % 256)),
                           colour::palette(static_cast<zel::u32>((x * 7 + y) % 256)),
                           flags[(x / 5 + y) % 6]};
    std::size_t bytes = 0;
    double frame = median_ms([&] {
        frame_state s;
        bytes = frame_bytes(b, s, false).size();
    });
    std::printf("frame 200x60, varied attributes: %.3f ms (%zu bytes)\n", frame, bytes);

    std::string input;
    const char* pieces[] = {
        "abc",           "\x1b[A", "\x1b[<0;10;5M", "\x1b[<35;120;40M", "\xe2\x82\xac",
        "\x1b[<0;10;5m", "\r",     "\x1b[15~"};
    for (int i = 0; input.size() < (1u << 20); ++i) input += pieces[i % 8];
    std::size_t items = 0;
    double decode = median_ms([&] {
        input_decoder d;
        std::deque<input_item> out;
        for (std::size_t at = 0; at < input.size(); at += 4096) {
            d.pass(std::string_view(input).substr(at, 4096), out);
            items += out.size();
            out.clear();
        }
    });
    std::printf("decode 1 MB of keys and mouse reports: %.3f ms\n", decode);
    return items ? 0 : 1;
}
