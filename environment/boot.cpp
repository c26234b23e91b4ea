#include "environment/boot.h"
#include "environment/system.h"
#include <cstring>
#include "console/terminal.h"
#include "environment/startup.h"
#include "runtime/collector/collector.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/lexer/lexer.h"

extern const char kem_source_boot[];

namespace kem {

namespace {
bool library_ready = false;
} // namespace

void boot_library() {
    Cell* code = stack::push_slot();
    lexer_scan(code, reinterpret_cast<const uint8_t*>(kem_source_boot), uint32_t(std::strlen(kem_source_boot)), false,
               true, true, true, nullptr, nullptr, nullptr, nullptr);
    Cell body = *code;
    body.data1 += 2;  // past the Kem [...] header
    // The collector runs from the boot script on.
    collector::set_active(true);
    interp::eval_block(&body, false);
    stack::init();
}

void boot_all() {
    if (library_ready) return;
    init_runtime();
    boot_typesets();
    boot_routines();
    boot_operators();
    boot_library();
    boot_system();
    boot_constants();
    // Whether lines are edited on a terminal, and its size for system/console.
    terminal::init();
    startup_word_mode = false;
    library_ready = true;
}

} // namespace kem
