// Blocking, whole-file reading and writing, folder listings, file dates,
// deletion, renaming, folder creation and existence tests. Files are opened,
// used and closed within one call; no descriptor outlives it.
//
// The operations the file! actions call are declared in datatypes/file_io.h;
// this header adds what the natives, routines and the HTTP layer use.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>
#include "runtime/core/cell.h"
#include "runtime/datatypes/file_io.h"

namespace kem {

// Whether a file! or string names a folder by its form, from its position:
// it ends in "/" or "\", is "." or "..", or ends in "/" or "\" followed by
// "." or "..".
bool simple_io_dir_path_q(const Cell* file);

// Pushes a block! of the folder's entries as file! values, folders with a
// trailing "/", in the order the system gives them ("." and ".." left out).
// The name "/" lists the root folder. Access cannot-open when the folder
// cannot be listed.
Cell* simple_io_read_dir(const Cell* file);

// The whole content of a file as bytes; access cannot-open when it cannot
// be read (a folder included).
std::vector<uint8_t> simple_io_read_bytes(const Cell* file);

// Pushes a block! of string! lines: each line feed ends a line and a
// carriage return just before it is dropped; text after the last line feed
// is one more line; each line is strict UTF-8 (access invalid-utf8).
Cell* simple_io_lines_to_block(const uint8_t* bytes, size_t count);
// Pushes a string! of strict UTF-8 text (access invalid-utf8 with the bytes
// from the first that is no UTF-8), in the narrowest unit that holds it.
Cell* simple_io_bytes_to_string(const uint8_t* bytes, size_t count);

// Whether anything exists at the file's path.
bool simple_io_file_exists(const Cell* file);
// Creates one folder (private_: readable by its owner alone); false on failure.
bool simple_io_make_dir(const Cell* file, bool private_ = false);
// The size in bytes of the file, -1 when it cannot be opened for reading
// or its name or kind is a folder's.
int64_t simple_io_file_size(const Cell* file);

} // namespace kem
