// The exit natives (break, continue, exit, return, throw, catch) and the
// small natives beside them: value?, case conversion, as-pair and the
// points, extend.
#include "eval_support.h"
#include <vector>
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/natives.h"

using namespace kem;
using namespace kem::test;

TEST(ExitNatives, BreakAndContinue) {
    const Case cases[] = {
        {"loop 3 [break]", "unset"},
        {"loop 3 [break/return 7]", "7"},
        {"x: loop 2 [break/return 4] x + 1", "5"},
        {"n: 0 loop 5 [n: n + 1 if n = 3 [break]] n", "3"},
        {"r: [] repeat i 4 [if i = 2 [continue] append r i] r", "[1 3 4]"},
        {"r: [] foreach x [1 2 3] [if x = 2 [continue] append r x] r", "[1 3]"},
        // Only the innermost loop ends.
        {"r: [] repeat i 2 [loop 5 [append r i break]] r", "[1 2]"},
        // A function called from the loop body breaks the loop.
        {"n: 0 f: does [break] loop 3 [n: n + 1 f] n", "1"},
        {"break", "error throw/break"},
        {"break/return 1", "error throw/break"},
        {"continue", "error throw/continue"},
    };
    expect_runs(cases);
}

TEST(ExitNatives, ReturnAndExit) {
    const Case cases[] = {
        {"f: func [] [return 5 9] f", "5"},
        {"f: func [x] [if x > 0 [return x] 0] reduce [f 2 f -1]", "[2 0]"},
        {"f: func [] [exit 9] f", "unset"},
        // The loop frames in between are passed over.
        {"f: func [] [loop 3 [repeat i 2 [return i * 10]] 9] f", "10"},
        {"f: func [] [return 1] g: func [] [f + 1] g", "2"},
        {"f: func [] [return none] f", "none"},
        {"return 1", "error throw/return"},
        {"exit", "error throw/return"},
        {"loop 2 [return 1]", "error throw/return"},
    };
    expect_runs(cases);
}

TEST(ExitNatives, ThrowAndCatch) {
    const Case cases[] = {
        {"catch [throw 5]", "5"},
        {"catch [throw [1 2] 3]", "[1 2]"},
        {"catch [1 2]", "2"},
        {"catch []", "unset"},
        {"1 + catch [throw 2]", "3"},
        {"catch [loop 5 [throw 6]]", "6"},
        {"f: does [throw 8] catch [f 1]", "8"},
        // A plain catch takes named and unnamed throws alike.
        {"catch [throw/name 5 'a]", "5"},
        {"catch/name [throw/name 5 'a] 'a", "5"},
        {"catch/name [throw/name 5 'A] 'a", "5"},
        {"catch/name [throw/name 5 'b] [a b]", "5"},
        // A throw of another name goes on to an outer catch, past the code
        // that would have used the inner catch's value.
        {"catch [10 + catch/name [throw/name 5 'b] 'a]", "5"},
        {"catch/name [catch/name [throw/name 5 'b] 'a] 'b", "5"},
        {"f: does [catch/name [throw/name 1 'x] 'y] catch/name [f 2] 'x", "1"},
        {"catch [catch/name [throw 3] 'a]", "3"},
        {"catch/name [throw 5] 'a", "error throw/throw"},
        {"catch/name [throw/name 5 'b] 'a", "error throw/throw"},
        {"catch/name [throw/name 5 'b] [a 1]", "error script/invalid-refine-arg"},
        {"throw 1", "error throw/throw"},
        {"throw/name 1 'a", "error throw/throw"},
        {"catch [throw/name 1 \"a\"]", "error script/expect-arg"},
        // Other exits pass through a catch untouched.
        {"loop 3 [catch [break/return 4]]", "4"},
        {"r: [] repeat i 3 [catch [if i = 2 [continue]] append r i] r", "[1 3]"},
        {"f: func [] [catch [return 3] 9] f", "3"},
        {"f: func [] [catch [exit] 9] f", "unset"},
        {"catch [break]", "error throw/break"},
    };
    expect_runs(cases);
}

