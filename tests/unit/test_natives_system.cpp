// The system natives: words and markers, waiting, local files, the
// environment, the clock, retyping, loading text and applying functions.
#include <unistd.h>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include "eval_support.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/interpreter/natives.h"

using namespace kem;
using namespace kem::test;

namespace {

// Restores an environment variable when the test ends.
class EnvGuard {
public:
    explicit EnvGuard(const char* name) : name_(name) {
        if (const char* v = std::getenv(name)) saved_ = v;
    }
    ~EnvGuard() {
        if (saved_) setenv(name_, saved_->c_str(), 1);
        else unsetenv(name_);
        tzset();
    }

private:
    const char* name_;
    std::optional<std::string> saved_;
};

} // namespace

TEST(SystemNatives, UnsetClearsWordsInTheirOwnContext) {
    expect_runs({
        {"a: 1 unset 'a :a", "unset"},
        {"a: 1 unset 'a", "unset"},
        // Only words of a block are unset; other values are passed over.
        {"a: 1 b: 2 unset [a 3 \"x\"] :a", "unset"},
        {"a: 1 b: 2 unset [a 3 \"x\"] b", "2"},
        {"a: 1 b: 2 unset next [a b] a", "1"},
        {"unset 1", "error script/expect-arg"},
    });
}

TEST(SystemNatives, NewLineMarkers) {
    // The markers of the four cells of b after the operation.
    const std::string marks =
        " m: copy [] append m new-line? b append m new-line? skip b 1"
        " append m new-line? skip b 2 append m new-line? skip b 3 m";
    const struct {
        const char* op;
        const char* expected;
    } cases[] = {
        {"", "[false false false false]"},
        {"new-line b true", "[true false false false]"},
        {"new-line next b true", "[false true false false]"},
        {"new-line tail b true", "[false false false false]"},
        {"new-line/all b true", "[true true true true]"},
        {"new-line/all next b true", "[false true true true]"},
        {"new-line/skip b true 2", "[true false true false]"},
        {"new-line/skip b false 2", "[false true false true]"},
        {"new-line/skip b true 3", "[true false false true]"},
        {"new-line/all b true new-line next b false", "[true false true true]"},
        {"new-line/skip b true 0", "error script/out-of-range"},
        {"new-line/skip b true -1", "error script/out-of-range"},
    };
    for (const auto& c : cases) {
        std::string source = std::string("b: [1 2 3 4] ") + c.op + marks;
        EXPECT_EQ(run_kem(source), c.expected) << c.op;
    }
    expect_runs({
        {"b: [1 2 3] index? new-line next b true", "2"},  // the result is the position
        {"b: [1\n2] new-line? next b", "true"},        // a marker the lexer set
        {"b: [1 2] new-line? tail b", "false"},
        {"new-line? []", "false"},
        {"p: pick [(1 2)] 1 new-line/all p true new-line? next p", "true"},
        {"new-line \"ab\" true", "error script/expect-arg"},
    });
}

TEST(SystemNatives, ContextOfAWord) {
    expect_runs({
        // An argument word gives its own function, not another with the same body.
        {"f: make function! [[a] [context? 'a]] :f = f 1", "true"},
        {"f: make function! [[a] [context? 'a]] g: make function! [[a] [context? 'a]] :g = f 1", "false"},
    });
}

TEST(SystemNatives, ContextOfAnUnboundWordIsNone) {
    boot_all();
    stack::init();
    Cell* word = stack::push_slot();
    *word = Cell{TYPE_WORD, 0, symbol_make("unbound-word"), uint32_t(-1)};
    stack::arguments = word;
    native_table[NAT_CONTEXT_Q](nullptr);
    EXPECT_EQ(type_of(stack::arguments), TYPE_NONE);
    stack::init();
}

TEST(SystemNatives, WaitSleepsForNumbersAndTimes) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(run_kem("wait 0.05"), "none");
    EXPECT_EQ(run_kem("wait 0:00:00.05"), "none");
    EXPECT_EQ(run_kem("wait 0"), "none");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    expect_runs({
        {"wait [1]", "error script/invalid-arg"},
        {"wait none", "error script/invalid-arg"},
        {"wait 1%", "error script/invalid-arg"},
        {"wait \"1\"", "error script/expect-arg"},
    });
}

