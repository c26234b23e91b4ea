#include <gtest/gtest.h>
#include <climits>
#include <functional>
#include <optional>
#include <string>
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/arith.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/services/unicode/case.h"
#include "runtime/services/unicode/text.h"
#include "runtime/services/unicode/utf.h"
#include "value_support.h"

using namespace kem;
using kem::test::I;
using kem::test::F;
using kem::test::C;
using kem::test::S;
using kem::test::error_of;

namespace {

Cell bytes(std::initializer_list<uint8_t> list) {
    Cell c;
    NodeId node = alloc_bytes(uint32_t(list.size()));
    SeriesBuffer* b = node_buffer(node);
    for (uint8_t x : list) b->head_ptr()[b->tail++ - b->head] = x;
    make_series(&c, TYPE_BINARY, node, 0);
    return c;
}

std::string utf8(const Cell& s) {
    std::string out;
    SeriesBuffer* b = series_buffer(&s);
    uint32_t unit = unit_bytes(b);
    for (uint32_t off = b->head; off < b->tail; off += unit) {
        uint8_t seq[4];
        int n = utf8_encode_char(read_unit(b->data() + off, unit), seq);
        out.append(reinterpret_cast<char*>(seq), size_t(n));
    }
    return out;
}

const Cell CALLER{TYPE_WORD, 0, 7, 0xFFFFFFFF};

class CharTest : public ::testing::Test {
protected:
    void SetUp() override {
        kem::test::datatypes_up();
    }
    // Runs a stack-form slot of char! with a and b as the call's arguments.
    Cell run(int slot, const Cell& a, const Cell& b) {
        stack::init();
        stack::push_native_frame(&CALLER);
        stack::arguments = stack::top;
        stack::push(&a);
        stack::push(&b);
        auto fn = reinterpret_cast<action_sig::StackForm>(type_action_table[TYPE_CHAR][slot]);
        return *fn();
    }
};

} // namespace

TEST_F(CharTest, MakeAndTo) {
    struct Case {
        const char* what;
        Cell spec;
        int32_t want;                 // the code point when no error
        std::optional<Err> error;
    };
    const Case cases[] = {
        {"highest code point", I(0x10FFFF), 0x10FFFF, std::nullopt},
        {"above it", I(0x110000), 0, Err::script_out_of_range},
        {"negative", I(-1), 0, Err::script_out_of_range},
        {"char", C('q'), 'q', std::nullopt},
        {"string at its position", S("abc", 1), 'b', std::nullopt},
        {"wide string", S("\U0001F600"), 0x1F600, std::nullopt},
        {"empty string", S(""), 0, Err::script_bad_to_arg},
        {"string at its tail", S("ab", 2), 0, Err::script_bad_to_arg},
        {"float truncates", F(97.9), 'a', std::nullopt},
        {"negative float", F(-0.5), 0, std::nullopt},
        {"huge float", F(1e12), 0, Err::script_out_of_range},
        {"binary: one UTF-8 sequence", bytes({0xE2, 0x82, 0xAC, 'x'}), 0x20AC, std::nullopt},
        {"binary: bad lead", bytes({0xFF}), 0, Err::access_invalid_utf8},
        {"binary: cut short", bytes({0xE2, 0x82}), 0, Err::script_bad_to_arg},
        {"empty binary", bytes({}), 0, Err::script_bad_to_arg},
        {"other types", Cell{TYPE_NONE, 0, 0, 0}, 0, Err::script_bad_to_arg},
    };
    Cell dt{TYPE_DATATYPE, TYPE_CHAR, 0, 0};
    for (Case c : cases) {
        Cell got{};
        auto err = error_of([&] { got = *make_direct(&dt, &c.spec); });
        if (c.error) {
            EXPECT_EQ(err, c.error) << c.what;
            continue;
        }
        ASSERT_FALSE(err) << c.what;
        EXPECT_EQ(type_of(&got), TYPE_CHAR) << c.what;
        EXPECT_EQ(char_get(&got), c.want) << c.what;
        EXPECT_EQ(char_get(to_direct(&dt, &c.spec)), c.want) << c.what;
    }
}

TEST_F(CharTest, FormAndMold) {
    struct Case {
        int32_t cp;
        bool all;
        const char* molded;
    };
    const Case cases[] = {
        {'a', false, "#\"a\""},
        {'\n', false, "#\"^/\""},
        {'\t', false, "#\"^-\""},
        {0, false, "#\"^@\""},
        {27, false, "#\"^[\""},
        {0x1E, false, "#\"^(1E)\""},
        {0x7F, false, "#\"^~\""},
        {'"', false, "#\"^\"\""},
        {'^', false, "#\"^^\""},
        {0x85, false, "#\"^(85)\""},
        {0xE9, false, "#\"\u00e9\""},
        {0xE9, true, "#\"^(E9)\""},
        {0x1F600, false, "#\"\U0001F600\""},
        {0x1F600, true, "#\"^(1F600)\""},
    };
    for (const Case& c : cases) {
        Cell v = C(c.cp), buf;
        string_make_at(&buf, 8);
        int32_t left = mold_direct(&v, &buf, MoldArgs{.all = c.all}, 100, 0);
        std::string text = utf8(buf);
        EXPECT_EQ(text, c.molded) << c.cp;
        EXPECT_EQ(left, 100 - int32_t(string_full_length(&buf))) << c.cp;

        string_reset(&buf);
        EXPECT_EQ(form_direct(&v, &buf, nullptr, 100), 99);
        EXPECT_EQ(string_full_length(&buf), 1u);
        EXPECT_EQ(string_char_at(&buf, 0), c.cp);
    }
}

