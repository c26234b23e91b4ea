// Face timers: records advanced by the length of each event-loop frame; a
// due timer sends its widget a `time` event. A timer fires at most once a
// pass: the time beyond its interval is dropped.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"

namespace kem::gui {

struct GuiWidget;

struct TimerRecord {
    bool one_shot = false;
    bool done = false;
    uint32_t elapsed = 0;   // milliseconds since the last firing
    uint32_t interval = 0;
    bool firing = false;    // its callback runs (a wait inside it runs passes)
    void* data = nullptr;
    void (*callback)(void* data) = nullptr;
};

// A rate facet: an integer n > 0 fires n times a second, a time above zero
// at that period, none removes the widget's timer; any other value raises
// invalid-facet-type.
void set_rate(GuiWidget* w, const Cell* rate);
void timer_add(void* data, uint32_t interval, void (*callback)(void*), bool one_shot = false);
// Removes the last record for the data (one per call).
void timer_remove(void* data);
// Advances every timer; those due fire.
void timers_tick(uint32_t milliseconds);
size_t timer_count();
void timers_clear();

} // namespace kem::gui
