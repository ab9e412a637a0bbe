// Ownership records: claiming and releasing (deep, first owner kept, cycles), ownership decided by
// the table rather than the buffer flag, the notices every modifying series action sends, and
// actions whose "before" notice changes the series under them.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "index_test_support.hpp"
#include "runtime/collector.hpp"
#include "runtime/cycle_stack.hpp"
#include "runtime/hash_index.hpp"
#include "runtime/owner.hpp"
#include "tests/unit/datatypes/block_support.hpp"

using namespace zel;
using namespace zel::test;

namespace {

struct notice {
    u32 event;
    i32 index, count;
    u32 field_symbol;
};
std::vector<notice> notices;
std::function<void(cell* target, u32 event)> on_notice;

void record_notice(cell* owner, cell* field, cell* target, u32 event, cell*, i32 index, i32 count) {
    (void)owner;
    notices.push_back({event, index, count, field->w2});
    if (on_notice) on_notice(target, event);
}

cell object_cell(u32 class_id, u32 on_change = 1) {
    return cell{type_id::object, 0, class_id, on_change};
}
cell field_word(u32 symbol) {
    return cell{type_id::word, 0, symbol, 0xFFFFFFFFu};
}

// Collection is held off while a fixture is half made: its parts are held only in C++ locals.
struct no_collection {
    bool was = gc::active;
    no_collection() { gc::active = false; }
    ~no_collection() { gc::active = was; }
};

// A block read from text; the caller roots it.
cell load_block(std::string_view text) {
    no_collection hold;
    return load(text);
}

// An object whose context holds the given fields (symbol, value); the caller roots it.
cell make_object(const std::vector<std::pair<u32, cell>>& fields, u32 class_id,
                 bool owner = false) {
    no_collection hold;
    u32 keys = hash_index::make_index(4, nullptr, hash_index::kind::symbols, 0);
    u32 values = memory::new_cell_series(static_cast<u32>(fields.size()));
    u32 context = memory::new_cell_series(2);
    for (u32 i = 0; i < fields.size(); i++) {
        *memory::append_cell_to_buffer(buffer_of(hash_index::record_of(keys)->values)) =
            cell{type_id::word, context, fields[i].first, i};
        *memory::append_cell_to_buffer(buffer_of(values)) = fields[i].second;
    }
    series_buffer* c = buffer_of(context);
    cell* cells = head_cell(c);
    cells[0] = cell{type_id::context | (owner ? cell_flag::owns_series : 0), keys, values, 0};
    cells[1] = cell{type_id::object, context, class_id, 0};
    c->tail = c->head + 2 * sizeof(cell);
    return cell{type_id::object, context, class_id, 0};
}

class Owner : public ::testing::Test {
  protected:
    void SetUp() override {
        owner::set_deep_change_hook(record_notice);
        notices.clear();
        on_notice = nullptr;
    }
    void TearDown() override {
        owner::set_deep_change_hook(nullptr);
        on_notice = nullptr;
    }
    u32 owner_class(const cell& series) {
        cell* o = owner::find_owner(series.w2);
        return o ? o->w2 : 0;
    }
};

TEST_F(Owner, ClaimsDeeplyAndKeepsTheFirstOwner) {
    cell b = load_block("1 [2 [3]] 4");
    gc::root keep(&b); // claiming allocates
    cell a_owner = object_cell(1000001), b_owner = object_cell(1000002);
    cell f = field_word(5), g = field_word(6);
    owner::claim(&b, &a_owner, &f);
    owner::claim(&b, &b_owner, &g);
    EXPECT_EQ(owner_class(b), 1000001u);
    cell inner = *block::cell_address(&b, 1);
    cell innermost = *block::cell_address(&inner, 1);
    EXPECT_EQ(owner_class(inner), 1000001u);
    EXPECT_EQ(owner_class(innermost), 1000001u);
    EXPECT_EQ(owner::find_owner(inner.w2)[1].w2, 5u); // the field it is owned through
    owner::release_series(&b);
    EXPECT_FALSE(owner::is_owned(b.w2));
    EXPECT_FALSE(owner::is_owned(innermost.w2));
    EXPECT_FALSE(buffer_of(b.w2)->flags & buffer_flag::owned);
}

TEST_F(Owner, BlockThatHoldsItselfIsClaimedOnce) {
    cell b = load("1 2");
    gc::root keep(&b); // claiming allocates
    block::append_value_copy(&b, &b);
    cell o = object_cell(1000003), f = field_word(1);
    owner::claim(&b, &o, &f);
    EXPECT_TRUE(owner::is_owned(b.w2));
    EXPECT_EQ(cycle_stack::depth(), 0u);
    owner::release_series(&b);
    EXPECT_FALSE(owner::is_owned(b.w2));
}

TEST_F(Owner, ObjectsAreDescendedUpToOwners) {
    cell kept = load_block("1"), behind_owner = load_block("2");
    gc::root keep_kept(&kept), keep_behind(&behind_owner);
    cell nested_owner = make_object({{31, behind_owner}}, 1000010, true);
    gc::root keep_nested(&nested_owner);
    cell obj = make_object({{21, kept}, {22, integer_cell(4)}, {23, nested_owner}}, 1000011);
    gc::root keep_obj(&obj);
    cell o = object_cell(1000012), f = field_word(9);
    owner::claim(&obj, &o, &f);
    EXPECT_EQ(owner_class(kept), 1000012u);
    EXPECT_EQ(owner::find_owner(kept.w2)[1].w2, 21u); // the nested object's key word
    EXPECT_FALSE(owner::is_owned(behind_owner.w2));
    owner::release_series(&obj);
    EXPECT_FALSE(owner::is_owned(kept.w2));
    // claim-and-mark-owner marks the owner's context.
    cell owner_obj = make_object({}, 1000013);
    gc::root keep_owner(&owner_obj);
    owner::claim_and_mark_owner(&kept, &owner_obj, &f);
    EXPECT_TRUE(head_cell(buffer_of(owner_obj.w1))->header & cell_flag::owns_series);
    owner::release_series(&kept);
}

TEST_F(Owner, OwnershipIsDecidedByTheTable) {
    cell b = load("1 2");
    gc::root keep(&b); // claiming allocates
    // A flag left behind (as the collector leaves it when an owner dies) does not block a claim.
    buffer_of(b.w2)->flags |= buffer_flag::owned;
    EXPECT_FALSE(owner::is_owned(b.w2));
    cell o = object_cell(1000004), f = field_word(1);
    owner::claim(&b, &o, &f);
    EXPECT_EQ(owner_class(b), 1000004u);
    hash_index::remove_record(owner::table(), b.w2); // the record dropped by a sweep
    cell v = integer_cell(3), s = b;
    act::handler<act::slot::append>(type_id::block)(&s, &v, -1, false, 1, true);
    EXPECT_TRUE(notices.empty());
    cell o2 = object_cell(1000005);
    owner::claim(&b, &o2, &f);
    EXPECT_EQ(owner_class(b), 1000005u);
    owner::release_series(&b);
}

TEST_F(Owner, NoNoticeWithoutAnOwnerOrAHandler) {
    cell b = load("1 2"), v = integer_cell(3), s = b;
    gc::root keep(&b); // appending and claiming allocate
    act::handler<act::slot::append>(type_id::block)(&s, &v, -1, false, 1, true);
    cell quiet = object_cell(1000006, 0), f = field_word(1);
    owner::claim(&b, &quiet, &f);
    s = b;
    act::handler<act::slot::append>(type_id::block)(&s, &v, -1, false, 1, true);
    EXPECT_TRUE(notices.empty());
    owner::release_series(&b);
}

// Each modifying action on an owned block, with the notice pair it sends.
struct action_case {
    const char* name;
    std::function<void(cell& s)> run;
    u32 before;
    i32 index, count;
};

std::vector<action_case> action_cases() {
    namespace e = owner::event;
    cell nine = integer_cell(9), two = integer_cell(2);
    return {
        {"append",
         [=](cell& s) mutable {
             act::handler<act::slot::append>(type_id::block)(&s, &nine, -1, false, 1, true);
         },
         e::append, 4, 1},
        {"insert",
         [=](cell& s) mutable {
             act::handler<act::slot::insert>(type_id::block)(&s, &nine, -1, false, 2, false);
         },
         e::insert, 1, 2},
        {"change",
         [=](cell& s) mutable {
             act::handler<act::slot::change>(type_id::block)(&s, &nine, -1, false, 1);
         },
         e::change, 1, 1},
        {"clear", [](cell& s) { act::handler<act::slot::clear>(type_id::block)(&s); }, e::clear, 1,
         3},
        {"remove",
         [=](cell& s) mutable {
             act::handler<act::slot::remove>(type_id::block)(&s, &two, nullptr);
         },
         e::remove, 1, 2},
        {"poke",
         [=](cell& s) mutable {
             act::handler<act::slot::poke>(type_id::block)(&s, 2, &nine, nullptr);
         },
         e::poke, 2, 1},
        {"put",
         [=](cell& s) mutable {
             act::handler<act::slot::put>(type_id::block)(&s, &two, &nine, false);
         },
         e::put, 2, 1},
        {"reverse",
         [](cell& s) { act::handler<act::slot::reverse>(type_id::block)(&s, nullptr, nullptr); },
         e::reverse, 1, 3},
        {"sort",
         [](cell& s) {
             act::handler<act::slot::sort>(type_id::block)(&s, false, nullptr, nullptr, nullptr,
                                                           false, false, true);
         },
         e::sort, 1, 3},
        {"take",
         [=](cell& s) mutable {
             act::handler<act::slot::take>(type_id::block)(&s, &two, false, false);
         },
         e::take, 1, 2},
        {"trim",
         [](cell& s) {
             act::handler<act::slot::trim>(type_id::block)(&s, false, false, false, false, false,
                                                           nullptr);
         },
         e::trim, 1, 3},
        {"random",
         [](cell& s) { act::handler<act::slot::random>(type_id::block)(&s, false, false, false); },
         e::random, 1, 0},
        {"move",
         [](cell& s) {
             cell to = s;
             to.w1 = 3;
             act::handler<act::slot::move>(type_id::block)(&s, &to, nullptr);
         },
         e::move, 2, 1},
        {"swap",
         [](cell& s) {
             cell other = s;
             other.w1 = 3;
             act::handler<act::slot::swap>(type_id::block)(&s, &other);
         },
         e::swap, 1, 1},
    };
}

TEST_F(Owner, EveryModifyingActionSendsItsNotices) {
    for (const action_case& c : action_cases()) {
        notices.clear();
        cell b = load("1 2 3 4");
        gc::root keep(&b); // claiming and the actions allocate
        cell o = object_cell(1000007), f = field_word(12);
        owner::claim(&b, &o, &f);
        cell s = at(b, 1);
        c.run(s);
        ASSERT_GE(notices.size(), 2u) << c.name;
        EXPECT_EQ(notices[0].event, c.before) << c.name;
        EXPECT_EQ(notices[0].index, c.index) << c.name;
        EXPECT_EQ(notices[0].count, c.count) << c.name;
        EXPECT_EQ(notices[0].field_symbol, 12u) << c.name;
        EXPECT_EQ(notices.back().event, c.before + 1) << c.name;
        EXPECT_EQ(owner::event_name(notices.back().event).empty(), false);
        owner::release_series(&b);
    }
    EXPECT_EQ(owner::event_name(owner::event::put_ed), "put-ed");
    EXPECT_EQ(owner::event_name(owner::event::swaped), "swaped");
}

// The change handler empties the series (or fills it) before the action runs on: every action
// takes its counts again and stays inside the buffer.
TEST_F(Owner, BeforeNoticeThatChangesTheSeries) {
    for (bool grow : {false, true}) {
        on_notice = [grow](cell* target, u32 event) {
            if (event % 2 != 0) return; // only the "before" notices
            series_buffer* b = buffer_of(target->w2);
            if (!grow) {
                b->tail = b->head;
                return;
            }
            cell v = integer_cell(7);
            for (int i = 0; i < 200; i++) block::append_value_copy(target, &v);
        };
        for (const action_case& c : action_cases()) {
            cell b = load("1 2 3 4");
            gc::root keep(&b); // the notice's appends may collect
            cell o = object_cell(1000008), f = field_word(12);
            owner::claim(&b, &o, &f);
            cell s = at(b, 1);
            u32 code = raised([&] { c.run(s); });
            // A poke whose place the notice took away is refused.
            if (code) {
                EXPECT_EQ(code, err::E("script", "out-of-range").code()) << c.name;
            }
            u32 n = series::units_from_start(&b);
            EXPECT_LE(n, 420u) << c.name;
            owner::release_series(&b);
        }
    }
}

TEST_F(Owner, ReflectAndModifyTheOwnedField) {
    u32 symbols = fresh_symbol_table();
    u32 owned = intern(symbols, "owned");
    cell b = load("1 2"), s = b;
    gc::root keep(&b); // claiming allocates
    auto reflect = act::handler<act::slot::reflect>(type_id::block);
    auto modify = act::handler<act::slot::modify>(type_id::block);
    reflect(&s, owned);
    EXPECT_TRUE(is_none(&s));
    cell spec = load("0 0");
    gc::root keep_spec(&spec);
    *block::cell_address(&spec, 0) = object_cell(1000009);
    *block::cell_address(&spec, 1) = field_word(44);
    cell field = field_word(intern(symbols, "OWNED")), target = b; // any letter case
    modify(&target, &field, &spec, false);
    EXPECT_EQ(target.w2, spec.w2); // the result is the value
    s = b;
    reflect(&s, owned);
    ASSERT_EQ(type_of(&s), type_id::block);
    EXPECT_EQ(block::cell_address(&s, 0)->w2, 1000009u);
    EXPECT_EQ(block::cell_address(&s, 1)->w2, 44u);
    cell none;
    init_none(&none);
    target = b;
    modify(&target, &field, &none, false);
    EXPECT_FALSE(owner::is_owned(b.w2));
    s = b;
    EXPECT_RAISES(reflect(&s, intern(symbols, "other")), "internal", "not-done");
    hash_index::set_symbol_table(0);
}

} // namespace
