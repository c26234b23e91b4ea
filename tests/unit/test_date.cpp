#include <gtest/gtest.h>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>
#include "environment/startup.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/word.h"
#include "runtime/services/hash_keys.h"
#include "runtime/services/random.h"
#include "runtime/services/unicode/text.h"

#include "number_support.h"

using namespace kem;
using namespace kem::test;

namespace {

// A date literal: bare, or with a local time and a zone in minutes east of UTC.
Cell D(int32_t y, int32_t m, int32_t d) {
    Cell c;
    date_make_from_os_parts(&c, y, m, d, 0.0, 0, 0, false);
    return c;
}
Cell DT(int32_t y, int32_t m, int32_t d, double local, int32_t zone_minutes = 0) {
    Cell c;
    int32_t a = zone_minutes < 0 ? -zone_minutes : zone_minutes;
    int32_t h = a / 60;
    date_make_from_os_parts(&c, y, m, d, local, zone_minutes < 0 ? -h : h, a % 60, true, zone_minutes < 0);
    return c;
}
double hms(int h, int m, double s = 0.0) { return h * 3600.0 + m * 60.0 + s; }

Cell block_of(std::vector<Cell> items) {
    Cell b;
    block_make_at(&b, int32_t(items.size()) + 1);
    for (const Cell& item : items) block_append_cell(&b, &item);
    return b;
}

Cell text(const char* s) {
    Cell c;
    string_make_utf8(&c, s);
    return c;
}

std::string mold(const Cell& c) { return text_of(c, true); }

// The date's local day and clock time as "y m d h mi s".
std::string local_fields(const Cell& c) {
    uint32_t w = date_word(&c);
    double local = date_time(&c) + date_zone_offset(date_zone(w));
    std::ostringstream out;
    out << date_year(w) << ' ' << date_month(w) << ' ' << date_day(w) << ' ' << time_hours(local) << ' '
        << time_minutes(local) << ' ' << std::lround(time_seconds(local));
    return out.str();
}

class DateTest : public ::testing::Test {
protected:
    void SetUp() override {
        init_runtime();
        words_init();
        stack::init();
        stack::push_native_frame(&CALLER);
        date_locale_months = nullptr;
    }
    void TearDown() override { date_locale_months = nullptr; }

    // Path access on d: reads when value is null, else sets d in place.
    Cell path(Cell& d, const Cell& element, const Cell* value = nullptr) {
        Cell e = element;
        Cell v = value ? *value : NONE;
        return *date_eval_path(&d, &e, value ? &v : nullptr, PathStep{.index = 0, .last = true});
    }
    Cell field(Cell d, const char* name) { return path(d, W(name)); }
    uint8_t type_of_field(Cell d, const char* name) {
        Cell r = field(d, name);
        return type_of(&r);
    }
    int32_t int_field(Cell d, const char* name) {
        Cell r = field(d, name);
        return cell_int(&r);
    }
    Cell with(Cell d, const char* name, const Cell& value) {
        path(d, W(name), &value);
        return d;
    }
    Cell make(const Cell& spec, bool strict) {
        Cell proto = D(2000, 1, 1);
        Cell s = spec;
        return strict ? *date_make(&proto, &s, TYPE_DATE) : *date_to(&proto, &s, TYPE_DATE);
    }
};

// Runs an action in a frame named by its word; the error's id and arguments
// come back.
void call_named(const char* action, int slot, const Cell& a, const Cell& b, std::optional<Err>* error,
                Cell* args) {
    Cell word = word_load(action);
    stack::init();
    stack::push_native_frame(&word);
    Cell* first = stack::push(&a);
    stack::push(&b);
    try {
        reinterpret_cast<action_sig::StackForm>(type_action_table[type_of(first)][slot])();
    } catch (const KemError& e) {
        *error = e.id;
        args[0] = e.args[0];
        args[1] = e.args[1];
    }
}

} // namespace

