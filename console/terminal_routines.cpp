// The routines of the terminal module: what `ask` calls, and reading standard
// input directly.
#include <unistd.h>
#include <algorithm>
#include <string>
#include <vector>
#include "console/terminal.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/string.h"
#include "runtime/platform/exit.h"
#include "runtime/platform/interrupt.h"
#include "runtime/platform/terminal.h"
#include "runtime/services/output.h"
#include "runtime/services/unicode/utf.h"

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

// Ctrl-C while code runs ends the console; the bytes are what its settings
// file gets then (a snapshot the console takes before each line it runs,
// with Ctrl-C held back from _hold-interrupt until the snapshot is here).
Cell* hold_interrupt(Cell*) {
    platform::hold_interrupt();
    return nullptr;
}

Cell* interrupt_saves(Cell* args) {
    static bool armed = false;
    if (!armed) platform::arm_console_interrupt();
    armed = true;
    const std::optional<std::string> path = file_to_os_path(&args[0]);
    if (path && is_type(&args[1], TYPE_BINARY)) {
        Cell data = args[1];
        const uint8_t* head = binary_rs_head(&data);
        const size_t count = size_t(std::max(binary_rs_length(&data), 0));
        platform::keep_file_for_interrupt(*path, std::vector<uint8_t>(head, head + count));
    }
    platform::release_interrupt();
    return nullptr;
}

// What the console loop asks after each line: whether input has ended, and
// whether the line only stood for a listing of completion candidates.
Cell* input_ended_q(Cell* result) {
    make_logic(result, input_ended());
    return result;
}

Cell* listed_candidates_q(Cell* result) {
    make_logic(result, listed_candidates());
    return result;
}

// Whether someone can type at standard input: what is piped in is data for
// the script that was named, never lines for the console.
Cell* input_terminal_q(Cell* result) {
    make_logic(result, platform::is_terminal(STDIN_FILENO));
    return result;
}

// The window title, as the terminal's title sequence. Control characters
// would end the sequence early or start another: they are left out, and the
// title ends at a NUL as the platform's text does.
bool set_title(const Cell* title) {
    std::string text = "\x1b]0;";
    for (uint32_t i = series_index(title), n = string_full_length(title); i < n; i++) {
        const int32_t c = string_char_at(title, i);
        if (c == 0) break;
        if (c < 32 || c == 127 || (c >= 0x80 && c < 0xA0)) continue;
        uint8_t bytes[4];
        text.append(reinterpret_cast<const char*>(bytes), size_t(utf8_encode_char(c, bytes)));
    }
    text += '\a';
    console_flush();
    return platform::write_all(console_fd(), text.data(), text.size());
}

// system/console/init: the title and the console's size (80x50 when the
// console reports none, as when input is redirected).
Cell* console_init(Cell* args) {
    init();
    if (console_is_terminal() && !set_title(&args[0])) {
        print_line("SetConsoleTitle failed!");
        exit_process(1);
    }
    if (state.console) screen_info(false);
    init_globals();
    if (Cell* size = console_size_cell(); size && (!is_type(size, TYPE_PAIR) || !pair_x(size) || !pair_y(size)))
        pair_set_in(size, 80, 50);
    return nullptr;
}

} // namespace

RoutineEntry console_init_routine() {
    return {"init", R"KEM(["Sets the console's title and size" str [string!] "The window title"])KEM", console_init};
}

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
        {"_hold-interrupt", R"KEM(["Holds Ctrl-C back until _interrupt-saves"])KEM", hold_interrupt},
        {"_interrupt-saves",
         R"KEM(["Makes Ctrl-C while code runs end the console silently, with status 0, writing data as the file"
                file [file!] data [binary! none!] "None: the data handed over before"])KEM",
         interrupt_saves},
        {"_input-ended?", R"KEM(["Whether the last line read met the end of input" return: [logic!]])KEM", input_ended_q},
        {"_listed-candidates?",
         R"KEM(["Whether the last line read was left empty by a listing of completion candidates" return: [logic!]])KEM",
         listed_candidates_q},
        {"_input-terminal?", R"KEM(["Whether standard input is a terminal" return: [logic!]])KEM", input_terminal_q},
    };
    return table;
}

} // namespace kem::terminal
