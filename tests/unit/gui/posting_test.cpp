// Backend events reach system/view/awake as event! values that keep their fields.
#include <gtest/gtest.h>

#include "gui/terminal/input.hpp"
#include "gui/terminal/posting.hpp"
#include "tests/unit/library/library_fixture.hpp"

namespace zel::tui {
namespace {

TEST(Posting, KeysGoAsKeyDownThenKeyUntilOneIsHandled) {
    using libtest::gives;
    // awake answers done for the key-down of "d" only.
    ASSERT_TRUE(gives("system/view/awake: func [e] [append seen: [] e either all [e/type = "
                      "'key-down e/key = #\"d\"] ['done] [none]] ()",
                      "unset"));
    cell none{type_id::none, 0, 0, 0};
    EXPECT_FALSE(post_key(none, 'a', 0));
    EXPECT_TRUE(post_key(none, 'd', 0));
    EXPECT_FALSE(post_key(none, key_code::up, event_flag::special));
    EXPECT_FALSE(post_key(none, key_code::f1 - 4, event_flag::special));
    EXPECT_FALSE(post_key(none, 0, 0)) << "a key code of 0 sends nothing";
    // Kept after their posting, the events read as they were posted.
    EXPECT_TRUE(gives("collect-fields: func [] [b: copy [] foreach e seen [append b reduce "
                      "[e/type e/key e/picked e/offset e/face]] b] collect-fields",
                      "[key-down #\"a\" 97 0x0 none key #\"a\" 97 0x0 none key-down #\"d\" 100 0x0 "
                      "none key-down up -20 0x0 none key up -20 0x0 none key-down F5 -35 0x0 none "
                      "key F5 -35 0x0 none]"));
    ASSERT_TRUE(gives("system/view/awake: func [e] [none] ()", "unset"));
}

TEST(Posting, OffsetsAreTruncatedAndWheelAmountsAreFloats) {
    using libtest::gives;
    ASSERT_TRUE(gives("system/view/awake: func [e] [last-event: e none] ()", "unset"));
    cell none{type_id::none, 0, 0, 0};
    cell amount{};
    init_float(&amount, 1.0);
    post_event(event_type::wheel, none, 2.9f, 0.4f, none, amount, 0);
    EXPECT_TRUE(
        gives("reduce [last-event/type last-event/offset last-event/picked]", "[wheel 2x0 1.0]"));
    ASSERT_TRUE(gives("system/view/awake: func [e] [none] ()", "unset"));
}

} // namespace
} // namespace zel::tui
