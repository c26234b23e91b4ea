// Natives: unset new-line new-line? context? wait to-local-file set-env get-env list-env now as transcode apply.
#include "runtime/interpreter/natives.h"

namespace kem {

void register_system_natives() {}

} // namespace kem