TEST_F(CharTest, Compare) {
    struct Case {
        Cell a, b;
        CompareOp op;
        int32_t want;
    };
    const Case cases[] = {
        {C('A'), C('a'), CompareOp::equal, -1},  // no case folding
        {C('a'), C('a'), CompareOp::strict_equal, 0}, {C('a'), I(97), CompareOp::equal, 0},
        {C('a'), I(97), CompareOp::strict_equal, 1},  // strict-equal wants a char!
        {C('a'), I(97), CompareOp::find, 1},          {C('b'), I(97), CompareOp::greater, 1},
        {C('a'), S("a"), CompareOp::equal, -2},       {C('a'), F(97.0), CompareOp::equal, -2},
        {C(0x10FFFF), C(0), CompareOp::lesser, 1},
    };
    for (Case c : cases) EXPECT_EQ(char_compare(&c.a, &c.b, c.op), c.want) << char_get(&c.a) << " op " << int(c.op);
    Cell a = C('a'), upper = C('A');
    EXPECT_FALSE(compare_outcome(&a, &upper, CompareOp::equal));
}

TEST_F(CharTest, Arithmetic) {
    struct Case {
        const char* what;
        int slot;
        Cell left, right;
        int32_t want;
        std::optional<Err> error;
    };
    const Case cases[] = {
        {"add", ACT_ADD, C('a'), I(1), 'b', std::nullopt},
        {"add chars", ACT_ADD, C(1), C('a'), 'b', std::nullopt},
        {"past the highest", ACT_ADD, C(0x10FFFF), I(1), 0, Err::math_overflow},
        {"below zero", ACT_SUBTRACT, C(0), I(1), 0, Err::math_overflow},
        {"32-bit overflow", ACT_MULTIPLY, C(0x10FFFF), I(0x7FFFFFFF), 0, Err::math_overflow},
        {"times a float truncates it", ACT_MULTIPLY, C('a'), F(1.9), 'a', std::nullopt},
        {"divide truncates", ACT_DIVIDE, C('a'), I(2), 48, std::nullopt},
        {"divide by zero", ACT_DIVIDE, C('a'), I(0), 0, Err::math_zero_divide},
        {"divide to negative", ACT_DIVIDE, C('a'), I(-1), 0, Err::math_overflow},
        {"remainder", ACT_REMAINDER, C('a'), I(10), 7, std::nullopt},
        {"or", ACT_OR_T, C('A'), I(0x20), 'a', std::nullopt},
        {"and", ACT_AND_T, C('a'), I(0x5F), 'A', std::nullopt},
        {"xor", ACT_XOR_T, C('a'), C(0x20), 'A', std::nullopt},
        {"string operand", ACT_ADD, C('a'), S("b"), 0, Err::script_invalid_type},
        {"percent operand", ACT_ADD, C('a'), Cell{TYPE_PERCENT, 0, 0, 0}, 0, Err::script_invalid_type},
    };
    for (const Case& c : cases) {
        Cell got{};
        auto err = error_of([&] { got = run(c.slot, c.left, c.right); });
        if (c.error) {
            EXPECT_EQ(err, c.error) << c.what;
            // The left operand stays as it was.
            EXPECT_EQ(type_of(stack::arguments), TYPE_CHAR) << c.what;
            EXPECT_EQ(char_get(stack::arguments), char_get(&c.left)) << c.what;
            continue;
        }
        ASSERT_FALSE(err) << c.what;
        EXPECT_EQ(type_of(&got), TYPE_CHAR) << c.what;
        EXPECT_EQ(char_get(&got), c.want) << c.what;
    }
}

TEST_F(CharTest, RowAndHelpers) {
    EXPECT_STREQ(type_name(TYPE_CHAR), "char!");
    // Inherited from integer!: even?, odd?, random; nothing for series slots.
    EXPECT_EQ(action_entry(TYPE_CHAR, ACT_EVEN_Q), action_entry(TYPE_INTEGER, ACT_EVEN_Q));
    EXPECT_EQ(action_entry(TYPE_CHAR, ACT_RANDOM), action_entry(TYPE_INTEGER, ACT_RANDOM));
    EXPECT_EQ(action_entry(TYPE_CHAR, ACT_NEGATE), nullptr);
    EXPECT_EQ(action_entry(TYPE_CHAR, ACT_APPEND), nullptr);
    Cell b = C('b');
    EXPECT_TRUE(even_q_direct(&b));

    Cell* pushed = char_push(0x4E2D);
    EXPECT_EQ(type_of(pushed), TYPE_CHAR);
    EXPECT_EQ(char_get(pushed), 0x4E2D);
    Cell block;
    NodeId node = alloc_cells(2);
    make_series(&block, TYPE_BLOCK, node, 0);
    char_make_in(&block, 'z');
    EXPECT_EQ(series_buffer(&block)->used(), 16u);
    EXPECT_EQ(char_get(series_buffer(&block)->cell_head()), 'z');
}
