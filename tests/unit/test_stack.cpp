#include <gtest/gtest.h>
#include "environment/startup.h"
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/stack_words.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

using namespace kem;

namespace {

Cell word_cell(uint32_t sym, NodeId ctx = 0) { return Cell{TYPE_WORD, ctx, sym, 0xFFFFFFFF}; }

class StackTest : public ::testing::Test {
protected:
    void SetUp() override {
        init_runtime();
        stack::init();
    }
    Cell w = word_cell(7);
};

} // namespace

TEST_F(StackTest, EmptyStackTopValueIsBottom) {
    EXPECT_EQ(stack::top_value(), stack::bottom);
    stack::pop(3);
    EXPECT_EQ(stack::top, stack::bottom);
}

TEST_F(StackTest, BalancedCallRestoresPointersAndKeepsResult) {
    Cell one{TYPE_INTEGER, 0, 1, 0};
    stack::push(&one);
    Cell* args_before = stack::arguments;
    stack::push_native_frame(&w);
    EXPECT_EQ(stack::arguments, stack::top);
    Cell* arg = stack::push(&one);
    arg->data2 = 42;
    stack::push(&one);
    stack::pop_frame_keep_result();
    EXPECT_EQ(stack::arguments, args_before);
    EXPECT_EQ(stack::top, arg + 1);
    EXPECT_EQ(cell_int(stack::top - 1), 42);
}

TEST_F(StackTest, PopOfLastFrameEmptiesBothPointers) {
    Cell v{TYPE_INTEGER, 0, 1, 0};
    stack::push(&v);
    stack::push_native_frame(&w);
    stack::push(&v);
    stack::pop_frame();
    EXPECT_EQ(stack::arguments, stack::bottom);
    EXPECT_EQ(stack::top, stack::bottom);
}

TEST_F(StackTest, FrameHeaderCarriesSymbolKindAndFlags) {
    stack::push_interp_native_frame(&w);
    CallFrame* f = stack::top_frame();
    EXPECT_EQ(frame_symbol(f), 7u);
    EXPECT_EQ(frame_kind(f), FRAME_NATIVE);
    EXPECT_TRUE(f->header & FRAME_EVAL_BIT);
    stack::push_loop_frame(&w);
    EXPECT_FALSE(stack::top_frame()->header & FRAME_RETURN_TARGET);
    EXPECT_FALSE(stack::eval_q(nullptr, true));   // only the current call's frame
    EXPECT_TRUE(stack::eval_q(nullptr, false));   // the walk finds the evaluator's frame
    stack::pop_frame();
    stack::pop_frame();
}

TEST_F(StackTest, CallStackHoldsExactlyItsFrames) {
    for (uint32_t i = 0; i < stack::CALL_FRAMES; i++) stack::push_native_frame(&w);
    try {
        stack::push_native_frame(&w);
        FAIL() << "no overflow";
    } catch (const KemError& e) {
        EXPECT_EQ(e.id, Err::internal_stack_overflow);
    }
    EXPECT_EQ(stack::frames_top - stack::frames_bottom, int(stack::CALL_FRAMES));
}

TEST_F(StackTest, DataStackNeverUsesItsLastCell) {
    Cell v{TYPE_NONE, 0, 0, 0};
    uint32_t capacity = uint32_t(stack::limit - stack::bottom);
    for (uint32_t i = 0; i + 1 < capacity; i++) stack::push(&v);
    EXPECT_THROW(stack::push(&v), KemError);
    // The top was lowered so the error can be built.
    EXPECT_EQ(stack::top, stack::limit - 1 - 5);
}

TEST_F(StackTest, BreakUnwindsToTheLoopFrame) {
    Cell v{TYPE_INTEGER, 0, 5, 0};
    stack::push_loop_frame(&w);
    Cell* loop_base = stack::arguments;
    stack::push_native_frame(&w);   // a native inside the loop body
    stack::push_native_frame(&w);   // break's own frame
    stack::push(&v);
    stack::break_loop(true, false);
    EXPECT_EQ(last_throw_code, THROW_CODE_BREAK);
    EXPECT_EQ(stack::frames_top - stack::frames_bottom, 1);
    EXPECT_EQ(frame_kind(stack::top_frame()), FRAME_LOOP);
    EXPECT_EQ(stack::arguments, loop_base);
    EXPECT_EQ(cell_int(loop_base), 5);
    last_throw_code = 0;
}

TEST_F(StackTest, BreakAcrossTryAllIsAnError) {
    stack::push_loop_frame(&w);
    stack::push_try_barrier_frame(&w);
    stack::push_native_frame(&w);
    CallFrame* frames = stack::frames_top;
    Cell* top = stack::top;
    try {
        stack::break_loop(false, false);
        FAIL();
    } catch (const KemError& e) {
        EXPECT_EQ(e.id, Err::throw__break);
    }
    EXPECT_EQ(stack::frames_top, frames);
    EXPECT_EQ(stack::top, top);
    try {
        stack::break_loop(false, true);
        FAIL();
    } catch (const KemError& e) {
        EXPECT_EQ(e.id, Err::throw__continue);
    }
}

