// Natives: print prin, the comparison natives, not, same?, type?, reduce, compose, stats, bind, in.
#include "runtime/interpreter/natives.h"

namespace kem {

void register_value_natives() {}

} // namespace kem
