#include <gtest/gtest.h>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/lexer/lexer.h"
#include "runtime/services/unicode/case.h"
#include "runtime/services/unicode/text.h"

#include "number_support.h"

using namespace kem;
using namespace kem::test;

namespace {

const double INF = std::numeric_limits<double>::infinity();
const double NaN = std::numeric_limits<double>::quiet_NaN();

class PairTest : public ::testing::Test {
protected:
    void SetUp() override {
        words_up();
        lexer_init();
    }
    void TearDown() override {
        context_on_change = nullptr;
    }
};

} // namespace

TEST_F(PairTest, ArithmeticWithNumberPartnersInBothOrders) {
    struct Case {
        const char* what;
        int slot;
        Cell left, right, want;
        std::optional<Err> error = std::nullopt;
    } cases[] = {
        {"exact divide stays a pair", ACT_DIVIDE, PR(2, 4), I(2), PR(1, 2)},
        {"inexact divide gives a point", ACT_DIVIDE, PR(3, 3), I(2), PT(1.5f, 1.5f)},
        {"one inexact axis turns both", ACT_DIVIDE, PR(3, 4), PR(2, 2), PT(1.5f, 2.0f)},
        {"overflow gives a point", ACT_ADD, PR(2147483647, 0), PR(1, 0), PT(2147483648.0f, 0.0f)},
        {"multiply by an integer", ACT_MULTIPLY, PR(10, 20), I(2), PR(20, 40)},
        {"subtract pairs", ACT_SUBTRACT, PR(10, 20), PR(1, 2), PR(9, 18)},
        {"remainder", ACT_REMAINDER, PR(7, -7), I(3), PR(1, -1)},
        {"and~", ACT_AND_T, PR(12, 12), PR(10, 6), PR(8, 4)},
        {"or~", ACT_OR_T, PR(12, 12), I(3), PR(15, 15)},
        {"xor~", ACT_XOR_T, PR(12, 12), I(10), PR(6, 6)},
        {"float factor gives a point", ACT_MULTIPLY, PR(10, 20), F(1.5), PT(15.0f, 30.0f)},
        {"percent factor gives a point", ACT_MULTIPLY, PR(10, 20), P(0.5), PT(5.0f, 10.0f)},
        {"float divisor gives a point", ACT_DIVIDE, PR(1, 2), F(4.0), PT(0.25f, 0.5f)},
        {"divide by float zero", ACT_DIVIDE, PR(1, 2), F(0.0), PT(float(INF), float(INF))},
        {"divide by infinity", ACT_DIVIDE, PR(1, 2), F(INF), PT(0.0f, 0.0f)},
        {"float addend truncated", ACT_ADD, PR(10, 20), F(1.7), PR(11, 21)},
        {"negative float truncated toward zero", ACT_ADD, PR(10, 20), F(-1.7), PR(9, 19)},
        {"percent addend truncated", ACT_ADD, PR(10, 20), P(0.5), PR(10, 20)},
        {"point partner", ACT_ADD, PR(1, 1), PT(1.0f, 2.0f), PT(2.0f, 3.0f)},
        {"integer left multiplies", ACT_MULTIPLY, I(10), PR(1, 2), PR(10, 20)},
        {"integer left subtracts", ACT_SUBTRACT, I(10), PR(1, 2), PR(9, 8)},
        {"integer left overflows", ACT_ADD, I(1), PR(2147483647, 0), PT(2147483648.0f, 1.0f)},
        {"float left multiplies", ACT_MULTIPLY, F(10.0), PR(1, 2), PT(10.0f, 20.0f)},
        {"percent left multiplies", ACT_MULTIPLY, P(0.5), PR(10, 20), PT(5.0f, 10.0f)},
        {"integer divided by a pair", ACT_DIVIDE, I(10), PR(1, 2), {}, Err::script_not_related},
        {"float minus a pair", ACT_SUBTRACT, F(10.0), PR(1, 2), {}, Err::script_not_related},
        {"integer zero divisor", ACT_DIVIDE, PR(1, 2), I(0), {}, Err::math_zero_divide},
        {"remainder by a zero axis", ACT_REMAINDER, PR(1, 2), PR(1, 0), {}, Err::math_zero_divide},
        {"infinite factor", ACT_MULTIPLY, PR(1, 2), F(INF), {}, Err::script_invalid_arg},
        {"NaN divisor", ACT_DIVIDE, PR(1, 2), F(NaN), {}, Err::script_invalid_arg},
        {"NaN addend", ACT_ADD, PR(1, 2), F(NaN), {}, Err::script_invalid_arg},
        {"infinite addend", ACT_SUBTRACT, PR(1, 2), F(-INF), {}, Err::script_invalid_arg},
        {"point3D partner", ACT_ADD, PR(1, 2), PT3(1, 2, 3), {}, Err::script_invalid_type},
        {"none partner", ACT_ADD, PR(1, 2), NONE, {}, Err::script_invalid_type},
        {"char partner", ACT_ADD, PR(1, 2), Ch(65), {}, Err::script_invalid_type},
    };
    for (const auto& c : cases)
        expect_cell(c.what, [&] { return run_stack_slot(c.slot, c.left, c.right); }, c.want, c.error);
}

