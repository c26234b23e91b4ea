// string!: make, to, form and mold, with the escapes that mold writes.
#include <algorithm>
#include <climits>
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/string.h"
#include "runtime/services/unicode/text.h"
#include "runtime/services/unicode/utf.h"

namespace kem {

namespace {

// The letter after "^" for the code points below 95 that have one, else 0.
char escape_letter(int32_t cp) {
    switch (cp) {
    case 0: return '@';
    case 9: return '-';
    case 10: return '/';
    case 27: return '[';
    case 28: return '\\';
    case 29: return ']';
    case 30: return '^';
    case 31: return '_';
    case 34: return '"';
    case 94: return '^';
    default: return cp >= 1 && cp <= 26 ? char('A' + cp - 1) : 0;
    }
}

// A mold of text longer than this (from the position) takes braces.
constexpr uint32_t MOLD_BRACES_LENGTH = 50;

Cell* new_string() { return string_make_at(stack::push_slot(), 16); }

} // namespace

int32_t string_append_escaped(const Cell* buffer, int32_t cp, bool all) {
    // A surrogate has no UTF-8 form: written as it is, it would not read back.
    if (cp == 0x1E || (cp >= 0x80 && cp <= 0x9F) || is_surrogate(cp) || (all && cp > 0x7F)) {
        const char* digits = string_int_to_hex(cp, true);
        int32_t n = int32_t(std::char_traits<char>::length(digits));
        string_append_ascii(buffer, "^(");
        string_append_ascii(buffer, digits);
        string_append_ascii(buffer, ")");
        return n + 3;
    }
    if (char letter = cp < 95 ? escape_letter(cp) : 0) {
        char text[3] = {'^', letter, 0};
        string_append_ascii(buffer, text);
        return 2;
    }
    if (cp == 0x7F) {
        string_append_ascii(buffer, "^~");
        return 2;
    }
    string_append_char(buffer, cp);
    return 1;
}

// --- form and mold -----------------------------------------------------------------

int32_t string_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    int32_t length = string_rs_length(value);
    if (!arg) string_concatenate(buffer, value, -1, 0, true, CONCAT_APPEND);
    else if (part > 0) string_concatenate(buffer, value, part, 0, true, CONCAT_APPEND);
    return part - length;
}

int32_t string_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    TextRange r = string_text_range(value);
    uint32_t range = r.length;
    if (refs.limit) range = part < 0 ? 0 : std::min<uint32_t>(range, uint32_t(part));
    // A string molded into itself reads its own old text, so take it out first.
    std::vector<int32_t> text(range);
    const uint8_t* p = node_buffer(r.node)->head_ptr() + size_t(r.pos) * r.unit;
    uint32_t quotes = 0, lines = 0;
    for (uint32_t i = 0; i < range; i++) {
        text[i] = read_unit(p + size_t(i) * r.unit, r.unit);
        quotes += text[i] == '"';
        lines += text[i] == '\n';
    }
    bool braces = lines >= 3 || quotes >= 1 || r.length >= MOLD_BRACES_LENGTH;
    if (!braces) {
        string_append_ascii(buffer, "\"");
        for (int32_t c : text) string_append_escaped(buffer, c, refs.all);
        string_append_ascii(buffer, "\"");
        return part - int32_t(range) - 2;
    }

    // From the first "{" that no "}" closes in the range on, every "{" takes a
    // caret, so that the text reads back as it was.
    uint32_t first_unmatched = range;
    std::vector<uint32_t> open;
    for (uint32_t i = 0; i < range; i++) {
        if (text[i] == '{') open.push_back(i);
        else if (text[i] == '}' && !open.empty()) open.pop_back();
    }
    if (!open.empty()) first_unmatched = open.front();
    string_append_ascii(buffer, "{");
    uint32_t depth = 0;
    for (uint32_t i = 0; i < range; i++) {
        int32_t c = text[i];
        if (c == '{') {
            if (i < first_unmatched) {
                depth++;
                string_append_ascii(buffer, "{");
            } else {
                string_append_ascii(buffer, "^{");
            }
        } else if (c == '}') {
            if (depth > 0) {
                depth--;
                string_append_ascii(buffer, "}");
            } else {
                string_append_ascii(buffer, "^}");
            }
        } else if (c == '"') {
            string_append_ascii(buffer, "\"");
        } else {
            string_append_escaped(buffer, c, refs.all);
        }
    }
    string_append_ascii(buffer, "}");
    return part - int32_t(range) - 2;
}

// --- make and to ----------------------------------------------------------------------

Cell* string_make(Cell* proto, Cell* spec, int32_t type) {
    uint8_t st = type_of(spec);
    if (st == TYPE_INTEGER || st == TYPE_FLOAT) {
        int32_t n = to_int_checked(spec);
        if (n < 0) fire(Err::script_out_of_range, *spec);
        Cell* result = stack::push_slot();
        result->header = TYPE_UNSET;
        make_series(result, uint8_t(type), alloc_string_buffer(uint32_t(n ? n : 1), 1), 0);
        return result;
    }
    if (type == TYPE_BINARY) {
        Cell dt;
        make_datatype(&dt, TYPE_BINARY);
        if (st == TYPE_MONEY) fire(Err::script_bad_make_arg, dt, *spec);
        // Conversion into bytes is the binary! row's own to.
        auto to = action_entry_as<ACT_TO>(TYPE_BINARY);
        if (!to || to == &string_to) fire(Err::internal_not_done);
        return to(proto, spec, type);
    }
    return string_to(proto, spec, type);
}

Cell* string_to(Cell* proto, Cell* spec_arg, int32_t type) {
    Cell spec = *spec_arg;
    uint8_t st = type_of(&spec);
    Cell* result;
    if (st == TYPE_NONE) {
        Cell dt;
        make_datatype(&dt, TYPE_STRING);
        fire(Err::script_bad_to_arg, dt, spec);
    } else if (st == TYPE_BLOCK || st == TYPE_PAREN || st == TYPE_HASH) {
        result = new_string();
        string_append(result, &spec, -1, false, 1, true);
    } else if (any_string_type(st)) {
        result = stack::push_slot();
        make_unset(result);
        series_copy(&spec, result, CopyArgs{});
    } else if (st == TYPE_REFINEMENT) {
        result = new_string();
        if (type == TYPE_STRING) form_direct(&spec, result, nullptr, INT32_MAX);
        else mold_direct(&spec, result, MoldArgs{.only = true, .all = true, .flat = true}, INT32_MAX, 0);
    } else if (st == TYPE_BINARY) {
        TextRange r = string_text_range(&spec);
        result = string_decode_utf8(node_buffer(r.node)->head_ptr() + r.pos, r.length);
    } else {
        result = new_string();
        form_direct(&spec, result, nullptr, INT32_MAX);
    }
    set_type(result, uint32_t(type));
    return result;
}

} // namespace kem
