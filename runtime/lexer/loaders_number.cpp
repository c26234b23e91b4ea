// Loaders of the number-like tokens: integers, floats, percents, hexadecimal
// integers, tuples, pairs, points, times and money; and the number readers
// that to integer! and to float! share with the lexer.
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/lexer/lexer_state.h"
#include "runtime/services/float_text.h"
#include "runtime/services/unicode/text.h"

namespace kem::lexer {

namespace {

constexpr ptrdiff_t FLOAT_TEXT_MAX = 312;

// Float syntax: classes 0 other, 1 sign, 2 digit, 3 exponent letter, 4 ".",
// 5 "'", 6 end; state 9 accepts, 10 rejects.
constexpr uint8_t FLOAT_SYNTAX[11][7] = {
    {10, 0, 1, 10, 4, 10, 10},  // 0 start
    {10, 10, 1, 6, 5, 2, 9},    // 1 integer digits
    {10, 10, 1, 10, 10, 10, 9}, // 2 after "'" in the integer part
    {10, 10, 3, 6, 10, 4, 9},   // 3 fraction digits
    {10, 10, 3, 10, 10, 10, 9}, // 4 after a leading ".", or "'" in the fraction
    {10, 10, 3, 10, 10, 10, 9}, // 5 after integer digits and "."
    {10, 7, 8, 10, 10, 10, 10}, // 6 after the exponent letter
    {10, 10, 8, 10, 10, 10, 10},// 7 after the exponent sign
    {10, 10, 8, 10, 10, 10, 9}, // 8 exponent digits
    {9, 9, 9, 9, 9, 9, 9},      // 9 accept
    {10, 10, 10, 10, 10, 10, 10},
};

int float_class(uint8_t b) {
    if (b == '+' || b == '-') return 1;
    if (b >= '0' && b <= '9') return 2;
    if (b == 'e' || b == 'E') return 3;
    if (b == '.') return 4;
    if (b == '\'') return 5;
    return 0;
}

bool is_digit(uint8_t b) { return b >= '0' && b <= '9'; }

// The digits of an integer token ("'" separators allowed, not doubled) into
// *out; false when it does not fit 32 bits and the token becomes a float.
// Malformed text is an invalid error naming `type`.
bool parse_integer(LexerState& s, const uint8_t* start, const uint8_t* end, int32_t* out, int32_t type) {
    const uint8_t* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (p >= end) throw_load_error(s, s.token_start, s.token_end, TYPE_PAIR);
    if (end - p == 1) {
        if (!is_digit(*p)) throw_load_error(s, s.token_start, s.token_end, type);
        *out = negative ? -(*p - '0') : *p - '0';
        return true;
    }
    if (end - start == 11 && std::memcmp(start, "-2147483648", 11) == 0) {
        *out = std::numeric_limits<int32_t>::min();
        return true;
    }
    int64_t value = 0;
    int digits = 0;
    bool after_quote = false;
    for (; p < end; p++) {
        if (*p == '\'') {
            if (after_quote) throw_load_error(s, s.token_start, s.token_end, type);
            after_quote = true;
            continue;
        }
        if (!is_digit(*p)) throw_load_error(s, s.token_start, s.token_end, type);
        after_quote = false;
        if (++digits > 10) return false;
        value = value * 10 + (*p - '0');
    }
    if (value > std::numeric_limits<int32_t>::max()) return false;
    *out = int32_t(negative ? -value : value);
    return true;
}

double special_float(LexerState& s, const uint8_t* start, const uint8_t* end) {
    const uint8_t* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (end - p < 6 || std::memcmp(p, "1.#", 3) != 0) throw_load_error(s, start, end, TYPE_FLOAT);
    char word[3];
    for (int i = 0; i < 3; i++) word[i] = char(p[3 + i] | 0x20);
    if (std::memcmp(word, "nan", 3) == 0) return std::numeric_limits<double>::quiet_NaN();
    if (std::memcmp(word, "inf", 3) == 0)
        return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    throw_load_error(s, start, end, TYPE_FLOAT);
}

double checked_float(LexerState& s, const uint8_t* start, const uint8_t* end, int e0) {
    double d;
    if (!float_syntax_ok(start, end) || !float_convert(start, end, e0, &d)) throw_load_error(s, start, end, TYPE_FLOAT);
    return d;
}

Cell float_cell(uint8_t type, double d) {
    Cell c;
    make_float(&c, d);
    set_type(&c, type);
    return c;
}

} // namespace

bool float_syntax_ok(const uint8_t* start, const uint8_t* end) {
    if (end - start > FLOAT_TEXT_MAX) return false;
    int state = 0;
    for (const uint8_t* p = start; p < end; p++) state = FLOAT_SYNTAX[state][float_class(*p)];
    return FLOAT_SYNTAX[state][6] != 10;
}

bool float_convert(const uint8_t* start, const uint8_t* end, int e0, double* out) {
    char text[FLOAT_TEXT_MAX + 1];
    size_t n = 0;
    for (const uint8_t* p = start; p < end && n < sizeof text; p++)
        if (*p != '\'') text[n++] = char(*p);
    size_t left = 0;
    *out = decimal_to_float(text, text + n, e0, &left);
    return n > 0 && left == 0;
}

void load_integer(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    int32_t value;
    if (!parse_integer(s, start, end, &value, TYPE_INTEGER)) return load_float(s, start, end, flags, load);
    s.type = TYPE_INTEGER;
    s.position = end;
    if (!load) return;
    Cell c;
    make_integer(&c, value);
    emit_value(s, c);
}

void load_float(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    double d = checked_float(s, start, end, 0);
    s.type = TYPE_FLOAT;
    s.position = end;
    if (load) emit_value(s, float_cell(TYPE_FLOAT, d));
}

void load_percent(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    double d = checked_float(s, start, end, -2);   // 50% holds 0.5
    s.type = TYPE_PERCENT;
    s.position = end + 1;
    if (load) emit_value(s, float_cell(TYPE_PERCENT, d));
}

void load_float_special(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    double d = special_float(s, start, end);
    s.type = TYPE_FLOAT;
    s.position = end;
    if (load) emit_value(s, float_cell(TYPE_FLOAT, d));
}

// Hexadecimal digits then "h" (the token's last byte): 2 to 8 digits, read
// into 32 bits (FFFFFFFFh is -1).
void load_hex(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* digits_end = end - 1;
    ptrdiff_t n = digits_end - start;
    if (n == 1 && !is_digit(*start)) throw_load_error(s, start, end, TYPE_WORD);
    if (n < 2 || n > 8) throw_load_error(s, start, end, TYPE_INTEGER);
    uint32_t value = 0;
    for (const uint8_t* p = start; p < digits_end; p++) {
        uint8_t b = *p;
        uint32_t digit = is_digit(b) ? b - '0' : (b >= 'A' && b <= 'F') ? b - 'A' + 10 : 16;
        if (digit > 15) throw_load_error(s, start, end, TYPE_INTEGER);
        value = value * 16 + digit;
    }
    s.type = TYPE_INTEGER;
    s.position = end;
    if (!load) return;
    Cell c;
    make_integer(&c, int32_t(value));
    emit_value(s, c);
}

void load_tuple(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    uint8_t bytes[TUPLE_MAX_LENGTH + 1];
    uint32_t n = 0;
    const uint8_t* p = start;
    for (;;) {
        const uint8_t* run = p;
        int value = 0;
        while (p < end && is_digit(*p) && p - run < 4) value = value * 10 + (*p++ - '0');
        if (p == run || value > 255 || n >= TUPLE_MAX_LENGTH) throw_load_error(s, start, end, TYPE_TUPLE);
        bytes[n++] = uint8_t(value);
        if (p == end) break;
        if (*p++ != '.') throw_load_error(s, start, end, TYPE_TUPLE);
        if (p == end) {   // 1.2. is 1.2.0
            if (n >= TUPLE_MAX_LENGTH) throw_load_error(s, start, end, TYPE_TUPLE);
            bytes[n++] = 0;
            break;
        }
    }
    s.type = TYPE_TUPLE;
    s.position = end;
    if (!load) return;
    Cell c;
    tuple_make_at(&c, bytes, n);
    emit_value(s, c);
}

void load_pair(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* x = nullptr;
    for (const uint8_t* p = start; p < end; p++) {
        if (*p == '.' || *p == 'e' || *p == 'E') throw_load_error(s, start, end, TYPE_PAIR);
        if (!x && (*p == 'x' || *p == 'X')) x = p;
    }
    int32_t a, b;
    if (!x || !parse_integer(s, start, x, &a, TYPE_PAIR) || !parse_integer(s, x + 1, end, &b, TYPE_PAIR))
        throw_load_error(s, start, end, TYPE_PAIR);
    s.type = TYPE_PAIR;
    s.position = end;
    if (!load) return;
    Cell c;
    pair_set_in(&c, a, b);
    emit_value(s, c);
}

// (x, y) or (x, y, z): the token is what follows the "(" up to the ")".
void load_point(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    auto blank = [](uint8_t b) { return b == ' ' || b == '\t'; };
    float axes[3];
    int n = 0;
    const uint8_t* p = start;
    for (;;) {
        while (p < end && blank(*p)) p++;
        const uint8_t* q = p;
        while (q < end && *q != ',' && !blank(*q)) q++;
        if (q == p) throw_load_error(s, start - 1, end + 1, TYPE_POINT2D);
        double d = std::memchr(p, '#', size_t(q - p)) ? special_float(s, p, q) : checked_float(s, p, q, 0);
        axes[n++] = float(d);
        p = q;
        while (p < end && blank(*p)) p++;
        if (n == 3) {
            if (p != end) throw_load_error(s, start - 1, end + 1, TYPE_POINT3D);
            break;
        }
        if (p < end && *p == ',') {
            p++;
            continue;
        }
        if (n == 1 || p != end) throw_load_error(s, start - 1, end + 1, TYPE_POINT2D);
        break;
    }
    s.type = n == 3 ? TYPE_POINT3D : TYPE_POINT2D;
    s.entry_state = path_type(innermost_container(s)) ? ENTRY_PATH : ENTRY_TOKEN;
    s.position = end + 1;
    if (!load) return;
    Cell c;
    if (n == 3) point3D_make_at(&c, axes[0], axes[1], axes[2]);
    else point2D_make_at(&c, axes[0], axes[1]);
    s.lines_crossed = s.point_line;   // the new-line marker of its "("
    emit_value(s, c);
}

// h:m[:s] and m:s.f; minutes and seconds have no upper limit.
void load_time(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    const uint8_t* p = start;
    if (*p == '+') p++;
    bool negative = *p == '-';
    const uint8_t* hours_start = p;
    const uint8_t* colon = static_cast<const uint8_t*>(std::memchr(p, ':', size_t(end - p)));
    int32_t hours;
    if (!colon || colon - hours_start < (negative ? 2 : 1) || !parse_integer(s, hours_start, colon, &hours, TYPE_TIME))
        throw_load_error(s, start, end, TYPE_TIME);
    p = colon + 1;
    const uint8_t* minutes_start = p;
    int64_t minutes_run = 0;
    while (p < end && is_digit(*p) && minutes_run <= std::numeric_limits<int32_t>::max())
        minutes_run = minutes_run * 10 + (*p++ - '0');
    if (p == minutes_start || minutes_run > std::numeric_limits<int32_t>::max())
        throw_load_error(s, start, end, TYPE_TIME);
    // The m:s.f form takes the first number as minutes: 2147483648 of them
    // when it is -2147483648, so they are counted past 32 bits.
    int64_t minutes = minutes_run;
    double seconds = 0;
    if (p < end) {
        const uint8_t* seconds_start;
        if (flags & FLAG_EXPONENT) throw_load_error(s, start, end, TYPE_TIME);
        if (*p == '.' || *p == ',') {   // minutes:seconds.fraction
            minutes = hours < 0 ? -int64_t(hours) : hours;
            hours = 0;
            seconds_start = minutes_start;
        } else if (*p == ':') {
            seconds_start = p + 1;
        } else {
            throw_load_error(s, start, end, TYPE_TIME);
        }
        size_t left = 0;
        if (seconds_start >= end) throw_load_error(s, start, end, TYPE_TIME);
        seconds = decimal_to_float(reinterpret_cast<const char*>(seconds_start),
                                   reinterpret_cast<const char*>(end), 0, &left);
        if (left != 0 || !(seconds >= 0)) throw_load_error(s, start, end, TYPE_TIME);
    }
    s.type = TYPE_TIME;
    s.position = end;
    if (!load) return;
    Cell c;
    time_make_at(&c, time_from_parts(hours, minutes, seconds, negative));
    emit_value(s, c);
}

namespace {

bool ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Sign, currency code, "$", digits: the parts of money text, checked, into
// out. Without dollar_required a text without a code may leave the "$" out.
// Integer digits take single "'" separators, neither first nor last; the
// fraction none, and its digits past max_fraction make the text invalid.
MoneyText parse_money(std::string_view t, bool dollar_required, size_t max_fraction, Cell* out) {
    size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    std::string_view code;
    const size_t dollar = t.find('$', i);
    if (dollar != std::string_view::npos) {
        code = t.substr(i, dollar - i);
        if (!code.empty() && (code.size() != 3 || !ascii_letter(code[0]) || !ascii_letter(code[1]) ||
                              !ascii_letter(code[2])))
            return MoneyText::invalid;
        i = dollar + 1;
    } else if (dollar_required) {
        return MoneyText::invalid;
    }
    const std::string_view digits = t.substr(i);
    const size_t dot = digits.find('.');
    const std::string_view integer = digits.substr(0, dot);
    const std::string_view fraction = dot == std::string_view::npos ? std::string_view() : digits.substr(dot + 1);
    if (integer.empty() || integer.front() == '\'' || integer.back() == '\'') return MoneyText::invalid;
    for (size_t k = 0; k < integer.size(); k++) {
        const char c = integer[k];
        if (c == '\'' ? integer[k - 1] == '\'' : !is_digit(uint8_t(c))) return MoneyText::invalid;
    }
    if (dot != std::string_view::npos && (fraction.empty() || fraction.size() > max_fraction)) return MoneyText::invalid;
    for (char c : fraction)
        if (!is_digit(uint8_t(c))) return MoneyText::invalid;
    return money_from_digits(out, negative, code, integer, fraction);
}

} // namespace

// [sign][code]$digits[.fraction]: a 3-letter code, at most 17 integer and 5
// fraction digits. An unknown code is an invalid money! like any other fault.
void load_money(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    Cell c;
    const std::string_view text(reinterpret_cast<const char*>(start), size_t(end - start));
    if (parse_money(text, true, DECIMAL_FRACTION_DIGITS, &c) != MoneyText::ok) throw_load_error(s, start, end, TYPE_MONEY);
    s.type = TYPE_MONEY;
    s.position = end;
    if (!load) return;
    emit_value(s, c);
}

} // namespace kem::lexer

