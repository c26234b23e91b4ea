#include <gtest/gtest.h>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/arith.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/services/random.h"

#include "number_support.h"

using namespace kem;
using namespace kem::test;

namespace {

const double NaN = std::nan("");
const double INF = INFINITY;

// Checks an outcome: either the wanted cell or the wanted error.
void expect_outcome(const std::function<Cell()>& run, const Cell& want, std::optional<Err> error) {
    Cell got{};
    auto err = error_of([&] { got = run(); });
    if (error) {
        EXPECT_EQ(err, error) << "got " << show(got);
        return;
    }
    ASSERT_FALSE(err.has_value()) << "error " << error_code(*err);
    EXPECT_TRUE(same(got, want)) << "got " << show(got) << ", want " << show(want);
}

class FloatTest : public ::testing::Test {
protected:
    void SetUp() override {
        words_up();  // refused operands are named by their action's word
        float_pretty_print = true;
    }
    void TearDown() override { float_pretty_print = true; }
};

} // namespace

TEST_F(FloatTest, FormFollowsThePrettyPrintFlag) {
    struct Case {
        double value;
        bool pretty;
        const char* text;
    } cases[] = {
        {4.35 * 100, true, "435.0"},  // 434.99999999999994: printed again with fewer digits
        {4.35 * 100, false, "434.9999999999999"},
        {1.0000000000000002, true, "1.0"},
        {0.1 + 0.2, true, "0.3"},
        {2.0 / 3.0, true, "0.6666666666666666"},
        {42.0, true, "42.0"},
        {-1.5, true, "-1.5"},
        {1e20, true, "1.0e20"},
        {1.5e-7, true, "1.5e-7"},
        {1.2345678901234568e17, true, "1.234567890123457e17"},
        {1e-20, true, "0.0"},
        {1e-20, false, "1.0e-20"},
        {-0.0, true, "0.0"},
        {-0.0, false, "-0.0"},
        {INF, true, "1.#INF"},
        {-INF, true, "-1.#INF"},
        {NaN, true, "1.#NaN"},
    };
    for (const auto& c : cases) {
        float_pretty_print = c.pretty;
        EXPECT_EQ(text_of(F(c.value), false), c.text) << c.value << " pretty " << c.pretty;
    }
}

TEST_F(FloatTest, MoldIsTheShortestRoundTripText) {
    struct Case {
        double value;
        const char* text;
    } cases[] = {
        {4.35 * 100, "434.99999999999994"}, {0.1 + 0.2, "0.30000000000000004"}, {1e16, "10000000000000000.0"},
        {1e17, "1.0e17"},  {42.0, "42.0"}, {-0.0, "-0.0"}, {1e-20, "1.0e-20"}, {NaN, "1.#NaN"}, {-INF, "-1.#INF"},
    };
    for (const auto& c : cases) EXPECT_EQ(text_of(F(c.value), true), c.text) << c.value;
}

TEST_F(FloatTest, FormFloatModes) {
    struct Case {
        double value;
        int mode;
        const char* text;
    } cases[] = {
        {double(0.1f), FORM_SINGLE, "0.1"},
        {5.0, FORM_SINGLE, "5.0"},
        {50.0, FORM_SINGLE_PERCENT, "50%"},
        {100.0 / 3.0, FORM_PERCENT, "33.33333333333%"},
        {1e-17, FORM_PERCENT, "0%"},
        {2.0 / 3.0, FORM_TIME, "0.666667"},
        {5.0, FORM_TIME, "5"},
        {5.0, FORM_POINT, "5"},
        {1e-17, FORM_POINT, "0"},
        {1e30, FORM_POINT, "1e30"},
    };
    for (const auto& c : cases) EXPECT_STREQ(float_form_float(c.value, c.mode), c.text) << c.value << " mode " << c.mode;
}

