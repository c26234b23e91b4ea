// What the library's printing functions write: probe, ??, clock, the memory
// report, the lexer tracer, the parse tracer and the reactivity reports, read back from a memory file standing in for
// standard output.
#include <sys/mman.h>
#include <unistd.h>
#include <regex>
#include <string>
#include "eval_support.h"
#include "runtime/services/output.h"

using namespace kem;
using namespace kem::test;

namespace {

class LibraryOutput : public ::testing::Test {
protected:
    void SetUp() override {
        boot_all();
        fd_ = memfd_create("kem-library-output", 0);
        ASSERT_GE(fd_, 0);
        console_attach(fd_, false);
    }
    void TearDown() override {
        console_probe();
        close(fd_);
    }
    // Runs the source; gives what it printed.
    std::string printed(const std::string& source) {
        lseek(fd_, 0, SEEK_SET);
        EXPECT_EQ(ftruncate(fd_, 0), 0);
        const std::string result = run_kem(source);
        EXPECT_EQ(result.rfind("error ", 0), std::string::npos) << source << ": " << result;
        std::string out(size_t(lseek(fd_, 0, SEEK_END)), '\0');
        EXPECT_EQ(pread(fd_, out.data(), out.size(), 0), ssize_t(out.size()));
        return out;
    }
    int fd_ = -1;
};

TEST_F(LibraryOutput, ProbeAndDoubleQuestionMarkPrintMolded) {
    const Case cases[] = {
        {R"(probe [a "b" 1.5])", "[a \"b\" 1.5]\n"},
        {"x: 5 ?? x", "x: 5\n"},
        {"?? no-such-word-here", "no-such-word-here: unset!\n"},
        {"o: context [a: [1 2]] ?? o/a", "o/a: [1 2]\n"},
        {"f: does [1] ?? f", "f: func [][1]\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(printed(c.source), c.expected) << c.source;
}

// The time per pass in at most three digits (more only for the integer
// part), cut without rounding, its unit and a tab, then the code.
TEST_F(LibraryOutput, ClockShowsTheTimePerPassAndTheCode) {
    const std::string out = printed("clock/times [1 + 1] 3");
    const std::regex line(R"(^([0-9.]+) (μs|ms)\t\[1 \+ 1\]\n$)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(out, m, line)) << out;
    const std::string number = m[1];
    const size_t dot = number.find('.');
    if (dot != std::string::npos) EXPECT_LE(number.size() - 1, 3u) << number;
}

TEST_F(LibraryOutput, MemoryReportLaysOutEachFrameList) {
    EXPECT_EQ(printed("show-memory-stats [[[1 2 3]] [] [100 [200]] 4096 8192]"),
              "\n[Nodes ] -- Free ----- Used ----- Total --\n"
              "   1:            1           2            3\n"
              "  --\n  Used     :  2 nodes\n"
              "  Allocated:  3 nodes\n"
              "\n[Series] -- Free ----- Used ----- Total --\n"
              "               -           -            -\n"
              "  --\n  Used     :  0 bytes\n"
              "  Allocated:  0 bytes\n"
              "\n[ Big    ]\n"
              "   1:          100\n"
              "   2:          200\n"
              "  --\n  Allocated:  300 bytes\n"
              "--\nTotal allocated from OS (virtual):      4096 \n"
              "Total allocated on heap (malloc):      8192 \n\n");
    // stats/show hands the printer the live figures.
    EXPECT_NE(printed("stats/show").find("[Series] -- Free"), std::string::npos);
}

TEST_F(LibraryOutput, TracerPrintsOneLinePerLexerEvent) {
    EXPECT_EQ(printed(R"(transcode-trace "1 x")"),
              "PRESCAN  integer!     1x2          1    \" x\"\n"
              "SCAN     integer!     1x2          1    \" x\"\n"
              "LOAD     integer!     1            1    \" x\"\n"
              "PRESCAN  word!        3x4          1    \"\"\n"
              "SCAN     word!        3x4          1    \"\"\n"
              "LOAD     word!        x            1    \"\"\n");
    // After an error event it moves past the bad character and goes on.
    const std::string out = printed(R"(probe transcode-trace "1 ) 2")");
    EXPECT_NE(out.find("ERROR"), std::string::npos) << out;
    EXPECT_NE(out.find("[1 2]\n"), std::string::npos) << out;
}

// Two more spaces of indent per nested rule; each line as print forms a
// block, so an empty indent still leaves a space before the arrow.
TEST_F(LibraryOutput, ParseTraceTellsEachEventIndented) {
    EXPECT_EQ(printed(R"(parse-trace "ab" ["a" ["b"]])"),
              " -->\n"
              "   input: \"ab\" \n"
              "   match: [\"a\" [\"b\"]]   \n"
              "   ==> matched\n"
              "   input: \"b\" \n"
              "   match: [[\"b\"]]   \n"
              "   -->\n"
              "     input: \"b\" \n"
              "     match: [\"b\"]     \n"
              "     ==> matched\n"
              "   <--\n"
              " <--\n"
              "return: true\n");
    // The indent starts afresh at each trace, even after one that failed.
    const std::string again = printed(R"(attempt [parse-trace "a" [into]] parse-trace "a" ["a"])");
    EXPECT_NE(again.find("\n -->\n   input: \"a\""), std::string::npos) << again;
}

// One numbered block per relation: the source's fields without its handlers,
// the field, the reaction flat, then the linked objects or the target word;
// each cut to the console width less 10 (less 15 for the fields).
TEST_F(LibraryOutput, DumpReactionsListsEachRelation) {
    EXPECT_EQ(printed("clear-reactions dump-reactions"), "-- no reactions --\n");
    EXPECT_EQ(printed("clear-reactions system/console/size: 80x50 "
                      "a: reactor [x: 1 y: 2] b: reactor [z: 0] "
                      "react/link/later func [p q] [q/z: p/x] [a b] "
                      "r: reactor [n: 1 relate total: [n * 2]] "
                      "dump-reactions"),
              "1:---\n"
              "  Source: object [x y]\n"
              "   Field: x\n"
              "  Action: func [p q][q/z: p/x]\n"
              "    Args: [object [x: 1 y: 2] object [z: 0]]\n"
              "2:---\n"
              "  Source: object [n total]\n"
              "   Field: n\n"
              "  Action: [n * 2]\n"
              "  Target: total\n");
    // A narrow console cuts every line; a plain reaction has no last line.
    EXPECT_EQ(printed("clear-reactions system/console/size: 30x10 "
                      "long: reactor [alpha: beta: gamma: delta: 1] "
                      "react/later [print [long/alpha long/beta long/gamma]] "
                      "dump-reactions system/console/size: 80x50"),
              "1:---\n"
              "  Source: object [alpha beta gam\n"
              "   Field: alpha\n"
              "  Action: [print [long/alpha l\n"
              "2:---\n"
              "  Source: object [alpha beta gam\n"
              "   Field: beta\n"
              "  Action: [print [long/alpha l\n"
              "3:---\n"
              "  Source: object [alpha beta gam\n"
              "   Field: gamma\n"
              "  Action: [print [long/alpha l\n");
    // Without a console the width is 72; a path met twice makes one relation.
    EXPECT_EQ(printed("clear-reactions c: system/console system/console: none "
                      "w: reactor [alpha: beta: gamma: delta: epsilon: zeta: eta: theta: iota: kappa: 1] "
                      "react/later [print [w/alpha w/alpha w/alpha w/alpha w/alpha w/alpha w/alpha w/alpha]] "
                      "dump-reactions system/console: c clear-reactions"),
              "1:---\n"
              "  Source: object [alpha beta gamma delta epsilon zeta eta theta iota kappa\n"
              "   Field: alpha\n"
              "  Action: [print [w/alpha w/alpha w/alpha w/alpha w/alpha w/alpha w/alph\n");
    EXPECT_EQ(run_kem("clear-reactions type? dump-reactions"), "unset!");
}

// A failing reaction is reported, then its code flat and cut to 80
// characters; the propagation goes on.
TEST_F(LibraryOutput, ReactionErrorsAreReportedWithTheirCode) {
    const std::string out = printed(
        "clear-reactions a: reactor [x: 1] "
        "react/later [a/x / 0 comment {" + std::string(100, 'c') + "}] "
        "react/later [print [\"after\" a/x]] a/x: 2");
    EXPECT_EQ(out.rfind("*** Math Error: attempt to divide by zero\n", 0), 0u) << out;
    const std::string code = "[a/x / 0 comment {" + std::string(100, 'c') + "}]";
    EXPECT_NE(out.find("\n*** Near: " + code.substr(0, 80) + "\nafter 2\n"), std::string::npos) << out;
    // no-react reports an error of its body the same way and gives none.
    const std::string body = printed("probe no-react [1 / 0]");
    EXPECT_NE(body.find("*** Near: [1 / 0]\nnone\n"), std::string::npos) << body;
}

TEST_F(LibraryOutput, ReactivityDebugTraces) {
    // Made before the switch: making an object sets its fields too.
    EXPECT_EQ(printed("clear-reactions a: reactor [x: 1] d: deep-reactor [s: 1] system/reactivity/debug?: true "
                      "a/x: none d/s: \"t\" stop-reactor a stop-reactor/deep d clear-reactions "
                      "system/reactivity/debug?: false"),
              "-- on-change event -- \n\tword : x \n\told  : integer \n\tnew  : none\n"
              "-- on-change event -- \n\tword : s \n\told  : integer \n\tnew  : string\n"
              "-- reactivity: stopping, face: none /deep: false\n"
              "-- reactivity: stopping, face: none /deep: true\n"
              "-- reactivity: clear all\n");
}

} // namespace
