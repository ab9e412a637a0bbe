// The symbols-and-words kind: interning texts with letter-case aliases, and context key tables.
#include <gtest/gtest.h>

#include <random>
#include <unordered_map>

#include "index_test_support.hpp"

using namespace zel;
using namespace zel::hash_index;
using test::intern;

namespace {

const cell& symbol_cell(u32 table, u32 id) {
    return *test::at(record_of(table)->values, id - 1);
}
i32 alias_of(u32 table, u32 id) {
    return static_cast<i32>(symbol_cell(table, id).w1);
}
std::string text_of(u32 table, u32 id) {
    series_buffer* b = buffer_of(symbol_cell(table, id).w3);
    return std::string(reinterpret_cast<const char*>(head_ptr(b)), used_bytes(b));
}

} // namespace

TEST(SymbolIndex, LetterCaseFamilies) {
    u32 t = test::fresh_symbol_table();
    u32 foo = intern(t, "foo");
    EXPECT_EQ(intern(t, "foo"), foo);
    u32 upper = intern(t, "FOO");
    EXPECT_NE(upper, foo);
    u32 mixed = intern(t, "Foo");
    EXPECT_EQ(alias_of(t, foo), -1);
    EXPECT_EQ(alias_of(t, upper), static_cast<i32>(foo));
    EXPECT_EQ(alias_of(t, mixed), static_cast<i32>(foo)); // not FOO's id
    EXPECT_EQ(canonical_symbol(mixed), foo);
    EXPECT_EQ(intern(t, "FOO"), upper);

    u32 before = record_of(t)->size;
    EXPECT_EQ(intern(t, "fOO", true), foo); // any case: an existing spelling, nothing added
    EXPECT_EQ(record_of(t)->size, before);

    // Only ASCII letters fold.
    u32 e_lower = intern(t, "caf\xC3\xA9"), e_upper = intern(t, "CAF\xC3\x89");
    EXPECT_EQ(alias_of(t, e_upper), -1);
    EXPECT_NE(canonical_symbol(e_upper), canonical_symbol(e_lower));

    // Layout: header 13, cached string 0, text with a NUL past its tail.
    u32 empty = intern(t, "");
    EXPECT_EQ(intern(t, ""), empty);
    const cell& c = symbol_cell(t, e_lower);
    EXPECT_EQ(c.header, type_id::symbol);
    EXPECT_EQ(c.w2, 0u);
    EXPECT_EQ(text_of(t, e_lower), "caf\xC3\xA9");
    EXPECT_EQ(*tail_ptr(buffer_of(c.w3)), 0);
}

TEST(SymbolIndex, GrowthKeepsIdsAndFamilies) {
    std::mt19937 rng(99);
    u32 t = test::fresh_symbol_table(4);
    u32 first_buckets = record_of(t)->buckets;
    std::unordered_map<std::string, u32> ids;
    std::unordered_map<std::string, u32> family; // lower-cased text -> canonical id
    for (int i = 0; i < 6000; i++) {
        std::string s;
        for (u32 n = 1 + rng() % 4; n; n--) s += static_cast<char>('a' + rng() % 6);
        for (char& ch : s)
            if (rng() % 3 == 0) ch = static_cast<char>(ch - 32);
        u32 id = intern(t, s);
        auto [it, added] = ids.emplace(s, id);
        ASSERT_EQ(it->second, id) << s;
        std::string lower = s;
        for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        auto [f, new_family] = family.emplace(lower, canonical_symbol(id));
        ASSERT_EQ(f->second, canonical_symbol(id)) << s;
        // One step always reaches the canonical id.
        i32 alias = alias_of(t, id);
        ASSERT_TRUE(alias == -1 || alias_of(t, static_cast<u32>(alias)) == -1) << s;
    }
    for (const auto& [s, id] : ids) {
        ASSERT_EQ(intern(t, s), id);
        ASSERT_EQ(text_of(t, id), s);
    }
    EXPECT_EQ(record_of(t)->size, ids.size());
    EXPECT_GE(record_of(t)->buckets, 16 * first_buckets); // grows sixteenfold at least
}