TEST_F(FloatTest, ArithmeticAndResultTypes) {
    struct Case {
        const char* what;
        int slot;
        Cell left, right;
        Cell want;
        std::optional<Err> error = std::nullopt;
    } cases[] = {
        {"float + float", ACT_ADD, F(1.5), F(2.25), F(3.75)},
        {"float + integer", ACT_ADD, F(1.5), I(2), F(3.5)},
        {"float + char", ACT_ADD, F(1.5), Ch(2), F(3.5)},
        {"percent + float is percent", ACT_ADD, P(0.05), F(1.0), P(1.05)},
        {"float + percent is float", ACT_ADD, F(1.0), P(0.05), F(1.05)},
        {"float * time is time", ACT_MULTIPLY, F(2.0), T(10.0), T(20.0)},
        {"time + time is time", ACT_ADD, T(1.0), T(2.0), T(3.0)},
        {"percent - time is time", ACT_SUBTRACT, P(0.5), T(2.0), T(-1.5)},
        {"divide by zero", ACT_DIVIDE, F(1.0), F(0.0), F(INF)},
        {"negative divide by zero", ACT_DIVIDE, F(-1.0), F(0.0), F(-INF)},
        {"zero by zero", ACT_DIVIDE, F(0.0), F(0.0), F(NaN)},
        {"remainder", ACT_REMAINDER, F(5.5), F(2.0), F(1.5)},
        {"remainder keeps the left sign", ACT_REMAINDER, F(-5.5), I(2), F(-1.5)},
        {"remainder by zero", ACT_REMAINDER, F(5.0), F(0.0), F(NaN)},
        {"remainder by infinity", ACT_REMAINDER, F(5.0), F(INF), F(5.0)},
        {"infinity remainder by infinity", ACT_REMAINDER, F(INF), F(INF), F(NaN)},
        {"remainder by NaN", ACT_REMAINDER, F(5.0), F(NaN), F(NaN)},
        {"percent + char", ACT_ADD, P(0.5), Ch(1), {}, Err::script_invalid_type},
        {"time + char", ACT_ADD, T(0.5), Ch(1), {}, Err::script_invalid_type},
        {"float + none", ACT_ADD, F(0.5), NONE, {}, Err::script_invalid_type},
        {"float - pair", ACT_SUBTRACT, F(10.0), of_type(TYPE_PAIR), {}, Err::script_not_related},
        {"float / point", ACT_DIVIDE, F(10.0), of_type(TYPE_POINT2D), {}, Err::script_not_related},
        {"float - tuple", ACT_SUBTRACT, F(10.0), of_type(TYPE_TUPLE), {}, Err::script_not_related},
        {"time * pair", ACT_MULTIPLY, T(10.0), of_type(TYPE_PAIR), {}, Err::script_invalid_type},
        {"divided by money", ACT_DIVIDE, F(10.0), M(2), {}, Err::script_invalid_type},
        {"power", ACT_POWER, F(2.0), F(0.5), F(std::sqrt(2.0))},
        {"power keeps the base type", ACT_POWER, P(0.5), I(2), P(0.25)},
        {"power of an odd exponent type", ACT_POWER, F(2.0), P(0.5), {}, Err::script_expect_arg},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        expect_outcome([&] { return run_stack_slot(c.slot, c.left, c.right); }, c.want, c.error);
    }
}

TEST_F(FloatTest, OperatorCodesBeyondRemainderAreRefused) {
    EXPECT_EQ(error_of([] { float_do_math_op(1.0, 2.0, OP_AND); }), Err::script_cannot_use);
}

