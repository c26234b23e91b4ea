// float!: cells, text forms, make/to, random and the float! action row.
#include "runtime/datatypes/float.h"
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/arith.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/loader.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/services/float_text.h"
#include "runtime/services/hash_keys.h"
#include "runtime/services/random.h"

namespace kem {

bool float_pretty_print = true;
bool float_full_support = false;

// --- cells -----------------------------------------------------------------------

Cell* float_push(double d) {
    Cell* c = stack::push_slot();
    make_float(c, d);
    return c;
}

// --- bits ----------------------------------------------------------------------------

double float_abs(double d) { return std::bit_cast<double>(std::bit_cast<uint64_t>(d) & ~(uint64_t(1) << 63)); }

bool float_nan_q(uint32_t low, uint32_t high) {
    return (high & 0x7FF00000) == 0x7FF00000 && ((high & 0x000FFFFF) != 0 || low != 0);
}

// --- text ----------------------------------------------------------------------------

namespace {

// The longest text is about 26 characters: 16 digits with sign, "0.000" or an
// exponent, and the added ".0" or "%".
char form_buffer[48];

bool percent_mode(int mode) { return mode == FORM_SINGLE_PERCENT || mode == FORM_PERCENT; }

// "%.<precision>g" as the text forms are defined: the value is first taken to
// 17 significant digits, and those digits are then rounded half up to the
// precision. The double rounding is part of the notation: 1e-20 at 16 digits
// reads 1e-20, not 9.999999999999999e-21.
void print_g(double d, int precision) {
    char sci[40];
    std::snprintf(sci, sizeof sci, "%.16e", d);  // [-]d.dddddddddddddddde[+-]xx
    const char* p = sci;
    bool negative = *p == '-';
    if (negative) p++;
    char digits[18];
    int n = 0;
    for (; *p != 'e'; p++)
        if (*p != '.') digits[n++] = *p;
    int exponent = std::atoi(p + 1);

    if (digits[precision] >= '5') {
        int i = precision - 1;
        while (i >= 0 && digits[i] == '9') digits[i--] = '0';
        if (i >= 0) {
            digits[i]++;
        } else {
            digits[0] = '1';
            exponent++;
        }
    }
    n = precision;
    while (n > 1 && digits[n - 1] == '0') n--;

    char* out = form_buffer;
    if (negative) *out++ = '-';
    if (exponent < -4 || exponent >= precision) {
        *out++ = digits[0];
        if (n > 1) {
            *out++ = '.';
            std::memcpy(out, digits + 1, size_t(n - 1));
            out += n - 1;
        }
        std::snprintf(out, sizeof form_buffer - size_t(out - form_buffer), "e%c%02d", exponent < 0 ? '-' : '+',
                      exponent < 0 ? -exponent : exponent);
        return;
    }
    if (exponent < 0) {
        *out++ = '0';
        *out++ = '.';
        for (int i = 0; i < -exponent - 1; i++) *out++ = '0';
        std::memcpy(out, digits, size_t(n));
        out += n;
    } else {
        for (int i = 0; i <= exponent; i++) *out++ = i < n ? digits[i] : '0';
        if (n > exponent + 1) {
            *out++ = '.';
            std::memcpy(out, digits + exponent + 1, size_t(n - exponent - 1));
            out += n - exponent - 1;
        }
    }
    *out = '\0';
}

// Where the printed text has its "e", or -1.
int find_e(const char* s) {
    const char* e = std::strchr(s, 'e');
    return e ? int(e - s) : -1;
}

// The digits of a printed number that a reprint with fewer digits would tidy:
// a text that ends (or ends its mantissa) in "01" or "99" after 16 characters.
bool wants_reprint(const char* s) {
    int len = int(std::strlen(s));
    int e = find_e(s);
    const char* last2;
    if (e < 0) {
        const char* digits = s[0] == '-' ? s + 1 : s;
        if (len <= 16 || (digits[0] == '0' && len <= 17)) return false;
        last2 = s + len - 2;
    } else {
        if (e <= 16) return false;
        last2 = s + e - 2;
    }
    return (last2[0] == '0' && last2[1] == '1') || (last2[0] == '9' && last2[1] == '9');
}

// 1e+020 -> 1e20, 1e-007 -> 1e-7: the sign only when negative, no leading zeros.
void tidy_exponent() {
    int e = find_e(form_buffer);
    if (e < 0) return;
    const char* p = form_buffer + e + 1;
    bool negative = false;
    while (*p == '+' || *p == '-') negative = *p++ == '-';
    while (*p == '0' && p[1] != '\0') p++;
    char digits[8];
    std::snprintf(digits, sizeof digits, "%s", p);
    std::snprintf(form_buffer + e + 1, sizeof form_buffer - size_t(e) - 1, "%s%s", negative ? "-" : "", digits);
}

} // namespace

const char* float_form_float(double d, int mode) {
    uint64_t bits = std::bit_cast<uint64_t>(d);
    if ((bits & 0x7FF0000000000000) == 0x7FF0000000000000) {
        if (bits & 0x000FFFFFFFFFFFFF) return "1.#NaN";
        return (bits >> 63) ? "-1.#INF" : "1.#INF";
    }
    if (float_pretty_print && std::fabs(d) < FLOAT_EPSILON) {
        if (percent_mode(mode)) return "0%";
        return mode == FORM_POINT ? "0" : "0.0";
    }

    switch (mode) {
    case FORM_SINGLE:
    case FORM_SINGLE_PERCENT:
    case FORM_POINT: print_g(d, 7); break;
    case FORM_PERCENT: print_g(d, 13); break;
    case FORM_TIME: std::snprintf(form_buffer, sizeof form_buffer, "%s", form_float(d, 6, false)); break;
    default: print_g(d, 16); break;
    }
    // Binary noise shows as a run of 9s or a trailing 01 at full precision:
    // print once more with fewer digits.
    if (float_pretty_print && wants_reprint(form_buffer)) {
        bool short_form = mode == FORM_SINGLE || mode == FORM_TIME || mode == FORM_POINT;
        print_g(d, short_form ? 5 : 14);
    }
    tidy_exponent();

    size_t len = std::strlen(form_buffer);
    if (percent_mode(mode)) {
        form_buffer[len] = '%';
        form_buffer[len + 1] = '\0';
    } else if (!std::strchr(form_buffer, '.') && mode != FORM_TIME && mode != FORM_POINT) {
        int e = find_e(form_buffer);
        size_t at = e < 0 ? len : size_t(e);
        std::memmove(form_buffer + at + 2, form_buffer + at, len - at + 1);
        form_buffer[at] = '.';
        form_buffer[at + 1] = '0';
    }
    return form_buffer;
}

// --- make, to and random -------------------------------------------------------------

namespace {

[[noreturn]] void fire_bad_to(uint8_t target, const Cell* spec) {
    Cell t;
    make_datatype(&t, target);
    fire(Err::script_bad_to_arg, t, *spec);
}

// [m e]: m * 10^e, e truncated toward zero.
double from_block(const Cell* spec, uint8_t target) {
    SeriesBuffer* b = node_buffer(series_node(spec));
    uint32_t count = b->used() / sizeof(Cell);
    uint32_t index = series_index(spec);
    if (index >= count || count - index != 2) fire_bad_to(target, spec);
    const Cell* items = b->cell_head() + index;
    double parts[2];
    for (int i = 0; i < 2; i++) {
        switch (type_of(&items[i])) {
        case TYPE_INTEGER: parts[i] = cell_int(&items[i]); break;
        case TYPE_FLOAT: parts[i] = cell_float(&items[i]); break;
        default: fire_bad_to(TYPE_FLOAT, &items[i]);
        }
    }
    return parts[0] * std::pow(10.0, std::trunc(parts[1]));
}

// Up to 8 bytes from the position, big-endian: the bits of the double.
double from_binary(const Cell* spec) {
    SeriesBuffer* b = node_buffer(series_node(spec));
    uint32_t used = b->used();
    uint32_t index = series_index(spec);
    uint32_t n = index < used ? used - index : 0;
    if (n > 8) n = 8;
    const uint8_t* p = b->head_ptr() + index;
    uint64_t bits = 0;
    for (uint32_t i = 0; i < n; i++) bits = (bits << 8) | p[i];
    return std::bit_cast<double>(bits);
}

// float! reads the text with the float reader; percent! loads one number
// literal from it.
double from_text(const Cell* spec, uint8_t target) {
    Cell text = *spec;
    if (string_rs_length(&text) <= 0) fire_bad_to(target, spec);
    if (target == TYPE_FLOAT) {
        int32_t error = 0;
        int32_t count = string_rs_length(&text);
        uint32_t unit = unit_bytes(series_buffer(&text));
        double d = lexer_float_from_text(string_rs_head(&text), count, unit, &error);
        if (error != 0) fire_bad_to(target, spec);
        return d;
    }
    Cell loaded;
    make_unset(&loaded);
    try {
        load_one_value(&text, &loaded);
    } catch (const KemError& e) {
        // A syntax error only means the text is no number; others go on.
        if (error_category(e.id) != ErrCategory::syntax) throw;
        fire_bad_to(target, spec);
    }
    switch (type_of(&loaded)) {
    case TYPE_INTEGER: return cell_int(&loaded);
    case TYPE_FLOAT:
    case TYPE_PERCENT: return cell_float(&loaded);
    default: fire_bad_to(target, spec);
    }
}

Cell* float_random(Cell* value, const RandomArgs& refs) {
    if (refs.seed) {
        uint64_t bits = std::bit_cast<uint64_t>(cell_float(value));
        random_seed(uint32_t(bits) ^ uint32_t(bits >> 32));
        make_unset(value);
        return value;
    }
    set_cell_float(value, float_random_draw(cell_float(value), refs.secure));
    return value;
}

} // namespace

Cell* float_make(Cell* proto, Cell* spec, int32_t type) {
    uint8_t target = type == TYPE_PERCENT ? TYPE_PERCENT : TYPE_FLOAT;
    double d;
    switch (type_of(spec)) {
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: d = from_block(spec, target); break;
    case TYPE_CHAR:
    case TYPE_INTEGER: d = cell_int(spec); break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: d = cell_float(spec); break;
    case TYPE_BINARY: d = from_binary(spec); break;
    case TYPE_MONEY: d = money_to_float(spec); break;
    case TYPE_STRING:
    case TYPE_FILE:
    case TYPE_URL:
    case TYPE_TAG:
    case TYPE_EMAIL:
    case TYPE_REF: d = from_text(spec, target); break;
    default: fire_bad_to(target, spec);
    }
    make_float(proto, d);
    set_type(proto, target);
    return proto;
}

double float_random_draw(double limit, bool secure) {
    if (!secure) return double(random_next()) / 2147483647.0 * limit;
    double r1 = random_secure_next();
    double r2 = random_secure_next();
    return (r2 + r1 / 2147483647.0) * limit / 2147483648.0;
}

// --- the action row ------------------------------------------------------------------

namespace {

int32_t float_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    const char* text = float_form_float(cell_float(value), FORM_FLOAT);
    size_t len = std::strlen(text);
    string_append_ascii(buffer, std::string_view(text, len));
    return part - int32_t(len);
}

// Mold always writes the shortest text that reads back to the same double.
int32_t float_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    const char* text = form_float(cell_float(value), 0, true);
    size_t len = std::strlen(text);
    string_append_ascii(buffer, std::string_view(text, len));
    return part - int32_t(len);
}

