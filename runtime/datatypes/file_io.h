// The file layer as the file! actions reach it: whole-file reading and
// writing, listings, dates, deletion and renaming. Its bodies live with the
// I/O services, a layer above (io/simple_io.cpp defines these); declaring
// them here keeps every include pointing down.
#pragma once
#include "runtime/core/cell.h"

namespace kem {

// read: a folder name (simple_io_dir_path_q) lists the folder; any other name reads
// the file from `seek` bytes on (none: from the start), at most `part`
// bytes (none: to the end), as a binary! with binary, a block of line
// strings with lines, else a string! decoded as UTF-8. part and seek are
// number! cells or null. Access cannot-open when the file or folder cannot
// be read, access invalid-utf8 for text that is no UTF-8. Returns the
// pushed result.
Cell* simple_io_read_file(const Cell* file, const Cell* part, const Cell* seek, bool binary, bool lines);

// write: the data's bytes to the file (null: to standard output, which stays
// open). A string! as UTF-8, a binary! as its bytes, anything else molded;
// with lines, each value of a block (or the data) followed by a line feed.
// part and seek are cells or null: part must be an integer! (script
// invalid-refine-arg), a negative part writes nothing. The file is emptied
// first unless append or seek is given. Access cannot-open when it cannot be
// opened or not every byte could be written.
void simple_io_write(const Cell* destination, const Cell* data, const Cell* part, const Cell* seek, bool binary,
              bool append, bool lines);

// query: pushes the date! of the file's last write (UTC), or none when
// nothing exists there or a folder name names no folder.
Cell* simple_io_query_file(const Cell* file);

// delete: a folder name removes the (empty) folder, any other name the file.
bool simple_io_delete_file(const Cell* file);
bool simple_io_rename_file(const Cell* from, const Cell* to);

} // namespace kem
