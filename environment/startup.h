// Bringing the runtime up, in the one order every module relies on.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"

namespace kem {

// The boot block: the KEMBIN data of the boot environment that the build
// embeds in the program (the natives and actions with their specs, then the
// library's root values). Empty in the build-time tool that makes it, whose
// runtime builds the natives from their spec texts instead.
extern const uint8_t boot_block_data[];
extern const uint32_t boot_block_size;

// Runs once; later calls do nothing.
void init_runtime();

} // namespace kem