TEST_F(FloatTest, CompareWithToleranceAndNaN) {
    const double one_up = std::nextafter(1.0, 2.0);
    double ten_ulps = 1.0, eleven_ulps = 1.0;
    for (int i = 0; i < 10; i++) ten_ulps = std::nextafter(ten_ulps, 2.0);
    eleven_ulps = std::nextafter(ten_ulps, 2.0);
    struct Case {
        Cell a, b;
        CompareOp op;
        int32_t want;
    } cases[] = {
        {F(0.1 + 0.2), F(0.3), CompareOp::equal, 0},
        {F(0.1 + 0.2), F(0.3), CompareOp::not_equal, 0},
        {F(0.1 + 0.2), F(0.3), CompareOp::strict_equal, 1},
        {F(1.0), F(ten_ulps), CompareOp::equal, 0},
        {F(1.0), F(eleven_ulps), CompareOp::equal, 1},
        {F(1e-300), F(-1e-300), CompareOp::equal, 0},  // closer than the absolute tolerance
        {F(1.0), F(one_up), CompareOp::lesser, -1},
        {F(1.0), I(1), CompareOp::equal, 0},
        {F(1.0), I(1), CompareOp::strict_equal, 1},  // strict: types differ
        {F(1.0), I(1), CompareOp::find, 1},
        {F(0.5), P(0.5), CompareOp::equal, 0},
        {F(0.0), F(-0.0), CompareOp::strict_equal, 0},
        {F(0.0), F(-0.0), CompareOp::same, 1},  // same? looks at the bits
        {F(2.0), F(1.0), CompareOp::greater, 1},
        {F(NaN), F(NaN), CompareOp::equal, 1},
        {F(NaN), F(NaN), CompareOp::strict_equal, 1},
        {F(NaN), F(1.0), CompareOp::lesser, 1},
        {F(NaN), F(1.0), CompareOp::lesser_or_equal, 1},
        {F(1.0), F(NaN), CompareOp::greater, -1},
        {F(1.0), F(NaN), CompareOp::greater_or_equal, -1},
        {F(1.0), F(NaN), CompareOp::find, 1},  // find never takes NaN for a match
        {F(1.0), Ch(1), CompareOp::equal, -2},
        {F(1.0), NONE, CompareOp::equal, -2},
        {F(5.0), M(5), CompareOp::equal, 0},
        {F(5.0), M(5), CompareOp::strict_equal, 1},  // strict: types differ
        {F(1e-6), M(0), CompareOp::greater, 1},      // closer to zero than any amount, by its sign
        {F(-1e-6), M(0), CompareOp::lesser, -1},
        {F(-1e-6), M(-1), CompareOp::greater, 1},
        {F(1e18), M(3), CompareOp::greater, 1},      // beyond every amount, by its sign
        {F(-1e18), M(-3), CompareOp::lesser, -1},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(show(c.a) + " vs " + show(c.b) + " op " + std::to_string(int(c.op)));
        EXPECT_EQ(float_compare(&c.a, &c.b, c.op), c.want);
    }
}

TEST_F(FloatTest, AlmostEqualForSingles) {
    float one = 1.0f, ten_up = 1.0f;
    for (int i = 0; i < 10; i++) ten_up = std::nextafter(ten_up, 2.0f);
    EXPECT_TRUE(float_almost_equal32(one, ten_up));
    EXPECT_FALSE(float_almost_equal32(one, std::nextafter(ten_up, 2.0f)));
    EXPECT_TRUE(float_almost_equal32(-0.0f, 0.0f));
    EXPECT_TRUE(float_almost_equal32(std::nextafter(0.0f, 1.0f), std::nextafter(0.0f, -1.0f)));
    EXPECT_FALSE(float_almost_equal32(std::nanf(""), std::nanf("")));
    EXPECT_TRUE(float_almost_equal32(FLT_MAX, INFINITY));
    EXPECT_FALSE(float_almost_equal32(-FLT_MAX, INFINITY));
    EXPECT_FALSE(float_almost_equal32(1e-30f, 2e-30f));  // no absolute tolerance for singles
}

