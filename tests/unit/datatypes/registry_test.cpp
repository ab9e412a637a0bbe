// Datatype registry: inheritance through parents, slot 8, names and the row-count check.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include "datatypes/registry.hpp"

using namespace zel;

namespace {
i32 grand_form(cell*, cell*, cell*, i32 limit) {
    return limit - 1;
}
i32 own_mold(cell*, cell*, bool, bool, bool, cell*, i32 limit, i32) {
    return limit - 2;
}
} // namespace

TEST(Registry, InheritedSlotsResolveThroughParents) {
    datatype::register_row(
        action_row{.type = 55, .parent = 0, .name = "grand!", .form = grand_form});
    action_row mid = action_row::inheriting(56, 55, "mid!");
    mid.mold = own_mold;
    datatype::register_row(mid);
    action_row child = action_row::inheriting(54, 56, "event!");
    datatype::register_row(child);
    EXPECT_EQ(act::handler<act::slot::form>(54), &grand_form);
    EXPECT_EQ(act::handler<act::slot::mold>(54), &own_mold);
    EXPECT_EQ(act::handler<act::slot::compare>(54), nullptr);
    EXPECT_EQ(datatype::raw_handler(54, 8), nullptr);
    EXPECT_EQ(datatype::max_type_id(), 56u);
    EXPECT_EQ(datatype::name_of(54), "event!");
    EXPECT_EQ(datatype::short_name(54), "event");
}

TEST(Registry, StartUpTypesHaveNamesAndNoSlotEight) {
    for (u32 t = 1; t <= 53; t++) {
        EXPECT_FALSE(datatype::name_of(t).empty()) << t;
        EXPECT_EQ(datatype::raw_handler(t, 8), nullptr) << t;
    }
    EXPECT_EQ(datatype::name_of(type_id::point2d), "point2D!");
}

TEST(Registry, WrongHandlerCountEndsTheProgram) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        datatype::register_row(61, action_row{.type = 55, .parent = 0, .name = "bad!"});
        _exit(77);
    }
    close(fds[1]);
    std::string out;
    char buf[256];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, n);
    int status;
    waitpid(pid, &status, 0);
    EXPECT_EQ(out, "*** Datatype Error: invalid actions count for type: 55\n*** Found: 61\n"
                   "*** Expected: 62\n");
    EXPECT_EQ(WEXITSTATUS(status), 1);
}
