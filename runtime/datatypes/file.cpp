// file!: local paths, the current folder, mold, and the registration of the row.
#include "runtime/datatypes/file.h"
#include <algorithm>
#include <climits>
#include <vector>
#include "runtime/collector/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/file_io.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/url.h"
#include "runtime/platform/platform.h"
#include "runtime/services/unicode/text.h"
#include "runtime/services/unicode/utf.h"

namespace kem {

// --- local paths -----------------------------------------------------------------------

void file_to_local_path(const Cell* source, Cell* target, bool full) {
    TextRange r = string_text_range(source);
    bool absolute = r.length > 0 && string_char_at(source, r.pos) == '/';
    if (full && !absolute) {
        Cell* dir = file_get_current_dir();
        string_concat_into(target, dir, -1, 0, true, CONCAT_APPEND);
        stack::pop(1);
    }
    string_concat_into(target, source, -1, 0, true, CONCAT_APPEND);
}

std::optional<std::string> file_to_os_path(const Cell* file) {
    TextRange r = string_text_range(file);
    std::string out;
    out.reserve(r.length);
    for (uint32_t i = 0; i < r.length; i++) {
        int32_t cp = string_char_at(file, r.pos + i);
        if (cp == 0) return std::nullopt;
        uint8_t bytes[4];
        int n = utf8_encode_char(cp, bytes);
        out.append(reinterpret_cast<const char*>(bytes), size_t(n));
    }
    return out;
}

Cell* file_get_current_dir() {
    std::string dir = platform::get_current_dir().value_or(std::string());
    if (!dir.empty() && dir.back() != '/') dir += '/';
    return string_load_at(reinterpret_cast<const uint8_t*>(dir.data()), uint32_t(dir.size()), nullptr, 0);
}

// --- mold ----------------------------------------------------------------------------------

// A bare name must be all URL text characters, since an unquoted file literal
// is percent-decoded and ends where a URL character would not be taken.
// "(", ")", ":" and "@" are URL text characters, but they also end an unquoted
// file token, so a name holding one is quoted as well. Code points from 127 on
// load back bare, but for surrogates, which only an escape writes.
bool file_name_needs_quotes(int32_t cp) {
    if (cp >= 127) return is_surrogate(cp);
    return !url_text_char(cp) || cp == '(' || cp == ')' || cp == ':' || cp == '@';
}

namespace {

// Inside %"..." the lexer decodes "^" escapes and ends the name at the first
// double quote, whatever precedes it, and refuses a raw line feed or NUL.
// So "^" doubles, a double quote becomes its hexadecimal escape, and control
// characters other than tab take their escapes. Returns the characters written.
int32_t append_quoted_char(Cell* buffer, int32_t cp) {
    if (cp == '"') {
        string_append_ascii(buffer, "^(22)");
        return 5;
    }
    if (cp == '^') {
        string_append_ascii(buffer, "^^");
        return 2;
    }
    if ((cp < 0x20 && cp != '\t') || is_surrogate(cp)) return string_append_escaped(buffer, cp, false);
    string_append_char(buffer, cp);
    return 1;
}
} // namespace

int32_t file_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    TextRange r = string_text_range(value);
    uint32_t count = r.length;
    if (refs.limit) count = part < 0 ? 0 : std::min<uint32_t>(count, uint32_t(part));
    // Taken out first: a file molded into its own buffer would read its new text.
    std::vector<int32_t> name(count);
    for (uint32_t i = 0; i < count; i++) name[i] = string_char_at(value, r.pos + i);

    string_append_ascii(buffer, "%");
    int64_t written = 0;
    if (r.length == 0) {
        string_append_ascii(buffer, "\"\"");
        written = 2;
    } else if (std::any_of(name.begin(), name.end(), file_name_needs_quotes)) {
        string_append_ascii(buffer, "\"");
        for (int32_t cp : name) written += append_quoted_char(buffer, cp);
        string_append_ascii(buffer, "\"");
        written += 2;
    } else {
        for (int32_t cp : name) string_append_char(buffer, cp);
        written = count;
    }
    return int32_t(std::max<int64_t>(int64_t(part) - written - 1, INT32_MIN));
}

// --- file actions ---------------------------------------------------------------------------
// The work is the file layer's; what is decided here is which refinements
// have a meaning for files. One that has none refuses before anything is touched.

namespace {

Cell* push_logic(bool value) {
    Cell* out = stack::push_slot();
    make_logic(out, value);
    return out;
}

} // namespace

Cell* file_read(Cell* source, const ReadArgs& refs) {
    if (refs.as) fire(Err::internal_not_done);
    return simple_io_read_file(source, refs.part, refs.seek, refs.binary, refs.lines);
}

Cell* file_write(Cell* destination, Cell* data, const WriteArgs& refs) {
    if (refs.allow || refs.as) fire(Err::internal_not_done);
    simple_io_write(destination, data, refs.part, refs.seek, refs.binary, refs.append, refs.lines);
    Cell* out = stack::push_slot();
    make_unset(out);
    return out;
}

Cell* file_delete(Cell* file) { return push_logic(simple_io_delete_file(file)); }
Cell* file_query(Cell* file) { return simple_io_query_file(file); }
Cell* file_rename(Cell* from, Cell* to) { return push_logic(simple_io_rename_file(from, to)); }

// --- registration ---------------------------------------------------------------------------

void register_file() {
    ActionRow row = ActionRow::inherit_all();
    row.set<ACT_MOLD>(file_mold);
    row.set<ACT_DELETE>(file_delete);
    row.set<ACT_QUERY>(file_query);
    row.set<ACT_READ>(file_read);
    row.set<ACT_RENAME>(file_rename);
    row.set<ACT_WRITE>(file_write);
    for (int slot : {ACT_RANDOM, ACT_REFLECT, ACT_UNUSED, ACT_PUT, ACT_SORT, ACT_TRIM, ACT_CREATE, ACT_CLOSE,
                     ACT_OPEN, ACT_OPEN_Q, ACT_UPDATE})
        row.none(slot);
    for (int slot = ACT_ABSOLUTE; slot <= ACT_XOR_T; slot++) row.none(slot);
    register_datatype(TYPE_FILE, TYPE_URL, "file!", row);
    collector::set_mark_kind(TYPE_FILE, collector::MK_BYTES2);
}

} // namespace kem
