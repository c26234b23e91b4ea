// kem: the program's entry point.
#include <cstdio>
#include "runtime/exit.h"
#include "runtime/memory.h"

int main(int argc, char** argv) {
    kem::memory_init();
    std::fputs("Kem: the evaluator and console are not built yet.\n", stdout);
    kem::report_runtime_error(0, nullptr);
}
