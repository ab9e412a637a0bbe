// A clock that moves only when the loop sleeps or a test moves it.
#pragma once
#include "gui/terminal/event_loop.hpp"

namespace zel::tui::testing {

class fake_clock final : public clock {
  public:
    i64 now = 1000;
    i64 now_ms() override { return now; }
    void sleep_ms(int ms) override { now += ms > 0 ? ms : 0; }
};

} // namespace zel::tui::testing
