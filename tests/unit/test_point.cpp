#include <gtest/gtest.h>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/lexer/lexer.h"
#include "runtime/services/hash_keys.h"
#include "runtime/services/unicode/case.h"
#include "runtime/services/unicode/text.h"

#include "number_support.h"

using namespace kem;
using namespace kem::test;

namespace {

const float INF = std::numeric_limits<float>::infinity();

class PointTest : public ::testing::Test {
protected:
    void SetUp() override {
        words_up();
        lexer_init();
        float_pretty_print = true;
    }
    void TearDown() override {
        float_pretty_print = true;
    }
};

} // namespace

TEST_F(PointTest, ArithmeticWithNumberPartnersInBothOrders) {
    struct Case {
        const char* what;
        int slot;
        Cell left, right, want;
        std::optional<Err> error = std::nullopt;
    } cases[] = {
        {"add an integer", ACT_ADD, PT(1.5f, 2), I(1), PT(2.5f, 3)},
        {"multiply by a float", ACT_MULTIPLY, PT(1, 2), F(0.5), PT(0.5f, 1)},
        {"multiply by a percent", ACT_MULTIPLY, PT(10, 20), P(0.5), PT(5, 10)},
        {"divide by zero is infinite", ACT_DIVIDE, PT(1, -2), I(0), PT(INF, -INF)},
        {"remainder", ACT_REMAINDER, PT(5, -7), I(3), PT(2, -1)},
        {"add a pair", ACT_ADD, PT(1, 2), PR(1, 1), PT(2, 3)},
        {"pair on the left", ACT_ADD, PR(1, 1), PT(1, 2), PT(2, 3)},
        {"points axis by axis", ACT_SUBTRACT, PT(1, 2), PT(0.5f, 4), PT(0.5f, -2)},
        {"3D axis by axis", ACT_ADD, PT3(1, 2, 3), PT3(1, 1, 1), PT3(2, 3, 4)},
        {"3D by a float", ACT_DIVIDE, PT3(1, 2, 3), F(2.0), PT3(0.5f, 1, 1.5f)},
        {"integer on the left", ACT_ADD, I(1), PT(1.5f, 2), PT(2.5f, 3)},
        {"integer minus a point", ACT_SUBTRACT, I(1), PT(1, 2), PT(0, -1)},
        {"float on the left", ACT_MULTIPLY, F(2.0), PT3(1, 2, 3), PT3(2, 4, 6)},
        {"float remainder is the point's", ACT_REMAINDER, F(2.0), PT(5, 7), PT(1, 1)},
        // Scaling reads the double itself; a sum narrows it to a single first.
        {"scaling reads the double", ACT_MULTIPLY, PT(3, 3), F(5 / 997.0), PT(0.015045135281980038f, 0.015045135281980038f)},
        {"a sum reads a single", ACT_ADD, PT(1, 1), F(738 / 99991.0), PT(1.007380723953247f, 1.007380723953247f)},
        {"3D with a pair", ACT_ADD, PT3(1, 2, 3), PR(1, 1), {}, Err::script_invalid_type},
        {"2D with a 3D", ACT_ADD, PT(1, 2), PT3(1, 2, 3), {}, Err::script_invalid_type},
        {"3D with a 2D", ACT_ADD, PT3(1, 2, 3), PT(1, 2), {}, Err::script_invalid_type},
        {"a none", ACT_MULTIPLY, PT(1, 2), NONE, {}, Err::script_invalid_type},
        {"integer divided by a point", ACT_DIVIDE, I(1), PT(1, 2), {}, Err::script_not_related},
        {"float minus a point", ACT_SUBTRACT, F(1.0), PT3(1, 2, 3), {}, Err::script_not_related},
    };
    for (const auto& c : cases)
        expect_cell(c.what, [&] { return run_stack_slot(c.slot, c.left, c.right); }, c.want, c.error);
}

