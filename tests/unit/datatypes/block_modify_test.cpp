// append, insert, change, swap and trim on blocks; a block written into itself; hash! blocks whose
// index must follow every change.
#include <gtest/gtest.h>

#include "runtime/hash_index.hpp"
#include "tests/unit/datatypes/block_support.hpp"

using namespace zel;
using namespace zel::test;

namespace {

template <u32 S> auto handler() {
    return act::handler<S>(type_id::block);
}

void insert(cell* s, cell* v, i32 part, bool only, i32 dup, bool append) {
    auto h = append ? handler<act::slot::append>() : handler<act::slot::insert>();
    h(s, v, part, only, dup, append);
}

std::string whole(const cell& b) {
    return show(at(b, 0));
}

cell value_of(const char* text) {
    cell b = load(text);
    return *block::cell_address(&b, 0);
}

TEST(BlockInsert, Table) {
    struct row {
        const char* block;
        i32 head;
        const char* value;
        i32 part;
        bool only;
        i32 dup;
        bool append;
        const char* expected;
        i32 head_after;
    };
    const row rows[] = {
        {"1 2", 0, "3", -1, false, 1, true, "[1 2 3]", 0},
        {"1 2", 1, "[3 4]", -1, false, 1, true, "[1 2 3 4]", 0},
        {"1 2", 0, "[3 4]", -1, true, 1, true, "[1 2 [3 4]]", 0},
        {"1 2", 1, "[]", -1, false, 1, true, "[1 2]", 1},
        {"1 2", 1, "9", -1, false, 1, false, "[1 9 2]", 2},
        {"", 0, "[7]", -1, false, 3, false, "[7 7 7]", 3},
        {"1 2 3", 0, "[7 8 9]", 2, false, 1, false, "[7 8 1 2 3]", 2},
        {"1 2 3", 0, "[7 8 9]", 5, false, 1, false, "[7 8 9 1 2 3]", 3},
        {"", 0, "[7 8 9]", 2, false, 2, false, "[7 8 7 8]", 4},
        {"1 2", 5, "9", -1, false, 1, false, "[1 2 9]", 3},
        {"1 2", 2, "[3 4]", -1, false, 2, false, "[1 2 3 4 3 4]", 6},
        {"1", 0, "[]", -1, true, 1, false, "[[] 1]", 1},
    };
    for (const row& r : rows) {
        cell b = load(r.block);
        cell s = at(b, r.head), v = value_of(r.value);
        insert(&s, &v, r.part, r.only, r.dup, r.append);
        EXPECT_EQ(whole(b), r.expected) << r.block << " @" << r.head << " " << r.value;
        EXPECT_EQ(static_cast<i32>(s.w1), r.head_after) << r.block << " " << r.value;
    }
}

// A block inserted into itself reads what it held before the change.
TEST(BlockInsert, IntoItself) {
    struct row {
        i32 head, value_head;
        bool append;
        const char* expected;
    };
    const row rows[] = {
        {0, 1, false, "[2 3 1 2 3]"},   {0, 0, false, "[1 2 3 1 2 3]"},
        {2, 0, false, "[1 2 1 2 3 3]"}, {1, 2, false, "[1 3 2 3]"},
        {0, 0, true, "[1 2 3 1 2 3]"},  {0, 1, true, "[1 2 3 2 3]"},
    };
    for (const row& r : rows) {
        cell b = load("1 2 3");
        cell s = at(b, r.head), v = at(b, r.value_head);
        insert(&s, &v, -1, false, 1, r.append);
        EXPECT_EQ(whole(b), r.expected) << r.head << " " << r.value_head << " " << r.append;
    }
    // With /dup, and large enough that the buffer grows and moves.
    cell b = load("1 2 3");
    cell s = b, v = at(b, 1);
    insert(&s, &v, -1, false, 40, false);
    EXPECT_EQ(block::cells_from_head(&b), 83u);
    EXPECT_EQ(int_of(block::cell_address(&b, 0)), 2);
    EXPECT_EQ(int_of(block::cell_address(&b, 79)), 3);
    EXPECT_EQ(int_of(block::cell_address(&b, 80)), 1);
}

TEST(BlockInsert, SizeOverflow) {
    cell b = load("1"), v = load("1 2");
    EXPECT_RAISES(handler<act::slot::insert>()(&b, &v, -1, false, 0x7FFFFFFF, false), "internal",
                  "no-memory");
    EXPECT_EQ(whole(b), "[1]");
}

TEST(BlockChange, Table) {
    struct row {
        const char* block;
        i32 head;
        const char* value;
        i32 part;
        bool only;
        i32 dup;
        const char* expected;
        i32 head_after;
    };
    const row rows[] = {
        {"1 2 3", 0, "9", -1, false, 1, "[9 2 3]", 1},
        {"1 2 3", 0, "[7 8]", -1, false, 1, "[7 8 3]", 2},
        {"1 2 3", 0, "[7 8]", -1, true, 1, "[[7 8] 2 3]", 1},
        {"1 2 3", 0, "9", 2, false, 1, "[9 3]", 1},
        {"1 2 3", 1, "9", 0, false, 1, "[1 9 2 3]", 2},
        {"1 2 3", 3, "9", -1, false, 1, "[1 2 3 9]", 4},
        {"1 2 3", 7, "9", -1, false, 1, "[1 2 3 9]", 4},
        {"1 2 3", 0, "9", -1, false, 3, "[9 9 9]", 3},
        {"1 2 3", 1, "9", -1, false, 3, "[1 9 9 9]", 4},
        {"1 2 3", 0, "[7 8 9]", 1, false, 1, "[7 8 9 2 3]", 3},
        {"1 2 3", 0, "[]", -1, false, 1, "[1 2 3]", 0},
        {"1 2 3", 0, "[]", 2, false, 1, "[3]", 0},
    };
    auto change = handler<act::slot::change>();
    for (const row& r : rows) {
        cell b = load(r.block);
        cell s = at(b, r.head), v = value_of(r.value);
        change(&s, &v, r.part, r.only, r.dup);
        EXPECT_EQ(whole(b), r.expected) << r.block << " @" << r.head << " " << r.value;
        EXPECT_EQ(static_cast<i32>(s.w1), r.head_after) << r.block << " " << r.value;
    }
}

TEST(BlockChange, WithItself) {
    auto change = handler<act::slot::change>();
    cell b = load("1 2 3");
    cell s = b, v = at(b, 1);
    change(&s, &v, -1, false, 1);
    EXPECT_EQ(whole(b), "[2 3 3]");
    b = load("1 2 3");
    s = at(b, 1);
    v = b;
    change(&s, &v, -1, false, 1);
    EXPECT_EQ(whole(b), "[1 1 2 3]");
}

TEST(BlockSwapTrim, Basics) {
    auto swap = handler<act::slot::swap>();
    cell a = load("1 2"), b = load("3 4");
    cell s = a, t = b;
    swap(&s, &t);
    EXPECT_EQ(whole(a), "[3 2]");
    EXPECT_EQ(whole(b), "[1 4]");
    cell tail = at(b, 2);
    swap(&s, &tail);
    EXPECT_EQ(whole(a), "[3 2]");
    cell n = integer_cell(1);
    EXPECT_RAISES(swap(&s, &n), "script", "invalid-arg");
    cell one = load("5 6");
    cell x = one, y = at(one, 1);
    swap(&x, &y);
    EXPECT_EQ(whole(one), "[6 5]");

    auto trim = handler<act::slot::trim>();
    cell c = load("none 1 none none 2 none");
    cell from = at(c, 1);
    trim(&from, false, false, false, false, false, nullptr);
    EXPECT_EQ(whole(c), "[none 1 2]");
}

// ---- hash! blocks ------------------------------------------------------------------------

cell make_hash(const char* text) {
    cell b = load(text);
    cell_ops::write_type(&b, type_id::hash);
    b.w3 = hash_index::make_index(block::cells_from_head(&b), &b, hash_index::kind::hash, 0);
    return keep(b); // and its index
}

// Every cell is found through the index at the first position holding its value.
void expect_index_in_step(const cell& h, const std::string& what) {
    u32 n = series::units_from_start(&h);
    for (u32 p = 0; p < n; p++) {
        cell v = *block::cell_address(&h, p);
        u32 first = 0;
        while (int_of(block::cell_address(&h, first)) != int_of(&v)) first++;
        cell* found = hash_index::find_cell(h.w3, &v, 0, 1, 2);
        ASSERT_NE(found, nullptr) << what << " value " << int_of(&v);
        EXPECT_EQ(found - block::cell_address(&h, 0), first) << what << " value " << int_of(&v);
    }
    // A value no longer in the block is not found.
    cell gone = integer_cell(1000);
    EXPECT_EQ(hash_index::find_cell(h.w3, &gone, 0, 1, 2), nullptr) << what;
}

TEST(HashBlock, IndexFollowsEveryChange) {
    auto find = handler<act::slot::find>();
    cell h = make_hash("1 2 3 4 5 6 7 8");
    cell s, v, part;

    s = at(h, 2), v = load("10 11");
    insert(&s, &v, -1, false, 1, false);
    expect_index_in_step(h, "insert");
    s = h, v = integer_cell(12);
    insert(&s, &v, -1, false, 2, true);
    expect_index_in_step(h, "append");
    s = at(h, 1), part = integer_cell(3);
    act::handler<act::slot::remove>(type_id::block)(&s, &part, nullptr);
    expect_index_in_step(h, "remove");
    s = at(h, 2), v = load("20 21 22");
    handler<act::slot::change>()(&s, &v, 1, false, 1);
    expect_index_in_step(h, "change");
    s = at(h, 1), v = integer_cell(30);
    act::handler<act::slot::poke>(type_id::block)(&s, 1, &v, nullptr);
    expect_index_in_step(h, "poke");
    s = h;
    act::handler<act::slot::reverse>(type_id::block)(&s, nullptr, nullptr);
    expect_index_in_step(h, "reverse");
    s = h;
    handler<act::slot::sort>()(&s, false, nullptr, nullptr, nullptr, false, false, true);
    expect_index_in_step(h, "sort");
    s = at(h, 2), v = at(h, 5), part = integer_cell(2);
    act::handler<act::slot::move>(type_id::block)(&s, &v, &part);
    expect_index_in_step(h, "move");
    s = at(h, 1), v = at(h, 4);
    handler<act::slot::swap>()(&s, &v);
    expect_index_in_step(h, "swap");
    s = h;
    act::handler<act::slot::random>(type_id::block)(&s, false, false, false);
    expect_index_in_step(h, "random");
    s = h, part = integer_cell(2);
    cell taken = keep(*handler<act::slot::take>()(&s, &part, false, false));
    expect_index_in_step(h, "take");
    ASSERT_EQ(type_of(&taken), type_id::hash);
    expect_index_in_step(taken, "taken block");
    s = at(h, 3);
    act::handler<act::slot::clear>(type_id::block)(&s);
    expect_index_in_step(h, "clear");

    // find on a hash! answers through the index, /skip and /tail included.
    cell g = make_hash("1 2 3 2 5 2");
    for (auto [head, skip, value, tail, expected] : {std::tuple{0, 1, 2, false, 1},
                                                     {2, 1, 2, false, 3},
                                                     {0, 2, 2, false, -1},
                                                     {1, 2, 2, false, 1},
                                                     {0, 1, 5, true, 5},
                                                     {0, 1, 9, false, -1}}) {
        cell sk = integer_cell(skip), val = integer_cell(value);
        s = at(g, head);
        cell* r = find(&s, &val, nullptr, false, false, false, false, nullptr, &sk, false, false,
                       tail, false);
        EXPECT_EQ(is_none(r) ? -1 : static_cast<i32>(r->w1), expected)
            << head << " " << skip << " " << value;
    }
}

} // namespace
