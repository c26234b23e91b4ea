// The loop natives: passes, results, series stepping and the errors they raise.
#include "eval_support.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/natives.h"

using namespace kem;
using namespace kem::test;

TEST(LoopNatives, CountedLoops) {
    const Case cases[] = {
        {"n: 0 loop 3 [n: n + 1] n", "3"},
        {"loop 3 [5]", "5"},
        {"loop 1 []", "unset"},
        {"n: 0 loop 2.9 [n: n + 1] n", "2"},
        {"n: 0 loop 0 [n: n + 1]", "none"},
        {"n: 0 loop 0 [n: n + 1] n", "0"},
        {"n: 0 loop -2.5 [n: n + 1] n", "0"},
        {"loop -1 [1]", "none"},
        {"r: [] repeat i 3 [append r i] r", "[1 2 3]"},
        {"repeat i 3 [i * 10]", "30"},
        {"repeat i 0 [x: 1]", "none"},
        {"x: 0 repeat i -4 [x: 1] x", "0"},
        {"r: [] repeat i 2.7 [append r i] r", "[1 2]"},
        {"repeat i 3 [] i", "3"},
        {"r: [] repeat i 2 [repeat j 2 [append r i * 10 + j]] r", "[11 12 21 22]"},
        // The count goes on from its own counter, whatever the body stores
        // in the word.
        {"repeat i 3 [i: \"x\"]", "\"x\""},
        {"r: [] repeat i 3 [append r i i: \"x\"] r", "[1 2 3]"},
        {"repeat i 3 [i: \"x\"] i", "\"x\""},
        {"r: [] repeat i 3 [append r i i: 100] r", "[1 2 3]"},
        {"repeat i 2 [i: [a b]] i", "[a b]"},
    };
    expect_runs(cases);
}

TEST(LoopNatives, ConditionalLoops) {
    const Case cases[] = {
        {"b: [1 2 3] while [pick b 1] [b: next b] index? b", "4"},
        {"b: [1 2 3] while [pick b 1] [b: next b]", "unset"},
        {"b: [] while [pick b 1] [x: 1]", "unset"},
        {"while [] [1]", "error script/no-return"},
        {"until [true]", "true"},
        {"b: [1 2 3] until [b: next b tail? b] index? b", "4"},
        // A truthy body value ends the loop and is the result.
        {"b: append append append [] none false 7 n: 0 until [n: n + 1 pick b n]", "7"},
        {"b: append append append [] none false 7 n: 0 until [n: n + 1 pick b n] n", "3"},
        // An error inside the body is not the loop's to catch.
        {"b: [1] forever [b: next b add pick b 1 0]", "error script/expect-arg"},
    };
    expect_runs(cases);
}

TEST(LoopNatives, Foreach) {
    const Case cases[] = {
        {"r: [] foreach x [1 2 3] [append r x * 10] r", "[10 20 30]"},
        {"foreach x [1 2] [x * 2]", "4"},
        {"foreach x [] [1]", "unset"},
        {"foreach x [1 2] []", "unset"},
        {"r: [] foreach x next [1 2 3] [append r x] r", "[2 3]"},
        {"b: [1 2] foreach x b [b: 5] b", "5"},
        {"b: [1 2] foreach x b [] index? b", "1"},
        {"r: [] foreach x [a (b) \"c\"] [append/only r x] r", "[a (b) \"c\"]"},
        {"r: [] foreach c \"ab\" [append r c] r", "[#\"a\" #\"b\"]"},
        {"r: [] foreach c #{0102} [append r c] r", "[1 2]"},
        {"r: [] foreach x pick [(1 2)] 1 [append r x] r", "[1 2]"},
        // Several words: the values past the tail are none.
        {"r: [] foreach [a b] [1 2 3 4] [append r b append r a] r", "[2 1 4 3]"},
        {"r: [] foreach [a b] [1 2 3] [append r a append r b] r", "[1 2 3 none]"},
        {"r: [] foreach [a b c] \"abcd\" [append r c] r", "[#\"c\" none]"},
        {"r: [] foreach [a] [1 2] [append r a] r", "[1 2]"},
        {"r: [] foreach [k v] make map! [a 1 b 2] [append r k append r v] r", "[a 1 b 2]"},
        {"m: make map! [a 1] r: [] foreach [k v] m [append r k] foreach [k v] m [append r v] r", "[a 1]"},
        // A body that changes the series it walks does not take the loop
        // past the tail.
        {"b: [1 2 3] r: [] foreach x b [append r x clear b] r", "[1]"},
        {"b: [1 2 3] r: [] foreach x b [append r x remove b] r", "[1 3]"},
    };
    expect_runs(cases);
}