// A float partner that does not fit in 32 bits is no longer cut to a wrapped
// or undefined integer: it overflows.
TEST_F(PairTest, LargeFloatOperandsOverflowInsteadOfWrapping) {
    const struct {
        int slot;
        Cell left, right;
    } cases[] = {
        {ACT_ADD, PR(1, 2), F(1e10)},
        {ACT_SUBTRACT, PR(1, 2), F(-3e9)},
        {ACT_REMAINDER, PR(1, 2), F(2147483648.0)},
        {ACT_OR_T, PR(1, 2), P(1e12)},
        {ACT_ADD, F(1e10), PR(1, 2)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(error_of([&] { run_stack_slot(c.slot, c.left, c.right); }), Err::math_overflow);
    // Just inside the range still works.
    expect_cell("largest float", [] { return run_stack_slot(ACT_ADD, PR(0, -1), F(2147483647.9)); },
           PR(2147483647, 2147483646), std::nullopt);
}

TEST_F(PairTest, CompareOrdersByXThenY) {
    const struct {
        Cell a, b;
        CompareOp op;
        int32_t want;
    } cases[] = {
        {PR(1, 2), PR(1, 3), CompareOp::lesser, -1},       {PR(1, 9), PR(2, 0), CompareOp::lesser, -1},
        {PR(2, 0), PR(1, 9), CompareOp::lesser, 1},        {PR(1, 2), PR(1, 2), CompareOp::equal, 0},
        {PR(-1, 2), PR(1, 2), CompareOp::lesser, -1},      {PR(1, 2), PT(1.0f, 2.0f), CompareOp::equal, 0},
        {PR(1, 2), PT(1.0f, 2.5f), CompareOp::lesser, -1}, {PR(1, 2), I(1), CompareOp::equal, -2},
        {PR(1, 2), NONE, CompareOp::lesser, -2},
    };
    for (const auto& c : cases) {
        Cell a = c.a, b = c.b;
        EXPECT_EQ(compare_values(&a, &b, c.op), c.want) << shown_cell(c.a) << " vs " << shown_cell(c.b);
    }
}

TEST_F(PairTest, FormAndMoldTexts) {
    const struct {
        Cell value;
        const char* text;
    } cases[] = {
        {PR(10, 20), "10x20"},
        {PR(-1, -2), "-1x-2"},
        {PR(0, 0), "0x0"},
        {PR(-2147483647 - 1, 2147483647), "-2147483648x2147483647"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text_of(c.value, false), c.text);
        EXPECT_EQ(text_of(c.value, true), c.text);
    }
}

TEST_F(PairTest, MakeAndTo) {
    Cell text3x4;
    string_make_utf8(&text3x4, "3x4");
    Cell other_text;
    string_make_utf8(&other_text, "7");
    auto block = [](std::initializer_list<Cell> items) {
        Cell b;
        block_make_at(&b, 4);
        for (const Cell& i : items) block_append_cell(&b, &i);
        return b;
    };
    const struct {
        const char* what;
        Cell spec, want;
        std::optional<Err> error = std::nullopt;
    } cases[] = {
        {"floats truncated toward zero", block({F(1.9), F(-1.9)}), PR(1, -1)},
        {"integers, extra values ignored", block({I(3), I(4), NONE}), PR(3, 4)},
        {"text", text3x4, PR(3, 4)},
        {"pair", PR(5, 6), PR(5, 6)},
        {"integer on both axes", I(5), PR(5, 5)},
        {"float on both axes", F(-2.7), PR(-2, -2)},
        {"point truncated", PT(1.9f, -2.5f), PR(1, -2)},
        {"one number", block({I(1)}), {}, Err::syntax_malconstruct},
        {"not a number", block({I(1), NONE}), {}, Err::syntax_malconstruct},
        {"text of something else", other_text, {}, Err::script_bad_to_arg},
        {"point at infinity", PT(float(INF), 0.0f), {}, Err::script_invalid_arg},
        {"point out of range", PT(3e9f, 0.0f), {}, Err::math_overflow},
        {"float out of range", F(-1e10), {}, Err::math_overflow},
        {"block with a huge float", block({F(1e10), I(1)}), {}, Err::math_overflow},
        {"none", NONE, {}, Err::script_bad_to_arg},
        {"percent", P(0.5), {}, Err::script_bad_to_arg},
    };
    for (int slot : {ACT_MAKE, ACT_TO}) {
        for (const auto& c : cases) {
            auto run = [&] {
                Cell proto = of_type(TYPE_DATATYPE);
                proto.data1 = TYPE_PAIR;
                Cell spec = c.spec;
                auto fn = slot == ACT_MAKE ? action_entry_as<ACT_MAKE>(TYPE_PAIR) : action_entry_as<ACT_TO>(TYPE_PAIR);
                return *fn(&proto, &spec, TYPE_PAIR);
            };
            expect_cell(c.what, run, c.want, c.error);
        }
    }
}

TEST_F(PairTest, FieldsThroughPathsAndPick) {
    Cell x = word_load("x"), y = word_load("Y"), z = word_load("z");
    Cell pair = PR(10, 20);
    auto get = [&](Cell element) {
        return *eval_path_direct(&pair, &element, nullptr, PathStep{.index = 0, .last = true});
    };
    auto set = [&](Cell element, Cell value) {
        return *eval_path_direct(&pair, &element, &value, PathStep{.index = 0, .last = true});
    };
    expect_cell("x", [&] { return get(x); }, I(10), std::nullopt);
    expect_cell("y ignores case", [&] { return get(y); }, I(20), std::nullopt);
    expect_cell("index 2", [&] { return get(I(2)); }, I(20), std::nullopt);
    expect_cell("set y", [&] { return set(y, I(-5)); }, I(-5), std::nullopt);
    EXPECT_TRUE(same_cell(pair, PR(10, -5)));
    expect_cell("set 1", [&] { return set(I(1), I(7)); }, I(7), std::nullopt);
    EXPECT_TRUE(same_cell(pair, PR(7, -5)));
    expect_cell("set a float", [&] { return set(x, F(1.0)); }, {}, Err::script_invalid_type);
    expect_cell("z", [&] { return get(z); }, {}, Err::script_invalid_path);
    expect_cell("index 3", [&] { return get(I(3)); }, {}, Err::script_invalid_path);
    expect_cell("float element", [&] { return get(F(1.0)); }, {}, Err::script_invalid_path);
    EXPECT_TRUE(same_cell(pair, PR(7, -5)));

    auto pick = [&](Cell index) {
        Cell p = PR(3, 4);
        int32_t n = is_type(&index, TYPE_INTEGER) ? cell_int(&index) : 0;
        return *action_entry_as<ACT_PICK>(TYPE_PAIR)(&p, n, &index);
    };
    expect_cell("pick 1", [&] { return pick(I(1)); }, I(3), std::nullopt);
    expect_cell("pick 'y", [&] { return pick(y); }, I(4), std::nullopt);
    expect_cell("pick 'z", [&] { return pick(z); }, {}, Err::script_cannot_use);
    expect_cell("pick 0", [&] { return pick(I(0)); }, {}, Err::script_out_of_range);
    expect_cell("pick 3", [&] { return pick(I(3)); }, {}, Err::script_out_of_range);
}

// A pair in a field of an object with change handlers: the handler hears the
// field word, the old and the new pair.
TEST_F(PairTest, PathWriteTellsTheOwningObject) {
    static Cell heard[3];
    static int calls;
    calls = 0;
    context_on_change = [](Cell*, Cell* word, Cell* old_value, Cell* new_value) {
        calls++;
        heard[0] = *word;
        heard[1] = *old_value;
        heard[2] = *new_value;
    };
    Cell object{TYPE_OBJECT, 0, 1, 1};  // has an on-set record
    Cell field = word_load("size");
    Cell x = word_load("x");
    Cell value = I(5);
    Cell pair = PR(1, 2);
    Cell* top = stack::top;
    eval_path_direct(&pair, &x, &value,
                     PathStep{.owner = &object, .prev_element = &field, .index = 1, .last = true, .notify = true});
    EXPECT_EQ(stack::top, top);
    ASSERT_EQ(calls, 1);
    EXPECT_EQ(heard[0].data2, field.data2);
    EXPECT_TRUE(same_cell(heard[1], PR(1, 2)));
    EXPECT_TRUE(same_cell(heard[2], PR(5, 2)));

    // Without the notify flag, or an object without handlers, nobody hears.
    eval_path_direct(&pair, &x, &value, PathStep{.owner = &object, .prev_element = &field, .index = 1, .last = true});
    Cell plain{TYPE_OBJECT, 0, 1, 0};
    eval_path_direct(&pair, &x, &value,
                     PathStep{.owner = &plain, .prev_element = &field, .index = 1, .last = true, .notify = true});
    EXPECT_EQ(calls, 1);
}

TEST_F(PairTest, OtherActions) {
    auto one = [](int slot, Cell v) {
        stack::init();
        stack::push_native_frame(&CALLER);
        Cell* arg = stack::push(&v);
        switch (slot) {
        case ACT_NEGATE: return *action_entry_as<ACT_NEGATE>(TYPE_PAIR)(arg);
        case ACT_REVERSE: return *action_entry_as<ACT_REVERSE>(TYPE_PAIR)(arg, ReverseArgs{});
        default: return *reinterpret_cast<action_sig::StackForm>(type_action_table[TYPE_PAIR][slot])();
        }
    };
    expect_cell("reverse", [&] { return one(ACT_REVERSE, PR(1, 2)); }, PR(2, 1), std::nullopt);
    expect_cell("negate", [&] { return one(ACT_NEGATE, PR(1, -2)); }, PR(-1, 2), std::nullopt);
    expect_cell("negate the minimum", [&] { return one(ACT_NEGATE, PR(-2147483647 - 1, 0)); }, {}, Err::math_overflow);
    expect_cell("absolute", [&] { return one(ACT_ABSOLUTE, PR(-3, 4)); }, PR(3, 4), std::nullopt);
    expect_cell("absolute of the minimum", [&] { return one(ACT_ABSOLUTE, PR(0, -2147483647 - 1)); }, {},
           Err::math_overflow);

    auto round = [](Cell v, std::optional<Cell> scale, bool down = false) {
        Cell s = scale ? *scale : NONE;
        return *action_entry_as<ACT_ROUND>(TYPE_PAIR)(&v, RoundArgs{.to = scale ? &s : nullptr, .down = down});
    };
    expect_cell("round/to an integer", [&] { return round(PR(14, 16), I(10)); }, PR(10, 20), std::nullopt);
    expect_cell("round/to a pair scales per axis", [&] { return round(PR(14, 16), PR(10, 5)); }, PR(10, 15),
           std::nullopt);
    expect_cell("round/to a float truncates back", [&] { return round(PR(14, 16), F(2.5)); }, PR(15, 15),
           std::nullopt);
    expect_cell("round/down", [&] { return round(PR(-14, 16), I(10), true); }, PR(-10, 10), std::nullopt);
    expect_cell("round/to money", [&] { return round(PR(1, 2), of_type(TYPE_MONEY)); }, {}, Err::script_not_related);
    expect_cell("round beyond 32 bits", [&] { return round(PR(2147483647, 0), F(3e9)); }, {}, Err::math_overflow);

    auto random = [](Cell v, bool seed) {
        return *action_entry_as<ACT_RANDOM>(TYPE_PAIR)(&v, RandomArgs{.seed = seed});
    };
    Cell seeded = random(PR(5, 6), true);
    EXPECT_EQ(type_of(&seeded), TYPE_UNSET);
    for (int i = 0; i < 50; i++) {
        Cell r = random(PR(3, -4), false);
        EXPECT_GE(pair_x(&r), 1);
        EXPECT_LE(pair_x(&r), 3);
        EXPECT_GE(pair_y(&r), -4);
        EXPECT_LE(pair_y(&r), -1);
        Cell zero = random(PR(0, 2), false);
        EXPECT_EQ(pair_x(&zero), 0);
    }
}
