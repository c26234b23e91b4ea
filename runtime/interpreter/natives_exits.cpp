// Natives: construct value? uppercase lowercase as-pair as-point2D as-point3D break continue exit return throw catch extend.
#include "runtime/interpreter/natives.h"

namespace kem {

void register_exits_natives() {}

} // namespace kem
