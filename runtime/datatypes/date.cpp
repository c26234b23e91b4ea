// date!: the calendar core (day counts, zones, normalisation), cells and
// builders, arithmetic, comparison, random dates and the date! row.
#include "runtime/datatypes/date.h"
#include <bit>
#include <cmath>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/arith.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/time.h"
#include "runtime/platform/platform.h"
#include "runtime/services/hash_keys.h"
#include "runtime/services/random.h"

namespace kem {

static_assert(platform::DATE_YEAR_SHIFT == 17 && platform::DATE_MONTH_SHIFT == 12 && platform::DATE_DAY_SHIFT == 7 &&
                  platform::ZONE_SIGN == 0x40 && platform::DATE_ZONE_MASK == 0x7F,
              "the clock packs dates in the date! layout");

namespace {

constexpr uint32_t ZONE_SIGN = 0x40;
constexpr uint32_t ZONE_MASK = 0x7F;
// Far beyond every storable day count, small enough for exact arithmetic.
constexpr double DAY_LIMIT = 1e9;

// Division rounding toward minus infinity: the calendar must run on through
// year 0 into negative years without a seam.
int64_t floor_div(int64_t a, int64_t b) {
    int64_t q = a / b;
    if (a % b != 0 && ((a < 0) != (b < 0))) q--;
    return q;
}

int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

// Days from 1 March of year 0 to 1 March of year y.
int64_t days_before(int64_t y) { return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400); }

[[noreturn]] void fire_year_range(double year) {
    Cell c;
    if (fits_int32(year)) make_integer(&c, static_cast<int32_t>(year));
    else make_float(&c, year);
    fire(Err::script_out_of_range, c);
}

[[noreturn]] void fire_time_range(double time) {
    Cell c;
    time_make_at(&c, time);
    fire(Err::script_out_of_range, c);
}

} // namespace

// --- the packed word and zones ---------------------------------------------------------

uint32_t date_pack(int64_t year, int32_t month, int32_t day, uint32_t zone, bool has_time) {
    if (year < DATE_YEAR_MIN || year > DATE_YEAR_MAX) fire_year_range(double(year));
    uint32_t w = (static_cast<uint32_t>(static_cast<int32_t>(year)) << 17) | ((uint32_t(month) & 15) << 12) |
                 ((uint32_t(day) & 31) << 7);
    // A bare date carries no zone: its time is not a time of day.
    return has_time ? w | DATE_TIME_FLAG | (zone & ZONE_MASK) : w;
}

double date_zone_offset(uint32_t zone) {
    double s = double((zone >> 2) & 15) * SECONDS_PER_HOUR + double(zone & 3) * 15.0 * SECONDS_PER_MINUTE;
    return (zone & ZONE_SIGN) ? -s : s;
}

int32_t date_zone_bits(int64_t offset_minutes) {
    bool negative = offset_minutes < 0;
    int64_t quarters = (negative ? -offset_minutes : offset_minutes) / 15;
    if (quarters > 63) return -1;
    // hours << 2 | quarters of the hour is just the count of quarter hours.
    return static_cast<int32_t>(quarters) | (negative && quarters ? int32_t(ZONE_SIGN) : 0);
}

// --- calendar --------------------------------------------------------------------------

