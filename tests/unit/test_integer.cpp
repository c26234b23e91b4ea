#include <gtest/gtest.h>
#include <bit>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
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

class IntegerTest : public ::testing::Test {
protected:
    void SetUp() override {
        words_up();  // refused operands are named by their action's word
    }
};

struct MathCase {
    const char* what;
    int slot;
    Cell left, right;
    Cell want;
    std::optional<Err> error = std::nullopt;
};

void check_math(const MathCase& c) {
    check_outcome(c.what, [&] { return run_stack_slot(c.slot, c.left, c.right); }, c.want, c.error, same, show);
}

} // namespace

TEST_F(IntegerTest, ArithmeticWithEveryNumericPartner) {
    const MathCase cases[] = {
        {"add", ACT_ADD, I(2), I(3), I(5)},
        {"add overflows to float", ACT_ADD, I(2147483647), I(1), F(2147483648.0)},
        {"subtract overflows to float", ACT_SUBTRACT, I(-2147483647 - 1), I(1), F(-2147483649.0)},
        {"multiply overflows to float", ACT_MULTIPLY, I(65536), I(65536), F(4294967296.0)},
        {"largest product", ACT_MULTIPLY, I(-2147483647 - 1), I(-2147483647 - 1), F(4611686018427387904.0)},
        {"exact divide stays integer", ACT_DIVIDE, I(6), I(2), I(3)},
        {"inexact divide gives float", ACT_DIVIDE, I(7), I(2), F(3.5)},
        {"negative inexact divide", ACT_DIVIDE, I(-7), I(2), F(-3.5)},
        {"remainder keeps the left sign", ACT_REMAINDER, I(-7), I(2), I(-1)},
        {"remainder of a positive", ACT_REMAINDER, I(7), I(-2), I(1)},
        {"and~", ACT_AND_T, I(12), I(10), I(8)},
        {"or~", ACT_OR_T, I(12), I(10), I(14)},
        {"xor~", ACT_XOR_T, I(12), I(10), I(6)},
        {"char operand counts by code", ACT_ADD, I(1), Ch(65), I(66)},
        {"float operand gives float", ACT_ADD, I(1), F(0.5), F(1.5)},
        {"percent operand gives float", ACT_MULTIPLY, I(2), P(0.5), F(1.0)},
        {"time operand gives time", ACT_MULTIPLY, I(2), T(10.0), T(20.0)},
        {"float divide by zero is infinite", ACT_DIVIDE, I(1), F(0.0), F(INFINITY)},
        {"divide by zero", ACT_DIVIDE, I(7), I(0), {}, Err::math_zero_divide},
        {"remainder by zero", ACT_REMAINDER, I(7), I(0), {}, Err::math_zero_divide},
        {"minimum divided by -1", ACT_DIVIDE, I(-2147483647 - 1), I(-1), {}, Err::math_overflow},
        {"minimum remainder -1", ACT_REMAINDER, I(-2147483647 - 1), I(-1), {}, Err::math_overflow},
        {"bitwise with a float", ACT_AND_T, I(1), F(1.0), {}, Err::script_cannot_use},
        {"operand of no number type", ACT_ADD, I(1), NONE, {}, Err::script_invalid_type},
        {"divided by money", ACT_DIVIDE, I(1), M(2), {}, Err::script_invalid_type},
        {"divide by a pair", ACT_DIVIDE, I(1), of_type(TYPE_PAIR), {}, Err::script_not_related},
        {"subtract a tuple", ACT_SUBTRACT, I(1), of_type(TYPE_TUPLE), {}, Err::script_not_related},
        {"multiply a date", ACT_MULTIPLY, I(1), of_type(TYPE_DATE), {}, Err::script_not_related},
    };
    for (const auto& c : cases) check_math(c);
}

