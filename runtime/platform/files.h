// Files and folders over POSIX calls. Paths are UTF-8 byte strings; a path
// holding a NUL byte is refused by the callers before it gets here, since
// the system would see only the text before it.
//
// Each operation reports failure by its result (-1, false, nullopt); the
// file actions above turn that into the catalogued errors.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kem::platform {

// Open modes, combinable: read, write, keep the content and write at its end,
// keep the content and write at a chosen offset.
enum FileMode : unsigned { FILE_READ = 1, FILE_WRITE = 2, FILE_APPEND = 4, FILE_SEEK = 8 };

// A descriptor, or -1. Writing creates the file (mode 0666 less the umask)
// and empties it unless FILE_APPEND or FILE_SEEK is given. A folder opened
// for reading is refused: it has no bytes to read.
int open_file(const std::string& path, unsigned mode);
// False when the system reports that earlier writes did not reach the file.
bool close_file(int fd);
// The size in bytes of a regular file; -1 for anything else (pipes, FIFOs,
// devices report no size that reading could rely on) or on failure.
int64_t file_size(int fd);
// Moves to an offset from the start; the new position, or -1 when the file
// cannot seek (a pipe) or the call fails.
int64_t seek_file(int fd, int64_t offset);
// Up to count bytes; 0 at the end, -1 on failure. Interrupted calls resume.
int64_t read_data(int fd, uint8_t* buffer, size_t count);
// All count bytes, resuming after short writes and interruptions; false
// when the system refuses any of them (disk full, closed pipe ...).
bool write_data(int fd, const uint8_t* data, size_t count);

// Reads from the current position to the end, or at most `limit` bytes when
// limit >= 0. nullopt when a read fails, or when the content would pass
// `max_size` bytes or the memory for it runs out (no_memory is then set).
std::optional<std::vector<uint8_t>> read_to_end(int fd, int64_t limit, size_t max_size, bool* no_memory);

// The size in bytes of what the path names when it can be opened for
// reading, -1 for a folder or on failure. Opening does not wait for a
// writer, so a FIFO gives its size (0) at once.
int64_t path_size(const std::string& path);

// Whether anything (file, folder, device ...) exists at the path.
bool file_exists(const std::string& path);
// Whether the path names a folder (following symbolic links).
bool is_folder(const std::string& path);
// Creates one folder (mode 0777 less the umask; a private one 0700, for
// the owner alone).
bool make_dir(const std::string& path, bool private_ = false);
// Removes a folder (it must be empty) when folder is set, else a file.
bool delete_file(const std::string& path, bool folder);
bool rename_file(const std::string& from, const std::string& to);

struct DirEntry {
    std::string name;
    bool folder;  // a symbolic link counts as what it points to
};
// The entries of a folder in the order the system gives them, without "."
// and ".."; nullopt when it cannot be listed.
std::optional<std::vector<DirEntry>> read_dir(const std::string& path);

struct FileTime {
    int64_t seconds;      // since 1970-01-01 UTC
    int32_t nanoseconds;
};
// The time of the last write; nullopt when nothing exists at the path.
std::optional<FileTime> file_modified(const std::string& path);

} // namespace kem::platform
