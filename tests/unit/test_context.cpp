#include <gtest/gtest.h>
#include <functional>
#include <optional>
#include <string>
#include <vector>
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/services/unicode/case.h"
#include "value_support.h"

using namespace kem;
using kem::test::B;
using kem::test::I;
using kem::test::error_of;

namespace {

class Context : public ::testing::Test {
protected:
    void SetUp() override {
        kem::test::words_up();
    }
    void TearDown() override {
        cycle_reset();
        context_on_change = nullptr;
    }
};

uint32_t S(const char* name) { return symbol_make(name); }
Cell W(const char* name, uint8_t type = TYPE_WORD) { return Cell{type, 0, S(name), 0xFFFFFFFF}; }

} // namespace

TEST_F(Context, MakeWithNoWordsHasRoomForOne) {
    NodeId ctx = context_make(0, false, true, 0, CONTEXT_OBJECT);
    EXPECT_EQ(type_of(context_cell(ctx)), TYPE_CONTEXT);
    EXPECT_EQ(context_kind(ctx), uint32_t(CONTEXT_OBJECT));
    EXPECT_TRUE(context_cell(ctx)->header & CONTEXT_MAKER_FLAG);
    EXPECT_EQ(type_of(context_self_cell(ctx)), TYPE_UNSET);
    EXPECT_EQ(context_word_count(ctx), 0u);
    EXPECT_GE(node_buffer(context_cell(ctx)->data2)->size, 16u);
    Cell x = W("mk-x");
    EXPECT_EQ(context_add_word(ctx, &x), 0);
    EXPECT_EQ(type_of(context_value_slot(ctx, 0)), TYPE_UNSET);
}

TEST_F(Context, FindAddSetAndGet) {
    NodeId ctx = context_make(4, false, false, 0, CONTEXT_OBJECT);
    int32_t out = 99;
    EXPECT_EQ(context_find_or_add(ctx, S("fa-alpha"), true, &out), -1);
    EXPECT_EQ(out, 0);
    EXPECT_EQ(context_find_or_add(ctx, S("fa-alpha"), true, &out), 0);
    Cell beta = W("fa-beta"), one = I(1), two = I(2);
    EXPECT_EQ(cell_int(context_add_with_value(ctx, &beta, &one)), 1);
    EXPECT_EQ(cell_int(context_add_with_value(ctx, &beta, &two)), 2);  // same slot, new value
    EXPECT_EQ(context_word_count(ctx), 2u);
    EXPECT_EQ(context_add_if_new(ctx, &beta, &one), nullptr);
    Cell gamma = W("fa-gamma");
    EXPECT_EQ(cell_int(context_add_if_new(ctx, &gamma, &one)), 1);

    // Words are bound to the context with their slot.
    Cell* word = context_word_cell(ctx, 1);
    EXPECT_EQ(word->data1, ctx);
    EXPECT_EQ(word->data2, S("fa-beta"));
    EXPECT_EQ(word->data3, 1u);
    // One value per word.
    EXPECT_EQ(node_buffer(context_cell(ctx)->data2)->used() / 16, context_word_count(ctx));

    // Case: caseless lookups find every spelling, exact ones only their own.
    EXPECT_EQ(context_find_word(ctx, S("FA-BETA"), true), 1);
    EXPECT_EQ(context_find_word(ctx, S("FA-BETA"), false), -1);
    EXPECT_EQ(context_find_word(ctx, S("fa-missing"), true), -1);

    // A word bound to a bigger context reaches no slot past this one's values.
    Cell far{TYPE_WORD, global_context, S("fa-far"), 40};
    EXPECT_EQ(error_of([&] { context_set_in(&far, &one, ctx, false); }), Err::script_not_defined);
    EXPECT_EQ(error_of([&] { word_value_cell_in(&far, ctx); }), Err::script_not_in_context);
    EXPECT_EQ(error_of([&] { word_push_frame_value(ctx, 40); }), Err::script_not_defined);

    // set-in resolves an unresolved word exactly, adding it when absent.
    Cell delta = W("fa-delta"), five = I(5);
    context_set_in(&delta, &five, ctx, false);
    EXPECT_EQ(delta.data3, 3u);
    EXPECT_EQ(cell_int(context_value_slot(ctx, 3)), 5);
}

