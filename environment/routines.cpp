// The global routines the boot code binds: C++ bodies with a Kem spec.
#include <algorithm>
#include <cstring>
#include "console/terminal.h"
#include "environment/boot.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/stack_words.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/trace.h"
#include "runtime/io/clipboard.h"
#include "runtime/io/routines.h"
#include "runtime/lexer/lexer.h"
#include "runtime/platform/exit.h"
#include "runtime/platform/platform.h"
#include "runtime/services/unicode/utf.h"
#include "view/gui_routines.h"

namespace kem {

namespace {

Cell* quit_return(Cell* args) { exit_process(cell_int(args)); }

// Assignments that no change handler or owner hears of: the handlers
// themselves use them to undo or complete a change.
Cell* set_quiet(Cell* args) {
    const uint8_t t = type_of(args);
    if (t != TYPE_WORD && t != TYPE_SET_WORD && t != TYPE_LIT_WORD && t != TYPE_GET_WORD) fire_expect_arg(args, 0);
    Cell word = args[0];
    const Cell value = args[1];
    context_set_in(&word, &value, word.data1, false);
    args[0] = value;
    return args;
}

Cell* set_slot_quiet(Cell* args) {
    if (!any_block_type(type_of(args))) fire_expect_arg(args, 0);
    const int32_t pos = series_position(args);
    if (pos >= 0 && uint32_t(pos) < block_full_length(args)) *block_rs_abs_at(args, uint32_t(pos)) = args[1];
    return args;
}

// The shift routines run the shift native with one refinement or none.
Cell* shift_with(int refinement) {
    int32_t refs[2] = {-1, -1};
    if (refinement >= 0) refs[refinement] = 1;
    native_table[NAT_SHIFT](refs);
    return stack::arguments;
}
Cell* shift_right(Cell*) { return shift_with(-1); }
Cell* shift_left(Cell*) { return shift_with(native_ref(NAT_SHIFT, "left")); }
Cell* shift_logical(Cell*) { return shift_with(native_ref(NAT_SHIFT, "logical")); }

Cell* get_current_dir(Cell* args) {
    args[0] = *file_get_current_dir();
    return args;
}

Cell* set_current_dir(Cell* args) {
    const auto path = file_to_os_path(args);
    if (!path || !platform::set_current_dir(*path)) fire(Err::access_cannot_open, args[0]);
    return args;
}

// The first negative component is refused; no upper bound is checked.
void check_components(const Cell* args, int n) {
    for (int i = 0; i < n; i++)
        if (cell_int(args + i) < 0) fire(Err::script_invalid_arg, args[i]);
}

Cell* as_color(Cell* args) {
    check_components(args, 3);
    uint8_t bytes[3];
    for (int i = 0; i < 3; i++) bytes[i] = uint8_t(cell_int(args + i) & 0xFF);
    tuple_make_at(args, bytes, 3);
    return args;
}

// The four components as one 32-bit value, a in the lowest byte: a component
// above 255 spills into the next byte and what passes the fourth is lost.
Cell* as_ipv4(Cell* args) {
    check_components(args, 4);
    uint32_t packed = 0;
    for (int i = 0; i < 4; i++) packed |= uint32_t(cell_int(args + i)) << (8 * i);
    uint8_t bytes[4];
    for (int i = 0; i < 4; i++) bytes[i] = uint8_t(packed >> (8 * i));
    tuple_make_at(args, bytes, 4);
    return args;
}

// read-clipboard: false on failure, none when empty, else a string!, a
// block! of file! or an image!.
Cell* read_clipboard(Cell* args) {
    args[0] = *clipboard_read();
    return args;
}

// write-clipboard data: whether every format was set.
Cell* write_clipboard(Cell* args) {
    make_logic(&args[0], clipboard_write(&args[0]));
    return &args[0];
}

Cell* last_lf_q_routine(Cell* result) {
    make_logic(result, natives::last_lf_q != 0);
    return result;
}

// Characters of the UTF-8 bytes from start's position to pos's, both taken as
// byte offsets into start's buffer: a sequence that begins before the end
// counts even when it runs past it.
Cell* count_chars(Cell* args) {
    SeriesBuffer* b = series_buffer(&args[0]);
    const uint8_t* const data = b->head_ptr();
    const int64_t used = b->used();
    const int64_t from = std::clamp<int64_t>(series_position(&args[0]), 0, used);
    const int64_t to = std::clamp<int64_t>(series_position(&args[1]), 0, used);
    int32_t n = 0;
    for (const uint8_t* p = data + from; p < data + to; n++) {
        int32_t cp;
        p = unicode::fast_decode_utf8_char(p, data + used, &cp);
    }
    make_integer(&args[0], n);
    return args;
}

Cell* stack_size_q(Cell* result) {
    make_integer(result, int32_t(stack::top - stack::bottom));
    return result;
}

Cell* pick_stack(Cell* args) {
    const int32_t idx = cell_int(args);
    if (idx > 0 && idx < stack::top - stack::bottom) args[0] = stack::bottom[idx - 1];
    else make_none(args);
    return args;
}

Cell* frame_index_q(Cell* result) {
    make_integer(result, int32_t(stack::arguments - stack::bottom));
    return result;
}

Cell* collect_calls_routine(Cell* args) {
    stack::collect_calls(&args[0]);
    return args;
}

Cell* tracing_q(Cell* result) {
    make_logic(result, interp::tracing);
    return result;
}

// trace true or false: delivery of the run in progress; outside one it stays off.
Cell* set_tracing(Cell* args) {
    interp::trace_switch(is_truthy(&args[0]));
    make_unset(args);
    return args;
}

void bind_routine(const char* name, const char* spec_text, RoutineFn fn) {
    const Cell routine = make_routine(spec_text, fn);
    context_set_global(symbol_make(name), &routine);
}

} // namespace

Cell make_routine(const char* spec_text, RoutineFn fn) {
    Cell* const saved_top = stack::top;
    Cell* spec = stack::push_slot();
    lexer_scan(spec, reinterpret_cast<const uint8_t*>(spec_text), uint32_t(std::strlen(spec_text)), true, true, true,
               false, nullptr, nullptr, nullptr, nullptr);
    const Cell routine = *routine_register(spec, fn);
    stack::top = saved_top;
    return routine;
}

void boot_constants() {
    // A handle! of value 0: no literal or make can write one.
    Cell null_handle{TYPE_NONE, 0, 0, 0};
    handle_set_in(&null_handle, 0, HANDLE_CLASS_NULL);
    context_set_global(symbol_make("null-handle"), &null_handle);
}

void boot_routines() {
    static const RoutineEntry table[] = {
        {"quit-return",
         R"KEM(["Stops evaluation and exits the program with a given status" status [integer!] "Process termination value to return"])KEM",
         quit_return},
        {"set-quiet",
         R"KEM(["Set an object's field to a value without triggering eventual object's events" word [any-type!] value [any-type!] return: [any-type!]])KEM",
         set_quiet},
        {"set-slot-quiet",
         R"KEM(["Set a value in series without triggering eventual owner's events" series [any-type!] value [any-type!]])KEM",
         set_slot_quiet},
        {"shift-right", R"KEM(["Shift bits to the right" data [integer!] bits [integer!]])KEM", shift_right},
        {"shift-left", R"KEM(["Shift bits to the left" data [integer!] bits [integer!]])KEM", shift_left},
        {"shift-logical", R"KEM(["Shift bits to the right (unsigned)" data [integer!] bits [integer!]])KEM",
         shift_logical},
        {"get-current-dir", R"KEM(["Returns the platform's current directory for the process"])KEM", get_current_dir},
        {"set-current-dir", R"KEM(["Sets the platform's current process directory" path [file!]])KEM", set_current_dir},
        {"last-lf?", R"KEM(["Internal Use Only"])KEM", last_lf_q_routine},
        {"as-color", R"KEM(["Combine R, G and B values into a tuple" r [integer!] g [integer!] b [integer!]])KEM",
         as_color},
        {"as-ipv4",
         R"KEM(["Combine a, b, c and d values into a tuple" a [integer!] b [integer!] c [integer!] d [integer!]])KEM",
         as_ipv4},
        {"as-rgba",
         R"KEM(["Combine R, G, B and A color components into a tuple" r [integer!] g [integer!] b [integer!] a [integer!]])KEM",
         as_ipv4},
        {"count-chars",
         R"KEM(["Count UTF-8 encoded characters between two positions in a binary series" start [binary!] pos [binary!] return: [integer!]])KEM",
         count_chars},
        {"stack-size?", R"KEM([return: [integer!]])KEM", stack_size_q},
        {"pick-stack", R"KEM([idx [integer!]])KEM", pick_stack},
        {"frame-index?", R"KEM([return: [integer!]])KEM", frame_index_q},
        {"collect-calls", R"KEM([blk [block!]])KEM", collect_calls_routine},
        {"tracing?", R"KEM([])KEM", tracing_q},
        {"set-tracing", R"KEM(["Internal Use Only" on [logic!]])KEM", set_tracing},
        {"read-clipboard",
         R"KEM(["Return the contents of the system clipboard" return: [any-type!] "false on failure, none if empty, otherwise: string!, block! of files!, or an image!"])KEM",
         read_clipboard},
        {"write-clipboard",
         R"KEM(["Write content to the system clipboard" data [any-type!] "string!, block! of files!, an image! or none!" return: [logic!] "indicates success"])KEM",
         write_clipboard},
    };
    for (const auto& r : table) bind_routine(r.name, r.spec, r.fn);
    for (const auto& r : terminal::routines()) bind_routine(r.name, r.spec, r.fn);
    for (const auto& r : io_routines()) bind_routine(r.name, r.spec, r.fn);
    for (const auto& r : gui::routines()) bind_routine(r.name, r.spec, r.fn);
    boot_type_predicates();
}

} // namespace kem
