// Paths: the general walk of eval_path, and what the run loop needs for
// p/x, p/x: and p/f on an object: the field found through a cache kept with
// the path.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/interpreter/decode.h"

namespace kem::interp {

// Where p/x found its field, in the side buffer of the path's series (a
// change to the path drops it): the object's context and the field's index
// and value slot, for the path at `head`; and the callee the field held when
// it was called. The epoch guards it all, and the context must be the one p
// names now (an object's word list only grows and never reorders).
struct PathCode {
    uint32_t tag;
    uint32_t epoch;
    NodeId object;
    uint32_t index;
    uint32_t head;
    NodeId callee;
    uint8_t callee_type;
    Cell* slot;
    CallRecord* call;
    void claim() {
        if (epoch == cache_epoch) return;
        epoch = cache_epoch;
        object = 0;
        callee_type = 0;
    }
};

struct Field {
    Cell object;  // the object! value p holds
    Cell word;    // the field's word, bound to the object
    Cell* slot;   // the field's value slot
    PathCode* code;
};

// p/x where p holds an object! with a field x: the field, found through the
// path's cache or looked up and kept there. False when the general walk must
// run (a longer path, another value, no such field).
bool object_field(const Cell& path, Field* f);

// Keeps in a site what p/x (set: p/x:) found, for the run loop to use while
// the site's epoch lasts and p holds the same object: the slot of p, the
// object's context, x's index and slot (and for a set-path x's word in the
// word list). The path's own series keeps a side buffer meanwhile, so that
// changing it advances the epoch. False when the site cannot keep it: p is a
// local of a function, the object has change handlers ...
bool path_site(Site& s, const Cell& path, bool set);

// Whether the site still holds p/x: p holds the object it was found in.
inline bool path_site_holds(const Site& s) {
    return s.epoch == cache_epoch && s.object && type_of(s.holder) == TYPE_OBJECT && s.holder->data1 == s.object;
}

// p/x: value, the value on top of the stack and the set-path's frame on top:
// stores it directly into a field of an object without change handlers (the
// value becomes the frame's result) and returns true; false when eval_path
// must store it.
bool store_field(const Cell& path);

} // namespace kem::interp
