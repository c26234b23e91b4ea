// kem: the program's entry point. Everything runs on the interpreter thread.
#include <csignal>
#include <string>
#include "environment/boot.h"
#include "environment/script.h"
#include "runtime/platform/exit.h"
#include "runtime/platform/os.h"
#include "runtime/platform/thread.h"
#include "runtime/services/output.h"

namespace {

struct Args {
    int argc;
    char** argv;
};

int run(void* p) {
    auto* args = static_cast<Args*>(p);
    kem::console_save_attributes();
    kem::boot_all();
    // Leading "--" arguments are switches; the first other argument names a script.
    int i = 1;
    for (; i < args->argc; i++) {
        std::string a = args->argv[i];
        if (a == "--") {
            i++;
            break;
        }
        if (a.rfind("--", 0) != 0) break;
    }
    int status = 0;
    if (i < args->argc) status = kem::run_script_file(args->argv[i]);
    else kem::write_utf8("Kem: the console is not built yet; run a script: kem FILE", true);
    kem::exit_process(status);
}

} // namespace

int main(int argc, char** argv) {
    // A closed pipe on standard output is a write error to ignore, not a reason to die.
    std::signal(SIGPIPE, SIG_IGN);
    kem::platform::set_command_line(argc, argv);
    Args args{argc, argv};
    return kem::platform::run_interpreter_thread(run, &args);
}
