// Hash index over a values block: sizing, hash! indexes with duplicate chains (kind 0) and map!
// indexes (kind 1), checked against models under random edits.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <unordered_map>
#include <vector>

#include "index_test_support.hpp"
#include "runtime/collector.hpp"
#include "runtime/errors.hpp"

using namespace zel;
using namespace zel::hash_index;
using test::at;
using test::integer;

namespace {

i64 position_of(u32 block, const cell* c) {
    return c ? c - at(block, 0) : -1;
}

i64 find_pos(u32 index, u32 block, const cell& key, i32 head = 0, i32 skip = 1, u32 mode = 0,
             bool last = false, bool reverse = false) {
    return position_of(block, find_cell(index, &key, head, skip, mode, last, reverse));
}

u32 live_buckets(u32 index) {
    index_record* r = record_of(index);
    const u32* f = reinterpret_cast<u32*>(head_ptr(buffer_of(r->flags)));
    u32 n = 0;
    for (u32 i = 0; i < r->buckets; i++) n += ((f[i >> 4] >> (2 * (i & 15))) & 3) == 0;
    return n;
}

} // namespace

TEST(HashIndex, Sizing) {
    struct sizing_case {
        u32 kind, expected, buckets, bound;
    };
    const sizing_case cases[] = {
        {kind::hash, 0, 8, 6},               // 4 / 0.77 = 5.19
        {kind::map, 100, 256, 197},          // 129 -> 256
        {kind::symbols, 4000, 16384, 12615}, // doubled to 8000 first
        {kind::symbols, 3999, 8192, 6307},
        {kind::owners, 1000, 2048, 1576},
    };
    for (const auto& c : cases) {
        index_record* r = record_of(make_index(c.expected, nullptr, c.kind, 3));
        EXPECT_EQ(r->buckets, c.buckets) << "kind " << c.kind << " expected " << c.expected;
        EXPECT_EQ(r->bound, c.bound) << "kind " << c.kind << " expected " << c.expected;
        EXPECT_EQ(r->kind, c.kind);
    }
    EXPECT_EQ(record_of(make_index(10, nullptr, kind::owners, 3))->aux, 64u);
}

// Random appends, insertions, removals, range removals and moves on a hash! block; after each
// step every value is looked up forwards, with /last, in reverse and with a skip, and the
// answers are compared with positions computed from the model.
TEST(HashIndex, HashKindFollowsRandomEdits) {
    std::mt19937 rng(12345);
    test::held_block held(4);
    u32 block = held.block();
    u32 index = held.make_index(kind::hash);
    std::vector<i32> model;
    const i32 values = 40;
    auto rnd = [&](u32 n) { return n ? static_cast<u32>(rng() % n) : 0u; };

    for (int step = 0; step < 2500; step++) {
        u32 len = static_cast<u32>(model.size());
        u32 op = rnd(10);
        i32 v = static_cast<i32>(rnd(values));
        if (op < 4 || len == 0) {
            test::append(block, integer(v));
            insert_cell(index, at(block, len));
            model.push_back(v);
        } else if (op < 6) {
            u32 pos = rnd(len + 1);
            test::insert_cell_at(block, pos, integer(v));
            ASSERT_EQ(shift_positions(index, 1, pos, len - pos, true), 0u);
            insert_cell(index, at(block, pos));
            model.insert(model.begin() + pos, v);
        } else if (op < 8) {
            u32 pos = rnd(len);
            remove_cell(index, at(block, pos));
            test::cut(block, pos, 1);
            shift_positions(index, -1, pos, len - pos - 1, true);
            model.erase(model.begin() + pos);
        } else if (op < 9) {
            u32 pos = rnd(len), n = 1 + rnd(std::min<u32>(len - pos, 5));
            remove_range(index, pos, n);
            test::cut(block, pos, n);
            shift_positions(index, -static_cast<i32>(n), pos, len - pos - n, true);
            model.erase(model.begin() + pos, model.begin() + pos + n);
        } else {
            u32 from = rnd(len), count = 1 + rnd(std::min<u32>(len - from, 4)), to = rnd(len + 1);
            ASSERT_EQ(move_range(index, to, from, count), 0u);
            auto apply = [&](auto first) {
                if (to < from)
                    std::rotate(first + to, first + from, first + from + count);
                else if (to > from + count)
                    std::rotate(first + from, first + from + count, first + to);
            };
            apply(model.begin());
            apply(at(block, 0));
        }
        ASSERT_EQ(test::length(block), model.size());

        std::unordered_map<i32, std::vector<i64>> where;
        for (std::size_t p = 0; p < model.size(); p++) where[model[p]].push_back(p);
        ASSERT_EQ(record_of(index)->size, where.size()) << "step " << step;
        i32 head = static_cast<i32>(rnd(static_cast<u32>(model.size()) + 1));
        for (i32 k = 0; k < values; k++) {
            const std::vector<i64>& ps = where[k];
            i64 first = -1, last = -1, before = -1, skip2 = -1;
            for (i64 p : ps) {
                if (p >= head && first < 0) first = p;
                if (p >= head) last = p;
                if (p < head) before = p;
                if (p >= head && (p - head) % 2 == 0 && skip2 < 0) skip2 = p;
            }
            ASSERT_EQ(find_pos(index, block, integer(k), head), first) << "step " << step;
            ASSERT_EQ(find_pos(index, block, integer(k), head, 1, 0, true), last);
            ASSERT_EQ(find_pos(index, block, integer(k), head, 1, 0, false, true), before);
            ASSERT_EQ(find_pos(index, block, integer(k), head, 2), skip2);
        }
    }
    // Growth went through several rebuilds.
    EXPECT_GT(record_of(index)->buckets, 8u);
}

