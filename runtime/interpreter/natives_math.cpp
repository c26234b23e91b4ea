// Natives: the math natives.
#include "runtime/interpreter/natives.h"

namespace kem {

void register_math_natives() {}

} // namespace kem
