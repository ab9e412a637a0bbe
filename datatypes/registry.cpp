// The datatype registry.
#include "datatypes/registry.hpp"

#include <cstdio>
#include <cstring>

#include "runtime/process.hpp"

namespace zel {

namespace act {
any_handler table[type_id::count][256] = {};
}

action_row action_row::inheriting(u32 type, u32 parent, const char* name) {
    action_row row{};
    row.type = type;
    row.parent = parent;
    row.name = name;
#define ACTION(n, member, text, fn_type)                                                             \
    if (n != 8) row.member = act::inherit;
#include "datatypes/actions.def"
#undef ACTION
    return row;
}

namespace datatype {

namespace {
struct type_name_row {
    const char* name = nullptr;
    u32 length = 0; // without the final "!"
    cell word{};
    bool has_word = false;
};
type_name_row names[type_id::count];
u32 max_type = 0;
bool names_interned = false;

void (*name_interner)(u32 type) = nullptr;

template <class F> void store(u32 type, u32 parent, u32 slot, const act::entry<F>& e) {
    act::any_handler h = reinterpret_cast<act::any_handler>(e.fn);
    if (e.inherited && parent) h = act::table[parent][slot - 1];
    if (slot == 8) h = nullptr;
    act::table[type][slot - 1] = h;
}
} // namespace

void register_row(u32 count, const action_row& row) {
    if (row.type > max_type) max_type = row.type;
    names[row.type].name = row.name;
    names[row.type].length = static_cast<u32>(std::strlen(row.name)) - 1;
    u32 handlers = count;
    if (handlers != act::action_count) {
        std::printf("*** Datatype Error: invalid actions count for type: %u\n*** Found: %u\n"
                    "*** Expected: %u\n",
                    row.type, handlers, act::action_count);
        // A broken row is a failure of the program, not a normal end.
        runtime::exit_process(1);
    }
#define ACTION(n, member, text, fn_type) store(row.type, row.parent, n, row.member);
#include "datatypes/actions.def"
#undef ACTION
    if (names_interned && name_interner) name_interner(row.type);
}

void register_row(const action_row& row) {
    constexpr u32 entries = 0
#define ACTION(n, member, text, fn_type) +1
#include "datatypes/actions.def"
#undef ACTION
        ;
    static_assert(entries == act::action_count && act::slot::write == act::action_count,
                  "an action row holds exactly 62 entries, in slot order");
    register_row(entries, row);
}

u32 max_type_id() { return max_type; }

std::string_view name_of(u32 type) {
    return names[type].name ? std::string_view(names[type].name) : std::string_view();
}

std::string_view short_name(u32 type) { return name_of(type).substr(0, names[type].length); }

const cell* word_of(u32 type) { return names[type].has_word ? &names[type].word : nullptr; }

void set_word(u32 type, const cell& word) {
    names[type].word = word;
    names[type].has_word = true;
}

void intern_type_names(void (*interner)(u32 type)) {
    name_interner = interner;
    for (u32 t = 1; t <= max_type; t++)
        if (names[t].name) interner(t);
    names_interned = true;
}

act::any_handler raw_handler(u32 type, u32 slot) { return act::table[type & 0xFF][slot - 1]; }

} // namespace datatype
} // namespace zel