TEST_F(IntegerTest, OperatorRoutineWithoutResultCellWrapsAndTruncates) {
    EXPECT_EQ(integer_do_math_op(2147483647, 1, OP_ADD, nullptr), -2147483647 - 1);
    EXPECT_EQ(integer_do_math_op(7, 2, OP_DIVIDE, nullptr), 3);
    Cell out = I(0);
    EXPECT_EQ(integer_do_math_op(7, 2, OP_DIVIDE, &out), 3);
    EXPECT_TRUE(same(out, F(3.5)));
    out = I(0);
    integer_do_math_op(-2, 3, OP_MULTIPLY, &out);
    EXPECT_TRUE(same(out, I(-6)));
}

TEST_F(IntegerTest, PartnerTypesComputeThroughTheirOwnRow) {
    // A stand-in pair! whose add adds the integer to both axes and whose
    // negate negates both: 1 - 2x3 must come out as -1x-2.
    auto pair_add = []() -> Cell* {
        Cell* p = stack::arguments;
        int32_t n = cell_int(p + 1);
        p->data2 += uint32_t(n);
        p->data3 += uint32_t(n);
        return p;
    };
    auto pair_negate = [](Cell* p) -> Cell* {
        p->data2 = uint32_t(-int32_t(p->data2));
        p->data3 = uint32_t(-int32_t(p->data3));
        return p;
    };
    register_datatype(TYPE_PAIR, 0, "pair!",
                      ActionRow::none_all()
                          .set<ACT_ADD>(+pair_add)
                          .set<ACT_SUBTRACT>(+pair_add)
                          .set<ACT_NEGATE>(+pair_negate));
    Cell pair{TYPE_PAIR, 0, 2, 3};

    Cell r = run_stack_slot(ACT_SUBTRACT, I(1), pair);
    EXPECT_EQ(type_of(&r), TYPE_PAIR);
    EXPECT_EQ(int32_t(r.data2), -1);
    EXPECT_EQ(int32_t(r.data3), -2);

    r = run_stack_slot(ACT_ADD, I(10), pair);
    EXPECT_EQ(int32_t(r.data2), 12);
    EXPECT_EQ(int32_t(r.data3), 13);
    // The number reaches the partner as its second argument, an integer!.
    EXPECT_TRUE(same(stack::arguments[1], I(10)));

    register_datatype(TYPE_PAIR, 0, "pair!", ActionRow::none_all());
    EXPECT_EQ(error_of([&] { run_stack_slot(ACT_SUBTRACT, I(1), pair); }), Err::script_invalid_type);
}

// Whatever word called it (an operator, an alias), the error names the action
// and the refused operand's type.
TEST_F(IntegerTest, NotRelatedNamesTheActionAndTheRefusedType) {
    try {
        run_stack_slot(ACT_DIVIDE, I(1), of_type(TYPE_PAIR));
        FAIL() << "no error";
    } catch (const KemError& e) {
        EXPECT_EQ(e.id, Err::script_not_related);
        EXPECT_EQ(type_of(&e.args[0]), TYPE_WORD);
        EXPECT_EQ(e.args[0].data2, word_load("divide").data2);
        EXPECT_EQ(type_of(&e.args[1]), TYPE_DATATYPE);
        EXPECT_EQ(e.args[1].data1, uint32_t(TYPE_PAIR));
    }
}

TEST_F(IntegerTest, Power) {
    const MathCase cases[] = {
        {"small power", ACT_POWER, I(2), I(10), I(1024)},
        {"zero exponent", ACT_POWER, I(3), I(0), I(1)},
        {"minimum fits", ACT_POWER, I(-2), I(31), I(-2147483647 - 1)},
        {"overflow goes float", ACT_POWER, I(2), I(31), F(2147483648.0)},
        {"overflow while squaring", ACT_POWER, I(65536), I(3), F(281474976710656.0)},
        {"negative exponent", ACT_POWER, I(2), I(-1), F(0.5)},
        {"float exponent", ACT_POWER, I(9), F(0.5), F(3.0)},
        {"exponent of another type", ACT_POWER, I(2), P(0.5), {}, Err::script_expect_arg},
    };
    for (const auto& c : cases) check_math(c);
}

