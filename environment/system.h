// The system object: the part of it that errors need.
#pragma once

namespace kem {

// Builds system (catalog/errors, state, standard/error) and binds it to the
// global word `system`. Runs after the boot script, which defines none.
void boot_system();

} // namespace kem
