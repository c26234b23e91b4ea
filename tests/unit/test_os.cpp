#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>
#include "runtime/platform/os.h"

using namespace kem::platform;

namespace {

using Args = std::vector<std::string>;

// Arguments the start-up splitting reads back from the joined command line:
// blanks, tabs, empty arguments and double quotes in the places the
// splitting allows (inside, around, alone with a partner).
TEST(CommandLine, JoinedArgumentsSplitBack) {
    const Args cases[] = {
        {"/usr/bin/kem"},
        {"/opt/my kem/kem", "script.kem", "a b", "c"},
        {"kem", "", "x", ""},
        {"kem", "tab\there", "  lead", "trail  "},
        {"kem", "q\"q", "say \"hi\"", "\"x\"", "\"\"", "end\""},
        {"kem", "\"open", "a\"b", "x\"a b\"y"},
        {"kem", "\""},  // a lone quote reads back only as the last argument
    };
    for (const Args& args : cases) EXPECT_EQ(split_command_line(join_command_line(args)), args) << join_command_line(args);
}

// A quoted program path, runs of blanks, a quoted argument: quotes group and
// the outer ones go; a quote inside a token stays.
TEST(CommandLine, SplitsAsStartUpDoes) {
    EXPECT_EQ(split_command_line("\"D:\\bin\\kem.exe\"  script.kem \"a b\" c\"d"),
              (Args{"D:\\bin\\kem.exe", "script.kem", "a b", "c\"d"}));
    EXPECT_EQ(split_command_line(" \t kem\t\t\"\"  "), (Args{"kem", ""}));
    EXPECT_EQ(split_command_line("kem \"a  b"), (Args{"kem", "a  b"}));
}

// Random argument lists of the kinds a shell passes: without quotes, or with
// quotes and no blanks (then in pairs), any mix of blanks and empties.
TEST(CommandLine, RandomArgumentsRoundTrip) {
    std::mt19937 rng(20);
    for (int round = 0; round < 2000; round++) {
        Args args;
        const int n = 1 + int(rng() % 5);
        for (int i = 0; i < n; i++) {
            const bool quotes = rng() % 3 == 0;
            const char* alphabet = quotes ? "ab\"" : "ab \t";
            std::string a;
            const int len = int(rng() % 6);
            for (int k = 0; k < len; k++) a += alphabet[rng() % (quotes ? 3 : 4)];
            if (quotes && std::count(a.begin(), a.end(), '"') % 2) a += '"';
            args.push_back(a);
        }
        ASSERT_EQ(split_command_line(join_command_line(args)), args) << join_command_line(args);
    }
}

TEST(OsInfo, ReleaseNameArchVersionAndBuild) {
    EXPECT_EQ(os_release_name("NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"),
              "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(os_release_name("NAME=Alpine\nVERSION='3.19'\n"), "Alpine 3.19");
    EXPECT_EQ(os_release_name("PRETTY_NAME=\"say \\\"hi\\\"\"\n"), "say \"hi\"");
    EXPECT_EQ(os_release_name("ID=x\n"), "");

    const std::pair<const char*, const char*> arches[] = {
        {"x86_64", "x86-64"}, {"i686", "x86-32"}, {"i386", "x86-32"}, {"aarch64", "ARM64"},
        {"armv7l", "ARM"},    {"ia64", "IA-64"},  {"riscv64", "Unknown"}, {"", "Unknown"},
    };
    for (const auto& [machine, word] : arches) EXPECT_EQ(arch_word(machine), word) << machine;

    const std::pair<const char*, std::vector<int>> releases[] = {
        {"6.1.0-18-amd64", {6, 1, 0}}, {"5.15.133.1-microsoft", {5, 15, 133}}, {"6.8", {6, 8, 0}},
        {"4.19.300", {4, 19, 255}},    {"odd", {0, 0, 0}},
    };
    for (const auto& [release, want] : releases) {
        uint8_t got[3];
        release_numbers(release, got);
        EXPECT_EQ((std::vector<int>{got[0], got[1], got[2]}), want) << release;
    }

    EXPECT_EQ(build_number("#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1"), 1);
    EXPECT_EQ(build_number("#47~22.04.1-Ubuntu SMP"), 47);
    EXPECT_EQ(build_number("SMP"), 0);

    const OsInfo here = os_info();
    EXPECT_FALSE(here.name.empty());
    EXPECT_GE(here.version[0], 2);
}

} // namespace
