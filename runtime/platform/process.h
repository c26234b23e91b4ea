// Child processes: the external commands of call and the opener of browse.
//
// Everything runs on the calling thread. Children started without waiting are
// remembered and reaped, once they have ended, at the next start of any child,
// so none is left a zombie for longer than that (no SIGCHLD handler: the
// interpreter owns its signals and stays single-threaded).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kem::platform {

// Where one standard stream of a child comes from or goes to.
struct ChildStream {
    enum class Kind : uint8_t {
        inherit,      // the caller's own stream
        null_device,  // /dev/null
        file,         // path: read from (input), or appended to and created when missing (output)
        pipe,         // data: the bytes to send (input), or the bytes received (output)
    };
    Kind kind = Kind::inherit;
    std::string path;
    std::vector<uint8_t> data;
    // Output that found no memory to grow into: what came before is kept,
    // the rest of the stream is given up (the child then sees a closed pipe).
    bool out_of_memory = false;
};

// The words of a command line, split as the shell splits a simple command:
// blanks separate words; single quotes keep everything up to the next one;
// double quotes keep everything but a backslash before $ ` " \ or a line end;
// a backslash outside quotes keeps the next character (a line end after it
// goes). Nothing is expanded and operators are plain text. nullopt when a
// quote is left open.
std::optional<std::vector<std::string>> split_command_line(std::string_view line);

// Text that split_command_line (and the shell) read back as the one word.
std::string quote_word(std::string_view word);

// Runs a command line with the standard streams given (input, output, error).
// With shell it runs as /bin/sh -c command; otherwise its words are run
// directly (the program searched for in PATH), and through the shell when the
// program is not found, is no executable format, or the words cannot be split.
// Pipes are served together until the child closes them, so a child that
// fills its output and error at once, or writes before it has read all its
// input, never stalls. With wait the result is the exit status (128 plus the
// signal number when a signal ended the child); without, the process id at
// once. -1 when nothing was started: a file that cannot be opened, a pipe
// that cannot be made, a NUL in the command, a failure to start the shell.
int run_command(std::string_view command, bool shell, bool wait, ChildStream& input, ChildStream& output,
                ChildStream& error);

// Starts a program (argv[0] searched for in PATH) with the caller's standard
// streams, without waiting. 0 when started, else the errno of the failure
// (ENOENT: no such program).
int start_program(const std::vector<std::string>& argv);

// Reaps the children started without waiting that have ended; returns how
// many are still running.
size_t reap_children();

} // namespace kem::platform
