// The routines of the terminal module: what `ask` calls, and reading standard
// input directly.
#include <algorithm>
#include <vector>
#include "console/terminal.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/string.h"

namespace kem::terminal {

namespace {

// One read never asks for more than this; read-stdin reads "up to" its count.
constexpr size_t MAX_READ = size_t(1) << 20;

Cell* set_buffer_history(Cell* args) {
    setup(&args[0], &args[1]);
    return nullptr;
}

Cell* read_input(Cell* args) {
    edit(&args[0], args[1].data1 != 0);
    return nullptr;
}

Cell* input_stdin(Cell*) {
    init();
    Cell* line = stack::push_slot();
    string_make_at(line, 256);
    state.input_ended = false;
    stdin_readline(line);
    return line;
}

// The bytes go in at the binary's position, which it grows for them: a
// binary too small for the count is never written past its end.
Cell* read_stdin(Cell* args) {
    init();
    const int32_t count = cell_int(&args[1]);
    if (count <= 0) return nullptr;
    std::vector<uint8_t> bytes(std::min(size_t(count), MAX_READ));
    const long got = read_stdin_bytes(bytes.data(), bytes.size());
    if (got > 0) {
        const Cell buffer = args[0];
        const uint32_t at = std::min(series_index(&buffer), series_buffer(&buffer)->used());
        binary_insert_bytes(&buffer, at, bytes.data(), uint32_t(got));
    }
    return nullptr;
}

Cell* terminate_console(Cell*) { return nullptr; }

} // namespace

std::span<const RoutineEntry> routines() {
    static constexpr RoutineEntry table[] = {
        {"_set-buffer-history",
         R"KEM(["Sets the string and the history block of the next line edit" line [string!] hist [block!]])KEM",
         set_buffer_history},
        {"_read-input",
         R"KEM(["Reads a line into the string given to _set-buffer-history" prompt [string!] hidden? [logic!]])KEM",
         read_input},
        {"input-stdin", R"KEM(["Reads a line from standard input, without the line editor"])KEM", input_stdin},
        {"read-stdin",
         R"KEM(["Reads bytes from standard input into a binary, with one read"
                buffer [binary!] "Receives the bytes at its position" buflen [integer!] "Most bytes to read"])KEM",
         read_stdin},
        {"_terminate-console", R"KEM(["Ends the console's use of the terminal (nothing to do here)"])KEM",
         terminate_console},
    };
    return table;
}

} // namespace kem::terminal
