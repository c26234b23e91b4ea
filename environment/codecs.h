// The codec registry (system/codecs) and the library's internal words.
#pragma once
#include "runtime/core/cell.h"

namespace kem {

// An object holding the words only the library's own scripts reach: the
// JSON routines, and json-codec and csv-codec, which the scripts set.
Cell make_library_internals();

// Binds the words of a library script that the internals object holds to it.
void bind_library_internals(Cell* script, const Cell& internals);

// Puts the codecs into system/codecs in their order: png, jpeg, bmp, gif,
// tiff, kembin, json, csv.
void register_codecs(const Cell& internals);

} // namespace kem
