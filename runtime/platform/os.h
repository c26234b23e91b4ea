// The process's command line and the description of the operating system.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kem::platform {

// ---- command line

// One text holding every argument, in the form the command-line splitting of
// start-up reads back: runs of spaces and tabs separate arguments, a double
// quote toggles whether they do, and a token loses one leading and one
// trailing double quote. An argument is written bare when it reads back as
// itself, else with a double quote added at its start, its end or both (an
// empty one as two double quotes). The splitting keeps the quotes inside a
// token, so an argument whose own quotes put blanks both inside and outside
// them cannot be written to read back; it is written in double quotes.
std::string join_command_line(const std::vector<std::string>& args);
// The splitting the joined text is written for: tokens with their one leading
// and one trailing double quote taken off.
std::vector<std::string> split_command_line(const std::string& line);

// Start-up records the process's arguments once; command_line() is their
// joined text (empty before).
void set_command_line(int argc, const char* const* argv);
const std::string& command_line();

// ---- operating system

struct OsInfo {
    std::string name;   // the distribution's display name, else the kernel's name
    std::string arch;   // x86-64, x86-32, ARM64, ARM, IA-64 or Unknown
    uint8_t version[3]; // the kernel release: major, minor, patch (each at most 255)
    int32_t build;      // the kernel's build number (#N of its version text), else 0
};
OsInfo os_info();

// The parts os_info reads, apart for tests: the display name from the text of
// an os-release file (PRETTY_NAME, else NAME and VERSION; empty when neither),
// the architecture word of a machine name, the version numbers of a release
// text, and the build number of a version text.
std::string os_release_name(const std::string& text);
std::string arch_word(const std::string& machine);
void release_numbers(const std::string& release, uint8_t out[3]);
int32_t build_number(const std::string& version);

} // namespace kem::platform
