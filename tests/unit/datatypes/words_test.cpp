// Symbols, contexts and binding, and the word family.
#include <gtest/gtest.h>

#include "datatypes/context.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/string_buffer.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/text_out.hpp"
#include "datatypes/word.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/actions.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"
#include "tests/unit/kept_cells.hpp"

using namespace zel;
using test::keep;

namespace {
cell block_of(std::initializer_list<cell> cells) {
    cell b =
        keep({type_id::block, 0, memory::new_cell_series(static_cast<u32>(cells.size()) + 1), 0});
    for (const cell& c : cells) *memory::append_cell_slot(&b) = c;
    return b;
}
cell word_cell(const char* text, u32 type = type_id::word) {
    return cell{type, 0, symbol::intern_text(text), context::unbound};
}
// Keeps a context that no value names yet.
u32 kept_context(u32 ctx) {
    keep({type_id::object, ctx, 0, 0});
    return ctx;
}
u32 raised(void (*body)()) {
    try {
        body();
    } catch (const unwind&) {
        return error::last_code();
    }
    return 0;
}
std::string molded(cell v, i32 limit, i32* left = nullptr) {
    gc::root keep_value(&v);
    cell out;
    gc::root keep_out(&out);
    out::new_string(&out);
    i32 l = actions::mold_typed(&v, &out, false, false, false, nullptr, limit, 0);
    if (left) *left = l;
    return utf8::encode_string(&out);
}
} // namespace

TEST(Symbols, LetterCaseFamilies) {
    u32 foo = symbol::intern_text("foo");
    EXPECT_EQ(symbol::intern_text("foo"), foo);
    u32 upper = symbol::intern_text("FOO");
    u32 mixed = symbol::intern_text("Foo");
    EXPECT_NE(upper, foo);
    EXPECT_EQ(symbol::alias_of(upper), static_cast<i32>(foo));
    EXPECT_EQ(symbol::alias_of(mixed), static_cast<i32>(foo));
    EXPECT_EQ(symbol::alias_of(foo), -1);
    EXPECT_EQ(symbol::canonical_id(mixed), foo);
    u32 before = symbol::count();
    EXPECT_EQ(symbol::intern_text_any_case("FOO"), foo);
    EXPECT_EQ(symbol::count(), before);
    // Only ASCII letters fold.
    u32 e = symbol::intern_text("\xC3\xA9"), E = symbol::intern_text("\xC3\x89");
    EXPECT_NE(symbol::canonical_id(e), symbol::canonical_id(E));
    // The cached string holds wide units; the UTF-8 text stays as it was.
    u32 wide = symbol::intern_text("\xE2\x82\xAC");
    series_buffer* b = buffer_of(symbol::cached_string(wide));
    EXPECT_EQ(unit_of(b), 2u);
    EXPECT_EQ(symbol::text(wide), "\xE2\x82\xAC");
}

TEST(Contexts, BindingAndSelf) {
    test::kept_scope scope;
    u32 ctx = kept_context(context::new_node(4, false, false, nullptr, context::kind::object));
    cell a = word_cell("alpha");
    context::find_or_add_word(ctx, &a);
    cell other = word_cell("beta");
    other.w1 = 77;
    other.w3 = 5;
    cell inner = block_of({word_cell("ALPHA", type_id::get_word)});
    cell inner_paren = inner;
    inner_paren.header = type_id::paren;
    cell body = block_of({word_cell("alpha"), other, inner_paren, word_cell("self")});
    context::bind_block_words(&body, ctx, true);
    cell* cells = head_cell(buffer_of(body.w2));
    EXPECT_EQ(cells[0].w1, ctx);
    EXPECT_EQ(cells[0].w3, 0u);
    EXPECT_EQ(cells[1].w1, 77u); // a word the context lacks keeps its binding
    EXPECT_EQ(cells[1].w3, 5u);
    EXPECT_EQ(head_cell(buffer_of(cells[2].w2))[0].w1, ctx); // nested, any case
    EXPECT_EQ(cells[3].w3, context::unbound);
    cell self_value{type_id::object, ctx, 0, 0};
    *context::self_cell(ctx) = self_value;
    EXPECT_EQ(context::word_value_address(&cells[3]), context::self_cell(ctx));
    // Setting a field through a word marks its key.
    cell v;
    init_integer(&v, 5);
    context::set_word_value(&cells[0], &v);
    EXPECT_TRUE(context::key_word(ctx, 0)->header & cell_flag::changed_key);
    EXPECT_EQ(int_of(context::word_value_address(&cells[0])), 5);
}