TEST_F(Context, GlobalSpellingsShareOneSlot) {
    Cell lower = word_load("gs-foo");
    Cell upper = word_load("GS-Foo");
    EXPECT_EQ(lower.data1, global_context);
    EXPECT_EQ(upper.data1, global_context);
    EXPECT_EQ(upper.data3, lower.data3);
    EXPECT_NE(upper.data2, lower.data2);  // each keeps its spelling

    Cell seven = I(7);
    word_set(&upper, &seven);
    EXPECT_EQ(cell_int(word_value_cell(&lower)), 7);

    // The exact path adds the variant as its own word, still on the shared slot.
    uint32_t shout = S("GS-FOO");
    Cell eight = I(8);
    context_set_global(shout, &eight);
    EXPECT_EQ(context_find_word(global_context, shout, false), int32_t(lower.data3));
    EXPECT_EQ(cell_int(word_value_cell(&lower)), 8);
    EXPECT_EQ(cell_int(context_global_value_cell(S("gs-FOO"))), 8);
    EXPECT_EQ(context_add_global(shout).data3, lower.data3);

    EXPECT_EQ(error_of([] { context_global_value_cell(S("gs-never-added")); }), Err::script_no_value);
}

TEST_F(Context, GlobalContextGrowsPastItsFirstSize) {
    const int n = 9000;
    std::vector<Cell> words;
    for (int i = 0; i < n; i++) {
        uint32_t s = S(("gg-" + std::to_string(i)).c_str());
        Cell value = I(i);
        context_set_global(s, &value);
        words.push_back(context_add_global(s));
    }
    EXPECT_GE(context_word_count(global_context), uint32_t(n));
    EXPECT_EQ(node_buffer(context_cell(global_context)->data2)->used() / 16, context_word_count(global_context));
    for (int i = 0; i < n; i++) ASSERT_EQ(cell_int(word_value_cell(&words[i])), i) << i;
}

TEST_F(Context, BindBlockDeep) {
    NodeId ctx = context_make(8, false, false, 0, CONTEXT_OBJECT);
    for (const char* name : {"bb-a", "bb-c", "bb-d", "bb-e", "bb-f", "bb-g", "bb-h", "bb-p"}) {
        Cell w = W(name);
        context_add_word(ctx, &w);
    }
    Cell outside = word_load("bb-outside");
    Cell issue{TYPE_ISSUE, 0, S("bb-a"), 0xFFFFFFFF};
    Cell path = B({W("bb-p"), W("bb-a")});
    set_type(&path, TYPE_PATH);
    Cell paren = B({W("bb-d")});
    set_type(&paren, TYPE_PAREN);
    Cell block = B({W("BB-A"), B({W("bb-c"), paren}), W("bb-e", TYPE_LIT_WORD), W("bb-f", TYPE_SET_WORD),
                    W("bb-g", TYPE_GET_WORD), W("bb-h", TYPE_REFINEMENT), issue, outside, path,
                    Cell{TYPE_WORD, 0, self_symbol, 5}, W("SELF")});
    // The block contains itself: the walk stops there.
    block_append_cell(&block, &block);
    context_bind_block(&block, ctx, true);

    auto at = [](const Cell& blk, uint32_t i) { return *block_rs_abs_at(&blk, i); };
    auto expect_bound = [&](const Cell& w, int32_t slot, const char* what) {
        EXPECT_EQ(w.data1, ctx) << what;
        EXPECT_EQ(int32_t(w.data3), slot) << what;
    };
    expect_bound(at(block, 0), 0, "other spelling");
    Cell inner = at(block, 1);
    expect_bound(at(inner, 0), 1, "nested block");
    expect_bound(at(at(inner, 1), 0), 2, "paren");
    expect_bound(at(block, 2), 3, "lit-word");
    expect_bound(at(block, 3), 4, "set-word");
    expect_bound(at(block, 4), 5, "get-word");
    expect_bound(at(block, 5), 6, "refinement");
    EXPECT_EQ(at(block, 6).data1, 0u) << "issue! stays as it was";
    EXPECT_EQ(at(block, 7).data1, outside.data1) << "not in the context: old binding";
    EXPECT_EQ(at(block, 7).data3, outside.data3);
    expect_bound(at(at(block, 8), 0), 7, "path");
    expect_bound(at(block, 9), -1, "self");
    EXPECT_EQ(at(block, 10).data1, 0u) << "SELF is an ordinary word";
    EXPECT_EQ(cycle_depth(), 0u);

    // Without the self flag, `self` is an ordinary word too.
    Cell plain = B({Cell{TYPE_WORD, 0, self_symbol, 5}});
    context_bind_block(&plain, ctx, false);
    EXPECT_EQ(at(plain, 0).data1, 0u);
}

