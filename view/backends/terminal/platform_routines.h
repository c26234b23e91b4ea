// The backend's members of system/view/platform and its start-up.
#pragma once
#include <cstddef>
#include "view/gui_routines.h"

namespace kem::gui {

extern const RoutineEntry BACKEND_PLATFORM_ROUTINES[];
extern const size_t BACKEND_PLATFORM_ROUTINE_COUNT;
// The members of TUI-helpers the backend answers.
extern const RoutineEntry TUI_ROUTINES[];
extern const size_t TUI_ROUTINE_COUNT;

// The screen, the colour depth TUI-helpers chooses, and the windows as the
// screen's client. Once, before the platform's init runs.
void backend_init();

} // namespace kem::gui
