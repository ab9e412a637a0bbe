// object!: class ids, construct, the copy engine, reflect, mold and form, paths, comparison.
#include <gtest/gtest.h>

#include "datatypes/change_events.hpp"
#include "datatypes/object.hpp"
#include "datatypes/words_rt.hpp"
#include "object_helpers.hpp"

using namespace zel;
using namespace zel::test;

namespace {

class Objects : public testing::Test {
  protected:
    void SetUp() override {
        install_stand_ins();
        base = stack::top;
    }
    void TearDown() override {
        stack::top = base;
        release_kept();
    }
    cell* base = nullptr;
};

// An object from set-word / value pairs, without evaluation.
cell object_of(std::initializer_list<cell> spec, const cell* proto = nullptr) {
    cell b = block_of(spec);
    cell* base = stack::top;
    cell o = *object::new_from_proto(&b, proto, true);
    stack::top = base;
    return keep(o);
}

cell make_object(cell proto, cell spec) {
    cell* base = stack::top;
    cell* p = stack::push_value(&proto);
    cell* s = stack::push_value(&spec);
    object::make(p, s, type_id::object);
    cell r = *p;
    stack::top = base;
    return keep(r);
}

cell object_datatype() {
    cell d;
    return *init_datatype(&d, type_id::object);
}

const cell* field(const cell& o, const char* name) {
    return object::field_value(&o, symbol::intern_text(name));
}

// A function! of spec [/local x] whose body is the block [a]: enough for the copy engine.
cell function_of_a() {
    cell spec = block_of({word("local", type_id::refinement), word("x")});
    cell body = block_of({word("a")});
    u32 ctx = context::new_from_spec(&spec, true, false, context::kind::function);
    keep(cell{type_id::object, ctx, 0, 0}); // holds the context until the function does
    u32 side = memory::new_unset_cell_series(5);
    buffer_of(side)->tail = buffer_of(side)->head + 5 * sizeof(cell);
    head_cell(buffer_of(side))[0] = body;
    cell fn{type_id::function, ctx, spec.w2, side};
    *context::self_cell(ctx) = fn;
    return keep(fn);
}

cell reflect(cell o, u32 field_symbol) {
    object::reflect(&o, field_symbol);
    return keep(o);
}

} // namespace

TEST_F(Objects, ClassIds) {
    cell empty = make_object(object_datatype(), block_of({}));
    cell other = make_object(object_datatype(), block_of({}));
    EXPECT_GT(object::class_of(&empty), 1000000);
    EXPECT_GT(object::class_of(&other), object::class_of(&empty));
    // A prototype and a spec that adds no word keep the prototype's class.
    cell proto = object_of({set_word("a"), integer(1)});
    cell kept = make_object(proto, block_of({}));
    EXPECT_EQ(object::class_of(&kept), object::class_of(&proto));
    cell same_words = object_of({set_word("a"), integer(2)});
    cell merged = make_object(proto, same_words);
    EXPECT_EQ(object::class_of(&merged), object::class_of(&proto));
    EXPECT_EQ(int_of(field(merged, "a")), 2);
    cell more_words = object_of({set_word("b"), integer(3)});
    cell extended = make_object(proto, more_words);
    EXPECT_NE(object::class_of(&extended), object::class_of(&proto));
    EXPECT_EQ(object::field_count(&extended), 2u);
    EXPECT_EQ(int_of(field(extended, "a")), 1);
    // The self cell always holds the object as it is.
    EXPECT_EQ(context::self_cell(extended.w1)->w2, extended.w2);
    EXPECT_TRUE(raises(err::E("syntax", "malconstruct"),
                       [&] { make_object(object_datatype(), integer(5)); }));
}

