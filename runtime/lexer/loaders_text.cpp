// Loaders of the text kinds: strings ("..." and braced), raw strings, files,
// tags, urls, emails, refs and chars, with the "^" escapes they share; and
// binary literals in bases 2, 16 and 64.
#include <algorithm>
#include <vector>
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/url.h"
#include "runtime/lexer/lexer_state.h"
#include "runtime/services/unicode/text.h"
#include "runtime/services/unicode/utf.h"

namespace kem::lexer {

namespace {

uint8_t hex_value(uint8_t b) {
    if (b >= '0' && b <= '9') return uint8_t(b - '0');
    if (b >= 'a' && b <= 'f') return uint8_t(b - 'a' + 10);
    if (b >= 'A' && b <= 'F') return uint8_t(b - 'A' + 10);
    return 255;
}

bool same_letters(const uint8_t* text, const char* name, size_t n) {
    for (size_t i = 0; i < n; i++) {
        uint8_t a = text[i], b = uint8_t(name[i]);
        if (a >= 'A' && a <= 'Z') a = uint8_t(a + 32);
        if (a != b) return false;
    }
    return true;
}

struct EscapeName {
    const char* name;
    int32_t value;
};
constexpr EscapeName ESCAPE_NAMES[] = {
    {"null", 0}, {"back", 8}, {"tab", 9}, {"line", 10}, {"page", 12}, {"esc", 27}, {"del", 127},
};

uint32_t unit_for(int32_t cp) { return cp > 0xFFFF ? 4 : cp > 0xFF ? 2 : 1; }

// The next code point of a text at p; -1 when it cannot be decoded.
int32_t next_char(const uint8_t*& p, const uint8_t* end, bool escapes) {
    if (*p == '^' && escapes) return decode_escape(p + 1, end, &p);
    if (*p < 0x80) return *p++;
    int32_t cp;
    int n = unicode::check_utf8_char(p, size_t(end - p), &cp);
    if (n <= 0) return -1;
    p += n;
    return cp;
}

bool has_byte(const uint8_t* start, const uint8_t* end, uint8_t b) { return std::find(start, end, b) != end; }

} // namespace

int32_t decode_escape(const uint8_t* p, const uint8_t* end, const uint8_t** next) {
    if (p >= end) return -1;
    uint8_t c = *p;
    if (c == '(') {
        const uint8_t* q = p + 1;
        int32_t value = 0;
        int digits = 0;
        for (; q < end && hex_value(*q) != 255; q++, digits++)
            if (digits < 7) value = value * 16 + hex_value(*q);
        if (digits > 0 && q < end && *q == ')') {
            if (digits > 6) return -1;
            *next = q + 1;
            return value;
        }
        const uint8_t* name = p + 1;
        for (const EscapeName& e : ESCAPE_NAMES) {
            size_t n = std::char_traits<char>::length(e.name);
            if (size_t(end - name) < n || !same_letters(name, e.name, n)) continue;
            if (name + n >= end || name[n] != ')') return -1;
            *next = name + n + 1;
            return e.value;
        }
        return -1;
    }
    *next = p + 1;
    switch (c) {
    case '@': return 0;
    case '/': return 10;
    case '-': return 9;
    case '~': return 127;
    case '"': case '{': case '}': case '^': return c;
    default: break;
    }
    if (c >= 'a' && c <= 'z') return c - 'a' + 1;
    if ((c >= 'A' && c <= 'Z') || c == '[' || c == '\\' || c == ']' || c == '_') return c - 64;
    return c;
}

void load_text(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool escapes, uint8_t type,
               bool load) {
    escapes = escapes && (flags & FLAG_CARET);
    uint32_t unit = (flags & FLAG_UTF8_4) ? 4 : (flags & FLAG_UTF8_2_3) ? 2 : 1;
    // Every character is checked, so stray continuation bytes and code points
    // beyond Unicode never reach a string.
    uint32_t count = 0;
    bool ascii = true;
    for (const uint8_t* p = start; p < end; count++) {
        ascii = ascii && *p < 0x80;
        int32_t cp = next_char(p, end, escapes);
        if (cp < 0 || cp > 0x10FFFF) throw_load_error(s, s.token_start, s.token_end, type);
        unit = std::max(unit, unit_for(cp));
    }
    if (!load) return;
    uint32_t index = alloc_cell(s);
    Cell value;
    string_make_at(&value, count, unit);
    SeriesBuffer* b = series_buffer(&value);
    if (unit == 1 && ascii && !escapes) {
        std::copy(start, end, b->tail_ptr());
        b->tail += count;
    } else {
        for (const uint8_t* p = start; p < end;) {
            write_unit(b->tail_ptr(), unit, next_char(p, end, escapes));
            b->tail += unit;
        }
    }
    set_type(&value, type);
    value.header |= cell_at(index)->header & HEADER_NEW_LINE;
    *cell_at(index) = value;
}

// --- the string kinds ------------------------------------------------------------------

void scan_string(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool) {
    load_string_token(s, start, end, flags, false);
}

void load_string_token(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    uint8_t type = s.type_override > 0 ? uint8_t(s.type_override) : uint8_t(TYPE_STRING);
    load_text(s, start + 1, end, flags, true, type, load);
    s.position = end + 1;
}

// {...}: from the outer "{" to the last "}"; it starts a line only when line
// feeds came before the "{", whatever lies inside.
void load_braced(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    s.lines_crossed = (flags & FLAG_NEW_LINE_BEFORE) ? 1 : 0;
    load_text(s, start + 1, end, flags, true, TYPE_STRING, load);
    s.position = end + 1;
}

void load_file(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    if (end - start > 1 && start[1] == '"') {
        if (end >= s.input_end || *end != '"') throw_load_error(s, start, end, TYPE_FILE);
        load_text(s, start + 2, end, flags, true, TYPE_FILE, load);
        s.position = end + 1;
        return;
    }
    load_text(s, start + 1, end, flags, false, TYPE_FILE, load);
    s.position = end;
    if (load && has_byte(start + 1, end, '%')) url_decode_in_place(cell_at(s.pos - 1));
}

void load_tag(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    if (*start != '<') throw_load_error(s, start, end, TYPE_TAG);
    load_text(s, start + 1, end, flags, false, TYPE_TAG, load);
    s.position = end + 1;
}

void load_url(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    if (*start == ':') throw_load_error(s, start, end, TYPE_GET_WORD);
    if (*start == '\'') throw_load_error(s, start, end, TYPE_LIT_WORD);
    load_text(s, start, end, flags, false, TYPE_URL, load);
    s.position = end;
    if (load && has_byte(start, end, '%')) url_decode_in_place(cell_at(s.pos - 1));
}

void load_email(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    load_text(s, start, end, flags, false, TYPE_EMAIL, load);
    s.position = end;
}

void load_ref(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    load_text(s, start + 1, end, flags, false, TYPE_REF, load);
    s.position = end;
}

// %{...}%: n "%" before the "{" need a "}" and n "%" to close. A token that
// closed with fewer was content: the closing run is searched further on.
void load_rawstring(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    const uint8_t* open = start;
    while (*open == '%') open++;
    size_t n = size_t(open - start);
    const uint8_t* close = end;
    while (close[-1] == '%') close--;
    size_t m = size_t(end - close);
    close--;   // the "}"
    const uint8_t* after = end;
    if (m > n) throw_load_error(s, start, end, TYPE_STRING);
    if (m < n) {
        const uint8_t* p = end;
        for (;; p++) {
            p = std::find(p, s.input_end, '}');
            if (p == s.input_end) throw_load_error(s, start, s.input_end, TYPE_STRING);
            const uint8_t* q = p + 1;
            while (q < s.input_end && *q == '%') q++;
            size_t k = size_t(q - p - 1);
            if (k == n) {
                close = p;
                after = q;
                break;
            }
            if (k > n) throw_load_error(s, start, q, TYPE_STRING);
        }
    }
    if (!load) {
        call_callback(s, LEX_EVENT_OPEN, TYPE_STRING, nullptr, start, open + 1);
        call_callback(s, LEX_EVENT_CLOSE, TYPE_STRING, nullptr, close, after);
    }
    // The part read past the token was not seen by the recogniser.
    for (const uint8_t* p = end; p < after; p++) {
        if (*p == '\n' && load) s.line++;
        if (*p >= 0xF0) flags |= FLAG_UTF8_4;
        else if (*p >= 0xC0) flags |= FLAG_UTF8_2_3;
    }
    load_text(s, open + 1, close, flags, false, TYPE_STRING, load);
    s.position = after;
}

void load_char(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* p = start + 2;   // past #"
    int32_t cp = -1;
    if (p < end) cp = next_char(p, end, true);
    if (cp < 0 || cp > CHAR_MAX_CODE_POINT || p != end) throw_load_error(s, start, end, TYPE_CHAR);
    s.position = end + 1;
    if (!load) return;
    uint32_t index = alloc_cell(s);
    Cell* c = cell_at(index);
    uint32_t new_line = c->header & HEADER_NEW_LINE;
    make_char(c, cp);
    c->header |= new_line;
}

// --- binary literals -----------------------------------------------------------------

namespace {

bool binary_blank(uint8_t b) { return b == ' ' || b == '\t' || b == '\r' || b == '\n'; }

// Steps over blanks and ";" comments; false at the end.
bool next_significant(const uint8_t*& p, const uint8_t* end) {
    while (p < end) {
        if (binary_blank(*p)) p++;
        else if (*p == ';') p = std::find(p, end, '\n');
        else return true;
    }
    return false;
}

int base64_value(uint8_t b) {
    if (b >= 'A' && b <= 'Z') return b - 'A';
    if (b >= 'a' && b <= 'z') return b - 'a' + 26;
    if (b >= '0' && b <= '9') return b - '0' + 52;
    if (b == '+') return 62;
    if (b == '/') return 63;
    return -1;
}

// Each decoder answers null, or the byte where the text stops being valid.
const uint8_t* decode_base16(const uint8_t* p, const uint8_t* end, std::vector<uint8_t>& out) {
    int high = -1;
    const uint8_t* high_at = nullptr;
    for (; next_significant(p, end); p++) {
        uint8_t v = hex_value(*p);
        if (v == 255) return p;
        if (high < 0) {
            high = v;
            high_at = p;
        } else {
            out.push_back(uint8_t(high << 4 | v));
            high = -1;
        }
    }
    return high < 0 ? nullptr : high_at;
}

const uint8_t* decode_base2(const uint8_t* p, const uint8_t* end, std::vector<uint8_t>& out) {
    int bits = 0, n = 0;
    const uint8_t* group_at = nullptr;
    for (; next_significant(p, end); p++) {
        if (*p != '0' && *p != '1') return p;
        if (n == 0) group_at = p;
        bits = bits << 1 | (*p - '0');
        if (++n == 8) {
            out.push_back(uint8_t(bits));
            bits = n = 0;
        }
    }
    return n == 0 ? nullptr : group_at;
}

const uint8_t* decode_base64(const uint8_t* p, const uint8_t* end, std::vector<uint8_t>& out) {
    uint32_t acc = 0;
    int n = 0;
    const uint8_t* group_at = nullptr;
    for (; next_significant(p, end); p++) {
        if (*p == '=') {
            // Padding ends the data: "=" after three characters, "==" after two.
            if (n == 3) {
                out.push_back(uint8_t(acc >> 10));
                out.push_back(uint8_t(acc >> 2));
                return nullptr;
            }
            const uint8_t* q = p + 1;
            if (n == 2 && next_significant(q, end) && *q == '=') {
                out.push_back(uint8_t(acc >> 4));
                return nullptr;
            }
            return p;
        }
        int v = base64_value(*p);
        if (v < 0) return p;
        if (n == 0) group_at = p;
        acc = acc << 6 | uint32_t(v);
        if (++n == 4) {
            out.push_back(uint8_t(acc >> 16));
            out.push_back(uint8_t(acc >> 8));
            out.push_back(uint8_t(acc));
            acc = 0;
            n = 0;
        }
    }
    return n == 0 ? nullptr : group_at;
}

} // namespace

// #{...}, 2#{...}, 16#{...}, 64#{...}; the token ends at the "}".
void load_binary(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* sharp = std::find(start, end, '#');
    int base = sharp == start ? 16 : 0;
    for (const uint8_t* p = start; p < sharp; p++) {
        if (*p < '0' || *p > '9' || base > 64) throw_load_error(s, start, end + 1, TYPE_BINARY);
        base = base * 10 + (*p - '0');
    }
    std::vector<uint8_t> bytes;
    const uint8_t* text = sharp + 2;
    const uint8_t* bad;
    if (base == 16) bad = decode_base16(text, end, bytes);
    else if (base == 2) bad = decode_base2(text, end, bytes);
    else if (base == 64) bad = decode_base64(text, end, bytes);
    else throw_load_error(s, start, end + 1, TYPE_BINARY);
    if (bad) throw_load_error(s, bad, end + 1, TYPE_BINARY);
    s.type = TYPE_BINARY;
    s.position = end + 1;
    if (!load) return;
    Cell c;
    binary_load_at(bytes.data(), uint32_t(bytes.size()), &c);
    emit_value(s, c);
}

} // namespace kem::lexer
