// file!: a string kind naming a file or folder in Kem's path notation:
// "/" between folders, a leading "/" for an absolute path, a trailing "/"
// for a folder. It inherits the row of url! (make, to, form, the path join
// that keeps the file! type, comparison and the series actions) and molds as
// %name, or %"name" when the bare name would not load back.
//
// Local paths are POSIX paths, so the local form of a name is the name itself;
// only the full form adds the current folder in front of a relative name.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include "runtime/core/cell.h"
#include "runtime/datatypes/action_types.h"

namespace kem {

// Appends the local form of a file! or a string kind, from its position, to
// target; with full, a relative path is first prefixed with the current
// folder (as file_get_current_dir gives it). The to-local-file, call and
// browse natives and the clipboard file-list writer use this.
void file_to_local_path(const Cell* source, Cell* target, bool full);

// The path from its position as UTF-8 for a POSIX call. nullopt when it holds
// a NUL character: the call would see only the text before it and so act on
// a different file; callers report that as the failure of their operation.
// A relative path stays relative: the OS resolves it against the current
// folder.
std::optional<std::string> file_to_os_path(const Cell* file);

// Pushes a new string!: the process's current folder with a "/" at its end
// (empty when the system cannot say, for example after the folder was removed).
Cell* file_get_current_dir();

// Whether a code point needs the quoted form %"..." in a molded file name.
bool file_name_needs_quotes(int32_t cp);

// mold: "%" and the name, in double quotes when needed (with "^" escapes
// for the characters a quoted name cannot hold raw); %"" when empty. Returns
// the part budget left.
int32_t file_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);

// The file actions: read, write, delete, query and rename hand their work to
// the file layer (file_io.h); read/as and write/allow and write/as raise
// internal not-done before anything is touched. write gives unset, delete
// and rename a logic!, query a date! or none.
Cell* file_read(Cell* source, const ReadArgs& refs);
Cell* file_write(Cell* destination, Cell* data, const WriteArgs& refs);
Cell* file_delete(Cell* file);
Cell* file_query(Cell* file);
Cell* file_rename(Cell* from, Cell* to);

void register_file();

} // namespace kem
