#include "eval_support.h"
#include <cstring>
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/symbol.h"

using namespace kem;
using namespace kem::test;

TEST(Interpreter, Expressions) {
    struct { const char* source; const char* result; } cases[] = {
        {"1 + 2 * 3", "9"},
        {"add 1 2", "3"},
        {"a: 5 a", "5"},
        {"a: b: 7 b", "7"},
        {"x: [1 2 3] length? x", "3"},
        {"append [1 2] 3", "[1 2 3]"},
        {"b: [a b c] b/2", "b"},
        {"b: [a b c] b/2: 'z b", "[a z c]"},
        {"'word", "word"},
        {"(1 + 1) * 5", "10"},
        {"[]", "[]"},
        {"", "unset"},
        {"f: 'x f", "x"},
        {"10 - 2 - 3", "5"},
        {"mold 1 + 2", "\"3\""},
    };
    for (auto& c : cases) EXPECT_EQ(run_kem(c.source), c.result) << c.source;
}

TEST(Interpreter, Errors) {
    struct { const char* source; const char* error; } cases[] = {
        {"none-such", "error script/no-value"},
        {"a:", "error script/need-value"},
        {"+ 1 2", "error script/no-op-arg"},
        {"add 1", "error script/no-arg"},
        {"add 1 \"x\"", "error script/expect-arg"},
        {"b: [1] b/(())", "error script/invalid-path"},
        {"append/only/only [] 1", "error script/dup-refine"},
        {"append/nothing [] 1", "error script/no-refine"},
        {"u: ()", "error script/need-value"},
    };
    for (auto& c : cases) EXPECT_EQ(run_kem(c.source), c.error) << c.source;
}

TEST(Interpreter, RefinementsInAnyOrderLandInSpecOrder) {
    EXPECT_EQ(run_kem("append/dup/only [] [a] 2"), "[[a] [a]]");
    EXPECT_EQ(run_kem("append/only/dup [] [a] 2"), "[[a] [a]]");
}

TEST(Interpreter, SystemFunctionsRunAsOneCall) {
    // An error inside a function that is part of the system is placed at the
    // call in the caller's code, and its frame carries no evaluator mark.
    boot_all();
    function_set_system_mode(true);
    run_kem("sys-f: func [x] [x + none-such]");
    function_set_system_mode(false);
    Cell* fn = context_global_value_cell(symbol_make("sys-f"));
    ASSERT_EQ(type_of(fn), TYPE_FUNCTION);
    ASSERT_TRUE(function_is_system(fn));
    Cell caller{};
    {
        boot_all();
        stack::init();
        Cell* code = stack::push_slot();
        const char* text = "1 sys-f 2";
        lexer_scan(code, reinterpret_cast<const uint8_t*>(text), 9, false, true, true, true, nullptr, nullptr, nullptr,
                   nullptr);
        caller = *code;
        EXPECT_THROW(interp::eval_block(&caller, false), KemError);
    }
    EXPECT_EQ(interp::position.data2, caller.data2);   // the caller's block
    EXPECT_EQ(interp::position.data1, 1u);              // at the call
    stack::init();
    // Evaluation may have moved the global values: look the function up again.
    fn = context_global_value_cell(symbol_make("sys-f"));
    function_set_system(fn, false);
    EXPECT_EQ(run_kem("sys-f 1"), "error script/no-value");
}

TEST(Interpreter, ABlockTheSystemRunsForTheCallerIsPlacedInItself) {
    // The script's own block that a function of the system evaluates (as the
    // console does with a line) is where its error is placed.
    boot_all();
    function_set_system_mode(true);
    run_kem("sys-do: func [b] [do b]");
    function_set_system_mode(false);
    stack::init();
    Cell* code = stack::push_slot();
    const char* text = "sys-do [1 2 + none-such]";
    lexer_scan(code, reinterpret_cast<const uint8_t*>(text), uint32_t(std::strlen(text)), false, true, true, true,
               nullptr, nullptr, nullptr, nullptr);
    const Cell caller = *code;
    const Cell inner = *block_rs_abs_at(&caller, 1);
    EXPECT_THROW(interp::eval_block(&caller, false), KemError);
    EXPECT_EQ(interp::position.data2, inner.data2);
    EXPECT_EQ(interp::position.data1, 1u);
    stack::init();
}
