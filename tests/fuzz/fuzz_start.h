// Shared start of the fuzz targets that run on a booted runtime: boot once, and
// since nothing is kept from one input to the next, let the collector have it
// every 512 inputs so long runs stay within the memory limit.
#pragma once
#include <cstdint>
#include "environment/boot.h"
#include "runtime/collector/collector.h"
#include "runtime/core/stack.h"

inline void fuzz_start_input() {
    static bool ready = [] {
        kem::boot_all();
        return true;
    }();
    (void)ready;
    static uint32_t runs = 0;
    if (++runs % 512 == 0) {
        kem::stack::init();
        kem::collector::collect();
    }
}