TEST_F(IntegerTest, SignNegateAbsoluteComplementParity) {
    EXPECT_EQ(integer_sign(-5), -1);
    EXPECT_EQ(integer_sign(0), 0);
    EXPECT_EQ(integer_sign(9), 1);

    Cell v = I(5);
    action_entry_as<ACT_NEGATE>(TYPE_INTEGER)(&v);
    EXPECT_EQ(cell_int(&v), -5);
    v = I(-2147483647 - 1);
    EXPECT_EQ(error_of([&] { action_entry_as<ACT_NEGATE>(TYPE_INTEGER)(&v); }), Err::math_overflow);
    EXPECT_EQ(error_of([&] { run_stack_slot(ACT_ABSOLUTE, I(-2147483647 - 1), NONE); }), Err::math_overflow);
    EXPECT_TRUE(same(run_stack_slot(ACT_ABSOLUTE, I(-7), NONE), I(7)));

    v = I(0);
    action_entry_as<ACT_COMPLEMENT>(TYPE_INTEGER)(&v);
    EXPECT_EQ(cell_int(&v), -1);

    Cell odd = I(-3), even = I(-2147483647 - 1);
    EXPECT_TRUE(action_entry_as<ACT_ODD_Q>(TYPE_INTEGER)(&odd));
    EXPECT_FALSE(action_entry_as<ACT_EVEN_Q>(TYPE_INTEGER)(&odd));
    EXPECT_TRUE(action_entry_as<ACT_EVEN_Q>(TYPE_INTEGER)(&even));
}

TEST_F(IntegerTest, RoundWithEveryRefinement) {
    const int32_t MIN = -2147483647 - 1;
    const RoundCase cases[] = {
        {"half away from zero", I(15), I(10), "", I(20)},
        {"negative half away", I(-15), I(10), "", I(-20)},
        {"below half", I(14), I(10), "", I(10)},
        {"above half", I(-16), I(10), "", I(-20)},
        {"even tie down", I(25), I(10), "e", I(20)},
        {"even tie up", I(35), I(10), "e", I(40)},
        {"even off a tie", I(26), I(10), "e", I(30)},
        {"half-down tie", I(15), I(10), "h", I(10)},
        {"half-down negative tie", I(-15), I(10), "h", I(-10)},
        {"half-ceiling positive tie", I(15), I(10), "H", I(20)},
        {"half-ceiling negative tie", I(-15), I(10), "H", I(-10)},
        {"down", I(-19), I(10), "d", I(-10)},
        {"floor negative", I(-11), I(10), "f", I(-20)},
        {"floor positive", I(19), I(10), "f", I(10)},
        {"ceiling negative", I(-11), I(10), "c", I(-10)},
        {"ceiling positive", I(11), I(10), "c", I(20)},
        {"down wins over floor", I(-11), I(10), "df", I(-10)},
        {"floor wins over ceiling", I(11), I(10), "fc", I(10)},
        {"negative scale counts by magnitude", I(7), I(-2), "", I(8)},
        {"zero scale leaves it", I(7), I(0), "", I(7)},
        {"multiple stays", I(30), I(10), "c", I(30)},
        {"no /to rounds to 1", I(MIN), std::nullopt, "", I(MIN)},
        // Results that fit are given even when the other candidate would not.
        {"floor near the maximum", I(2147483647), I(10), "f", I(2147483640)},
        {"down near the maximum", I(2147483647), I(10), "d", I(2147483640)},
        {"ceiling near the minimum", I(MIN), I(10), "c", I(-2147483640)},
        {"half-ceiling tie near the minimum", I(MIN + 3), I(10), "H", I(-2147483640)},
        {"minimum scale", I(1), I(MIN), "", I(0)},
        {"minimum with scale 2", I(MIN), I(2), "", I(MIN)},
        {"up beyond the maximum", I(2147483647), I(10), "", {}, Err::math_overflow},
        {"ceiling beyond the maximum", I(2147483647), I(10), "c", {}, Err::math_overflow},
        {"floor beyond the minimum", I(MIN), I(10), "f", {}, Err::math_overflow},
        {"minimum rounds away", I(MIN), I(10), "", {}, Err::math_overflow},
        {"float scale", I(7), F(2.5), "", F(7.5)},
        {"money scale", I(7), of_type(TYPE_MONEY), "", {}, Err::script_not_related},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Cell got{};
        auto err = error_of([&] { got = run_round(c); });
        if (c.error) {
            EXPECT_EQ(err, c.error) << "got " << show(got);
            continue;
        }
        ASSERT_FALSE(err.has_value()) << "error " << error_code(*err);
        EXPECT_TRUE(same(got, c.want)) << "got " << show(got) << ", want " << show(c.want);
    }
}

