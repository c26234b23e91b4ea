// port!: an object standing for an outside resource of some scheme. The
// runtime keeps no code of its own for any scheme: each action applied to a
// port whose actor is an object is handed to the actor's function of the
// same name (the port, then the action's arguments, each refinement as a
// logic! followed by its arguments or none). A port whose actor is a
// handle! is served from a native handler table by the action lookup
// (actions.h).
#pragma once
#include "runtime/core/cell.h"
#include "runtime/datatypes/action_types.h"

namespace kem {

// The fields of system/standard/port, in order.
enum PortField : uint32_t {
    PORT_SPEC = 0,
    PORT_SCHEME = 1,
    PORT_ACTOR = 2,
    PORT_AWAKE = 3,
    PORT_STATE = 4,
    PORT_DATA = 5,
    PORT_EXTRA = 6,
};

// make port!: an object! spec is taken as it is, a block! is made into an
// object of system/standard/url-parts, a url! goes through the URL parser.
// Access no-scheme, unknown-scheme or invalid-actor with the spec given.
Cell* port_make(Cell* proto, Cell* spec, int32_t type);

// A port made from a URL by url-parser/parse-url (script invalid-arg with
// the URL when it gives no object); with open, the open action is applied to
// it with the flags and the allow value (null: none). Returns the pushed port.
Cell* port_from_url(const Cell* url, bool open, const OpenArgs& refs);

// The composite read and write of a port: open, copy (insert first for
// write), close through its actor.
Cell* port_read(Cell* port, const ReadArgs& refs);
Cell* port_write(Cell* port, Cell* data, const WriteArgs& refs);

void register_port();

} // namespace kem
