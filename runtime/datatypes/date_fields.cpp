// date! fields: reading and setting them by path and pick, zones, and the
// week and day-of-year movers the lexer's date forms share.
#include <cmath>
#include "runtime/core/errors.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/time.h"

namespace kem {

namespace {

constexpr uint32_t ZONE_MASK = 0x7F;

int64_t floor_mod7(int64_t a) { return ((a % 7) + 7) % 7; }

// The field words; julian is a second name of yearday.
struct FieldName {
    const char* name;
    int32_t field;
};
constexpr FieldName field_names[] = {
    {"date", DATE_FIELD_DATE},       {"year", DATE_FIELD_YEAR},         {"month", DATE_FIELD_MONTH},
    {"day", DATE_FIELD_DAY},         {"zone", DATE_FIELD_ZONE},         {"time", DATE_FIELD_TIME},
    {"hour", DATE_FIELD_HOUR},       {"minute", DATE_FIELD_MINUTE},     {"second", DATE_FIELD_SECOND},
    {"weekday", DATE_FIELD_WEEKDAY}, {"yearday", DATE_FIELD_YEARDAY},   {"julian", DATE_FIELD_YEARDAY},
    {"timezone", DATE_FIELD_TIMEZONE}, {"week", DATE_FIELD_WEEK},       {"isoweek", DATE_FIELD_ISOWEEK},
};
constexpr int FIELD_NAME_COUNT = sizeof field_names / sizeof field_names[0];

// Canonical symbol ids of the field words, interned on first use.
uint32_t field_symbol(int i) {
    static uint32_t ids[FIELD_NAME_COUNT] = {};
    if (!ids[i]) ids[i] = symbol_resolve(symbol_make(field_names[i].name));
    return ids[i];
}

double local_time(const Cell* date) { return date_time(date) + date_zone_offset(date_zone(date_word(date))); }

// Moves the date to another day count, keeping its zone, time flag and time.
void move_to_day(Cell* c, int64_t days) {
    uint32_t w = date_word(c);
    c->data1 = date_days_to_date(days, date_zone(w), date_has_time(w));
}

// Week number with weeks beginning on Sunday; week 1 ends on the first Saturday.
int32_t sunday_week(uint32_t w) {
    int64_t start = date_year_start(date_year(w));
    int64_t e = floor_mod7(start + 3);  // weekday of 1 January, 0 = Sunday
    int64_t d = date_word_to_days(w) - start + 1;
    if (d <= 7 - e) return 1;
    return static_cast<int32_t>((d + e - 1) / 7 + 1);
}

int32_t iso_week(uint32_t w) {
    int64_t year = date_year(w);
    int64_t days = date_word_to_days(w);
    int64_t start = date_iso_week1_start(year);
    if (days < start) {
        int64_t jan1 = floor_mod7(date_year_start(year) + 2);  // 0 = Monday
        if (jan1 == 4) return 53;
        if (jan1 == 5) return date_leap_year_q(year - 1) ? 53 : 52;
        return 52;
    }
    if (days < date_iso_week1_start(year + 1)) return static_cast<int32_t>(1 + (days - start) / 7);
    return 1;
}

} // namespace

// --- movers ------------------------------------------------------------------------------

void date_set_weekday(Cell* c, int32_t weekday) {
    int64_t days = date_word_to_days(date_word(c));
    move_to_day(c, days + (int64_t(weekday) - 1) - (date_weekday(days) - 1));
}

void date_set_yearday(Cell* c, int32_t yearday) {
    move_to_day(c, date_year_start(date_year(date_word(c))) + int64_t(yearday) - 1);
}

void date_set_week(Cell* c, int32_t week) {
    int64_t start = date_year_start(date_year(date_word(c)));
    int64_t e = floor_mod7(start + 3);
    move_to_day(c, week > 1 ? start + int64_t(week) * 7 - e - 7 : start);
}

void date_set_isoweek(Cell* c, int32_t week) {
    move_to_day(c, date_iso_week1_start(date_year(date_word(c))) + (int64_t(week) - 1) * 7);
}

void date_set_zone(Cell* c, const Cell* zone, bool adjust) {
    int64_t minutes;
    if (is_type(zone, TYPE_INTEGER)) {
        minutes = int64_t(cell_int(zone) % 16) * 60;
    } else if (is_type(zone, TYPE_TIME)) {
        double s = std::fmod(cell_float(zone), 16.0 * 3600.0);
        if (std::isnan(s)) fire(Err::script_invalid_arg, *zone);
        int64_t whole = static_cast<int64_t>(std::fabs(s) / 60.0);
        minutes = s < 0.0 ? -whole : whole;
    } else {
        fire(Err::script_invalid_arg, *zone);
    }
    uint32_t bits = uint32_t(date_zone_bits(minutes));  // within 15:59, always storable
    uint32_t w = date_word(c);
    double time = date_time(c);
    if (adjust) {
        // The same instant seen from the new zone.
        c->data1 = (w & ~ZONE_MASK) | DATE_TIME_FLAG | bits;
        date_normalize(c, time, false);
        return;
    }
    // The same clock time in the new zone: the day stays as it is.
    double local = time + date_zone_offset(date_zone(w));
    c->data1 = (w & ~ZONE_MASK) | DATE_TIME_FLAG | bits;
    set_cell_float(c, local - date_zone_offset(bits));
}

// --- reading -----------------------------------------------------------------------------

int32_t date_field_index(const Cell* word) {
    uint32_t symbol = symbol_resolve(word->data2);
    for (int i = 0; i < FIELD_NAME_COUNT; i++)
        if (symbol == field_symbol(i)) return field_names[i].field;
    return -1;
}

Cell* date_push_field(const Cell* date, int32_t field) {
    const uint32_t w = date_word(date);
    const bool has_time = date_has_time(w);
    switch (field) {
    case DATE_FIELD_DATE: return date_push(w & ~(DATE_TIME_FLAG | ZONE_MASK), 0.0);
    case DATE_FIELD_YEAR: return integer_push(date_year(w));
    case DATE_FIELD_MONTH: return integer_push(date_month(w));
    case DATE_FIELD_DAY: return integer_push(date_day(w));
    case DATE_FIELD_ZONE:
    case DATE_FIELD_TIMEZONE: return has_time ? time_push(date_zone_offset(date_zone(w))) : none_push();
    case DATE_FIELD_TIME: return has_time ? time_push(local_time(date)) : none_push();
    case DATE_FIELD_HOUR: return integer_push(time_hours(local_time(date)));
    case DATE_FIELD_MINUTE: return integer_push(time_minutes(local_time(date)));
    case DATE_FIELD_SECOND: return float_push(time_seconds(local_time(date)));
    case DATE_FIELD_WEEKDAY: return integer_push(date_weekday(date_word_to_days(w)));
    case DATE_FIELD_YEARDAY: return integer_push(date_yearday(w));
    case DATE_FIELD_WEEK: return integer_push(sunday_week(w));
    default: return integer_push(iso_week(w));
    }
}

// --- setting -----------------------------------------------------------------------------

namespace {

void set_field(Cell* c, int32_t field, const Cell* value) {
    switch (field) {
    case DATE_FIELD_YEAR:
    case DATE_FIELD_MONTH:
    case DATE_FIELD_DAY:
    case DATE_FIELD_WEEKDAY:
    case DATE_FIELD_YEARDAY:
    case DATE_FIELD_WEEK:
    case DATE_FIELD_ISOWEEK:
        if (!is_type(value, TYPE_INTEGER)) fire(Err::script_invalid_arg, *value);
        break;
    case DATE_FIELD_DATE:
        if (!is_type(value, TYPE_DATE)) fire(Err::script_invalid_arg, *value);
        break;
    default: break;
    }
    const uint32_t w = date_word(c);
    const int32_t n = cell_int(value);
    switch (field) {
    case DATE_FIELD_DATE: {
        // The other date's day and time flag, under this date's zone.
        uint32_t other = date_word(value);
        bool has_time = date_has_time(other);
        c->data1 = (other & ~ZONE_MASK) | (has_time ? date_zone(w) : 0);
        if (!has_time) set_cell_float(c, 0.0);
        break;
    }
    case DATE_FIELD_YEAR: {
        // Through the day count: 29 February of a common year is 1 March.
        if (n < DATE_YEAR_MIN || n > DATE_YEAR_MAX) fire(Err::script_out_of_range, *value);
        move_to_day(c, date_to_days(n, date_month(w), date_day(w)));
        break;
    }
    case DATE_FIELD_MONTH: date_set_month(c, n); break;
    case DATE_FIELD_DAY: move_to_day(c, date_to_days(date_year(w), date_month(w), 0) + n); break;
    case DATE_FIELD_WEEKDAY: date_set_weekday(c, n); break;
    case DATE_FIELD_YEARDAY: date_set_yearday(c, n); break;
    case DATE_FIELD_WEEK: date_set_week(c, n); break;
    case DATE_FIELD_ISOWEEK: date_set_isoweek(c, n); break;
    case DATE_FIELD_ZONE: date_set_zone(c, value, false); break;
    case DATE_FIELD_TIMEZONE: date_set_zone(c, value, true); break;
    case DATE_FIELD_TIME:
        if (is_type(value, TYPE_NONE)) {
            c->data1 = w & ~(DATE_TIME_FLAG | ZONE_MASK);
            set_cell_float(c, 0.0);
        } else if (is_type(value, TYPE_TIME)) {
            c->data1 = w | DATE_TIME_FLAG;
            date_normalize(c, cell_float(value), true);
        } else {
            fire(Err::script_invalid_arg, *value);
        }
        break;
    default: {  // hour, minute, second: set on the local time of day
        double local = time_set_field(local_time(c), field - DATE_FIELD_HOUR + TIME_HOUR, value);
        c->data1 = w | DATE_TIME_FLAG;
        date_normalize(c, local, true);
        break;
    }
    }
}

[[noreturn]] void fire_invalid_path(const Cell* path, const Cell* element) {
    fire(Err::script_invalid_path, path ? *path : none_value, *element);
}

} // namespace

Cell* date_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step) {
    int32_t field = -1;
    if (is_type(element, TYPE_INTEGER)) field = cell_int(element);
    else if (is_type(element, TYPE_WORD)) field = date_field_index(element);
    if (field < DATE_FIELD_DATE || field > DATE_FIELD_ISOWEEK) fire_invalid_path(step.path, element);
    if (!value) return date_push_field(parent, field);

    // Set on a copy: a refused value leaves the date as it was.
    const Cell old = *parent;
    Cell changed = old;
    set_field(&changed, field, value);
    *parent = changed;
    if (step.notify) notify_scalar_owner(step.owner, step.prev_element, old, changed);
    return value;
}

Cell* date_pick(Cell* value, int32_t index, Cell* boxed) {
    int32_t field = index;
    if (boxed && is_type(boxed, TYPE_WORD)) field = date_field_index(boxed);
    if (field < DATE_FIELD_DATE || field > DATE_FIELD_ISOWEEK) {
        Cell shown;
        if (!boxed) boxed = integer_make_at(&shown, index);
        fire(Err::script_out_of_range, *boxed);
    }
    return date_push_field(value, field);
}

} // namespace kem