TEST_F(Context, CollectWordsAndSetWords) {
    Cell spec = B({W("cw-a"), W("cw-b", TYPE_REFINEMENT), W("cw-c", TYPE_SET_WORD), W("cw-d", TYPE_LIT_WORD),
                   W("cw-e", TYPE_GET_WORD), I(1), W("CW-A")});
    NodeId fn = context_collect_words(&spec, true, false, CONTEXT_FUNCTION);
    EXPECT_TRUE(context_values_on_stack(fn));
    EXPECT_FALSE(context_has_values(fn));
    ASSERT_EQ(context_word_count(fn), 4u);
    EXPECT_EQ(context_find_word(fn, S("cw-c"), true), -1);
    EXPECT_EQ(context_find_word(fn, S("cw-e"), true), 3);

    NodeId obj = context_make(2, false, false, 0, CONTEXT_OBJECT);
    Cell body = B({W("cs-x", TYPE_SET_WORD), I(1), W("cs-y"), W("cs-z", TYPE_SET_WORD), W("CS-X", TYPE_SET_WORD)});
    EXPECT_TRUE(context_collect_set_words(obj, &body));
    EXPECT_EQ(context_word_count(obj), 2u);
    EXPECT_FALSE(context_collect_set_words(obj, &body));  // nothing new

    Cell past = body;
    set_series_position(&past, 9);
    EXPECT_FALSE(context_collect_set_words(context_make(1, false, false, 0, CONTEXT_OBJECT), &past));
    EXPECT_EQ(series_position(&past), 5);
}

TEST_F(Context, CloneRebindsTheWordsWithUnsetValues) {
    NodeId ctx = context_make(2, false, true, 0, CONTEXT_OBJECT);
    Cell a = W("cl-a"), one = I(1);
    context_add_with_value(ctx, &a, &one);
    Cell object{TYPE_OBJECT, ctx, 0, 0};
    NodeId copy = context_clone(&object, CONTEXT_OBJECT);
    EXPECT_NE(copy, ctx);
    EXPECT_EQ(object.data1, copy);
    EXPECT_TRUE(context_cell(copy)->header & CONTEXT_MAKER_FLAG);
    EXPECT_EQ(context_word_cell(copy, 0)->data1, copy);
    EXPECT_EQ(context_word_cell(ctx, 0)->data1, ctx);
    EXPECT_EQ(type_of(context_value_slot(copy, 0)), TYPE_UNSET);
    // The copy's table is its own.
    Cell b = W("cl-b");
    context_add_word(copy, &b);
    EXPECT_EQ(context_find_word(ctx, S("cl-b"), true), -1);
}

TEST_F(Context, ValuesOnTheStack) {
    NodeId fn = context_make(2, true, false, 0, CONTEXT_FUNCTION);
    Cell a = W("st-a");
    context_add_word(fn, &a);
    Cell bound = *context_word_cell(fn, 0);
    Cell one = I(1);
    // No call running: nothing to set or read.
    EXPECT_EQ(error_of([&] { context_set_in(&bound, &one, fn, true); }), Err::script_not_defined);
    EXPECT_EQ(error_of([&] { word_value_cell(&bound); }), Err::script_not_in_context);

    // A call whose arguments start at the very bottom of the stack.
    stack::push(&one);
    set_context_values_node(fn, 0);
    EXPECT_EQ(context_values_node(fn), 0u);
    EXPECT_EQ(word_value_cell(&bound), stack::bottom);
    Cell nine = I(9);
    context_set_in(&bound, &nine, fn, true);
    EXPECT_EQ(cell_int(stack::bottom), 9);
    // A symbol lookup through a stack context goes to the global context.
    Cell g = word_load("st-global"), two = I(2);
    word_set(&g, &two);
    EXPECT_EQ(cell_int(context_symbol_value_cell(S("st-global"), fn)), 2);
    // Saving and restoring the field round-trips, "no call" included.
    set_context_values_node(fn, context_values_node(context_make(1, true, false, 0, CONTEXT_FUNCTION)));
    EXPECT_FALSE(context_has_values(fn));
}

TEST_F(Context, ObjectFieldChangeCallsTheHandlerOnce) {
    static int calls;
    static int32_t seen_old, seen_new;
    static Cell* seen_top;
    calls = 0;
    context_on_change = [](Cell*, Cell* word, Cell* old_value, Cell* new_value) {
        calls++;
        seen_old = cell_int(old_value);
        seen_new = cell_int(new_value);
        seen_top = stack::top;
        EXPECT_EQ(word->data2, symbol_make("oc-field"));
    };
    NodeId ctx = context_make(1, false, false, 0, CONTEXT_OBJECT);
    Cell field = W("oc-field"), old_value = I(1), new_value = I(2);
    context_add_with_value(ctx, &field, &old_value);
    *context_self_cell(ctx) = Cell{TYPE_OBJECT, ctx, 0, 1};  // it has change handlers

    Cell* top = stack::top;
    Cell bound = *context_word_cell(ctx, 0);
    Cell* slot = context_set_in(&bound, &new_value, ctx, true);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seen_old, 1);
    EXPECT_EQ(seen_new, 2);
    EXPECT_GT(seen_top, top);
    EXPECT_EQ(stack::top, top);
    EXPECT_EQ(cell_int(slot), 2);
    EXPECT_TRUE(context_word_cell(ctx, 0)->header & WORD_CHANGED);

    Cell three = I(3);
    context_set_in(&bound, &three, ctx, false);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(cell_int(context_value_slot(ctx, 0)), 3);
}
