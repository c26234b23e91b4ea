// The call and browse natives: external commands and the desktop's opener.
#include "runtime/io/call.h"
#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/string.h"
#include "runtime/interpreter/natives.h"
#include "runtime/platform/process.h"
#include "runtime/services/unicode/text.h"

namespace kem {

namespace {

using platform::ChildStream;

// A stream argument of call as the platform takes it: a file! names a file,
// a string! or binary! a pipe (for input, filled with its bytes from its
// position; text as UTF-8). False when the file name cannot reach the system.
bool stream_of(Cell* value, bool input, ChildStream& s) {
    if (is_type(value, TYPE_FILE)) {
        std::optional<std::string> path = file_to_os_path(value);
        if (!path) return false;
        s.kind = ChildStream::Kind::file;
        s.path = std::move(*path);
        return true;
    }
    s.kind = ChildStream::Kind::pipe;
    if (!input) return true;
    if (is_type(value, TYPE_BINARY)) {
        const uint8_t* head = binary_rs_head(value);
        s.data.assign(head, head + binary_rs_length(value));
    } else {
        s.data = binary_text_bytes(value);
    }
    return true;
}

// What the child wrote, inserted at the target's position: the bytes into a
// binary!, their text into a string! (UTF-8, with U+FFFD for bytes that are
// none, so that no output is refused once the command has run).
void insert_output(const Cell* target, const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return;
    if (bytes.size() > UINT32_MAX / 4) fire(Err::internal_no_memory);
    Cell* into = stack::push(target);
    Cell* text = stack::push_slot();
    const uint32_t n = uint32_t(bytes.size());
    if (is_type(target, TYPE_BINARY)) binary_load_at(bytes.data(), n, text);
    else make_series(text, TYPE_STRING, load_text_replacing(bytes.data(), n));
    insert_direct(into, text, -1, false, 1);
}

void native_call(const int32_t* refinements) {
    Cell* args = stack::arguments;
    const bool wait = refinements[native_ref(NAT_CALL, "wait")] >= 0;
    const bool console = refinements[native_ref(NAT_CALL, "console")] >= 0;
    const bool shell = refinements[native_ref(NAT_CALL, "shell")] >= 0;
    // /show asks for the command's window to be shown: commands here have none.
    const int32_t at[3] = {refinements[native_ref(NAT_CALL, "input")], refinements[native_ref(NAT_CALL, "output")],
                           refinements[native_ref(NAT_CALL, "error")]};

    int result = 0;
    if (string_rs_length(&args[0]) > 0) {
        ChildStream streams[3];
        // Without /console, output and error that are not collected are dropped.
        if (!console) streams[1].kind = streams[2].kind = ChildStream::Kind::null_device;
        bool ok = true;
        bool redirected = false;
        for (int i = 0; i < 3; i++) {
            if (at[i] < 0) continue;
            redirected = true;
            ok = ok && stream_of(args + at[i], i == 0, streams[i]);
        }
        // The text of the command, or a file! as one quoted word: a program
        // whose path holds blanks or quotes is still that one program.
        std::optional<std::string> command = file_to_os_path(&args[0]);
        if (command && is_type(&args[0], TYPE_FILE)) command = platform::quote_word(*command);
        result = ok && command ? platform::run_command(*command, shell, wait || console || redirected, streams[0],
                                                       streams[1], streams[2])
                               : -1;
        // The child has been waited for: output that ran out of memory is
        // an error, not a silently shortened result.
        if (streams[1].out_of_memory || streams[2].out_of_memory) fire(Err::internal_no_memory);
        for (int i = 1; i < 3; i++)
            if (at[i] >= 0 && streams[i].kind == ChildStream::Kind::pipe) insert_output(args + at[i], streams[i].data);
    }
    make_integer(&args[0], result);
    stack::top = args + 1;
}

void native_browse(const int32_t* refinements) {
    Cell* args = stack::arguments;
    std::optional<std::string> target = file_to_os_path(&args[0]);
    // A file name that starts with "-" would read as an option of the opener.
    if (target && is_type(&args[0], TYPE_FILE) && target->starts_with('-')) target->insert(0, "./");
    const int rc = target ? platform::start_program({"xdg-open", *target}) : EINVAL;
    if (rc == ENOENT || rc == EACCES || rc == ENOEXEC) fire(Err::internal_not_here, rt_words.browse);
    if (rc != 0) fire(Err::access_cannot_open, args[0]);
    make_unset(&args[0]);
    stack::top = args + 1;
}

} // namespace

void register_call_natives() {
    native_register(NAT_CALL, native_call);
    native_register(NAT_BROWSE, native_browse);
}

} // namespace kem
