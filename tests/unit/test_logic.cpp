#include <gtest/gtest.h>
#include <string>
#include "environment/startup.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"

using namespace kem;

namespace {

class Basics : public ::testing::Test {
protected:
    void SetUp() override {
        init_runtime();
        stack::init();
    }
    // The text a value forms or molds to.
    std::string text(Cell v, bool mold, bool all = false) {
        Cell buf;
        string_make_at(&buf, 16);
        if (mold) mold_direct(&v, &buf, MoldArgs{.all = all}, 1000, 0);
        else form_direct(&v, &buf, nullptr, 1000);
        SeriesBuffer* b = node_buffer(series_node(&buf));
        return std::string(reinterpret_cast<char*>(b->head_ptr()), b->used());
    }
    Cell integer(int32_t v) { Cell c; make_integer(&c, v); return c; }
    Cell flt(double d) { Cell c; make_float(&c, d); return c; }
    Cell datatype(uint8_t t) { Cell c; make_datatype(&c, t); return c; }
};

} // namespace

TEST_F(Basics, FormAndMoldTexts) {
    struct { Cell v; const char* form; const char* mold; const char* mold_all; } cases[] = {
        {unset_value, "", "unset", "#(unset)"},
        {none_value, "none", "none", "#(none)"},
        {true_value, "true", "true", "#(true)"},
        {false_value, "false", "false", "#(false)"},
        {datatype(TYPE_INTEGER), "integer", "integer!", "#(integer!)"},
        {datatype(TYPE_SET_WORD), "set-word", "set-word!", "#(set-word!)"},
    };
    for (auto& c : cases) {
        EXPECT_EQ(text(c.v, false), c.form);
        EXPECT_EQ(text(c.v, true), c.mold);
        EXPECT_EQ(text(c.v, true, true), c.mold_all);
    }
}

TEST_F(Basics, FormAndMoldReturnTheRemainingPart) {
    Cell buf;
    string_make_at(&buf, 16);
    Cell f = false_value, n = none_value;
    EXPECT_EQ(form_direct(&f, &buf, nullptr, 10), 5);
    EXPECT_EQ(mold_direct(&n, &buf, MoldArgs{.all = true}, 10, 0), 3);
}

TEST_F(Basics, LogicMakeAndTo) {
    auto make = action_entry_as<ACT_MAKE>(TYPE_LOGIC);
    auto to = action_entry_as<ACT_TO>(TYPE_LOGIC);
    struct { Cell spec; bool made; bool converted; } cases[] = {
        {integer(0), false, true}, {integer(5), true, true},       {flt(0.0), false, true},
        {flt(0.5), true, true},    {none_value, false, false},    {false_value, false, false},
        {true_value, true, true},  {datatype(TYPE_BLOCK), true, true},
    };
    for (auto& c : cases) {
        Cell proto = none_value, spec = c.spec;
        EXPECT_EQ(make(&proto, &spec, TYPE_LOGIC)->data1 == 1, c.made);
        Cell proto2 = none_value, spec2 = c.spec;
        Cell* r = to(&proto2, &spec2, TYPE_LOGIC);
        EXPECT_EQ(type_of(r), TYPE_LOGIC);
        EXPECT_EQ(r->data1 == 1, c.converted);
    }
}

TEST_F(Basics, Comparisons) {
    Cell t = true_value, f = false_value, n = none_value, u = unset_value;
    Cell i = datatype(TYPE_INTEGER), i2 = datatype(TYPE_INTEGER), b = datatype(TYPE_BLOCK);
    EXPECT_LT(compare_values(&f, &t, CompareOp::sort), 0);  // false sorts before true
    EXPECT_EQ(compare_values(&t, &n, CompareOp::equal), -2);
    EXPECT_EQ(compare_values(&n, &n, CompareOp::equal), 0);
    EXPECT_EQ(compare_values(&n, &n, CompareOp::lesser), -2);
    EXPECT_EQ(compare_values(&u, &u, CompareOp::same), 0);
    EXPECT_EQ(compare_values(&i, &i2, CompareOp::equal), 0);
    EXPECT_EQ(compare_values(&i, &b, CompareOp::equal), 1);
    EXPECT_EQ(compare_values(&i, &b, CompareOp::lesser), -2);  // datatypes cannot be ordered
}

