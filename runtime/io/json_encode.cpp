// Values to JSON text, written as UTF-8 and made a string! at the end. The
// walk molds and forms values that have no JSON form, which runs no Kem
// code: nothing collects while it walks.
#include <charconv>
#include <cmath>
#include <string>
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/io/json.h"
#include "runtime/services/float_text.h"
#include "runtime/services/unicode/utf.h"

namespace kem {

namespace {

class Writer {
public:
    Writer(const Cell* indent, bool ascii) : ascii_(ascii) {
        if (!indent) return;
        indented_ = true;
        const TextRange r = string_text_range(indent);
        const uint8_t* p = node_buffer(r.node)->head_ptr() + size_t(r.pos) * r.unit;
        for (uint32_t k = 0; k < r.length; k++) put_char(string_get_char(p + size_t(k) * r.unit, r.unit), indent_);
    }

    void value(const Cell* v);
    std::string out;

private:
    static void put_char(int32_t cp, std::string& to) {
        uint8_t bytes[4];
        to.append(reinterpret_cast<const char*>(bytes), size_t(utf8_encode_char(cp, bytes)));
    }
    bool normal(int32_t cp) const {
        if (cp < 32 || cp == '"' || cp == '\\') return false;
        // Lone surrogates have no UTF-8: they are written as escapes.
        return ascii_ ? cp <= 127 : cp < 0xD800 || cp > 0xDFFF;
    }
    void escape(int32_t cp);
    void text(const Cell* s);
    void molded(const Cell* v, bool mold);
    void key(const Cell* k);
    void newline_indent() {
        out.push_back('\n');
        for (int32_t n = 0; n < level_; n++) out += indent_;
    }
    void array(const Cell* v);
    void members(const Cell* keys, const Cell* values, uint32_t count, NodeId node);

