#include "environment/boot.h"
#include <new>
#include "console/terminal.h"
#include "environment/codecs.h"
#include "environment/startup.h"
#include "environment/system.h"
#include "runtime/collector/collector.h"
#include "runtime/core/roots.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/lexer/lexer.h"
#include "runtime/platform/exit.h"
#include "runtime/platform/vm.h"
#include "runtime/services/output.h"
#include "view/backends/terminal/platform_routines.h"
#include "view/gui_routines.h"

namespace kem {

namespace {
bool library_ready = false;
// Routine members of an object made by the library (their slots hold none
// until now).
void bind_members(const Cell& object, std::span<const gui::RoutineEntry> entries) {
    for (const auto& r : entries) {
        const Cell routine = make_routine(r.spec, r.fn);
        const Cell member = word_load(r.name);
        *const_cast<Cell*>(object_rs_select(&object, &member)) = routine;
    }
}

// The backend's members of system/view/platform and of TUI-helpers, then its
// set-up, which makes the screen face and names the fonts before any script
// runs.
void boot_view_platform() {
    const Cell sys = *context_global_value_cell(symbol_make("system"));
    const Cell view_word = word_load("view");
    const Cell platform_word = word_load("platform");
    const Cell view_obj = *object_rs_select(&sys, &view_word);
    const Cell platform = *object_rs_select(&view_obj, &platform_word);
    bind_members(platform, gui::platform_routines());
    const Cell helpers = *context_global_value_cell(symbol_make("TUI-helpers"));
    bind_members(helpers, {gui::TUI_ROUTINES, gui::TUI_ROUTINE_COUNT});
    gui::backend_init();
    static constexpr char INIT[] = "system/view/platform/init";
    Cell* code = stack::push_slot();
    lexer_scan(code, reinterpret_cast<const uint8_t*>(INIT), sizeof INIT - 1, false, true, true, true, nullptr,
               nullptr, nullptr, nullptr);
    const Cell body = *code;
    interp::eval_block(&body, false);
    stack::init();
}

} // namespace

const Cell* boot_code(uint32_t n) {
    if (n >= boot_value_count()) {
        write_utf8("Error: the boot block holds no library", true);
        exit_process(1);
    }
    return boot_value(n);
}

void boot_library(bool late, const Cell& internals) {
    const uint32_t early_end = BOOT_SCRIPTS + uint32_t(cell_int(boot_code(BOOT_EARLY_COUNT)));
    for (uint32_t i = late ? early_end : BOOT_SCRIPTS; i < (late ? boot_value_count() : early_end); i++) {
        Cell body = *boot_code(i);
        bind_library_internals(&body, internals);
        interp::eval_block(&body, false);
        stack::init();
    }
}

namespace {
void boot_steps() {
    init_runtime();
    boot_typesets();
    boot_routines();
    // The collector runs from the boot script on.
    collector::set_active(true);
    function_set_system_mode(true);
    const Cell internals = make_library_internals();
    RootedCell keep(&internals);
    boot_library(false, internals);
    boot_system();
    boot_operators();
    boot_constants();
    boot_library(true, internals);
    register_codecs(internals);
    boot_view_platform();
    boot_console_routines();
    function_set_system_mode(false);
    // Whether lines are edited on a terminal, and its size for system/console.
    terminal::init();
    startup_word_mode = false;
    library_ready = true;
}
} // namespace

void boot_all() {
    if (library_ready) return;
    // Without memory enough to start there is nothing to report an error
    // with: the fatal report ends the process, never an exception that
    // nothing catches.
    try {
        boot_steps();
    } catch (const KemError& e) {
        if (e.id != Err::internal_no_memory) throw;
        report_runtime_error(94, nullptr);
    } catch (const PlatformFault&) {
        report_runtime_error(94, nullptr);
    } catch (const std::bad_alloc&) {
        report_runtime_error(94, nullptr);
    }
}

void run_console() {
    static constexpr char launch[] = "cli-console-ctx/launch";
    try {
        Cell* code = stack::push_slot();
        lexer_scan(code, reinterpret_cast<const uint8_t*>(launch), uint32_t(sizeof launch - 1), false, true, true,
                   true, nullptr, nullptr, nullptr, nullptr);
        const Cell block = *code;
        // The start-up's own call: no report places an error in it.
        series_buffer(&block)->flags |= SERIES_SYSTEM_CODE;
        interp::eval_block(&block, false);
    } catch (const KemError& e) {
        error_print_report(e);
        exit_process(254);
    } catch (const PendingExit&) {
    }
    if (last_throw_code) report_runtime_error(95, nullptr);
    exit_process(0);
}

} // namespace kem
