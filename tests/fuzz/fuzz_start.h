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
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/allocator_interface.h>
#define KEM_FUZZ_HEAP_STATS 1
#endif
#endif
#include <unistd.h>

inline void fuzz_report_memory() {
    std::fprintf(stderr, "kem: %u symbols, %llu KB live in series at the last collection, %llu KB of frames held\n",
                 kem::symbol_count(), static_cast<unsigned long long>(kem::collector::stats.live_bytes >> 10),
                 static_cast<unsigned long long>(kem::memory.total >> 10));
}

// KEM_FUZZ_LOG=1: whenever the resident size sets a new high (by 1 MB), one
// line of what holds it: the runtime's frames (series frames with the bytes
// in use, node frames with the nodes in use, big frames), the series bytes
// live at the last collection, and the sanitizer's heap (mapped, in use).
inline void fuzz_log_memory(uint32_t runs) {
    static const bool on = std::getenv("KEM_FUZZ_LOG") != nullptr;
    static uint64_t high = 0;
    if (!on) return;
    unsigned long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%lu %lu", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    const uint64_t rss = uint64_t(resident) * uint64_t(sysconf(_SC_PAGESIZE));
    if (rss < high + (1u << 20)) return;
    high = rss;
    uint64_t series = 0, series_used = 0, big = 0, nodes = 0;
    uint32_t series_frames = 0, node_frames = 0, big_frames = 0;
    for (kem::SeriesFrame* f = kem::memory.first_series_frame; f; f = f->next)
        series_frames++, series += f->size, series_used += uint64_t(f->free - f->first());
    for (kem::NodeFrame* f = kem::memory.first_node_frame; f; f = f->next) node_frames++, nodes += f->used;
    for (kem::BigFrame* f = kem::memory.big_frames; f; f = f->next) big_frames++, big += f->request;
#ifdef KEM_FUZZ_HEAP_STATS
    const uint64_t heap = __sanitizer_get_heap_size(), heap_used = __sanitizer_get_current_allocated_bytes();
#else
    const uint64_t heap = 0, heap_used = 0;
#endif
    auto kb = [](uint64_t n) { return static_cast<unsigned long long>(n >> 10); };
    std::fprintf(stderr,
                 "kem: input %u, %llu KB resident, %llu KB of frames: %u series frames of %llu KB (%llu KB used), "
                 "%u node frames (%llu nodes), %u big frames of %llu KB; %llu KB live at collection %u; "
                 "heap %llu KB (%llu KB used)\n",
                 runs, kb(rss), kb(kem::memory.total), series_frames, kb(series), kb(series_used), node_frames,
                 static_cast<unsigned long long>(nodes), big_frames, kb(big), kb(kem::collector::stats.live_bytes),
                 kem::collector_switch.count, kb(heap), kb(heap_used));
}

inline void fuzz_start_input() {
    static bool ready = [] {
        kem::boot_all();
        std::atexit(fuzz_report_memory);
        return true;
    }();
    (void)ready;
    static uint32_t runs = 0;
    fuzz_log_memory(runs);
    if (++runs % 512 == 0) {
        kem::stack::init();
        kem::collector::collect();
    }
}
