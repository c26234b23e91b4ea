// The routines of the file and OS services, for start-up to bind: exists?,
// create-dir, os-info, write-stdout.
#pragma once
#include <span>
#include "runtime/datatypes/routine.h"

namespace kem {

std::span<const RoutineEntry> io_routines();

} // namespace kem
