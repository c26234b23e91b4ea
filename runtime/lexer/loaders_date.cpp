// The date loader: separated forms (1-Jan-2020, 2020/1/1), ISO basic
// (20200101T101010Z), ISO week (2020-W01-1) and ordinal (2020-001) forms,
// each with an optional time of day and zone.
#include <cstdlib>
#include "runtime/datatypes/date.h"
#include "runtime/lexer/lexer_state.h"
#include "runtime/services/float_text.h"

namespace kem::lexer {

namespace {

constexpr const char* MONTH_NAMES[12] = {
    "january", "february", "march", "april", "may", "june",
    "july", "august", "september", "october", "november", "december",
};
constexpr int MONTH_DAYS[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

struct DateParts {
    int32_t year = 0, month = 1, day = 1;
    int32_t hours = 0, minutes = 0;
    double seconds = 0;
    int32_t zone_hours = 0, zone_minutes = 0;
    bool zone_negative = false;
    bool has_time = false;
};

// Reads the text of one date token; every failure ends in the invalid date! error.
class DateReader {
public:
    DateReader(LexerState& s, const uint8_t* start, const uint8_t* end) : s_(s), start_(start), p_(start), end_(end) {}

    [[noreturn]] void fail() { throw_load_error(s_, start_, end_, TYPE_DATE); }
    bool at(uint8_t b) const { return p_ < end_ && *p_ == b; }
    bool more() const { return p_ < end_; }
    bool digit_at(ptrdiff_t i) const { return p_ + i < end_ && p_[i] >= '0' && p_[i] <= '9'; }
    void expect(uint8_t b) {
        if (!at(b)) fail();
        p_++;
    }
    void skip() { p_++; }

    // Up to max digits (exactly max when exact); *count gets how many were read.
    int32_t number(int max, bool exact, int* count = nullptr) {
        int32_t value = 0;
        int n = 0;
        while (n < max && digit_at(0)) {
            value = value * 10 + (*p_++ - '0');
            n++;
        }
        if (n == 0 || (exact && n < max)) fail();
        if (count) *count = n;
        return value;
    }
    // An optional "-" then 1..4 digits.
    int32_t signed_number(int* count) {
        bool negative = at('-');
        if (negative) p_++;
        int32_t v = number(4, false, count);
        return negative ? -v : v;
    }
    // Digits and "." as a decimal number.
    double seconds() {
        const uint8_t* q = p_;
        while (q < end_ && ((*q >= '0' && *q <= '9') || *q == '.')) q++;
        if (q == p_) fail();
        size_t left = 0;
        double d = decimal_to_float(reinterpret_cast<const char*>(p_), reinterpret_cast<const char*>(q), 0, &left);
        if (left != 0) fail();
        p_ = q;
        return d;
    }
    // A month number of 1 or 2 digits, or a name of 3 to 9 letters that begins
    // a month's English name.
    int32_t month() {
        if (digit_at(0)) return number(2, false);
        const uint8_t* q = p_;
        while (q < end_ && ((*q | 0x20) >= 'a' && (*q | 0x20) <= 'z')) q++;
        size_t n = size_t(q - p_);
        if (n < 3 || n > 9) fail();
        for (int m = 0; m < 12; m++) {
            const char* name = MONTH_NAMES[m];
            size_t i = 0;
            while (i < n && name[i] && (p_[i] | 0x20) == name[i]) i++;
            if (i == n) {
                p_ = q;
                return m + 1;
            }
        }
        fail();
    }
    // hh:mm[:ss][Z | +-zh[[:]zm]] of the separated, week and ordinal forms.
    void time(DateParts& d) {
        d.has_time = true;
        d.hours = number(2, false);
        expect(':');
        d.minutes = number(2, false);
        if (at(':')) {
            skip();
            d.seconds = seconds();
        }
        if (at('Z')) {
            skip();
        } else if (at('+') || at('-')) {
            bool west = *p_++ == '-';
            int32_t h = number(2, false);
            if (at(':')) skip();
            int n = 0;
            while (n < 2 && digit_at(0)) {
                d.zone_minutes = d.zone_minutes * 10 + (*p_++ - '0');
                n++;
            }
            d.zone_hours = west ? -h : h;
            d.zone_negative = west && h == 0;
        }
    }
    void finish() {
        if (p_ != end_) fail();
    }

private:
    LexerState& s_;
    const uint8_t* start_;
    const uint8_t* p_;
    const uint8_t* end_;
};

bool calendar_ok(const DateParts& d) {
    if (d.month < 1 || d.month > 12 || d.day < 1 || d.year <= -10000 || d.year >= 10000) return false;
    if (d.day > MONTH_DAYS[d.month - 1]) return false;
    return !(d.month == 2 && d.day == 29 && !date_leap_year_q(d.year));
}

bool time_ok(const DateParts& d) {
    if (!d.has_time) return true;
    if (d.hours >= 24 || d.minutes >= 60 || !(d.seconds < 60.0)) return false;
    if (d.zone_hours <= -16 || d.zone_hours >= 16) return false;
    // A zone the date cannot store (beyond 15:45) is no date either.
    int64_t zone = int64_t(std::abs(d.zone_hours)) * 60 + d.zone_minutes;
    return date_zone_bits(d.zone_negative || d.zone_hours < 0 ? -zone : zone) >= 0;
}

} // namespace

void load_date(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    DateReader r(s, start, end);
    DateParts d;
    int first_digits = 0;
    int32_t first = r.signed_number(&first_digits);
    int32_t week = 0, weekday = 0, yearday = 0;
    bool is_week = false, separated = false;
    if (first_digits == 4 && r.digit_at(0)) {
        // ISO basic: yyyymmddThhmm then Z, or seconds and an optional zone.
        d.year = first;
        d.month = r.number(2, true);
        d.day = r.number(2, true);
        r.expect('T');
        d.has_time = true;
        d.hours = r.number(2, true);
        d.minutes = r.number(2, true);
        if (r.at('Z')) {
            r.skip();
        } else {
            d.seconds = r.seconds();
            if (r.at('Z')) {
                r.skip();
            } else if (r.at('+') || r.at('-')) {
                bool west = r.at('-');
                r.skip();
                int32_t h = r.number(2, true);
                d.zone_minutes = r.number(2, true);
                d.zone_hours = west ? -h : h;
                d.zone_negative = west && h == 0;
            }
        }
        r.finish();
        if (!calendar_ok(d)) r.fail();
    } else {
        if (!r.at('-') && !r.at('/')) r.fail();
        uint8_t separator = r.at('/') ? '/' : '-';
        r.skip();
        if (separator == '-' && first_digits == 4 && r.at('W')) {
            r.skip();
            d.year = first;
            is_week = true;
            week = r.number(2, true);
            if (r.at('-')) {
                r.skip();
                weekday = r.number(1, true);
                if (weekday < 1 || weekday > 7) r.fail();
            }
        } else if (separator == '-' && r.digit_at(0) && r.digit_at(1) && r.digit_at(2) && !r.digit_at(3)) {
            d.year = first;
            yearday = r.number(3, true);
            if (yearday == 0) r.fail();
        } else {
            d.month = r.month();
            r.expect(separator);
            int third_digits = 0;
            int32_t third = r.signed_number(&third_digits);
            int year_digits;
            if (third >= 0 && third <= 31 && first >= 100) {
                d.day = third;
                d.year = first;
                year_digits = first_digits;
            } else {
                d.day = first;
                d.year = third;
                year_digits = third_digits;
            }
            if (d.year >= 0 && d.year <= 99 && year_digits < 3) d.year += d.year < 50 ? 2000 : 1900;
            separated = true;
        }
        if (r.at('T') || (separated && r.at('/'))) {
            r.skip();
            r.time(d);
        }
        r.finish();
        if (!is_week && !yearday && !calendar_ok(d)) r.fail();
    }
    if (!time_ok(d)) r.fail();
    s.type = TYPE_DATE;
    s.position = end;
    if (!load) return;
    double time_of_day = double(d.hours) * 3600.0 + double(d.minutes) * 60.0 + d.seconds;
    Cell c;
    date_make_from_os_parts(&c, d.year, d.month, d.day, time_of_day, d.zone_hours, d.zone_minutes, d.has_time,
                            d.zone_negative);
    if (is_week) date_set_week(&c, week);
    if (weekday) date_set_weekday(&c, weekday);
    if (yearday) date_set_yearday(&c, yearday);
    emit_value(s, c);
}

} // namespace kem::lexer
