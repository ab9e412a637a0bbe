// Unit-test entry: the runtime is initialised once per test process, as zel itself does it.
#include <gtest/gtest.h>

#include "runtime/startup.hpp"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    zel::startup::init_runtime();
    return RUN_ALL_TESTS();
}
