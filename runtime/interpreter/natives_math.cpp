// Natives: negative? positive? sign? shift to-hex, the trigonometric natives,
// NaN? log-2 log-10 log-e exp square-root zero?, max and min. size? lives
// with the file layer (io/natives_files.cpp).
//
// Most of them compute in place: the first argument cell is turned into the
// result.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/arith.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/interpreter/angle.h"
#include "runtime/interpreter/natives.h"

namespace kem {

namespace {

// A result below this magnitude is binary noise around an exact zero (the
// sine of 180 degrees): it becomes 0.0.
constexpr double TRIG_ZERO = 2.220446049250313e-16;
constexpr double LN_2 = 0.6931471805599453;
constexpr double E = 2.718281828459045;

inline Cell* arg(int i) { return stack::arguments + i; }
inline bool given(const int32_t* refinements, int at) { return refinements[at] != -1; }

// The argument cell becomes a float!: an integer! is converted, a percent!
// keeps its double; other cells are left as they are.
void arg_to_float(Cell* c) {
    switch (type_of(c)) {
    case TYPE_INTEGER: make_float(c, double(cell_int(c))); break;
    case TYPE_PERCENT: set_type(c, TYPE_FLOAT); break;
    default: break;
    }
}

// The angle argument as a float!, in radians: degrees are reduced for the
// function first.
double degrees_arg(int mode, bool radians) {
    Cell* a = arg(0);
    arg_to_float(a);
    if (!radians) set_cell_float(a, normalize_angle(cell_float(a), mode));
    return cell_float(a);
}

// The sign of the number argument: 1, -1, or 0 (also for NaN).
int32_t number_sign() {
    const Cell* n = arg(0);
    switch (type_of(n)) {
    case TYPE_INTEGER: return integer_sign(cell_int(n));
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: {
        double d = cell_float(n);
        return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
    }
    case TYPE_MONEY: return money_sign(n);
    default: fire_expect_arg(n, 0);
    }
}

void negative_q(const int32_t*) { make_logic(arg(0), number_sign() < 0); }
void positive_q(const int32_t*) { make_logic(arg(0), number_sign() > 0); }
void sign_q(const int32_t*) { make_integer(arg(0), number_sign()); }

void shift(const int32_t* refinements) {
    const int32_t data = cell_int(arg(0));
    const int32_t bits = std::max(cell_int(arg(1)), 0);
    int32_t result;
    if (given(refinements, native_ref(NAT_SHIFT, "left")))
        result = bits >= 32 ? 0 : int32_t(uint32_t(data) << bits);
    else if (given(refinements, native_ref(NAT_SHIFT, "logical")))
        result = bits >= 32 ? 0 : int32_t(uint32_t(data) >> bits);
    else
        result = bits >= 32 ? (data < 0 ? -1 : 0) : data >> bits;
    make_integer(arg(0), result);
}

void to_hex(const int32_t* refinements) {
    const int32_t size_at = refinements[native_ref(NAT_TO_HEX, "size")];
    const char* digits = string_int_to_hex(cell_int(arg(0)), false);  // always 8
    if (size_at >= 0) {
        int32_t length = cell_int(arg(size_at));
        if (length <= 0) fire(Err::script_invalid_arg, *arg(size_at));
        if (length < 8) digits += 8 - length;
    }
    issue_set_in(arg(0), digits);
}

// sine and cosine: a result that only misses zero by rounding is zero.
void trig_result(double r) { make_float(arg(0), std::fabs(r) < TRIG_ZERO ? 0.0 : r); }

void sine(const int32_t* refinements) {
    trig_result(std::sin(degrees_arg(ANGLE_SINE, given(refinements, native_ref(NAT_SINE, "radians")))));
}

void cosine(const int32_t* refinements) {
    trig_result(std::cos(degrees_arg(ANGLE_COSINE, given(refinements, native_ref(NAT_COSINE, "radians")))));
}

void tangent(const int32_t* refinements) {
    double a = degrees_arg(ANGLE_TANGENT, given(refinements, native_ref(NAT_TANGENT, "radians")));
    // The library's tan of the double nearest pi/2 is large but finite; the
    // angle that stands for a right angle gives the infinity instead.
    constexpr double HALF_PI = ANGLE_PI / 2.0;
    double r = a == HALF_PI ? INFINITY : a == -HALF_PI ? -INFINITY : std::tan(a);
    make_float(arg(0), r);
}

// arcsine, arccosine, arctangent: the angle in degrees unless radians.
void arc_trig(double (*fn)(double), bool radians) {
    Cell* v = arg(0);
    arg_to_float(v);
    double r = fn(cell_float(v));
    if (!radians) r = r * 180.0 / ANGLE_PI;
    make_float(v, r);
}

void arcsine(const int32_t* refinements) {
    arc_trig([](double x) { return std::asin(x); }, given(refinements, native_ref(NAT_ARCSINE, "radians")));
}
void arccosine(const int32_t* refinements) {
    arc_trig([](double x) { return std::acos(x); }, given(refinements, native_ref(NAT_ARCCOSINE, "radians")));
}
void arctangent(const int32_t* refinements) {
    arc_trig([](double x) { return std::atan(x); }, given(refinements, native_ref(NAT_ARCTANGENT, "radians")));
}

void arctangent2(const int32_t* refinements) {
    auto as_double = [](const Cell* c) { return type_of(c) == TYPE_INTEGER ? double(cell_int(c)) : cell_float(c); };
    double r = std::atan2(as_double(arg(0)), as_double(arg(1)));
    if (!given(refinements, native_ref(NAT_ARCTANGENT2, "radians"))) r = r * 180.0 / ANGLE_PI;
    make_float(arg(1), r);
    *arg(0) = *arg(1);
}

void nan_q(const int32_t*) {
    Cell* v = arg(0);
    bool nan = type_of(v) != TYPE_INTEGER && float_nan_q(v->data2, v->data3);
    make_logic(v, nan);
}

// log-2 .. square-root: no domain checks, the IEEE results (infinities,
// NaN) are the answers.
void float_fn(double (*fn)(double)) {
    Cell* v = arg(0);
    arg_to_float(v);
    make_float(v, fn(cell_float(v)));
}

void log_2(const int32_t*) {
    float_fn([](double x) { return std::log(x) / LN_2; });
}
void log_10(const int32_t*) {
    float_fn([](double x) { return std::log10(x); });
}
void log_e(const int32_t*) {
    float_fn([](double x) { return std::log(x); });
}
void exp_(const int32_t*) {
    float_fn([](double x) { return std::pow(E, x); });
}
void square_root(const int32_t*) {
    float_fn([](double x) { return std::sqrt(x); });
}

bool value_zero(const Cell* v) {
    switch (type_of(v)) {
    case TYPE_CHAR:
    case TYPE_INTEGER: return cell_int(v) == 0;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: return cell_float(v) == 0.0;  // NaN is not zero
    case TYPE_PAIR: return v->data2 == 0 && v->data3 == 0;
    case TYPE_TUPLE: return tuple_zero_q(v);
    case TYPE_MONEY: return money_zero_q(v);
    case TYPE_POINT2D:
    case TYPE_POINT3D:
        for (int i = 0; i < point_axes(type_of(v)); i++)
            if (point_axis(v, i) != 0.0f) return false;
        return true;
    default: return false;
    }
}

void zero_q(const int32_t*) { make_logic(arg(0), value_zero(arg(0))); }

// --- max and min ---------------------------------------------------------------

inline bool plain_number(uint8_t t) { return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT; }
inline bool nan_number(const Cell* c) {
    return (type_of(c) == TYPE_FLOAT || type_of(c) == TYPE_PERCENT) && std::isnan(cell_float(c));
}
inline bool compound(uint8_t t) {
    return t == TYPE_PAIR || t == TYPE_POINT2D || t == TYPE_POINT3D || t == TYPE_TUPLE;
}
inline double scalar_double(const Cell* c) {
    return type_of(c) == TYPE_INTEGER ? double(cell_int(c)) : cell_float(c);
}

template <typename T> T pick(bool max, T a, T b) { return max ? std::max(a, b) : std::min(a, b); }

// Axis by axis in single precision; a NaN on the second side wins, one on
// the first side stays (no comparison with it succeeds).
void points_max_min(bool max, Cell* p, const Cell* other) {
    const bool scalar = !compound(type_of(other));
    const float s = scalar ? float(scalar_double(other)) : 0.0f;
    for (int i = 0; i < point_axes(type_of(p)); i++) {
        float a = point_axis(p, i), b = scalar ? s : point_axis(other, i);
        if (std::isnan(b) || (max ? b > a : b < a)) set_point_axis(p, i, b);
    }
}

// Handles the pair, point and tuple cases in place in value1; false when the
// pairing is not one of them.
bool compound_max_min(bool max, Cell* v1, Cell* v2) {
    const uint8_t t2 = type_of(v2);
    const bool scalar = t2 == TYPE_INTEGER || t2 == TYPE_FLOAT;
    switch (type_of(v1)) {
    case TYPE_PAIR: {
        if (t2 == TYPE_POINT2D || (t2 == TYPE_FLOAT && !fits_int32(cell_float(v2)))) {
            // What a 32-bit pair cannot hold is compared as points.
            if (t2 == TYPE_FLOAT) point2D_make_at(v2, float(cell_float(v2)), float(cell_float(v2)));
            pair_to_point2D(v1);
            points_max_min(max, v1, v2);
            return true;
        }
        int32_t x, y;
        if (t2 == TYPE_PAIR) {
            x = pair_x(v2), y = pair_y(v2);
        } else if (scalar) {
            x = y = t2 == TYPE_INTEGER ? cell_int(v2) : trunc_to_int32(cell_float(v2));
        } else {
            return false;
        }
        pair_set_in(v1, pick(max, pair_x(v1), x), pick(max, pair_y(v1), y));
        return true;
    }
    case TYPE_POINT2D:
    case TYPE_POINT3D:
        if (!scalar && t2 != type_of(v1)) return false;
        points_max_min(max, v1, v2);
        return true;
    case TYPE_TUPLE: {
        const uint32_t n = tuple_length(v1);
        uint8_t* bytes = tuple_bytes(v1);
        if (scalar) {
            int32_t k;
            if (t2 == TYPE_INTEGER) {
                k = cell_int(v2);
            } else {
                if (!fits_int32(cell_float(v2))) {
                    Cell integer_type;
                    make_datatype(&integer_type, TYPE_INTEGER);
                    fire(Err::script_type_limit, integer_type);
                }
                k = trunc_to_int32(cell_float(v2));
            }
            const uint8_t b = uint8_t(std::clamp(k, 0, 255));
            for (uint32_t i = 0; i < n; i++) bytes[i] = pick(max, bytes[i], b);
            return true;
        }
        if (t2 != TYPE_TUPLE || tuple_length(v2) != n) return false;
        const uint8_t* other = tuple_bytes(v2);
        for (uint32_t i = 0; i < n; i++) bytes[i] = pick(max, bytes[i], other[i]);
        return true;
    }
    default: return false;
    }
}

// The worker of max and min; the result replaces value1.
void max_min(bool max) {
    Cell* v1 = arg(0);
    Cell* v2 = arg(1);
    // A NaN beside a number is the answer: no ordering would pick it.
    if (nan_number(v1) && plain_number(type_of(v2))) return;
    if (nan_number(v2) && plain_number(type_of(v1))) {
        *v1 = *v2;
        return;
    }
    if ((type_of(v1) == TYPE_INTEGER || type_of(v1) == TYPE_FLOAT) && compound(type_of(v2))) std::swap(*v1, *v2);
    if (compound_max_min(max, v1, v2)) return;
    // Equal values: max keeps value1, min takes value2.
    const bool lesser = compare_star(v1, v2, CompareOp::lesser);
    if (max ? lesser : !lesser) *v1 = *v2;
}

void max_(const int32_t*) { max_min(true); }
void min_(const int32_t*) { max_min(false); }

} // namespace

void register_math_natives() {
    native_register(NAT_NEGATIVE_Q, negative_q);
    native_register(NAT_POSITIVE_Q, positive_q);
    native_register(NAT_SIGN_Q, sign_q);
    native_register(NAT_SHIFT, shift);
    native_register(NAT_TO_HEX, to_hex);
    native_register(NAT_SINE, sine);
    native_register(NAT_COSINE, cosine);
    native_register(NAT_TANGENT, tangent);
    native_register(NAT_ARCSINE, arcsine);
    native_register(NAT_ARCCOSINE, arccosine);
    native_register(NAT_ARCTANGENT, arctangent);
    native_register(NAT_ARCTANGENT2, arctangent2);
    native_register(NAT_NAN_Q, nan_q);
    native_register(NAT_LOG_2, log_2);
    native_register(NAT_LOG_10, log_10);
    native_register(NAT_LOG_E, log_e);
    native_register(NAT_EXP, exp_);
    native_register(NAT_SQUARE_ROOT, square_root);
    native_register(NAT_ZERO_Q, zero_q);
    native_register(NAT_MAX, max_);
    native_register(NAT_MIN, min_);
}

} // namespace kem
