// The random generator: its first draws after the start-up seed, ranges and reseeding.
#include <gtest/gtest.h>

#include "evaluator/random.hpp"

using namespace zel;

TEST(Random, FirstDrawsAfterStartUpSeed) {
    random::start_up();
    EXPECT_EQ(random::next_uint32(), 1573102752);
    EXPECT_EQ(random::next_uint32(), 2054623780);
    EXPECT_EQ(random::next_uint32(), 1026451266);
}

TEST(Random, RangesAndReseeding) {
    random::seed(42);
    std::vector<i32> first;
    for (int i = 0; i < 2000; i++) {
        i32 d = random::next_uint32();
        ASSERT_GE(d, 0); // also across regenerations of the state
        first.push_back(d);
    }
    random::seed(42);
    for (int i = 0; i < 2000; i++) ASSERT_EQ(random::next_uint32(), first[i]);
    EXPECT_EQ(random::int_range(false, 0), 0);
    for (int i = 0; i < 200; i++) {
        EXPECT_EQ(random::int_range(false, 1), 1);
        i32 r = random::int_range(false, -3);
        EXPECT_TRUE(r >= -3 && r <= -1);
        EXPECT_LT(random::int_range(false, INT32_MIN), 0);
        i32 s = random::int_range(true, 6);
        EXPECT_TRUE(s >= 1 && s <= 6);
    }
}
