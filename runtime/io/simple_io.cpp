// Whole-file reading and writing, folder listings, file dates, deletion,
// renaming and folder creation over the platform's file layer.
#include "runtime/io/simple_io.h"
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/string.h"
#include "runtime/platform/file_replace.h"
#include "runtime/platform/files.h"
#include "runtime/services/unicode/text.h"

namespace kem {

namespace {

// The most bytes one read may give: what a series can hold.
constexpr size_t MAX_READ = 0x7FFFFF00;

// Closes the descriptor on every way out, errors included; close() reports
// whether the writes reached the file.
class OpenFile {
public:
    explicit OpenFile(int fd, bool owned = true) : fd_(fd), owned_(owned) {}
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile() { close(); }
    int fd() const { return fd_; }
    bool close() {
        const bool ok = !owned_ || platform::close_file(fd_);
        owned_ = false;
        return ok;
    }

private:
    int fd_;
    bool owned_;
};

// The integer a count argument (number!) stands for: a float is truncated,
// and held within a range no file reaches; NaN counts as absent.
int64_t count_of(const Cell* value) {
    if (is_type(value, TYPE_INTEGER)) return cell_int(value);
    const double d = cell_float(value);
    if (std::isnan(d)) return -1;
    return int64_t(std::clamp(d, -4.0e18, 4.0e18));
}

[[noreturn]] void cannot_open(const Cell* file) {
    if (file) fire(Err::access_cannot_open, *file);
    fire(Err::access_cannot_open, none_value);
}

int32_t char_from_end(const Cell* file, const TextRange& r, uint32_t back) {
    return string_char_at(file, r.pos + r.length - back);
}

inline bool separator(int32_t cp) { return cp == '/' || cp == '\\'; }

// Moves past `offset` bytes: by seeking, or by reading them when the file
// cannot seek (a pipe). False when a read fails; past the end is no failure.
bool skip_bytes(int fd, int64_t offset) {
    if (platform::seek_file(fd, offset) >= 0) return true;
    uint8_t scratch[65536];
    while (offset > 0) {
        const int64_t n = platform::read_data(fd, scratch, size_t(std::min<int64_t>(offset, sizeof scratch)));
        if (n < 0) return false;
        if (n == 0) break;
        offset -= n;
    }
    return true;
}

// The bytes from `seek` on (negative: from the start), at most `part` of
// them (negative: to the end), read once, so that pipes and FIFOs lose nothing.
std::vector<uint8_t> read_bytes(const Cell* file, int64_t part, int64_t seek) {
    const std::optional<std::string> path = file_to_os_path(file);
    OpenFile f(path ? platform::open_file(*path, platform::FILE_READ) : -1);
    if (f.fd() < 0) cannot_open(file);
    if (part == 0) return {};
    if (seek > 0 && !skip_bytes(f.fd(), seek)) cannot_open(file);
    bool no_memory = false;
    std::optional<std::vector<uint8_t>> bytes = platform::read_to_end(f.fd(), part, MAX_READ, &no_memory);
    if (no_memory) fire(Err::internal_no_memory);
    if (!bytes) cannot_open(file);
    return std::move(*bytes);
}

// --- writing ---------------------------------------------------------------------------

constexpr uint8_t LINE_END = '\n';

// Writes one value as write converts it: a string! as UTF-8, a binary! as its
// bytes, anything else molded; at most `limit` characters or bytes (negative:
// all). False when not every byte was written.
bool write_value(int fd, const Cell* value, int64_t limit) {
    const int32_t cap = limit < 0 ? -1 : int32_t(std::min<int64_t>(limit, INT32_MAX));
    if (is_type(value, TYPE_BINARY)) {
        Cell bin = *value;
        size_t n = size_t(std::max(binary_rs_length(&bin), 0));
        if (cap >= 0) n = std::min(n, size_t(cap));
        return platform::write_data(fd, n ? binary_rs_head(&bin) : nullptr, n);
    }
    if (is_type(value, TYPE_STRING)) {
        const std::vector<uint8_t> bytes = binary_text_bytes(value, cap);
        return platform::write_data(fd, bytes.data(), bytes.size());
    }
    Cell* text = string_make_at(stack::push_slot(), 64);
    Cell molded = *value;
    mold_direct(&molded, text, MoldArgs{}, INT32_MAX, 0);
    const std::vector<uint8_t> bytes = binary_text_bytes(text, cap);
    stack::pop(1);
    return platform::write_data(fd, bytes.data(), bytes.size());
}

// --- values from bytes -----------------------------------------------------------------

Cell* value_of_bytes(const std::vector<uint8_t>& bytes, bool binary, bool lines) {
    if (binary) return binary_load_at(bytes.data(), uint32_t(bytes.size()), nullptr);
    // An empty content is an empty string, with /lines too.
    if (lines && !bytes.empty()) return simple_io_lines_to_block(bytes.data(), bytes.size());
    return simple_io_bytes_to_string(bytes.data(), bytes.size());
}

} // namespace

// --- folder names ----------------------------------------------------------------------

bool simple_io_dir_path_q(const Cell* file) {
    const TextRange r = string_text_range(file);
    if (r.length == 0) return false;
    const int32_t last = char_from_end(file, r, 1);
    if (separator(last)) return true;
    if (last != '.') return false;
    // "." or ".." alone, or after a separator.
    if (r.length == 1) return true;
    const int32_t before = char_from_end(file, r, 2);
    if (separator(before)) return true;
    if (before != '.') return false;
    return r.length == 2 || separator(char_from_end(file, r, 3));
}

// --- reading ---------------------------------------------------------------------------

Cell* simple_io_read_file(const Cell* file, const Cell* part, const Cell* seek, bool binary, bool lines) {
    if (simple_io_dir_path_q(file)) return simple_io_read_dir(file);
    const std::vector<uint8_t> bytes = read_bytes(file, part ? count_of(part) : -1, seek ? count_of(seek) : -1);
    return value_of_bytes(bytes, binary, lines);
}

std::vector<uint8_t> simple_io_read_bytes(const Cell* file) { return read_bytes(file, -1, -1); }

Cell* simple_io_read_dir(const Cell* file) {
    const std::optional<std::string> path = file_to_os_path(file);
    std::optional<std::vector<platform::DirEntry>> entries;
    if (path) entries = platform::read_dir(*path);
    if (!entries) cannot_open(file);
    Cell* out = block_make_at(stack::push_slot(), int32_t(std::min<size_t>(entries->size(), INT32_MAX)));
    for (const platform::DirEntry& e : *entries) {
        std::string name = e.name;
        if (e.folder) name += '/';
        Cell entry;
        // A name that is no UTF-8 still lists (with U+FFFD): refusing it
        // would hide every other entry of the folder.
        make_series(&entry, TYPE_FILE, load_text_replacing(reinterpret_cast<const uint8_t*>(name.data()),
                                                           uint32_t(name.size())));
        block_append_cell(out, &entry);
    }
    return out;
}

Cell* simple_io_lines_to_block(const uint8_t* bytes, size_t count) {
    size_t lines = 0;
    for (size_t i = 0; i < count; i++) lines += bytes[i] == '\n';
    if (count > 0 && bytes[count - 1] != '\n') lines++;
    Cell* out = block_make_at(stack::push_slot(), int32_t(std::min<size_t>(lines, INT32_MAX)));
    size_t start = 0;
    while (start < count) {
        const uint8_t* nl = static_cast<const uint8_t*>(std::memchr(bytes + start, '\n', count - start));
        size_t end = nl ? size_t(nl - bytes) : count;
        const size_t next = nl ? end + 1 : count;
        // The carriage return of a CR LF pair goes; one before the end of the text stays.
        if (nl && end > start && bytes[end - 1] == '\r') end--;
        const Cell line = *simple_io_bytes_to_string(bytes + start, end - start);
        stack::pop(1);
        block_append_cell(out, &line);
        start = next;
    }
    return out;
}

Cell* simple_io_bytes_to_string(const uint8_t* bytes, size_t count) {
    if (count > MAX_READ) fire(Err::internal_no_memory);
    return string_decode_utf8(bytes, uint32_t(count));
}

// --- writing ---------------------------------------------------------------------------

void simple_io_write(const Cell* destination, const Cell* data, const Cell* part, const Cell* seek, bool,
                     bool append, bool lines) {
    int64_t limit = -1;
    if (part) {
        if (!is_type(part, TYPE_INTEGER)) fire(Err::script_invalid_refine_arg, rt_words.part, *part);
        limit = cell_int(part);
        if (limit < 0) return;
    }
    const int64_t offset = seek ? count_of(seek) : -1;

    // A write of the whole content replaces the file only once it is all
    // down (a failure leaves the old content); /append and /seek write in place.
    int fd = 1;  // no destination: standard output, left open
    std::optional<platform::WholeFileWrite> whole;
    if (destination) {
        const std::optional<std::string> path = file_to_os_path(destination);
        if (!path) cannot_open(destination);
        if (append || seek) {
            unsigned mode = platform::FILE_WRITE;
            if (append) mode |= platform::FILE_APPEND;
            if (seek) mode |= platform::FILE_SEEK;
            fd = platform::open_file(*path, mode);
        } else {
            fd = whole.emplace(*path).fd();
        }
        if (fd < 0) cannot_open(destination);
    }
    OpenFile f(fd, destination != nullptr && !whole);
    if (destination && offset > 0 && !append && platform::seek_file(fd, offset) < 0) cannot_open(destination);

    // Text goes out with line feeds as they are: line ends on this system are LF.
    bool ok = true;
    if (lines && is_type(data, TYPE_BLOCK)) {
        // By index: molding may make new series, so no cell pointer is kept.
        const Cell block = *data;
        const uint32_t start = uint32_t(std::max(series_position(&block), 0));
        for (uint32_t i = start; ok && i < block_full_length(&block); i++) {
            const Cell item = *block_rs_abs_at(&block, i);
            ok = write_value(fd, &item, -1) && platform::write_data(fd, &LINE_END, 1);
        }
    } else {
        ok = write_value(fd, data, limit) && (!lines || platform::write_data(fd, &LINE_END, 1));
    }
    if (ok) ok = whole ? whole->commit() : f.close();
    if (!ok) cannot_open(destination);
}

// --- dates, deletion, renaming, folders ----------------------------------------------------

Cell* simple_io_query_file(const Cell* file) {
    Cell* out = stack::push_slot();
    make_none(out);
    const std::optional<std::string> path = file_to_os_path(file);
    if (!path) return out;
    const TextRange r = string_text_range(file);
    if (r.length > 0 && separator(char_from_end(file, r, 1)) && !platform::is_folder(*path)) return out;
    const std::optional<platform::FileTime> t = platform::file_modified(*path);
    if (!t) return out;
    const time_t seconds = time_t(t->seconds);
    std::tm utc;
    if (!gmtime_r(&seconds, &utc)) return out;
    // Kept to the millisecond, as file dates are given everywhere else.
    const int32_t nanoseconds = t->nanoseconds / 1000000 * 1000000;
    date_make_from_system_time(out, utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min,
                               utc.tm_sec, nanoseconds);
    return out;
}

bool simple_io_delete_file(const Cell* file) {
    const std::optional<std::string> path = file_to_os_path(file);
    return path && platform::delete_file(*path, simple_io_dir_path_q(file));
}

bool simple_io_rename_file(const Cell* from, const Cell* to) {
    const std::optional<std::string> a = file_to_os_path(from);
    const std::optional<std::string> b = file_to_os_path(to);
    return a && b && platform::rename_file(*a, *b);
}

bool simple_io_file_exists(const Cell* file) {
    const std::optional<std::string> path = file_to_os_path(file);
    return path && platform::file_exists(*path);
}

bool simple_io_make_dir(const Cell* file, bool private_) {
    const std::optional<std::string> path = file_to_os_path(file);
    return path && platform::make_dir(*path, private_);
}

int64_t simple_io_file_size(const Cell* file) {
    if (simple_io_dir_path_q(file)) return -1;
    const std::optional<std::string> path = file_to_os_path(file);
    return path ? platform::path_size(*path) : -1;
}

} // namespace kem
