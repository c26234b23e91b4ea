#include <gtest/gtest.h>
#include <cmath>
#include <optional>
#include <string>
#include <vector>
#include "environment/startup.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/word.h"
#include "runtime/services/unicode/text.h"

#include "number_support.h"

using namespace kem;
using namespace kem::test;

namespace {

const double INF = INFINITY;

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

class TimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        init_runtime();
        words_init();
        stack::init();
        stack::push_native_frame(&CALLER);
    }

    // Path access on a copy of t: reads when value is null, else sets.
    Cell path(Cell& t, const Cell& element, const Cell* value = nullptr) {
        Cell e = element;
        Cell v = value ? *value : NONE;
        Cell* r = time_eval_path(&t, &e, value ? &v : nullptr, PathStep{.index = 0, .last = true});
        return *r;
    }
    Cell set_field(double seconds, const Cell& element, const Cell& value) {
        Cell t = T(seconds);
        path(t, element, &value);
        return t;
    }
};

} // namespace

TEST_F(TimeTest, FormAndMoldTexts) {
    struct Case {
        double seconds;
        const char* text;
    } cases[] = {
        {3600.0, "1:00:00"},          {-5400.0, "-1:30:00"},        {360000.0, "100:00:00"},
        {65.5, "0:01:05.5"},          {0.0, "0:00:00"},             {-0.0, "0:00:00"},
        {1e-07, "0:00:00"},           {3723.25, "1:02:03.25"},      {-0.5, "-0:00:00.5"},
        {59.0, "0:00:59"},            {86399.0, "23:59:59"},        {1e13, "2777777777:46:40"},
        {INF, "1.#INF"},              {-INF, "-1.#INF"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text_of(T(c.seconds), true), c.text) << c.seconds;
        EXPECT_EQ(text_of(T(c.seconds), false), c.text) << c.seconds;
    }
}

TEST_F(TimeTest, MakeAndTo) {
    struct Case {
        const char* what;
        Cell spec;
        std::optional<double> seconds;  // none: bad-to-arg
    } cases[] = {
        {"[1 30]", block_of({I(1), I(30)}), 5400.0},
        {"[-1 30]", block_of({I(-1), I(30)}), -5400.0},
        {"[1 -30]", block_of({I(1), I(-30)}), std::nullopt},
        {"[1 2 3 4]", block_of({I(1), I(2), I(3), I(4)}), std::nullopt},
        {"[1 2 3.5]", block_of({I(1), I(2), F(3.5)}), 3723.5},
        {"[-1 2 3.5]", block_of({I(-1), I(2), F(3.5)}), -3723.5},
        {"[1.5]", block_of({F(1.5)}), std::nullopt},
        {"[1 2.0]", block_of({I(1), F(2.0)}), std::nullopt},
        {"[]", block_of({}), 0.0},
        {"90", I(90), 90.0},
        {"1.5", F(1.5), 1.5},
        {"50%", P(0.5), 0.5},
        {"0:01", T(60.0), 60.0},
        {"#\"a\"", Ch('a'), std::nullopt},
        {"\"10:20\"", text("10:20"), 37200.0},
        {"\"abc\"", text("abc"), std::nullopt},
        {"\"10:20 1\"", text("10:20 1"), std::nullopt},
    };
    for (auto& c : cases) {
        for (int slot : {ACT_MAKE, ACT_TO}) {
            Cell proto = T(0.0);
            Cell spec = c.spec;
            Cell got{};
            auto err = error_of([&] {
                got = *reinterpret_cast<action_sig::Make>(type_action_table[TYPE_TIME][slot])(&proto, &spec,
                                                                                            TYPE_TIME);
            });
            if (!c.seconds) {
                EXPECT_EQ(err, Err::script_bad_to_arg) << c.what;
                continue;
            }
            ASSERT_FALSE(err) << c.what;
            EXPECT_TRUE(same(got, T(*c.seconds))) << c.what << ": " << show(got);
        }
    }
}

