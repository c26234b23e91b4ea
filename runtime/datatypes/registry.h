// The datatype registry: the name table and the per-type rows of action slots.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/datatypes/action_types.h"

namespace kem {

constexpr int TYPE_TABLE_SIZE = 57;  // ids 0..56; 1..54 are used

struct DatatypeName {
    const char* name;   // with the trailing "!"
    uint32_t length;    // without the "!"
    Cell word;          // the datatype's word once the word table exists (header 0 before)
};

// Row t, entry s: the implementation of slot s (1..62) for type t, nullptr for none.
extern ActionFn type_action_table[TYPE_TABLE_SIZE][ACTION_SLOT_COUNT + 1];
extern DatatypeName datatype_names[TYPE_TABLE_SIZE];
extern int highest_type_id;

// The "take the parent's entry" marker of a registration row; never called.
void action_inherit_marker();
inline const ActionFn ACTION_INHERIT = &action_inherit_marker;

// One registration row: 62 entries, each none, inherited or an implementation
// whose signature the compiler checks against the slot.
class ActionRow {
public:
    static ActionRow none_all() { return ActionRow(nullptr); }
    static ActionRow inherit_all() { return ActionRow(ACTION_INHERIT); }
    template <int Slot> ActionRow& set(typename ActionSignature<Slot>::type fn) {
        entries[Slot - 1] = reinterpret_cast<ActionFn>(fn);
        return *this;
    }
    ActionRow& inherit(int slot) { entries[slot - 1] = ACTION_INHERIT; return *this; }
    ActionRow& none(int slot) { entries[slot - 1] = nullptr; return *this; }
    ActionFn entries[ACTION_SLOT_COUNT];

private:
    explicit ActionRow(ActionFn fill) {
        for (auto& e : entries) e = fill;
    }
};

// Registers a type: inherited entries copy the parent's entry as it stands now,
// so parents register before their children. `count` is the number of entries
// the caller supplies; anything but 62 is reported on standard error and ends
// the process with status 1.
void register_datatype(uint8_t id, uint8_t parent, const char* name, const ActionRow& row,
                       int count = ACTION_SLOT_COUNT);

// Every datatype in parent-before-child order (event! joins later, from the GUI).
void register_all_datatypes();

inline ActionFn action_entry(uint8_t type, int slot) { return type_action_table[type][slot]; }
template <int Slot> inline typename ActionSignature<Slot>::type action_entry_as(uint8_t type) {
    return reinterpret_cast<typename ActionSignature<Slot>::type>(type_action_table[type][Slot]);
}

inline const char* type_name(uint8_t type) { return datatype_names[type].name; }

} // namespace kem
