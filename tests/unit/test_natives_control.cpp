// The control natives: conditionals, switch and case, do, get, set and the
// function makers, run as Kem source.
#include <vector>
#include "eval_support.h"
#include "runtime/datatypes/block.h"
#include "runtime/interpreter/natives.h"

using namespace kem;
using namespace kem::test;

// none and false are the only false values; an unset condition is true for
// if, unless, any and all, and an error for either and case.
TEST(ControlNatives, Truthiness) {
    expect_runs({
        {"if true [1]", "1"},
        {"if false [1]", "none"},
        {"if none [1]", "none"},
        {"if 0 [1]", "1"},
        {"if \"\" [1]", "1"},
        {"if [] [1]", "1"},
        {"if () [1]", "1"},
        {"if true []", "unset"},
        {"unless false [1]", "1"},
        {"unless none [1]", "1"},
        {"unless 0 [1]", "none"},
        {"unless () [1]", "none"},
        {"either true [1] [2]", "1"},
        {"either none [1] [2]", "2"},
        {"either 0 [1] [2]", "1"},
        {"either () [1] [2]", "error script/no-return"},
        {"any [none false 3 4]", "3"},
        {"any [none false]", "none"},
        {"any []", "none"},
        {"any [() 1]", "unset"},
        {"all [1 2 3]", "3"},
        {"all [1 none 3]", "none"},
        {"all [1 false]", "none"},
        {"all []", "none"},
        {"all [1 ()]", "unset"},
        {"case [() [1]]", "error script/no-return"},
    });
}

// The block of a conditional runs only when chosen, and any and all stop
// evaluating at the value that decides.
TEST(ControlNatives, OnlyTheChosenCodeRuns) {
    expect_runs({
        {"x: 0 if false [x: 1] x", "0"},
        {"x: 0 either false [x: 1] [x: 2] x", "2"},
        {"x: 0 any [1 x: 5] x", "0"},
        {"x: 0 all [none x: 5] x", "0"},
        {"x: 0 all [x: x + 1 x: x + 1] x", "2"},
        {"x: 0 any [x: x + 1 x: 9] x", "1"},
        {"any [1 + 2 * 3 none]", "9"},
        {"b: next [10 20] any b", "20"},
    });
}

TEST(ControlNatives, Switch) {
    expect_runs({
        {"switch 2 [1 [\"one\"] 2 [\"two\"]]", "\"two\""},
        {"switch 3 [1 [\"one\"] 2 [\"two\"]]", "none"},
        {"switch/default 3 [1 [\"one\"]] [\"other\"]", "\"other\""},
        // Several values may share the block that follows them.
        {"switch 'b [a b c [\"abc\"] d [\"d\"]]", "\"abc\""},
        {"switch \"B\" [\"a\" [1] \"b\" [2]]", "2"},
        // Only values of the same datatype match.
        {"switch 1 [1.0 [\"float\"] 1 [\"integer\"]]", "\"integer\""},
        // A block never matches; a match followed by no block gives none.
        {"switch [1] [[1] [\"block\"]]", "none"},
        {"switch/default 1 [0 [\"zero\"] 1] [\"default\"]", "none"},
        {"switch 1 next [1 [\"skipped\"] 1 [\"found\"]]", "\"found\""},
        {"x: 0 switch 1 [1 [x: x + 10] 2 [x: x + 100]] x", "10"},
    });
}

// case evaluates the block (or the expression) after the first true
// condition; /all goes on, and its result follows the last condition tested.
TEST(ControlNatives, Case) {
    expect_runs({
        {"case [false [1] true [2] true [3]]", "2"},
        {"case [false [1] none [2]]", "none"},
        {"case []", "none"},
        {"case [0 [\"zero is true\"]]", "\"zero is true\""},
        {"case [false 1 true 2 + 2]", "4"},
        {"case [true 1 + 1]", "2"},
        {"case/all [true [1] true [2]]", "2"},
        {"case/all [true [1] false [2]]", "none"},
        {"x: 0 case/all [true [x: x + 1] false [x: 100] true [x: x + 10]] x", "11"},
        {"x: 0 case [true [x: 1] true [x: 2]] x", "1"},
        {"case [false]", "error script/need-value"},
        {"case [false [1] true]", "error script/need-value"},
    });
}

TEST(ControlNatives, Do) {
    expect_runs({
        {"do [1 + 2]", "3"},
        {"do []", "unset"},
        {"do next [1 2]", "2"},
        {"do pick [(3 * 3)] 1", "9"},
        {"do \"1 + 2 * 3\"", "9"},
        {"do 5", "5"},
        {"do 'none", "none"},
        // A function value is given back, a word holding one is called.
        {"f: func [x] [x + 1] do :f", "func [x][x + 1]"},
        {"f: does [42] do 'f", "42"},
        {"f: func [x] [x] do 'f", "error script/no-arg"},
        {"b: [a 1 c 2] do 'b/c", "2"},
        {"do \"1 +\"", "error script/no-arg"},
        {"do %no-such-script.kem", "error access/cannot-open"},
        {"do/expand [#if false [0] 1]", "1"},
    });
}

