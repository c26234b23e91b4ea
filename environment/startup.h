// Bringing the runtime up, in the one order every module relies on.
#pragma once
#include "runtime/core/cell.h"

namespace kem {

// Runs once; later calls do nothing.
void init_runtime();
bool runtime_ready();

} // namespace kem
