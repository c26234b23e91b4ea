// Natives: if unless either any all switch case do get set func function does has: conditionals, do, get, set and the function makers.
#include "runtime/interpreter/natives.h"

namespace kem {

void register_control_natives() {}

} // namespace kem
