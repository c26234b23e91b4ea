// Converting date! values: make and to (from blocks of day, month, year,
// time and zone, and for to from seconds since 1970), and the text that mold
// and form write: 15-Jan-2020, 15-Jan-2020/10:30:00+05:30.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/time.h"

namespace kem {

namespace {

[[noreturn]] void fire_bad_to(const Cell* spec) {
    Cell t;
    make_datatype(&t, TYPE_DATE);
    fire(Err::script_bad_to_arg, t, *spec);
}

// What a spec block said, in the order the reader met it.
struct DateSpec {
    int64_t numbers[3] = {0, 0, 0};  // day, month, year (or year first)
    bool clock_numbers = false;      // hour, minute and second given as numbers
    int64_t hour = 0;
    int64_t minute = 0;
    double second = 0.0;
    bool clock_time = false;  // the time given as a time!
    double time = 0.0;
    int zone_kind = 0;  // 0 none, 1 hours and minutes, 2 a time!
    int64_t zone_hours = 0;
    int64_t zone_minutes = 0;
    double zone_time = 0.0;
};

// The reader's states: what the next item may be. A state with no entry for
// an item's type refuses it.
enum : int {
    S_DAY = 0,
    S_MONTH = 1,
    S_YEAR = 2,
    S_CLOCK = 3,       // hour or time!
    S_AFTER_TIME = 4,  // zone hours or zone time!
    S_DONE_ZONE = 5,
    S_ZONE_MINUTES_T = 6,
    S_DONE_MINUTES_T = 7,
    S_MINUTE = 8,
    S_SECOND = 9,
    S_AFTER_SECOND = 10,  // zone hours or zone time!
    S_DONE_ZONE_S = 11,
    S_ZONE_MINUTES_S = 12,
    S_DONE_MINUTES_S = 13,
};

DateSpec read_spec(const Cell* spec) {
    std::vector<Cell> items = block_cells_copy(spec);
    if (items.size() < 3) fire_bad_to(spec);
    DateSpec d;
    int state = S_DAY;
    for (const Cell& item : items) {
        uint8_t t = type_of(&item);
        bool is_int = t == TYPE_INTEGER;
        bool is_time = t == TYPE_TIME;
        int64_t n = is_int ? cell_int(&item) : 0;
        switch (state) {
        case S_DAY:
        case S_MONTH:
        case S_YEAR:
            if (!is_int) fire_bad_to(spec);
            d.numbers[state] = n;
            state++;
            break;
        case S_CLOCK:
            if (is_int) {
                d.clock_numbers = true;
                d.hour = n;
                state = S_MINUTE;
            } else if (is_time) {
                d.clock_time = true;
                d.time = cell_float(&item);
                state = S_AFTER_TIME;
            } else {
                fire_bad_to(spec);
            }
            break;
        case S_AFTER_TIME:
        case S_AFTER_SECOND:
            if (is_int) {
                d.zone_kind = 1;
                d.zone_hours = n;
                state = state == S_AFTER_TIME ? S_ZONE_MINUTES_T : S_ZONE_MINUTES_S;
            } else if (is_time) {
                d.zone_kind = 2;
                d.zone_time = cell_float(&item);
                state = state == S_AFTER_TIME ? S_DONE_ZONE : S_DONE_ZONE_S;
            } else {
                fire_bad_to(spec);
            }
            break;
        case S_ZONE_MINUTES_T:
        case S_ZONE_MINUTES_S:
            if (!is_int) fire_bad_to(spec);
            d.zone_minutes = n;
            state = state == S_ZONE_MINUTES_T ? S_DONE_MINUTES_T : S_DONE_MINUTES_S;
            break;
        case S_MINUTE:
            if (!is_int) fire_bad_to(spec);
            d.minute = n;
            state = S_SECOND;
            break;
        case S_SECOND:
            if (is_int) d.second = double(n);
            else if (t == TYPE_FLOAT) d.second = cell_float(&item);
            else fire_bad_to(spec);
            state = S_AFTER_SECOND;
            break;
        default: fire_bad_to(spec);  // the zone is complete: nothing may follow
        }
    }
    return d;
}

// Zone bits of the spec's zone; a zone the date cannot hold is refused.
uint32_t spec_zone_bits(const DateSpec& d, const Cell* spec) {
    int64_t minutes;
    switch (d.zone_kind) {
    case 1: {
        int64_t h = d.zone_hours < 0 ? -d.zone_hours : d.zone_hours;
        int64_t m = d.zone_minutes < 0 ? -d.zone_minutes : d.zone_minutes;
        minutes = h * 60 + m;
        if (d.zone_hours < 0) minutes = -minutes;
        break;
    }
    case 2: {
        double s = d.zone_time;
        if (!(std::fabs(s) < 86400.0)) fire_bad_to(spec);
        int64_t whole = static_cast<int64_t>(std::fabs(s) / 60.0);
        minutes = s < 0.0 ? -whole : whole;
        break;
    }
    default: return 0;
    }
    int32_t bits = date_zone_bits(minutes);
    if (bits < 0) fire_bad_to(spec);
    return uint32_t(bits);
}

// Reads a spec block into the cell. strict (make) refuses a day, month or
// time of day that normalisation would have to move.
Cell* from_fields(Cell* out, Cell* spec, bool strict) {
    DateSpec d = read_spec(spec);
    int64_t day = d.numbers[0];
    int64_t month = d.numbers[1];
    int64_t year = d.numbers[2];
    if (day > 99 && year < day) std::swap(day, year);  // year first: [2020 1 15]
    const uint32_t zone = spec_zone_bits(d, spec);
    const bool has_time = d.clock_numbers || d.clock_time;

    double local = 0.0;
    if (d.clock_numbers) local = double(d.hour) * 3600.0 + double(d.minute) * 60.0 + d.second;
    else if (d.clock_time) local = d.time;

    // The day under zone 0 first, so that the strict check sees the day and
    // the time of day the fields make by themselves.
    Cell c;
    date_make_at(&c, date_pack(year, 1, 1, 0, has_time), 0.0);
    date_set_month(&c, static_cast<int32_t>(month));
    uint32_t w = c.data1;
    int64_t days = date_to_days(date_year(w), date_month(w), 0) + day;
    double time = local;
    date_apply_zone(days, time, 0);
    w = date_days_to_date(days, 0, has_time);

    if (strict) {
        bool same_day = date_year(w) == year && date_month(w) == month && date_day(w) == day;
        if (!same_day) fire_bad_to(spec);
        if (has_time) {
            int64_t given_hour = d.clock_numbers ? d.hour : time_hours(d.time);
            int64_t given_minute = d.clock_numbers ? d.minute : time_minutes(d.time);
            if (given_hour < 0 || given_hour > 23 || time_minutes(time) != given_minute) fire_bad_to(spec);
        }
    }

    date_make_at(out, (w & ~0x7Fu) | (has_time ? zone : 0), 0.0);
    date_normalize(out, time, true);
    return out;
}

// Seconds since 1970-01-01 UTC; earlier instants come out before 1970.
Cell* from_epoch(Cell* out, int32_t seconds) {
    int64_t s = seconds;
    int64_t days = s / 86400;
    int64_t rest = s % 86400;
    if (rest < 0) {
        rest += 86400;
        days -= 1;
    }
    uint32_t w = date_days_to_date(date_to_days(1970, 1, 1) + days, 0, true);
    return date_make_at(out, w, double(rest));
}

Cell* make_or_to(Cell* proto, Cell* spec, bool strict) {
    switch (type_of(spec)) {
    case TYPE_DATE: *proto = *spec; return proto;
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: return from_fields(proto, spec, strict);
    case TYPE_INTEGER:
        if (!strict) return from_epoch(proto, cell_int(spec));
        [[fallthrough]];
    default: fire_bad_to(spec);
    }
}

} // namespace

Cell* date_make(Cell* proto, Cell* spec, int32_t type) { return make_or_to(proto, spec, true); }

Cell* date_to(Cell* proto, Cell* spec, int32_t type) { return make_or_to(proto, spec, false); }

// --- text ----------------------------------------------------------------------------------

const Cell* (*date_locale_months)() = nullptr;

namespace {

const char* const english_months[] = {"January", "February", "March",     "April",   "May",      "June",
                                      "July",    "August",   "September", "October", "November", "December"};

[[noreturn]] void fire_invalid_months() { fire(Err::script_invalid_months); }

// Appends the first three characters of the month's name; answers how many.
int32_t append_month(Cell* buffer, int32_t month) {
    const Cell* months = date_locale_months ? date_locale_months() : nullptr;
    if (!months) {
        if (month < 1 || month > 12) fire_invalid_months();
        string_append_ascii(buffer, std::string_view(english_months[month - 1], 3));
        return 3;
    }
    if (month < 1 || block_rs_length(months) < month) fire_invalid_months();
    Cell name = *block_rs_abs_at(months, uint32_t(series_position(months) + month - 1));
    if (!is_type(&name, TYPE_STRING)) fire_invalid_months();
    int32_t n = string_rs_length(&name);
    if (n > 3) n = 3;
    for (int32_t i = 0; i < n; i++)
        string_append_char(buffer, string_char_at(&name, series_index(&name) + uint32_t(i)));
    return n;
}

std::string year_text(int32_t year) {
    char text[16];
    if (year < 0) std::snprintf(text, sizeof text, "-%d", -year);
    else std::snprintf(text, sizeof text, year < 100 ? "%04d" : "%d", year);
    return text;
}

int32_t write_date(const Cell* value, Cell* buffer, int32_t part) {
    const uint32_t w = date_word(value);
    const int32_t year = date_year(w);
    const char* separator = year < 0 ? "/" : "-";
    std::string head = std::to_string(date_day(w)) + separator;
    string_append_ascii(buffer, head);
    int32_t written = int32_t(head.size()) + append_month(buffer, date_month(w));
    std::string tail = separator + year_text(year);
    if (date_has_time(w)) tail += '/';
    string_append_ascii(buffer, tail);
    written += int32_t(tail.size());
    if (!date_has_time(w)) return part - written;

    const uint32_t zone = date_zone(w);
    part = time_form_time(date_time(value) + date_zone_offset(zone), buffer, part - written);
    if (zone == 0) return part;
    char zone_text[8];
    std::snprintf(zone_text, sizeof zone_text, "%c%02u:%02u", (zone & 0x40) ? '-' : '+', (zone >> 2) & 15,
                  (zone & 3) * 15);
    string_append_ascii(buffer, zone_text);
    return part - 6;
}

} // namespace

int32_t date_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) { return write_date(value, buffer, part); }

int32_t date_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    return write_date(value, buffer, part);
}

} // namespace kem
