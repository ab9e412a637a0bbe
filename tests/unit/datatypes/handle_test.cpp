// handle!: form and mold texts, comparison, and handles that outlive their registry record.
#include <gtest/gtest.h>

#include "datatypes/handle.hpp"
#include "object_helpers.hpp"
#include "runtime/ext_res.hpp"

using namespace zel;
using namespace zel::test;

namespace {
cell handle_of(u32 value, u32 kind) {
    cell h;
    return *handle::init_cell(&h, value, kind);
}
} // namespace

TEST(Handles, Texts) {
    struct text_case {
        u32 value, kind;
        const char* form;
        const char* mold_all;
    };
    const text_case cases[] = {
        {42, handle::kind::fd, "0000002Ah", "#[handle! 0000002Ah fd]"},
        {255, handle::kind::window, "000000FFh", "#[handle! 000000FFh window]"},
        {0, handle::kind::none, "00000000h", "#[handle! 00000000h]"},
        {0xFFFFFFFF, handle::kind::rich_text, "FFFFFFFFh", "#[handle! FFFFFFFFh rich-text]"},
    };
    for (const text_case& c : cases) {
        cell h = handle_of(c.value, c.kind);
        EXPECT_EQ(formed(h), c.form);
        EXPECT_EQ(molded(h, false, true), c.mold_all);
        EXPECT_EQ(molded(h), "handle!");
    }
}

TEST(Handles, Compare) {
    auto cmp = [](cell a, cell b) { return actions::compare_three_way(&a, &b, 0); };
    EXPECT_EQ(cmp(handle_of(7, handle::kind::font), handle_of(7, handle::kind::window)), 0);
    EXPECT_EQ(cmp(handle_of(0xFFFFFFFF, 1), handle_of(1, 1)), -1); // signed values
    EXPECT_EQ(cmp(handle_of(7, 1), integer(7)), 1);
    cell* base = stack::top;
    EXPECT_EQ(type_of(handle::push_null()), type_id::handle);
    stack::top = base;
}

TEST(Handles, StaleRegistryRecordsAreDetected) {
    static int payload = 0;
    u32 kind = ext_res::push_entry(0, nullptr);
    i32 record = ext_res::add_record(&payload, kind);
    cell h;
    handle::init_registered(&h, record, handle::kind::window);
    EXPECT_TRUE(handle::is_live(&h));
    EXPECT_EQ(handle::object_of(&h), &payload);
    ext_res::drop_record(record, false);
    EXPECT_FALSE(handle::is_live(&h));
    EXPECT_EQ(handle::object_of(&h), nullptr);
    // The record is reused for another object: the old handle still does not reach it.
    static int other = 0;
    i32 again = ext_res::add_record(&other, kind);
    ASSERT_EQ(again, record);
    EXPECT_FALSE(handle::is_live(&h));
    EXPECT_EQ(handle::object_of(&h), nullptr);
    // Plain values are not registry handles.
    cell fd = handle_of(3, handle::kind::fd);
    EXPECT_TRUE(handle::is_live(&fd));
    EXPECT_EQ(handle::object_of(&fd), nullptr);
}
