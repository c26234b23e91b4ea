#include <gtest/gtest.h>
#include <initializer_list>
#include <optional>
#include <string>
#include "environment/startup.h"
#include "number_support.h"
#include "runtime/core/cycle.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/word.h"

using namespace kem;
using kem::test::error_of;
using kem::test::F;
using kem::test::I;
using kem::test::NONE;
using kem::test::text_of;
using kem::test::W;
using kem::test::GW;
using kem::test::S;
using kem::test::B;
using kem::test::at;

namespace {

Cell typed(Cell c, uint8_t type) {
    set_type(&c, type);
    return c;
}
Cell path(std::initializer_list<Cell> items, uint8_t type = TYPE_PATH) { return typed(B(items), type); }

std::string mold(const Cell& v) { return text_of(v, true); }
std::string form(const Cell& v) { return text_of(v, false); }

class Path : public ::testing::Test {
protected:
    void SetUp() override {
        init_runtime();
        stack::init();
        cycle_reset();
    }
    Cell make(uint8_t type, Cell spec) {
        Cell proto{TYPE_DATATYPE, type, 0, 0};
        return *make_direct(&proto, &spec);
    }
    Cell to(uint8_t type, Cell spec) {
        Cell proto{TYPE_DATATYPE, type, 0, 0};
        return *to_direct(&proto, &spec);
    }
};

TEST_F(Path, MakeFromBlocksAndSizes) {
    struct Case {
        uint8_t type;
        Cell spec;
        const char* mold;
        uint32_t room;
    };
    const Case cases[] = {
        {TYPE_PATH, I(0), "", 1},
        {TYPE_PATH, I(5), "", 5},
        {TYPE_PATH, F(3.9), "", 3},
        {TYPE_PATH, typed(F(2.5), TYPE_PERCENT), "", 2},
        {TYPE_PATH, I(-4), "", 1},
        {TYPE_PATH, B({W("a"), W("b"), W("c")}), "a/b/c", 3},
        {TYPE_SET_PATH, B({W("a"), W("b")}), "a/b:", 2},
        {TYPE_LIT_PATH, B({W("a"), W("b"), W("c")}), "'a/b/c", 3},
        {TYPE_GET_PATH, B({W("a"), W("b")}), ":a/b", 2},
        {TYPE_PATH, typed(B({W("x"), W("y")}), TYPE_PAREN), "x/y", 2},
        {TYPE_PATH, at(B({W("skip"), W("a"), W("b")}), 1), "a/b", 2},
        {TYPE_GET_PATH, path({W("a"), I(1)}, TYPE_SET_PATH), ":a/1", 2},
    };
    for (const Case& c : cases) {
        Cell made = make(c.type, c.spec);
        EXPECT_EQ(type_of(&made), c.type) << c.mold;
        EXPECT_EQ(series_index(&made), 0u) << c.mold;
        EXPECT_EQ(mold(made), c.mold);
        EXPECT_GE(series_buffer(&made)->size / 16, c.room) << c.mold;
    }
    for (Cell bad : {S("a/b"), NONE}) {
        try {
            make(TYPE_PATH, bad);
            FAIL() << "no error";
        } catch (const KemError& e) {
            EXPECT_EQ(e.id, Err::script_bad_make_arg);
            EXPECT_EQ(e.args[0].data1, uint32_t(TYPE_PATH));
            EXPECT_EQ(type_of(&e.args[1]), type_of(&bad));
        }
    }
}

TEST_F(Path, ToWrapsContainersAsOneElement) {
    NodeId ctx = context_make(1, false, false, 0, CONTEXT_OBJECT);
    Cell object{TYPE_OBJECT, ctx, 0, 0};
    Cell typeset{TYPE_TYPESET, 1, 2, 3};
    for (Cell value : {object, typeset}) {
        Cell p = to(TYPE_PATH, value);
        EXPECT_EQ(type_of(&p), TYPE_PATH);
        ASSERT_EQ(block_full_length(&p), 1u);
        const Cell* element = block_rs_abs_at(&p, 0);
        EXPECT_EQ(type_of(element), type_of(&value));
        EXPECT_EQ(element->data1, value.data1);
    }
    EXPECT_EQ(mold(to(TYPE_SET_PATH, B({W("a"), W("b")}))), "a/b:");
    EXPECT_EQ(mold(to(TYPE_PATH, W("a"))), "a");
}

TEST_F(Path, MoldAndForm) {
    struct Case {
        Cell value;
        const char* mold;
        const char* form;
    };
    const Case cases[] = {
        {path({W("a"), W("b"), W("c")}), "a/b/c", "a/b/c"},
        {path({W("a"), I(1), typed(B({W("b")}), TYPE_PAREN)}), "a/1/(b)", "a/1/b"},
        {path({W("a"), GW("b")}), "a/:b", "a/b"},
        {path({W("a"), S("x y")}), "a/\"x y\"", "a/x y"},
        {at(path({W("a"), W("b"), W("c")}), 1), "b/c", "b/c"},
        {path({}), "", ""},
        {path({W("a"), W("b")}, TYPE_LIT_PATH), "'a/b", "a/b"},
        {path({W("a"), W("b")}, TYPE_SET_PATH), "a/b:", "a/b"},
        {path({W("a"), W("b")}, TYPE_GET_PATH), ":a/b", "a/b"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mold(c.value), c.mold);
        EXPECT_EQ(form(c.value), c.form);
    }
}

TEST_F(Path, APathInsideItselfWritesTheMarker) {
    Cell p = path({W("a")});
    block_append_cell(&p, &p);
    EXPECT_EQ(mold(p), "a/...");
    EXPECT_EQ(form(p), "a/...");
    EXPECT_EQ(cycle_depth(), 0u);
}

TEST_F(Path, PartLimitStopsTheWalk) {
    Cell p = path({W("a"), W("b"), W("c")});
    Cell buffer;
    string_make_at(&buffer, 16);
    Cell limit = I(2);
    int32_t left = path_mold(&p, &buffer, MoldArgs{.limit = &limit}, 2, 0);
    SeriesBuffer* b = series_buffer(&buffer);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b->head_ptr()), b->used()), "a/");
    EXPECT_EQ(left, 0);
}

