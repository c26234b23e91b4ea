#include "view/backends/terminal/timers.h"
#include <memory>
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/datatypes/time.h"
#include "view/backends/terminal/events.h"

namespace kem::gui {

namespace {

std::vector<std::unique_ptr<TimerRecord>> timers;

void rate_callback(void* data) { send_event(EV_TIME, static_cast<GuiWidget*>(data), 0); }

} // namespace

void timer_add(void* data, uint32_t interval, void (*callback)(void*), bool one_shot) {
    auto t = std::make_unique<TimerRecord>();
    t->one_shot = one_shot;
    t->interval = interval;
    t->data = data;
    t->callback = callback;
    timers.push_back(std::move(t));
}

void timer_remove(void* data) {
    for (size_t i = timers.size(); i-- > 0;) {
        if (timers[i]->data == data) {
            timers.erase(timers.begin() + ptrdiff_t(i));
            return;
        }
    }
}

void timers_tick(uint32_t ms) {
    // A callback may add or remove timers: walk by index over the records
    // there were at the start.
    const size_t n = timers.size();
    for (size_t i = 0; i < n && i < timers.size(); i++) {
        TimerRecord* t = timers[i].get();
        // A timer whose callback waits does not fire again inside that wait.
        if (t->firing) continue;
        t->elapsed += ms;
        if (t->done || t->elapsed < t->interval) continue;
        t->elapsed = 0;
        if (t->one_shot) t->done = true;
        t->firing = true;
        t->callback(t->data);
        // The callback may have removed the record.
        for (const auto& r : timers) {
            if (r.get() == t) t->firing = false;
        }
    }
}

size_t timer_count() { return timers.size(); }
void timers_clear() { timers.clear(); }

void set_rate(GuiWidget* w, const Cell* rate) {
    if (is_type(rate, TYPE_NONE)) {
        timer_remove(w);
        return;
    }
    if (is_type(rate, TYPE_INTEGER) && cell_int(rate) > 0) {
        timer_add(w, uint32_t(1000 / cell_int(rate)), rate_callback);
        return;
    }
    if (is_type(rate, TYPE_TIME)) {
        const double seconds = time_get(rate);
        if (seconds > 0) {
            timer_add(w, uint32_t(seconds * 1000), rate_callback);
            return;
        }
    }
    fire(Err::script_invalid_facet_type, *rate);
}

} // namespace kem::gui
