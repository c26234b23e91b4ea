#include <gtest/gtest.h>
#include <initializer_list>
#include <optional>
#include <string>
#include "environment/boot.h"
#include "environment/startup.h"
#include "number_support.h"
#include "runtime/core/cycle.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/operators.h"

using namespace kem;
using kem::test::error_of;
using kem::test::I;
using kem::test::text_of;
using kem::test::W;
using kem::test::LW;
using kem::test::GW;
using kem::test::SW;
using kem::test::R;
using kem::test::S;
using kem::test::B;
using kem::test::at;

namespace {

Cell DT(uint8_t t) { return Cell{TYPE_DATATYPE, t, 0, 0}; }
Cell field(uint32_t symbol) { return Cell{TYPE_WORD, 0, symbol, 0}; }

constexpr int32_t SLOT_ADD = 11;
constexpr int32_t SLOT_SUBTRACT = 18;

class Native : public ::testing::Test {
protected:
    void SetUp() override {
        boot_all();  // the typesets that the natives' specs name
        stack::init();
        cycle_reset();
        native_table_count = 107;
        binary_spec = B({W("value1"), W("value2")});
        add = *action_push(SLOT_ADD, &binary_spec);
        subtract = *action_push(SLOT_SUBTRACT, &binary_spec);
        Cell print_spec = B({W("value")});
        print = *native_push(23, &print_spec);
    }

    Cell make(uint8_t type, Cell spec) {
        Cell proto = DT(type);
        return *action_entry_as<ACT_MAKE>(type)(&proto, &spec, type);
    }
    Cell fn(Cell spec, Cell body) { return *function_push(&spec, &body, 0, false, 0, 0); }

