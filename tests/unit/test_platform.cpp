#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include "runtime/platform/platform.h"

using namespace kem::platform;
using namespace std::string_literals;

namespace {

// Sets TZ for one test and puts the previous zone back afterwards.
class ScopedTz {
public:
    explicit ScopedTz(const char* tz) {
        if (const char* old = std::getenv("TZ")) saved_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTz() {
        if (saved_) setenv("TZ", saved_->c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> saved_;
};

// Runs a test in a fresh temporary folder and returns to the starting folder.
class CurrentDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        start_ = cwd;
        char tmpl[] = "/tmp/kem-platform-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        // The canonical path, as the system reports it once we are inside.
        char* real = realpath(tmpl, nullptr);
        temp_ = real;
        std::free(real);
    }
    void TearDown() override {
        ASSERT_EQ(chdir(start_.c_str()), 0);
        std::string cmd = "rm -rf '" + temp_ + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    std::string start_, temp_;
};

constexpr uint32_t date_word(uint32_t y, uint32_t m, uint32_t d) { return (y << 17) | (m << 12) | (d << 7); }

} // namespace

// ---- time zone field and dates

TEST(ZoneBits, OffsetsEncodeAsHoursQuartersAndSign) {
    struct { long offset; uint32_t hours, quarters; bool west; } cases[] = {
        {0, 0, 0, false},
        {5 * 3600 + 30 * 60, 5, 2, false},   // 5 hours 30 east
        {-3 * 3600, 3, 0, true},             // 3 hours west
        {5 * 3600 + 45 * 60, 5, 3, false},
        {-(3 * 3600 + 30 * 60), 3, 2, true},
        {12 * 3600 + 45 * 60, 12, 3, false},
        {14 * 3600, 14, 0, false},
        {-(9 * 3600 + 30 * 60), 9, 2, true},
        {19 * 60 + 32, 0, 1, false},         // not a whole quarter: the rest is dropped
        {-10 * 60, 0, 0, false},             // rounds to nothing: UTC, no sign
        {15 * 3600 + 45 * 60, 15, 3, false}, // the widest the field holds
        {24 * 3600, 15, 3, false},           // held there instead of spilling into the sign
        {-16 * 3600, 15, 3, true},
    };
    for (auto& c : cases) {
        uint32_t bits = zone_bits(c.offset);
        EXPECT_EQ(bits >> 2 & 15, c.hours) << c.offset;
        EXPECT_EQ(bits & 3, c.quarters) << c.offset;
        EXPECT_EQ((bits & 0x40) != 0, c.west) << c.offset;
        EXPECT_EQ(bits & ~0x7Fu, 0u) << c.offset;
    }
}

TEST(Dates, PackedWordAtAnInstantInEachZone) {
    // 2024-02-29 20:00 UTC; 2024-03-01 05:00 UTC; summer and winter in a zone with daylight time.
    const time_t leap_evening = 1709236800, march_morning = 1709269200;
    const time_t july = 1719835200, january = 1705320000;
    struct { const char* tz; time_t at; bool utc; uint32_t expected; } cases[] = {
        {"IST-5:30", leap_evening, true, date_word(2024, 2, 29)},
        {"IST-5:30", leap_evening, false, date_word(2024, 3, 1) | (5 << 2) | 2},
        {"XXX3", leap_evening, false, date_word(2024, 2, 29) | 0x40 | (3 << 2)},
        {"XXX10", march_morning, false, date_word(2024, 2, 29) | 0x40 | (10 << 2)},
        {"XXX10", march_morning, true, date_word(2024, 3, 1)},
        {"NPT-5:45", march_morning, false, date_word(2024, 3, 1) | (5 << 2) | 3},
        {"UTC0", leap_evening, false, date_word(2024, 2, 29)},
        {"EST5EDT,M3.2.0,M11.1.0", july, false, date_word(2024, 7, 1) | 0x40 | (4 << 2)},
        {"EST5EDT,M3.2.0,M11.1.0", january, false, date_word(2024, 1, 15) | 0x40 | (5 << 2)},
        {"EST5EDT,M3.2.0,M11.1.0", -3600, false, date_word(1969, 12, 31) | 0x40 | (5 << 2)},
        {"EST5EDT,M3.2.0,M11.1.0", -3600, true, date_word(1969, 12, 31)},
    };
    for (auto& c : cases) {
        ScopedTz tz(c.tz);
        EXPECT_EQ(date_word_at(c.at, c.utc), c.expected) << c.tz << " " << c.at << (c.utc ? " utc" : " local");
    }
}

TEST(Dates, TimeOfDayIsUtcWithOptionalFraction) {
    const time_t midnight = 1709164800;  // 2024-02-29 00:00 UTC
    struct { time_t sec; long nsec; bool precise; double expected; } cases[] = {
        {midnight + 45296, 250000000, false, 45296.0},
        {midnight + 45296, 250000000, true, 45296.25},
        {midnight + 86399, 999999999, true, 86399.999999999},
        {midnight, 0, true, 0.0},
        {midnight + 72000, 0, false, 72000.0},
        {-3600, 500000000, true, 82800.5},  // before 1970 still counts from that day's midnight
    };
    ScopedTz tz("IST-5:30");  // the local zone has no say
    for (auto& c : cases) {
        EXPECT_DOUBLE_EQ(time_of_day_at(timespec{c.sec, c.nsec}, c.precise), c.expected) << c.sec;
    }
}

// time() may read a coarser clock than the one the platform layer reads, and
// lag it by a tick: bracket with the same clock.
time_t realtime_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec;
}

TEST(Dates, CurrentDateAndTimeMatchTheSystemClock) {
    ScopedTz tz("IST-5:30");
    for (int attempt = 0; attempt < 3; attempt++) {
        time_t before = realtime_seconds();
        uint32_t utc = get_date(true), local = get_date(false);
        double seconds = get_time(false), precise = get_time(true);
        DateTime both = get_date_time(false, true);
        time_t after = realtime_seconds();
        if (before / 60 != after / 60) continue;  // a minute boundary passed: dates may differ legitimately
        tm u{}, l{};
        gmtime_r(&before, &u);
        localtime_r(&before, &l);
        EXPECT_EQ(utc, date_word(u.tm_year + 1900, u.tm_mon + 1, u.tm_mday));
        EXPECT_EQ(local, date_word(l.tm_year + 1900, l.tm_mon + 1, l.tm_mday) | (5 << 2) | 2);
        EXPECT_EQ(both.date, local);
        double lo = static_cast<double>(before % 86400), hi = static_cast<double>(after % 86400) + 1;
        for (double s : {seconds, precise, both.seconds}) {
            EXPECT_GE(s, lo);
            EXPECT_LT(s, hi);
        }
        EXPECT_EQ(seconds, std::floor(seconds));
        return;
    }
    FAIL() << "the clock kept crossing minute boundaries";
}

TEST(Dates, LocalZoneFollowsTzChangedThroughTheEnvironment) {
    ScopedTz tz("IST-5:30");
    EXPECT_EQ(get_date(false) & 0x7F, (5u << 2) | 2);
    // A script changes TZ through set-env; now must see the new zone.
    ASSERT_TRUE(set_env("TZ", "XXX3"s));
    EXPECT_EQ(get_date(false) & 0x7F, 0x40u | (3 << 2));
    ASSERT_TRUE(set_env("TZ", "UTC0"s));
    EXPECT_EQ(get_date(false) & 0x7F, 0u);
}

// ---- clocks and sleeping

TEST(Wait, MillisecondsAreTruncatedWithAOneMillisecondFloor) {
    struct { double seconds; uint64_t ms; } cases[] = {
        {0.0005, 1}, {2.5, 2500}, {0.0, 1}, {0.001, 1}, {0.0019, 1}, {0.0029, 2},
        {1.0, 1000}, {-5.0, 1}, {NAN, 1}, {-INFINITY, 1},
    };
    for (auto& c : cases) EXPECT_EQ(wait_milliseconds(c.seconds), c.ms) << c.seconds;
    // Beyond any real wait: held at a bound, never an overflowed or wrapped count.
    uint64_t huge = wait_milliseconds(1e300);
    EXPECT_EQ(wait_milliseconds(INFINITY), huge);
    EXPECT_GE(huge, wait_milliseconds(1e12));
    EXPECT_GT(wait_milliseconds(1e12), 0u);
}

TEST(Wait, SleepsAtLeastTheRequestedTime) {
    struct { double seconds; uint64_t min_ns; } cases[] = {{0.0, 1'000'000}, {0.0005, 1'000'000}, {0.03, 30'000'000}};
    for (auto& c : cases) {
        uint64_t start = perf_counter_ns();
        wait(c.seconds);
        uint64_t elapsed = perf_counter_ns() - start;
        EXPECT_GE(elapsed, c.min_ns) << c.seconds;
        EXPECT_LT(elapsed, c.min_ns + 2'000'000'000) << c.seconds;
    }
}

namespace {
volatile sig_atomic_t alarms = 0;
void count_alarm(int) { alarms = alarms + 1; }
} // namespace

TEST(Wait, SignalsDoNotCutTheSleepShort) {
    struct sigaction sa{}, old{};
    sa.sa_handler = count_alarm;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no automatic restart: every alarm interrupts the sleep
    ASSERT_EQ(sigaction(SIGALRM, &sa, &old), 0);
    itimerval every_5ms{{0, 5000}, {0, 5000}}, off{};
    alarms = 0;
    ASSERT_EQ(setitimer(ITIMER_REAL, &every_5ms, nullptr), 0);
    uint64_t start = perf_counter_ns();
    wait(0.06);
    uint64_t elapsed = perf_counter_ns() - start;
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &old, nullptr);
    EXPECT_GT(alarms, 1);
    EXPECT_GE(elapsed, 60'000'000u);
    EXPECT_LT(elapsed, 2'060'000'000u);
}

TEST(PerfCounter, IsMonotonicInNanoseconds) {
    uint64_t a = perf_counter_ns();
    uint64_t b = perf_counter_ns();
    EXPECT_LE(a, b);
    wait(0.01);
    uint64_t c = perf_counter_ns();
    EXPECT_GE(c - b, 10'000'000u);
    EXPECT_EQ(PERF_COUNTER_FREQUENCY, 1'000'000'000u);
}

// ---- environment

TEST(Environment, SetGetAndRemove) {
    const char* name = "KEM_TEST_ENV_VAR";
    unsetenv(name);
    EXPECT_EQ(get_env(name), std::nullopt);
    EXPECT_TRUE(set_env(name, "caf\xC3\xA9 = ok"s));
    EXPECT_EQ(get_env(name), "caf\xC3\xA9 = ok");
    EXPECT_STREQ(std::getenv(name), "caf\xC3\xA9 = ok");
    // An empty value is a set variable, not a missing one.
    EXPECT_TRUE(set_env(name, ""s));
    EXPECT_EQ(get_env(name), "");
    EXPECT_TRUE(set_env(name, std::nullopt));
    EXPECT_EQ(get_env(name), std::nullopt);
    EXPECT_EQ(std::getenv(name), nullptr);
    EXPECT_TRUE(set_env(name, std::nullopt));  // removing what is not there is no failure
}

TEST(Environment, NamesAndValuesThatCannotBeVariablesAreRefused) {
    setenv("KEM_T", "kept", 1);
    setenv("KEM_T2", "kept too", 1);
    struct { std::string name; std::optional<std::string> value; } cases[] = {
        {"", "x"s},
        {"KEM_T=X", "x"s},        // would set KEM_T to "X=x"
        {"KEM_T\0X"s, "x"s},      // would set KEM_T
        {"KEM_T\0X"s, std::nullopt},  // would remove KEM_T
        {"KEM_T=", std::nullopt},
        {"KEM_T2", "a\0b"s},      // would store a cut-down value
    };
    for (auto& c : cases) {
        std::optional<std::string_view> v;
        if (c.value) v = *c.value;
        EXPECT_FALSE(set_env(c.name, v)) << c.name;
    }
    EXPECT_STREQ(std::getenv("KEM_T"), "kept");
    EXPECT_STREQ(std::getenv("KEM_T2"), "kept too");
    EXPECT_EQ(get_env(""), std::nullopt);
    EXPECT_EQ(get_env("KEM_T\0X"s), std::nullopt);
    unsetenv("KEM_T");
    unsetenv("KEM_T2");
}

TEST(Environment, LookupNeverMatchesAPrefixOfAnotherEntry) {
    // A value holding '=' must not make "NAME=part" look like a variable.
    static char entry[] = "KEM_T_EQ=X=y";
    ASSERT_EQ(putenv(entry), 0);
    EXPECT_EQ(get_env("KEM_T_EQ"), "X=y");
    EXPECT_EQ(get_env("KEM_T_EQ=X"), std::nullopt);
    char buf[16];
    EXPECT_EQ(get_env("KEM_T_EQ=X", buf, sizeof buf), 0u);
    unsetenv("KEM_T_EQ");
}

TEST(Environment, LengthConventionForCallerBuffers) {
    const char* name = "KEM_TEST_LEN";
    setenv(name, "hello", 1);
    setenv("KEM_TEST_EMPTY", "", 1);
    unsetenv("KEM_TEST_ABSENT");
    struct { const char* name; size_t size; size_t result; const char* written; } cases[] = {
        {"KEM_TEST_ABSENT", 0, 0, nullptr},
        {"KEM_TEST_ABSENT", 16, 0, nullptr},
        {name, 0, 6, nullptr},   // the size query: length and NUL
        {name, 5, 6, nullptr},   // no room for the NUL
        {name, 6, 5, "hello"},
        {name, 16, 5, "hello"},
        {"KEM_TEST_EMPTY", 0, 1, nullptr},  // set but empty: needs room for the NUL alone
        {"KEM_TEST_EMPTY", 1, 0, ""},
    };
    for (auto& c : cases) {
        char buf[16];
        std::memset(buf, '#', sizeof buf);
        EXPECT_EQ(get_env(c.name, c.size ? buf : nullptr, c.size), c.result) << c.name << " " << c.size;
        if (c.written) EXPECT_STREQ(buf, c.written) << c.name << " " << c.size;
        else EXPECT_EQ(buf[0], '#') << c.name << " " << c.size;
    }
    unsetenv(name);
    unsetenv("KEM_TEST_EMPTY");
}

TEST(Environment, ListingHoldsEveryVariableSplitAtTheFirstEquals) {
    setenv("KEM_TEST_LIST", "a=b=c", 1);
    setenv("KEM_TEST_LIST_EMPTY", "", 1);
    unsetenv("KEM_TEST_LIST_GONE");
    auto vars = list_env();
    std::map<std::string, std::string> by_name;
    for (auto& [n, v] : vars) {
        EXPECT_TRUE(by_name.emplace(n, v).second) << "listed twice: " << n;
        EXPECT_EQ(n.find('='), std::string::npos) << n;
    }
    size_t entries = 0;
    for (char** e = environ; *e; e++) entries++;
    EXPECT_EQ(vars.size(), entries);
    EXPECT_EQ(by_name.at("KEM_TEST_LIST"), "a=b=c");
    EXPECT_EQ(by_name.at("KEM_TEST_LIST_EMPTY"), "");
    EXPECT_EQ(by_name.count("KEM_TEST_LIST_GONE"), 0u);
    for (auto& [n, v] : by_name) EXPECT_EQ(get_env(n), v) << n;
    unsetenv("KEM_TEST_LIST");
    unsetenv("KEM_TEST_LIST_EMPTY");
}

// ---- current directory

TEST_F(CurrentDirTest, SetAndGetAbsoluteAndRelative) {
    ASSERT_TRUE(set_current_dir(temp_));
    EXPECT_EQ(get_current_dir(), temp_);
    ASSERT_EQ(mkdir("sub", 0700), 0);
    ASSERT_TRUE(set_current_dir("sub"));
    EXPECT_EQ(get_current_dir(), temp_ + "/sub");
    ASSERT_TRUE(set_current_dir(".."));
    EXPECT_EQ(get_current_dir(), temp_);
}

TEST_F(CurrentDirTest, FailuresLeaveTheDirectoryUnchanged) {
    ASSERT_TRUE(set_current_dir(temp_));
    ASSERT_EQ(mkdir("sub", 0700), 0);
    int fd = creat("file", 0600);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::string cases[] = {
        "missing", "file", "", "sub\0/missing"s,  // the part before the NUL exists: must not be entered
        temp_ + "\0"s,
    };
    for (auto& path : cases) {
        EXPECT_FALSE(set_current_dir(path)) << path;
        EXPECT_EQ(get_current_dir(), temp_) << path;
    }
}

TEST_F(CurrentDirTest, LongPathsAreReturnedWhole) {
    ASSERT_TRUE(set_current_dir(temp_));
    std::string expected = temp_;
    const std::string part(60, 'd');
    for (int i = 0; i < 12; i++) {  // well past any first guess at the size
        ASSERT_EQ(mkdir(part.c_str(), 0700), 0);
        ASSERT_TRUE(set_current_dir(part));
        expected += "/" + part;
    }
    EXPECT_GT(expected.size(), 700u);
    EXPECT_EQ(get_current_dir(), expected);
}

TEST_F(CurrentDirTest, ARemovedCurrentDirectoryIsReportedAsAFailure) {
    ASSERT_EQ(mkdir((temp_ + "/gone").c_str(), 0700), 0);
    ASSERT_TRUE(set_current_dir(temp_ + "/gone"));
    ASSERT_EQ(rmdir((temp_ + "/gone").c_str()), 0);
    EXPECT_EQ(get_current_dir(), std::nullopt);
}
