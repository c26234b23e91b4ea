// url!: percent-encoding, building a URL from a block, the path join shared
// with file!, mold, and the registration of the row.
#include "runtime/datatypes/url.h"
#include <algorithm>
#include <array>
#include <climits>
#include <string>
#include <vector>
#include "runtime/collector/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/core/errors.h"
#include "runtime/datatypes/actions.h"
#include "runtime/core/stack.h"
#include "runtime/services/unicode/text.h"
#include "runtime/services/unicode/utf.h"

namespace kem {

namespace {

// Bit 0: unreserved; bit 1: URL text. Indexed by ASCII code.
constexpr std::array<uint8_t, 128> make_char_sets() {
    std::array<uint8_t, 128> t{};
    for (int c = 'A'; c <= 'Z'; c++) t[size_t(c)] = 3;
    for (int c = 'a'; c <= 'z'; c++) t[size_t(c)] = 3;
    for (int c = '0'; c <= '9'; c++) t[size_t(c)] = 3;
    for (char c : {'-', '.', '_', '~'}) t[size_t(c)] = 3;
    for (char c : {'!', '#', '$', '&', '\'', '(', ')', '*', '+', ',', '/', ':', '=', '?', '@'}) t[size_t(c)] = 2;
    return t;
}
constexpr std::array<uint8_t, 128> char_sets = make_char_sets();

constexpr char HEX_UPPER[] = "0123456789ABCDEF";

// The code points of a string kind from its position, copied out, so that
// writing to any buffer (the source's own included) cannot disturb them.
std::vector<int32_t> code_points(const Cell* s) {
    TextRange r = string_text_range(s);
    const uint8_t* p = node_buffer(r.node)->head_ptr() + size_t(r.pos) * r.unit;
    std::vector<int32_t> out(r.length);
    for (uint32_t i = 0; i < r.length; i++) out[i] = read_unit(p + size_t(i) * r.unit, r.unit);
    return out;
}

// An escape "%XX" at index i of the code points: its byte.
bool escape_at(const std::vector<int32_t>& cps, size_t i, uint8_t* byte) {
    if (i + 2 >= cps.size() || cps[i] != '%') return false;
    int32_t hi = url_hex_digit(cps[i + 1]);
    int32_t lo = url_hex_digit(cps[i + 2]);
    if (hi < 0 || lo < 0) return false;
    *byte = uint8_t(hi * 16 + lo);
    return true;
}

// "%", hexadecimal digits and every unescaped character are ASCII or whole
// code points, so decoding over code points is decoding over UTF-8 bytes.
std::vector<int32_t> decode_code_points(const std::vector<int32_t>& in) {
    std::vector<int32_t> out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size();) {
        uint8_t seq[4];
        if (escape_at(in, i, &seq[0])) {
            int n = utf8_lead_length(seq[0]);
            if (n == 0) {
                out.push_back(seq[0]);
                i += 3;
                continue;
            }
            bool escaped = true;
            for (int k = 1; k < n && escaped; k++) escaped = escape_at(in, i + 3 * size_t(k), &seq[k]);
            // Only well-formed UTF-8 decodes: an overlong form would smuggle in
            // characters such as "/" that the text never showed.
            int32_t cp;
            if (escaped && unicode::check_utf8_char(seq, size_t(n), &cp) == n) {
                out.push_back(cp);
                i += 3 * size_t(n);
                continue;
            }
        }
        out.push_back(in[i]);
        i++;
    }
    return out;
}

void append_code_points(Cell* target, const std::vector<int32_t>& cps) {
    for (int32_t cp : cps) string_append_char(target, cp);
}

// Appends the encoding of the code points to target, stopping before a piece
// once `limit` characters are out (limit < 0: no limit). The escapes of "("
// and ")" are for mold only: see url_mold. Returns the characters written.
int64_t encode_into(const std::vector<int32_t>& cps, Cell* target, int32_t mode, bool escape_parens,
                    int64_t limit) {
    std::string text;
    int64_t count = 0;
    for (size_t i = 0; i < cps.size() && !(limit >= 0 && count >= limit); i++) {
        uint8_t bytes[4];
        int n = utf8_encode_char(cps[i], bytes);
        for (int k = 0; k < n && !(limit >= 0 && count >= limit); k++) {
            UrlEscapedByte e = url_escape_byte(mode, bytes[k]);
            if (escape_parens && (bytes[k] == '(' || bytes[k] == ')')) e = url_escape_byte(URL_MODE_TEXT, bytes[k]);
            text.append(e.text, size_t(e.length));
            count += e.length;
        }
    }
    string_append_ascii(target, text);
    return count;
}

bool block_spec(const Cell* spec) {
    uint8_t t = type_of(spec);
    return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH;
}

void form_into(Cell* value, Cell* buffer) { form_direct(value, buffer, nullptr, INT32_MAX); }

// scheme://host[:port][/part/part...], an issue! part joined with "#".
Cell* url_from_block(const Cell* spec) {
    std::vector<Cell> items = block_cells_copy(spec);
    if (items.empty()) {
        Cell dt;
        make_datatype(&dt, TYPE_URL);
        fire(Err::script_bad_to_arg, dt, *spec);
    }
    Cell* result = string_make_at(stack::push_slot(), 32);
    form_into(&items[0], result);
    string_append_ascii(result, "://");
    if (items.size() > 1) form_into(&items[1], result);
    size_t next = 2;
    if (items.size() > 2 && is_type(&items[2], TYPE_INTEGER)) {
        string_append_ascii(result, ":");
        form_into(&items[2], result);
        next = 3;
    }
    if (next < items.size()) {
        string_append_ascii(result, "/");
        for (size_t i = next; i < items.size(); i++) {
            form_into(&items[i], result);
            if (i + 1 < items.size()) string_append_ascii(result, is_type(&items[i + 1], TYPE_ISSUE) ? "#" : "/");
        }
    }
    set_type(result, TYPE_URL);
    return result;
}

} // namespace

