// JSON text to values: one pass over the string's units with an explicit
// stack of open containers, so nesting depth costs heap, not machine stack.
// Nothing here runs Kem code, so no collection happens while the values are
// built: node ids and the input's buffer pointer stay good throughout.
#include <string>
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/loader.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/io/json.h"
#include "runtime/services/float_text.h"

namespace kem {

namespace {

// Characters that end a word in source text; a key made only of others (and
// not starting with a digit or an apostrophe) becomes a word!. A lone
// surrogate (from a "\u" escape) has no UTF-8 to spell a word with, so a key
// holding one stays a string.
bool not_word_char(int32_t c) {
    switch (c) {
    case '/': case '\\': case '^': case ',': case '[': case ']': case '(': case ')': case '{': case '}':
    case '"': case '#': case '%': case '$': case '@': case ':': case ';': case '\n': case 0xA0: case ' ':
    case '\t': case '\r': case '<': case '>': return true;
    default: return false;
    }
}

bool word_like(const std::u32string& text) {
    if (text.empty()) return false;
    const char32_t first = text[0];
    if (not_word_char(int32_t(first)) || (first >= '0' && first <= '9') || first == '\'') return false;
    for (char32_t c : text)
        if (not_word_char(int32_t(c)) || (c >= 0xD800 && c <= 0xDFFF)) return false;
    return true;
}

int32_t hex_value(int32_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool is_digit(int32_t c) { return c >= '0' && c <= '9'; }

// A new string! of the code points, in the narrowest unit that holds them all.
void make_text(const char32_t* text, size_t n, Cell* out) {
    char32_t widest = 0;
    for (size_t k = 0; k < n; k++) widest = std::max(widest, text[k]);
    const uint32_t unit = widest <= 0xFF ? 1 : widest <= 0xFFFF ? 2 : 4;
    string_make_at(out, uint32_t(n), unit);
    SeriesBuffer* b = series_buffer(out);
    uint8_t* at = b->head_ptr();
    switch (unit) {
    case 1: for (size_t k = 0; k < n; k++) at[k] = uint8_t(text[k]); break;
    case 2: for (size_t k = 0; k < n; k++) reinterpret_cast<uint16_t*>(at)[k] = uint16_t(text[k]); break;
    default: for (size_t k = 0; k < n; k++) reinterpret_cast<uint32_t*>(at)[k] = uint32_t(text[k]); break;
    }
    b->tail = b->head + uint32_t(n) * unit;
}

template <typename Unit>
class Reader {
public:
    explicit Reader(const TextRange& r)
        : p_(reinterpret_cast<const Unit*>(node_buffer(r.node)->head_ptr())), i_(r.pos),
          end_(r.pos + r.length), mark_(r.pos), last_lf_(r.pos) {}

    bool run(Cell* result);
    JsonFailure failure() const { return {line_, int32_t(mark_) + 1, int32_t(last_lf_) + 1}; }

private:
    struct Open {
        Cell block;
        bool object;
    };

    int32_t at(uint32_t k) const { return int32_t(p_[k]); }
    bool peek(int32_t c) const { return i_ < end_ && at(i_) == c; }
    void skip_ws();
    bool literal(const char* word);
    bool string(Cell* out);
    bool number(Cell* out);
    [[noreturn]] void bad_escape(uint32_t from, uint32_t to);

    const Unit* p_;
    uint32_t i_, end_;
    uint32_t mark_, last_lf_;
    int32_t line_ = 1;
    std::u32string text_;  // the decoded characters of the string being read
};

template <typename Unit>
void Reader<Unit>::skip_ws() {
    while (i_ < end_) {
        const int32_t c = at(i_);
        if (c == '\n') {
            line_++;
            mark_ = last_lf_ = ++i_;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            i_++;
        } else {
            return;
        }
    }
}

template <typename Unit>
bool Reader<Unit>::literal(const char* word) {
    uint32_t k = i_;
    for (; *word; word++, k++)
        if (k >= end_ || at(k) != *word) return false;
    i_ = k;
    return true;
}

// The text between quotes (as the input holds it) is the argument of the
// error a broken surrogate pair raises.
template <typename Unit>
void Reader<Unit>::bad_escape(uint32_t from, uint32_t to) {
    std::u32string raw;
    for (uint32_t k = from; k < to; k++) raw.push_back(char32_t(at(k)));
    Cell text;
    make_text(raw.data(), raw.size(), &text);
    fire(Err::script_invalid_data, text);
}

template <typename Unit>
bool Reader<Unit>::string(Cell* out) {
    const uint32_t start = ++i_;  // past the opening quote
    bool broken_pair = false;
    text_.clear();
    while (true) {
        if (i_ >= end_) return false;
        const int32_t c = at(i_);
        if (c == '"') break;
        if (c < 0x20) return false;
        if (c != '\\') {
            text_.push_back(char32_t(c));
            i_++;
            continue;
        }
        if (i_ + 1 >= end_) return false;
        const int32_t e = at(i_ + 1);
        i_ += 2;
        switch (e) {
        case '"': case '\\': case '/': text_.push_back(char32_t(e)); continue;
        case 'b': text_.push_back(8); continue;
        case 'f': text_.push_back(12); continue;
        case 'n': text_.push_back(10); continue;
        case 'r': text_.push_back(13); continue;
        case 't': text_.push_back(9); continue;
        case 'u': break;
        default: return false;
        }
        auto hex4 = [&](uint32_t k) {
            int32_t v = 0;
            for (uint32_t n = 0; n < 4; n++) {
                const int32_t h = k + n < end_ ? hex_value(at(k + n)) : -1;
                if (h < 0) return -1;
                v = v * 16 + h;
            }
            return v;
        };
        const int32_t code = hex4(i_);
        if (code < 0) return false;
        i_ += 4;
        if (code < 0xD800 || code > 0xDBFF) {
            text_.push_back(char32_t(code));
            continue;
        }
        // A high surrogate must be followed by the escape of a low one. The
        // pair is reported once the literal is whole: a literal broken later
        // makes the text no JSON, which is what gets reported then.
        const int32_t low = i_ + 1 < end_ && at(i_) == '\\' && at(i_ + 1) == 'u' ? hex4(i_ + 2) : -1;
        if (low < 0xDC00 || low > 0xDFFF) {
            broken_pair = true;
            continue;
        }
        i_ += 6;
        text_.push_back(char32_t(0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00)));
    }
    if (broken_pair) bad_escape(start, i_);
    i_++;  // the closing quote
    make_text(text_.data(), text_.size(), out);
    return true;
}

// Sign, integer part, fraction, exponent, as source text reads them: an
// integer! when the text has neither fraction nor exponent and fits 32 bits,
// else a float!.
template <typename Unit>
bool Reader<Unit>::number(Cell* out) {
    uint32_t k = i_;
    if (at(k) == '-') k++;
    if (k >= end_ || !is_digit(at(k))) return false;
    if (at(k++) != '0')
        while (k < end_ && is_digit(at(k))) k++;
    bool integral = true;
    if (k + 1 < end_ && at(k) == '.' && is_digit(at(k + 1))) {
        integral = false;
        k += 2;
        while (k < end_ && is_digit(at(k))) k++;
    }
    if (k < end_ && (at(k) == 'e' || at(k) == 'E')) {
        uint32_t e = k + 1;
        if (e < end_ && (at(e) == '+' || at(e) == '-')) e++;
        if (e < end_ && is_digit(at(e))) {
            integral = false;
            k = e;
            while (k < end_ && is_digit(at(k))) k++;
        }
    }
    std::string digits;
    digits.reserve(k - i_);
    for (uint32_t n = i_; n < k; n++) digits.push_back(char(at(n)));
    i_ = k;
    if (integral) {
        int32_t error = 0;
        const int32_t v =
            lexer_integer_from_text(reinterpret_cast<const uint8_t*>(digits.data()), int32_t(digits.size()), 1, &error);
        if (error == 0) {
            make_integer(out, v);
            return true;
        }
    }
    make_float(out, decimal_to_float(digits.data(), digits.data() + digits.size(), 0, nullptr));
    return true;
}

template <typename Unit>
bool Reader<Unit>::run(Cell* result) {
    std::vector<Open> open;
    Cell v;
    make_none(result);
    while (true) {
        // A value, after optional white space.
        skip_ws();
        if (i_ >= end_) return false;
        const int32_t c = at(i_);
        bool done = true;  // a whole value is in v (false: a container opened)
        if (c == '{' || c == '[') {
            i_++;
            Open o{{}, c == '{'};
            block_make_at(&o.block, 8);
            open.push_back(o);
            skip_ws();
            if (peek(o.object ? '}' : ']')) {
                i_++;
                if (o.object) map_make_at(&v, &o.block, 0);
                else v = o.block;
                open.pop_back();
            } else {
                done = false;
            }
        } else if (c == '"') {
            if (!string(&v)) return false;
        } else if (c == '-' || is_digit(c)) {
            if (!number(&v)) return false;
        } else if (literal("true")) {
            make_logic(&v, true);
        } else if (literal("false")) {
            make_logic(&v, false);
        } else if (literal("null")) {
            make_none(&v);
        } else {
            return false;
        }
        // Closes every container the value completes, until one needs more.
        while (done) {
            mark_ = i_;
            skip_ws();
            if (open.empty()) {
                *result = v;
                return i_ == end_;
            }
            Open& top = open.back();
            block_append_cell(&top.block, &v);
            if (peek(',')) {
                i_++;
                done = false;
                if (!top.object) break;
            } else if (peek(top.object ? '}' : ']')) {
                i_++;
                if (top.object) map_make_at(&v, &top.block, 0);
                else v = top.block;
                open.pop_back();
                continue;
            } else {
                return false;
            }
        }
        if (!open.back().object) continue;
        // An object wants a key: a string, white space, a colon.
        skip_ws();
        if (!peek('"') || !string(&v)) return false;
        skip_ws();
        if (!peek(':')) return false;
        mark_ = ++i_;
        if (word_like(text_)) {
            int32_t units = -1;
            word_make_at(symbol_make_from_string(&v, &units), &v);
        }
        block_append_cell(&open.back().block, &v);
    }
}

template <typename Unit>
bool decode_units(const TextRange& r, Cell* out, JsonFailure* failure) {
    Reader<Unit> reader(r);
    if (reader.run(out)) return true;
    *failure = reader.failure();
    return false;
}

} // namespace

bool json_decode(const Cell* input, Cell* out, JsonFailure* failure) {
    const TextRange r = string_text_range(input);
    switch (r.unit) {
    case 1: return decode_units<uint8_t>(r, out, failure);
    case 2: return decode_units<uint16_t>(r, out, failure);
    default: return decode_units<uint32_t>(r, out, failure);
    }
}

namespace {

// json-decode input: a block of the value, or of three integers (line, index
// of the last match, index of the last line start) when the text is no JSON.
Cell* json_decode_routine(Cell* args) {
    const Cell input = args[0];
    Cell* value = stack::push_slot();
    Cell* result = stack::push_slot();
    block_make_at(result, 3);
    JsonFailure f{};
    if (json_decode(&input, value, &f)) {
        block_append_cell(result, value);
    } else {
        for (int32_t n : {f.line, f.mark, f.last_lf}) {
            Cell c;
            make_integer(&c, n);
            block_append_cell(result, &c);
        }
    }
    args[0] = *result;
    return &args[0];
}

// json-encode data indent ascii: the JSON text of the data.
Cell* json_encode_routine(Cell* args) {
    const Cell data = args[0], indent = args[1];
    const bool ascii = is_truthy(&args[2]);
    Cell* out = stack::push_slot();
    json_encode(&data, is_type(&indent, TYPE_NONE) ? nullptr : &indent, ascii, out);
    args[0] = *out;
    return &args[0];
}

} // namespace

std::span<const RoutineEntry> json_routines() {
    static constexpr RoutineEntry table[] = {
        {"json-decode", R"KEM([input [string!]])KEM", json_decode_routine},
        {"json-encode", R"KEM([data [any-type!] indent [string! none!] ascii [logic!]])KEM", json_encode_routine},
    };
    return table;
}

} // namespace kem
