// The console's end on Ctrl-C, taken in the signal handler.
#include "runtime/platform/interrupt.h"
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#include <atomic>
#include "runtime/platform/file_replace.h"
#include "runtime/platform/terminal.h"

namespace kem::platform {

namespace {

// Made and swapped in outside the handler; the handler only reads the one
// in place. One that is replaced is freed only after the swap, and the
// handler never returns to a free under way, so it never reads freed memory.
struct KeptFile {
    ReplacementNames names;
    std::vector<uint8_t> bytes;
};
std::atomic<KeptFile*> kept{nullptr};
static_assert(std::atomic<KeptFile*>::is_always_lock_free);

volatile sig_atomic_t ending = 0;

void on_interrupt(int) {
    // The handler runs again for a second interrupt (SA_NODEFER).
    if (ending) {
        restore_terminal();
        _exit(0);
    }
    ending = 1;
    restore_terminal();
    if (const KeptFile* f = kept.load()) {
        (void)replace_file(f->names.target.c_str(), f->names.temp.c_str(), f->bytes.data(), f->bytes.size());
    }
    _exit(0);
}

} // namespace

void arm_console_interrupt() {
    struct sigaction old{};
    if (sigaction(SIGINT, nullptr, &old) != 0) return;
    if (!(old.sa_flags & SA_SIGINFO) && old.sa_handler == SIG_IGN) return;
    struct sigaction sa{};
    sigemptyset(&sa.sa_mask);
    sa.sa_handler = on_interrupt;
    sa.sa_flags = SA_NODEFER;
    sigaction(SIGINT, &sa, nullptr);
}

void hold_interrupt() {
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
}

void release_interrupt() {
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    pthread_sigmask(SIG_UNBLOCK, &interrupt, nullptr);
}

void keep_file_for_interrupt(const std::string& path, std::vector<uint8_t> bytes) {
    std::optional<ReplacementNames> names = replacement_names(path);
    KeptFile* next = names ? new KeptFile{std::move(*names), std::move(bytes)} : nullptr;
    delete kept.exchange(next);
}

} // namespace kem::platform