TEST_F(Basics, BitwiseOnLogic) {
    Cell w{TYPE_WORD, 0, 1, 0};
    stack::push_native_frame(&w);
    stack::push(&true_value);
    stack::push(&false_value);
    auto and_ = action_entry_as<ACT_AND_T>(TYPE_LOGIC);
    EXPECT_EQ(and_()->data1, 0u);
    stack::reset();
    stack::push(&true_value);
    Cell one = integer(1);
    stack::push(&one);
    try {
        and_();
        FAIL();
    } catch (const KemError& e) {
        EXPECT_EQ(e.id, Err::script_expect_arg);
        EXPECT_EQ(type_of(&e.args[1]), TYPE_DATATYPE);
        EXPECT_EQ(e.args[1].data1, uint32_t(TYPE_INTEGER));
    }
    stack::pop_frame();
}

TEST_F(Basics, RandomSeedGivesUnsetAndDrawGivesLogic) {
    auto random = action_entry_as<ACT_RANDOM>(TYPE_LOGIC);
    Cell t = true_value;
    EXPECT_EQ(type_of(random(&t, RandomArgs{.seed = true})), TYPE_UNSET);
    bool seen[2] = {false, false};
    for (int i = 0; i < 64; i++) {
        Cell v = true_value;
        seen[random(&v, RandomArgs{})->data1] = true;
    }
    EXPECT_TRUE(seen[0] && seen[1]);
}

TEST_F(Basics, NoneStandsInForAnEmptySeries) {
    Cell w{TYPE_WORD, 0, 1, 0};
    stack::push_native_frame(&w);
    Cell* n = stack::push(&none_value);
    EXPECT_EQ(action_entry_as<ACT_LENGTH_Q>(TYPE_NONE)(n), -1);
    EXPECT_EQ(type_of(action_entry_as<ACT_CLEAR>(TYPE_NONE)(n)), TYPE_NONE);
    EXPECT_EQ(type_of(action_entry_as<ACT_TAKE>(TYPE_NONE)(n, TakeArgs{})), TYPE_NONE);
    stack::pop_frame();
}

TEST_F(Basics, Truthiness) {
    struct { Cell v; bool truthy; } cases[] = {
        {none_value, false}, {false_value, false}, {Cell{TYPE_LOGIC, 2, 0, 0}, false},
        {true_value, true},  {unset_value, true},  {integer(0), true},
    };
    for (auto& c : cases) EXPECT_EQ(is_truthy(&c.v), c.truthy);
    Cell w{TYPE_WORD, 0, 1, 0};
    EXPECT_THROW(logic_true_q(&unset_value, true, &w), KemError);
    stack::push_native_frame(&w);
    stack::push(&unset_value);
    try {
        logic_result_true_q();
        FAIL();
    } catch (const KemError& e) {
        EXPECT_EQ(e.id, Err::script_no_return);
    }
    EXPECT_FALSE(logic_result_false_q());
    stack::pop_frame();
}

TEST(Registry, InheritanceCopiesTheParentRowAtRegistration) {
    init_runtime();
    for (int t = 1; t <= highest_type_id; t++)
        for (int s = 1; s <= ACTION_SLOT_COUNT; s++) EXPECT_NE(type_action_table[t][s], ACTION_INHERIT) << t << " " << s;
    // A child's inherited slot holds its parent's entry, none included.
    EXPECT_EQ(type_action_table[TYPE_PERCENT][ACT_ADD], type_action_table[TYPE_FLOAT][ACT_ADD]);
    EXPECT_STREQ(type_name(TYPE_LIT_PATH), "lit-path!");
    EXPECT_EQ(datatype_names[TYPE_LIT_PATH].length, 8u);
}

TEST(RegistryDeathTest, WrongActionCountEndsTheProcess) {
    EXPECT_EXIT(register_datatype(TYPE_EVENT, 0, "event!", ActionRow::none_all(), 61), ::testing::ExitedWithCode(1),
                "invalid actions count for type: 54\n\\*\\*\\* Found: 61\n\\*\\*\\* Expected: 62");
}
