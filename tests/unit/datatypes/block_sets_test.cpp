// The set operations on blocks against Python on random records with many repeats: the order of
// results is the order in which records were first met; hash! inputs give hash! results.
#include <gtest/gtest.h>

#include <random>

#include "runtime/hash_index.hpp"
#include "tests/unit/datatypes/block_support.hpp"

using namespace zel;
using namespace zel::test;

namespace {

const char* op_names[] = {"unique", "union", "intersect", "exclude", "difference"};

TEST(BlockSets, AgainstPython) {
    std::mt19937 gen(99);
    struct set_case {
        std::vector<i32> a, b;
        u32 code;
        i32 size;
        i32 head_a, head_b;
    };
    std::vector<set_case> cases;
    for (int i = 0; i < 100; i++) {
        set_case c;
        c.code = block::set_op::unique + static_cast<u32>(i % 5);
        c.size = 1 + static_cast<i32>(gen() % 3);
        i32 spread = 1 + static_cast<i32>(gen() % 12);
        for (u32 n = gen() % 40; n > 0; n--) c.a.push_back(static_cast<i32>(gen() % spread));
        for (u32 n = gen() % 40; n > 0; n--) c.b.push_back(static_cast<i32>(gen() % spread));
        // Sometimes from a position: records start at the head.
        c.head_a = c.a.size() > 3 && gen() % 4 == 0 ? 2 : 0;
        c.head_b = c.b.size() > 3 && gen() % 4 == 0 ? 1 : 0;
        cases.push_back(c);
    }
    std::string input;
    for (const set_case& c : cases) {
        input += std::string("sets ") + op_names[c.code - block::set_op::unique] + " " +
                 std::to_string(c.size) + "\n";
        for (std::size_t k = c.head_a; k < c.a.size(); k++) input += std::to_string(c.a[k]) + " ";
        input += "\n";
        for (std::size_t k = c.head_b; k < c.b.size(); k++) input += std::to_string(c.b[k]) + " ";
        input += "\n";
    }
    std::vector<std::string> expected = block_oracle(input);
    ASSERT_EQ(expected.size(), cases.size()) << "python3 is needed for this test";
    for (std::size_t i = 0; i < cases.size(); i++) {
        const set_case& c = cases[i];
        cell a = at(integer_block(c.a), c.head_a), b = at(integer_block(c.b), c.head_b);
        cell skip = integer_cell(c.size);
        block::set_operation(&a, &b, false, c.size > 1 ? &skip : nullptr, c.code);
        EXPECT_EQ(type_of(&a), type_id::block);
        EXPECT_EQ(a.w1, 0u);
        EXPECT_EQ(integers_of(a), expected[i])
            << "case " << i << " " << op_names[c.code - block::set_op::unique] << " /skip "
            << c.size;
    }
}

TEST(BlockSets, Examples) {
    struct row {
        const char* a;
        const char* b;
        u32 code;
        const char* expected;
    };
    const row rows[] = {
        {"1 2 1 3 2", "", block::set_op::unique, "[1 2 3]"},
        {"1 2", "2 3", block::set_op::union_, "[1 2 3]"},
        {"1 [2] 3 [2]", "[2]", block::set_op::unique, "[1 [2] 3]"},
        {"1 [2] 3", "[2] 4", block::set_op::intersect, "[[2]]"},
        {"1 [2] 3", "[2] 4", block::set_op::difference, "[1 3 4]"},
        {"none true none", "true", block::set_op::exclude, "[none]"},
    };
    for (const row& r : rows) {
        cell a = load(r.a), b = load(r.b);
        block::set_operation(&a, &b, false, nullptr, r.code);
        EXPECT_EQ(show(a), r.expected) << r.a << " / " << r.b;
    }
    cell a = load("1 2"), b = load("3");
    cell zero = integer_cell(0);
    EXPECT_RAISES(block::set_operation(&a, &b, false, &zero, block::set_op::union_), "script",
                  "invalid-refine-arg");
    // A paren stays a paren.
    cell holder = load("(1 1)");
    cell p = *block::cell_address(&holder, 0);
    block::set_operation(&p, &b, false, nullptr, block::set_op::unique);
    EXPECT_EQ(show(p), "(1)");
}

cell make_hash(const std::vector<i32>& values) {
    cell b = integer_block(values);
    cell_ops::write_type(&b, type_id::hash);
    b.w3 = hash_index::make_index(static_cast<u32>(values.size()), &b, hash_index::kind::hash, 0);
    return keep(b); // and its index
}

TEST(BlockSets, HashInputsGiveIndexedHashResults) {
    struct row {
        bool first_hashed, second_hashed;
        u32 code;
        bool hashed;
    };
    const row rows[] = {
        {true, false, block::set_op::unique, true},
        {false, true, block::set_op::unique, false},
        {false, true, block::set_op::intersect, true},
        {true, false, block::set_op::exclude, true},
        {false, false, block::set_op::union_, false},
        {false, true, block::set_op::difference, true},
    };
    for (const row& r : rows) {
        std::vector<i32> av = {5, 1, 5, 2, 7}, bv = {2, 9, 5, 9};
        cell a = r.first_hashed ? make_hash(av) : integer_block(av);
        cell b = r.second_hashed ? make_hash(bv) : integer_block(bv);
        block::set_operation(&a, &b, false, nullptr, r.code);
        ASSERT_EQ(type_of(&a) == type_id::hash, r.hashed) << r.code;
        if (!r.hashed) continue;
        for (u32 i = 0; i < series::units_from_start(&a); i++) {
            cell v = *block::cell_address(&a, i);
            cell* found = hash_index::find_cell(a.w3, &v, 0, 1, 0);
            ASSERT_NE(found, nullptr);
            EXPECT_EQ(found - block::cell_address(&a, 0), i);
        }
    }
}

} // namespace
