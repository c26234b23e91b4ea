// The library's start-up: the global values every script can count on,
// made after the runtime is up.
#pragma once
#include "runtime/core/cell.h"

namespace kem {

// The named typesets, bound to their global words (they must exist before
// any argument list is built, since every spec names them).
void boot_typesets();

// The constants no literal can write (null-handle).
void boot_constants();

// The global routines (C++ bodies with a Kem spec).
void boot_routines();
// A routine! value of a C++ body whose spec is given as Kem source.
Cell make_routine(const char* spec_text, Cell* (*fn)(Cell* args));

// The infix operators, each an op! of the action or native beside it.
void boot_operators();

// Runs the boot script: constants and colours.
void boot_library();

// The runtime, the typesets and the boot script, once.
void boot_all();

} // namespace kem