TEST(SystemNatives, ToLocalFile) {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    std::string here = cwd;
    if (here.back() != '/') here += '/';
    expect_runs({
        {"to-local-file %/a/b", "\"/a/b\""},
        {"to-local-file \"a b/c\"", "\"a b/c\""},
        {"to-local-file next %xyz", "\"yz\""},
        {"to-local-file/full %/abs", "\"/abs\""},
        {"f: %a s: to-local-file f append s \"b\" f", "%a"},  // a new string, not the file's buffer
    });
    EXPECT_EQ(run_kem("to-local-file/full %rel/x"), "\"" + here + "rel/x\"");
}

TEST(SystemNatives, EnvironmentVariables) {
    EnvGuard a("KEM_SYSTEM_TEST_A"), b("KEM_SYSTEM_TEST_B"), c("kem_system_test_b");
    expect_runs({
        {"get-env \"KEM_SYSTEM_TEST_A\"", "none"},
        {"set-env \"KEM_SYSTEM_TEST_A\" \"one two\"", "\"one two\""},
        {"get-env \"KEM_SYSTEM_TEST_A\"", "\"one two\""},
        {"get-env 'KEM_SYSTEM_TEST_A", "\"one two\""},
        {"get-env %KEM_SYSTEM_TEST_A", "\"one two\""},
        {"set-env 'KEM_SYSTEM_TEST_A \"\" get-env \"KEM_SYSTEM_TEST_A\"", "\"\""},
        {"set-env \"KEM_SYSTEM_TEST_A\" \"é€\" get-env \"KEM_SYSTEM_TEST_A\"", "\"é€\""},
        {"set-env \"KEM_SYSTEM_TEST_A\" none", "none"},
        {"get-env \"KEM_SYSTEM_TEST_A\"", "none"},
        // A name cut short at a NUL would set another variable: refused.
        {"set-env \"KEM_SYSTEM_TEST_A^@X\" \"v\"", "error script/invalid-arg"},
        {"get-env \"KEM_SYSTEM_TEST_A^@X\"", "none"},
        {"set-env \"KEM_SYSTEM_TEST_A\" \"v^@w\"", "error script/invalid-arg"},
        {"set-env \"A=B\" \"v\"", "error script/invalid-arg"},
        {"set-env \"\" \"v\"", "error script/invalid-arg"},
        {"get-env \"KEM_SYSTEM_TEST_A\"", "none"},
        {"set-env 1 \"v\"", "error script/expect-arg"},
    });
    EXPECT_EQ(std::getenv("KEM_SYSTEM_TEST_A"), nullptr);
    setenv("KEM_SYSTEM_TEST_B", "upper", 1);
    setenv("kem_system_test_b", "lower", 1);
    expect_runs({
        {"m: list-env select/case m \"KEM_SYSTEM_TEST_B\"", "\"upper\""},
        // Variables are told apart by letter case, unlike keys of a map.
        {"m: list-env select/case m \"kem_system_test_b\"", "\"lower\""},
        {"set-env \"KEM_SYSTEM_TEST_A\" \"x\" m: list-env m/(\"KEM_SYSTEM_TEST_A\")", "\"x\""},
    });
}

TEST(SystemNatives, NowRefinements) {
    expect_runs({
        {"now/year/month", "error script/bad-refines"},
        {"now/date/time", "error script/bad-refines"},
        {"now/date/precise", "error script/bad-refines"},
        {"now/time/zone", "error script/bad-refines"},
        {"now/weekday/yearday", "error script/bad-refines"},
        // /precise refines /time but does not make room for another part.
        {"now/year/time/precise", "error script/bad-refines"},
        {"now/utc/date/year", "error script/bad-refines"},
    });
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    EXPECT_EQ(run_kem("now/year"), std::to_string(local.tm_year + 1900));
    EXPECT_EQ(run_kem("now/month"), std::to_string(local.tm_mon + 1));
    EXPECT_EQ(run_kem("now/day"), std::to_string(local.tm_mday));
    EXPECT_EQ(run_kem("now/weekday"), std::to_string(local.tm_wday == 0 ? 7 : local.tm_wday));
    EXPECT_EQ(run_kem("now/yearday"), std::to_string(local.tm_yday + 1));
    EXPECT_EQ(run_kem("now/date").find('/'), std::string::npos);   // no time part
    EXPECT_NE(run_kem("now").find('/'), std::string::npos);
    EXPECT_NE(run_kem("now/time/precise").find('.'), std::string::npos);
    EXPECT_EQ(run_kem("now/time").find('.'), std::string::npos);
    EXPECT_EQ(run_kem("now/precise").find("error"), std::string::npos);
}

