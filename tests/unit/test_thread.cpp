#include <gtest/gtest.h>
#include <signal.h>
#include "runtime/platform/exit.h"
#include "runtime/platform/thread.h"

using namespace kem;

namespace {

// Each level keeps its own frame: the volatile read after the call stops the
// compiler from turning the recursion into a loop.
__attribute__((noinline)) int depth(int n) {
    volatile char pad[256];
    pad[0] = 1;
    if (n == 0) return 0;
    int below = depth(n - 1);
    return below + pad[0];
}

int deep_body(void*) { return depth(100000); }  // ~30 MB of machine stack

int fault_body(void* p) {
    volatile int* null_ptr = static_cast<int*>(p);
    return *null_ptr;
}

int overflow_body(void*) {
    volatile int n = 1 << 30;
    return depth(n);
}

} // namespace

TEST(InterpreterThread, RunsTheBodyOnALargeStack) {
    EXPECT_EQ(platform::run_interpreter_thread(deep_body, nullptr), 100000);
}

TEST(InterpreterThread, FaultNumbers) {
    struct { int sig, code; bool overflow; int expected; } cases[] = {
        {SIGSEGV, SEGV_MAPERR, false, 1},  {SIGSEGV, SEGV_MAPERR, true, 19}, {SIGFPE, FPE_INTDIV, false, 13},
        {SIGFPE, FPE_INTOVF, false, 14},   {SIGFPE, FPE_FLTDIV, false, 7},   {SIGFPE, FPE_FLTINV, false, 9},
        {SIGILL, ILL_ILLOPC, false, 17},   {SIGBUS, BUS_ADRERR, false, 34},  {SIGBUS, BUS_ADRALN, false, 2},
    };
    for (auto& c : cases) EXPECT_EQ(platform::fault_number(c.sig, c.code, c.overflow), c.expected) << c.sig;
}

TEST(InterpreterThreadDeathTest, AccessViolationIsRuntimeError1) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(platform::run_interpreter_thread(fault_body, nullptr), ::testing::ExitedWithCode(1),
                "");
}

TEST(InterpreterThreadDeathTest, MachineStackOverflowIsRuntimeError19) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(platform::run_interpreter_thread(overflow_body, nullptr, size_t(8) << 20),
                ::testing::ExitedWithCode(19), "");
}

TEST(RuntimeErrorReport, TextsAndExit) {
    EXPECT_STREQ(runtime_error_text(6), "float denormal operan");
    EXPECT_STREQ(runtime_error_text(94), "out of memory");
    EXPECT_STREQ(runtime_error_text(57), "unknown error code!");
    testing::internal::CaptureStdout();
    EXPECT_EXIT(report_runtime_error(13, nullptr), ::testing::ExitedWithCode(13), "");
    testing::internal::GetCapturedStdout();
}
