// The GUI's event loop: frames of 33 ms that read the console, advance the
// timers, draw a marked screen and deliver keys and mouse reports. Loops
// nest; each ends when the nesting counter comes back to its value at entry.
#pragma once
#include <cstdint>
#include "view/backends/terminal/input.h"

namespace kem::gui {

// Runs the loop (with no_wait, one pass when input is pending). True when
// the last read found input.
bool do_events(bool no_wait);
// The time of a `wait`, while windows are open: passes run until it is over
// (or the loop around it is asked to end); false with no window open.
bool wait_passes(uint64_t milliseconds);
void post_quit_msg();
bool gui_active();
// Delivers one translated input (keys and the mouse, as a pass does).
void deliver_input(const GuiInput& in);
// Back to the state before the first loop (pointer tracking, clicks).
void event_loop_reset();

} // namespace kem::gui
