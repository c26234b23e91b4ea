#include "view/event_records.h"
#include <vector>
#include "runtime/collector/collector.h"

namespace kem {

namespace gui {

namespace {

// Deliveries nest (an actor may run its own event loop), so a few slots are
// open at once; a slot's generation is odd while it is open. A handle is the
// slot in its low 8 bits and the generation in the 24 above.
struct Slot {
    GuiEventData data;
    uint32_t generation = 0;
};
std::vector<Slot> slots;

constexpr uint32_t SLOT_BITS = 8;
constexpr uint32_t SLOT_LIMIT = 1u << SLOT_BITS;
constexpr uint32_t GENERATION_MASK = 0xFFFFFF;

bool open(const Slot& s) { return (s.generation & 1) != 0; }

void mark_records() {
    for (const Slot& s : slots)
        if (open(s)) collector::mark_value(&s.data.face);
}

} // namespace

uint32_t event_record_open(const GuiEventData& data) {
    collector::add_layer_root("gui event records", mark_records);
    size_t i = 0;
    while (i < slots.size() && open(slots[i])) i++;
    if (i == slots.size()) {
        // Only runaway nesting of event loops gets here.
        if (slots.size() >= SLOT_LIMIT) return 0;
        slots.emplace_back();
    }
    Slot& s = slots[i];
    s.data = data;
    s.generation = (s.generation + 1) & GENERATION_MASK;
    return s.generation << SLOT_BITS | uint32_t(i);
}

GuiEventData* event_record_find(uint32_t handle) {
    const uint32_t i = handle & (SLOT_LIMIT - 1);
    if (i >= slots.size()) return nullptr;
    Slot& s = slots[i];
    return open(s) && s.generation == handle >> SLOT_BITS ? &s.data : nullptr;
}

void event_record_close(uint32_t handle) {
    if (GuiEventData* data = event_record_find(handle)) {
        make_none(&data->face);
        Slot& s = slots[handle & (SLOT_LIMIT - 1)];
        s.generation = (s.generation + 1) & GENERATION_MASK;
    }
}

} // namespace gui

const GuiEventData* gui_event_data(uint32_t handle) { return gui::event_record_find(handle); }

} // namespace kem
