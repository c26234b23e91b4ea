// url!: decoding and encoding its text, building a URL from a block, the path join shared
// with file!, mold, and the registration of the row.
#include "runtime/datatypes/url.h"
#include <algorithm>
#include <climits>
#include <string>
#include <vector>
#include "runtime/collector/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/port.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/url_io.h"
#include "runtime/datatypes/word.h"
#include "runtime/services/unicode/text.h"

namespace kem {

namespace {

// The code points of a string kind from its position, copied out, so that
// writing to any buffer (the source's own included) cannot disturb them.
std::vector<int32_t> code_points(const Cell* s) {
    TextRange r = string_text_range(s);
    const uint8_t* p = node_buffer(r.node)->head_ptr() + size_t(r.pos) * r.unit;
    std::vector<int32_t> out(r.length);
    for (uint32_t i = 0; i < r.length; i++) out[i] = read_unit(p + size_t(i) * r.unit, r.unit);
    return out;
}

void append_code_points(Cell* target, const std::vector<int32_t>& cps) {
    for (int32_t cp : cps) string_append_char(target, cp);
}

// The encoding of the code points appended to target (see percent_encode).
int64_t encode_into(const std::vector<int32_t>& cps, Cell* target, int32_t mode, bool escape_parens,
                    int64_t limit) {
    std::string text;
    int64_t count = percent_encode(cps, mode, escape_parens, limit, text);
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

// --- decoding and encoding -----------------------------------------------------------

void url_decode(const Cell* source, Cell* target) { append_code_points(target, percent_decode(code_points(source))); }

void url_decode_in_place(Cell* value) {
    std::vector<int32_t> cps = code_points(value);
    uint32_t pos = uint32_t(string_full_length(value) - cps.size());
    std::vector<int32_t> decoded = percent_decode(cps);
    if (decoded.size() == cps.size()) return;  // nothing was escaped
    string_truncate(series_node(value), pos);
    append_code_points(value, decoded);
}

void url_encode(const Cell* source, Cell* target, int32_t mode) {
    encode_into(code_points(source), target, mode, false, -1);
}

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
int32_t url_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    int64_t limit = refs.limit ? std::max(part, 0) : -1;
    int64_t count = encode_into(code_points(value), buffer, URL_MODE_URL, true, limit);
    return int32_t(int64_t(part) - count);
}

Cell* url_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step) {
    if (value) fire(Err::script_bad_path_set, step.path ? *step.path : none_value, *element);
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

// --- opening, reading and writing ------------------------------------------------------
// A URL whose text begins with "http" (so "https" too) is one HTTP request;
// any other URL becomes a port of its scheme.

namespace {

bool http_url(const Cell* url) {
    TextRange r = string_text_range(url);
    if (r.length < 4) return false;
    for (uint32_t i = 0; i < 4; i++)
        if (string_char_at(url, r.pos + i) != "http"[i]) return false;
    return true;
}

} // namespace

Cell* url_open(Cell* url, const OpenArgs& refs) { return port_from_url(url, true, refs); }

Cell* url_read(Cell* url, const ReadArgs& refs) {
    if (http_url(url)) {
        if (refs.part || refs.seek || refs.as) fire(Err::internal_not_done);
        return url_http_read(url, refs.binary, refs.lines, refs.info);
    }
    Cell* port = port_from_url(url, false, OpenArgs{});
    return read_direct(port, refs);
}

Cell* url_write(Cell* url, Cell* data, const WriteArgs& refs) {
    if (http_url(url)) {
        if (refs.seek || refs.allow || refs.as) fire(Err::internal_not_done);
        return url_http_write(url, data, refs.binary, refs.lines, refs.info);
    }
    Cell* kept = stack::push(data);
    Cell* port = port_from_url(url, false, OpenArgs{});
    return write_direct(port, kept, refs);
}

void register_url() {
    ActionRow row = ActionRow::inherit_all();
    row.set<ACT_MAKE>(url_make).set<ACT_TO>(url_to).set<ACT_MOLD>(url_mold).set<ACT_EVAL_PATH>(url_eval_path);
    row.set<ACT_OPEN>(url_open).set<ACT_READ>(url_read).set<ACT_WRITE>(url_write);
    for (int slot : {ACT_RANDOM, ACT_REFLECT, ACT_UNUSED, ACT_PUT, ACT_SORT, ACT_TRIM, ACT_CREATE, ACT_CLOSE,
                     ACT_DELETE, ACT_OPEN_Q, ACT_QUERY, ACT_RENAME, ACT_UPDATE})
        row.none(slot);
    for (int slot = ACT_ABSOLUTE; slot <= ACT_XOR_T; slot++) row.none(slot);
    register_datatype(TYPE_URL, TYPE_STRING, "url!", row);
    collector::set_mark_kind(TYPE_URL, collector::MK_BYTES2);
}

} // namespace kem
