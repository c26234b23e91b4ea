#include <string>
#include "eval_support.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/natives.h"
#include "runtime/services/output.h"

using namespace kem;
using namespace kem::test;

namespace kem::natives {
extern uint32_t last_lf_q;
}

namespace {

// Everything print and prin hand to the output writers, line ends as "\n".
std::string captured;
void capture_writer(const Cell* string, bool new_line) {
    captured += utf8_of(*string);
    if (new_line) captured += "\n";
}

struct Output {
    std::string result;
    std::string text;
};

Output run_printing(const std::string& source) {
    boot_all();
    captured.clear();
    output_hook_remove(print_string_by_unit, nullptr);
    output_hook_add(capture_writer, nullptr);
    Output out;
    out.result = run_kem(source);
    output_hook_remove(capture_writer, nullptr);
    output_hook_add(print_string_by_unit, nullptr);
    out.text = captured;
    return out;
}

} // namespace

TEST(NativesValue, Comparisons) {
    expect_runs({
        {"equal? 1 1.0", "true"},
        {"1 = 1.0", "true"},
        {"strict-equal? 1 1.0", "false"},
        {"\"abc\" = \"ABC\"", "true"},
        {"\"abc\" == \"ABC\"", "false"},
        {"not-equal? 1 2", "true"},
        {"1 <> 1", "false"},
        {"lesser? 1 2", "true"},
        {"2 < 1", "false"},
        {"greater? 2 1", "true"},
        {"lesser-or-equal? 2 2", "true"},
        {"greater-or-equal? 1 2", "false"},
        {"3 >= 3.0", "true"},
        {"\"a\" < \"b\"", "true"},
        // Values that cannot be compared are unequal, and have no order.
        {"equal? 1 \"1\"", "false"},
        {"not-equal? 1 \"1\"", "true"},
        {"strict-equal? [a] 'a", "false"},
        {"lesser? 1 \"1\"", "error script/invalid-compare"},
        {"greater? [a] 1", "error script/invalid-compare"},
        {"1 <= none", "error script/invalid-compare"},
        {"greater-or-equal? 'a 1", "error script/invalid-compare"},
    });
}

TEST(NativesValue, SameNotAndTypeQ) {
    expect_runs({
        {"same? \"a\" \"a\"", "false"},
        {"s: \"a\" same? s s", "true"},
        {"s: \"ab\" same? s next s", "false"},
        {"s: \"ab\" same? next s next s", "true"},
        {"b: [1] c: b same? b c", "true"},
        {"same? [] []", "false"},
        {"same? none none", "true"},
        {"same? 1.0 1.0", "true"},
        {"same? 0.0 -0.0", "false"},
        {"same? 1 1.0", "false"},
        {"same? 1 1", "true"},
        {"same? #\"a\" #\"a\"", "true"},
        {"same? 1.2.3 1.2.3", "true"},
        {"same? 1.2.3 1.2.3.0", "false"},
        {"same? 1x2 1x2", "true"},
        {"same? 'a 'a", "true"},
        {"same? integer! integer!", "true"},
        {"same? true true", "true"},
        {"same? :append :append", "true"},
        {"same? :append :insert", "false"},
        {"same? :+ :+", "true"},
        {"1 =? 1", "true"},
        {"not none", "true"},
        {"not false", "true"},
        {"not true", "false"},
        {"not 0", "false"},
        {"not []", "false"},
        {"type? 1", "integer!"},
        {"type? \"s\"", "string!"},
        {"type? type? 1", "datatype!"},
        {"type? :append", "action!"},
        {"type?/word 1", "integer!"},
        {"type? type?/word 1", "word!"},
        {"type?/word none", "none!"},
    });
}

