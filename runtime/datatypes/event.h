// event!: one GUI event, made by the GUI backend while it delivers input or
// by a script with `make event! [...]`.
//
// Cell: header type 54, bit 12 (EVENT_SCRIPT_MADE) set for a script-made
// event; word 1 the event type code (1..35, 0 when a script gave none);
// word 2 the data; word 3 the flags word.
// - Script-made: word 2 is the node of a four-cell block [face window offset
//   picked], or 0 when none of those was given; the low 16 bits of the flags
//   word hold the code point of `key`.
// - Backend: word 2 is a handle {slot, generation} into the backend's table
//   of events being delivered (gui_event_data). Once the backend is done with
//   the event its slot's generation moves on, so an event kept by a script
//   reads the fields that need the record as none.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"

namespace kem {

constexpr uint32_t EVENT_SCRIPT_MADE = 0x1000;

// Flag bits of the flags word.
constexpr uint32_t EVENT_FLAG_SPECIAL_KEY = 0x00000001;
constexpr uint32_t EVENT_FLAG_AUX_DOWN = 0x00400000;
constexpr uint32_t EVENT_FLAG_ALT_DOWN = 0x00800000;
constexpr uint32_t EVENT_FLAG_MID_DOWN = 0x01000000;
constexpr uint32_t EVENT_FLAG_DOWN = 0x02000000;
constexpr uint32_t EVENT_FLAG_AWAY = 0x04000000;
constexpr uint32_t EVENT_FLAG_CONTROL = 0x10000000;
constexpr uint32_t EVENT_FLAG_SHIFT = 0x20000000;
constexpr uint32_t EVENT_FLAG_ALT = 0x40000000;
constexpr uint32_t EVENT_FLAG_COMMAND = 0x80000000;

// Type codes the backend and the tests name directly.
enum EventType : uint32_t {
    EVT_DOWN = 1,
    EVT_UP = 2,
    EVT_CLICK = 9,
    EVT_WHEEL = 11,
    EVT_OVER = 12,
    EVT_KEY = 13,
    EVT_KEY_DOWN = 14,
    EVT_CHANGE = 26,
    EVT_CLOSE = 28,
    EVT_TIME = 33,
    EVT_TYPE_COUNT = 35,
};

// Field numbers of pick and of the path words.
enum EventField : int32_t {
    EVF_TYPE = 1,
    EVF_FACE,
    EVF_WINDOW,
    EVF_OFFSET,
    EVF_KEY,
    EVF_PICKED,
    EVF_FLAGS,
    EVF_AWAY,
    EVF_DOWN,
    EVF_MID_DOWN,
    EVF_ALT_DOWN,
    EVF_AUX_DOWN,
    EVF_CTRL,
    EVF_SHIFT,
    EVF_ORIENTATION,
    EVF_COUNT = EVF_ORIENTATION,
};

// What the backend knows of one event while it delivers it.
struct GuiEventData {
    Cell face;        // the face of the widget the event is for
    float x = 0;      // position in cells inside the widget's box
    float y = 0;
    int32_t key = 0;  // key events: the character or special key code; else the picked value
    float wheel = 0;  // wheel events: +1 up, -1 down
};

// The record a backend event's handle names, or null once the backend has
// let it go. Defined by the GUI backend layer (view/event_records.cpp).
const GuiEventData* gui_event_data(uint32_t handle);

inline bool event_script_made(const Cell* ev) { return (ev->header & EVENT_SCRIPT_MADE) != 0; }
inline uint32_t event_type_code(const Cell* ev) { return ev->data1; }
inline uint32_t event_flags(const Cell* ev) { return ev->data3; }

// A backend event for the record under `handle`.
Cell* event_make_backend_at(Cell* c, uint32_t type, uint32_t handle, uint32_t flags);

// The symbol of type code 1..35; 0 for any other code.
uint32_t event_type_symbol(uint32_t code);
// The code of a type word's symbol, 0 when it names no event type.
uint32_t event_type_code_of(uint32_t symbol);
// Stores the code of a type word in the event; script not-event-type for a
// word that names no event type.
void event_set_type(Cell* ev, const Cell* word);
// The field number of a field word, -1 for another value.
int32_t event_field_index(const Cell* word);
// The flag bit a flags word stands for, 0 for any other word.
uint32_t event_flag_bit(uint32_t symbol);
// Field n (1..15) of the event into `out`.
void event_get_field(const Cell* ev, int32_t n, Cell* out);

void register_event();

} // namespace kem
