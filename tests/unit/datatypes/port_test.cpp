// port!: making ports from spec objects and the checks of action routing. Spec blocks are
// evaluated, and the actor's functions run, by the interpreter: neither is exercised here.
#include <gtest/gtest.h>

#include "datatypes/handle.hpp"
#include "datatypes/object.hpp"
#include "datatypes/port.hpp"
#include "object_helpers.hpp"

using namespace zel;
using namespace zel::test;

namespace {

cell object_of(std::initializer_list<cell> spec) {
    cell b = block_of(spec);
    cell* base = stack::top;
    cell o = *object::new_from_proto(&b, nullptr, true);
    stack::top = base;
    return keep(o);
}

cell make_port(cell spec) {
    cell* base = stack::top;
    cell proto;
    init_datatype(&proto, type_id::port);
    cell* p = stack::push_value(&proto);
    cell* s = stack::push_value(&spec);
    act::handler<act::slot::make>(type_id::port)(p, s, type_id::port);
    cell r = *p;
    stack::top = base;
    return keep(r);
}

class Ports : public testing::Test {
  protected:
    void SetUp() override {
        base = stack::top;
        cell actor = object_of({set_word("open"), none_value()});
        cell scheme = object_of({set_word("name"), word("mem"), set_word("title"), none_value(),
                                 set_word("info"), none_value(), set_word("actor"), actor});
        cell handle_actor;
        handle::init_cell(&handle_actor, 1, 0);
        keep(handle_actor);
        cell native = object_of({set_word("name"), word("native"), set_word("title"), none_value(),
                                 set_word("info"), none_value(), set_word("actor"), handle_actor});
        cell broken = object_of({set_word("name"), word("broken"), set_word("title"), none_value(),
                                 set_word("info"), none_value(), set_word("actor"), integer(1)});
        cell schemes =
            block_of({word("mem"), scheme, word("native"), native, word("broken"), broken});
        cell prototype =
            object_of({set_word("spec"), none_value(), set_word("scheme"), none_value(),
                       set_word("actor"), none_value(), set_word("awake"), none_value()});
        port::set_environment(&prototype, nullptr, &schemes);
    }
    void TearDown() override {
        stack::top = base;
        release_kept();
    }
    cell* base = nullptr;
};

} // namespace

TEST_F(Ports, MakeFromSpecs) {
    cell p = make_port(object_of({set_word("scheme"), word("mem"), set_word("path"), integer(1)}));
    EXPECT_EQ(type_of(&p), type_id::port);
    EXPECT_EQ(object::class_of(&p), object::port_class);
    EXPECT_EQ(object::field_count(&p), 4u);
    cell* fields = context::values_base(p.w1);
    EXPECT_EQ(type_of(fields + port::field::spec), type_id::object);
    EXPECT_EQ(fields[port::field::scheme].w2, symbol::intern_text("mem"));
    EXPECT_EQ(type_of(fields + port::field::actor), type_id::object);
    EXPECT_EQ(molded(p).rfind("make port! [\n    spec: make object! [\n", 0), 0u);
    EXPECT_EQ(molded(p, true).rfind("make port! [spec: make object! [", 0), 0u);

    cell spec_object = object_of({set_word("scheme"), word("native")});
    cell native = make_port(spec_object);
    EXPECT_EQ(context::values_base(native.w1)[port::field::spec].w1, spec_object.w1);
    EXPECT_EQ(type_of(context::values_base(native.w1) + port::field::actor), type_id::handle);

    struct bad_case {
        cell spec;
        err::id expected;
    };
    const bad_case cases[] = {
        {object_of({set_word("scheme"), integer(5)}), err::E("access", "no-scheme")},
        {object_of({}), err::E("access", "no-scheme")},
        {object_of({set_word("scheme"), word("nope")}), err::E("access", "unknown-scheme")},
        {object_of({set_word("scheme"), word("broken")}), err::E("access", "invalid-actor")},
    };
    for (const bad_case& c : cases)
        EXPECT_EQ(raised([&] { make_port(c.spec); }), c.expected.code());
}

TEST_F(Ports, RoutingChecks) {
    cell p = make_port(object_of({set_word("scheme"), word("mem")}));
    // The actor has no `swap`, and its `open` is not a function.
    EXPECT_TRUE(raises(err::E("access", "no-port-action"), [&] {
        cell other = integer(1);
        cell target = p;
        act::handler<act::slot::swap>(type_id::port)(&target, &other);
    }));
    EXPECT_TRUE(raises(err::E("access", "no-port-action"), [&] {
        cell target = p;
        act::handler<act::slot::open>(type_id::port)(&target, false, false, false, false, nullptr);
    }));
    // A handle! actor is accepted by make but refused by routing.
    cell native = make_port(object_of({set_word("scheme"), word("native")}));
    EXPECT_TRUE(raises(err::E("access", "invalid-port"), [&] {
        cell target = native;
        act::handler<act::slot::clear>(type_id::port)(&target);
    }));
}
