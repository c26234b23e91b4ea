#include "runtime/platform/exit.h"
#include "runtime/platform/terminal.h"
#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" char __executable_start;  // the program's load address (set by the linker)

namespace kem {

namespace {
// Never destroyed: the blocks must stay reachable until the process ends.
std::vector<void*>& heap_blocks() {
    static auto* blocks = new std::vector<void*>;
    return *blocks;
}
} // namespace

void register_heap_block(void* block) { heap_blocks().push_back(block); }

void free_heap_blocks() {
    for (void* p : heap_blocks()) std::free(p);
    heap_blocks().clear();
}

const char* runtime_error_text(int n) {
    static const char* const processor[] = {
        "access violation", "invalid alignment", "breakpoint", "single step", "bounds exceeded",
        "float denormal operan", "float divide by zero", "float inexact result", "float invalid operation",
        "float overflow", "float stack check", "float underflow", "integer divide by zero", "integer overflow",
        "privileged instruction", "invalid virtual address", "illegal instruction", "non-continuable exception",
        "stack error or overflow", "invalid disposition", "guard page", "invalid handle", "illegal operand",
        "illegal addressing mode", "illegal trap", "coprocessor error", "non-existent physical address",
        "object specific hardware error", "hardware memory error consumed AR", "hardware memory error consumed AO",
        "privileged register", "segmentation fault", "FPU error", "Bus error"};
    if (n >= 1 && n <= 34) return processor[n - 1];
    switch (n) {
    case 94: return "out of memory";
    case 95: return "no CATCH for THROW";
    case 98: return "assertion failed";
    case 99: return "unknown error";
    case 100: return "no value matched in CASE";
    case 101: return "no value matched in SWITCH";
    default: return "unknown error code!";
    }
}

void report_runtime_error(int n, const void* address) {
    // Also from a fault handler: the terminal is put back before anything else.
    platform::restore_terminal();
    if (n != 0) {
        // The code address is reported as an offset into the program image, which
        // fits the report's eight digits and is the same from run to run.
        uintptr_t a = reinterpret_cast<uintptr_t>(address);
        uintptr_t base = reinterpret_cast<uintptr_t>(&__executable_start);
        uint32_t shown = static_cast<uint32_t>(a >= base ? a - base : a);
        char text[160];
        int len = std::snprintf(text, sizeof text, "\n*** Runtime Error %d: %s\n*** at: %08Xh\n", n,
                                runtime_error_text(n), shown);
        std::fflush(stdout);
        if (len > 0 && write(STDOUT_FILENO, text, static_cast<size_t>(len)) < 0) {
            // Nothing more can be done when standard output is gone.
        }
    }
    std::fflush(stdout);
    free_heap_blocks();
    std::_Exit(n & 0xFF);
}

void exit_process(int status) {
    platform::restore_terminal();
    std::fflush(stdout);
    free_heap_blocks();
    std::_Exit(status & 0xFF);
}

} // namespace kem