TEST(HashIndex, LetterCaseVariantsShareOneChain) {
    test::held_block held(4);
    u32 block = held.block();
    test::append(block, test::text(U"Abc"));
    test::append(block, integer(1));
    test::append(block, test::text(U"abc", 2));
    u32 index = held.make_index(kind::hash);
    EXPECT_EQ(record_of(index)->size, 2u); // one bucket for both spellings
    EXPECT_EQ(raw_buffer::length(record_of(index)->chains), 1u);

    gc::rooted_cell held_key(test::text(U"abc"));
    const cell& key = held_key.value;
    EXPECT_EQ(find_pos(index, block, key), 0);          // equal: the first
    EXPECT_EQ(find_pos(index, block, key, 0, 1, 2), 2); // strict-equal: only the same case
    EXPECT_EQ(find_pos(index, block, key, 1), 2);
    gc::rooted_cell held_other(test::text(U"ABC", 1, type_id::file));
    const cell& other = held_other.value;
    EXPECT_EQ(find_pos(index, block, other), 0);            // equal compares texts across types
    EXPECT_EQ(find_pos(index, block, other, 0, 1, 12), -1); // find's own equality does not
}

TEST(HashIndex, ChainsSurviveTheirNeighboursRemoval) {
    // Emptying one chain must not renumber another bucket's chain.
    test::held_block held(8);
    u32 block = held.block();
    for (i32 v : {1, 1, 2, 2, 3, 3}) test::append(block, integer(v));
    u32 index = held.make_index(kind::hash);
    ASSERT_EQ(raw_buffer::length(record_of(index)->chains), 3u);
    remove_cell(index, at(block, 0));
    remove_cell(index, at(block, 1)); // chain of 1 emptied: chain of 3 takes its number
    EXPECT_EQ(raw_buffer::length(record_of(index)->chains), 2u);
    for (u32 p : {6u, 7u}) { // a new chain takes the freed number 3
        test::append(block, integer(4));
        insert_cell(index, at(block, p));
    }
    EXPECT_EQ(find_pos(index, block, integer(4)), 6);
    EXPECT_EQ(find_pos(index, block, integer(1)), -1);
    EXPECT_EQ(find_pos(index, block, integer(3)), 4);
    EXPECT_EQ(find_pos(index, block, integer(3), 0, 1, 0, true), 5);
    EXPECT_EQ(find_pos(index, block, integer(2), 0, 1, 0, true), 3);
    EXPECT_EQ(record_of(index)->size, 3u);
}