namespace kem {

int32_t lexer_integer_from_text(const uint8_t* start, int32_t count, uint32_t unit, int32_t* error) {
    *error = 0;
    int64_t value = 0;
    bool negative = false;
    int digits = 0;
    for (int32_t i = 0; i < count; i++) {
        int32_t c = read_unit(start + size_t(i) * unit, unit);
        if (i == 0 && (c == '+' || c == '-')) {
            negative = c == '-';
            continue;
        }
        if (c == '\'') continue;
        if (c < '0' || c > '9') {
            *error = -1;
            break;
        }
        value = value * 10 + (c - '0');
        if (++digits > 10 || value > int64_t(std::numeric_limits<int32_t>::max()) + 1) {
            *error = -2;
            return 0;
        }
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int32_t>::max() || value < std::numeric_limits<int32_t>::min()) {
        *error = -2;
        return 0;
    }
    return int32_t(value);
}

double lexer_float_from_text(const uint8_t* start, int32_t count, uint32_t unit, int32_t* error) {
    *error = -1;
    double nan = std::numeric_limits<double>::quiet_NaN();
    if (count > lexer::FLOAT_TEXT_MAX || count < 0) return nan;
    uint8_t text[lexer::FLOAT_TEXT_MAX];
    for (int32_t i = 0; i < count; i++) {
        int32_t c = read_unit(start + size_t(i) * unit, unit);
        if (c > 0x7F) return nan;
        text[i] = c == ',' ? '.' : uint8_t(c);
    }
    double d;
    if (!lexer::float_syntax_ok(text, text + count) || !lexer::float_convert(text, text + count, 0, &d)) return nan;
    *error = 0;
    return d;
}

MoneyText lexer_money_from_text(const uint8_t* start, int32_t count, uint32_t unit, Cell* out) {
    std::string text;
    text.reserve(size_t(count > 0 ? count : 0));
    for (int32_t i = 0; i < count; i++) {
        const int32_t c = read_unit(start + size_t(i) * unit, unit);
        if (c > 0x7F) return MoneyText::invalid;
        text += char(c);
    }
    // Further fraction digits are read and dropped.
    return lexer::parse_money(text, false, text.size(), out);
}

} // namespace kem