TEST(SystemNatives, NowFollowsTheLocalZoneUnlessUtc) {
    EnvGuard tz("TZ");
    const std::string zone = "set-env \"TZ\" \"XXX-5:30\" ";
    EXPECT_EQ(run_kem(zone + "now/zone"), "5:30:00");
    EXPECT_EQ(run_kem(zone + "now/utc/zone"), "0:00:00");
    EXPECT_NE(run_kem(zone + "now").find("+05:30"), std::string::npos);
    // The same instant in both: local time is UTC plus 5:30 (modulo a day).
    const std::string diff =
        zone + "t: now/precise u: now/utc/precise d: (t/hour * 60 + t/minute) - (u/hour * 60 + u/minute) d";
    const std::string minutes = run_kem(diff);
    EXPECT_TRUE(minutes == "330" || minutes == "-1110") << minutes;
    std::time_t t = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&t, &utc);
    EXPECT_EQ(run_kem(zone + "now/utc/year"), std::to_string(utc.tm_year + 1900));
}

TEST(SystemNatives, AsRetypesWithinOneFamily) {
    expect_runs({
        {"as string! %a/b", "\"a/b\""},
        {"as file! \"a b\"", "%\"a b\""},
        {"as url! next \"xhttp://a\"", "http://a"},
        {"as path! [a b]", "a/b"},
        {"as set-path! next [x a b]", "a/b:"},
        {"as [] pick [(1 2)] 1", "[1 2]"},
        {"as \"\" %f", "\"f\""},
        {"as block! next pick [(1 2)] 1", "[2]"},
        // Nothing is copied: both values see one buffer.
        {"f: %abc s: as string! f append s \"d\" f", "%abcd"},
        {"b: [1] p: as paren! b append p 2 b", "[1 2]"},
        {"as block! \"abc\"", "error script/not-same-class"},
        {"as string! [a]", "error script/not-same-class"},
        {"as integer! \"1\"", "error script/not-same-class"},
        {"as hash! [1]", "error script/not-same-class"},
        {"as string! #{41}", "error script/expect-arg"},
    });
}

TEST(SystemNatives, TranscodeRefinements) {
    expect_runs({
        {"transcode \"a b\"", "[a b]"},
        {"transcode \"\"", "[]"},
        {"transcode/next \"a b\"", "[a \" b\"]"},
        {"transcode/one \"a b\"", "a"},
        {"transcode/next/one \"a b\"", "a"},
        {"transcode/scan \"12\"", "integer!"},
        {"transcode/scan \"\"", "none"},
        {"transcode/scan \"1.2.300\"", "error!"},
        {"transcode/prescan \"1.2.300\"", "tuple!"},
        {"transcode/next/scan \"12 x\"", "[integer! \" x\"]"},
        {"transcode #{EFBBBF3132}", "[12]"},
        {"transcode/next #{EFBBBF31203233}", "[1 #{203233}]"},
        {"transcode/part \"1 2 3\" 3", "[1 2]"},
        {"transcode/part \"1 2 3\" -1", "[]"},
        {"b: to binary! \"1 2 3\" transcode/part b skip b 3", "[1 2]"},
        {"transcode/part \"1 2\" #{}", "error script/not-same-type"},
        {"transcode/into \"1 2\" [0]", "[0 1 2]"},
        {"transcode \"[1\"", "error syntax/missing"},
        // A position left past the tail by a shrinking series reads as the tail.
        {"s: \"a b\" t: tail s clear s transcode/next t", "[[] \"\"]"},
    });
}

TEST(SystemNatives, TranscodeTraceRunsTheCallback) {
    const std::string args = "[event input type line token]";
    expect_runs({
        // Only the events named in the body's first block arrive.
        {("log: copy [] transcode/trace \"1 [2]\" make function! [" + args +
          " [[load] append log token true]] log").c_str(),
         "[1 2]"},
        // Answering false to a load drops the value.
        {("transcode/trace \"1 2 3\" make function! [" + args + " [[load] token <> 2]]").c_str(), "[1 3]"},
        // Moving input past a bad character skips it.
        {("transcode/trace \"1 } 2\" make function! [" + args + " [[error] input: next input false]]").c_str(),
         "[1 2]"},
        // A callback may take fewer arguments than the lexer has to give.
        {"n: 0 transcode/trace \"a b\" make function! [[event] [n: n + 1 true]] n > 0", "true"},
        {("transcode/trace \"1\" make function! [" + args + " [[load] 1 + none]]").c_str(),
         "error script/expect-arg"},
        // Exits leave the callback for their own frames; the lexer is left clean.
        {"catch [transcode/trace \"1 2\" make function! [[event] [throw 7]]]", "7"},
        {"catch [transcode/trace \"1 2\" make function! [[event] [throw 7]]] transcode \"3\"", "[3]"},
        {"x: 0 loop 3 [x: x + 1 transcode/trace \"1 2\" make function! [[event] [break]]] x", "1"},
        {"f: make function! [[] [transcode/trace \"1\" make function! [[event] [return false]] 9]] f", "9"},
    });
}

