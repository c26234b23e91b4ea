// Natives: while until loop repeat forever foreach forall remove-each.
#include "runtime/interpreter/natives.h"

namespace kem {

void register_loop_natives() {}

} // namespace kem
