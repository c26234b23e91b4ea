// The system object.
#pragma once
#include <string>

namespace kem {

// "system/catalog/errors: make object! [...]", made from the C++ error
// catalog: the boot block carries it after the system object's own source.
std::string catalog_source();

// Builds system with its sub-objects, change handlers, error catalog,
// system/words and the routines kept in its fields, and binds it to the
// global word `system`. Runs after the library, whose functions its
// handlers call.
void boot_system();

// The routines kept in system/console's fields (init), once the console
// object is made.
void boot_console_routines();

} // namespace kem
