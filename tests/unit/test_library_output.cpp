// What the library's printing functions write: probe, ??, clock, the memory
// report, the lexer tracer and the parse tracer, read back from a memory file standing in for
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

} // namespace
