// The text UI's hot paths, timed: assembling a full 200x60 frame of varied attributes, decoding
// 1 MB of mixed keys and mouse reports, and a window of 1,000 text faces: rendering a frame of
// it, hit testing a motion report over it, and a facet assignment up to its repaint request.
// Prints the median of several runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "evaluator/interp.hpp"
#include "evaluator/load_text.hpp"
#include "evaluator/stack.hpp"
#include "gui/terminal/event_loop.hpp"
#include "gui/terminal/input.hpp"
#include "gui/terminal/screen.hpp"
#include "gui/terminal/widgets.hpp"
#include "runtime/startup.hpp"

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

// A terminal of 200x60 that swallows what is written, so that frames cost what they cost.
class quiet_port final : public zel::terminal::port {
  public:
    long read(zel::u8*, std::size_t, int) override { return 0; }
    void write(std::string_view) override {}
    std::optional<zel::terminal::screen_size> measure() override {
        return zel::terminal::screen_size{200, 60};
    }
    bool input_is_terminal() override { return false; }
    bool output_is_terminal() override { return false; }
    void enter_raw_mode() override {}
    void leave_raw_mode() override {}
    bool take_resize() override { return false; }
};

void evaluate(std::string_view text) {
    using namespace zel;
    cell* base = stack::top;
    cell none{type_id::none, 0, 0, 0};
    cell* code = stack::push_value(&none);
    if (!load_text::block_from_text(text, code)) std::abort();
    interp::evaluate_block(code, false);
    stack::top = base;
}

void window_of_faces() {
    using namespace zel::tui;
    zel::startup::init_runtime();
    quiet_port port;
    backend b(port, system_clock());
    evaluate("unless system/view/screens [system/view/platform/init]");
    zel::widgets::attach(b);
    // 1,000 text faces of 5x1 in 40 columns and 25 rows.
    evaluate("faces: collect [repeat y 25 [repeat x 40 [keep make face! [type: 'text size: 5x1 "
             "offset: as-pair x - 1 * 5 y - 1 text: \"abcd\" color: 0.0.128]]]] "
             "win: make face! [type: 'window size: 200x25 pane: faces] show win "
             "target: faces/500");
    if (zel::widgets::live_count() != 1001) std::abort(); // the window and its faces
    double frame = median_ms([&] {
        b.frame.dirty = true;
        b.render();
    });
    std::printf("frame of a window of 1,000 text faces: %.3f ms\n", frame);
    // The first face is searched last: the pane is walked from its end.
    constexpr int reports = 10000;
    double motion = median_ms([&] {
        for (int i = 0; i < reports; ++i) b.decode("\x1b[<35;1;1M");
    });
    std::printf("hit testing a motion report over them: %.3f us\n", motion * 1000 / reports);
    // Two texts in turn: assigning the value a facet holds already changes nothing.
    constexpr int sets = 2000;
    double facet = median_ms(
        [&] { evaluate("loop 1000 [target/text: \"efgh\" target/text: \"abcd\"]"); });
    std::printf("facet assignment with auto-sync? on, to its repaint request: %.3f us\n",
                facet * 1000 / sets);
    evaluate("unview/all");
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
    window_of_faces();
    return items ? 0 : 1;
}