TEST_F(Path, CopyAndBlockActionsKeepThePathType) {
    for (uint8_t type : {TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH}) {
        Cell p = path({W("a"), W("b"), W("c")}, type);
        Cell result;
        Cell copy = *copy_direct(&p, &result, CopyArgs{});
        EXPECT_EQ(type_of(&copy), type);
        EXPECT_NE(series_node(&copy), series_node(&p));
        EXPECT_EQ(length_q_direct(&p), 3);

        kem::test::begin_call(p, NONE);
        Cell next = *action_entry_as<ACT_NEXT>(type)();
        EXPECT_EQ(type_of(&next), type);
        EXPECT_EQ(form(next), "b/c");
    }
}

TEST_F(Path, Compare) {
    Cell ab = path({W("a"), W("b")});
    Cell ab2 = path({W("a"), W("b")});
    Cell ac = path({W("a"), W("c")});
    Cell lit_ab = path({W("a"), W("b")}, TYPE_LIT_PATH);
    Cell get_ab = path({W("a"), W("b")}, TYPE_GET_PATH);
    EXPECT_EQ(compare_values(&ab, &ab2, CompareOp::equal), 0);
    EXPECT_EQ(compare_values(&ab, &ab2, CompareOp::strict_equal), 0);
    EXPECT_NE(compare_values(&ab, &ac, CompareOp::equal), 0);
    EXPECT_EQ(compare_values(&ab, &ac, CompareOp::lesser), -1);
    EXPECT_EQ(compare_values(&ab, &lit_ab, CompareOp::equal), -2);
    EXPECT_EQ(compare_values(&ab, &lit_ab, CompareOp::spelling), 0);
    EXPECT_EQ(compare_values(&lit_ab, &ab, CompareOp::caseless), 0);
    EXPECT_EQ(compare_values(&ab, &get_ab, CompareOp::spelling), -2);
    Cell blk = B({W("a"), W("b")});
    EXPECT_EQ(compare_values(&ab, &blk, CompareOp::equal), -2);
}

TEST_F(Path, RowsLeaveNonPathSlotsEmpty) {
    for (uint8_t type : {TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH}) {
        for (int slot : {ACT_RANDOM, ACT_SORT, ACT_TRIM, ACT_ADD, ACT_OPEN, ACT_READ})
            EXPECT_EQ(action_entry(type, slot), nullptr) << type_name(type) << " slot " << slot;
        for (int slot : {ACT_REFLECT, ACT_EVAL_PATH, ACT_PICK, ACT_FIND, ACT_MODIFY})
            EXPECT_EQ(action_entry(type, slot), action_entry(TYPE_BLOCK, slot)) << type_name(type) << " " << slot;
        EXPECT_EQ(action_entry(type, ACT_MAKE), action_entry(TYPE_PATH, ACT_MAKE));
    }
    EXPECT_NE(action_entry(TYPE_LIT_PATH, ACT_MOLD), action_entry(TYPE_PATH, ACT_MOLD));
}

} // namespace