TEST(Contexts, SpecsAndStackContexts) {
    test::kept_scope scope;
    cell spec = block_of(
        {word_cell("x"), word_cell("y"), word_cell("X"), word_cell("opt", type_id::refinement)});
    u32 ctx = kept_context(context::new_from_spec(&spec, true, false, context::kind::function));
    EXPECT_EQ(context::key_count(ctx), 3u); // the same word twice gives one key
    static cell probe;
    probe = *context::key_word(ctx, 0);
    EXPECT_EQ(raised([] { context::word_value_address(&probe); }),
              err::E("script", "not-in-context").code());
    static cell unbound;
    unbound = word_cell("nowhere");
    EXPECT_EQ(raised([] { context::word_value_address(&unbound); }),
              err::E("script", "no-value").code());
}

TEST(Contexts, GlobalLetterCaseVariantsShareASlot) {
    test::kept_scope scope;
    u32 g = context::global_node();
    cell lower = context::global_word_for(symbol::intern_text("colour"), true, true);
    u32 keys = context::key_count(g);
    cell upper = context::global_word_copy(symbol::intern_text("COLOUR"));
    EXPECT_EQ(context::key_count(g), keys + 1);
    EXPECT_EQ(upper.w3, lower.w3);
    cell literal = word::intern_literal("Colour");
    EXPECT_EQ(literal.w3, lower.w3);
    EXPECT_EQ(symbol::text(literal.w2), "Colour");
    // Storing through an unbound word into an object adds the key.
    u32 obj = kept_context(context::new_node(2, false, false, nullptr, context::kind::object));
    cell w = word_cell("fresh");
    cell v;
    init_integer(&v, 9);
    context::store_word_value(&w, &v, obj, false);
    EXPECT_EQ(w.w1, obj);
    EXPECT_EQ(int_of(context::values_base(obj) + w.w3), 9);
}

TEST(Words, MoldAndCompare) {
    i32 left;
    EXPECT_EQ(molded(word_cell("foo", type_id::set_word), 10, &left), "foo:");
    EXPECT_EQ(left, 6);
    EXPECT_EQ(molded(word_cell("foo", type_id::lit_word), 10, &left), "'foo");
    EXPECT_EQ(left, 6);
    EXPECT_EQ(molded(word_cell("foo", type_id::refinement), 10), "/foo");
    EXPECT_EQ(molded(word_cell("foo", type_id::get_word), 10), ":foo");
    EXPECT_EQ(molded(word_cell("foo", type_id::issue), 10), "#foo");
    cell a = word_cell("foo", type_id::lit_word), b = word_cell("FOO", type_id::lit_word);
    EXPECT_TRUE(actions::compare(&a, &b, actions::compare_op::equal));
    EXPECT_FALSE(actions::compare(&a, &b, actions::compare_op::strict_equal));
    cell w1 = word_cell("foo"), w2 = word_cell("foo");
    w1.w1 = 1;
    w2.w1 = 2;
    EXPECT_FALSE(actions::compare(&w1, &w2, actions::compare_op::same));
    cell issue = word_cell("foo", type_id::issue);
    EXPECT_FALSE(actions::compare(&w1, &issue, actions::compare_op::equal));
    // Type names are interned words.
    ASSERT_NE(datatype::word_of(type_id::integer), nullptr);
    EXPECT_EQ(symbol::text(datatype::word_of(type_id::integer)->w2), "integer!");
}
