#include <gtest/gtest.h>
#include <bit>
#include <cmath>
#include <optional>
#include <string>
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"

#include "number_support.h"

using namespace kem;
using namespace kem::test;

namespace {

// Type and value; results of percent arithmetic are compared with a tolerance
// because 10% * 10% is not exactly 0.01 in binary.
void expect_number(const Cell& got, uint8_t type, double value) {
    EXPECT_EQ(type_of(&got), type);
    double d = type_of(&got) == TYPE_INTEGER ? double(cell_int(&got)) : cell_float(&got);
    EXPECT_TRUE(float_almost_equal(d, value)) << d << " vs " << value;
}

class PercentTest : public ::testing::Test {
protected:
    void SetUp() override {
        memory_init();
        stack::init();
        register_all_datatypes();
        float_pretty_print = true;
    }
    void TearDown() override { float_pretty_print = true; }
};

} // namespace

// Form and mold give the same text, but for an exponent: mold writes it in
// the one form the lexer reads back (whole digits and E, or plain decimals).
TEST_F(PercentTest, FormAndMoldText) {
    struct Case {
        double fraction;
        bool pretty;
        const char* text;
        const char* molded = nullptr;  // when it differs from the formed text
    } cases[] = {
        {0.5, true, "50%"},
        {0.005, true, "0.5%"},
        {1.0, true, "100%"},
        {-0.05, true, "-5%"},
        {0.125, true, "12.5%"},
        {0.1 + 0.2, true, "30%"},
        {1.0 / 3.0, true, "33.33333333333%"},
        {1e20, true, "1e22%", "1E22%"},
        {-1.25e20, true, "-1.25e22%", "-125E20%"},
        {1e-19, true, "0%"},
        {1e-19, false, "1e-17%", "0.00000000000000001%"},
        {-2.5e-9, true, "-2.5e-7%", "-0.00000025%"},
        {INFINITY, true, "1.#INF"},
    };
    for (const auto& c : cases) {
        float_pretty_print = c.pretty;
        EXPECT_EQ(text_of(P(c.fraction), false), c.text) << c.fraction;
        EXPECT_EQ(text_of(P(c.fraction), true), c.molded ? c.molded : c.text) << c.fraction;
    }
}

TEST_F(PercentTest, ArithmeticKeepsPercentOnTheLeft) {
    expect_number(run_stack_slot(ACT_MULTIPLY, P(0.1), P(0.1)), TYPE_PERCENT, 0.01);
    expect_number(run_stack_slot(ACT_ADD, P(0.1), I(1)), TYPE_PERCENT, 1.1);
    expect_number(run_stack_slot(ACT_DIVIDE, P(0.5), F(2.0)), TYPE_PERCENT, 0.25);
    expect_number(run_stack_slot(ACT_ADD, F(1.0), P(0.1)), TYPE_FLOAT, 1.1);
    expect_number(run_stack_slot(ACT_ADD, I(1), P(0.1)), TYPE_FLOAT, 1.1);
    expect_number(run_stack_slot(ACT_MULTIPLY, P(0.5), T(10.0)), TYPE_TIME, 5.0);
    expect_number(run_stack_slot(ACT_REMAINDER, P(0.5), P(0.2)), TYPE_PERCENT, 0.1);
}

TEST_F(PercentTest, RoundCountsTheScaleInPercent) {
    auto round = [](Cell value, std::optional<Cell> scale, bool even = false) {
        Cell* v = begin_call(value, scale.value_or(NONE));
        return *action_entry_as<ACT_ROUND>(TYPE_PERCENT)(v, RoundArgs{.to = scale ? v + 1 : nullptr, .even = even});
    };
    expect_number(round(P(0.12345), std::nullopt), TYPE_PERCENT, 0.12);
    expect_number(round(P(0.125), std::nullopt, true), TYPE_PERCENT, 0.12);
    expect_number(round(P(0.12345), I(1)), TYPE_INTEGER, 0);
    expect_number(round(P(0.12345), F(0.1)), TYPE_FLOAT, 0.123);
    expect_number(round(P(0.12345), P(0.05)), TYPE_PERCENT, 0.1235);
}

TEST_F(PercentTest, MakeToAndCompareComeFromFloat) {
    auto to_percent = [](Cell spec) {
        Cell* proto = begin_call(P(0.0), spec);
        return *action_entry_as<ACT_TO>(TYPE_PERCENT)(proto, proto + 1, TYPE_PERCENT);
    };
    expect_number(to_percent(F(0.5)), TYPE_PERCENT, 0.5);
    expect_number(to_percent(I(5)), TYPE_PERCENT, 5.0);
    try {
        to_percent(NONE);
        ADD_FAILURE() << "no error";
    } catch (const KemError& e) {
        EXPECT_EQ(e.id, Err::script_bad_to_arg);
        EXPECT_EQ(e.args[0].data1, uint32_t(TYPE_PERCENT));  // names the target type
    }

    Cell half = P(0.5), f = F(0.5), i = I(1);
    EXPECT_EQ(action_entry_as<ACT_COMPARE>(TYPE_PERCENT)(&half, &f, CompareOp::equal), 0);
    EXPECT_EQ(action_entry_as<ACT_COMPARE>(TYPE_PERCENT)(&half, &f, CompareOp::strict_equal), 1);
    EXPECT_EQ(action_entry_as<ACT_COMPARE>(TYPE_PERCENT)(&half, &i, CompareOp::lesser), -1);
}

TEST_F(PercentTest, RowIsFloatsButForText) {
    for (int slot = 1; slot <= ACTION_SLOT_COUNT; slot++) {
        if (slot == ACT_FORM || slot == ACT_MOLD) {
            EXPECT_NE(type_action_table[TYPE_PERCENT][slot], type_action_table[TYPE_FLOAT][slot]);
            EXPECT_NE(type_action_table[TYPE_PERCENT][slot], nullptr);
        } else {
            EXPECT_EQ(type_action_table[TYPE_PERCENT][slot], type_action_table[TYPE_FLOAT][slot]) << slot;
        }
    }
}

TEST_F(PercentTest, CellHelpers) {
    Cell c;
    percent_set_in_halves(&c, 0x3FE00000, 0);
    EXPECT_EQ(type_of(&c), TYPE_PERCENT);
    EXPECT_EQ(percent_get(&c), 0.5);
    Cell* pushed = percent_push64(0x3FF00000, 0);
    EXPECT_EQ(type_of(pushed), TYPE_PERCENT);
    EXPECT_EQ(percent_get(pushed), 1.0);
    Cell blk{TYPE_BLOCK, 0, alloc_cells(4), 0};
    Cell* item = percent_make_in(&blk, 0x3FD00000, 0);
    EXPECT_EQ(percent_get(item), 0.25);
    EXPECT_EQ(node_buffer(blk.data2)->used(), 16u);
}