TEST_F(StackTest, ReturnPassesOverLoopsToTheReturnTarget) {
    Cell v{TYPE_INTEGER, 0, 9, 0};
    stack::push_native_frame(&w);          // the function's frame
    Cell* fn_base = stack::arguments;
    stack::set_return_target(true);
    stack::push_loop_frame(&w);
    stack::push_native_frame(&w);          // return's own frame
    stack::push(&v);
    stack::unwind_return(true, false);
    EXPECT_EQ(last_throw_code, THROW_CODE_RETURN);
    EXPECT_EQ(stack::frames_top - stack::frames_bottom, 1);
    EXPECT_EQ(stack::arguments, fn_base);
    EXPECT_EQ(cell_int(fn_base), 9);
    last_throw_code = 0;
}

TEST_F(StackTest, ExitWithoutTargetIsAnError) {
    stack::push_native_frame(&w);
    EXPECT_THROW(stack::unwind_return(false, false), KemError);
}

TEST_F(StackTest, ThrowReachesTheCatchWithValueAndName) {
    Cell v{TYPE_INTEGER, 0, 3, 0};
    Cell name{TYPE_WORD, 0, 11, 0};
    stack::push_catch_frame(&w);
    Cell* catch_base = stack::arguments;
    stack::push_native_frame(&w);   // throw's frame
    stack::push(&v);
    stack::push(&name);
    stack::throw_value(THROW_CODE_THROW);
    EXPECT_EQ(last_throw_code, THROW_CODE_THROW);
    EXPECT_EQ(stack::arguments, catch_base);
    EXPECT_EQ(stack::top, catch_base + 2);
    EXPECT_EQ(cell_int(catch_base), 3);
    EXPECT_EQ(catch_base[1].data2, 11u);
    // The caught throw leaves no origin behind for a later error report.
    EXPECT_EQ(stack::throw_origin, nullptr);
    last_throw_code = 0;
}

TEST_F(StackTest, UncaughtThrowNamesTheThrower) {
    Cell v{TYPE_INTEGER, 0, 3, 0};
    Cell thrower = word_cell(21);
    stack::push_native_frame(&w);
    stack::push_native_frame(&thrower);
    stack::push(&v);
    EXPECT_THROW(stack::throw_value(THROW_CODE_THROW), KemError);
    EXPECT_EQ(stack::caller_word().data2, 21u);
    EXPECT_EQ(stack::throw_origin, nullptr);
}

TEST_F(StackTest, ThrowWithoutCatchNamesTheValue) {
    Cell v{TYPE_INTEGER, 0, 3, 0};
    stack::push_native_frame(&w);
    stack::push(&v);
    try {
        stack::throw_value(THROW_CODE_THROW);
        FAIL();
    } catch (const KemError& e) {
        EXPECT_EQ(e.id, Err::throw__throw);
        EXPECT_EQ(e.argc, 1);
        EXPECT_EQ(cell_int(&e.args[0]), 3);
    }
}

TEST_F(StackTest, PopFramesToKindStopsAtTryAll) {
    stack::push_try_frame(&w);
    stack::push_try_barrier_frame(&w);
    CallFrame* barrier = stack::frames_top - 1;
    stack::push_native_frame(&w);
    stack::push_native_frame(&w);
    stack::pop_frames_to_kind(FRAME_TRY, true);
    EXPECT_EQ(stack::frames_top, barrier + 1);
}

TEST(StackReports, CollectCallsAndFrameWords) {
    init_runtime();
    stack::init();
    Cell outer = word_load("outer-call");
    Cell inner = word_load("inner-call");
    stack::push_native_frame(&outer);            // the bottom frame is never listed by collect-calls
    stack::push_native_frame(&outer);
    stack::push_frame(&rt_words.anon_frame, FRAME_TOP_NATIVE);  // skipped
    stack::push_native_frame(&inner);
    Cell blk;
    block_make_at(&blk, 8);
    stack::collect_calls(&blk);
    ASSERT_EQ(block_full_length(&blk), 4u);
    EXPECT_EQ(symbol_name(block_rs_abs_at(&blk, 0)->data2), "inner-call");
    EXPECT_EQ(type_of(block_rs_abs_at(&blk, 1)), TYPE_INTEGER);
    EXPECT_EQ(symbol_name(block_rs_abs_at(&blk, 2)->data2), "outer-call");
    EXPECT_EQ(symbol_name(stack::caller_word().data2), "inner-call");

    Cell words;
    block_make_at(&words, 8);
    stack::frame_words(2, &words, stack::frames_top);
    EXPECT_EQ(block_full_length(&words), 3u);   // bottom frame included, anon skipped
    Cell none;
    block_make_at(&none, 8);
    stack::frame_words(1, &none, stack::frames_top);
    EXPECT_EQ(block_full_length(&none), 0u);    // level 1 lists only words whose value is a function
    stack::init();
}
