#include "view/gui_routines.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/symbol.h"
#include "view/backends/terminal/console_modes.h"
#include "view/backends/terminal/platform_routines.h"
#include <vector>

namespace kem::gui {

namespace {

Cell* event_q(Cell* args) {
    make_logic(args, is_type(args, TYPE_EVENT));
    return args;
}

// This backend has no queue of its own to send events to.
Cell* send_event_os(Cell* args) {
    make_logic(args, false);
    return args;
}

bool same_flag(const Cell* value, uint32_t flag) {
    const uint8_t t = type_of(value);
    return (t == TYPE_WORD || t == TYPE_LIT_WORD) && symbol_resolve(value->data2) == flag;
}

Cell* find_flag_q(Cell* args) {
    const uint32_t flag = symbol_resolve(args[1].data2);
    bool found = false;
    if (is_type(args, TYPE_WORD)) {
        found = symbol_resolve(args->data2) == flag;
    } else if (is_type(args, TYPE_BLOCK)) {
        const int32_t n = block_rs_length(args);
        const Cell* at = block_rs_head(args);
        for (int32_t i = 0; i < n && !found; i++) found = same_flag(at + i, flag);
    }
    make_logic(args, found);
    return args;
}

Cell* make_null_handle(Cell* args) {
    handle_set_in(args, 0, HANDLE_CLASS_NULL);
    return args;
}

// This backend has one screen, the console: no list to give.
Cell* fetch_all_screens(Cell* args) {
    make_none(args);
    return args;
}

Cell* get_screen_size(Cell* args) {
    int width = 80;
    int height = 24;
    console_size(&width, &height);
    pair_set_in(args, width, height);
    return args;
}

constexpr RoutineEntry ROUTINES[] = {
    {"event?", R"KEM(["Returns true if the value is an event" value [any-type!] return: [logic!]])KEM", event_q},
    {"send-event-os", R"KEM([event [event!] queued? [logic!] return: [logic!]])KEM", send_event_os},
    {"find-flag?", R"KEM([facet [any-type!] flag [word!] return: [logic!]])KEM", find_flag_q},
};

constexpr RoutineEntry PLATFORM_ROUTINES[] = {
    {"make-null-handle", R"KEM([return: [handle!]])KEM", make_null_handle},
    {"fetch-all-screens", R"KEM([return: [block! none!]])KEM", fetch_all_screens},
    {"get-screen-size", R"KEM([id [integer!] return: [pair!]])KEM", get_screen_size},
};

} // namespace

std::span<const RoutineEntry> routines() { return ROUTINES; }
std::span<const RoutineEntry> platform_routines() {
    static const std::vector<RoutineEntry> all = [] {
        std::vector<RoutineEntry> v(std::begin(PLATFORM_ROUTINES), std::end(PLATFORM_ROUTINES));
        v.insert(v.end(), BACKEND_PLATFORM_ROUTINES, BACKEND_PLATFORM_ROUTINES + BACKEND_PLATFORM_ROUTINE_COUNT);
        return v;
    }();
    return all;
}

} // namespace kem::gui
