// OS services as values: the command line and the description of the system.
#pragma once
#include "runtime/core/cell.h"

namespace kem {

// Pushes a string! of the process's whole command line: its arguments
// joined so that the start-up splitting gives them back (platform/os.h).
Cell* os_command_line();

// Pushes a new object! describing the system, with the fields name (string!),
// arch (word!), version (tuple! of the kernel's major, minor and patch
// numbers) and build (integer!).
Cell* os_get_info();

} // namespace kem
