// map! and hash!: the makers over blocks of values (key merging, key forms, refused keys), make
// and to, and the mold and form texts with nested values.
#include <gtest/gtest.h>

#include "datatypes/date.hpp"
#include "datatypes/hash.hpp"
#include "datatypes/map.hpp"
#include "datatypes/pair.hpp"
#include "datatypes/tuple.hpp"
#include "datatypes/word.hpp"
#include "literal_helpers.hpp"
#include "runtime/hash_index.hpp"

namespace zel {
namespace {

using test::block_of;
using test::form_text;
using test::mold_text;

cell word(const char* name, u32 type = type_id::word) {
    cell w = word::intern_literal(name);
    w.header = type;
    return w;
}
cell num(i32 n) {
    cell c;
    return *init_integer(&c, n);
}

cell map_of(const std::vector<cell>& cells) {
    test::held_cell block = block_of(cells); // held while the index is made
    cell m = block;
    map::init_cell(&m, block.w2, static_cast<u32>(cells.size()));
    return m;
}

u32 cells_in(const cell& series) {
    return used_units(buffer_of(series.w2));
}

TEST(MapText, IndentedMoldFlatMoldOnlyAndForm) {
    test::held_cell m = map_of({word("a"), num(1), word("b", type_id::set_word), num(2)});
    EXPECT_EQ(mold_text(m), "#[\n    a: 1\n    b: 2\n]");
    EXPECT_EQ(mold_text(m, {.flat = true}), "#[a: 1 b: 2]");
    EXPECT_EQ(mold_text(m, {.only = true}), "a: 1\nb: 2");
    EXPECT_EQ(form_text(m), "a: 1\nb: 2");
    test::held_cell empty = test::block_of({});
    map::init_cell(&empty, 0, 0);
    EXPECT_EQ(mold_text(empty), "#[]");
    EXPECT_EQ(form_text(empty), "");
}

TEST(MapText, NestedMapsIndentOneLevelDeeper) {
    test::held_cell inner = map_of({word("b"), num(1), word("c"), num(2)});
    test::held_cell outer = map_of({word("a"), inner, word("d"), num(3)});
    EXPECT_EQ(mold_text(outer), "#[\n    a: #[\n        b: 1\n        c: 2\n    ]\n    d: 3\n]");
    EXPECT_EQ(mold_text(outer, {.flat = true}), "#[a: #[b: 1 c: 2] d: 3]");
    EXPECT_EQ(form_text(outer), "a: #[\n    b: 1\n    c: 2\n]\nd: 3");
}

TEST(MapText, KeysAndValuesOfTheLiteralTypes) {
    cell p{0, 0, 0, 0}, t{0, 0, 0, 0}, d{0, 0, 0, 0};
    pair::init_cell(&p, 1, 2);
    const u8 rgb[3] = {255, 0, 128};
    tuple::init_cell(&t, rgb, 3);
    ASSERT_TRUE(date::init_cell_fields(&d, 2020, 1, 15, 37800, 5, 30, true));
    test::held_cell file = test::text_value("x y", type_id::file);
    test::held_cell tag = test::text_value("b", type_id::tag);
    test::held_cell m = map_of({p, file, t, tag, num(7), d});
    EXPECT_EQ(mold_text(m, {.flat = true}),
              "#[1x2 %\"x y\" 255.0.128 <b> 7 15-Jan-2020/10:30:00+05:30]");
}

TEST(MapMaker, LaterValueWinsFirstKeyStaysWordsBecomeSetWords) {
    // Keys merge under strict equality: another spelling's letter case is another key.
    test::held_cell m = map_of({word("a"), num(1), word("b", type_id::lit_word), num(2),
                                word("a", type_id::get_word), num(3), word("A"), num(4)});
    EXPECT_EQ(cells_in(m), 6u);
    EXPECT_EQ(hash_index::record_of(m.w3)->size, 3u);
    EXPECT_EQ(mold_text(m, {.flat = true}), "#[a: 3 b: 2 A: 4]");
    const cell* key = head_cell(buffer_of(m.w2)) + 2;
    EXPECT_EQ(key->header, type_id::set_word);
    cell probe = word("B");
    cell* found = hash_index::find_cell(m.w3, &probe, 0, 0, 0);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(int_of(found + 1), 2);
}

TEST(MapMaker, TextKeysAreCopiedFromTheirHead) {
    test::held_cell key = test::text_value("xkey", type_id::file);
    key.w1 = 1;
    test::held_cell m = map_of({key, num(1)});
    cell stored = *head_cell(buffer_of(m.w2));
    EXPECT_NE(stored.w2, key.w2);
    EXPECT_EQ(stored.w1, 0u);
    head_ptr(buffer_of(key.w2))[1] = 'K';
    EXPECT_EQ(mold_text(m, {.flat = true}), "#[%key 1]");
}

TEST(MapMaker, RefusesKeysThatCannotBeStoredBeforeChangingAnything) {
    test::held_cell inner = block_of({num(1)});
    test::held_cell block = block_of({word("a"), num(1), inner, num(2)});
    test::held_cell slot = block;
    EXPECT_EQ(test::raised([&] { map::init_cell(&slot, block.w2, 4); }),
              err::E("script", "invalid-path").code());
    EXPECT_EQ(type_of(&slot), type_id::block);
    EXPECT_EQ(head_cell(buffer_of(block.w2))->header, type_id::word);
    test::held_cell odd = block_of({word("a"), num(1), word("b")});
    test::held_cell odd_slot = odd;
    EXPECT_EQ(test::raised([&] { map::init_cell(&odd_slot, odd.w2, 3); }),
              err::E("script", "invalid-arg").code());
    EXPECT_TRUE(map::key_allowed(type_id::money));
    EXPECT_FALSE(map::key_allowed(type_id::block));
    EXPECT_FALSE(map::key_allowed(type_id::none));
}

TEST(MapText, RemovedEntriesAreSkippedAndCyclesMarked) {
    test::held_cell m = map_of({word("a"), num(1), word("b"), num(2), word("c"), num(3)});
    cell* cells = head_cell(buffer_of(m.w2));
    cells[3].header = 0; // b removed
    hash_index::record_of(m.w3)->size = 2;
    EXPECT_EQ(mold_text(m, {.flat = true}), "#[a: 1 c: 3]");
    head_cell(buffer_of(m.w2))[1] = m; // a: the map itself
    EXPECT_EQ(mold_text(m), "#[\n    a: #[...]\n    c: 3\n]");
    EXPECT_EQ(form_text(m), "a: #[...]\nc: 3");
}

cell make_via(u32 slot, cell spec) {
    test::held_cell held_spec = spec;
    test::held_cell out = cell{0, 0, 0, 0};
    auto h = slot == act::slot::make ? act::handler<act::slot::make>(type_id::map)
                                     : act::handler<act::slot::to>(type_id::map);
    h(&out, &held_spec, type_id::map);
    return out;
}

TEST(MapMake, FromBlocksNumbersAndMaps) {
    test::held_cell block = block_of({word("a"), num(1), word("b"), num(2), word("a"), num(3)});
    head_cell(buffer_of(block.w2))[2].header |= cell_flag::newline;
    test::held_cell m = make_via(act::slot::make, block);
    EXPECT_EQ(mold_text(m, {.flat = true}), "#[a: 3 b: 2]");
    EXPECT_EQ(cells_in(block), 6u); // the spec is copied
    EXPECT_FALSE(head_cell(buffer_of(m.w2))[2].header & cell_flag::newline);

    test::held_cell sized = make_via(act::slot::make, num(10));
    EXPECT_EQ(hash_index::record_of(sized.w3)->size, 0u);
    EXPECT_GE(buffer_of(sized.w2)->size / sizeof(cell), 20u);
    EXPECT_EQ(mold_text(make_via(act::slot::make, num(0))), "#[]");

    test::held_cell copy = make_via(act::slot::to, m);
    EXPECT_NE(copy.w2, m.w2);
    EXPECT_NE(copy.w3, m.w3);
    EXPECT_EQ(mold_text(copy, {.flat = true}), "#[a: 3 b: 2]");

    auto code = [&](u32 slot, cell spec) { return test::raised([&] { make_via(slot, spec); }); };
    EXPECT_EQ(code(act::slot::make, block_of({num(1), num(2), num(3)})),
              err::E("script", "invalid-arg").code());
    EXPECT_EQ(code(act::slot::make, num(-1)), err::E("script", "out-of-range").code());
    EXPECT_EQ(code(act::slot::to, num(3)), err::E("script", "bad-to-arg").code());
    EXPECT_EQ(code(act::slot::make, test::text_value("x")), err::E("script", "bad-to-arg").code());
}

TEST(HashMaker, IndexesEveryCellKeepingDuplicates) {
    test::held_cell block = block_of({word("a"), word("b"), word("a")});
    test::held_cell h = block;
    hash::init_cell(&h, block.w2, 3);
    EXPECT_EQ(type_of(&h), type_id::hash);
    EXPECT_EQ(cells_in(h), 3u);
    cell probe = word("a");
    cell* found = hash_index::find_cell(h.w3, &probe, 0, 0, 0);
    EXPECT_EQ(found, head_cell(buffer_of(h.w2)));
    test::held_cell empty = cell{0, 0, 0, 0};
    hash::init_cell(&empty, 0, 0);
    EXPECT_EQ(cells_in(empty), 0u);
    EXPECT_GE(buffer_of(empty.w2)->size, sizeof(cell));
}

TEST(HashMake, FromNumbersBlocksAndHashes) {
    auto make = act::handler<act::slot::make>(type_id::hash);
    auto to = act::handler<act::slot::to>(type_id::hash);
    test::held_cell spec = block_of({num(1), num(2), num(1)});
    spec.w1 = 1;
    test::held_cell h = cell{0, 0, 0, 0};
    make(&h, &spec, type_id::hash);
    EXPECT_EQ(cells_in(h), 2u);
    EXPECT_NE(h.w2, spec.w2);
    cell probe = num(1);
    EXPECT_EQ(hash_index::find_cell(h.w3, &probe, 0, 0, 0), head_cell(buffer_of(h.w2)) + 1);

    test::held_cell copy = cell{0, 0, 0, 0};
    to(&copy, &h, type_id::hash);
    EXPECT_NE(copy.w2, h.w2);
    EXPECT_NE(copy.w3, h.w3);
    EXPECT_EQ(hash_index::find_cell(copy.w3, &probe, 0, 0, 0), head_cell(buffer_of(copy.w2)) + 1);

    test::held_cell sized = cell{0, 0, 0, 0};
    cell minus = num(-5);
    make(&sized, &minus, type_id::hash);
    EXPECT_EQ(cells_in(sized), 0u);
}

TEST(HashText, MakeHashBeforeTheBlock) {
    if (!act::handler<act::slot::mold>(type_id::block)) GTEST_SKIP() << "block! mold not built";
    test::held_cell block = block_of({num(1), num(2)});
    test::held_cell h = block;
    hash::init_cell(&h, block.w2, 2);
    EXPECT_EQ(mold_text(h), "make hash! [1 2]");
    EXPECT_EQ(mold_text(h, {.only = true}), "1 2");
}

} // namespace
} // namespace zel
