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

void boot_library() {
    for (uint32_t i = BOOT_SCRIPTS; i < boot_value_count(); i++) {
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
    boot_library();
    boot_system();
    function_set_system_mode(false);
    boot_operators();
    boot_constants();
    // Whether lines are edited on a terminal, and its size for system/console.
    terminal::init();
    startup_word_mode = false;
    library_ready = true;
}

} // namespace kem
