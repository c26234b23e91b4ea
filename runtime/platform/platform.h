// The thin layer over the operating system: current directory, environment,
// sleeping, clocks and the platform set-up of start-up. Memory is in vm.h,
// files and folders in files.h.
//
// Texts crossing this layer are UTF-8 byte strings (paths and environment
// strings are bytes on Linux); callers convert them to and from Kem strings.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kem::platform {

// The platform step of the runtime start-up; safe to call more than once.
void platform_init();

// ---- current directory (dir.cpp)

// The process's current directory; nullopt when it cannot be had (for
// example, the folder was removed while current).
std::optional<std::string> get_current_dir();
// False on failure, the current directory then unchanged. A path holding a
// NUL byte is refused rather than cut short at it.
bool set_current_dir(std::string_view path);

// ---- environment (env.cpp)

// Sets a variable, or removes it when the value is nullopt. False when the
// name is empty or holds '=' or NUL, when the value holds NUL, or when the
// system refuses; the environment is then unchanged.
bool set_env(std::string_view name, std::optional<std::string_view> value);
// The value of a variable, nullopt when it is not set. A set variable may be
// empty. Names that cannot be variables ('=' or NUL inside, empty) are never set.
std::optional<std::string> get_env(std::string_view name);
// The two-call convention of the environment query, in bytes: 0 when the
// variable is not set; when the buffer cannot hold the value and its NUL,
// the size needed with the NUL (buffer untouched; size 0 asks for it);
// otherwise the value and a NUL are written and its length without the NUL
// is returned.
size_t get_env(std::string_view name, char* buffer, size_t size);
// Every variable of the process as (name, value), in the environment's order.
std::vector<std::pair<std::string, std::string>> list_env();

// ---- time (time.cpp)

// Packed date word of date!: year in bits 17 and up, month in bits 12-15,
// day in bits 7-11; the time-present bit 16 and zone bits 0-6 stay clear.
constexpr uint32_t DATE_YEAR_SHIFT = 17;
constexpr uint32_t DATE_MONTH_SHIFT = 12;
constexpr uint32_t DATE_DAY_SHIFT = 7;
constexpr uint32_t DATE_ZONE_MASK = 0x7F;
constexpr uint32_t ZONE_SIGN = 0x40;  // set west of UTC
constexpr uint32_t ZONE_HOURS_SHIFT = 2;
constexpr uint32_t ZONE_QUARTERS_MASK = 3;

constexpr uint32_t pack_date(int year, int month, int day) {
    return (static_cast<uint32_t>(year) << DATE_YEAR_SHIFT) | ((static_cast<uint32_t>(month) & 15) << DATE_MONTH_SHIFT) |
           ((static_cast<uint32_t>(day) & 31) << DATE_DAY_SHIFT);
}

// Zone field for an offset east of UTC in seconds: whole hours in bits 2-5,
// quarter hours in bits 0-1 (a part below a quarter is dropped), bit 6 set
// west of UTC. Offsets beyond 15:45 are held at 15:45, so they cannot spill
// into the sign bit.
uint32_t zone_bits(long offset_seconds);

// The date at an instant: UTC with zone 0, or the local date with the local
// zone in force at that instant (daylight time included).
uint32_t date_word_at(time_t seconds, bool utc);
// UTC seconds of the day at an instant; with precise, plus the fraction of
// the second.
double time_of_day_at(const timespec& instant, bool precise);

// The current date word, as date_word_at. The local zone follows TZ as it
// is now, also after set_env changed it.
uint32_t get_date(bool utc);
// The current UTC time of day in seconds, as time_of_day_at.
double get_time(bool precise);

// Date and time of day from one reading of the clock: two separate calls
// can straddle midnight and pair one day's date with the next day's time.
struct DateTime {
    uint32_t date;   // as get_date
    double seconds;  // as get_time
};
DateTime get_date_time(bool utc, bool precise);

// A monotonic counter in nanoseconds for measuring intervals; its zero is arbitrary.
uint64_t perf_counter_ns();
constexpr uint64_t PERF_COUNTER_FREQUENCY = 1'000'000'000;

// ---- sleeping (time.cpp)

// The milliseconds a wait of that many seconds sleeps: seconds x 1000
// truncated, at least 1 (also for negative and NaN inputs); held at a
// bound far beyond any real wait instead of overflowing.
uint64_t wait_milliseconds(double seconds);
// Sleeps wait_milliseconds(seconds); signals do not cut it short.
void wait(double seconds);

} // namespace kem::platform