    Cell binary_spec, add, subtract, print;
};

TEST_F(Native, MakeChecksTheBlockAndTheIndex) {
    // The spec start-up gave native or action n.
    auto own = [](uint8_t type, uint32_t n) { return callable_spec(native_kept(type, n)); };
    Cell spec = B({W("value")});
    struct Case {
        const char* name;
        uint8_t type;
        Cell arg;
        bool ok;
        Cell spec;  // the spec the made value holds
    };
    const Case cases[] = {
        {"first native", TYPE_NATIVE, B({own(TYPE_NATIVE, 1), I(1)}), true, own(TYPE_NATIVE, 1)},
        {"last registered native", TYPE_NATIVE, B({own(TYPE_NATIVE, 107), I(107)}), true, own(TYPE_NATIVE, 107)},
        {"past the registered natives", TYPE_NATIVE, B({spec, I(108)}), false},
        {"native 0", TYPE_NATIVE, B({spec, I(0)}), false},
        {"native 121", TYPE_NATIVE, B({spec, I(121)}), false},
        {"one value", TYPE_NATIVE, B({spec}), false},
        {"three values", TYPE_NATIVE, B({spec, I(1), I(2)}), false},
        {"index first", TYPE_NATIVE, B({I(1), spec}), false},
        {"not a block", TYPE_NATIVE, I(1), false},
        {"two values from the position", TYPE_NATIVE, at(B({I(9), own(TYPE_NATIVE, 5), I(5)}), 1), true,
         own(TYPE_NATIVE, 5)},
        {"last action", TYPE_ACTION, B({own(TYPE_ACTION, 62), I(62)}), true, own(TYPE_ACTION, 62)},
        {"action 63", TYPE_ACTION, B({spec, I(63)}), false},
        {"action 0", TYPE_ACTION, B({spec, I(0)}), false},
        // The body reads its arguments where its own spec puts them.
        {"another native's spec", TYPE_NATIVE, B({own(TYPE_NATIVE, 5), I(1)}), false},
        {"the same call under other words", TYPE_NATIVE, B({own(TYPE_NATIVE, 2), I(1)}), true, own(TYPE_NATIVE, 2)},
        {"an action's spec for another", TYPE_ACTION, B({own(TYPE_ACTION, SLOT_SUBTRACT), I(SLOT_ADD)}), true,
         own(TYPE_ACTION, SLOT_SUBTRACT)},
        {"an argument short", TYPE_ACTION, B({B({W("value1")}), I(SLOT_ADD)}), false},
        {"a refinement more", TYPE_ACTION, B({B({W("value1"), W("value2"), R("b")}), I(SLOT_ADD)}), false},
    };
    for (const Case& c : cases) {
        std::optional<Err> error;
        Cell made{};
        try {
            made = make(c.type, c.arg);
        } catch (const KemError& e) {
            error = e.id;
            EXPECT_EQ(e.args[0].data1, c.type) << c.name;
            EXPECT_EQ(e.args[1].data2, c.arg.data2) << c.name;
        }
        if (!c.ok) {
            EXPECT_EQ(error, Err::script_bad_make_arg) << c.name;
            continue;
        }
        ASSERT_EQ(error, std::nullopt) << c.name;
        EXPECT_EQ(type_of(&made), c.type) << c.name;
        EXPECT_EQ(made.data2, series_node(&c.spec)) << c.name;
        // The extras: an empty function context, then the argument list, read
        // when the value is made.
        SeriesBuffer* extras = node_buffer(callable_extras(&made));
        ASSERT_EQ(extras->used(), 32u) << c.name;
        EXPECT_EQ(type_of(extras->cell_head()), TYPE_CONTEXT) << c.name;
        EXPECT_NE(extras->cell_head()->header & 0x400000, 0u) << c.name;
        EXPECT_EQ(type_of(extras->cell_head() + 1), TYPE_BLOCK) << c.name;
    }
}

TEST_F(Native, ReflectGivesSpecAndTableNumber) {
    Cell body = field(rt_symbols.body);
    EXPECT_EQ(cell_int(reflect_direct(&add, &body)), SLOT_ADD);
    EXPECT_EQ(cell_int(reflect_direct(&print, &body)), 23);
    Cell spec_field = field(rt_symbols.spec);
    Cell spec = *reflect_direct(&add, &spec_field);
    EXPECT_EQ(type_of(&spec), TYPE_BLOCK);
    EXPECT_EQ(series_index(&spec), 0u);
    // A copy: changing it leaves the spec the native's body relies on.
    EXPECT_NE(series_node(&spec), series_node(&binary_spec));
    EXPECT_EQ(text_of(spec, true), text_of(binary_spec, true));
    Cell words = field(rt_symbols.words);
    EXPECT_EQ(error_of([&] { reflect_direct(&add, &words); }), Err::internal_not_done);
}

TEST_F(Native, FormAndMold) {
    Cell body = B({W("a")});
    Cell f = fn(B({W("a"), W("b")}), body);
    Cell add_op = make(TYPE_OP, add);
    Cell fn_op = make(TYPE_OP, f);
    struct Case {
        Cell value;
        const char* form;
        const char* mold;
    };
    const Case cases[] = {
        {print, "?native?", "make native! [[value]]"},
        {add, "?action?", "make action! [[value1 value2]]"},
        {add_op, "?op?", "make op! [[value1 value2]]"},
        {fn_op, "?op?", "make op! func [a b][a]"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text_of(c.value, false), c.form);
        EXPECT_EQ(text_of(c.value, true), c.mold);
    }
}

TEST_F(Native, CompareByTableNumber) {
    Cell copy = add;
    EXPECT_EQ(native_compare(&add, &copy, CompareOp::equal), 0);
    EXPECT_EQ(native_compare(&add, &copy, CompareOp::same), 0);
    EXPECT_NE(native_compare(&add, &subtract, CompareOp::equal), 0);
    EXPECT_EQ(native_compare(&add, &subtract, CompareOp::sort), -1);
    EXPECT_EQ(native_compare(&subtract, &add, CompareOp::case_sort), 1);
    EXPECT_EQ(native_compare(&add, &subtract, CompareOp::lesser), -2);
    EXPECT_EQ(native_compare(&add, &print, CompareOp::equal), -2);

    // An op over native n and one over action n are different operators.
    Cell spec = B({W("a"), W("b")});
    Cell native_11 = *native_push(SLOT_ADD, &spec);
    Cell op_native = make(TYPE_OP, native_11);
    Cell op_action = make(TYPE_OP, add);
    EXPECT_NE(native_compare(&op_native, &op_action, CompareOp::equal), 0);
    Cell op_again = make(TYPE_OP, add);
    EXPECT_EQ(native_compare(&op_action, &op_again, CompareOp::equal), 0);
}

TEST_F(Native, OpNeedsABinarySpec) {
    struct Case {
        const char* name;
        Cell spec;
        bool ok;
    };
    const Case cases[] = {
        {"two words", B({W("a"), W("b")}), true},
        {"three words", B({W("a"), W("b"), W("c")}), false},
        {"one word and a refinement with an argument", B({W("a"), R("ref"), W("b")}), false},
        {"two words and locals", B({W("a"), W("b"), R("local"), W("c")}), true},
        {"two words and extern", B({W("a"), W("b"), R("extern"), W("c")}), true},
        {"two words and another refinement", B({W("a"), W("b"), R("only")}), false},
        {"lit-word first", B({LW("a"), W("b")}), false},
        {"get-word first", B({GW("a"), W("b")}), false},
        {"lit-word second", B({W("a"), LW("b")}), true},
        {"return: after two", B({S("doc"), W("a"), B({}), W("b"), SW("return"), B({})}), true},
        {"return: after one", B({W("a"), SW("return"), B({}), W("b")}), false},
        {"one word", B({W("a")}), false},
    };
    for (const Case& c : cases) {
        Cell body = B({});
        Cell f = fn(c.spec, body);
        std::optional<Err> error = error_of([&] { make(TYPE_OP, f); });
        EXPECT_EQ(error, c.ok ? std::nullopt : std::optional<Err>(Err::script_bad_op_spec)) << c.name;
    }
    try {
        make(TYPE_OP, I(1));
        FAIL() << "no error";
    } catch (const KemError& e) {
        EXPECT_EQ(e.id, Err::script_invalid_type);
        EXPECT_EQ(e.args[0].data1, uint32_t(TYPE_INTEGER));
    }
    Cell op = make(TYPE_OP, add);
    EXPECT_EQ(error_of([&] { make(TYPE_OP, op); }), Err::script_invalid_type);
}

TEST_F(Native, OpKeepsWhatItWraps) {
    Cell op = make(TYPE_OP, add);
    EXPECT_EQ(type_of(&op), TYPE_OP);
    EXPECT_EQ(op_wrapped_type(&op), TYPE_ACTION);
    // The operation the evaluator computes without a call is fixed when the
    // op is made; one over a function computes none.
    EXPECT_EQ(op_direct(&op), interp::IX_ADD);
    EXPECT_EQ(op.data1, add.data1);
    Cell called = op_callable(&op);
    EXPECT_EQ(called.header, uint32_t(TYPE_ACTION));
    Cell body_field = field(rt_symbols.body);
    EXPECT_EQ(cell_int(reflect_direct(&op, &body_field)), SLOT_ADD);

    // A function keeps itself in its extras, header flags and all.
    Cell spec = B({B({W("trace")}), W("a"), W("b")});
    Cell body = B({W("a")});
    Cell f = *function_push(&spec, &body, 0, false, 0, FUNCTION_TRACE);
    Cell fn_op = make(TYPE_OP, f);
    EXPECT_EQ(type_of(&fn_op), TYPE_OP);
    EXPECT_EQ(op_wrapped_type(&fn_op), TYPE_FUNCTION);
    EXPECT_EQ(op_direct(&fn_op), interp::IX_NONE);
    EXPECT_EQ(callable_extra_cell(&f, EXTRA_OP)->data3, f.data3);
    Cell wrapped = op_callable(&fn_op);
    EXPECT_EQ(wrapped.header, f.header);
    EXPECT_EQ(function_compare(&wrapped, &f, CompareOp::equal), 0);
    Cell body_of = *reflect_direct(&fn_op, &body_field);
    EXPECT_EQ(series_node(&body_of), series_node(function_body(&f)));
}

TEST_F(Native, ArgListsOfNativesAndOps) {
    Cell ts_block = B({W("integer!")});
    Cell integer_word = W("integer!");
    Cell dt = DT(TYPE_INTEGER);
    word_set(&integer_word, &dt);
    Cell spec = B({W("series"), W("value"), R("part"), W("range"), ts_block, R("only")});
    Cell append = *action_push(25, &spec);
    Cell list = callable_arg_list(&append);
    ASSERT_EQ(block_full_length(&list), 6u);
    EXPECT_EQ(type_of(block_rs_abs_at(&list, 2)), TYPE_REFINEMENT);
    EXPECT_EQ(block_rs_abs_at(&list, 2)->data3, 1u);
    EXPECT_TRUE(typeset_bit(block_rs_abs_at(&list, 3), TYPE_INTEGER));
    EXPECT_FALSE(typeset_bit(block_rs_abs_at(&list, 3), TYPE_STRING));
    EXPECT_EQ(block_rs_abs_at(&list, 4)->data3, 2u);
    EXPECT_EQ(cell_int(block_rs_abs_at(&list, 5)), 2);
    EXPECT_EQ(series_node(callable_extra_cell(&append, EXTRA_ARG_LIST)), series_node(&list));

    // An op over an action lists it as the action does: no locals entry.
    Cell op = make(TYPE_OP, add);
    Cell op_list = callable_arg_list(&op);
    EXPECT_EQ(block_full_length(&op_list), 2u);
}

TEST_F(Native, ArgumentChecksNameTheSpecWord) {
    Cell f = fn(B({W("first"), R("ref"), LW("second")}), B({}));
    Cell name = W("checked-fn");
    word_set(&name, &f);
    stack::push_native_frame(&name);
    Cell text = B({});
    struct Case {
        int index;
        const char* word;
        uint8_t type;
    };
    const Case cases[] = {{0, "first", TYPE_WORD}, {1, "ref", TYPE_REFINEMENT}, {2, "second", TYPE_LIT_WORD},
                          {3, "<anon>", TYPE_WORD}};
    for (const Case& c : cases) {
        try {
            fire_expect_arg(&text, c.index);
        } catch (const KemError& e) {
            EXPECT_EQ(e.id, Err::script_expect_arg);
            EXPECT_EQ(e.args[0].data2, name.data2);
            EXPECT_EQ(e.args[1].data1, uint32_t(TYPE_BLOCK));
            EXPECT_EQ(symbol_name(e.args[2].data2), c.word);
            EXPECT_EQ(type_of(&e.args[2]), c.type);
        }
    }
    // A frame whose word holds no callable names no argument.
    Cell plain = W("plain-value");
    Cell one = I(1);
    word_set(&plain, &one);
    stack::push_native_frame(&plain);
    EXPECT_EQ(symbol_name(call_argument_word(0).data2), "<anon>");
}

} // namespace
