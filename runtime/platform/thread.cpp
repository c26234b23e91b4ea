#include "runtime/platform/thread.h"
#include <pthread.h>
#include <signal.h>
#include <cstdint>
#include <initializer_list>
#include <cstdlib>
#include "runtime/platform/exit.h"

namespace kem::platform {

namespace {

struct ThreadStart {
    int (*body)(void*);
    void* arg;
    int result;
};

uintptr_t stack_low = 0;    // lowest usable address of the interpreter stack
uintptr_t guard_size = 0;
constexpr size_t ALT_STACK_SIZE = 64 * 1024;

void on_fault(int sig, siginfo_t* info, void* context) {
    auto addr = reinterpret_cast<uintptr_t>(info->si_addr);
    // A fault just below the stack's low end is the stack running out.
    bool overflow = sig == SIGSEGV && stack_low != 0 && addr < stack_low && addr + guard_size + 65536 >= stack_low;
    void* pc = nullptr;
#if defined(__x86_64__)
    pc = reinterpret_cast<void*>(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
#endif
    report_runtime_error(fault_number(sig, info->si_code, overflow), pc);
}

void install_fault_handlers() {
    // Keep an alternate stack that is already set (the sanitizers make their own).
    stack_t current{};
    if (sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_DISABLE)) {
        stack_t alt{};
        alt.ss_sp = std::malloc(ALT_STACK_SIZE);
        alt.ss_size = ALT_STACK_SIZE;
        alt.ss_flags = 0;
        if (alt.ss_sp) sigaltstack(&alt, nullptr);
    }
    struct sigaction sa{};
    sa.sa_sigaction = on_fault;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) sigaction(sig, &sa, nullptr);
}

void* thread_main(void* p) {
    auto* start = static_cast<ThreadStart*>(p);
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        void* addr;
        size_t size;
        pthread_attr_getstack(&attr, &addr, &size);
        pthread_attr_getguardsize(&attr, &guard_size);
        stack_low = reinterpret_cast<uintptr_t>(addr);
        pthread_attr_destroy(&attr);
    }
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
    install_fault_handlers();
    start->result = start->body(start->arg);
    return nullptr;
}

} // namespace

uintptr_t machine_stack_top() {
    thread_local uintptr_t top = [] {
        uintptr_t end = 0;
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            void* addr;
            size_t size;
            if (pthread_attr_getstack(&attr, &addr, &size) == 0) end = reinterpret_cast<uintptr_t>(addr) + size;
            pthread_attr_destroy(&attr);
        }
        return end;
    }();
    return top;
}

int fault_number(int sig, int code, bool stack_overflow) {
    switch (sig) {
    case SIGSEGV: return stack_overflow ? 19 : 1;
    case SIGBUS: return code == BUS_ADRALN ? 2 : 34;
    case SIGILL: return code == ILL_PRVOPC ? 15 : 17;
    case SIGFPE:
        switch (code) {
        case FPE_INTDIV: return 13;
        case FPE_INTOVF: return 14;
        case FPE_FLTDIV: return 7;
        case FPE_FLTOVF: return 10;
        case FPE_FLTUND: return 12;
        case FPE_FLTRES: return 8;
        case FPE_FLTINV: return 9;
        case FPE_FLTSUB: return 5;
        default: return 33;
        }
    default: return 99;
    }
}

int run_interpreter_thread(int (*body)(void*), void* arg, size_t stack_size) {
    ThreadStart start{body, arg, 0};
    // Only the interpreter thread takes signals.
    sigset_t all, old;
    sigfillset(&all);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) sigdelset(&all, sig);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, stack_size);
    pthread_t thread;
    if (pthread_create(&thread, &attr, thread_main, &start) != 0) {
        pthread_attr_destroy(&attr);
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        return body(arg);
    }
    pthread_attr_destroy(&attr);
    pthread_join(thread, nullptr);
    return start.result;
}

} // namespace kem::platform
