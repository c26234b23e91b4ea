// float!: 64-bit IEEE doubles, and the arithmetic core that integer!, percent!,
// time! and the coordinate types share.
//
// A float! cell holds its double in payload words 2 and 3 (low word first);
// percent! and time! use the same layout, so the core reads all three alike.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/datatypes/action_types.h"

namespace kem {

// Switched by system/options/float (fields pretty? and full?).
extern bool float_pretty_print;
extern bool float_full_support;

// Below this magnitude a pretty-printed number forms as zero.
constexpr double FLOAT_EPSILON = 2.220446049250313e-16;

// --- cells
Cell* float_push(double d);

// --- bits
double float_abs(double d);
bool float_nan_q(uint32_t low, uint32_t high);

// --- text
enum FloatFormMode : int {
    FORM_SINGLE = 0,          // 4-byte vector items
    FORM_FLOAT = 1,
    FORM_SINGLE_PERCENT = 2,  // already multiplied by 100
    FORM_PERCENT = 3,         // already multiplied by 100
    FORM_TIME = 4,            // the seconds of a time!
    FORM_POINT = 5,           // a coordinate of a point
};
// NUL-terminated text in a buffer owned by this module, valid until the next call.
const char* float_form_float(double d, int mode);

// --- arithmetic core (operators 0 add .. 4 remainder)
double float_do_math_op(double left, double right, int32_t op);
// Works on the current call's two arguments; the result replaces the first.
Cell* float_do_math(int32_t op);
// Base in the first argument, exponent in the second; the base keeps its type.
Cell* float_power();

// --- comparison (operator codes of the compare slot; -2 when unordered types)
int32_t float_compare(Cell* value1, Cell* value2, CompareOp op);
// value1 given as its double and its own type id (integer! compares this way).
int32_t float_compare_double(double a, uint8_t type1, Cell* value2, CompareOp op);
bool float_almost_equal(double a, double b);
bool float_almost_equal32(float a, float b);

// --- rounding and random values
// scale is nullptr without /to. The result may turn into integer! (integer
// scale) or take the scale's type.
Cell* float_round(Cell* value, const RoundArgs& refs);
double float_random_draw(double limit, bool secure);

// make and to of float! and percent!: the result takes `type`.
Cell* float_make(Cell* proto, Cell* spec, int32_t type);

} // namespace kem