TEST_F(DateTest, MoldTexts) {
    struct Case {
        Cell date;
        const char* text;
    } cases[] = {
        {D(2020, 1, 15), "15-Jan-2020"},
        {DT(2020, 1, 15, hms(10, 30), 330), "15-Jan-2020/10:30:00+05:30"},
        {DT(2020, 1, 1, hms(1, 0), 300), "1-Jan-2020/1:00:00+05:00"},
        {DT(2020, 1, 1, hms(10, 0)), "1-Jan-2020/10:00:00"},
        {DT(2020, 12, 31, hms(23, 59, 5.5), -600), "31-Dec-2020/23:59:05.5-10:00"},
        {DT(2020, 6, 1, hms(8, 0), -30), "1-Jun-2020/8:00:00-00:30"},
        {DT(2020, 6, 1, hms(8, 0), -45), "1-Jun-2020/8:00:00-00:45"},
        {DT(2020, 6, 1, hms(8, 0), 945), "1-Jun-2020/8:00:00+15:45"},
        {D(99, 1, 1), "1-Jan-0099"},
        {D(0, 2, 29), "29-Feb-0000"},
        {D(100, 1, 1), "1-Jan-100"},
        {D(-45, 3, 1), "1/Mar/-45"},
        {D(12345, 9, 30), "30-Sep-12345"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(mold(c.date), c.text);
        EXPECT_EQ(text_of(c.date, false), c.text);
    }
}

TEST_F(DateTest, MonthNamesComeFromTheLocale) {
    static Cell months;
    months = block_of({text("Janvier"), text("F\u00e9\u20ac"), text("Mars")});
    date_locale_months = [] { return static_cast<const Cell*>(&months); };
    EXPECT_EQ(mold(D(2020, 1, 15)), "15-Jan-2020");
    // A name beyond Latin-1 widens the output to 2-byte units.
    Cell buffer;
    string_make_at(&buffer, 16);
    Cell feb = D(2020, 2, 1);
    EXPECT_EQ(date_mold(&feb, &buffer, MoldArgs{}, 100, 0), 100 - 10);
    EXPECT_STREQ(to_utf8_cstring(&buffer), "1-F\u00e9\u20ac-2020");
    EXPECT_EQ(error_of([] { mold(D(2020, 4, 1)); }), Err::script_invalid_months);
    months = block_of({I(1)});
    EXPECT_EQ(error_of([] { mold(D(2020, 1, 1)); }), Err::script_invalid_months);
}

TEST_F(DateTest, MakeAndTo) {
    struct Case {
        const char* what;
        Cell spec;
        const char* made;  // nullptr: bad-to-arg
        const char* converted;
    } cases[] = {
        {"[15 1 2020]", block_of({I(15), I(1), I(2020)}), "15-Jan-2020", "15-Jan-2020"},
        {"[2020 1 15]", block_of({I(2020), I(1), I(15)}), "15-Jan-2020", "15-Jan-2020"},
        {"[32 1 2020]", block_of({I(32), I(1), I(2020)}), nullptr, "1-Feb-2020"},
        {"[29 2 2021]", block_of({I(29), I(2), I(2021)}), nullptr, "1-Mar-2021"},
        {"[15 13 2020]", block_of({I(15), I(13), I(2020)}), nullptr, "15-Jan-2021"},
        {"[15 0 2020]", block_of({I(15), I(0), I(2020)}), nullptr, "15-Dec-2019"},
        {"[15 1 2020 10:30 5:30]", block_of({I(15), I(1), I(2020), T(hms(10, 30)), T(hms(5, 30))}),
         "15-Jan-2020/10:30:00+05:30", "15-Jan-2020/10:30:00+05:30"},
        {"[15 1 2020 10 30 0]", block_of({I(15), I(1), I(2020), I(10), I(30), I(0)}), "15-Jan-2020/10:30:00",
         "15-Jan-2020/10:30:00"},
        {"[15 1 2020 10 30 1.5 -5 30]", block_of({I(15), I(1), I(2020), I(10), I(30), F(1.5), I(-5), I(30)}),
         "15-Jan-2020/10:30:01.5-05:30", "15-Jan-2020/10:30:01.5-05:30"},
        {"[15 1 2020 10:00 -0:30]", block_of({I(15), I(1), I(2020), T(hms(10, 0)), T(-1800.0)}),
         "15-Jan-2020/10:00:00-00:30", "15-Jan-2020/10:00:00-00:30"},
        {"[15 1 2020 10:00 3]", block_of({I(15), I(1), I(2020), T(hms(10, 0)), I(3)}),
         "15-Jan-2020/10:00:00+03:00", "15-Jan-2020/10:00:00+03:00"},
        {"[15 1 2020 25 0 0]", block_of({I(15), I(1), I(2020), I(25), I(0), I(0)}), nullptr,
         "16-Jan-2020/1:00:00"},
        {"[15 1 2020 10 75 0]", block_of({I(15), I(1), I(2020), I(10), I(75), I(0)}), nullptr,
         "15-Jan-2020/11:15:00"},
        {"[15 1 2020 10:00 20:00]", block_of({I(15), I(1), I(2020), T(hms(10, 0)), T(hms(20, 0))}), nullptr,
         nullptr},
        {"[15 1 2020 10:00 5 30 1]", block_of({I(15), I(1), I(2020), T(hms(10, 0)), I(5), I(30), I(1)}), nullptr,
         nullptr},
        {"[15 1]", block_of({I(15), I(1)}), nullptr, nullptr},
        {"[15 1 \"2020\"]", block_of({I(15), I(1), text("2020")}), nullptr, nullptr},
        {"[15 1 2020 1.5]", block_of({I(15), I(1), I(2020), F(1.5)}), nullptr, nullptr},
        {"\"x\"", text("x"), nullptr, nullptr},
        {"86400", I(86400), nullptr, "2-Jan-1970/0:00:00"},
        {"-1", I(-1), nullptr, "31-Dec-1969/23:59:59"},
        {"a date", DT(2020, 1, 1, hms(1, 0), 300), "1-Jan-2020/1:00:00+05:00", "1-Jan-2020/1:00:00+05:00"},
    };
    for (const auto& c : cases) {
        for (bool strict : {true, false}) {
            const char* want = strict ? c.made : c.converted;
            Cell got{};
            auto err = error_of([&] { got = make(c.spec, strict); });
            if (!want) {
                EXPECT_EQ(err, Err::script_bad_to_arg) << c.what << (strict ? " make" : " to");
                continue;
            }
            ASSERT_FALSE(err) << c.what << (strict ? " make" : " to") << " error " << error_code(*err);
            EXPECT_EQ(mold(got), want) << c.what << (strict ? " make" : " to");
        }
    }
    // A year the date cannot hold is refused, not wrapped.
    EXPECT_EQ(error_of([&] { make(block_of({I(1), I(1), I(20000)}), false); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { make(block_of({I(1), I(1), I(-16385)}), false); }), Err::script_out_of_range);
}

TEST_F(DateTest, ArithmeticWithNumbersTimesAndDates) {
    EXPECT_EQ(mold(run_stack_slot(ACT_SUBTRACT, D(2020, 3, 1), I(1))), "29-Feb-2020");
    EXPECT_EQ(mold(run_stack_slot(ACT_ADD, D(2020, 2, 28), I(2))), "1-Mar-2020");
    EXPECT_EQ(mold(run_stack_slot(ACT_ADD, I(2), D(2020, 2, 28))), "1-Mar-2020");
    EXPECT_TRUE(same(run_stack_slot(ACT_SUBTRACT, D(2021, 1, 1), D(2020, 1, 1)), I(366)));
    EXPECT_EQ(mold(run_stack_slot(ACT_ADD, D(2020, 1, 1), T(hms(1, 30)))), "1-Jan-2020/1:30:00");
    EXPECT_EQ(mold(run_stack_slot(ACT_ADD, DT(2019, 12, 31, hms(23, 0), 300), T(hms(2, 0)))),
              "1-Jan-2020/1:00:00+05:00");
    EXPECT_EQ(mold(run_stack_slot(ACT_SUBTRACT, DT(2020, 1, 1, hms(0, 30), -120), T(hms(1, 0)))),
              "31-Dec-2019/23:30:00-02:00");
    EXPECT_EQ(error_of([] { run_stack_slot(ACT_ADD, D(2020, 1, 1), F(1.5)); }), Err::script_invalid_type);

    // Years beyond the cell's 15 bits are refused, not wrapped.
    EXPECT_EQ(error_of([] { run_stack_slot(ACT_ADD, D(16383, 12, 31), I(1)); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([] { run_stack_slot(ACT_SUBTRACT, D(-16384, 1, 1), I(1)); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([] { run_stack_slot(ACT_ADD, D(2020, 1, 1), I(INT32_MAX)); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([] { run_stack_slot(ACT_ADD, D(2020, 1, 1), T(1e300)); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([] { run_stack_slot(ACT_ADD, D(2020, 1, 1), T(INFINITY)); }), Err::script_out_of_range);
}

// not-related names the action that was called, and the type of the operand it refused.
TEST_F(DateTest, NotRelatedNamesTheRealAction) {
    struct Case {
        const char* action;
        int slot;
        Cell left, right;
        uint8_t refused;
    } cases[] = {
        {"add", ACT_ADD, D(2020, 1, 1), D(2020, 1, 1), TYPE_DATE},
        {"multiply", ACT_MULTIPLY, I(2), D(2020, 1, 1), TYPE_DATE},
        {"divide", ACT_DIVIDE, I(2), D(2020, 1, 1), TYPE_DATE},
        {"subtract", ACT_SUBTRACT, I(2), D(2020, 1, 1), TYPE_DATE},
        {"subtract", ACT_SUBTRACT, T(60.0), D(2020, 1, 1), TYPE_DATE},
    };
    for (const auto& c : cases) {
        std::optional<Err> err;
        Cell args[2] = {};
        call_named(c.action, c.slot, c.left, c.right, &err, args);
        EXPECT_EQ(err, Err::script_not_related) << c.action;
        EXPECT_EQ(args[0].data2, W(c.action).data2) << c.action;
        EXPECT_TRUE(is_type(&args[1], TYPE_DATATYPE) && args[1].data1 == c.refused) << c.action;
    }
}

TEST_F(DateTest, CompareByLocalDayThenStoredTime) {
    struct Case {
        Cell a, b;
        int32_t equal, order, same;
    } cases[] = {
        {D(2020, 1, 1), D(2020, 1, 1), 0, 0, 0},
        {D(2020, 1, 1), DT(2020, 1, 1, 0.0), 0, 0, 0},
        {D(2020, 1, 1), D(2020, 1, 2), 1, -1, 1},
        {D(2021, 1, 1), D(2020, 12, 31), 1, 1, 1},
        {D(-5, 1, 1), D(3, 1, 1), 1, -1, 1},
        // The same instant on the same local day: equal.
        {DT(2020, 1, 1, hms(10, 0), 300), DT(2020, 1, 1, hms(6, 0), 60), 0, 0, 0},
        // The same instant on different local days: not equal.
        {DT(2020, 1, 1, hms(1, 0), 300), DT(2019, 12, 31, hms(20, 0)), 1, 1, 1},
        {DT(2020, 1, 1, hms(10, 0)), DT(2020, 1, 1, hms(10, 0, 1e-11)), 0, 0, 1},
        {DT(2020, 1, 1, hms(10, 0)), DT(2020, 1, 1, hms(11, 0)), 1, -1, 1},
    };
    for (auto& c : cases) {
        EXPECT_EQ(date_compare(&c.a, &c.b, CompareOp::equal), c.equal) << mold(c.a) << " " << mold(c.b);
        EXPECT_EQ(date_compare(&c.a, &c.b, CompareOp::lesser), c.order) << mold(c.a) << " " << mold(c.b);
        EXPECT_EQ(date_compare(&c.a, &c.b, CompareOp::same), c.same) << mold(c.a) << " " << mold(c.b);
    }
    Cell a = D(2020, 1, 1), n = I(5);
    EXPECT_EQ(date_compare(&a, &n, CompareOp::equal), -2);
}

TEST_F(DateTest, OneInstantHashesAlikeInEveryZone) {
    Cell a = DT(2020, 1, 1, hms(1, 0), 300);
    Cell b = DT(2019, 12, 31, hms(20, 0));
    Cell c = DT(2019, 12, 31, hms(15, 30), -270);
    EXPECT_EQ(hash_value(&a, false), hash_value(&b, false));
    EXPECT_EQ(hash_value(&a, false), hash_value(&c, false));
    Cell bare = D(2020, 1, 1), midnight = DT(2020, 1, 1, 0.0), later = DT(2020, 1, 1, 1.0);
    EXPECT_EQ(hash_value(&bare, false), hash_value(&midnight, false));
    EXPECT_NE(hash_value(&bare, false), hash_value(&later, false));
}

TEST_F(DateTest, ReadingFields) {
    Cell d = DT(2021, 1, 1, hms(10, 30, 15.5), 330);  // a Friday
    EXPECT_EQ(mold(field(d, "date")), "1-Jan-2021");
    EXPECT_TRUE(same(field(d, "year"), I(2021)));
    EXPECT_TRUE(same(field(d, "month"), I(1)));
    EXPECT_TRUE(same(field(d, "day"), I(1)));
    EXPECT_TRUE(same(field(d, "zone"), T(hms(5, 30))));
    EXPECT_TRUE(same(field(d, "timezone"), T(hms(5, 30))));
    EXPECT_TRUE(same(field(d, "time"), T(hms(10, 30, 15.5))));
    EXPECT_TRUE(same(field(d, "hour"), I(10)));
    EXPECT_TRUE(same(field(d, "Minute"), I(30)));
    EXPECT_TRUE(same(field(d, "second"), F(15.5)));
    EXPECT_TRUE(same(field(d, "weekday"), I(5)));
    EXPECT_TRUE(same(field(d, "yearday"), I(1)));
    EXPECT_TRUE(same(field(d, "julian"), I(1)));
    EXPECT_TRUE(same(field(d, "week"), I(1)));
    EXPECT_TRUE(same(field(d, "isoweek"), I(53)));
    EXPECT_TRUE(same(path(d, I(2)), I(2021)));
    EXPECT_TRUE(same(field(D(2000, 3, 1), "weekday"), I(3)));
    EXPECT_TRUE(same(field(DT(2020, 6, 1, hms(8, 0), -30), "zone"), T(-1800.0)));

    Cell bare = D(2020, 1, 1);
    EXPECT_EQ(type_of_field(bare, "zone"), TYPE_NONE);
    EXPECT_EQ(type_of_field(bare, "time"), TYPE_NONE);
    EXPECT_TRUE(same(field(bare, "hour"), I(0)));

    EXPECT_EQ(error_of([&] { path(d, I(15)); }), Err::script_invalid_path);
    EXPECT_EQ(error_of([&] { path(d, I(0)); }), Err::script_invalid_path);
    EXPECT_EQ(error_of([&] { path(d, W("foo")); }), Err::script_invalid_path);
    EXPECT_EQ(error_of([&] { path(d, text("year")); }), Err::script_invalid_path);

    Cell year = W("year"), fifteen = I(15), foo = W("foo");
    EXPECT_TRUE(same(*date_pick(&d, 0, &year), I(2021)));
    EXPECT_TRUE(same(*date_pick(&d, 4, nullptr), I(1)));
    EXPECT_EQ(error_of([&] { date_pick(&d, 15, &fifteen); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { date_pick(&d, 0, &foo); }), Err::script_out_of_range);
}

TEST_F(DateTest, SettingFields) {
    struct Case {
        Cell date;
        const char* field;
        Cell value;
        const char* result;  // nullptr: the error below
        Err error;
    } cases[] = {
        {D(2020, 1, 15), "month", I(13), "15-Jan-2021", {}},
        {D(2020, 1, 15), "month", I(0), "15-Dec-2019", {}},
        {D(2020, 1, 15), "month", I(-1), "15-Nov-2019", {}},
        {D(2020, 1, 15), "month", I(-12), "15-Dec-2018", {}},
        {D(2020, 1, 31), "month", I(2), "2-Mar-2020", {}},
        {D(2020, 3, 15), "day", I(0), "29-Feb-2020", {}},
        {D(2020, 1, 15), "day", I(32), "1-Feb-2020", {}},
        {D(2020, 2, 29), "year", I(2021), "1-Mar-2021", {}},
        {D(2000, 3, 1), "weekday", I(1), "28-Feb-2000", {}},
        {D(2000, 3, 1), "weekday", I(7), "5-Mar-2000", {}},
        {D(2020, 7, 7), "yearday", I(60), "29-Feb-2020", {}},
        {D(2021, 7, 7), "isoweek", I(1), "4-Jan-2021", {}},
        {D(2021, 7, 7), "week", I(2), "3-Jan-2021", {}},
        {D(2021, 7, 7), "week", I(1), "1-Jan-2021", {}},
        {DT(2020, 1, 1, hms(1, 0), 300), "timezone", I(0), "31-Dec-2019/20:00:00", {}},
        {DT(2020, 1, 1, hms(1, 0), 300), "zone", I(0), "1-Jan-2020/1:00:00", {}},
        {DT(2020, 1, 1, hms(10, 0)), "zone", I(5), "1-Jan-2020/10:00:00+05:00", {}},
        {DT(2020, 1, 1, hms(10, 0)), "zone", I(-21), "1-Jan-2020/10:00:00-05:00", {}},
        {DT(2020, 1, 1, hms(10, 0)), "zone", T(-1800.0), "1-Jan-2020/10:00:00-00:30", {}},
        {DT(2020, 1, 1, hms(10, 0)), "timezone", T(-1800.0), "1-Jan-2020/9:30:00-00:30", {}},
        {DT(2020, 1, 1, hms(10, 0), 300), "time", NONE, "1-Jan-2020", {}},
        {D(2020, 1, 1), "time", T(hms(10, 30)), "1-Jan-2020/10:30:00", {}},
        {D(2020, 1, 1), "time", T(hms(25, 0)), "2-Jan-2020/1:00:00", {}},
        {DT(2020, 1, 1, hms(1, 0), 300), "hour", I(5), "1-Jan-2020/5:00:00+05:00", {}},
        {DT(2020, 1, 1, hms(1, 0), 300), "minute", I(90), "1-Jan-2020/2:30:00+05:00", {}},
        {DT(2020, 1, 1, hms(1, 0), 300), "second", F(2.5), "1-Jan-2020/1:00:02.5+05:00", {}},
        {D(2020, 1, 1), "hour", I(-1), "31-Dec-2019/23:00:00", {}},
        {DT(2020, 1, 1, hms(10, 0), 300), "date", D(2021, 2, 3), "3-Feb-2021", {}},
        {DT(2020, 1, 1, hms(10, 0), 300), "date", DT(2021, 2, 3, hms(8, 0)),
         "3-Feb-2021/10:00:00+05:00", {}},
        {D(2020, 1, 1), "year", I(20000), nullptr, Err::script_out_of_range},
        {D(2020, 1, 1), "year", text("x"), nullptr, Err::script_invalid_arg},
        {D(2020, 1, 1), "day", F(1.0), nullptr, Err::script_invalid_arg},
        {D(2020, 1, 1), "zone", text("x"), nullptr, Err::script_invalid_arg},
        {D(2020, 1, 1), "time", I(5), nullptr, Err::script_invalid_arg},
        {D(2020, 1, 1), "date", I(5), nullptr, Err::script_invalid_arg},
        {D(2020, 1, 1), "hour", F(1.0), nullptr, Err::script_invalid_arg},
    };
    for (const auto& c : cases) {
        Cell d = c.date;
        Cell value = c.value;
        auto err = error_of([&] { path(d, W(c.field), &value); });
        if (!c.result) {
            EXPECT_EQ(err, c.error) << mold(c.date) << " /" << c.field;
            EXPECT_TRUE(same(d, c.date) && d.data1 == c.date.data1) << "a refused set changed the date";
            continue;
        }
        ASSERT_FALSE(err) << mold(c.date) << " /" << c.field << " error " << error_code(*err);
        EXPECT_EQ(mold(d), c.result) << mold(c.date) << " /" << c.field;
    }
}

// Whole seconds of the UTC instant since 1970, in 64 bits.
TEST_F(DateTest, EpochSeconds) {
    struct Case {
        Cell date;
        int64_t seconds;
    } cases[] = {
        {DT(1970, 1, 1, 0.0), 0},
        {D(1970, 1, 2), 86400},
        {DT(2020, 1, 1, hms(1, 0), 300), 1577822400},
        {DT(2019, 12, 31, hms(20, 0)), 1577822400},
        {DT(2019, 12, 31, hms(14, 30), -330), 1577822400},
        {DT(1970, 1, 1, hms(5, 0, 0.5), 300), 1},
        {DT(1970, 1, 1, hms(4, 59, 59.4), 300), -1},
        {DT(1969, 12, 31, hms(23, 59, 59)), -1},
        {DT(2038, 1, 19, hms(3, 14, 8)), 2147483648LL},
        {D(2100, 1, 1), 4102444800LL},
        {D(1, 1, 1), -62135596800LL},
    };
    for (const auto& c : cases) EXPECT_EQ(date_to_epoch(&c.date), c.seconds) << mold(c.date);

    Cell last = DT(2038, 1, 19, hms(3, 14, 7)), past = DT(2038, 1, 19, hms(3, 14, 8));
    EXPECT_EQ(date_to_integer(&last), INT32_MAX);
    EXPECT_EQ(error_of([&] { date_to_integer(&past); }), Err::script_type_limit);
}

TEST_F(DateTest, BuildersForTheLexerTheFilesAndTheClock) {
    Cell c;
    date_make_from_system_time(&c, 2021, 3, 4, 5, 6, 7, 500000000);
    EXPECT_EQ(mold(c), "4-Mar-2021/5:06:07.5");
    // The clock's local day is already the next day in +01:00.
    uint32_t local_day = date_pack(2021, 3, 5, 4, false) | 4;
    date_make_from_clock(&c, local_day, hms(23, 30), false);
    EXPECT_EQ(mold(c), "5-Mar-2021/0:30:00+01:00");
    date_make_from_clock(&c, local_day, hms(23, 30), true);
    EXPECT_EQ(mold(c), "5-Mar-2021");
    // West of UTC the local day may still be the day before.
    uint32_t west_day = date_pack(2021, 3, 4, 0, false) | 0x40 | (5 << 2);
    date_make_from_clock(&c, west_day, hms(2, 0), false);
    EXPECT_EQ(mold(c), "4-Mar-2021/21:00:00-05:00");

    // ISO week literals: 2021-W01-1 and 2020-W53-7; ordinal 2020-060.
    date_make_from_os_parts(&c, 2021, 1, 1, 0.0, 0, 0, false);
    date_set_isoweek(&c, 1);
    date_set_weekday(&c, 1);
    EXPECT_EQ(mold(c), "4-Jan-2021");
    date_make_from_os_parts(&c, 2020, 1, 1, 0.0, 0, 0, false);
    date_set_isoweek(&c, 53);
    date_set_weekday(&c, 7);
    EXPECT_EQ(mold(c), "3-Jan-2021");
    date_make_from_os_parts(&c, 2020, 1, 1, 0.0, 0, 0, false);
    date_set_yearday(&c, 60);
    EXPECT_EQ(mold(c), "29-Feb-2020");

    EXPECT_EQ(error_of([&] { date_make_from_os_parts(&c, 16384, 1, 1, 0.0, 0, 0, false); }),
              Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { date_make_from_os_parts(&c, 2020, 1, 1, 0.0, 15, 99, true); }),
              Err::script_out_of_range);

    Cell b = block_of({});
    uint64_t bits = std::bit_cast<uint64_t>(-14400.0);
    Cell* made = date_make_in(&b, date_pack(2020, 1, 1, 20, true), uint32_t(bits >> 32), uint32_t(bits));
    EXPECT_EQ(mold(*made), "1-Jan-2020/1:00:00+05:00");
}

// Python's dates stop at year 1: before it, the calendar must still run day
// by day, with 29 February exactly in the leap years (year 0 is one).
TEST_F(DateTest, CalendarRunsOnThroughYearZero) {
    int64_t first = date_to_days(-801, 1, 1);
    int64_t last = date_to_days(2, 1, 1);
    uint32_t previous = date_days_to_date(first - 1, 0, false);
    int leap_days = 0;
    for (int64_t days = first; days < last; days++) {
        uint32_t w = date_days_to_date(days, 0, false);
        ASSERT_EQ(date_word_to_days(w), days);
        bool next_day = date_day(w) == date_day(previous) + 1 && date_month(w) == date_month(previous);
        bool next_month = date_day(w) == 1 && (date_month(w) == date_month(previous) % 12 + 1);
        ASSERT_TRUE(next_day || next_month) << date_year(w) << "-" << date_month(w) << "-" << date_day(w);
        if (date_month(w) == 2 && date_day(w) == 29) {
            EXPECT_TRUE(date_leap_year_q(date_year(w))) << date_year(w);
            leap_days++;
        }
        if (date_month(w) == 3 && date_day(w) == 1) {
            EXPECT_EQ(date_day(previous) == 29, date_leap_year_q(date_year(w))) << date_year(w);
        }
        previous = w;
    }
    EXPECT_EQ(leap_days, 195);  // 201 multiples of 4 in -800..0, less the 6 centuries not divisible by 400
    EXPECT_EQ(date_weekday(date_to_days(1, 1, 1)), 1);  // a Monday, as the proleptic calendar has it
}

TEST_F(DateTest, DifferenceIsATime) {
    Cell a = DT(2020, 1, 2, hms(1, 0), 300), b = DT(2020, 1, 1, hms(12, 0));
    date_difference(&a, &b);
    EXPECT_TRUE(same(a, T(hms(8, 0)))) << show(a);
}

TEST_F(DateTest, RandomDates) {
    Cell seed = DT(2020, 5, 5, hms(1, 2, 3));
    date_random(&seed, RandomArgs{.seed = true});
    EXPECT_EQ(type_of(&seed), TYPE_UNSET);
    for (int i = 0; i < 200; i++) {
        Cell bare = D(2020, 1, 1);
        date_random(&bare, RandomArgs{});
        EXPECT_FALSE(date_has_time(date_word(&bare)));
        Cell limit = D(2020, 1, 1);
        EXPECT_EQ(date_compare(&bare, &limit, CompareOp::lesser), -1) << mold(bare);
        Cell timed = DT(2020, 1, 1, hms(12, 0));
        date_random(&timed, RandomArgs{});
        double local = date_time(&timed) + date_zone_offset(date_zone(date_word(&timed)));
        EXPECT_TRUE(local >= 0.0 && local < 86400.0) << mold(timed);
        EXPECT_EQ(std::fmod(local, 24.0), 0.0) << mold(timed);
    }
}

// Python's datetime as the oracle over a large random set of dates.
TEST_F(DateTest, AgreesWithPythonDatetime) {
    auto file = std::filesystem::path(__FILE__).parent_path() / "data" / "date_cases.txt";
    std::ifstream in(file);
    ASSERT_TRUE(in) << file;
    std::string line;
    int checked = 0, failures = 0;
    auto check = [&](bool ok, const std::string& got) {
        checked++;
        if (!ok && ++failures <= 20) ADD_FAILURE() << line << "\n  got " << got;
    };
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream s(line);
        char kind;
        s >> kind;
        stack::init();
        stack::push_native_frame(&CALLER);
        if (kind == 'F') {
            int y, m, d, wd, yd, wk, iso;
            s >> y >> m >> d >> wd >> yd >> wk >> iso;
            Cell date = D(y, m, d);
            std::ostringstream got;
            got << int_field(date, "weekday") << ' ' << int_field(date, "yearday") << ' ' << int_field(date, "week")
                << ' ' << int_field(date, "isoweek");
            std::ostringstream want;
            want << wd << ' ' << yd << ' ' << wk << ' ' << iso;
            bool round_trip = date_days_to_date(date_word_to_days(date_word(&date)), 0, false) == date_word(&date);
            check(got.str() == want.str() && round_trip, got.str());
        } else if (kind == 'A') {
            int y, m, d, n, y2, m2, d2;
            s >> y >> m >> d >> n >> y2 >> m2 >> d2;
            Cell r = run_stack_slot(ACT_ADD, D(y, m, d), I(n));
            Cell want = D(y2, m2, d2);
            check(date_word(&r) == date_word(&want), mold(r));
        } else if (kind == 'S') {
            int y, m, d, y2, m2, d2, n;
            s >> y >> m >> d >> y2 >> m2 >> d2 >> n;
            Cell r = run_stack_slot(ACT_SUBTRACT, D(y, m, d), D(y2, m2, d2));
            check(same(r, I(n)), show(r));
        } else if (kind == 'Z') {
            int y, m, d, h, mi, sec, z, z2, y2, m2, d2, h2, mi2, s2;
            int64_t epoch;
            s >> y >> m >> d >> h >> mi >> sec >> z >> z2 >> y2 >> m2 >> d2 >> h2 >> mi2 >> s2 >> epoch;
            Cell date = DT(y, m, d, hms(h, mi, sec), z);
            bool epoch_ok = date_to_epoch(&date) == epoch;
            Cell moved = with(date, "timezone", T(z2 * 60.0));
            std::ostringstream want;
            want << y2 << ' ' << m2 << ' ' << d2 << ' ' << h2 << ' ' << mi2 << ' ' << s2;
            check(epoch_ok && local_fields(moved) == want.str() && date_to_epoch(&moved) == epoch,
                  local_fields(moved) + " epoch " + std::to_string(date_to_epoch(&date)));
        } else if (kind == 'T') {
            int y, m, d, h, mi, sec, z, y2, m2, d2, h2, mi2, s2;
            int64_t n;
            s >> y >> m >> d >> h >> mi >> sec >> z >> n >> y2 >> m2 >> d2 >> h2 >> mi2 >> s2;
            Cell r = run_stack_slot(ACT_ADD, DT(y, m, d, hms(h, mi, sec), z), T(double(n)));
            std::ostringstream want;
            want << y2 << ' ' << m2 << ' ' << d2 << ' ' << h2 << ' ' << mi2 << ' ' << s2;
            check(local_fields(r) == want.str(), local_fields(r));
        } else if (kind == 'D') {
            int y, m, d, h, mi, sec, z, y2, m2, d2, h2, mi2, s2, z2;
            int64_t n;
            s >> y >> m >> d >> h >> mi >> sec >> z >> y2 >> m2 >> d2 >> h2 >> mi2 >> s2 >> z2 >> n;
            Cell a = DT(y, m, d, hms(h, mi, sec), z), b = DT(y2, m2, d2, hms(h2, mi2, s2), z2);
            date_difference(&a, &b);
            check(same(a, T(double(n))), show(a));
        } else {
            ADD_FAILURE() << "unknown case " << line;
        }
    }
    EXPECT_GT(checked, 3000);
    EXPECT_EQ(failures, 0);
}
