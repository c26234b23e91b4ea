// date!: a day of the proleptic Gregorian calendar, optionally with a time of
// day and a time zone.
//
// Cell: payload word 1 the packed date word; words 2 and 3 a double, the UTC
// time of day in seconds counted from the local day's midnight, so that the
// local time of day is time + zone offset (2020-01-01/01:00+05:00 holds
// 1 January 2020 and -14400.0).
//
// Packed date word: bits 17..31 the year (signed, -16384..16383), bit 16 the
// has-time flag (clear: a bare date, time 0.0 and zone 0), bits 12..15 the
// month, bits 7..11 the day, bits 0..6 the zone (bit 6 set west of UTC, bits
// 2..5 whole hours, bits 0..1 quarter hours). The layout constants are the
// platform layer's (platform.h), which packs the clock's dates the same way.
//
// Day counts are days since 1 March of year 0; weekday 1 is Monday.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/datatypes/action_types.h"

namespace kem {

constexpr uint32_t DATE_TIME_FLAG = 0x10000;
constexpr int32_t DATE_YEAR_MIN = -16384;
constexpr int32_t DATE_YEAR_MAX = 16383;
constexpr double SECONDS_PER_DAY = 86400.0;

enum DateField : int32_t {
    DATE_FIELD_DATE = 1,
    DATE_FIELD_YEAR = 2,
    DATE_FIELD_MONTH = 3,
    DATE_FIELD_DAY = 4,
    DATE_FIELD_ZONE = 5,
    DATE_FIELD_TIME = 6,
    DATE_FIELD_HOUR = 7,
    DATE_FIELD_MINUTE = 8,
    DATE_FIELD_SECOND = 9,
    DATE_FIELD_WEEKDAY = 10,
    DATE_FIELD_YEARDAY = 11,
    DATE_FIELD_TIMEZONE = 12,
    DATE_FIELD_WEEK = 13,
    DATE_FIELD_ISOWEEK = 14,
};

// --- the packed word
inline int32_t date_year(uint32_t w) { return static_cast<int32_t>(w) >> 17; }
inline int32_t date_month(uint32_t w) { return static_cast<int32_t>((w >> 12) & 15); }
inline int32_t date_day(uint32_t w) { return static_cast<int32_t>((w >> 7) & 31); }
inline uint32_t date_zone(uint32_t w) { return w & 0x7F; }
inline bool date_has_time(uint32_t w) { return (w & DATE_TIME_FLAG) != 0; }
inline uint32_t date_word(const Cell* c) { return c->data1; }
inline double date_time(const Cell* c) { return cell_float(c); }
// The packed word of a day; script out-of-range (the year) outside the
// storable years.
uint32_t date_pack(int64_t year, int32_t month, int32_t day, uint32_t zone, bool has_time);

// --- zones
// Offset east of UTC in seconds of zone bits 0..6.
double date_zone_offset(uint32_t zone);
// Zone bits of an offset in minutes, cut to whole quarter hours (the sign
// kept also for offsets under one hour); -1 beyond 15:45.
int32_t date_zone_bits(int64_t offset_minutes);

// --- calendar
bool date_leap_year_q(int64_t year);
// Day count of a day; any month number 1..12 and any day number (day 0 is
// the last day of the previous month).
int64_t date_to_days(int64_t year, int32_t month, int64_t day);
inline int64_t date_word_to_days(uint32_t w) { return date_to_days(date_year(w), date_month(w), date_day(w)); }
// The packed word of a day count (out-of-range outside the storable years).
uint32_t date_days_to_date(int64_t days, uint32_t zone, bool has_time);
// 1 = Monday .. 7 = Sunday.
int32_t date_weekday(int64_t days);
int64_t date_year_start(int64_t year);
// Day of the year from 1.
int32_t date_yearday(uint32_t w);
// Day count of the Monday of ISO week 1 of the year.
int64_t date_iso_week1_start(int64_t year);

// Moves days and time so that the local time of day (time + zone offset)
// lies in 0..86400 and days is the local day. Script out-of-range for a time
// that is not finite or leaves the calendar.
void date_apply_zone(int64_t& days, double& time, uint32_t zone);
// Stores the time (first turned from local to stored form when from_local)
// and renormalises the packed word under the cell's zone and time flag.
void date_normalize(Cell* c, double time, bool from_local);

// --- making dates
Cell* date_make_at(Cell* c, uint32_t w, double time);
Cell* date_push(uint32_t w, double time);
// Appends a date! (the KEMBIN loader): the time as the halves of its double.
Cell* date_make_in(const Cell* block, uint32_t w, uint32_t time_high, uint32_t time_low);
// The date literal builder: no normalisation and no calendar check (the
// lexer checks the fields). The time of day is local; zone_hours may be
// negative, and zone_negative marks a zone west of UTC whose hours are 0
// (-0:30). Without has_time the zone and time are dropped. Script
// out-of-range for a year or zone the packed word cannot hold.
Cell* date_make_from_os_parts(Cell* c, int32_t year, int32_t month, int32_t day, double time, int32_t zone_hours,
                              int32_t zone_minutes, bool has_time, bool zone_negative = false);
// The file layer's builder: a UTC time, zone 0, the time flag set.
Cell* date_make_from_system_time(Cell* c, int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                                 int32_t second, int32_t nanoseconds);
// The clock's reading as `now` gives it: the date word from the platform
// (local date and zone, or UTC) and the UTC seconds of the day. With
// date_only a bare date.
Cell* date_make_from_clock(Cell* c, uint32_t date_word, double utc_seconds, bool date_only);

// --- moving a date (the lexer's week and ordinal forms use these)
void date_set_month(Cell* c, int32_t month);
void date_set_weekday(Cell* c, int32_t weekday);
void date_set_yearday(Cell* c, int32_t yearday);
void date_set_week(Cell* c, int32_t week);
void date_set_isoweek(Cell* c, int32_t week);
// zone: integer! hours or time!; adjust keeps the UTC instant, else the
// local clock time. Script invalid-arg for another type.
void date_set_zone(Cell* c, const Cell* zone, bool adjust);

// --- fields
// 1..14 for a field word (any letter case), -1 for another word.
int32_t date_field_index(const Cell* word);
Cell* date_push_field(const Cell* date, int32_t field);

// --- arithmetic and conversions
// add (0) or subtract (1) on the current call's arguments, a date! first.
Cell* date_do_math(int32_t op);
// Seconds since 1970-01-01T00:00 UTC, rounded to the nearest second.
int64_t date_to_epoch(const Cell* date);
// The integer! conversion: date_to_epoch, script type-limit (integer!)
// beyond 32 bits.
int32_t date_to_integer(const Cell* date);
// The first cell becomes the time! from the second date to the first.
Cell* date_difference(Cell* date1, const Cell* date2);

// Where mold finds the month names: the system object points this at a
// function answering system/locale/months (a block, or nullptr when there is
// none yet); until then the English names are used.
extern const Cell* (*date_locale_months)();

// --- actions
Cell* date_make(Cell* proto, Cell* spec, int32_t type);
Cell* date_to(Cell* proto, Cell* spec, int32_t type);
int32_t date_form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t date_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
Cell* date_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step);
int32_t date_compare(Cell* value1, Cell* value2, CompareOp op);
Cell* date_pick(Cell* value, int32_t index, Cell* boxed);
Cell* date_random(Cell* value, const RandomArgs& refs);

void register_date();

} // namespace kem
