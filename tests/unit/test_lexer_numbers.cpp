// Number-like literals: integers, floats, percents, hexadecimal integers,
// tuples, pairs, points, times, dates, money and binaries; and the number
// readers other datatypes share.
#include <cmath>
#include <cstring>
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/tuple.h"
#include "test_lexer_support.h"

using namespace kem;
using namespace kem::test;

TEST_F(LexerTest, Integers) {
    const LoadCase cases[] = {
        {"0 7 -7 +7", "0 7 -7 7"},
        {"2147483647", "2147483647"},
        {"-2147483648", "-2147483648"},
        {"1'000'000 1'", "1000000 1"},
        {"1''0", invalid("integer", "1''0")},
        {"1a", invalid("integer", "1a")},
        {"1+", invalid("integer", "1+")},
    };
    check_loads(cases, std::size(cases));
    // Past 32 bits, or past ten digits, the number is a float.
    const struct {
        const char* text;
        double value;
    } floats[] = {{"2147483648", 2147483648.0}, {"-2147483649", -2147483649.0}, {"12345678901", 12345678901.0},
                  {"00000000001", 1.0}, {"-2'147'483'648", -2147483648.0}};
    for (auto& f : floats) {
        Cell v = load_one(f.text);
        EXPECT_EQ(type_of(&v), TYPE_FLOAT) << f.text;
        EXPECT_EQ(cell_float(&v), f.value) << f.text;
    }
    EXPECT_EQ(scan_type("2147483648"), "float!");
}

TEST_F(LexerTest, FloatsAndPercents) {
    const LoadCase cases[] = {
        {"1.5 1.5e3 1E2 .5 -.5 1.", "1.5 1500.0 100.0 0.5 -0.5 1.0"},
        {"1'2.5 1.2'5", "12.5 1.25"},
        {"50% 1.5% -2% 1E2%", "50% 1.5% -2% 100%"},
        {"1.#NaN -1.#INF 1.#INF 1.#infinity", "1.#NaN -1.#INF 1.#INF 1.#INF"},
        {"1.e5", invalid("float", "1.e5")},
        {"1e2%", invalid("float", "1e2%")},
        {"1.#FOO", invalid("float", "1.#FOO")},
        {"1.#1", invalid("float", "1.#1")},
        {"1.#IN", invalid("float", "1.#IN")},
    };
    check_loads(cases, std::size(cases));
    Cell half = load_one("50%");
    EXPECT_EQ(type_of(&half), TYPE_PERCENT);
    EXPECT_EQ(cell_float(&half), 0.5);
    // The shortest text of a double reads back to the same double.
    Cell tenth = load_one("0.1");
    EXPECT_EQ(cell_float(&tenth), 0.1);
    std::string digits = "1." + std::string(310, '1');     // 312 bytes: the longest float text
    EXPECT_EQ(type_of(&(tenth = load_one(digits))), TYPE_FLOAT);
    EXPECT_EQ(load(digits + "1").substr(0, 29), "error: (line 1) invalid float");
}

TEST_F(LexerTest, HexadecimalIntegers) {
    const LoadCase cases[] = {
        {"FFh 1Fh 00h 7FFFFFFFh FFFFFFFFh", "255 31 0 2147483647 -1"},
        {"Fh", invalid("word", "Fh")},
        {"1h", invalid("integer", "1h")},
        {"123456789h", invalid("integer", "123456789h")},
        {"+1Fh", invalid("integer", "+1Fh")},
    };
    check_loads(cases, std::size(cases));
}

TEST_F(LexerTest, Tuples) {
    const LoadCase cases[] = {
        {"1.2.3 1.2. 0.0.0.255", "1.2.3 1.2.0 0.0.0.255"},
        {"1.2.3.4.5.6.7.8.9.10.11.12", "1.2.3.4.5.6.7.8.9.10.11.12"},
        {"1.2.3.4.5.6.7.8.9.10.11.12.13", invalid("tuple", "1.2.3.4.5.6.7.8.9.10.11.12.13")},
        {"1.2.3.4.5.6.7.8.9.10.11.12.", invalid("tuple", "1.2.3.4.5.6.7.8.9.10.11.12.")},
        {"1.2.256", invalid("tuple", "1.2.256")},
        {"1.2..3", invalid("tuple", "1.2..3")},
        {"1..2.3", invalid("float", "1..2.3")},
        {"-1.2.3", invalid("tuple", "-1.2.3")},
        {"1.2.3x", invalid("tuple", "1.2.3x")},
    };
    check_loads(cases, std::size(cases));
    Cell t = load_one("1.2.");
    EXPECT_EQ(tuple_length(&t), 3u);
    EXPECT_EQ(scan_type("1.2.300"), "error!");
    EXPECT_EQ(scan_type("1.2.300", true), "tuple!");   // the recogniser alone checks no ranges
}

