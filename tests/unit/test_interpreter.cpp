#include "eval_support.h"

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