TEST_F(IntegerTest, CompareWithNumericPartners) {
    struct Case {
        Cell a, b;
        CompareOp op;
        int32_t want;
    } cases[] = {
        {I(1), I(2), CompareOp::lesser, -1},
        {I(2), I(2), CompareOp::equal, 0},
        {I(3), I(2), CompareOp::greater, 1},
        {I(65), Ch(65), CompareOp::equal, 0},
        {I(65), Ch(65), CompareOp::strict_equal, 1},  // strict: types differ
        {I(1), F(1.0), CompareOp::equal, 0},
        {I(1), F(1.0), CompareOp::strict_equal, 1},
        {I(1), F(1.0), CompareOp::find, 1},
        {I(1), F(0.5), CompareOp::greater, 1},
        {I(1), P(0.5), CompareOp::lesser, 1},
        {I(1), T(2.0), CompareOp::lesser, -1},
        {I(1), F(NAN), CompareOp::lesser, 1},  // no ordering holds with NaN
        {I(1), F(NAN), CompareOp::greater_or_equal, -1},
        {I(1), NONE, CompareOp::equal, -2},
        {I(1), M(1), CompareOp::equal, 0},
        {I(1), M(1), CompareOp::strict_equal, 1},
        {I(-3), M(-2), CompareOp::lesser, -1},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(show(c.a) + " vs " + show(c.b) + " op " + std::to_string(int(c.op)));
        EXPECT_EQ(integer_compare(&c.a, &c.b, c.op), c.want);
    }
}