TEST_F(LexerTest, PairsAndTimes) {
    const LoadCase cases[] = {
        {"1x2 1x-2 -3X+4", "1x2 1x-2 -3x4"},
        {"1.5x2", invalid("pair", "1.5x2")},
        {"1x2e5", invalid("pair", "1x2e5")},
        {"1x", invalid("pair", "1x")},
        {"1x+", invalid("pair", "1x+")},
        {"1x99999999999", invalid("pair", "1x99999999999")},
        {"10:30 10:30:15.5 -1:30 +1:30 -0:30", "10:30:00 10:30:15.5 -1:30:00 1:30:00 -0:30:00"},
        {"1:30.5 10:99 0:0:90", "0:01:30.5 11:39:00 0:01:30"},
        {"1:", invalid("time", "1:")},
        {"1:2:", invalid("time", "1:2:")},
        {"10:30,5", invalid("time", "10:30,5")},
        {"1:2:3:4", invalid("time", "1:2:3:4")},
        {"1:2.5.6", invalid("time", "1:2.5.6")},
        {"99999999999:00", invalid("time", "99999999999:00")},
    };
    check_loads(cases, std::size(cases));
    Cell t = load_one("-0:30");
    EXPECT_EQ(cell_float(&t), -1800.0);
    t = load_one("1:30.5");
    EXPECT_EQ(cell_float(&t), 90.5);
    // The lowest hours: as hours they stay exact; in the m:s.f form they are
    // 2147483648 minutes, the sign from the text.
    t = load_one("-2147483648:00");
    EXPECT_EQ(cell_float(&t), -2147483648.0 * 3600.0);
    t = load_one("-2147483648:15.5");
    EXPECT_EQ(cell_float(&t), -(2147483648.0 * 60.0 + 15.5));
}

TEST_F(LexerTest, Dates) {
    const LoadCase cases[] = {
        {"1-Jan-2020 2020-01-01 2020/1/1 1/January/2020", "1-Jan-2020 1-Jan-2020 1-Jan-2020 1-Jan-2020"},
        {"2020-W01-1 2020-W02 2020-001 2020-366", "30-Dec-2019 5-Jan-2020 1-Jan-2020 31-Dec-2020"},
        {"20200101T101010Z 20200101T1010Z", "1-Jan-2020/10:10:10 1-Jan-2020/10:10:00"},
        {"20200101T101010+0530", "1-Jan-2020/10:10:10+05:30"},
        {"1-Jan-2020/10:00+5:30 1-Jan-2020T10:00:30.5", "1-Jan-2020/10:00:00+05:30 1-Jan-2020/10:00:30.5"},
        {"1-Jan-2020/10:00-0:30", "1-Jan-2020/10:00:00-00:30"},
        {"1-1-20 1-1-70 1-1-99 1-1-049", "1-Jan-2020 1-Jan-1970 1-Jan-1999 1-Jan-0049"},
        {"29-Feb-2020 1-Jan--44", "29-Feb-2020 1/Jan/-44"},
        {"29-Feb-2021", invalid("date", "29-Feb-2021")},
        {"31-Apr-2020", invalid("date", "31-Apr-2020")},
        {"1-13-2020", invalid("date", "1-13-2020")},
        {"0-Jan-2020", invalid("date", "0-Jan-2020")},
        {"1/2", invalid("date", "1/2")},
        {"1-Ju-2020", invalid("date", "1-Ju-2020")},
        {"1-Janu4ry-2020", invalid("date", "1-Janu4ry-2020")},
        {"20200101T1010", invalid("date", "20200101T1010")},
        {"2020-000", invalid("date", "2020-000")},
        {"2020-W01-8", invalid("date", "2020-W01-8")},
        {"1-Jan-2020/24:00", invalid("date", "1-Jan-2020/24:00")},
        {"1-Jan-2020/10:60", invalid("date", "1-Jan-2020/10:60")},
        {"1-Jan-2020/10:00+16:00", invalid("date", "1-Jan-2020/10:00+16:00")},
        {"1-Jan-2020/10:00+15:99", invalid("date", "1-Jan-2020/10:00+15:99")},
        {"1-Jan-2020x", invalid("date", "1-Jan-2020x")},
        {"1-Jan-2020/10:00/11:00", invalid("date", "1-Jan-2020/10:00/11:00")},
    };
    check_loads(cases, std::size(cases));
    Cell d = load_one("1-Jan-2020");
    EXPECT_FALSE(date_has_time(date_word(&d)));
    d = load_one("1-Jan-2020/0:00");
    EXPECT_TRUE(date_has_time(date_word(&d)));
}

