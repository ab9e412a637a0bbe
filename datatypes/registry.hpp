// The datatype registry: the action table (one row of 256 handler slots per type id, the first
// 62 being the action slots), the type-name table, and the registration rows through which each
// datatype unit hands over its handlers. Rows are written once at start-up, parents first; a
// child's inherited slot takes the parent's handler as already resolved.
#pragma once
#include <string_view>

#include "runtime/cell.hpp"

namespace zel {

// Extra state of one step of a path, shared by the eval-path handlers.
struct path_step {
    cell* path = nullptr;     // the path being evaluated (or null)
    cell* owner = nullptr;    // the value before the parent (or null)
    cell* previous = nullptr; // the previous element (or null)
    i32 position = 0;         // the element's position in the path (0 for the second element)
    bool case_ = false;
    bool last = false;        // last element of the path
    bool owner_check = false; // the owner must be told of a change
};

namespace act {
// Handler types. Value handlers work on their first argument, which is the result slot, and
// leave their result there; handlers that answer a cell answer the value that the generic entry
// copies into the result slot.
using make_fn = cell* (*)(cell* proto, cell* spec, u32 type);
using random_fn = void (*)(cell* value, bool seed, bool secure, bool only);
using reflect_fn = void (*)(cell* value, u32 field_symbol);
using form_fn = i32 (*)(cell* value, cell* buffer, cell* part, i32 limit);
using mold_fn = i32 (*)(cell* value, cell* buffer, bool only, bool all, bool flat, cell* part,
                        i32 limit, i32 indent);
using eval_path_fn = cell* (*)(cell* parent, cell* element, cell* value, const path_step& step);
using compare_fn = i32 (*)(cell* value1, cell* value2, i32 op);
using stack_fn = void (*)();
using value_fn = void (*)(cell* value);
using round_fn = void (*)(cell* value, cell* scale, bool even, bool down, bool half_down,
                          bool floor, bool ceiling, bool half_ceiling);
using insert_fn = void (*)(cell* series, cell* value, i32 part, bool only, i32 dup, bool append);
using change_fn = void (*)(cell* series, cell* value, i32 part, bool only, i32 dup);
using copy_fn = cell* (*)(cell* value, cell* out, cell* part, bool deep, cell* types);
using find_fn = cell* (*)(cell* series, cell* value, cell* part, bool only, bool case_, bool same,
                          bool any, cell* with, cell* skip, bool last, bool reverse, bool tail,
                          bool match);
using length_fn = i32 (*)(cell* series);
using move_fn = cell* (*)(cell* origin, cell* target, cell* part);
using pick_fn = cell* (*)(cell* series, i32 index, cell* index_cell);
using poke_fn = void (*)(cell* series, i32 index, cell* value, cell* index_cell);
using put_fn = cell* (*)(cell* series, cell* key, cell* value, bool case_);
using remove_fn = void (*)(cell* series, cell* part, cell* key);
using reverse_fn = void (*)(cell* series, cell* part, cell* skip);
using select_fn = cell* (*)(cell* series, cell* value, cell* part, bool only, bool case_,
                            bool same, bool any, cell* with, cell* skip, bool last, bool reverse);
using sort_fn = cell* (*)(cell* series, bool case_, cell* skip, cell* compare, cell* part,
                          bool all, bool reverse, bool stable);
using swap_fn = void (*)(cell* first, cell* second);
using take_fn = cell* (*)(cell* series, cell* part, bool deep, bool last);
using trim_fn = void (*)(cell* series, bool head, bool tail, bool auto_, bool lines, bool all,
                         cell* with);
using modify_fn = void (*)(cell* target, cell* field, cell* value, bool case_);
using open_fn = cell* (*)(cell* port, bool new_, bool read, bool write, bool seek, cell* allow);
using read_fn = cell* (*)(cell* source, cell* part, cell* seek, bool binary, bool lines,
                          bool info, cell* as);
using write_fn = cell* (*)(cell* destination, cell* data, bool binary, bool lines, bool info,
                           bool append, cell* part, cell* seek, cell* allow, cell* as);

using any_handler = void (*)();

// One entry of a registration row: undefined (the default), inherited from the parent, or a
// handler of the slot's own type.
struct inherit_t {};
inline constexpr inherit_t inherit{};
template <class F> struct entry {
    F fn = nullptr;
    bool inherited = false;
    constexpr entry() = default;
    constexpr entry(F f) : fn(f) {}
    constexpr entry(inherit_t) : inherited(true) {}
};

namespace slot {
enum : u32 {
#define ACTION(n, member, text, fn_type) member = n,
#include "datatypes/actions.def"
#undef ACTION
};
}
constexpr u32 action_count = 62;

} // namespace act

// A datatype's registration: its type id, its parent's (0 for none), its name, and one entry
// per action slot in slot order.
struct action_row {
    u32 type;
    u32 parent;
    const char* name;
#define ACTION(n, member, text, fn_type) act::entry<act::fn_type> member;
#include "datatypes/actions.def"
#undef ACTION

    // A row whose every slot is inherited from the parent; units then set their own handlers.
    static action_row inheriting(u32 type, u32 parent, const char* name);
};

namespace datatype {

// Registers a row (count = the number of its handler entries). A count other than 62 ends the
// process with the three-line report.
void register_row(u32 count, const action_row& row);
void register_row(const action_row& row);
// Interns the type names as words through the interner (which stores each word with
// `set_word`); rows registered later are interned at once.
void intern_type_names(void (*interner)(u32 type));

u32 max_type_id();
std::string_view name_of(u32 type);     // "block!"
std::string_view short_name(u32 type);  // "block"
const cell* word_of(u32 type);          // the interned word, or null before interning
void set_word(u32 type, const cell& word);

act::any_handler raw_handler(u32 type, u32 slot);

} // namespace datatype

namespace act {
extern any_handler table[type_id::count][256];

template <u32 S> struct slot_type;
#define ACTION(n, member, text, fn_type)                                                             \
    template <> struct slot_type<n> {                                                             \
        using fn = fn_type;                                                                          \
    };
#include "datatypes/actions.def"
#undef ACTION

// The handler of slot S for a type (null when the action is not defined for it).
template <u32 S> inline typename slot_type<S>::fn handler(u32 type) {
    return reinterpret_cast<typename slot_type<S>::fn>(table[type & 0xFF][S - 1]);
}
template <u32 S> inline typename slot_type<S>::fn handler_of(const cell* value) {
    return handler<S>(type_of(value));
}
} // namespace act

} // namespace zel
