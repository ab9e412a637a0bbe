// error!: catalog positions and the catalog object, making errors from codes, blocks and strings,
// and the text report.
#include <gtest/gtest.h>

#include "datatypes/error.hpp"
#include "datatypes/object.hpp"
#include "datatypes/words_rt.hpp"
#include "object_helpers.hpp"

using namespace zel;
using namespace zel::test;

// Positions that other units and the serialized forms depend on.
static_assert(err::E("syntax", "invalid").code() == 200);
static_assert(err::E("syntax", "no-zs-header").code() == 203);
static_assert(err::E("syntax", "malconstruct").code() == 205);
static_assert(err::E("syntax", "bad-char").code() == 206);
static_assert(err::E("script", "no-value").code() == 300);
static_assert(err::E("script", "need-value").code() == 301);
static_assert(err::E("script", "not-defined").code() == 302);
static_assert(err::E("script", "expect-arg").code() == 305);
static_assert(err::E("script", "invalid-type").code() == 310);
static_assert(err::E("script", "bad-op-spec").code() == 315);
static_assert(err::E("script", "invalid-data").code() == 316);
static_assert(err::E("script", "out-of-range").code() == 341);
static_assert(err::E("script", "no-return").code() == 348);
static_assert(err::E("script", "bad-make-arg").code() == 353);
static_assert(err::E("script", "parse-rule").code() == 365);
static_assert(err::E("script", "parse-into-type").code() == 374);
static_assert(err::E("script", "zb-invalid-record").code() == 393);
static_assert(err::E("script", "bad-denom").code() == 392);
static_assert(err::E("script", "draw-infinite").code() == 395);
static_assert(err::E("access", "no-codec").code() == 512);
static_assert(err::E("user", "message").code() == 800);
static_assert(err::E("internal", "no-memory").code() == 902);
static_assert(err::E("internal", "wrong-mem").code() == 903);
static_assert(err::E("internal", "too-deep").code() == 906);
static_assert(err::E("internal", "not-done").code() == 909);