Cell* float_absolute() {
    Cell* c = stack::arguments;
    set_cell_float(c, float_abs(cell_float(c)));
    return c;
}

// 0.0 - x, so that negating either zero gives 0.0.
Cell* float_negate(Cell* value) {
    set_cell_float(value, 0.0 - cell_float(value));
    return value;
}

bool float_even_q(Cell* value) { return (trunc_to_int32(cell_float(value)) & 1) == 0; }
bool float_odd_q(Cell* value) { return (trunc_to_int32(cell_float(value)) & 1) != 0; }

Cell* float_add() { return float_do_math(OP_ADD); }
Cell* float_subtract() { return float_do_math(OP_SUBTRACT); }
Cell* float_multiply() { return float_do_math(OP_MULTIPLY); }
Cell* float_divide() { return float_do_math(OP_DIVIDE); }
Cell* float_remainder() { return float_do_math(OP_REMAINDER); }

} // namespace

void register_float() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(float_make)
        .set<ACT_RANDOM>(float_random)
        .set<ACT_TO>(float_make)
        .set<ACT_FORM>(float_form)
        .set<ACT_MOLD>(float_mold)
        .set<ACT_COMPARE>(float_compare)
        .set<ACT_ABSOLUTE>(float_absolute)
        .set<ACT_ADD>(float_add)
        .set<ACT_DIVIDE>(float_divide)
        .set<ACT_MULTIPLY>(float_multiply)
        .set<ACT_NEGATE>(float_negate)
        .set<ACT_POWER>(float_power)
        .set<ACT_REMAINDER>(float_remainder)
        .set<ACT_ROUND>(float_round)
        .set<ACT_SUBTRACT>(float_subtract)
        .set<ACT_EVEN_Q>(float_even_q)
        .set<ACT_ODD_Q>(float_odd_q);
    register_datatype(TYPE_FLOAT, 0, "float!", row);
    hash_compare_slots[TYPE_FLOAT] = float_compare;
}

} // namespace kem
