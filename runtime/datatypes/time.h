// time!: a duration or time of day as a signed number of seconds.
//
// The cell has the float! layout (the double in payload words 2 and 3), so the
// float! arithmetic core works on it and keeps the type. What time! adds: the
// hour/minute/second fields, construction from blocks and text, and the
// h:mm:ss text form.
//
// Fields decompose the magnitude |seconds| and carry the sign on the hours and
// seconds: -1:30:00 has hour -1, minute 30, second -0.0.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/datatypes/action_types.h"

namespace kem {

constexpr double SECONDS_PER_HOUR = 3600.0;
constexpr double SECONDS_PER_MINUTE = 60.0;
// Seconds below this print as "00"; also the nudge of even? and odd?.
constexpr double TIME_SECONDS_EPSILON = 1e-06;

enum TimeField : int32_t { TIME_HOUR = 1, TIME_MINUTE = 2, TIME_SECOND = 3 };

// --- cells
inline double time_get(const Cell* c) { return cell_float(c); }
Cell* time_make_at(Cell* c, double seconds);
// Appends a time! given as the two halves of its double (the KEMBIN loader).
Cell* time_make_in(const Cell* block, uint32_t high, uint32_t low);
Cell* time_push(double seconds);

// The seconds of a time literal: seconds + minutes * 60 + |hours| * 3600,
// negated when the text began with "-" or the hours are negative.
double time_from_parts(int32_t hours, int64_t minutes, double seconds, bool negative);

// --- fields
// Whole hours, rounded toward zero (so negative for a negative time).
int32_t time_hours(double seconds);
// Minutes 0..59 of |seconds|.
int32_t time_minutes(double seconds);
// Seconds of the minute, with the time's sign.
double time_seconds(double seconds);
// 1, 2 or 3 for the words hour, minute and second (any letter case).
// Another word raises script cannot-use (word, value) when value is a time!,
// else answers -1.
int32_t time_field_index(const Cell* word, const Cell* value);
// Pushes the field: integer! hours or minutes, float! seconds.
Cell* time_push_field(const Cell* time, int32_t field);
// The seconds after setting one field (1..3) to value: hour and minute take an
// integer!, second an integer! or float! (else script invalid-arg with the
// value). The magnitude is decomposed as the getters do and the sign put
// back, so setting a field to what it reads leaves the time unchanged; a
// non-zero hour brings its own sign.
double time_set_field(double seconds, int32_t field, const Cell* value);

// --- conversions
// Whole seconds rounded half away from zero; script type-limit (integer!)
// beyond 32 bits or for NaN. The integer! conversion of a time.
int32_t time_to_integer(double seconds);

// Appends the text h:mm:ss[.fraction] (hours not limited to 24 nor padded);
// returns part minus the characters written.
int32_t time_form_time(double seconds, Cell* buffer, int32_t part);

// Raises script bad-to-arg (time!, spec).
[[noreturn]] void time_invalid_error(const Cell* spec);

// Tells the owner of a scalar changed through a path: an object! with change
// handlers hears (owner, field word, old value, new value); a reactive series
// hears a poked change. Shared by time! and date!.
void notify_scalar_owner(const Cell* owner, const Cell* word, const Cell& old_value, const Cell& new_value);

// --- actions
Cell* time_make(Cell* proto, Cell* spec, int32_t type);
int32_t time_form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t time_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
Cell* time_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step);
Cell* time_pick(Cell* value, int32_t index, Cell* boxed);

void register_time();

} // namespace kem