TEST(NativesValue, Reduce) {
    expect_runs({
        {"reduce [1 + 2 \"x\" 3 * 2]", "[3 \"x\" 6]"},
        {"reduce []", "[]"},
        {"x: 5 reduce [x 'x]", "[5 x]"},
        {"b: [1 2 3] reduce next b", "[2 3]"},
        // A non-block is evaluated as one expression; a callable is not called.
        {"reduce 7", "7"},
        {"x: 5 reduce 'x", "5"},
        {"type? reduce :append", "action!"},
        {"type? reduce :equal?", "native!"},
        // Results lose their new-line markers.
        {"reduce [\n1\n2]", "[1 2]"},
        // /into at the tail appends and keeps the position.
        {"reduce/into [1 + 2] []", "[3]"},
        {"b: [0] reduce/into [1 + 2 4] tail b b", "[0 3 4]"},
        {"b: [0] reduce/into [1 + 2 4] tail b", "[3 4]"},
        // /into elsewhere inserts and ends just past the new values.
        {"b: [a b] reduce/into [1 + 2] b", "[a b]"},
        {"b: [a b] reduce/into [1 + 2] b b", "[3 a b]"},
        {"b: [a b] reduce/into [1 [2]] next b b", "[a 1 [2] b]"},
        {"b: [] reduce/into 5 b b", "[5]"},
        {"b: [a] reduce/into [1 2] b index? b", "1"},
        {"reduce [1 +]", "error script/no-arg"},
        {"reduce [nothing-here]", "error script/no-value"},
        {"reduce/into [1] 5", "error script/expect-arg"},
    });
}

TEST(NativesValue, Compose) {
    expect_runs({
        {"compose [(1 + 1) ()]", "[2]"},
        {"compose [([])]", "[]"},
        {"compose [a (1 + 2) b]", "[a 3 b]"},
        {"compose [([a b]) c]", "[a b c]"},
        {"compose/only [([a])]", "[[a]]"},
        {"compose/only [([])]", "[[]]"},
        {"compose [(reduce ['x]) ('y)]", "[x y]"},
        {"compose [(to paren! [1 2]) x]", "[(1 2) x]"},
        // Nested blocks are kept as they are unless /deep.
        {"compose [[(1 + 1)] (3)]", "[[(1 + 1)] 3]"},
        {"compose/deep [[(1 + 1) [(2 + 2)]] (3)]", "[[2 [4]] 3]"},
        {"b: [x] c: compose [(b)] same? b c", "false"},
        {"b: [[x]] c: compose b same? b/1 c/1", "true"},
        {"compose next [(1) (2)]", "[2]"},
        {"compose/into [(1) (2)] []", "[1 2]"},
        {"b: [z] compose/into [(1) ([2 3])] b b", "[1 2 3 z]"},
        {"b: [z] compose/into [(1) ([2 3])] tail b b", "[z 1 2 3]"},
        {"b: [z] compose/into/only [([2 3])] b b", "[[2 3] z]"},
        {"compose 1", "error script/expect-arg"},
        {"compose [(1 / 0)]", "error math/zero-divide"},
        // A block that holds itself cannot be composed deeply.
        {"b: [x] append/only b b compose/deep b", "error internal/no-cycle"},
        {"b: [x] append/only b b length? compose b", "2"},
    });
}

// A paren may compose the very block being composed: only real cycles count.
TEST(NativesValue, ComposeReentersTheSameBlock) {
    EXPECT_EQ(run_kem("b: [[(n: n - 1 either n > 0 [compose/deep b] [0])]] n: 3 compose/deep b"), "[[[[0]]]]");
}

