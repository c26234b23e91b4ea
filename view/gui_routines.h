// The routines of the GUI layer (C++ bodies with a Kem spec): the global ones
// (event?, send-event-os, find-flag?) and the members of
// system/view/platform that the backend gives (the others stay none until
// the backend has them).
#pragma once
#include <span>
#include "runtime/datatypes/routine.h"

namespace kem::gui {

struct RoutineEntry {
    const char* name;
    const char* spec;  // Kem source
    RoutineFn fn;
};

std::span<const RoutineEntry> routines();
std::span<const RoutineEntry> platform_routines();

} // namespace kem::gui