namespace {

class Errors : public testing::Test {
  protected:
    void SetUp() override {
        install_stand_ins();
        error::set_up();
        base = stack::top;
    }
    void TearDown() override {
        stack::top = base;
        release_kept();
    }
    cell* base = nullptr;
};

cell category(u32 index) {
    return context::values_base(error::catalog()->w1)[index];
}

// Stands in for the lexer's block of a template.
void set_message(err::id id, cell message) {
    context::values_base(category(id.category).w1)[id.index] = message;
}

cell make_error(cell spec) {
    cell* base = stack::top;
    cell* proto = stack::push_value(&spec);
    cell* s = stack::push_value(&spec);
    error::make(proto, s, type_id::error);
    cell e = *proto;
    stack::top = base;
    return keep(e);
}

bool starts(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

std::string report(cell e) {
    gc::root keep_error(&e);
    cell out;
    gc::root keep_out(&out);
    out::new_string(&out);
    error::form_report(&e, &out, nullptr, 100000);
    return utf8::encode_string(&out);
}

u32 code_of(const cell& e) {
    return static_cast<u32>(int_of(error::field_of(&e, error::field::code)));
}
u32 symbol_of(const cell& e, u32 f) {
    return error::field_of(&e, f)->w2;
}

} // namespace

TEST_F(Errors, CatalogObjectFollowsTheData) {
    const cell* catalog = error::catalog();
    ASSERT_EQ(object::field_count(catalog), static_cast<u32>(err::category_count));
    u32 index[err::category_count] = {};
    for (u32 c = 0; c < err::category_count; c++) {
        cell cat = category(c);
        ASSERT_EQ(type_of(&cat), type_id::object);
        EXPECT_EQ(symbol::text(context::key_word(catalog->w1, c)->w2), err::categories[c].name);
        EXPECT_EQ(int_of(object::field_value(&cat, sym::code)), static_cast<i32>(c * 100));
        const cell* title = object::field_value(&cat, sym::type_);
        ASSERT_EQ(type_of(title), type_id::string);
        EXPECT_EQ(utf8::encode_string(title), err::categories[c].title);
        index[c] = 2;
    }
    for (const err::entry& e : err::entries) {
        cell cat = category(e.category);
        EXPECT_EQ(symbol::text(context::key_word(cat.w1, index[e.category]++)->w2), e.name);
    }
    for (u32 c = 0; c < err::category_count; c++) {
        cell cat = category(c);
        EXPECT_EQ(object::field_count(&cat), index[c]);
    }
    // A message written as a string is a string!.
    cell throw_category = category(0);
    const cell* message = object::field_value(&throw_category, symbol::intern_text("break"));
    ASSERT_EQ(type_of(message), type_id::string);
    EXPECT_EQ(utf8::encode_string(message), "no loop to break");
}

TEST_F(Errors, MakeFromCodes) {
    cell e = make_error(integer(300));
    EXPECT_EQ(type_of(&e), type_id::error);
    EXPECT_EQ(object::class_of(&e), object::error_class);
    EXPECT_EQ(symbol_of(e, error::field::type), symbol::intern_text("script"));
    EXPECT_EQ(symbol_of(e, error::field::id), symbol::intern_text("no-value"));
    EXPECT_EQ(error::field_of(&e, error::field::type)->w1, error::catalog()->w1);
    cell last = make_error(integer(static_cast<i32>(err::E("internal", "no-cycle").code())));
    EXPECT_EQ(symbol_of(last, error::field::id), symbol::intern_text("no-cycle"));
    cell script = category(3);
    u32 script_ids = object::field_count(&script) - 2;
    for (i32 code : {-1, -100, 1000, 600, 105, static_cast<i32>(300 + script_ids)}) {
        SCOPED_TRACE(code);
        EXPECT_TRUE(raises(err::E("script", "out-of-range"), [&] { make_error(integer(code)); }));
    }
    EXPECT_TRUE(raises(err::E("script", "bad-make-arg"), [&] { make_error(none_value()); }));
}

TEST_F(Errors, MakeFromBlocksAndStrings) {
    cell e = make_error(block_of({word("script"), word("no-value")}));
    EXPECT_EQ(code_of(e), 300u);
    cell upper = make_error(block_of({word("MATH"), word("Overflow")}));
    EXPECT_EQ(code_of(upper), err::E("math", "overflow").code());
    struct bad_case {
        cell spec;
        err::id expected;
    };
    const bad_case cases[] = {
        {block_of({word("script"), word("no-such-id")}), err::E("script", "invalid-spec-field")},
        {block_of({word("nothing"), word("no-value")}), err::E("script", "invalid-spec-field")},
        {block_of({word("script")}), err::E("script", "invalid-spec-field")},
        {block_of({word("script"), integer(5)}), err::E("script", "invalid-arg")},
        // `code` and `type` are fields of the category, not ids.
        {block_of({word("script"), word("code")}), err::E("script", "invalid-spec-field")},
        {block_of({word("script"), word("type")}), err::E("script", "invalid-spec-field")},
        {block_of({integer(1), integer(2)}), err::E("internal", "invalid-error")},
        {block_of({}), err::E("internal", "invalid-error")},
    };
    for (const bad_case& c : cases) {
        SCOPED_TRACE(molded(c.spec));
        EXPECT_EQ(raised([&] { make_error(c.spec); }), c.expected.code());
    }
    cell user = make_error(text("disk on fire"));
    EXPECT_EQ(code_of(user), 800u);
    EXPECT_EQ(utf8::encode_string(error::field_of(&user, error::field::arg1)), "disk on fire");
}

TEST_F(Errors, BuildAndHelpers) {
    cell a = word("alpha"), b = integer(2);
    cell e = keep(error::build(err::E("script", "expect-arg"), &a, &b));
    EXPECT_EQ(code_of(e), 305u);
    EXPECT_EQ(error::field_of(&e, error::field::arg1)->w2, a.w2);
    EXPECT_EQ(int_of(error::field_of(&e, error::field::arg2)), 2);
    EXPECT_EQ(type_of(error::field_of(&e, error::field::arg3)), type_id::none);
    EXPECT_EQ(error::category_symbol(&e), symbol::intern_text("script"));
    EXPECT_EQ(error::id_symbol(&e), symbol::intern_text("expect-arg"));
    EXPECT_EQ(error::stack_field_index(), 8u);
    EXPECT_EQ(symbol::text(context::key_word(e.w1, error::stack_field_index())->w2), "stack");
    // Errors are objects to compare and mold, of their own type.
    cell same = keep(error::build(err::E("script", "expect-arg"), &a, &b));
    EXPECT_EQ(actions::compare_three_way(&e, &same, 0), 0);
    cell where = word("here"), later = word("there");
    error::set_where_once(&e, &where);
    error::set_where_once(&e, &later);
    EXPECT_EQ(error::field_of(&e, error::field::where)->w2, where.w2);
    EXPECT_NE(actions::compare_three_way(&e, &same, 0), 0);
    cell o;
    object::init_cell_empty(&o, 1);
    keep(o);
    EXPECT_EQ(actions::compare_three_way(&e, &o, 0), -2);
    EXPECT_EQ(molded(e).rfind("make error! [\n    code: 305\n    type: 'script\n", 0), 0u);
    cell argument = error::spec_argument_word(0);
    EXPECT_EQ(type_of(&argument), type_id::none);
}

TEST_F(Errors, ReportLines) {
    constexpr err::id no_value = err::E("script", "no-value");
    set_message(no_value, block_of({word("arg1", type_id::get_word), text("has no value")}));
    cell w = word("foo");
    cell e = keep(error::build(no_value, &w));
    EXPECT_EQ(report(e), "*** Script Error: foo has no value\n*** Where: ???\n*** Near : none");

    cell near = block_of({});
    for (int i = 0; i < 30; i++) *memory::append_cell_slot(&near) = integer(1000 + i);
    *error::field_of(&e, error::field::near) = near;
    *error::field_of(&e, error::field::where) = word("get");
    *error::field_of(&e, error::field::stack) = block_of({word("outer"), word("get")});
    *error::field_of(&e, error::field::files) = block_of({text("a.zel")});
    std::string near_text = "1000 1001 1002 1003 1004 1005 1006 1007 ";
    ASSERT_EQ(near_text.size(), 40u);
    EXPECT_EQ(report(e), "*** Script Error: foo has no value\n*** Where: get\n*** Near : " +
                             near_text + "\n*** Stack: outer get\n*** Files: \"a.zel\"");
    *error::field_of(&e, error::field::where) = text("in a script");
    EXPECT_NE(report(e).find("\n*** Where: in a script\n"), std::string::npos);
    // A user error shows its string as the message.
    set_message(err::E("user", "message"), block_of({word("arg1", type_id::get_word)}));
    EXPECT_TRUE(starts(report(make_error(text("disk on fire"))),
                       "*** User Error: \"disk on fire\"\n*** Where: ???\n"));
}

TEST_F(Errors, ReportTemplatesAndRelabelling) {
    constexpr err::id invalid = err::E("internal", "invalid-error");
    set_message(invalid, block_of({text("invalid error object field value:"),
                                   word("arg1", type_id::get_word)}));
    // Arguments are molded, except in syntax errors, whose arguments are source excerpts.
    constexpr err::id refine = err::E("script", "invalid-refine-arg");
    set_message(refine, block_of({text("invalid"), word("arg1"), text("argument:"),
                                  word("arg2", type_id::get_word)}));
    cell part = word("part"), value = text("x");
    EXPECT_TRUE(starts(report(error::build(refine, &part, &value)),
                       "*** Script Error: invalid part argument: \"x\"\n*** "));
    constexpr err::id missing = err::E("syntax", "missing");
    set_message(missing, block_of({word("arg1", type_id::get_word), text("missing"),
                                   word("arg2", type_id::get_word), text("at"),
                                   word("arg3", type_id::get_word)}));
    cell line = text("(line 3)"), what = text("]"), excerpt = text("[a b");
    EXPECT_TRUE(starts(report(error::build(missing, &line, &what, &excerpt)),
                       "*** Syntax Error: (line 3) missing ] at [a b\n**"));
    // A category or id that the catalog lacks is reported as invalid-error with the word.
    cell bogus = keep(error::build(err::E("math", "overflow")));
    *error::field_of(&bogus, error::field::id) = word("no-such");
    EXPECT_TRUE(
        starts(report(bogus), "*** Internal Error: invalid error object field value: no-such\n"));
    EXPECT_EQ(symbol_of(bogus, error::field::id), symbol::intern_text("invalid-error"));
    cell lost = keep(error::build(err::E("math", "overflow")));
    *error::field_of(&lost, error::field::type) = word("nowhere");
    EXPECT_TRUE(
        starts(report(lost), "*** Internal Error: invalid error object field value: nowhere\n"));
    // A message may name another field of its category.
    constexpr err::id overflow = err::E("math", "overflow");
    set_message(overflow, word("zero-divide"));
    EXPECT_TRUE(
        starts(report(error::build(overflow)), "*** Math Error: attempt to divide by zero\n**"));
}

TEST_F(Errors, RecordingTheFilesBeingLoaded) {
    cell state = [] {
        cell spec = block_of({set_word("interpreted?"), none_value(), set_word("last-error"),
                              none_value(), set_word("stack-trace"), integer(2),
                              set_word("source-files"), block_of({text("main.zel")})});
        cell* base = stack::top;
        cell s = *object::new_from_proto(&spec, nullptr, true);
        stack::top = base;
        return keep(s);
    }();
    error::set_state(&state);
    EXPECT_EQ(error::stack_trace_level(), 2);
    cell e = keep(error::build(err::E("math", "overflow")));
    error::record_call_stack(&e);
    cell files = *error::field_of(&e, error::field::files);
    ASSERT_EQ(type_of(&files), type_id::block);
    EXPECT_NE(files.w2, context::values_base(state.w1)[3].w2);
    EXPECT_EQ(molded(files), "[\"main.zel\"]");
    cell none = none_value();
    error::set_state(&none);
    EXPECT_EQ(error::stack_trace_level(), 1);
}