// --- character sets and escapes ------------------------------------------------------

bool url_unreserved_char(int32_t cp) { return cp >= 0 && cp < 128 && (char_sets[size_t(cp)] & 1); }
bool url_text_char(int32_t cp) { return cp >= 0 && cp < 128 && (char_sets[size_t(cp)] & 2); }

int32_t url_hex_digit(int32_t cp) {
    if (cp >= '0' && cp <= '9') return cp - '0';
    if (cp >= 'A' && cp <= 'F') return cp - 'A' + 10;
    if (cp >= 'a' && cp <= 'f') return cp - 'a' + 10;
    return -1;
}

bool url_decode_escape(const uint8_t* p, const uint8_t* end, uint8_t* out) {
    if (end - p < 3 || p[0] != '%') return false;
    int32_t hi = url_hex_digit(p[1]);
    int32_t lo = url_hex_digit(p[2]);
    if (hi < 0 || lo < 0) return false;
    *out = uint8_t(hi * 16 + lo);
    return true;
}

UrlEscapedByte url_escape_byte(int32_t mode, uint8_t byte) {
    bool keep = mode == URL_MODE_TEXT ? url_unreserved_char(byte) : url_text_char(byte);
    if (keep) return UrlEscapedByte{{char(byte), 0, 0, 0}, 1};
    return UrlEscapedByte{{'%', HEX_UPPER[byte >> 4], HEX_UPPER[byte & 15], 0}, 3};
}

// --- decoding and encoding -----------------------------------------------------------

void url_decode(const Cell* source, Cell* target) { append_code_points(target, decode_code_points(code_points(source))); }

void url_decode_in_place(Cell* value) {
    std::vector<int32_t> cps = code_points(value);
    uint32_t pos = uint32_t(string_full_length(value) - cps.size());
    std::vector<int32_t> decoded = decode_code_points(cps);
    if (decoded.size() == cps.size()) return;  // nothing was escaped
    string_truncate(series_node(value), pos);
    append_code_points(value, decoded);
}

void url_encode(const Cell* source, Cell* target, int32_t mode) {
    encode_into(code_points(source), target, mode, false, -1);
}

Cell* url_push(const Cell* value) { return stack::push(value); }

// --- actions -------------------------------------------------------------------------

Cell* url_make(Cell* proto, Cell* spec, int32_t type) {
    if (type == TYPE_URL && block_spec(spec)) return url_from_block(spec);
    return string_make(proto, spec, type);
}

Cell* url_to(Cell* proto, Cell* spec, int32_t type) {
    if (type == TYPE_URL && block_spec(spec)) return url_from_block(spec);
    return string_to(proto, spec, type);
}

// The lexer ends a URL token at "(" and ")", which the URL text set keeps
// bare: mold escapes them too, so that a molded URL loads back whole.
int32_t url_mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
                 int32_t indent) {
    int64_t limit = arg ? std::max(part, 0) : -1;
    int64_t count = encode_into(code_points(value), buffer, URL_MODE_URL, true, limit);
    return int32_t(int64_t(part) - count);
}

Cell* url_eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* owner, Cell* prev_element,
                    int32_t index, bool push, bool get, bool last, bool notify) {
    if (value) fire(Err::script_bad_path_set, path ? *path : none_value, *element);
    Cell base = *parent;
    Cell elem = is_type(element, TYPE_GET_WORD) ? *word_value_cell(element) : *element;
    TextRange r = string_text_range(&base);
    Cell* result = string_make_at(stack::push_slot(), r.length + 16, r.unit);
    form_into(&elem, result);
    bool base_slash = r.length > 0 && string_char_at(&base, r.pos + r.length - 1) == '/';
    bool elem_slash = string_full_length(result) > 0 && string_char_at(result, 0) == '/';
    uint32_t take = r.length;
    if (base_slash && elem_slash) take--;
    else if (!base_slash && !elem_slash) string_insert_char(series_buffer(result), 0, '/');
    if (take > 0) string_concat_into(result, &base, int32_t(take), 0, true, CONCAT_INSERT);
    set_type(result, type_of(&base));
    return result;
}

void register_url() {
    ActionRow row = ActionRow::inherit_all();
    row.set<ACT_MAKE>(url_make).set<ACT_TO>(url_to).set<ACT_MOLD>(url_mold).set<ACT_EVAL_PATH>(url_eval_path);
    for (int slot : {ACT_RANDOM, ACT_REFLECT, ACT_UNUSED, ACT_PUT, ACT_SORT, ACT_TRIM, ACT_CREATE, ACT_CLOSE,
                     ACT_DELETE, ACT_OPEN, ACT_OPEN_Q, ACT_QUERY, ACT_READ, ACT_RENAME, ACT_UPDATE, ACT_WRITE})
        row.none(slot);
    for (int slot = ACT_ABSOLUTE; slot <= ACT_XOR_T; slot++) row.none(slot);
    register_datatype(TYPE_URL, TYPE_STRING, "url!", row);
    collector::set_mark_kind(TYPE_URL, collector::MK_BYTES2);
}

} // namespace kem