TEST_F(FloatTest, RoundWithEveryRefinement) {
    const double tiny = std::ldexp(1.0, -1074);  // the least subnormal
    const RoundCase cases[] = {
        {"half away from zero", F(2.5), std::nullopt, "", F(3.0)},
        {"negative half away", F(-2.5), std::nullopt, "", F(-3.0)},
        {"below half", F(2.4), std::nullopt, "", F(2.0)},
        {"even tie down", F(2.5), std::nullopt, "e", F(2.0)},
        {"even tie up", F(3.5), std::nullopt, "e", F(4.0)},
        {"half-down tie", F(2.5), std::nullopt, "h", F(2.0)},
        {"half-ceiling negative tie", F(-2.5), std::nullopt, "H", F(-2.0)},
        {"down", F(-2.7), std::nullopt, "d", F(-2.0)},
        {"floor", F(-2.2), std::nullopt, "f", F(-3.0)},
        {"ceiling", F(-2.7), std::nullopt, "c", F(-2.0)},
        {"down of a small negative is zero", F(-0.3), std::nullopt, "d", F(0.0)},
        {"to a hundredth", F(3.14159), F(0.01), "", F(3.14)},
        {"integer scale gives integer", F(2.5), I(1), "", I(3)},
        {"integer scale, large", F(12345.6), I(100), "", I(12300)},
        {"time scale gives time", F(7.4), T(1.0), "", T(7.0)},
        {"percent value, default scale", P(0.12345), std::nullopt, "", P(0.12)},
        {"percent value, scale in percent", P(0.12345), F(0.1), "", F(0.123)},
        {"percent value, integer scale", P(0.12345), I(1), "", I(0)},
        {"integral at this scale", F(1e300), I(1), "", F(1e300)},
        {"zero scale leaves it", F(0.0), F(0.0), "", F(0.0)},
        {"subnormal scale", F(3 * tiny), F(tiny), "", F(3 * tiny)},
        {"subnormal scale rounds", F(7 * tiny), F(2 * tiny), "d", F(6 * tiny)},
        {"largest finite result", F(DBL_MAX * 0.6), F(DBL_MAX), "", F(DBL_MAX)},
        {"result beyond the largest", F(1.7e308), F(1e308), "", {}, Err::math_overflow},
        {"integer result beyond 32 bits", F(1e10), I(1), "", {}, Err::math_overflow},
        {"money scale", F(1.5), of_type(TYPE_MONEY), "", {}, Err::script_not_related},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        expect_outcome([&] { return run_round(c); }, c.want, c.error);
    }
}

TEST_F(FloatTest, MakeAndTo) {
    NodeId bin = alloc_bytes(16);
    SeriesBuffer* b = node_buffer(bin);
    const uint8_t one[] = {0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 0x40};
    std::memcpy(b->head_ptr(), one, sizeof one);
    b->tail = b->head + sizeof one;
    auto block = [&](std::initializer_list<Cell> items) {
        NodeId n = alloc_cells(8);
        Cell blk{TYPE_BLOCK, 0, n, 0};
        for (const Cell& c : items) *block_alloc_tail(&blk) = c;
        return blk;
    };
    struct Case {
        const char* what;
        int32_t type;
        Cell spec;
        Cell want;
        std::optional<Err> error = std::nullopt;
    } cases[] = {
        {"block of mantissa and exponent", TYPE_FLOAT, block({F(1.5), I(3)}), F(1500.0)},
        {"exponent truncates", TYPE_FLOAT, block({I(2), F(-1.9)}), F(0.2)},
        {"block too long", TYPE_FLOAT, block({I(1), I(2), I(3)}), {}, Err::script_bad_to_arg},
        {"block with another value", TYPE_FLOAT, block({I(1), NONE}), {}, Err::script_bad_to_arg},
        {"binary of 8 bytes", TYPE_FLOAT, Cell{TYPE_BINARY, 0, bin, 0}, F(1.0)},
        {"short binary fills the low bytes", TYPE_FLOAT, Cell{TYPE_BINARY, 7, bin, 0},
         F(std::bit_cast<double>(uint64_t(0x0040)))},
        {"integer", TYPE_FLOAT, I(-3), F(-3.0)},
        {"char", TYPE_FLOAT, Ch(65), F(65.0)},
        {"time", TYPE_FLOAT, T(90.5), F(90.5)},
        {"percent keeps its double", TYPE_FLOAT, P(0.5), F(0.5)},
        {"to percent of a float", TYPE_PERCENT, F(0.5), P(0.5)},
        {"to percent of an integer", TYPE_PERCENT, I(5), P(5.0)},
        {"none", TYPE_FLOAT, NONE, {}, Err::script_bad_to_arg},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        expect_outcome(
            [&] {
                Cell* proto = begin_call(F(0.0), c.spec);
                return *action_entry_as<ACT_TO>(uint8_t(c.type))(proto, proto + 1, c.type);
            },
            c.want, c.error);
    }
}

