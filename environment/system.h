// The system object: the part of it that errors need.
#pragma once
#include <string>

namespace kem {

// The Kem source of the system object, made from the C++ error catalog; the
// boot block carries it loaded.
std::string system_source();

// Builds system (catalog/errors, state, standard/error) and binds it to the
// global word `system`. Runs after the boot script, which defines none.
void boot_system();

} // namespace kem
