// Events leaving the backend: to a widget's own handler, then as event!
// values to system/view/awake, whose errors and throws never come back out;
// and the Kem calls the backend makes, each behind a barrier.
#pragma once
#include <cstdint>
#include <initializer_list>
#include "runtime/core/cell.h"
#include "view/backends/terminal/widgets.h"

namespace kem::gui {

// Calls the function with the values (which must evaluate to themselves) in
// a barrier that stops every error, throw and halt: false when one was
// stopped. The result, when asked for, is none then.
bool call_kem(const Cell& fn, std::initializer_list<Cell> args, Cell* result = nullptr);
// Runs C++ code that may run Kem code behind the same barrier.
bool run_guarded(void (*body)(void* context), void* context);
// A field of TUI-helpers (none when missing).
Cell tui_helper(const char* name);

// Runs system/view/awake with a backend event; true when it answered `done`.
bool make_event(int type, const GuiEventData& data, uint32_t flags);
bool send_event(int type, GuiWidget* w, uint32_t flags);
bool send_event_at(int type, GuiWidget* w, float x, float y, uint32_t flags);
// Skips the widget's own handler; the value goes in the key/picked field.
bool send_widget_event(int type, GuiWidget* w, int32_t value);
// A key for the widget (null: the focused one); special: a special key code
// (-20 ...), or 9 with Shift for back-tab.
void send_key_event(GuiWidget* w, int32_t key, int32_t special, bool shift = false);

} // namespace kem::gui
