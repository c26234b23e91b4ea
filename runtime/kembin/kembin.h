// KEMBIN: the system's own binary serialisation of values, in a fixed variant
// (32-bit fields) and a compact one (varints), with an optional symbol table
// so that words, contexts, functions and shared series survive a round trip.
//
// The decoder runs in two forms. At start-up (the codec flag off) it reads the
// boot block into the root block: words bind globally or to contexts of
// earlier root values, set records define global words, and damage ends the
// process. At run time (the codec flag on) it reads into a fresh block and
// raises script errors on damage. Neither form runs Kem code, so no collection
// can happen while values are half built.
#pragma once
#include <cstddef>
#include <cstdint>
#include "runtime/core/cell.h"

namespace kem::kembin {

// kembin/codec?: off until the codec decodes or an encoder runs; the boot
// loader clears it.
extern bool codec_mode;

// The binary! of one value in the compact or the fixed variant, written into
// out. Refused datatypes (routine!, triple!, handle!, port!, event!, and the
// types whose records are not wired yet) raise access no-codec; values nested
// deeper than MAX_DEPTH records raise internal stack-overflow.
Cell* encode(const Cell* value, bool compact, Cell* out);

// Appends the values of size bytes of KEMBIN data to the block. Bad magic, a
// compressed payload that does not unpack or a fixed header cut short raise
// script invalid-data naming `input`; any other damage script
// kb-invalid-record with the 1-based byte position of the fault.
void decode(const uint8_t* data, size_t size, const Cell* block, const Cell& input);

// The start-up load: decodes the boot block into the root block with the
// collector off (its state restored afterwards), records where the new root
// values start for boot_value, and returns how many there are. Corrupt boot
// data prints its message and ends the process with status 1.
uint32_t load_boot(const uint8_t* data, size_t size);

} // namespace kem::kembin
