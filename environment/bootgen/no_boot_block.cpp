// The build-time tool's runtime has no boot block: it is what makes one.
#include "environment/startup.h"

namespace kem {

const uint8_t boot_block_data[] = {0};
const uint32_t boot_block_size = 0;

} // namespace kem