TEST(HashIndex, AddressHashedValuesRebuildAfterACollection) {
    test::held_block held(4);
    u32 block = held.block();
    gc::rooted_cell held_inner(test::block_cell(memory::new_cell_series(1)));
    u32 inner = held_inner.value.w2;
    test::append(block, integer(5));
    test::append(block, test::block_cell(inner));
    u32 index = held.make_index(kind::hash);
    EXPECT_EQ(record_of(index)->stamp, gc::series_cycles + 1);
    gc::run_collection();
    cell key = test::block_cell(inner);
    EXPECT_EQ(find_pos(index, block, key), 1);
    EXPECT_EQ(record_of(index)->stamp, gc::series_cycles + 1);

    u32 plain = make_index(0, nullptr, kind::hash, 0);
    EXPECT_EQ(record_of(plain)->stamp, 0u);
}

TEST(HashIndex, CloneResetAndWholeRangeRemoval) {
    test::held_block held(8);
    u32 block = held.block();
    for (i32 v : {1, 2, 2, 3}) test::append(block, integer(v));
    u32 index = held.make_index(kind::hash);

    gc::rooted_cell held_copy(cell{type_id::hash, 0, memory::clone_series(buffer_of(block)), 0});
    u32 copy_block = held_copy.value.w2;
    u32 copy = held_copy.value.w3 = clone(index, copy_block);
    test::append(copy_block, integer(2));
    insert_cell(copy, at(copy_block, 4));
    EXPECT_EQ(find_pos(copy, copy_block, integer(2), 0, 1, 0, true), 4);
    EXPECT_EQ(find_pos(index, block, integer(2), 0, 1, 0, true), 2); // its chain is its own

    remove_range(index, 0, 99);
    EXPECT_EQ(record_of(index)->size, 0u);
    EXPECT_EQ(record_of(index)->occupied, 0u);
    EXPECT_EQ(find_pos(index, block, integer(1)), -1);

    reset(copy);
    EXPECT_EQ(find_pos(copy, copy_block, integer(2)), -1);
    insert_cell(copy, at(copy_block, 1)); // indexing again after a reset
    EXPECT_EQ(find_pos(copy, copy_block, integer(2)), 1);
    remove_cell(copy, at(copy_block, 2)); // never re-indexed: nothing happens
    EXPECT_EQ(record_of(copy)->size, 1u);
}

TEST(HashIndex, ShiftRefusesLongRuns) {
    u32 index = make_index(0, nullptr, kind::hash, 0);
    EXPECT_EQ(shift_positions(index, 1, 0, 30001, true), 1u);
    EXPECT_EQ(shift_positions(index, 1, 0, 30000, true), 0u);
}

TEST(HashIndex, CollectionIsRestoredWhenARebuildFails) {
    u32 block = memory::new_cell_series(4);
    cell source = test::block_cell(block);
    u32 index = make_index(0, &source, kind::hash, 0);
    gc::rooted_cell keep(cell{type_id::hash, 0, block, index});
    for (i32 v = 0; v < 200000; v++) test::append(block, integer(v));
    bool was = gc::active;
    gc::active = true;
    arena::set_limit(arena::bytes_in_use() + (64u << 10));
    bool raised = false;
    try {
        index_cells(index, 0, 1);
    } catch (const unwind& u) {
        raised = u.code == throw_code::error;
    }
    arena::set_limit(0);
    EXPECT_TRUE(raised);
    EXPECT_TRUE(gc::active);
    gc::active = was;
}

