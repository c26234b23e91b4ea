#include <gtest/gtest.h>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>
#include "environment/startup.h"
#include "number_support.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"

using namespace kem;
using kem::test::error_of;
using kem::test::I;
using kem::test::S;
using kem::test::B;

namespace {

Cell DT(uint8_t t) { return Cell{TYPE_DATATYPE, t, 0, 0}; }

// The global word named after a datatype, holding that datatype as the boot
// environment does.
Cell type_word(uint8_t t) {
    Cell w = word_load(type_name(t));
    Cell dt = DT(t);
    word_set(&w, &dt);
    return w;
}

Cell make_ts(Cell spec) {
    Cell proto = DT(TYPE_TYPESET);
    return *action_entry_as<ACT_MAKE>(TYPE_TYPESET)(&proto, &spec, TYPE_TYPESET);
}

Cell of_types(std::initializer_list<uint8_t> types) {
    Cell ts;
    typeset_clear(&ts);
    for (uint8_t t : types) typeset_set_bit(&ts, t);
    return ts;
}

std::string text(Cell v, bool only = false, Cell* limit = nullptr) {
    Cell buf;
    string_make_at(&buf, 16);
    int32_t part = limit ? cell_int(limit) : INT32_MAX;
    mold_direct(&v, &buf, MoldArgs{.only = only, .limit = limit}, part, 0);
    return kem::test::buffer_bytes(buf);
}

std::vector<uint8_t> ids_in_block(const Cell& blk) {
    std::vector<uint8_t> out;
    for (uint32_t i = 0; i < block_full_length(&blk); i++) {
        Cell* c = block_rs_abs_at(&blk, i);
        EXPECT_EQ(type_of(c), TYPE_DATATYPE);
        out.push_back(uint8_t(c->data1));
    }
    return out;
}

Cell bitwise(const Cell& a, const Cell& b, int32_t op) {
    kem::test::begin_call(a, b);
    return *typeset_do_bitwise(op);
}

class Typeset : public ::testing::Test {
protected:
    void SetUp() override {
        init_runtime();
        words_init();
        stack::init();
    }
};

TEST_F(Typeset, MakeFromBlockMoldsNamesInIdOrder) {
    Cell ints = make_ts(B({type_word(TYPE_FLOAT), type_word(TYPE_INTEGER)}));
    struct Case {
        Cell value;
        bool only;
        const char* expected;
    } cases[] = {
        {ints, false, "make typeset! [integer! float!]"},
        {ints, true, "integer! float!"},
        {make_ts(B({})), false, "make typeset! []"},
        {make_ts(B({})), true, ""},
        {make_ts(B({DT(TYPE_BLOCK), ints, DT(TYPE_MAP)})), false, "make typeset! [block! integer! float! map!]"},
    };
    for (const Case& c : cases) EXPECT_EQ(text(c.value, c.only), c.expected);
    // form writes the same text, and both count what they wrote.
    EXPECT_EQ(kem::test::text_of(ints, false), "make typeset! [integer! float!]");
    EXPECT_EQ(kem::test::text_of(make_ts(B({})), true), "make typeset! []");
}

TEST_F(Typeset, PartLimitStopsTheNames) {
    Cell all;
    typeset_make_default(&all);
    Cell limit = I(20);
    std::string t = text(all, false, &limit);
    EXPECT_EQ(t.rfind("make typeset! [", 0), 0u);
    EXPECT_LT(t.size(), 40u) << t;
}

TEST_F(Typeset, MakeErrorsAndTypesetSource) {
    EXPECT_EQ(error_of([] { make_ts(I(3)); }), Err::script_bad_to_arg);
    EXPECT_EQ(error_of([] { make_ts(B({DT(TYPE_INTEGER), S("x")})); }), Err::script_invalid_arg);
    EXPECT_EQ(error_of([] { make_ts(B({word_load("no-such-type-word")})); }), Err::script_invalid_arg);
    Cell ts = of_types({TYPE_CHAR, TYPE_PAIR});
    Cell same = make_ts(ts);
    EXPECT_EQ(typeset_compare(&same, &ts, CompareOp::equal), 0);
    Cell to = *action_entry_as<ACT_TO>(TYPE_TYPESET)(&ts, &ts, TYPE_TYPESET);
    EXPECT_EQ(typeset_compare(&to, &ts, CompareOp::equal), 0);
}

TEST_F(Typeset, BitsAgreeWithArgumentChecks) {
    for (int id = 1; id <= TYPE_COUNT; id++) {
        Cell one = make_ts(B({DT(uint8_t(id))}));
        for (int other = 0; other < 96; other++)
            ASSERT_EQ(typeset_has(&one, uint8_t(other)), other == id) << id << " " << other;
        EXPECT_EQ(typeset_count(&one), id <= highest_type_id ? 1 : 0);
    }
    Cell def;
    typeset_make_default(&def);
    for (int id = 0; id < 96; id++) EXPECT_EQ(typeset_has(&def, uint8_t(id)), id != TYPE_UNSET) << id;
    EXPECT_EQ(typeset_count(&def), highest_type_id - 1);
}

TEST_F(Typeset, FindAnswersMembership) {
    Cell ts = make_ts(B({type_word(TYPE_INTEGER), type_word(TYPE_FLOAT)}));
    Cell integer = DT(TYPE_INTEGER), string = DT(TYPE_STRING), text_value = S("integer!");
    auto find = [&](Cell* v) { return *typeset_find(&ts, v, FindArgs{}); };
    Cell yes = find(&integer);
    EXPECT_EQ(yes.data1, 1u);
    EXPECT_EQ(type_of(&yes), TYPE_LOGIC);
    EXPECT_EQ(find(&string).data1, 0u);
    EXPECT_EQ(error_of([&] { find(&text_value); }), Err::script_invalid_arg);
}

TEST_F(Typeset, BitwiseCombinations) {
    Cell a = of_types({TYPE_INTEGER, TYPE_FLOAT, TYPE_STRING});
    Cell b = of_types({TYPE_FLOAT, TYPE_BLOCK});
    struct Case {
        int32_t op;
        Cell expected;
    } cases[] = {
        {5, of_types({TYPE_INTEGER, TYPE_FLOAT, TYPE_STRING, TYPE_BLOCK})},
        {9, of_types({TYPE_INTEGER, TYPE_FLOAT, TYPE_STRING, TYPE_BLOCK})},
        {6, of_types({TYPE_FLOAT})},
        {10, of_types({TYPE_FLOAT})},
        {7, of_types({TYPE_INTEGER, TYPE_STRING, TYPE_BLOCK})},
        {12, of_types({TYPE_INTEGER, TYPE_STRING, TYPE_BLOCK})},
        {11, of_types({TYPE_INTEGER, TYPE_STRING})},
        {8, a},
    };
    for (const Case& c : cases) {
        Cell r = bitwise(a, b, c.op);
        EXPECT_EQ(type_of(&r), TYPE_TYPESET);
        EXPECT_EQ(typeset_compare(&r, const_cast<Cell*>(&c.expected), CompareOp::equal), 0) << c.op;
    }
    // A datatype! stands for the typeset of that one type.
    Cell r = bitwise(a, DT(TYPE_PAIR), 5);
    Cell expected = of_types({TYPE_INTEGER, TYPE_FLOAT, TYPE_STRING, TYPE_PAIR});
    EXPECT_EQ(typeset_compare(&r, &expected, CompareOp::equal), 0);
    EXPECT_EQ(error_of([&] { bitwise(a, I(1), 5); }), Err::script_invalid_arg);
    // The action slots route to the same combination.
    Cell s = kem::test::run_stack_slot(ACT_AND_T, a, b);
    Cell f = of_types({TYPE_FLOAT});
    EXPECT_EQ(typeset_compare(&s, &f, CompareOp::equal), 0);
    s = kem::test::run_stack_slot(ACT_XOR_T, a, a);
    EXPECT_EQ(typeset_count(&s), 0);
}

TEST_F(Typeset, ComplementInvertsEveryBit) {
    Cell ts = of_types({TYPE_INTEGER});
    Cell once = ts;
    typeset_complement(&once);
    EXPECT_FALSE(typeset_has(&once, TYPE_INTEGER));
    EXPECT_TRUE(typeset_has(&once, TYPE_STRING));
    EXPECT_TRUE(typeset_has(&once, 95));
    Cell twice = once;
    typeset_complement(&twice);
    EXPECT_EQ(typeset_compare(&twice, &ts, CompareOp::equal), 0);
}

TEST_F(Typeset, CompareByBitsAndSortByCount) {
    Cell a = of_types({TYPE_INTEGER, TYPE_FLOAT});
    Cell b = make_ts(B({type_word(TYPE_FLOAT), type_word(TYPE_INTEGER)}));
    // Argument lists keep the argument kind in header bits 20-21: not part of the value.
    b.header |= 2u << 20;
    Cell c = of_types({TYPE_STRING});
    Cell i = I(1);
    EXPECT_EQ(typeset_compare(&a, &b, CompareOp::equal), 0);
    EXPECT_EQ(typeset_compare(&a, &b, CompareOp::strict_equal), 0);
    EXPECT_EQ(typeset_compare(&a, &c, CompareOp::equal), 1);
    EXPECT_EQ(typeset_compare(&a, &c, CompareOp::sort), 1);
    EXPECT_EQ(typeset_compare(&c, &a, CompareOp::case_sort), -1);
    EXPECT_EQ(typeset_compare(&a, &c, CompareOp::lesser), -2);
    EXPECT_EQ(typeset_compare(&a, &i, CompareOp::equal), -2);
    EXPECT_TRUE(compare_star(&a, &b, CompareOp::equal));
}

TEST_F(Typeset, ToBlockListsDatatypesInIdOrder) {
    Cell ts = of_types({TYPE_MAP, TYPE_NONE, TYPE_STRING});
    Cell blk;
    typeset_to_block(&ts, &blk);
    EXPECT_EQ(ids_in_block(blk), (std::vector<uint8_t>{TYPE_NONE, TYPE_STRING, TYPE_MAP}));
    Cell empty = of_types({}), none_blk;
    typeset_to_block(&empty, &none_blk);
    EXPECT_EQ(block_full_length(&none_blk), 0u);
}

TEST_F(Typeset, FromSpecBuildsArgumentTypesets) {
    Cell number = of_types({TYPE_INTEGER, TYPE_FLOAT});
    Cell number_word = word_load("test-number!");
    word_set(&number_word, &number);
    Cell alias = word_load("test-alias");
    Cell target = word_load("something");
    word_set(&alias, &target);
    Cell spec = B({type_word(TYPE_STRING), number_word, DT(TYPE_NONE), B({}), alias});
    Cell ts;
    typeset_from_spec(&ts, &spec);
    Cell expected = of_types({TYPE_STRING, TYPE_INTEGER, TYPE_FLOAT, TYPE_NONE, TYPE_OBJECT});
    EXPECT_EQ(typeset_compare(&ts, &expected, CompareOp::equal), 0);

    for (auto [bad, err] : {std::pair{B({DT(TYPE_INTEGER), I(3)}), Err::script_invalid_type_spec},
                            std::pair{B({word_load("never-set-here")}), Err::script_no_value}}) {
        Cell t;
        EXPECT_EQ(error_of([&] { typeset_from_spec(&t, &bad); }), err);
    }

    // The argument list under construction receives one typeset per call.
    Cell list = B({});
    Cell block_only = B({DT(TYPE_BLOCK)});
    typeset_from_spec_in(&list, &block_only);
    typeset_make_in_default(&list);
    typeset_make_in(&list, 1, 2, 3);
    ASSERT_EQ(block_full_length(&list), 3u);
    EXPECT_TRUE(typeset_has(block_rs_abs_at(&list, 0), TYPE_BLOCK));
    EXPECT_EQ(typeset_count(block_rs_abs_at(&list, 0)), 1);
    EXPECT_FALSE(typeset_has(block_rs_abs_at(&list, 1), TYPE_UNSET));
    EXPECT_TRUE(typeset_has(block_rs_abs_at(&list, 1), TYPE_EVENT));
    Cell raw = *block_rs_abs_at(&list, 2);
    EXPECT_EQ(type_of(&raw), TYPE_TYPESET);
    EXPECT_EQ(raw.data1, 1u);
    EXPECT_EQ(raw.data3, 3u);
}

} // namespace
