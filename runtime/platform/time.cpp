// Clocks, the local time zone and sleeping.
#include "runtime/platform/platform.h"
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace kem::platform {

namespace {

constexpr long SECONDS_PER_DAY = 86400;
constexpr long MAX_ZONE_SECONDS = 15 * 3600 + 45 * 60;  // the widest offset the zone field holds
// Far beyond any real wait, low enough that the nanosecond deadline stays in range.
constexpr uint64_t MAX_WAIT_MS = uint64_t(1) << 52;

timespec clock_now(clockid_t id) {
    timespec t{};
    clock_gettime(id, &t);
    return t;
}

uint32_t pack_tm(const tm& t) { return pack_date(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday); }

} // namespace

uint32_t zone_bits(long offset_seconds) {
    long magnitude = std::labs(offset_seconds);
    if (magnitude > MAX_ZONE_SECONDS) magnitude = MAX_ZONE_SECONDS;
    uint32_t hours = static_cast<uint32_t>(magnitude / 3600);
    uint32_t quarters = static_cast<uint32_t>(magnitude % 3600 / 900);
    uint32_t bits = (hours << ZONE_HOURS_SHIFT) | quarters;
    // An offset that rounds to nothing is UTC, not "minus zero".
    if (offset_seconds < 0 && bits != 0) bits |= ZONE_SIGN;
    return bits;
}

uint32_t date_word_at(time_t seconds, bool utc) {
    tm t{};
    if (!utc) {
        // localtime_r need not look at TZ again by itself; the zone must
        // follow a TZ changed since the last call.
        tzset();
        if (localtime_r(&seconds, &t)) return pack_tm(t) | zone_bits(t.tm_gmtoff);
    }
    if (!gmtime_r(&seconds, &t)) return 0;
    return pack_tm(t);
}

double time_of_day_at(const timespec& instant, bool precise) {
    // POSIX time has no leap seconds: every day is 86400 of them.
    long s = static_cast<long>(instant.tv_sec % SECONDS_PER_DAY);
    if (s < 0) s += SECONDS_PER_DAY;
    double result = static_cast<double>(s);
    if (precise) result += static_cast<double>(instant.tv_nsec) / 1e9;
    return result;
}

uint32_t get_date(bool utc) { return date_word_at(clock_now(CLOCK_REALTIME).tv_sec, utc); }

double get_time(bool precise) { return time_of_day_at(clock_now(CLOCK_REALTIME), precise); }

DateTime get_date_time(bool utc, bool precise) {
    timespec now = clock_now(CLOCK_REALTIME);
    return DateTime{date_word_at(now.tv_sec, utc), time_of_day_at(now, precise)};
}

uint64_t perf_counter_ns() {
    timespec t = clock_now(CLOCK_MONOTONIC);
    return static_cast<uint64_t>(t.tv_sec) * PERF_COUNTER_FREQUENCY + static_cast<uint64_t>(t.tv_nsec);
}

uint64_t wait_milliseconds(double seconds) {
    double ms = seconds * 1000.0;
    if (!(ms >= 1.0)) return 1;  // also NaN
    if (ms >= static_cast<double>(MAX_WAIT_MS)) return MAX_WAIT_MS;
    return static_cast<uint64_t>(ms);
}

void wait(double seconds) {
    uint64_t ms = wait_milliseconds(seconds);
    // An absolute deadline on the monotonic clock: a sleep resumed after a
    // signal neither ends early nor drifts, and clock changes do not matter.
    timespec deadline = clock_now(CLOCK_MONOTONIC);
    deadline.tv_sec += static_cast<time_t>(ms / 1000);
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1'000'000;
    if (deadline.tv_nsec >= 1'000'000'000) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1'000'000'000;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

} // namespace kem::platform