TEST_F(Objects, ConstructRunsOfSetWords) {
    cell spec = block_of({set_word("a"), set_word("b"), word("on"), set_word("c")});
    cell* base = stack::top;
    cell converted = *object::new_from_proto(&spec, nullptr, false);
    keep(converted);
    cell kept = *object::new_from_proto(&spec, nullptr, true);
    stack::top = base;
    keep(kept);
    for (const char* name : {"a", "b"}) {
        EXPECT_EQ(type_of(field(converted, name)), type_id::logic);
        EXPECT_EQ(field(converted, name)->w1, 1u);
        EXPECT_EQ(type_of(field(kept, name)), type_id::word);
    }
    EXPECT_EQ(type_of(field(converted, "c")), type_id::none);
    cell words = block_of({set_word("t"), word("yes"), set_word("f"), word("OFF"), set_word("n"),
                           word("none"), set_word("w"), word("maybe")});
    base = stack::top;
    cell o = *object::new_from_proto(&words, nullptr, false);
    stack::top = base;
    keep(o);
    EXPECT_EQ(field(o, "t")->w1, 1u);
    EXPECT_EQ(type_of(field(o, "f")), type_id::logic);
    EXPECT_EQ(field(o, "f")->w1, 0u);
    EXPECT_EQ(type_of(field(o, "n")), type_id::none);
    EXPECT_EQ(type_of(field(o, "w")), type_id::word);
}

TEST_F(Objects, CopyShallowDeepAndFunctions) {
    cell o =
        object_of({set_word("a"), integer(1), set_word("items"),
                   block_of({integer(1), block_of({integer(2)})}), set_word("f"), function_of_a()});
    cell* base = stack::top;
    cell shallow = *object::push_copy(&o, false, nullptr, false);
    cell deep = *object::push_copy(&o, true, nullptr, false);
    stack::top = base;
    keep(shallow);
    keep(deep);
    EXPECT_NE(shallow.w1, o.w1);
    EXPECT_EQ(object::class_of(&shallow), object::class_of(&o));
    EXPECT_EQ(field(shallow, "items")->w2, field(o, "items")->w2);
    cell deep_items = *field(deep, "items");
    EXPECT_NE(deep_items.w2, field(o, "items")->w2);
    EXPECT_NE(block_at(deep_items, 1)->w2, block_at(*field(o, "items"), 1)->w2);
    // The function is re-made for each copy: its body word `a` now means the copy's field.
    for (const cell& copy : {shallow, deep}) {
        cell f = *field(copy, "f");
        EXPECT_EQ(type_of(&f), type_id::function);
        EXPECT_NE(f.w1, field(o, "f")->w1);
        EXPECT_EQ(f.w2, field(o, "f")->w2); // the same spec
        cell body = head_cell(buffer_of(f.w3))[0];
        EXPECT_NE(body.w2, head_cell(buffer_of(field(o, "f")->w3))[0].w2);
        EXPECT_EQ(block_at(body, 0)->w1, copy.w1);
        EXPECT_EQ(type_of(head_cell(buffer_of(f.w3)) + 2), type_id::unset);
        EXPECT_EQ(context::self_cell(f.w1)->w1, f.w1);
    }
    // The source's own function is untouched.
    cell source_body = head_cell(buffer_of(field(o, "f")->w3))[0];
    EXPECT_EQ(block_at(source_body, 0)->w1, 0u);

    cell bodiless = function_of_a();
    head_cell(buffer_of(bodiless.w3))[0] = none_value();
    cell broken = object_of({set_word("f"), bodiless});
    EXPECT_TRUE(raises(err::E("script", "bad-func-def"),
                       [&] { object::push_copy(&broken, false, nullptr, false); }));
    cell part = integer(1);
    cell out;
    EXPECT_TRUE(raises(err::E("script", "invalid-refine-arg"),
                       [&] { object::copy(&o, &out, &part, false, nullptr); }));
}

TEST_F(Objects, CopyWithTypesStopsAtCycles) {
    cell o = object_of({set_word("me"), none_value(), set_word("items"), block_of({integer(1)})});
    context::values_base(o.w1)[0] = o;
    cell types;
    init_datatype(&types, type_id::block);
    cell* base = stack::top;
    cell copy = *object::push_copy(&o, true, &types, false);
    stack::top = base;
    keep(copy);
    EXPECT_NE(field(copy, "items")->w2, field(o, "items")->w2);
    EXPECT_EQ(field(copy, "me")->w1, o.w1); // objects are not in the filter
    cell objects;
    init_datatype(&objects, type_id::object);
    EXPECT_TRUE(raises(err::E("internal", "no-cycle"),
                       [&] { object::push_copy(&o, true, &objects, false); }));
}

