#include "environment/boot.h"
#include "console/terminal.h"
#include "environment/startup.h"
#include "environment/system.h"
#include "runtime/collector/collector.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/platform/exit.h"
#include "runtime/services/output.h"

namespace kem {

namespace {
bool library_ready = false;
} // namespace

const Cell* boot_code(uint32_t n) {
    if (n >= boot_value_count()) {
        write_utf8("Error: the boot block holds no library", true);
        exit_process(1);
    }
    return boot_value(n);
}

void boot_library(bool late) {
    const uint32_t early_end = BOOT_SCRIPTS + uint32_t(cell_int(boot_code(BOOT_EARLY_COUNT)));
    for (uint32_t i = late ? early_end : BOOT_SCRIPTS; i < (late ? boot_value_count() : early_end); i++) {
        const Cell body = *boot_code(i);
        interp::eval_block(&body, false);
        stack::init();
    }
}

void boot_all() {
    if (library_ready) return;
    init_runtime();
    boot_typesets();
    boot_routines();
    // The collector runs from the boot script on.
    collector::set_active(true);
    function_set_system_mode(true);
    boot_library(false);
    boot_system();
    boot_operators();
    boot_constants();
    boot_library(true);
    function_set_system_mode(false);
    // Whether lines are edited on a terminal, and its size for system/console.
    terminal::init();
    startup_word_mode = false;
    library_ready = true;
}

} // namespace kem
