#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include "runtime/services/float_text.h"

using namespace kem;

namespace {

struct ShortestCase { uint64_t bits; const char* repr; };
struct DigitsCase { uint64_t bits; int digits; const char* text; };
struct ParseCase { const char* text; uint64_t bits; };
#include "data/float_cases.inc"

double from_bits(uint64_t b) {
    double d;
    std::memcpy(&d, &b, sizeof d);
    return d;
}
uint64_t to_bits(double d) {
    uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

// A decimal text reduced to its digits without leading or trailing zeros and
// decpt, value = 0.digits x 10^decpt.
struct Digits {
    std::string digits;
    int decpt;
};
Digits normalise(const char* text) {
    std::string s = text;
    if (s[0] == '-') s.erase(0, 1);
    int exponent = 0;
    size_t e = s.find_first_of("eE");
    if (e != std::string::npos) {
        exponent = std::stoi(s.substr(e + 1));
        s.erase(e);
    }
    size_t point = s.find('.');
    int int_len = static_cast<int>(point == std::string::npos ? s.size() : point);
    if (point != std::string::npos) s.erase(point, 1);
    int decpt = int_len + exponent;
    size_t first = s.find_first_not_of('0');
    decpt -= static_cast<int>(first);
    s.erase(0, first);
    s.erase(s.find_last_not_of('0') + 1);
    return {s, decpt};
}

double parse(const std::string& s, int e0 = 0, size_t* left = nullptr) {
    return decimal_to_float(s.data(), s.data() + s.size(), e0, left);
}

} // namespace

TEST(FloatText, ShortestDigitsMatchPythonRepr) {
    for (const auto& c : shortest_cases) {
        double x = from_bits(c.bits);
        int decpt, count;
        bool negative;
        std::string digits = float_to_decimal(x, 0, &decpt, &negative, &count, true);
        Digits want = normalise(c.repr);
        EXPECT_EQ(digits, want.digits) << c.repr;
        EXPECT_EQ(decpt, want.decpt) << c.repr;
        EXPECT_EQ(count, static_cast<int>(digits.size())) << c.repr;
        EXPECT_EQ(negative, c.repr[0] == '-') << c.repr;
    }
}

TEST(FloatText, CorrectlyRoundedDigitsMatchPython) {
    for (const auto& c : digits_cases) {
        int decpt, count;
        bool negative;
        std::string digits = float_to_decimal(from_bits(c.bits), c.digits, &decpt, &negative, &count, false);
        Digits want = normalise(c.text);
        EXPECT_EQ(digits, want.digits) << c.text << " with " << c.digits << " digits";
        EXPECT_EQ(decpt, want.decpt) << c.text << " with " << c.digits << " digits";
    }
}

TEST(FloatText, ParsingMatchesPython) {
    for (const auto& c : parse_cases) {
        size_t left = 99;
        double x = parse(c.text, 0, &left);
        EXPECT_EQ(to_bits(x), c.bits) << c.text;
        EXPECT_EQ(left, 0u) << c.text;
    }
}

TEST(FloatText, FormedTextReadsBackExactly) {
    auto round_trip = [](double x) {
        for (bool keep : {true, false}) {
            std::string text = form_float(x, 0, keep);
            size_t left = 99;
            double back = parse(text, 0, &left);
            ASSERT_EQ(to_bits(back), to_bits(x)) << text;
            ASSERT_EQ(left, 0u) << text;
        }
    };
    for (const auto& c : shortest_cases) round_trip(from_bits(c.bits));
    std::mt19937_64 gen(7);
    for (int i = 0; i < 100000; i++) {
        uint64_t b = gen();
        if (((b >> 52) & 0x7FF) != 0x7FF) round_trip(from_bits(b));
    }
}

TEST(FloatText, NotationRules) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct { double x; int digits; bool keep; const char* text; } cases[] = {
        {0.1 + 0.2, 0, true, "0.30000000000000004"},
        {123.0, 0, true, "123.0"},
        {123.0, 0, false, "123"},
        {-123.5, 0, false, "-123.5"},
        // fixed notation up to 17 integer digits, then scientific
        {1e16, 0, true, "10000000000000000.0"},
        {99999999999999984.0, 0, true, "99999999999999980.0"},
        {1e17, 0, true, "1.0e17"},
        {1e17, 0, false, "1e17"},
        {-1.2345678901234567e17, 0, true, "-1.2345678901234566e17"},
        {1.5e300, 0, true, "1.5e300"},
        {1.7976931348623157e308, 0, true, "1.7976931348623157e308"},
        // down to 1e-7 in fixed notation, below it scientific
        {1e-7, 0, true, "0.0000001"},
        {1.2345e-7, 0, true, "0.00000012345"},
        {9.5e-8, 0, true, "9.5e-8"},
        {1.5e-8, 0, true, "1.5e-8"},
        {-1e-8, 0, true, "-1.0e-8"},
        {-1e-8, 0, false, "-1e-8"},
        {5e-324, 0, true, "5.0e-324"},
        {0.5, 0, false, "0.5"},
        // n digits, rounded, trailing zeros dropped
        {2.0 / 3.0, 6, false, "0.666667"},
        {0.5, 6, false, "0.5"},
        {1234567.0, 3, false, "1230000"},
        {1234567.0, 3, true, "1230000.0"},
        {9.9999, 3, false, "10"},
        {2.5, 1, false, "2"},
        {3.5, 1, false, "4"},
        {1e20, 6, false, "1e20"},
        {0.1, 22, true, "0.1000000000000000055511"},
        {0.1, 30, true, "0.100000000000000005551115123126"},
        // zeros and specials
        {0.0, 0, true, "0.0"},
        {-0.0, 0, true, "-0.0"},
        {0.0, 6, false, "0"},
        {-0.0, 6, false, "-0"},
        {inf, 0, true, "1.#INF"},
        {-inf, 6, false, "-1.#INF"},
        {nan, 0, true, "1.#NaN"},
        {-nan, 0, true, "1.#NaN"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(form_float(c.x, c.digits, c.keep), c.text) << c.x << " " << c.digits << " " << c.keep;
    }
}

TEST(FloatText, DecimalPointMarkers) {
    int decpt, count;
    bool negative;
    EXPECT_STREQ(float_to_decimal(-0.0, 0, &decpt, &negative, &count, false), "-0");
    EXPECT_EQ(decpt, FLOAT_DECPT_ZERO);
    EXPECT_TRUE(negative);
    EXPECT_STREQ(float_to_decimal(-std::numeric_limits<double>::infinity(), 0, &decpt, &negative, &count, true),
                 "-1.#INF");
    EXPECT_EQ(decpt, FLOAT_DECPT_SPECIAL);
    EXPECT_TRUE(negative);
    EXPECT_EQ(count, 7);
    EXPECT_STREQ(float_to_decimal(-1234.5, 0, &decpt, &negative, &count, true), "12345");
    EXPECT_EQ(decpt, 4);
    EXPECT_TRUE(negative);
    EXPECT_EQ(count, 5);
    EXPECT_STREQ(float_to_decimal(0.00125, 0, &decpt, &negative, &count, true), "125");
    EXPECT_EQ(decpt, -2);
}

TEST(FloatText, LongDigitRequestsStayInBounds) {
    // The least subnormal has 751 significant digits; any larger request gives them all.
    std::string all = form_float(5e-324, 100000, false);
    EXPECT_EQ(all.size(), 751u + 6u);  // "4." ... "e-324"
    EXPECT_EQ(all, form_float(5e-324, FLOAT_MAX_DIGITS, false));
    EXPECT_EQ(to_bits(parse(all)), to_bits(5e-324));
    std::string max = form_float(-1.7976931348623157e308, 1000, true);
    EXPECT_EQ(max.substr(0, 20), "-1.79769313486231570");
    EXPECT_EQ(max.substr(max.size() - 5), "8e308");
    EXPECT_EQ(max.size(), 309u + 6u);  // "-1." ... "e308": all 309 digits of the exact value
}

TEST(FloatText, ReadingSpecialFormsAndScans) {
    const double inf = std::numeric_limits<double>::infinity();
    struct { const char* text; int e0; double value; size_t left; } cases[] = {
        {"1.#INF", 0, inf, 0},
        {"-1.#INF", 0, -inf, 0},
        {"+7.#inf", 0, inf, 0},
        {"1.#I", 0, inf, 0},
        {"1.#INFx", 0, inf, 1},
        {"1e400", 0, inf, 0},
        {"-1e400", 0, -inf, 0},
        {"1e99999999999999999999", 0, inf, 0},
        {"1e-400", 0, 0.0, 0},
        {"0e99999999999", 0, 0.0, 0},
        {"2.5", -2, 0.025, 0},
        {"50", -2, 0.5, 0},
        {"000123.4500e2", 0, 12345.0, 0},
        {".5", 0, 0.5, 0},
        {"1.", 0, 1.0, 0},
        {"+7", 0, 7.0, 0},
        {"1E+3", 0, 1000.0, 0},
        {"12abc", 0, 12.0, 3},
        {"1e", 0, 1.0, 1},       // an "e" needs something after it
        {"1e+", 0, 1.0, 2},      // and digits, else the scan stops before it
        {"1e5x", 0, 1e5, 1},
        {"1.5.5", 0, 1.5, 2},
        {"abc", 0, 0.0, 3},      // no digits: nothing read
        {".", 0, 0.0, 1},
        {"-", 0, 0.0, 1},
        {"0.#INF", 0, 0.0, 4},   // the special form needs a digit other than zero
    };
    for (const auto& c : cases) {
        size_t left = 99;
        double x = parse(c.text, c.e0, &left);
        EXPECT_EQ(to_bits(x), to_bits(c.value)) << c.text;
        EXPECT_EQ(left, c.left) << c.text;
    }
    size_t left = 99;
    EXPECT_TRUE(std::isnan(parse("1.#NaN", 0, &left)));
    EXPECT_EQ(left, 0u);
    double n = parse("-1.#nan");
    EXPECT_TRUE(std::isnan(n));
    EXPECT_FALSE(std::signbit(n));
    EXPECT_TRUE(std::signbit(parse("-0")));
    EXPECT_TRUE(std::signbit(parse("-0.000e5")));
    EXPECT_TRUE(std::signbit(parse("-1e-999")));
}

TEST(FloatText, ReadingLongTexts) {
    // Halfway between 1 and the next double: ties to even give 1, anything
    // above the halfway point gives the next double, however far out it lies.
    const std::string half = "1.00000000000000011102230246251565404236316680908203125";
    const double next = std::nextafter(1.0, 2.0);
    EXPECT_EQ(parse(half), 1.0);
    EXPECT_EQ(parse(half + std::string(2000, '0')), 1.0);
    EXPECT_EQ(parse(half + std::string(2000, '0') + "1"), next);
    EXPECT_EQ(parse("0." + std::string(2000, '0') + "1e2001"), 1.0);
    EXPECT_EQ(parse("1" + std::string(1000, '0') + "e-1000"), 1.0);
    EXPECT_EQ(parse(std::string(400, '9')), std::numeric_limits<double>::infinity());
    EXPECT_EQ(parse("0." + std::string(400, '0') + "1"), 0.0);
    EXPECT_EQ(parse("123456789012345678901234567890"), 1.2345678901234568e29);
}