// do/next runs one expression and sets the word to the code after it.
TEST(ControlNatives, DoNext) {
    expect_runs({
        {"b: [1 + 2 10 * 10] do/next b 'p", "3"},
        {"b: [1 + 2 10 * 10] do/next b 'p p", "[10 * 10]"},
        {"b: [1 + 2 10 * 10] do/next b 'p do/next p 'p", "100"},
        {"b: [1 + 2 10 * 10] do/next b 'p do/next p 'p tail? p", "true"},
        {"p: tail [1 2] do/next p 'q", "unset"},
        {"p: tail [1 2] do/next p 'q index? q", "3"},
        {"do/next pick [(1 2)] 1 'p p", "(2)"},
        {"do/next \"5 6\" 'p p", "[6]"},
    });
}

TEST(ControlNatives, Get) {
    expect_runs({
        {"x: 5 get 'x", "5"},
        {"x: [1 2] get 'x", "[1 2]"},
        {"get 'no-value-here", "error script/no-value"},
        {"get/any 'no-value-here", "unset"},
        {"b: [a 1 c [d 2]] get 'b/c/d", "2"},
        {"f: does [1] get 'f", "func [][1]"},
    });
}

TEST(ControlNatives, Set) {
    expect_runs({
        {"set 'x 5", "5"},
        {"set 'x 5 x", "5"},
        {"set pick [x:] 1 6 x", "6"},
        {"set 'x ()", "error script/need-value"},
        {"x: 1 set/any 'x () get/any 'x", "unset"},
        {"set [a b] [1 2]", "[1 2]"},
        {"set [a b] [1 2] b", "2"},
        {"set [a b c] [1 2] c", "none"},
        {"set [a b] 7 a + b", "14"},
        {"set/only [a b] [1 2] b", "[1 2]"},
        {"set next [a b] [8 9] b", "8"},
        {"b: 1 set/some [a b] append append [] none 2 b", "2"},
        {"b: 1 set/some [a b] append append [] 2 none b", "1"},
        {"a: b: 1 set/some [a b] none a", "1"},
        {"set [a 1] [1 2]", "error script/invalid-arg"},
        {"set [a 1] 5", "error script/invalid-arg"},
        // The words are checked before any is set.
        {"a: 0 set [a 1] [1 2] a", "error script/invalid-arg"},
        {"b: [a 1 c 2] set 'b/c 5 b", "[a 1 c 5]"},
        {"b: [a 1 c 2] set 'b/c 5", "5"},
    });
}

// A word whose function is not running has no value to read or write.
TEST(ControlNatives, WordsOfAFunctionThatIsNotRunning) {
    expect_runs({
        {"f: func [a] ['a] w: f 1 get w", "error script/not-in-context"},
        {"f: func [a] ['a] w: f 1 set w 5", "error script/not-defined"},
        {"f: func [a] ['a] w: f 1 do w", "error script/not-in-context"},
        {"f: func [a] ['a] w: f 1 do/next [1 2] w", "error script/not-in-context"},
    });
}

TEST(ControlNatives, FunctionCalls) {
    expect_runs({
        {"f: func [a b] [a - b] f 10 3", "7"},
        {"f: func [a [integer!]] [a] f \"x\"", "error script/expect-arg"},
        {"f: func [a] [a] f", "error script/no-arg"},
        // Refinements switch their arguments on; unused ones are none.
        {"f: func [a /twice /add b] [a: either twice [a * 2] [a] either add [a + b] [a]] f 5", "5"},
        {"f: func [a /twice /add b] [a: either twice [a * 2] [a] either add [a + b] [a]] f/twice 5", "10"},
        {"f: func [a /twice /add b] [a: either twice [a * 2] [a] either add [a + b] [a]] f/add/twice 5 1", "11"},
        {"f: func [/add b] [b] f", "none"},
        {"f: func [a /local l] [l] f 1", "none"},
        {"f: func [] [] f", "unset"},
        // Recursion: each call has its own arguments and locals.
        {"fact: func [n] [switch/default n [0 [1]] [n * fact n - 1]] fact 10", "3628800"},
        {"f: func [n /local x] [x: n * 10 switch/default n [0 [0]] [(f n - 1) + x]] f 4", "100"},
        // The caller's words keep their values.
        {"n: 7 f: func [n] [n] f 1 n", "7"},
    });
}

TEST(ControlNatives, FunctionMakers) {
    expect_runs({
        {"func [x] [x + 1]", "func [x][x + 1]"},
        {"f: func next [junk a] [a] f 5", "5"},
        {"f: func [] next [1 2] f", "2"},
        // The body is copied: changing the block afterwards changes nothing.
        {"b: [1] f: func [] b append b 2 f", "1"},
        {"func [a \"doc\" [integer!]] []", "error script/bad-func-def"},
        {"func [a a] []", "error script/dup-vars"},
        {"func [a [no-such-type]] []", "error script/no-value"},
        {"f: does [1 + 1] f", "2"},
        {"does [1]", "func [][1]"},
        {"x: 1 f: has [x] [x: 5 x] f", "5"},
        {"x: 1 f: has [x] [x: 5] f x", "1"},
        {"has [a b] [a]", "func [/local a b][a]"},
        {"has [a 1] []", "error script/bad-func-def"},
        // function makes the body's set-words local, except /extern ones.
        {"y: 1 f: function [] [y: 10 y] f", "10"},
        {"y: 1 f: function [] [y: 10] f y", "1"},
        {"y: 1 f: function [/extern y] [y: 10] f y", "10"},
        {"function [a] [b: a [c: 1]]", "func [a /local b c][b: a [c: 1]]"},
        {"s: [a] function s [b: 1] s", "[a]"},
    });
}
