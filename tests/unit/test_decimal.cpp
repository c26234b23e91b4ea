// The exact decimal core of money!: arithmetic, rounding, doubles, text and
// the packed digits, with Python's decimal module as the oracle.
#include <gtest/gtest.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include "runtime/services/decimal.h"

using namespace kem;

namespace {

// "-123.45" and the like: a sign, an integer run, a fraction run.
Decimal parse(const std::string& t) {
    std::string_view s = t;
    bool negative = !s.empty() && s[0] == '-';
    if (negative) s.remove_prefix(1);
    size_t dot = s.find('.');
    std::string_view integer = s.substr(0, dot);
    std::string_view fraction = dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
    DecimalUnits u = 0;
    EXPECT_EQ(decimal_from_digit_runs(integer, fraction, &u), DecimalStatus::ok) << t;
    return decimal_make(negative, u);
}

std::string show(const Decimal& d, int fraction = 5, bool group = false) {
    std::string out = d.negative ? "-" : "";
    decimal_append_digits(out, d.units, fraction, group);
    return out;
}

std::string show(DecimalStatus s, const Decimal& d) {
    switch (s) {
    case DecimalStatus::ok: return show(d);
    case DecimalStatus::overflow: return "overflow";
    case DecimalStatus::zero_divide: return "zero-divide";
    case DecimalStatus::bad_value: return "bad";
    }
    return "?";
}

} // namespace

TEST(Decimal, TextAndGrouping) {
    struct Case {
        const char* in;
        int fraction;
        bool group;
        const char* out;
    } cases[] = {
        {"1234567.5", 2, true, "1'234'567.50"},
        {"1234567.5", 2, false, "1234567.50"},
        {"0.5", 2, true, "0.50"},
        {"99999999999999999.99999", 5, true, "99'999'999'999'999'999.99999"},
        {"123", 0, true, "123"},
        {"1000", 3, true, "1'000.000"},
        {"12.34567", 2, false, "12.34"},  // cut, not rounded
        {"00000000000000000000001.5", 1, false, "1.5"},
        {"1'000.25", 5, false, "1000.25000"},
    };
    for (const Case& c : cases) EXPECT_EQ(show(parse(c.in), c.fraction, c.group), c.out) << c.in;
}

TEST(Decimal, DigitRunsRefuseWhatDoesNotFit) {
    DecimalUnits u = 0;
    EXPECT_EQ(decimal_from_digit_runs("123456789012345678", "", &u), DecimalStatus::overflow);
    EXPECT_EQ(decimal_from_digit_runs("12a", "", &u), DecimalStatus::bad_value);
    EXPECT_EQ(decimal_from_digit_runs("1", "2x", &u), DecimalStatus::bad_value);
    // Digits past the fifth fraction digit are dropped.
    ASSERT_EQ(decimal_from_digit_runs("1", "1234567", &u), DecimalStatus::ok);
    EXPECT_EQ(show(decimal_make(false, u)), "1.12345");
    EXPECT_EQ(decimal_fraction_digits_used(parse("1.5").units), 1);
    EXPECT_EQ(decimal_fraction_digits_used(parse("1.00001").units), 5);
    EXPECT_EQ(decimal_fraction_digits_used(parse("7").units), 0);
}

TEST(Decimal, PackedDigitsRoundTrip) {
    uint8_t bytes[11];
    decimal_pack(parse("12.5").units, bytes);
    // Digit 16 (low nibble of byte 7) is 1, 17 (high nibble of byte 8) is 2, 18 is 5.
    EXPECT_EQ(bytes[7], 0x01);
    EXPECT_EQ(bytes[8], 0x25);
    for (const char* t : {"0", "1", "99999999999999999.99999", "31415.92653", "0.00001"}) {
        DecimalUnits back = 1;
        decimal_pack(parse(t).units, bytes);
        ASSERT_TRUE(decimal_unpack(bytes, &back));
        EXPECT_EQ(show(decimal_make(false, back)), show(parse(t))) << t;
    }
    bytes[3] = 0xA0;
    DecimalUnits back;
    EXPECT_FALSE(decimal_unpack(bytes, &back));
}

TEST(Decimal, CompareBySignedValue) {
    EXPECT_EQ(decimal_compare(parse("-2"), parse("-1")), -1);
    EXPECT_EQ(decimal_compare(parse("-1"), parse("0")), -1);
    EXPECT_EQ(decimal_compare(parse("0.00001"), parse("0")), 1);
    EXPECT_EQ(decimal_compare(parse("3"), parse("3.00000")), 0);
    EXPECT_EQ(decimal_compare(parse("10"), parse("9.99999")), 1);
}

// Every operation against Python's decimal on random amounts
// (data/money_cases.txt, written by data/money_gen.py).
TEST(Decimal, AgreesWithPythonDecimal) {
    auto file = std::filesystem::path(__FILE__).parent_path() / "data" / "money_cases.txt";
    std::ifstream in(file);
    ASSERT_TRUE(in) << file;
    std::string line;
    int checked = 0, failures = 0;
    while (std::getline(in, line)) {
        std::istringstream s(line);
        std::string op, a, b, want, got;
        s >> op;
        Decimal r;
        if (op == "round") {
            std::string mode, scale;
            s >> mode >> scale >> a >> want;
            DecimalRounding m;
            m.even = mode == "even";
            m.down = mode == "down";
            m.half_down = mode == "half-down";
            m.floor = mode == "floor";
            m.ceiling = mode == "ceiling";
            m.half_ceiling = mode == "half-ceiling";
            got = show(decimal_round(parse(a), parse(scale).units, m, &r), r);
        } else if (op == "fd") {
            std::string hex;
            int strict;
            s >> hex >> strict >> want;
            got = show(decimal_from_double(std::strtod(hex.c_str(), nullptr), strict != 0, &r), r);
        } else if (op == "td") {
            s >> a >> want;
            double x = std::strtod(want.c_str(), nullptr);
            got = decimal_to_double(parse(a)) == x ? want : "not " + want;
        } else {
            s >> a >> b >> want;
            DecimalStatus (*fn)(const Decimal&, const Decimal&, Decimal*) =
                op == "add" ? decimal_add
                : op == "sub" ? decimal_subtract
                : op == "mul" ? decimal_multiply
                : op == "div" ? decimal_divide
                              : decimal_remainder;
            got = show(fn(parse(a), parse(b), &r), r);
        }
        checked++;
        if (got != want && ++failures <= 20) ADD_FAILURE() << line << "\n  got " << got;
    }
    EXPECT_GT(checked, 5000);
    EXPECT_EQ(failures, 0);
}
