// The global routines the boot code binds: C++ bodies with a Kem spec.
#include <cstring>
#include "console/terminal.h"
#include "environment/boot.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/interpreter/natives.h"
#include "runtime/lexer/lexer.h"

namespace kem {

namespace {

// The shift routines run the shift native with one refinement or none.
Cell* shift_with(int refinement) {
    int32_t refs[2] = {-1, -1};
    if (refinement >= 0) refs[refinement] = 1;
    native_table[NAT_SHIFT](false, refs);
    return stack::arguments;
}
Cell* shift_right(Cell*) { return shift_with(-1); }
Cell* shift_left(Cell*) { return shift_with(native_ref(NAT_SHIFT, "left")); }
Cell* shift_logical(Cell*) { return shift_with(native_ref(NAT_SHIFT, "logical")); }

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
    bind_routine("shift-right", R"KEM(["Shift bits to the right" data [integer!] bits [integer!]])KEM", shift_right);
    bind_routine("shift-left", R"KEM(["Shift bits to the left" data [integer!] bits [integer!]])KEM", shift_left);
    bind_routine("shift-logical", R"KEM(["Shift bits to the right (unsigned)" data [integer!] bits [integer!]])KEM",
                 shift_logical);
    for (const auto& r : terminal::routines()) bind_routine(r.name, r.spec, r.fn);
}

} // namespace kem