TEST_F(TimeTest, FieldsByPickAndPath) {
    const Cell t = T(3723.0);  // 1:02:03
    auto pick = [&](int32_t index, Cell boxed) {
        Cell v = t;
        return *time_pick(&v, index, &boxed);
    };
    EXPECT_TRUE(same(pick(1, I(1)), I(1)));
    EXPECT_TRUE(same(pick(2, I(2)), I(2)));
    EXPECT_TRUE(same(pick(0, W("second")), F(3.0)));
    EXPECT_TRUE(same(pick(0, W("HOUR")), I(1)));
    EXPECT_EQ(error_of([&] { pick(0, I(0)); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { pick(4, I(4)); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { pick(0, W("year")); }), Err::script_cannot_use);

    Cell v = t;
    EXPECT_TRUE(same(path(v, W("minute")), I(2)));
    EXPECT_TRUE(same(path(v, I(3)), F(3.0)));
    EXPECT_EQ(error_of([&] { path(v, I(4)); }), Err::script_invalid_path);
    EXPECT_EQ(error_of([&] { path(v, text("x")); }), Err::script_invalid_path);
    EXPECT_EQ(error_of([&] { path(v, W("foo")); }), Err::script_cannot_use);

    // A negative time carries its sign on the hours and seconds.
    Cell n = T(-3723.5);
    EXPECT_TRUE(same(path(n, W("hour")), I(-1)));
    EXPECT_TRUE(same(path(n, W("minute")), I(2)));
    EXPECT_TRUE(same(path(n, W("second")), F(-3.5)));
}

TEST_F(TimeTest, SettingFields) {
    struct Case {
        double seconds;
        const char* field;
        Cell value;
        std::optional<double> result;  // none: invalid-arg
    } cases[] = {
        {5400.0, "minute", I(45), 6300.0},
        {5400.0, "second", F(2.5), 5402.5},
        {5400.0, "second", I(7), 5407.0},
        {5400.0, "hour", I(3), 12600.0},
        {5400.0, "hour", I(-2), -9000.0},
        {-5400.0, "hour", I(-2), -9000.0},
        {-5400.0, "hour", I(2), 9000.0},
        {-5400.0, "hour", I(0), -1800.0},
        {-5400.0, "minute", I(10), -4200.0},
        {-5400.0, "second", F(-2.5), -5402.5},
        {5400.0, "minute", I(75), 8100.0},
        {5400.0, "hour", text("1"), std::nullopt},
        {5400.0, "minute", F(1.0), std::nullopt},
        {5400.0, "second", T(1.0), std::nullopt},
    };
    for (const auto& c : cases) {
        Cell got{};
        auto err = error_of([&] { got = set_field(c.seconds, W(c.field), c.value); });
        if (!c.result) {
            EXPECT_EQ(err, Err::script_invalid_arg) << c.field;
            continue;
        }
        ASSERT_FALSE(err) << c.field;
        EXPECT_TRUE(same(got, T(*c.result))) << c.seconds << " " << c.field << ": " << show(got);
    }
}

// Setting a field to what it reads must leave the time as it was, for
// negative times too.
TEST_F(TimeTest, FieldRoundTripKeepsTheTime) {
    for (double seconds : {-5400.0, -1800.5, -3723.25, -59.5, -0.25, -360000.0, 5400.75, 0.0, 86399.5}) {
        for (const char* field : {"hour", "minute", "second"}) {
            Cell t = T(seconds);
            Cell read = path(t, W(field));
            path(t, W(field), &read);
            EXPECT_TRUE(same(t, T(seconds))) << seconds << " " << field << ": " << show(t);
        }
    }
}

TEST_F(TimeTest, PathSetTellsAnObjectOwner) {
    static std::vector<Cell> heard;
    auto saved = context_on_change;
    context_on_change = [](Cell* object, Cell* word, Cell* old_value, Cell* new_value) {
        heard = {*object, *word, *old_value, *new_value};
    };
    heard.clear();
    Cell owner{TYPE_OBJECT, 1, 0, 1};  // a change-handler node: the object listens
    Cell field = W("start");
    Cell t = T(3600.0);
    Cell element = W("minute");
    Cell value = I(5);
    time_eval_path(&t, &element, &value,
                   PathStep{.owner = &owner, .prev_element = &field, .index = 1, .last = true, .notify = true});
    ASSERT_EQ(heard.size(), 4u);
    EXPECT_EQ(heard[1].data2, field.data2);
    EXPECT_TRUE(same(heard[2], T(3600.0)));
    EXPECT_TRUE(same(heard[3], T(3900.0)));

    heard.clear();
    time_eval_path(&t, &element, &value, PathStep{.owner = &owner, .prev_element = &field, .index = 1, .last = true});
    EXPECT_TRUE(heard.empty());
    context_on_change = saved;
}

TEST_F(TimeTest, Arithmetic) {
    Cell r = run_stack_slot(ACT_DIVIDE, T(3600.0), T(1800.0));
    EXPECT_TRUE(same(r, F(2.0))) << show(r);
    EXPECT_TRUE(same(run_stack_slot(ACT_DIVIDE, T(3600.0), I(2)), T(1800.0)));
    EXPECT_TRUE(same(run_stack_slot(ACT_MULTIPLY, T(3600.0), I(2)), T(7200.0)));
    EXPECT_TRUE(same(run_stack_slot(ACT_MULTIPLY, T(10.0), F(1.5)), T(15.0)));
    EXPECT_TRUE(same(run_stack_slot(ACT_ADD, T(3600.0), I(1)), T(3601.0)));
    EXPECT_TRUE(same(run_stack_slot(ACT_SUBTRACT, T(60.0), T(90.0)), T(-30.0)));
    EXPECT_TRUE(same(run_stack_slot(ACT_REMAINDER, T(3700.0), T(3600.0)), T(100.0)));
    EXPECT_TRUE(same(run_stack_slot(ACT_MULTIPLY, F(2.0), T(10.0)), T(20.0)));
    EXPECT_EQ(error_of([] { run_stack_slot(ACT_MULTIPLY, T(3600.0), T(1800.0)); }), Err::script_not_related);
    EXPECT_EQ(error_of([] { run_stack_slot(ACT_ADD, T(1.0), Ch('a')); }), Err::script_invalid_type);

    Cell date;
    date_make_from_os_parts(&date, 2020, 1, 1, 0.0, 0, 0, false);
    EXPECT_EQ(error_of([&] { run_stack_slot(ACT_SUBTRACT, T(3600.0), date); }), Err::script_not_related);
    // time + date is the date moved by the time.
    Cell moved = run_stack_slot(ACT_ADD, T(5400.0), date);
    EXPECT_EQ(text_of(moved, true), "1-Jan-2020/1:30:00");
}

TEST_F(TimeTest, CompareAndNegateComeFromFloat) {
    Cell a = T(3600.0), b = I(3600), c = T(3600.5);
    EXPECT_EQ(action_entry_as<ACT_COMPARE>(TYPE_TIME)(&a, &b, CompareOp::equal), 0);
    EXPECT_EQ(action_entry_as<ACT_COMPARE>(TYPE_TIME)(&a, &c, CompareOp::lesser), -1);
    EXPECT_TRUE(same(*action_entry_as<ACT_NEGATE>(TYPE_TIME)(&a), T(-3600.0)));
    EXPECT_EQ(action_entry(TYPE_TIME, ACT_POWER), nullptr);
}

TEST_F(TimeTest, RoundStaysATime) {
    auto round = [](double seconds, std::optional<Cell> scale, bool down = false) {
        Cell v = T(seconds);
        Cell s = scale ? *scale : NONE;
        return *action_entry_as<ACT_ROUND>(TYPE_TIME)(&v, RoundArgs{.to = scale ? &s : nullptr, .down = down});
    };
    EXPECT_TRUE(same(round(3723.4, std::nullopt), T(3723.0)));
    EXPECT_TRUE(same(round(-3723.5, std::nullopt), T(-3724.0)));
    EXPECT_TRUE(same(round(3723.4, I(60)), T(3720.0)));
    EXPECT_TRUE(same(round(3723.4, T(1800.0)), T(3600.0)));
    EXPECT_TRUE(same(round(3723.4, F(0.5), true), T(3723.0)));
    // Far beyond 32 bits of seconds: still a time, no overflow.
    EXPECT_TRUE(same(round(1e12 + 0.4, I(1)), T(1e12)));
}

TEST_F(TimeTest, EvenAndOddLookAtTheSeconds) {
    struct Case {
        double seconds;
        bool even;
    } cases[] = {{2.0, true}, {3.0, false}, {60.0, true}, {61.0, false}, {1.9999999, true},
                 {-2.0, true}, {-3.0, false}, {-1.9999999, true}, {3600.0 + 59.0, false}};
    for (const auto& c : cases) {
        Cell v = T(c.seconds);
        EXPECT_EQ(action_entry_as<ACT_EVEN_Q>(TYPE_TIME)(&v), c.even) << c.seconds;
        EXPECT_EQ(action_entry_as<ACT_ODD_Q>(TYPE_TIME)(&v), !c.even) << c.seconds;
    }
}

// Whole seconds rounded half away from zero, and a refusal beyond 32 bits.
TEST_F(TimeTest, ToIntegerRoundsAwayFromZeroAndChecksTheRange) {
    struct Case {
        double seconds;
        std::optional<int32_t> result;
    } cases[] = {
        {1.5, 2},
        {-1.5, -2},
        {-1.2, -1},
        {-0.5, -1},
        {0.49999999999999994, 0},
        {-0.49999999999999994, 0},
        {2147483647.4, 2147483647},
        {-2147483648.4, INT32_MIN},
        {2147483647.5, std::nullopt},
        {-2147483648.5, std::nullopt},
        {1e300, std::nullopt},
        {std::nan(""), std::nullopt},
    };
    for (const auto& c : cases) {
        std::optional<int32_t> got;
        auto err = error_of([&] { got = time_to_integer(c.seconds); });
        if (!c.result) {
            EXPECT_EQ(err, Err::script_type_limit) << c.seconds;
            continue;
        }
        EXPECT_EQ(got, c.result) << c.seconds;
    }
}

TEST_F(TimeTest, LiteralPartsAndKembinCells) {
    EXPECT_EQ(time_from_parts(10, 30, 15.5, false), 37815.5);
    EXPECT_EQ(time_from_parts(-1, 30, 0.0, false), -5400.0);
    EXPECT_EQ(time_from_parts(0, 30, 0.0, true), -1800.0);
    EXPECT_EQ(time_from_parts(10, 99, 0.0, false), 41940.0);

    Cell b = block_of({});
    uint64_t bits = std::bit_cast<uint64_t>(-5400.25);
    Cell* c = time_make_in(&b, uint32_t(bits >> 32), uint32_t(bits));
    EXPECT_TRUE(same(*c, T(-5400.25)));
    EXPECT_EQ(block_rs_length(&b), 1);
}
