// port!: an object (type id 48, class id 2) that stands for an I/O endpoint whose behaviour is a
// scheme written in the language. Its fields begin with `spec`, `scheme` and `actor`; every
// routed action is forwarded to the actor's function of the same name, called with the port and
// the action's arguments, refinements as logic! followed by their values (none! when absent).
#pragma once
#include <initializer_list>

#include "runtime/cell.hpp"

namespace zel::port {

namespace field {
enum : u32 { spec, scheme, actor };
}

// The standard port prototype, the port-spec prototype (none! for a plain object) and the
// schemes (an object or a block of name/scheme pairs) that the system object provides.
void set_environment(const cell* port_prototype, const cell* spec_prototype, const cell* schemes);

// The port's actor, which must be an object! (access error `invalid-port` otherwise).
cell actor_of(const cell* port);
// Calls the actor's function named by the action word with the arguments (the port first) in
// a frame named after the action; a missing function raises access error `no-port-action`.
cell call_actor(const cell* actor, const cell* action, std::initializer_list<cell> args);
// Routes the action of a slot on the port.
cell route(const cell* port, u32 slot, std::initializer_list<cell> args);

void register_type();

} // namespace zel::port
