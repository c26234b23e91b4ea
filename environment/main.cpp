// kem: the program's entry point. Everything runs on the interpreter thread.
#include <cstdio>
#include "runtime/exit.h"
#include "runtime/memory.h"
#include "runtime/platform/thread.h"

namespace {

int run(void*) {
    kem::memory_init();
    std::fputs("Kem: the evaluator and console are not built yet.\n", stdout);
    kem::report_runtime_error(0, nullptr);
}

} // namespace

int main(int argc, char** argv) { return kem::platform::run_interpreter_thread(run, nullptr); }