TEST_F(FloatTest, NegateAbsoluteAndParity) {
    auto negate = [](Cell v) { return *action_entry_as<ACT_NEGATE>(type_of(&v))(&v); };
    EXPECT_TRUE(same(negate(F(0.0)), F(0.0)));
    EXPECT_TRUE(same(negate(F(-0.0)), F(0.0)));
    EXPECT_TRUE(same(negate(P(0.5)), P(-0.5)));
    EXPECT_TRUE(same(run_stack_slot(ACT_ABSOLUTE, F(-0.0), NONE), F(0.0)));
    EXPECT_TRUE(same(run_stack_slot(ACT_ABSOLUTE, P(-0.5), NONE), P(0.5)));

    struct Case {
        double v;
        bool even;
    } cases[] = {{3.9, false}, {-2.5, true}, {-3.5, false}, {1e10, true}, {NaN, true}, {-INF, true}};
    for (const auto& c : cases) {
        Cell v = F(c.v);
        EXPECT_EQ(action_entry_as<ACT_EVEN_Q>(TYPE_FLOAT)(&v), c.even) << c.v;
        EXPECT_EQ(action_entry_as<ACT_ODD_Q>(TYPE_FLOAT)(&v), !c.even) << c.v;
    }
}

TEST_F(FloatTest, TruncationHelperIsDefinedEverywhere) {
    EXPECT_EQ(trunc_to_int32(2.9), 2);
    EXPECT_EQ(trunc_to_int32(-2.9), -2);
    EXPECT_EQ(trunc_to_int32(2147483647.9), 2147483647);
    EXPECT_EQ(trunc_to_int32(-2147483648.9), -2147483647 - 1);
    EXPECT_EQ(trunc_to_int32(2147483648.0), -2147483647 - 1);
    EXPECT_EQ(trunc_to_int32(-2147483649.0), -2147483647 - 1);
    EXPECT_EQ(trunc_to_int32(NaN), -2147483647 - 1);
    EXPECT_EQ(trunc_to_int32(INF), -2147483647 - 1);
}

TEST_F(FloatTest, RandomKeepsSignAndTypeAndFollowsTheSeed) {
    auto draw = [](Cell v, bool seed = false, bool secure = false) {
        Cell* c = begin_call(v, NONE);
        return *action_entry_as<ACT_RANDOM>(type_of(c))(c, RandomArgs{.seed = seed, .secure = secure});
    };
    for (int i = 0; i < 100; i++) {
        Cell r = draw(F(-10.0));
        ASSERT_EQ(type_of(&r), TYPE_FLOAT);
        EXPECT_TRUE(cell_float(&r) <= 0.0 && cell_float(&r) >= -10.0) << cell_float(&r);
        r = draw(P(0.5), false, true);
        ASSERT_EQ(type_of(&r), TYPE_PERCENT);
        EXPECT_TRUE(cell_float(&r) >= 0.0 && cell_float(&r) <= 0.5) << cell_float(&r);
    }
    Cell seeded = draw(F(2.5), true);
    EXPECT_EQ(type_of(&seeded), TYPE_UNSET);
    Cell first = draw(F(1.0));
    draw(F(2.5), true);
    EXPECT_TRUE(same(draw(F(1.0)), first));
}
