// kem: the program's entry point. Everything runs on the interpreter thread.
#include <csignal>
#include <cstdio>
#include "runtime/exit.h"
#include "runtime/boot.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/platform/thread.h"

namespace {

int run(void*) {
    kem::console_save_attributes();
    kem::init_runtime();
    kem::write_utf8("Kem: the evaluator and console are not built yet.", true);
    kem::report_runtime_error(0, nullptr);
}

} // namespace

int main(int argc, char** argv) {
    // A closed pipe on standard output is a write error to ignore, not a reason to die.
    std::signal(SIGPIPE, SIG_IGN);
    return kem::platform::run_interpreter_thread(run, nullptr);
}