bool date_leap_year_q(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int64_t date_to_days(int64_t year, int32_t month, int64_t day) {
    int64_t m = (int64_t(month) + 9) % 12;  // March 0 .. February 11
    int64_t y = year - m / 10;               // January and February end the previous year
    return days_before(y) + (306 * m + 5) / 10 + (day - 1);
}

uint32_t date_days_to_date(int64_t days, uint32_t zone, bool has_time) {
    double estimate = std::floor((10000.0 * double(days) + 14780.0) / 3652425.0);
    if (std::fabs(double(days)) > DAY_LIMIT) fire_year_range(estimate);
    int64_t y = static_cast<int64_t>(estimate);
    int64_t d = days - days_before(y);
    while (d < 0) d = days - days_before(--y);
    while (d >= days_before(y + 1) - days_before(y)) d = days - days_before(++y);
    int64_t mi = (100 * d + 52) / 3060;
    int32_t month = static_cast<int32_t>((mi + 2) % 12 + 1);
    int64_t year = y + (mi + 2) / 12;
    int32_t day = static_cast<int32_t>(d - (306 * mi + 5) / 10 + 1);
    return date_pack(year, month, day, zone, has_time);
}

int32_t date_weekday(int64_t days) { return static_cast<int32_t>(floor_mod(days + 2, 7)) + 1; }

int64_t date_year_start(int64_t year) { return date_to_days(year, 1, 1); }

int32_t date_yearday(uint32_t w) {
    return static_cast<int32_t>(date_word_to_days(w) - date_year_start(date_year(w)) + 1);
}

int64_t date_iso_week1_start(int64_t year) {
    int64_t start = date_year_start(year);
    int64_t w = floor_mod(start + 2, 7);  // 0 = Monday
    return start - w + (w >= 4 ? 7 : 0);
}

void date_apply_zone(int64_t& days, double& time, uint32_t zone) {
    if (!std::isfinite(time)) fire_time_range(time);
    double z = date_zone_offset(zone) / SECONDS_PER_HOUR;
    double k = std::trunc((time / SECONDS_PER_HOUR + z) / 24.0);
    if (std::fabs(k) > DAY_LIMIT) fire_time_range(time);
    time -= k * SECONDS_PER_DAY;
    days += static_cast<int64_t>(k);
    if (z * SECONDS_PER_HOUR + time < 0.0) {
        time += SECONDS_PER_DAY;
        days -= 1;
    }
}

void date_normalize(Cell* c, double time, bool from_local) {
    uint32_t w = c->data1;
    uint32_t zone = date_zone(w);
    if (from_local) time -= date_zone_offset(zone);
    int64_t days = date_word_to_days(w);
    date_apply_zone(days, time, zone);
    c->data1 = date_days_to_date(days, zone, date_has_time(w));
    set_cell_float(c, time);
}

void date_set_month(Cell* c, int32_t month) {
    uint32_t w = c->data1;
    // Months run on across years both ways: 0 is December of the year before.
    int64_t m = int64_t(month) - 1;
    int64_t year = date_year(w) + floor_div(m, 12);
    int32_t new_month = static_cast<int32_t>(floor_mod(m, 12)) + 1;
    int64_t days = date_to_days(year, new_month, date_day(w));
    c->data1 = date_days_to_date(days, date_zone(w), date_has_time(w));
}

// --- cells and builders ------------------------------------------------------------------

Cell* date_make_at(Cell* c, uint32_t w, double time) {
    *c = Cell{TYPE_DATE, w, 0, 0};
    set_cell_float(c, time);
    return c;
}

Cell* date_push(uint32_t w, double time) { return date_make_at(stack::push_slot(), w, time); }

Cell* date_make_in(const Cell* block, uint32_t w, uint32_t time_high, uint32_t time_low) {
    return date_make_at(block_alloc_tail(block), w, std::bit_cast<double>((uint64_t(time_high) << 32) | time_low));
}

Cell* date_make_from_os_parts(Cell* c, int32_t year, int32_t month, int32_t day, double time, int32_t zone_hours,
                              int32_t zone_minutes, bool has_time, bool zone_negative) {
    int32_t zone = 0;
    if (has_time) {
        int64_t h = zone_hours;
        int64_t minutes = (h < 0 ? -h : h) * 60 + (zone_minutes < 0 ? -int64_t(zone_minutes) : zone_minutes);
        zone = date_zone_bits(zone_negative || h < 0 ? -minutes : minutes);
        if (zone < 0) {
            Cell z;
            make_integer(&z, zone_hours);
            fire(Err::script_out_of_range, z);
        }
    }
    uint32_t w = date_pack(year, month, day, uint32_t(zone), has_time);
    return date_make_at(c, w, has_time ? time - date_zone_offset(uint32_t(zone)) : 0.0);
}

Cell* date_make_from_system_time(Cell* c, int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                                 int32_t second, int32_t nanoseconds) {
    double time = double(hour) * SECONDS_PER_HOUR + double(minute) * SECONDS_PER_MINUTE + double(second) +
                  double(nanoseconds) * 1e-09;
    return date_make_at(c, date_pack(year, month, day, 0, true), time);
}

Cell* date_make_from_clock(Cell* c, uint32_t date_word, double utc_seconds, bool date_only) {
    if (date_only) return date_make_at(c, date_word & ~(DATE_TIME_FLAG | ZONE_MASK), 0.0);
    // The date word is already the local day: only the time moves, by a day
    // when UTC is on the other side of midnight.
    double local = utc_seconds + date_zone_offset(date_zone(date_word));
    if (local >= SECONDS_PER_DAY) utc_seconds -= SECONDS_PER_DAY;
    else if (local < 0.0) utc_seconds += SECONDS_PER_DAY;
    return date_make_at(c, date_word | DATE_TIME_FLAG, utc_seconds);
}

// --- arithmetic and conversions ----------------------------------------------------------

Cell* date_do_math(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    if (op != OP_ADD && op != OP_SUBTRACT) fire_not_related_op(op, right);
    const uint32_t w = left->data1;
    const uint32_t zone = date_zone(w);
    bool has_time = date_has_time(w);
    int64_t days = date_word_to_days(w);
    double time = date_time(left);
    bool difference = false;
    switch (type_of(right)) {
    case TYPE_INTEGER: days += op == OP_ADD ? int64_t(cell_int(right)) : -int64_t(cell_int(right)); break;
    case TYPE_TIME:
        time = op == OP_ADD ? time + cell_float(right) : time - cell_float(right);
        has_time = true;
        break;
    case TYPE_DATE:
        if (op == OP_ADD) fire_not_related_op(op, right);
        days -= date_word_to_days(right->data1);
        time -= date_time(right);
        difference = true;
        break;
    default: fire_invalid_type(right);
    }
    date_apply_zone(days, time, zone);
    if (difference) {
        make_integer(left, static_cast<int32_t>(days));
        return left;
    }
    return date_make_at(left, date_days_to_date(days, zone, has_time), time);
}

int64_t date_to_epoch(const Cell* date) {
    double t = date_time(date);
    if (!(std::fabs(t) < 1e15)) fire_time_range(t);
    // Rounded as an instant: the result must not depend on the zone, and the
    // stored time is negative east of UTC.
    double whole = std::floor(t);
    int64_t seconds = static_cast<int64_t>(whole) + (t - whole >= 0.5 ? 1 : 0);
    int64_t days = date_word_to_days(date->data1) - date_to_days(1970, 1, 1);
    return days * 86400 + seconds;
}

int32_t date_to_integer(const Cell* date) {
    int64_t s = date_to_epoch(date);
    if (s < INT32_MIN || s > INT32_MAX) {
        Cell t;
        make_datatype(&t, TYPE_INTEGER);
        fire(Err::script_type_limit, t);
    }
    return static_cast<int32_t>(s);
}

Cell* date_difference(Cell* date1, const Cell* date2) {
    int64_t days = date_word_to_days(date1->data1) - date_word_to_days(date2->data1);
    double seconds = double(days) * SECONDS_PER_DAY + (date_time(date1) - date_time(date2));
    return time_make_at(date1, seconds);
}

// --- comparison ------------------------------------------------------------------------------

namespace {

// The local day as one ordered number (the year is signed).
int64_t day_key(uint32_t w) { return int64_t(date_year(w)) * 512 + date_month(w) * 32 + date_day(w); }

} // namespace

int32_t date_compare(Cell* value1, Cell* value2, CompareOp op) {
    if (type_of(value2) != TYPE_DATE) return -2;
    int64_t k1 = day_key(value1->data1);
    int64_t k2 = day_key(value2->data1);
    double t1 = date_time(value1);
    double t2 = date_time(value2);
    bool equal = k1 == k2 && float_almost_equal(t1, t2);
    switch (op) {
    case CompareOp::equal:
    case CompareOp::not_equal:
    case CompareOp::strict_equal:
    case CompareOp::find: return equal ? 0 : 1;
    case CompareOp::same: return k1 == k2 && std::bit_cast<uint64_t>(t1) == std::bit_cast<uint64_t>(t2) ? 0 : 1;
    default: break;
    }
    if (equal) return 0;
    if (k1 != k2) return k1 < k2 ? -1 : 1;
    return t1 < t2 ? -1 : (t1 > t2 ? 1 : 0);
}

// --- random ----------------------------------------------------------------------------------

Cell* date_random(Cell* value, const RandomArgs& refs) {
    const uint32_t w = value->data1;
    if (refs.seed) {
        random_seed(w + static_cast<uint32_t>(trunc_to_int32(date_time(value))));
        make_unset(value);
        return value;
    }
    // Every storable day count fits 32 bits.
    int32_t r = random_int_up_to(refs.secure, static_cast<int32_t>(date_word_to_days(w)));
    bool has_time = date_has_time(w);
    date_make_at(value, date_days_to_date(int64_t(r) - 1, date_zone(w), has_time), 0.0);
    if (!has_time) return value;
    uint32_t zone = uint32_t(random_next()) & ZONE_MASK;
    if (zone == ZONE_SIGN) zone = 0;  // no zone is never west
    value->data1 = (value->data1 & ~ZONE_MASK) | zone;
    double local = std::floor(float_random_draw(1.0, refs.secure) * 3600.0) * 24.0;
    date_normalize(value, local, true);
    return value;
}

// --- the action row --------------------------------------------------------------------------

namespace {

Cell* date_add() { return date_do_math(OP_ADD); }
Cell* date_subtract() { return date_do_math(OP_SUBTRACT); }

} // namespace

uint32_t date_key_hash(const Cell* key) {
    // The UTC instant, whole seconds apart from the fraction: one instant
    // written in two zones hashes alike.
    double t = date_time(key);
    struct {
        int64_t seconds;
        double fraction;
    } instant{date_word_to_days(key->data1), t};
    if (std::fabs(t) < 1e15) {
        double whole = std::floor(t);
        instant.seconds = instant.seconds * 86400 + static_cast<int64_t>(whole);
        instant.fraction = t - whole + 0.0;
    }
    return murmur3_hash(&instant, sizeof instant);
}

void register_date() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(date_make)
        .set<ACT_RANDOM>(date_random)
        .set<ACT_TO>(date_to)
        .set<ACT_FORM>(date_form)
        .set<ACT_MOLD>(date_mold)
        .set<ACT_EVAL_PATH>(date_eval_path)
        .set<ACT_COMPARE>(date_compare)
        .set<ACT_ADD>(date_add)
        .set<ACT_SUBTRACT>(date_subtract)
        .set<ACT_PICK>(date_pick);
    register_datatype(TYPE_DATE, 0, "date!", row);
    hash_compare_slots[TYPE_DATE] = date_compare;
}

} // namespace kem