TEST(SymbolIndex, AliasIsCanonicalAfterAResizeReordersAFamily) {
    // A family whose probe sequence wraps: FOO's bucket 0 lies after foo's last bucket, so the
    // resize walk (in bucket order) places FOO first, and the next variant meets FOO first.
    u32 t = test::fresh_symbol_table(4);
    ASSERT_EQ(record_of(t)->buckets, 8u);
    std::string base;
    for (int i = 0; base.empty(); i++) {
        std::string s = "q" + std::string(1, static_cast<char>('a' + i % 26)) +
                        std::string(1, static_cast<char>('a' + i / 26 % 26));
        if ((symbol_text_hash(reinterpret_cast<const u8*>(s.data()), 3) & 7) == 7) base = s;
    }
    std::string upper = base, mixed = base;
    for (char& ch : upper) ch = static_cast<char>(ch - 32);
    mixed[0] = static_cast<char>(mixed[0] - 32);
    u32 first = intern(t, base);
    intern(t, upper);
    for (int i = 0; record_of(t)->occupied < record_of(t)->bound; i++) intern(t, std::to_string(i));
    u32 variant = intern(t, mixed); // grows the table first
    ASSERT_GT(record_of(t)->buckets, 8u);
    EXPECT_EQ(alias_of(t, variant), static_cast<i32>(first));
}

TEST(ContextKeys, SlotsByExactAndCanonicalSymbol) {
    u32 t = test::fresh_symbol_table();
    u32 a = intern(t, "alpha"), upper_a = intern(t, "ALPHA"), b = intern(t, "beta");
    gc::rooted_cell held_keys(cell{type_id::hash, 0, 0, make_index(1, nullptr, kind::symbols, 0)});
    u32 keys = held_keys.value.w3;
    gc::rooted_cell held_context(test::block_cell(memory::new_cell_series(2)));
    u32 context = held_context.value.w2;
    test::append(context, {type_id::context, keys, 0, 0});

    i32 out = -9;
    EXPECT_EQ(context_slot(keys, a, true, context, &out), -1); // added
    EXPECT_EQ(out, 0);
    EXPECT_EQ(context_slot(keys, b, true, context, &out), -1);
    EXPECT_EQ(out, 1);
    EXPECT_EQ(context_slot(keys, upper_a, true, 0, &out), 0);   // canonical: the same key
    EXPECT_EQ(context_slot(keys, upper_a, false, 0, &out), -1); // exact: absent, nothing added
    EXPECT_EQ(test::length(record_of(keys)->values), 2u);

    const cell* w = key_word_at(context, 1);
    EXPECT_EQ(w->header, type_id::word);
    EXPECT_EQ(w->w1, context);
    EXPECT_EQ(w->w2, b);
    EXPECT_EQ(w->w3, 1u);
    EXPECT_EQ(key_series_buffer(context), buffer_of(record_of(keys)->values));

    // Many keys: growth keeps every slot.
    std::vector<u32> symbols;
    for (int i = 0; i < 500; i++) symbols.push_back(intern(t, "key" + std::to_string(i)));
    for (u32 s : symbols) context_slot(keys, s, true, context, nullptr);
    for (std::size_t i = 0; i < symbols.size(); i++)
        ASSERT_EQ(context_slot(keys, symbols[i], false, 0, nullptr), static_cast<i32>(i + 2));

    // A copy of the whole key table, words included, for a cloned context.
    cell context_cell = *test::at(context, 0);
    gc::rooted_cell held_copy(
        cell{type_id::hash, 0, 0, make_index(0, &context_cell, kind::symbols, 2)});
    u32 copy = held_copy.value.w3;
    EXPECT_NE(record_of(copy)->values, record_of(keys)->values);
    gc::rooted_cell held_other(test::block_cell(memory::new_cell_series(2)));
    u32 other = held_other.value.w2;
    EXPECT_EQ(context_slot(copy, intern(t, "gamma"), true, other, nullptr), -1);
    EXPECT_EQ(context_slot(keys, intern(t, "gamma"), true, 0, nullptr), -1);
    EXPECT_EQ(context_slot(copy, b, true, 0, nullptr), 1);
}