TEST_F(PointTest, FormAndMoldTexts) {
    const struct {
        Cell value;
        const char* text;
    } cases[] = {
        {PT(1.5f, 2), "(1.5, 2)"},
        {PT3(0, -1, 3), "(0, -1, 3)"},
        {PT(0.1f, 0.2f), "(0.1, 0.2)"},
        {PT(1.0f / 3.0f, 1e20f), "(0.3333333, 1e20)"},
        {PT(INF, -INF), "(1.#INF, -1.#INF)"},
        {PT(std::nanf(""), 1e-17f), "(1.#NaN, 0)"},
        {PT3(-2.5f, 1234567.0f, 12345678.0f), "(-2.5, 1234567, 1.234568e7)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text_of(c.value, false), c.text);
        EXPECT_EQ(text_of(c.value, true), c.text);
    }
}

TEST_F(PointTest, Compare) {
    const float tenth = 0.1f;
    const float near_tenth = std::nextafter(std::nextafter(tenth, 1.0f), 1.0f);
    const struct {
        const char* what;
        Cell a, b;
        CompareOp op;
        int32_t want;
    } cases[] = {
        {"equal", PT(0.1f, 0.2f), PT(0.1f, 0.2f), CompareOp::equal, 0},
        {"equal within a few units", PT(tenth, 1), PT(near_tenth, 1), CompareOp::equal, 0},
        {"strict needs exact", PT(tenth, 1), PT(near_tenth, 1), CompareOp::strict_equal, 1},
        {"not equal", PT(1, 2), PT(1, 3), CompareOp::not_equal, 1},
        {"x decides", PT(1, 9), PT(2, 0), CompareOp::lesser, -1},
        {"y decides when x is the same", PT(1, 2), PT(1, 1), CompareOp::greater, 1},
        // Ordering has no tolerance: the smallest x difference decides.
        {"a tiny x difference decides", PT(tenth, 2), PT(near_tenth, 1), CompareOp::greater, -1},
        {"a pair converts", PT(1, 2), PR(1, 2), CompareOp::equal, 0},
        {"zero signs are equal", PT(0.0f, 1), PT(-0.0f, 1), CompareOp::equal, 0},
        {"zero signs are not the same", PT(0.0f, 1), PT(-0.0f, 1), CompareOp::same, 1},
        {"3D z decides", PT3(1, 2, 3), PT3(1, 2, 4), CompareOp::lesser, -1},
        {"NaN is never equal", PT(std::nanf(""), 1), PT(std::nanf(""), 1), CompareOp::equal, 1},
        {"3D with a pair", PT3(1, 2, 0), PR(1, 2), CompareOp::equal, -2},
        {"with an integer", PT(1, 1), I(1), CompareOp::equal, -2},
    };
    for (const auto& c : cases) {
        Cell a = c.a, b = c.b;
        EXPECT_EQ(compare_values(&a, &b, c.op), c.want) << c.what;
    }
    // Keys that compare equal hash alike.
    Cell plus = PT(0.0f, 1), minus = PT(-0.0f, 1);
    EXPECT_EQ(hash_value(&plus, false), hash_value(&minus, false));
}

TEST_F(PointTest, MakeAndTo) {
    Cell text2;
    string_make_utf8(&text2, "(1, 2)");
    Cell text3;
    string_make_utf8(&text3, "(1, 2, 3)");
    auto block = [](std::initializer_list<Cell> items) {
        Cell b;
        block_make_at(&b, 4);
        for (const Cell& i : items) block_append_cell(&b, &i);
        return b;
    };
    const struct {
        const char* what;
        uint8_t type;
        Cell spec, want;
        std::optional<Err> error = std::nullopt;
    } cases[] = {
        {"block", TYPE_POINT2D, block({I(1), F(2.5)}), PT(1, 2.5f)},
        {"3D block", TYPE_POINT3D, block({I(1), I(2), F(-3.0)}), PT3(1, 2, -3)},
        {"3D from two numbers", TYPE_POINT3D, block({I(1), I(2)}), {}, Err::syntax_malconstruct},
        {"block of words", TYPE_POINT2D, block({I(1), NONE}), {}, Err::syntax_malconstruct},
        {"text", TYPE_POINT2D, text2, PT(1, 2)},
        {"3D text", TYPE_POINT3D, text3, PT3(1, 2, 3)},
        {"text of a 2D for a 3D", TYPE_POINT3D, text2, {}, Err::script_bad_to_arg},
        {"integer on every axis", TYPE_POINT3D, I(4), PT3(4, 4, 4)},
        {"float on every axis", TYPE_POINT2D, F(0.5), PT(0.5f, 0.5f)},
        {"pair", TYPE_POINT2D, PR(1, 2), PT(1, 2)},
        {"pair to 3D", TYPE_POINT3D, PR(1, 2), PT3(1, 2, 0)},
        {"2D to 3D", TYPE_POINT3D, PT(1, 2), PT3(1, 2, 0)},
        {"itself", TYPE_POINT3D, PT3(1, 2, 3), PT3(1, 2, 3)},
        {"3D to 2D", TYPE_POINT2D, PT3(1, 2, 3), {}, Err::script_bad_to_arg},
        {"percent", TYPE_POINT2D, P(0.5), {}, Err::script_bad_to_arg},
    };
    for (int slot : {ACT_MAKE, ACT_TO}) {
        for (const auto& c : cases) {
            auto run = [&] {
                Cell proto = of_type(TYPE_DATATYPE);
                proto.data1 = c.type;
                Cell spec = c.spec;
                auto fn = slot == ACT_MAKE ? action_entry_as<ACT_MAKE>(c.type) : action_entry_as<ACT_TO>(c.type);
                return *fn(&proto, &spec, c.type);
            };
            expect_cell(c.what, run, c.want, c.error);
        }
    }
}

TEST_F(PointTest, AxesThroughPathsAndPick) {
    Cell x = word_load("x"), z = word_load("Z"), w = word_load("w");
    Cell p2 = PT(1.5f, 2);
    Cell p3 = PT3(1, 2, 3);
    auto path = [](Cell& parent, Cell element, std::optional<Cell> value) {
        Cell v = value ? *value : NONE;
        return *eval_path_direct(&parent, &element, value ? &v : nullptr, PathStep{.index = 0, .last = true});
    };
    expect_cell("x reads a float", [&] { return path(p2, x, {}); }, F(1.5), std::nullopt);
    expect_cell("z of 3D", [&] { return path(p3, z, {}); }, F(3.0), std::nullopt);
    expect_cell("index 2", [&] { return path(p3, I(2), {}); }, F(2.0), std::nullopt);
    expect_cell("set an integer", [&] { return path(p3, z, I(7)); }, I(7), std::nullopt);
    expect_cell("set a float", [&] { return path(p2, I(2), F(0.25)); }, F(0.25), std::nullopt);
    EXPECT_TRUE(same_cell(p3, PT3(1, 2, 7)));
    EXPECT_TRUE(same_cell(p2, PT(1.5f, 0.25f)));
    expect_cell("z of 2D", [&] { return path(p2, z, {}); }, {}, Err::script_invalid_path);
    expect_cell("index 4 of 3D", [&] { return path(p3, I(4), {}); }, {}, Err::script_invalid_path);
    expect_cell("set a pair", [&] { return path(p2, x, PR(1, 1)); }, {}, Err::script_invalid_type);

    auto pick = [](Cell point, Cell index) {
        int32_t n = is_type(&index, TYPE_INTEGER) ? cell_int(&index) : 0;
        return *action_entry_as<ACT_PICK>(type_of(&point))(&point, n, &index);
    };
    expect_cell("pick 3", [&] { return pick(PT3(1, 2, 3), I(3)); }, F(3.0), std::nullopt);
    expect_cell("pick 'x", [&] { return pick(PT(4, 5), x); }, F(4.0), std::nullopt);
    expect_cell("pick 'w", [&] { return pick(PT(4, 5), w); }, {}, Err::script_cannot_use);
    expect_cell("pick 'z of 2D", [&] { return pick(PT(4, 5), z); }, {}, Err::script_cannot_use);
    expect_cell("pick 3 of 2D", [&] { return pick(PT(4, 5), I(3)); }, {}, Err::script_out_of_range);
    expect_cell("pick 0", [&] { return pick(PT(4, 5), I(0)); }, {}, Err::script_out_of_range);
}

TEST_F(PointTest, OtherActions) {
    auto one = [](int slot, Cell v) {
        stack::init();
        stack::push_native_frame(&CALLER);
        Cell* arg = stack::push(&v);
        switch (slot) {
        case ACT_NEGATE: return *action_entry_as<ACT_NEGATE>(type_of(&v))(arg);
        case ACT_REVERSE: return *action_entry_as<ACT_REVERSE>(type_of(&v))(arg, ReverseArgs{});
        default: return *reinterpret_cast<action_sig::StackForm>(type_action_table[type_of(&v)][slot])();
        }
    };
    expect_cell("reverse 2D", [&] { return one(ACT_REVERSE, PT(1, 2)); }, PT(2, 1), std::nullopt);
    expect_cell("reverse 3D swaps x and z", [&] { return one(ACT_REVERSE, PT3(1, 2, 3)); }, PT3(3, 2, 1), std::nullopt);
    expect_cell("negate", [&] { return one(ACT_NEGATE, PT(1.5f, 0)); }, PT(-1.5f, 0), std::nullopt);
    expect_cell("absolute", [&] { return one(ACT_ABSOLUTE, PT3(-1, 2, -0.5f)); }, PT3(1, 2, 0.5f), std::nullopt);

    auto round = [](Cell v, std::optional<Cell> scale, bool floor = false) {
        Cell s = scale ? *scale : NONE;
        return *action_entry_as<ACT_ROUND>(type_of(&v))(&v, RoundArgs{.to = scale ? &s : nullptr, .floor = floor});
    };
    expect_cell("round halves away from zero", [&] { return round(PT(2.5f, -2.5f), {}); }, PT(3, -3), std::nullopt);
    expect_cell("round/to", [&] { return round(PT3(1.26f, 7, 0.04f), F(0.1)); },
           PT3(float(1.3), 7, 0), std::nullopt);
    expect_cell("round/to an integer", [&] { return round(PT(14, 16), I(10)); }, PT(10, 20), std::nullopt);
    expect_cell("round/floor", [&] { return round(PT(-0.5f, 0.5f), {}, true); }, PT(-1, 0), std::nullopt);
    expect_cell("round/to money", [&] { return round(PT(1, 2), of_type(TYPE_MONEY)); }, {}, Err::script_not_related);
    expect_cell("round/to a pair", [&] { return round(PT(1, 2), PR(1, 1)); }, {}, Err::script_not_related);

    auto random = [](Cell v, bool seed) {
        return *action_entry_as<ACT_RANDOM>(type_of(&v))(&v, RandomArgs{.seed = seed});
    };
    Cell seeded = random(PT(1, 2), true);
    EXPECT_EQ(type_of(&seeded), TYPE_UNSET);
    for (int i = 0; i < 50; i++) {
        Cell r = random(PT3(2, 0, -3), false);
        EXPECT_GE(point_axis(&r, 0), 0.0f);
        EXPECT_LE(point_axis(&r, 0), 2.0f);
        EXPECT_EQ(point_axis(&r, 1), 0.0f);
        EXPECT_LE(point_axis(&r, 2), 0.0f);
        EXPECT_GE(point_axis(&r, 2), -3.0f);
    }
}