TEST_F(LexerTest, Money) {
    const LoadCase cases[] = {
        {"$1 -$1.5 +$0.25 USD$1'000.25 -eur$3", "$1.00 -$1.50 $0.25 USD$1000.25 -EUR$3.00"},
        {"$00012 $0.00001 $99999999999999999.99999", "$12.00 $0.00001 $99999999999999999.99999"},
        {"$1,50", invalid("money", "$1,50")},
        {"$1.123456", invalid("money", "$1.123456")},
        {"$123456789012345678", invalid("money", "$123456789012345678")},
        {"XYZ$1", invalid("money", "XYZ$1")},
        {"US$1", invalid("money", "US$1")},
        {"$1''0", invalid("money", "$1''0")},
        {"$1'", invalid("money", "$1'")},
        {"$1.", invalid("money", "$1.")},
    };
    check_loads(cases, std::size(cases));
    EXPECT_EQ(scan_type("$1"), "money!");
}

TEST_F(LexerTest, Binaries) {
    const LoadCase cases[] = {
        {"#{0F} #{0 F} #{} 16#{0a0B}", "#{0F} #{0F} #{} #{0A0B}"},
        {"2#{00001111} 2#{0000 1111 11111111}", "#{0F} #{0FFF}"},
        {"64#{AQID} 64#{AQI=} 64#{AQ==} 64#{ AQ ID }", "#{010203} #{0102} #{01} #{010203}"},
        {"64#{AQ==xyz!}", "#{01}"},   // nothing after the padding is looked at
        {"#{01 ; a comment\n02}", "#{0102}"},
        {"16#{0F 1}", invalid("binary", "1}")},
        {"#{0G}", invalid("binary", "G}")},
        {"2#{0000111}", invalid("binary", "0000111}")},
        {"2#{00002111}", invalid("binary", "2111}")},
        {"64#{AQI}", invalid("binary", "AQI}")},
        {"64#{A=QI}", invalid("binary", "=QI}")},
        {"3#{}", invalid("binary", "3#{}")},
        {"8#{00}", invalid("binary", "8#{00}")},
        {"#{0-1}", invalid("binary", "#{0-1}")},
    };
    check_loads(cases, std::size(cases));
}

TEST_F(LexerTest, NumberReadersForOtherDatatypes) {
    const struct {
        const char* text;
        int32_t value;
        int32_t error;
    } ints[] = {
        {"123", 123, 0},        {"-2147483648", INT32_MIN, 0}, {"+1'0'0", 100, 0},
        {"2147483648", 0, -2},  {"99999999999", 0, -2},        {"12a", 12, -1},
    };
    for (auto& c : ints) {
        int32_t error;
        int32_t v = lexer_integer_from_text(reinterpret_cast<const uint8_t*>(c.text), int32_t(std::strlen(c.text)), 1,
                                            &error);
        EXPECT_EQ(error, c.error) << c.text;
        if (c.error != -2) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
    // Two-byte units, "," as the decimal point.
    const char16_t wide[] = u"1,5e1";
    int32_t error;
    double d = lexer_float_from_text(reinterpret_cast<const uint8_t*>(wide), 5, 2, &error);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(d, 15.0);
    const char16_t bad[] = u"1.5\u00e9";
    d = lexer_float_from_text(reinterpret_cast<const uint8_t*>(bad), 4, 2, &error);
    EXPECT_EQ(error, -1);
    EXPECT_TRUE(std::isnan(d));
    d = lexer_float_from_text(reinterpret_cast<const uint8_t*>("1.e5"), 4, 1, &error);
    EXPECT_EQ(error, -1);
}
