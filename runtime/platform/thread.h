// The interpreter's own thread and the processor faults.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kem::platform {

// Bytes of machine stack the interpreter thread gets: deep enough that the call
// stack's frame limit is reached before the machine stack is.
constexpr size_t INTERPRETER_STACK_SIZE = size_t(1) << 30;

// Runs body on a new thread with a large stack and an alternate signal stack,
// with processor faults reported as runtime errors; the calling thread only
// waits, with asynchronous signals blocked. Returns body's result.
int run_interpreter_thread(int (*body)(void*), void* arg, size_t stack_size = INTERPRETER_STACK_SIZE);

// Just past the highest address of the calling thread's machine stack (the
// stack grows down toward its low end); 0 when the system does not say.
uintptr_t machine_stack_top();

// The runtime error number for a processor fault (signal number and si_code),
// and whether a faulting address lies in the interpreter's stack guard.
int fault_number(int signal, int code, bool stack_overflow);

} // namespace kem::platform
