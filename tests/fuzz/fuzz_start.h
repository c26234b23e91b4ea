// Shared start of the fuzz targets that run on a booted runtime: boot once, and
// since nothing is kept from one input to the next, let the collector have it
// every 512 inputs so long runs stay within the memory limit.
//
// What does outlast the inputs is reported at exit: interned names are never
// removed, so random input that becomes words (the keys of JSON objects, say)
// grows the symbol table by each new word, bounded by the distinct words seen.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include "environment/boot.h"
#include "runtime/collector/collector.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/symbol.h"

inline void fuzz_report_memory() {
    std::fprintf(stderr, "kem: %u symbols, %llu KB live in series at the last collection, %llu KB of frames held\n",
                 kem::symbol_count(), static_cast<unsigned long long>(kem::collector::stats.live_bytes >> 10),
                 static_cast<unsigned long long>(kem::memory.total >> 10));
}

inline void fuzz_start_input() {
    static bool ready = [] {
        kem::boot_all();
        std::atexit(fuzz_report_memory);
        return true;
    }();
    (void)ready;
    static uint32_t runs = 0;
    if (++runs % 512 == 0) {
        kem::stack::init();
        kem::collector::collect();
    }
}