TEST_F(IntegerTest, MakeAndTo) {
    NodeId bin = alloc_bytes(8);
    SeriesBuffer* b = node_buffer(bin);
    const uint8_t bytes[] = {1, 2, 3, 4, 5};
    std::memcpy(b->head_ptr(), bytes, 5);
    b->tail = b->head + 5;
    Cell five{TYPE_BINARY, 0, bin, 0};        // #{0102030405}
    Cell two{TYPE_BINARY, 3, bin, 0};         // #{0405}
    Cell none_left{TYPE_BINARY, 5, bin, 0};   // #{}
    Cell yes{TYPE_LOGIC, 1, 0, 0}, no{TYPE_LOGIC, 0, 0, 0};

    struct Case {
        const char* what;
        int slot;
        Cell spec;
        Cell want;
        std::optional<Err> error = std::nullopt;
    } cases[] = {
        {"integer", ACT_TO, I(5), I(5)},
        {"char", ACT_TO, Ch(0x263A), I(0x263A)},
        {"float truncates", ACT_TO, F(2.9), I(2)},
        {"negative float truncates", ACT_TO, F(-2.9), I(-2)},
        {"percent truncates", ACT_TO, P(150.7), I(150)},
        {"minimum float", ACT_TO, F(-2147483648.0), I(-2147483647 - 1)},
        {"float too large", ACT_TO, F(1e10), {}, Err::script_type_limit},
        {"float too small", ACT_TO, F(-2147483649.0), {}, Err::script_type_limit},
        {"NaN", ACT_TO, F(NAN), {}, Err::script_type_limit},
        {"time rounds at the half", ACT_TO, T(3600.6), I(3601)},
        {"time below the half", ACT_TO, T(3600.4), I(3600)},
        {"time too large", ACT_TO, T(3e9), {}, Err::script_type_limit},
        {"binary takes 4 bytes", ACT_TO, five, I(0x01020304)},
        {"short binary", ACT_TO, two, I(0x0405)},
        {"empty binary", ACT_TO, none_left, I(0)},
        {"none", ACT_TO, NONE, {}, Err::script_bad_to_arg},
        {"to of logic", ACT_TO, yes, {}, Err::script_bad_to_arg},
        {"make of true", ACT_MAKE, yes, I(1)},
        {"make of false", ACT_MAKE, no, I(0)},
        {"make of a float", ACT_MAKE, F(7.9), I(7)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Cell got{};
        auto err = error_of([&] {
            Cell* proto = begin_call(I(0), c.spec);
            auto fn = c.slot == ACT_TO ? action_entry_as<ACT_TO>(TYPE_INTEGER) : action_entry_as<ACT_MAKE>(TYPE_INTEGER);
            got = *fn(proto, proto + 1, TYPE_INTEGER);
        });
        if (c.error) {
            EXPECT_EQ(err, c.error) << "got " << show(got);
            continue;
        }
        ASSERT_FALSE(err.has_value()) << "error " << error_code(*err);
        EXPECT_TRUE(same(got, c.want)) << "got " << show(got) << ", want " << show(c.want);
    }
}

TEST_F(IntegerTest, FormAndMold) {
    struct Case {
        int32_t v;
        const char* text;
    } cases[] = {{0, "0"}, {7, "7"}, {-42, "-42"}, {2147483647, "2147483647"}, {-2147483647 - 1, "-2147483648"}};
    for (const auto& c : cases) {
        EXPECT_EQ(text_of(I(c.v), false), c.text);
        EXPECT_EQ(text_of(I(c.v), true), c.text);
    }
}

TEST_F(IntegerTest, RandomStaysInRangeAndFollowsTheSeed) {
    auto draw = [](int32_t n, bool seed = false) {
        Cell* v = begin_call(I(n), NONE);
        return *action_entry_as<ACT_RANDOM>(TYPE_INTEGER)(v, RandomArgs{.seed = seed});
    };
    auto value = [&](int32_t n) {
        Cell r = draw(n);
        EXPECT_EQ(type_of(&r), TYPE_INTEGER);
        return cell_int(&r);
    };
    EXPECT_EQ(value(0), 0);
    EXPECT_EQ(value(1), 1);
    EXPECT_EQ(value(-1), -1);
    for (int i = 0; i < 200; i++) {
        int32_t up = value(6);
        EXPECT_TRUE(up >= 1 && up <= 6) << up;
        int32_t down = value(-6);
        EXPECT_TRUE(down >= -6 && down <= -1) << down;
    }
    Cell seeded = draw(1234, true);
    EXPECT_EQ(type_of(&seeded), TYPE_UNSET);
    int32_t first = value(1000000);
    draw(1234, true);
    EXPECT_EQ(value(1000000), first);
}

TEST_F(IntegerTest, TimeToIntegerRoundsHalfAwayFromZero) {
    struct { double seconds; int32_t want; } cases[] = {{1.5, 2}, {-1.5, -2}, {-1.4, -1}, {2.4999, 2}};
    for (auto& c : cases) {
        Cell proto = I(0), spec = T(c.seconds);
        Cell* r = action_entry_as<ACT_TO>(TYPE_INTEGER)(&proto, &spec, TYPE_INTEGER);
        EXPECT_EQ(cell_int(r), c.want) << c.seconds;
    }
    Cell proto = I(0), big = T(3e9);
    EXPECT_EQ(error_of([&] { action_entry_as<ACT_TO>(TYPE_INTEGER)(&proto, &big, TYPE_INTEGER); }),
              Err::script_type_limit);
}