TEST_F(Objects, Reflect) {
    cell o =
        object_of({set_word("a"), word("x"), set_word("p"), block_of({word("y")}, type_id::path)});
    cell class_id = reflect(o, sym::class_);
    EXPECT_EQ(int_of(&class_id), object::class_of(&o));
    cell words = reflect(o, sym::words);
    ASSERT_EQ(block_length(words), 2u);
    EXPECT_EQ(block_at(words, 1)->w1, o.w1);
    EXPECT_EQ(block_at(words, 1)->w3, 1u);
    cell values = reflect(o, sym::values);
    EXPECT_EQ(type_of(block_at(values, 0)), type_id::word);
    cell body = reflect(o, sym::body_field);
    ASSERT_EQ(block_length(body), 4u);
    EXPECT_EQ(type_of(block_at(body, 0)), type_id::set_word);
    EXPECT_TRUE(cell_ops::has_newline(block_at(body, 0)));
    EXPECT_EQ(type_of(block_at(body, 1)), type_id::lit_word);
    EXPECT_EQ(type_of(block_at(body, 3)), type_id::lit_path);
    EXPECT_EQ(block_length(reflect(object_of({}), sym::body_field)), 0u);
    EXPECT_EQ(reflect(o, sym::events_q).w1, 0u);
    EXPECT_EQ(reflect(o, sym::owner).w1, 0u);
    // Assignment through a word marks the field; `modify` clears the marks.
    cell a = *context::key_word(o.w1, 0);
    cell v = integer(5);
    context::set_word_value(&a, &v);
    cell changed = reflect(o, sym::changed);
    ASSERT_EQ(block_length(changed), 1u);
    EXPECT_EQ(block_at(changed, 0)->w2, a.w2);
    cell field_word = word("changed");
    cell value = integer(1);
    EXPECT_TRUE(raises(err::E("script", "invalid-arg"), [&] {
        cell t = o;
        act::handler<act::slot::modify>(type_id::object)(&t, &field_word, &value, false);
    }));
    cell none = none_value();
    cell t = o;
    act::handler<act::slot::modify>(type_id::object)(&t, &field_word, &none, false);
    EXPECT_EQ(block_length(reflect(o, sym::changed)), 0u);
    EXPECT_TRUE(raises(err::E("internal", "not-done"), [&] { reflect(o, sym::spec); }));
}

TEST_F(Objects, MoldAndForm) {
    cell two = object_of({set_word("a"), integer(1), set_word("b"), word("x")});
    EXPECT_EQ(molded(two), "make object! [\n    a: 1\n    b: 'x\n]");
    EXPECT_EQ(molded(two, true), "a: 1\nb: 'x");
    EXPECT_EQ(molded(two, false, false, true), "make object! [a: 1 b: 'x]");
    EXPECT_EQ(formed(two), "a: 1\nb: 'x");
    EXPECT_EQ(molded(object_of({})), "make object! []");
    cell nested = object_of(
        {set_word("inner"), object_of({set_word("c"), integer(3)}), set_word("d"), integer(4)});
    EXPECT_EQ(molded(nested),
              "make object! [\n    inner: make object! [\n        c: 3\n    ]\n    d: 4\n]");
    // The handler fields show only with /all.
    cell handled = object_of({set_word("on-change*"), integer(0), set_word("v"), integer(1)});
    EXPECT_EQ(molded(handled), "make object! [\n    v: 1\n]");
    EXPECT_EQ(molded(handled, false, true), "make object! [\n    on-change*: 0\n    v: 1\n]");
}

TEST_F(Objects, MoldCyclesAndBudget) {
    cell o = object_of({set_word("self-ref"), none_value(), set_word("n"), integer(7)});
    context::values_base(o.w1)[0] = o;
    EXPECT_EQ(molded(o), "make object! [\n    self-ref: make object! [...]\n    n: 7\n]");
    EXPECT_EQ(formed(o), "self-ref: make object! [...]\nn: 7");
    // The writer stops once the /part budget is spent.
    cell many = object_of(
        {set_word("a"), integer(1), set_word("b"), integer(2), set_word("c"), integer(3)});
    cell part = integer(10);
    cell out;
    out::new_string(&out);
    keep(out);
    i32 left = actions::mold_typed(&many, &out, false, false, true, &part, 10, 0);
    std::string text = utf8::encode_string(&out);
    EXPECT_LT(left, 1);
    EXPECT_EQ(text.find("c:"), std::string::npos);
}