TEST(LoopNatives, ForeachErrors) {
    const Case cases[] = {
        {"foreach [] [1 2] [1]", "error script/invalid-arg"},
        {"foreach x make map! [a 1] [1]", "error script/invalid-arg"},
        {"foreach [k v w] make map! [a 1] [1]", "error script/invalid-arg"},
        {"foreach [a 1] [1 2] [1]", "error script/invalid-arg"},
        // Every item of the words block is a word before anything is set,
        // whatever the series.
        {"foreach [a \"b\"] \"xy\" [1]", "error script/invalid-arg"},
        {"foreach x 5 [1]", "error script/expect-arg"},
        {"foreach x [1 2] 5", "error script/expect-arg"},
    };
    expect_runs(cases);
}

TEST(LoopNatives, Forall) {
    const Case cases[] = {
        {"b: [1 2 3] r: [] forall b [append r pick b 1] r", "[1 2 3]"},
        {"b: [1 2 3] forall b [length? b]", "1"},
        // A full run leaves the word at the series' start.
        {"b: next [1 2 3] forall b [] index? b", "2"},
        {"b: [] forall b [1]", "unset"},
        {"s: \"abc\" r: [] forall s [append r length? s] r", "[3 2 1]"},
        // The body may move the word within the same series.
        {"b: [1 2 3 4] r: [] forall b [append r pick b 1 b: next b] r", "[1 3]"},
        {"b: [1 2 3] forall b [b: tail b] index? b", "1"},
        {"b: [1 2 3] forall b [clear b] b", "[]"},
        {"x: 5 forall x [1]", "error script/expect-arg"},
        {"forall undefined-word [1]", "error script/expect-arg"},
        {"b: [1 2] forall b [b: 5]", "error script/bad-loop-series"},
        {"b: [1 2] forall b [b: [1 2]]", "error script/bad-loop-series"},
    };
    expect_runs(cases);
}

TEST(LoopNatives, RemoveEach) {
    const Case cases[] = {
        {"remove-each x [1 2 3 4] [even? x]", "[1 3]"},
        {"b: [1 2 3 4] remove-each x b [even? x] b", "[1 3]"},
        {"b: [1 2 3 4] remove-each x next b [even? x]", "[3]"},
        {"b: [1 2 3 4] remove-each x next b [even? x] b", "[1 3]"},
        {"remove-each x [] [true]", "[]"},
        {"remove-each x [1 2] [false]", "[1 2]"},
        {"remove-each x [1 2] [none]", "[1 2]"},
        {"remove-each [a b] [1 2 3 4 5 6] [even? b]", "[]"},
        {"remove-each [a b] [1 2 4 5 6] [even? a]", "[1 2]"},
        {"remove-each c \"abcb\" [find \"b\" c]", "\"ac\""},
        {"remove-each [a b] \"abcd\" [find \"c\" a]", "\"ab\""},
        {"remove-each x #{010203} [even? x]", "#{0103}"},
        // Removals stay inside the series whatever the body does to it.
        {"b: [1 2 3] remove-each x b [clear b true]", "[]"},
        {"b: [1 2 3 4] remove-each x b [remove b true]", "[]"},
        {"remove-each [a 1] [1 2] [true]", "error script/invalid-arg"},
        {"remove-each x 5 [true]", "error script/expect-arg"},
    };
    expect_runs(cases);
}