TEST(SystemNatives, ApplyTakesArgumentsFromABlock) {
    const std::string f =
        "f: make function! [[a b /c d] [append append append append copy [] a b c d]] ";
    expect_runs({
        {"apply :append [[1] 2]", "[1 2]"},
        {"apply 'append [[1] 2]", "[1 2]"},
        {"apply :append [[1] 1 + 1]", "[1 2]"},
        {"apply :+ [1 2]", "3"},
        {"apply :append [[1]]", "[1 none]"},
        {"apply :append [[1] [2] /only]", "[1 [2]]"},
        {"apply :append [[1] [2] /dup 2 /only]", "[1 [2] [2]]"},
        {"only: false apply :append [[1] [2] :only]", "[1 2]"},
        {"only: true apply :append [[1] [2] :only]", "[1 [2]]"},
        {"apply/all :append [[1] [2] false none true false none]", "[1 [2]]"},
        {"apply/all :append [[1] 2 false none false true 3]", "[1 2 2 2]"},
        {"apply/safer :append [[1] 1]", "[1 1]"},
        {"apply/safer :append [[1] (1 + 1)]", "[1 2]"},
        {"b: [[1] 2] apply :append next b", "error script/expect-arg"},
        {(f + "apply :f [1 2]").c_str(), "[1 2 false none]"},
        {(f + "apply :f [1 2 /c 3]").c_str(), "[1 2 true 3]"},
        {(f + "apply/all :f [1 2 true 3]").c_str(), "[1 2 true 3]"},
        // /all keeps the places of an unused refinement's arguments.
        {(f + "apply/all :f [1 2 false 3]").c_str(), "[1 2 false 3]"},
        {(f + "apply/all :f [1 2]").c_str(), "[1 2 false none]"},
        {(f + "apply :f [1]").c_str(), "[1 none false none]"},
        {"g: make function! [['x] [x]] apply :g [(1 + 2)]", "3"},
        {"h: make function! [[a] [return a + 1 0]] apply 'h [1]", "2"},
        // A path's refinements count, their arguments after the others.
        {"apply 'append/only [[1] [2]]", "[1 [2]]"},
        {"apply 'append/dup [[1] 2 3]", "[1 2 2 2]"},
        {"apply/all 'append/only [[1] [2]]", "[1 [2]]"},
        {(f + "apply 'f/c [1 2 3]").c_str(), "[1 2 true 3]"},
        {"catch [apply :throw [8]]", "8"},
        {"x: 0 loop 3 [x: x + 1 apply :break []] x", "1"},
    });
}

TEST(SystemNatives, ApplyErrors) {
    expect_runs({
        {"x: 1 apply 'x []", "error script/invalid-arg"},
        {"apply to path! [1 2] []", "error script/invalid-arg"},
        {"apply :append [1 2]", "error script/expect-arg"},
        {"apply :append [[1] 2 3]", "error script/bad-refine"},
        {"apply :append [[1] 2 /nope]", "error script/no-refine"},
        {"apply :append [[1] 2 /only /only]", "error script/dup-refine"},
        {"apply 'append/only [[1] 2 /only]", "error script/dup-refine"},
        {"apply 'append/1 [[1] 2]", "error script/bad-refine"},
        {"apply 'append/nope [[1] 2]", "error script/no-refine"},
        {"apply/safer :append [[1] 1 + 1]", "error script/no-refine"},
        {"apply/all :append [[1] 2 1]", "error script/expect-arg"},
        // A native never sees a none its spec does not allow.
        {"apply/all :append [[1] 2 true]", "error script/expect-arg"},
        {"apply :add [1]", "error script/expect-arg"},
    });
}
