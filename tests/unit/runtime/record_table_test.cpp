// Address-keyed record tables (kinds 3 and 4), the collector's view of an index, and the
// address map.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <unordered_map>

#include "index_test_support.hpp"
#include "runtime/collector.hpp"

using namespace zel;
using namespace zel::hash_index;

TEST(RecordTable, FollowsRandomEditsAcrossCollections) {
    std::mt19937 rng(4242);
    u32 index = make_index(4, nullptr, kind::records, 1);
    gc::rooted_cell keep(cell{type_id::map, 0, 0, index}); // the collections must not take it
    std::unordered_map<u32, i32> model;
    for (int step = 0; step < 5000; step++) {
        u32 key = 16 + 4 * (rng() % 400); // node-like keys
        u32 op = rng() % 10;
        if (op < 5) {
            cell* payload = insert_record(index, key);
            ASSERT_NE(payload, nullptr);
            EXPECT_TRUE(is_unset(payload)); // a live match starts over too
            *payload = test::integer(step);
            model[key] = step;
        } else if (op < 8) {
            cell* payload = remove_record(index, key);
            ASSERT_EQ(payload != nullptr, model.erase(key) == 1);
        } else if (op < 9) {
            cell* payload = find_record(index, key);
            ASSERT_EQ(payload != nullptr, model.count(key) == 1);
            if (payload) {
                ASSERT_EQ(int_of(payload), model[key]);
                ASSERT_EQ(payload[-1].w1, key);
            }
        } else {
            gc::run_collection(); // stale stamp: the next access rehashes in place
        }
        ASSERT_EQ(record_of(index)->size, model.size()) << "step " << step;
    }
    for (const auto& [key, value] : model) ASSERT_EQ(int_of(find_record(index, key)), value);
    // Removed records are squeezed out when the table is rehashed, never piling up.
    gc::run_collection();
    find_record(index, 1);
    index_record* r = record_of(index);
    EXPECT_EQ(used_bytes(buffer_of(r->values)), model.size() * r->aux);
}

namespace {
std::set<u32> marked;
std::vector<std::pair<cell*, cell*>> traced;
bool fake_mark(u32* node) {
    if (!*node) return false;
    series_buffer* b = buffer_of(*node);
    if (b->flags & buffer_flag::mark) return false;
    b->flags |= buffer_flag::mark;
    marked.insert(*node);
    return true;
}
void fake_trace(cell* first, cell* past) {
    traced.emplace_back(first, past);
}
void clear_marks() {
    for (u32 node : marked) buffer_of(node)->flags &= ~buffer_flag::mark;
    marked.clear();
    traced.clear();
}
} // namespace

TEST(RecordTable, TracingAndSweepingOwners) {
    const tracer t{fake_mark, fake_trace};
    // The owner table: payload is the owned value, the owner object and the field word.
    // Everything stays reachable while the test allocates, so that no collection drops a record
    // before the sweep under test.
    test::held_block held(8);
    auto hold = [&](u32 type, u32 node) {
        test::append(held.block(), cell{type, 0, node, 0});
        return node;
    };
    u32 index = held.value.w3 = make_index(10, nullptr, kind::owners, 3);
    u32 owned_block = hold(type_id::block, memory::new_cell_series(2));
    test::append(owned_block, test::integer(1));
    u32 owned_text = hold(type_id::binary, memory::new_byte_series(4));
    u32 dead_text = hold(type_id::binary, memory::new_byte_series(4));
    u32 owner_context = hold(type_id::block, memory::new_cell_series(2));
    u32 dead_owner_context = hold(type_id::block, memory::new_cell_series(2));
    cell* p = insert_record(index, owned_block);
    p[1] = {type_id::object, owner_context, 0, 0};
    p = insert_record(index, owned_text);
    p[1] = {type_id::object, dead_owner_context, 0, 0};
    insert_record(index, dead_text);

    trace_index(&index, t);
    // The index's own series, every live key, and the cells of a key that holds cells.
    for (u32 node : {index, record_of(index)->flags, record_of(index)->keys,
                     record_of(index)->values, owned_block, owned_text, dead_text})
        EXPECT_EQ(marked.count(node), 1u) << node;
    ASSERT_EQ(traced.size(), 1u);
    EXPECT_EQ(traced[0].first, test::at(owned_block, 0));
    EXPECT_EQ(marked.count(owner_context), 0u); // payloads are not traced

    // The sweep runs after marking: unmarked keys and (kind 4) unmarked owners go.
    buffer_of(dead_text)->flags &= ~buffer_flag::mark;
    fake_mark(&owner_context);
    sweep_records(index);
    clear_marks();
    EXPECT_NE(find_record(index, owned_block), nullptr);
    EXPECT_EQ(find_record(index, owned_text), nullptr);
    EXPECT_EQ(find_record(index, dead_text), nullptr);
}

TEST(RecordTable, TracingAHashIndexReachesItsChains) {
    const tracer t{fake_mark, fake_trace};
    test::held_block held(4);
    u32 block = held.block();
    for (i32 v : {1, 1, 2, 2}) test::append(block, test::integer(v));
    u32 index = held.make_index(kind::hash);
    trace_index(&index, t);
    index_record* r = record_of(index);
    for (u32 node : {index, r->flags, r->keys, r->values, r->aux, r->chains,
                     static_cast<u32>(raw_buffer::item_at(r->chains, 1)),
                     static_cast<u32>(raw_buffer::item_at(r->chains, 2))})
        EXPECT_EQ(marked.count(node), 1u) << node;
    ASSERT_EQ(traced.size(), 1u);
    EXPECT_EQ(traced[0].second - traced[0].first, 4);
    clear_marks();
}

TEST(AddressMap, FollowsRandomEdits) {
    std::mt19937 rng(31337);
    address_map* m = make_address_map(4);
    EXPECT_EQ(m->buckets, 8u);
    std::unordered_map<u32, u32> model;
    for (int step = 0; step < 20000; step++) {
        u32 key = 4 * (rng() % 3000), value = static_cast<u32>(rng());
        if (rng() % 3) {
            address_map_put(m, key, value);
            model[key] = value;
        } else {
            address_map_remove(m, key);
            model.erase(key);
        }
        ASSERT_EQ(m->size, model.size());
    }
    std::unordered_map<u32, u32> walked;
    for (i32 i = address_map_next(m, -1); i >= 0; i = address_map_next(m, i))
        walked[m->entries[2 * i]] = m->entries[2 * i + 1];
    EXPECT_EQ(walked, model);
    for (u32 key = 0; key < 4 * 3000; key += 4) {
        u32* v = address_map_find(m, key);
        ASSERT_EQ(v != nullptr, model.count(key) == 1);
        if (v) {
            ASSERT_EQ(*v, model[key]);
        }
    }
    address_map_clear(m);
    EXPECT_EQ(address_map_next(m, -1), -1);
    EXPECT_EQ(address_map_find(m, 0), nullptr);
    free_address_map(m);
}