TEST(NativesValue, PrintAndPrin) {
    struct {
        const char* source;
        const char* text;
        uint32_t last_lf;
    } cases[] = {
        {"x: \"a\" print [1 + 2 x]", "3 a\n", 1},
        {"print \"text\"", "text\n", 1},
        {"prin \"text\"", "text", 0},
        {"prin \"a\" print \"b\"", "ab\n", 1},
        {"print \"b\" prin \"a\"", "b\na", 0},
        {"print 12", "12\n", 1},
        {"print []", "\n", 1},
        {"print tail \"abc\"", "\n", 1},
        {"print next \"abc\"", "bc\n", 1},
        {"prin [1 [2 3]]", "1 2 3", 0},
        // A print inside the reduction of another writes first and takes its
        // values back out of the shared scratch block.
        {"print [\"x\" (prin [\"y\" \"z\"] \"w\") \"v\"]", "y zx w v\n", 1},
        {"print [\"x\" (print [\"y\" (print [1 2] 3)] 4)]", "1 2\ny 3\nx 4\n", 1},
    };
    for (auto& c : cases) {
        natives::last_lf_q = 7;
        Output out = run_printing(c.source);
        EXPECT_EQ(out.text, c.text) << c.source;
        EXPECT_EQ(out.result, "unset") << c.source;
        EXPECT_EQ(natives::last_lf_q, c.last_lf) << c.source;
    }
}

TEST(NativesValue, PrintErrorsWriteNothing) {
    Output out = run_printing("print [1 (1 / 0)]");
    EXPECT_EQ(out.result, "error math/zero-divide");
    EXPECT_EQ(out.text, "");
    // The next print starts clean.
    out = run_printing("print [2]");
    EXPECT_EQ(out.text, "2\n");
}

TEST(NativesValue, BindAndIn) {
    const std::string f = "f: make function! [[a /r] [a]] ";
    expect_runs({
        {(f + "in :f 'a").c_str(), "a"},
        {(f + "type? in :f /r").c_str(), "word!"},
        {(f + "in :f 'nope").c_str(), "none"},
        {(f + "same? in :f 'a 'a").c_str(), "false"},
        {(f + "same? in :f 'A in :f 'a").c_str(), "false"},
        {(f + "equal? in :f 'A in :f 'a").c_str(), "true"},
        {"in :append 'series", "none"},
        {"in :print 'value", "none"},
        {"in :+ 'value1", "none"},
        {"in 1 'a", "error script/expect-arg"},
        // A block's words (nested ones too) found in the context are bound.
        {(f + "w: in :f 'a b: [a x [a]] bind b w same? b/1 w").c_str(), "true"},
        {(f + "w: in :f 'a b: [a x [a]] bind b w same? b/3/1 w").c_str(), "true"},
        {(f + "w: in :f 'a b: [a x [a]] bind b w same? b/2 'x").c_str(), "true"},
        {(f + "w: in :f 'a b: [a] same? b bind b w").c_str(), "true"},
        {(f + "b: [a (a) x/a] bind b :f same? b/2/1 in :f 'a").c_str(), "true"},
        {(f + "b: [a (a) x/a] bind b :f same? b/3/2 in :f 'a").c_str(), "true"},
        // /copy binds a deep copy and leaves the original, parens included.
        {(f + "b: [a (a)] c: bind/copy b :f reduce [same? b c same? b/1 'a same? b/2/1 'a same? c/2/1 in :f 'a]")
             .c_str(),
         "[false true true true]"},
        // A single word: rebound when the context has it, else unchanged.
        {(f + "same? bind 'a :f in :f 'a").c_str(), "true"},
        {(f + "same? bind 'zz :f 'zz").c_str(), "true"},
        {(f + "w: in :f 'a same? bind 'a 'x 'a").c_str(), "true"},
        {(f + "type? bind to set-word! 'a :f").c_str(), "set-word!"},
        {"bind [a] 1", "error script/expect-arg"},
    });
}

TEST(NativesValue, Stats) {
    expect_runs({
        {"type? stats", "integer!"},
        {"0 < stats", "true"},
        {"length? stats/info", "3"},
        {"b: stats/info reduce [type? b/1 type? b/1/1 length? b/1/1]",
         "[block! block! 3]"},
        {"b: stats/info type? b/2/1/1", "integer!"},
        // /show hands the /info block to the library's printer, /show winning.
        {"show-memory-stats: make function! [[data] [got: data 99]] reduce [stats/show/info length? got]",
         "[unset 3]"},
    });
}