TEST_F(Objects, Compare) {
    auto cmp = [](cell a, cell b, i32 op) { return actions::compare_three_way(&a, &b, op); };
    cell a = object_of({set_word("x"), integer(1)});
    cell same_shape = object_of({set_word("x"), integer(1)});
    cell bigger = object_of({set_word("x"), integer(2)});
    cell wider = object_of({set_word("x"), integer(1), set_word("y"), integer(1)});
    EXPECT_EQ(cmp(a, a, 0), 0);
    EXPECT_EQ(cmp(a, same_shape, 0), 0);
    EXPECT_EQ(cmp(a, same_shape, actions::compare_op::same), -1);
    EXPECT_EQ(cmp(a, bigger, 3), -1);
    EXPECT_EQ(cmp(a, wider, 3), -1);
    EXPECT_EQ(cmp(wider, a, 3), 1);
    EXPECT_EQ(cmp(a, integer(1), 0), -2);
    cell f = object_of({set_word("x"), cell{type_id::float_, 0, 0, 0}});
    set_float_payload(context::values_base(f.w1), 1.0);
    EXPECT_EQ(cmp(a, f, 0), 0); // integer! and float! values compare by value
    // Objects that contain themselves compare without recursing forever.
    cell p = object_of({set_word("me"), none_value()});
    cell q = object_of({set_word("me"), none_value()});
    context::values_base(p.w1)[0] = p;
    context::values_base(q.w1)[0] = q;
    EXPECT_EQ(cmp(p, q, 0), 0);
}

TEST_F(Objects, PathsSelectAndPut) {
    cell o = object_of({set_word("a"), integer(1), set_word("u"), integer(0)});
    init_unset(context::values_base(o.w1) + 1);
    cell key = word("A");
    path_step get;
    EXPECT_EQ(int_of(object::eval_path(&o, &key, nullptr, get)), 1);
    EXPECT_EQ(key.w1, o.w1); // the lookup is kept in the element
    EXPECT_EQ(key.w3, 0u);
    cell missing = word("zz");
    path_step last;
    last.last = true;
    EXPECT_TRUE(raises(err::E("script", "invalid-path"),
                       [&] { object::eval_path(&o, &missing, nullptr, last); }));
    EXPECT_TRUE(raises(err::E("script", "unset-path"),
                       [&] { object::eval_path(&o, &missing, nullptr, get); }));
    cell unset_field = word("u");
    EXPECT_TRUE(raises(err::E("script", "unset-path"),
                       [&] { object::eval_path(&o, &unset_field, nullptr, get); }));
    cell number = integer(3);
    EXPECT_TRUE(raises(err::E("script", "invalid-path"),
                       [&] { object::eval_path(&o, &number, nullptr, get); }));
    cell nine = integer(9);
    object::eval_path(&o, &key, &nine, get);
    EXPECT_EQ(int_of(field(o, "a")), 9);

    auto select = [&](cell element) {
        cell s = o;
        return *object::select(&s, &element, nullptr, false, false, false, false, nullptr, nullptr,
                               false, false);
    };
    cell found = select(word("a"));
    cell absent = select(word("zz"));
    EXPECT_EQ(int_of(&found), 9);
    EXPECT_EQ(type_of(&absent), type_id::none);
    EXPECT_TRUE(raises(err::E("script", "invalid-type"), [&] { select(integer(1)); }));
    auto put = act::handler<act::slot::put>(type_id::object);
    cell five = integer(5);
    cell target = o;
    cell a = word("a");
    put(&target, &a, &five, false);
    EXPECT_EQ(int_of(field(o, "a")), 5);
    EXPECT_TRUE(raises(err::E("script", "invalid-path"), [&] {
        cell m = word("zz");
        put(&target, &m, &five, false);
    }));
    EXPECT_TRUE(raises(err::E("script", "invalid-key-type"), [&] {
        cell k = integer(1);
        put(&target, &k, &five, false);
    }));
}