TEST(LoopNatives, BreakAndContinue) {
    const Case cases[] = {
        {"loop 5 [break]", "unset"},
        {"loop 5 [break/return 7]", "7"},
        {"n: 0 loop 5 [n: n + 1 if n = 3 [break]] n", "3"},
        {"r: [] repeat i 4 [if even? i [continue] append r i] r", "[1 3]"},
        {"repeat i 3 [if i = 3 [continue] i]", "unset"},
        {"repeat i 5 [if i = 2 [break/return i * 100]]", "200"},
        {"n: 0 forever [n: n + 1 if n = 4 [break/return n]]", "4"},
        {"forever [break]", "unset"},
        {"while [true] [break/return 5]", "unset"},
        {"n: 0 while [n < 5] [n: n + 1 if n = 2 [break]] n", "2"},
        {"n: 0 r: [] while [n < 4] [n: n + 1 if odd? n [continue] append r n] r", "[2 4]"},
        {"while [break] [1]", "error throw/while-cond"},
        {"while [continue] [1]", "error throw/while-cond"},
        {"until [break/return 9]", "9"},
        // continue skips the test: the false body value never ends the loop.
        {"n: 0 until [n: n + 1 if n < 3 [continue] n]", "3"},
        {"foreach x [1 2 3] [if x = 2 [break/return x]]", "2"},
        {"r: [] foreach x [1 2 3] [if x = 2 [continue] append r x] r", "[1 3]"},
        // After break the word stays where it was; a full run resets it.
        {"b: [1 2 3] forall b [if 2 = pick b 1 [break]] index? b", "2"},
        {"b: [1 2 3] forall b [if 2 = pick b 1 [continue]] index? b", "1"},
        {"b: [1 2 3] forall b [if 2 = pick b 1 [break/return 8]]", "8"},
        // continue keeps its pass's values; break keeps everything after it.
        {"remove-each x [1 2 3 4] [if x = 2 [continue] true]", "[2]"},
        {"remove-each x [1 2 3 4] [if x = 3 [break] true]", "[3 4]"},
        {"b: [1 2 3 4] remove-each x next b [if x = 3 [break] true]", "[3 4]"},
        // Nested loops: break leaves the inner one only.
        {"r: [] repeat i 2 [repeat j 3 [if j = 2 [break] append r i * 10 + j]] r", "[11 21]"},
        // Float counts beyond the integer range saturate instead of wrapping.
        {"n: 0 loop 1e10 [n: n + 1 if n = 3 [break]] n", "3"},
        {"repeat i 1e10 [if i = 2 [break/return i]]", "2"},
        {"loop -1e10 [1]", "none"},
        {"break", "error throw/break"},
        {"continue", "error throw/continue"},
    };
    expect_runs(cases);
}

TEST(LoopNatives, ExitsThatPassThrough) {
    const Case cases[] = {
        // return leaves the loop and the function together.
        {"f: func [] [loop 3 [return 5] 6] f", "5"},
        {"f: func [] [repeat i 10 [if i = 4 [return i]] 0] f", "4"},
        {"f: func [] [foreach x [1 2 3] [if x = 2 [return x * 7]]] f", "14"},
        {"f: func [] [while [true] [return 1]] f", "1"},
        {"f: func [b] [forall b [if 3 = pick b 1 [return index? b]]] f [1 2 3 4]", "3"},
        {"f: func [] [forever [exit]] f", "unset"},
        {"f: func [] [remove-each x [1 2] [return 9]] f", "9"},
        {"f: func [] [while [return 2] [1]] f", "2"},
        {"f: func [] [n: 0 forever [n: n + 1 loop 2 [if n = 3 [return n]]]] f", "3"},
        {"catch [loop 3 [throw 4] 5]", "4"},
        {"catch [foreach x [1 2] [until [throw x]]]", "1"},
        // The loop stays usable after an exit passed through it.
        {"f: func [] [loop 2 [return 1]] f f loop 2 [3]", "3"},
    };
    expect_runs(cases);
}

// Every way out of a loop leaves both stacks as a plain expression would.
TEST(LoopNatives, StacksBalancedAfterEveryExit) {
    const char* sources[] = {
        "loop 3 [1]",
        "loop 0 [1]",
        "loop 3 [break]",
        "loop 3 [continue]",
        "repeat i 3 [if i = 2 [break/return i]]",
        "while [true] [break]",
        "n: 0 until [n: n + 1 if n < 3 [continue] true]",
        "foreach [a b] [1 2 3] [continue]",
        "b: [1 2] forall b [break]",
        "remove-each x [1 2 3] [if x = 2 [break] true]",
        "f: func [] [forever [loop 2 [return 1]]] f",
        "catch [repeat i 3 [throw i]]",
    };
    boot_all();
    for (const char* source : sources) {
        stack::init();
        last_throw_code = 0;
        Cell body = *scan_source(source);
        interp::eval_block(&body, false);
        EXPECT_EQ(last_throw_code, 0u) << source;
        EXPECT_EQ(stack::frames_top, stack::frames_bottom) << source;
        EXPECT_EQ(stack::arguments, stack::bottom) << source;
        EXPECT_EQ(stack::top, stack::bottom + 2) << source;
    }
    last_throw_code = 0;
    stack::init();
}