// map!: strict keys, removal that keeps the bucket, growth; against std::unordered_map.
TEST(HashIndex, MapKindFollowsRandomPutsAndRemovals) {
    std::mt19937 rng(777);
    test::held_block held(4);
    u32 block = held.block();
    u32 index = held.make_index(kind::map);
    std::unordered_map<i32, i32> model;
    for (int step = 0; step < 4000; step++) {
        i32 k = static_cast<i32>(rng() % 300), v = static_cast<i32>(rng());
        cell key = integer(k);
        cell* found = find_cell(index, &key, 0, 1, 2);
        if (rng() % 3) {
            if (found) {
                if (found[1].header == 0) record_of(index)->size++; // a removed key comes back
                found[1] = integer(v);
            } else {
                u32 pos = test::length(block);
                test::append(block, key);
                test::append(block, integer(v));
                insert_cell(index, at(block, pos));
            }
            model[k] = v;
        } else if (found) {
            remove_cell(index, found);
            remove_cell(index, found); // twice: counted once
            model.erase(k);
        }
        ASSERT_EQ(record_of(index)->size, model.size()) << "step " << step;
    }
    for (i32 k = 0; k < 300; k++) {
        cell key = integer(k);
        cell* found = find_cell(index, &key, 0, 1, 0);
        bool live = found && found[1].header != 0;
        ASSERT_EQ(live, model.count(k) == 1) << k;
        if (live) {
            EXPECT_EQ(int_of(found + 1), model[k]);
        }
    }
    // Removed keys keep their buckets, so the index holds every key ever put.
    EXPECT_EQ(live_buckets(index), test::length(block) / 2);
}

TEST(HashIndex, MapIndexingMergesDuplicateKeysAndStoresKeyForms) {
    u32 table = test::fresh_symbol_table();
    u32 a = test::intern(table, "a"), upper_a = test::intern(table, "A");
    test::held_block held(16);
    u32 block = held.block();
    gc::rooted_cell held_text_key(test::text(U"Key"));
    const cell& text_key = held_text_key.value;
    const cell pairs[] = {
        {type_id::word, 0, a, 0},
        integer(1),
        integer(7),
        integer(2),
        text_key,
        integer(3),
        {type_id::lit_word, 0, a, 0},
        integer(4), // same key as a: (strict, once stored as a:)
        integer(7),
        integer(5),
        {type_id::word, 0, upper_a, 0},
        integer(6), // another spelling: another key
    };
    for (const cell& c : pairs) test::append(block, c);
    u32 index = held.make_index(kind::map);

    ASSERT_EQ(test::length(block), 8u);
    EXPECT_EQ(record_of(index)->size, 4u);
    EXPECT_EQ(at(block, 0)->header, type_id::set_word);
    EXPECT_EQ(int_of(at(block, 1)), 4); // the later value wins, the first key stays
    EXPECT_EQ(int_of(at(block, 3)), 5);
    EXPECT_NE(at(block, 4)->w2, text_key.w2); // a text key is stored as a copy
    EXPECT_EQ(at(block, 6)->w2, upper_a);

    // Any word kind finds the stored set-word; equal (mode 0) folds the spelling.
    cell get{type_id::get_word, 0, a, 0}, upper{type_id::lit_word, 0, upper_a, 0};
    EXPECT_EQ(find_pos(index, block, get, 0, 1, 2), 0);
    EXPECT_EQ(find_pos(index, block, upper, 0, 1, 2), 6);
    EXPECT_EQ(find_pos(index, block, upper, 0, 1, 0), 0);
    gc::rooted_cell held_key(test::text(U"KEY"));
    const cell& key = held_key.value;
    EXPECT_EQ(find_pos(index, block, key, 0, 1, 0), 4);
    EXPECT_EQ(find_pos(index, block, key, 0, 1, 2), -1);

    // All equal keys, one after the other.
    probe_state state;
    cell w{type_id::word, 0, upper_a, 0};
    std::vector<i64> seen;
    while (cell* c = find_next_equal(index, &w, state)) seen.push_back(position_of(block, c));
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<i64>{0, 6}));

    // A removed key keeps its bucket; only its value loses its type.
    u32 before = live_buckets(index);
    remove_cell(index, at(block, 2));
    EXPECT_EQ(at(block, 3)->header, 0u);
    EXPECT_EQ(live_buckets(index), before);
    EXPECT_EQ(record_of(index)->size, 3u);
}
