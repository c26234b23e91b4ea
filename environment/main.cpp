// kem: the program's entry point. Everything runs on the interpreter thread.
#include <csignal>
#include "environment/boot.h"
#include "runtime/platform/os.h"
#include "runtime/platform/thread.h"
#include "runtime/services/output.h"

namespace {

int run(void*) {
    kem::console_save_attributes();
    kem::boot_all();
    kem::run_console();
}

} // namespace

int main(int argc, char** argv) {
    // A closed pipe on standard output is a write error to ignore, not a reason to die.
    std::signal(SIGPIPE, SIG_IGN);
    kem::platform::set_command_line(argc, argv);
    return kem::platform::run_interpreter_thread(run, nullptr);
}