    bool ascii_;
    bool indented_ = false;
    std::string indent_;
    int32_t level_ = 0;
};

void Writer::escape(int32_t cp) {
    static const char hex[] = "0123456789ABCDEF";
    switch (cp) {
    case '"': out += "\\\""; return;
    case '\\': out += "\\\\"; return;
    case 8: out += "\\b"; return;
    case 12: out += "\\f"; return;
    case 10: out += "\\n"; return;
    case 13: out += "\\r"; return;
    case 9: out += "\\t"; return;
    default: break;
    }
    auto unit = [&](int32_t u) {
        const char e[] = {'\\', 'u', hex[(u >> 12) & 15], hex[(u >> 8) & 15], hex[(u >> 4) & 15], hex[u & 15]};
        out.append(e, sizeof e);
    };
    if (cp <= 0xFFFF) {
        unit(cp);
    } else {
        unit(((cp - 0x10000) >> 10) + 0xD800);
        unit(((cp - 0x10000) & 1023) + 0xDC00);
    }
}

// The characters of a string kind from its position, as a JSON string.
void Writer::text(const Cell* s) {
    const TextRange r = string_text_range(s);
    const uint8_t* p = node_buffer(r.node)->head_ptr() + size_t(r.pos) * r.unit;
    out.push_back('"');
    for (uint32_t k = 0; k < r.length; k++) {
        const int32_t cp = string_get_char(p + size_t(k) * r.unit, r.unit);
        if (cp < 128 && normal(cp)) out.push_back(char(cp));
        else if (normal(cp)) put_char(cp, out);
        else escape(cp);
    }
    out.push_back('"');
}

// The value's form or mold text as a JSON string.
void Writer::molded(const Cell* v, bool mold) {
    Cell* const saved = stack::top;
    Cell* buffer = stack::push_slot();
    string_make_at(buffer, 64);
    Cell copy = *v;
    if (mold) mold_direct(&copy, buffer, MoldArgs{}, -1, 0);
    else form_direct(&copy, buffer, nullptr, -1);
    text(buffer);
    stack::top = saved;
}

// A key's text: a word's spelling, a string itself, the mold of the rest.
void Writer::key(const Cell* k) {
    if (any_word_type(type_of(k)) && !is_type(k, TYPE_ISSUE)) {
        const std::string_view name = symbol_name(k->data2);
        out.push_back('"');
        for (size_t n = 0; n < name.size();) {
            uint32_t avail = uint32_t(name.size() - n);
            const int32_t cp = unicode::decode_utf8_char(reinterpret_cast<const uint8_t*>(name.data() + n), &avail);
            n += avail;
            if (cp < 128 && normal(cp)) out.push_back(char(cp));
            else if (normal(cp)) put_char(cp, out);
            else escape(cp);
        }
        out.push_back('"');
    } else if (is_type(k, TYPE_STRING)) {
        text(k);
    } else {
        molded(k, true);
    }
    out += indented_ ? ": " : ":";
}

void Writer::array(const Cell* v) {
    const Cell blk = *v;
    const int32_t n = block_rs_length(&blk);
    if (n <= 0) {
        out += "[]";
        return;
    }
    CycleOpen open(series_node(&blk));
    out.push_back('[');
    level_++;
    const uint32_t from = uint32_t(series_position(&blk));
    for (int32_t k = 0; k < n; k++) {
        if (k) out.push_back(',');
        if (indented_) newline_indent();
        const Cell item = *block_rs_abs_at(&blk, from + uint32_t(k));
        value(&item);
    }
    level_--;
    if (indented_) newline_indent();
    out.push_back(']');
}

// count keys and their values: a map's storage as both (key and value side
// by side), or an object's words and a block of their values. A value with an
// all-zero header is a removed map entry and is skipped.
void Writer::members(const Cell* keys, const Cell* values, uint32_t count, NodeId node) {
    CycleOpen open(node);
    bool first = true;
    out.push_back('{');
    level_++;
    for (uint32_t k = 0; k < count; k++) {
        const Cell val = *block_rs_abs_at(values, values == keys ? 2 * k + 1 : k);
        if (val.header == 0) continue;
        const Cell name = *block_rs_abs_at(keys, values == keys ? 2 * k : k);
        if (!first) out.push_back(',');
        first = false;
        if (indented_) newline_indent();
        key(&name);
        value(&val);
    }
    level_--;
    if (first) {
        out.push_back('}');
        return;
    }
    if (indented_) newline_indent();
    out.push_back('}');
}

void Writer::value(const Cell* v) {
    const uint8_t type = type_of(v);
    switch (type) {
    case TYPE_NONE: out += "null"; return;
    case TYPE_LOGIC: out += v->data1 ? "true" : "false"; return;
    case TYPE_INTEGER: {
        char digits[16];
        const auto r = std::to_chars(digits, digits + sizeof digits, int32_t(v->data2));
        out.append(digits, r.ptr);
        return;
    }
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
        const double d = cell_float(v);
        if (std::isfinite(d)) out += form_float(d, 0, true);
        else out += "null";
        return;
    }
    case TYPE_STRING: text(v); return;
    case TYPE_MAP: {
        const Cell storage{TYPE_BLOCK, 0, map_storage(v), 0};
        const uint32_t pairs = block_full_length(&storage) / 2;
        if (map_count(v) == 0) {
            out += "{}";
            return;
        }
        members(&storage, &storage, pairs, map_storage(v));
        return;
    }
    case TYPE_OBJECT: {
        const Cell obj = *v;
        Cell* const saved = stack::top;
        const Cell words = *object_reflect(const_cast<Cell*>(&obj), int32_t(rt_symbols.words));
        const uint32_t n = block_full_length(&words);
        if (n == 0) {
            out += "{}";
        } else {
            Cell* values = stack::push_slot();
            block_make_at(values, int32_t(n));
            for (uint32_t k = 0; k < n; k++) {
                const Cell w = *block_rs_abs_at(&words, k);
                block_append_cell(values, object_rs_select(&obj, &w));
            }
            const Cell vals = *values;
            members(&words, &vals, n, object_context(&obj));
        }
        stack::top = saved;
        return;
    }
    default: break;
    }
    if (any_block_type(type)) array(v);
    else if (any_string_type(type)) molded(v, false);
    else molded(v, true);
}

} // namespace

void json_encode(const Cell* value, const Cell* indent, bool ascii, Cell* out) {
    Writer w(indent, ascii);
    w.out.reserve(4000);
    w.value(value);
    string_make_utf8(out, w.out);
}

} // namespace kem
