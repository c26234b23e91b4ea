// The records of the events the GUI backend is delivering. A backend event!
// names its record by a handle {slot, generation}; closing the record moves
// the slot's generation on, so a handle kept past its delivery finds nothing
// (its fields read as none) and never reaches memory that is gone.
#pragma once
#include <cstdint>
#include "runtime/datatypes/event.h"

namespace kem::gui {

// Takes a free slot for the record and gives its handle (never 0). The face
// in the record is kept alive until the record is closed.
uint32_t event_record_open(const GuiEventData& data);
// Lets the record go; its handle goes stale. A stale handle is ignored.
void event_record_close(uint32_t handle);

// The record open under a handle, null when there is none.
GuiEventData* event_record_find(uint32_t handle);

// Closes the record when the scope ends, however it ends (a delivery may
// raise an error or a throw).
class EventRecordScope {
public:
    explicit EventRecordScope(const GuiEventData& data) : handle_(event_record_open(data)) {}
    ~EventRecordScope() { event_record_close(handle_); }
    EventRecordScope(const EventRecordScope&) = delete;
    EventRecordScope& operator=(const EventRecordScope&) = delete;
    uint32_t handle() const { return handle_; }

private:
    uint32_t handle_;
};

} // namespace kem::gui
