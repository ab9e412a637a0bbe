// port!: making ports from specs, printing them, and forwarding actions to the scheme's actor.
// The actor's functions run language code: arguments are copied before the call and nothing read
// before it is used after it.
#include "datatypes/port.hpp"

#include "datatypes/context.hpp"
#include "datatypes/object.hpp"
#include "datatypes/registry.hpp"
#include "datatypes/symbol.hpp"
#include "datatypes/words_rt.hpp"
#include "evaluator/interp_services.hpp"
#include "evaluator/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/roots.hpp"

namespace zel::port {

namespace {
constexpr u32 actor_flag = 32;
constexpr u32 scheme_actor_field = 3;
const cell none_cell{type_id::none, 0, 0, 0};

cell* environment = nullptr; // port prototype, spec prototype, schemes (rooted)

cell* env() {
    if (!environment) {
        environment = roots::append(&none_cell);
        roots::append(&none_cell);
        roots::append(&none_cell);
    }
    return environment;
}

// The action words, interned on first use.
u32 action_symbol(u32 slot) {
    static u32 symbols[act::action_count + 1] = {};
    static const char* names[act::action_count + 1] = {
        "",
#define ACTION(n, member, text, fn_type) text,
#include "datatypes/actions.def"
#undef ACTION
    };
    if (!symbols[slot]) symbols[slot] = symbol::intern_text(names[slot]);
    return symbols[slot];
}

cell logic(bool b) {
    cell c;
    return *init_logic(&c, b);
}
cell integer(i32 n) {
    cell c;
    return *init_integer(&c, n);
}
cell value_or_none(const cell* c) {
    return c ? *c : none_cell;
}

// The value after a word naming the scheme, in an object or a block of name/value pairs.
cell select_scheme(const cell* schemes, const cell* word) {
    if (is_object_type(type_of(schemes))) return *object::field_value(schemes, word->w2);
    if (type_of(schemes) != type_id::block) return none_cell;
    u32 wanted = symbol::canonical_id(word->w2);
    series_buffer* b = buffer_of(schemes->w2);
    for (u32 i = schemes->w1; i + 1 < used_units(b); i++) {
        const cell* c = head_cell(b) + i;
        if (is_any_word_type(type_of(c)) && symbol::canonical_id(c->w2) == wanted)
            return head_cell(b)[i + 1];
    }
    return none_cell;
}
} // namespace

void set_environment(const cell* port_prototype, const cell* spec_prototype, const cell* schemes) {
    cell* e = env();
    e[0] = port_prototype ? *port_prototype : none_cell;
    e[1] = spec_prototype ? *spec_prototype : none_cell;
    e[2] = schemes ? *schemes : none_cell;
}

cell actor_of(const cell* port) {
    cell actor = context::values_base(port->w1)[field::actor];
    if (type_of(&actor) != type_id::object) error::raise(err::E("access", "invalid-port"));
    return actor;
}

cell call_actor(const cell* actor, const cell* action, std::initializer_list<cell> args) {
    cell* base = stack::top;
    cell a = *actor;
    stack::push_value(&a);
    i32 slot = context::find_symbol_index(a.w1, action->w2, true);
    cell fn = slot < 0 ? none_cell : context::values_base(a.w1)[slot];
    if (type_of(&fn) != type_id::function) error::raise(err::E("access", "no-port-action"), action);
    stack::push_value(&fn);
    cell name{type_id::word, a.w1, action->w2, static_cast<u32>(slot)};
    stack::open_function_frame(&name, fn.w1);
    for (const cell& c : args) stack::push_value(&c);
    interp::invoke_function(&fn, a.w1, &name, actor_flag);
    cell result = *stack::arguments;
    stack::close_function_frame();
    stack::top = base;
    return result;
}

cell route(const cell* port, u32 slot, std::initializer_list<cell> args) {
    cell actor = actor_of(port);
    cell action{type_id::word, 0, action_symbol(slot), context::unbound};
    return call_actor(&actor, &action, args);
}

namespace {
namespace s = act::slot;

// A port is opened around `body` and closed afterwards, also when `body` fails.
template <class F> cell with_open_port(const cell& port, std::initializer_list<cell> open, F body) {
    route(&port, s::open, open);
    cell result;
    try {
        result = body();
    } catch (const unwind&) {
        cell* top = stack::top;
        stack::mark m = stack::save();
        try {
            route(&port, s::close, {port});
        } catch (const unwind&) {
            stack::restore(m);
        }
        stack::top = top;
        throw;
    }
    route(&port, s::close, {port});
    return result;
}

cell* make(cell* proto, cell* spec, u32) {
    cell* base = stack::top;
    cell argument = *spec;
    stack::push_value(&argument);
    cell* spec_object = stack::push_value(&argument);
    if (type_of(&argument) != type_id::object) {
        cell prototype = env()[1];
        if (type_of(&prototype) != type_id::object) init_datatype(&prototype, type_id::object);
        *spec_object = prototype;
        cell s = argument;
        object::make(spec_object, &s, type_id::object);
    }
    cell scheme = object::field_count(spec_object) > 0 ? *object::first_value_address(spec_object)
                                                       : none_cell;
    if (type_of(&scheme) != type_id::word) error::raise(err::E("access", "no-scheme"), &argument);
    cell* port;
    if (type_of(&env()[0]) == type_id::object) {
        port = object::push_copy(&env()[0], false, nullptr, false);
    } else {
        port = stack::reserve_slot();
        object::init_cell_empty(port, 3);
        for (u32 name : {sym::spec, sym::scheme, sym::actor}) {
            cell w{type_id::word, 0, name, context::unbound};
            context::put_word_value(port->w1, &w, &none_cell);
        }
    }
    *port = object::make_cell(port->w1, object::port_class, 0, type_id::port);
    context::values_base(port->w1)[field::spec] = *spec_object;
    context::values_base(port->w1)[field::scheme] = scheme;
    cell schemes = env()[2];
    cell found = select_scheme(&schemes, &scheme);
    if (type_of(&found) != type_id::object)
        error::raise(err::E("access", "unknown-scheme"), &argument);
    cell actor = object::field_count(&found) > scheme_actor_field
                     ? context::values_base(found.w1)[scheme_actor_field]
                     : none_cell;
    if (type_of(&actor) != type_id::object && type_of(&actor) != type_id::handle)
        error::raise(err::E("access", "invalid-actor"), &argument);
    context::values_base(port->w1)[field::actor] = actor;
    *proto = *port;
    stack::top = base;
    return proto;
}

i32 form(cell* value, cell* buffer, cell* part, i32 limit) {
    return object::write_fields(value, buffer, "make port! [", true, true, false, false, part,
                                limit, 0);
}

i32 mold(cell* value, cell* buffer, bool only, bool all, bool flat, cell* part, i32 limit,
         i32 indent) {
    return object::write_fields(value, buffer, "make port! [", true, !only, all, flat, part, limit,
                                indent);
}

// Actions whose arguments the handler reads from the frame: the port and at most one more.
template <u32 Slot, u32 Args> void stack_action() {
    cell port = *stack::arg(0);
    cell r = Args == 1 ? route(&port, Slot, {port}) : route(&port, Slot, {port, *stack::arg(1)});
    *stack::arg(0) = r;
}

template <u32 Slot> void value_action(cell* value) {
    cell port = *value;
    *value = route(&port, Slot, {port});
}

i32 length(cell* series) {
    cell port = *series;
    cell r = route(&port, s::length_q, {port});
    return type_of(&r) == type_id::integer ? int_of(&r) : -1;
}

void insert(cell* series, cell* value, i32 part, bool only, i32 dup, bool append) {
    cell port = *series;
    *series = route(&port, append ? s::append : s::insert,
                    {port, *value, logic(part >= 0), part >= 0 ? integer(part) : none_cell,
                     logic(only), logic(dup != 1), dup != 1 ? integer(dup) : none_cell});
}

void change(cell* series, cell* value, i32 part, bool only, i32 dup) {
    cell port = *series;
    *series = route(&port, s::change,
                    {port, *value, logic(part >= 0), part >= 0 ? integer(part) : none_cell,
                     logic(only), logic(dup != 1), dup != 1 ? integer(dup) : none_cell});
}

cell* copy(cell* value, cell* out, cell* part, bool deep, cell* types) {
    cell port = *value;
    *out = route(
        &port, s::copy,
        {port, logic(part), value_or_none(part), logic(deep), logic(types), value_or_none(types)});
    return out;
}

cell* find(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
           cell* with, cell* skip, bool last, bool reverse, bool tail, bool match) {
    cell port = *series;
    *series = route(&port, s::find,
                    {port, *value, logic(part), value_or_none(part), logic(only), logic(case_),
                     logic(same), logic(any), logic(with), value_or_none(with), logic(skip),
                     value_or_none(skip), logic(last), logic(reverse), logic(tail), logic(match)});
    return series;
}

cell* select(cell* series, cell* value, cell* part, bool only, bool case_, bool same, bool any,
             cell* with, cell* skip, bool last, bool reverse) {
    cell port = *series;
    *series = route(&port, s::select,
                    {port, *value, logic(part), value_or_none(part), logic(only), logic(case_),
                     logic(same), logic(any), logic(with), value_or_none(with), logic(skip),
                     value_or_none(skip), logic(last), logic(reverse)});
    return series;
}

cell* move(cell* origin, cell* target, cell* part) {
    cell port = *origin;
    *origin = route(&port, s::move, {port, *target, logic(part), value_or_none(part)});
    return origin;
}

cell* pick(cell* series, i32, cell* index) {
    cell port = *series;
    *series = route(&port, s::pick, {port, *index});
    return series;
}

void poke(cell* series, i32, cell* value, cell* index) {
    cell port = *series;
    *series = route(&port, s::poke, {port, *index, *value});
}

cell* put(cell* series, cell* key, cell* value, bool case_) {
    cell port = *series;
    *series = route(&port, s::put, {port, *key, *value, logic(case_)});
    return series;
}

void remove(cell* series, cell* part, cell* key) {
    cell port = *series;
    *series = route(&port, s::remove,
                    {port, logic(part), value_or_none(part), logic(key), value_or_none(key)});
}

void reverse(cell* series, cell* part, cell* skip) {
    cell port = *series;
    *series = route(&port, s::reverse,
                    {port, logic(part), value_or_none(part), logic(skip), value_or_none(skip)});
}

cell* sort(cell* series, bool case_, cell* skip, cell* compare, cell* part, bool all, bool reverse,
           bool stable) {
    cell port = *series;
    *series = route(&port, s::sort,
                    {port, logic(case_), logic(skip), value_or_none(skip), logic(compare),
                     value_or_none(compare), logic(part), value_or_none(part), logic(all),
                     logic(reverse), logic(stable)});
    return series;
}

template <u32 Slot> void pair_action(cell* first, cell* second) {
    cell port = *first;
    *first = route(&port, Slot, {port, *second});
}

cell* take(cell* series, cell* part, bool deep, bool last) {
    cell port = *series;
    *series =
        route(&port, s::take, {port, logic(part), value_or_none(part), logic(deep), logic(last)});
    return series;
}

void trim(cell* series, bool head, bool tail, bool auto_, bool lines, bool all, cell* with) {
    cell port = *series;
    *series = route(&port, s::trim,
                    {port, logic(head), logic(tail), logic(auto_), logic(lines), logic(all),
                     logic(with), value_or_none(with)});
}

void modify(cell* target, cell* field_word, cell* value, bool case_) {
    cell port = *target;
    *target = route(&port, s::modify, {port, *field_word, *value, logic(case_)});
}

cell* open(cell* port, bool new_, bool read, bool write, bool seek, cell* allow) {
    cell p = *port;
    *port = route(&p, s::open,
                  {p, logic(new_), logic(read), logic(write), logic(seek), logic(allow),
                   value_or_none(allow)});
    return port;
}

cell* read(cell* source, cell* part, cell*, bool, bool, bool, cell*) {
    cell port = *source;
    cell* base = stack::push_value(&port);
    cell part_value = value_or_none(part);
    stack::push_value(&part_value);
    *source = with_open_port(
        port,
        {port, logic(false), logic(false), logic(false), logic(false), logic(false), none_cell},
        [&] {
            return route(&port, s::copy,
                         {port, logic(part), part_value, logic(false), logic(false), none_cell});
        });
    stack::top = base;
    return source;
}

cell* write(cell* destination, cell* data, bool, bool, bool, bool, cell* part, cell*, cell*,
            cell*) {
    cell port = *destination;
    cell* base = stack::push_value(&port);
    cell value = *data;
    stack::push_value(&value);
    bool counted = part && type_of(part) == type_id::integer;
    cell count = counted ? *part : none_cell;
    *destination = with_open_port(
        port,
        {port, logic(false), logic(false), logic(true), logic(false), logic(false), none_cell},
        [&] {
            route(&port, s::insert,
                  {port, value, logic(counted), count, logic(false), logic(false), none_cell});
            return route(&port, s::copy,
                         {port, logic(false), none_cell, logic(false), logic(false), none_cell});
        });
    stack::top = base;
    return destination;
}
} // namespace

void register_type() {
    action_row row{};
    row.type = type_id::port;
    row.parent = type_id::object;
    row.name = "port!";
    row.make = make;
    row.reflect = act::inherit;
    row.form = form;
    row.mold = mold;
    row.eval_path = act::inherit;
    row.compare = act::inherit;
    row.append = insert;
    row.at = stack_action<s::at, 2>;
    row.back = stack_action<s::back, 1>;
    row.change = change;
    row.clear = value_action<s::clear>;
    row.copy = copy;
    row.find = find;
    row.head = stack_action<s::head, 1>;
    row.head_q = stack_action<s::head_q, 1>;
    row.index_q = stack_action<s::index_q, 1>;
    row.insert = insert;
    row.length_q = length;
    row.move = move;
    row.next = stack_action<s::next, 1>;
    row.pick = pick;
    row.poke = poke;
    row.put = put;
    row.remove = remove;
    row.reverse = reverse;
    row.select = select;
    row.sort = sort;
    row.skip = stack_action<s::skip, 2>;
    row.swap = pair_action<s::swap>;
    row.tail = stack_action<s::tail, 1>;
    row.tail_q = stack_action<s::tail_q, 1>;
    row.take = take;
    row.trim = trim;
    row.create = value_action<s::create>;
    row.close = value_action<s::close>;
    row.delete_ = value_action<s::delete_>;
    row.modify = modify;
    row.open = open;
    row.query = value_action<s::query>;
    row.read = read;
    row.rename = pair_action<s::rename>;
    row.update = value_action<s::update>;
    row.write = write;
    datatype::register_row(row);
}

} // namespace zel::port