// Each exit must leave both stacks as its catcher had them: a leak of one
// frame or cell per pass overflows long before 20000 passes.
TEST(ExitNatives, RepeatedExitsKeepTheStacksBalanced) {
    const Case cases[] = {
        {"n: 0 loop 20000 [n: n + catch [throw 1]] n", "20000"},
        {"n: 0 loop 20000 [n: n + catch [catch/name [throw/name 1 'b] 'a]] n", "20000"},
        {"f: func [] [loop 2 [return 1]] n: 0 loop 20000 [n: n + f] n", "20000"},
        {"n: 0 loop 20000 [loop 2 [n: n + 1 break]] n", "20000"},
        {"n: 0 loop 20000 [catch [loop 2 [n: n + 1 break]]] n", "20000"},
    };
    expect_runs(cases);
}

TEST(ExitNatives, ValueQ) {
    const Case cases[] = {
        {"a: none value? 'a", "true"},
        {"a: 1 value? 'a", "true"},
        {"value? 'never-set-anywhere", "false"},
        {"value? 'print", "true"},
        {"value? 1", "error script/expect-arg"},
    };
    expect_runs(cases);
}

TEST(ExitNatives, ChangeCase) {
    const Case cases[] = {
        {"uppercase \"abc\"", "\"ABC\""},
        {"lowercase \"AbC\"", "\"abc\""},
        {"uppercase/part \"abcd\" 2", "\"ABcd\""},
        {"lowercase/part \"ABCD\" 10", "\"abcd\""},
        {"uppercase/part \"abcd\" -1", "\"abcd\""},
        {"s: \"abcd\" uppercase/part s skip s 3", "\"ABCd\""},
        {"uppercase #\"a\"", "#\"A\""},
        {"lowercase #\"Z\"", "#\"z\""},
        // In place, from the position; the result keeps the position.
        {"s: \"abc\" uppercase next s s", "\"aBC\""},
        {"uppercase next \"abc\"", "\"BC\""},
        // A mapping beyond the string's unit widens it.
        {"uppercase \"a\u00ff\"", "\"A\u0178\""},
        {"uppercase/part \"abc\" 1.5", "error script/invalid-refine-arg"},
        {"uppercase/part \"abc\" \"xy\"", "error script/invalid-refine-arg"},
        {"uppercase 1", "error script/expect-arg"},
    };
    expect_runs(cases);
}

TEST(ExitNatives, PairsAndPoints) {
    const Case cases[] = {
        {"as-pair 1 2", "1x2"},
        // Truncation toward zero, not rounding.
        {"as-pair 2.9 -2.9", "2x-2"},
        {"as-pair -2147483648.9 2147483647.5", "-2147483648x2147483647"},
        // Floats whose truncation leaves the 32-bit range are refused, as
        // infinities and NaN are.
        {"as-pair 2147483648.0 0", "error script/invalid-arg"},
        {"as-pair 0 -2147483649.0", "error script/invalid-arg"},
        {"as-pair 1e300 0", "error script/invalid-arg"},
        {"as-pair 1.#INF 0", "error script/invalid-arg"},
        {"as-pair 0 1.#NaN", "error script/invalid-arg"},
        {"as-pair 1 \"2\"", "error script/expect-arg"},
        {"as-point2D 1 2.5", "(1, 2.5)"},
        {"as-point3D 1 -2 3.25", "(1, -2, 3.25)"},
        {"as-point2D 1.#INF 0", "(1.#INF, 0)"},
        {"p: as-point2D 0.1 0 p/x = 0.1", "false"},
        {"as-money 'usd 1", "USD$1.00"},
        {"as-money 'EUR -2.5", "-EUR$2.50"},
        {"as-money 'XYZ 1", "error script/bad-denom"},
        {"as-money 'USD 0.1", "error script/bad-make-arg"},
        {"construct [a: 1]", "make object! [\n    a: 1\n]"},
    };
    expect_runs(cases);
}

TEST(ExitNatives, ExtendMap) {
    const Case cases[] = {
        {"m: make map! [a 1] extend m [b 2] m", "#[\n    a: 1\n    b: 2\n]"},
        {"m: make map! [a 1] extend m [A 5] m", "#[\n    a: 5\n]"},
        {"m: make map! [a 1] extend m make map! [c 3] m/c", "3"},
        {"m: make map! [a 1] extend m [b]", "error script/invalid-arg"},
        {"extend [a 1] [b 2]", "error script/expect-arg"},
    };
    expect_runs(cases);
}
