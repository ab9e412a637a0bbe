// The started program: every function-pointer hook that breaks a cycle between two units is
// installed by the real start-up (this binary starts the way zel does), so that no behaviour
// works in a unit test with a stand-in while the program lacks it. Hooks that serve datatypes
// not built yet (the money, pair, tuple, date and vector cores, element access of vector!) stay
// empty until those datatypes come.
#include <gtest/gtest.h>

#include "datatypes/context.hpp"
#include "datatypes/number_cores.hpp"
#include "lexer/transcode.hpp"
#include "runtime/errors.hpp"

namespace zel {
namespace {

TEST(StartedProgram, InstallsEveryHook) {
    EXPECT_NE(error::builder, nullptr) << "errors become error! values";
    EXPECT_NE(error::on_raise, nullptr) << "errors get their near, where and stack";
    EXPECT_NE(context::fire_change, nullptr) << "assigning a field calls on-change*";
    EXPECT_NE(transcode::callback_for_value, nullptr) << "transcode/trace with a function";
    EXPECT_NE(cores::float_math, nullptr) << "integer and float arithmetic";
}

} // namespace
} // namespace zel
