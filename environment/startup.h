// Bringing the runtime up, in the one order every module relies on.
#pragma once
#include "runtime/core/cell.h"

namespace kem {

// While set, every word made by word_load is also kept in the root block.
extern bool startup_word_mode;

// The root block: values that live for the whole run.
Cell* root_block();

// Runs once; later calls do nothing.
void init_runtime();
bool runtime_ready();

} // namespace kem
