// UTF-8 decode and encode throughput: loading text into a string series, counting
// code points, and converting strings of each unit width back to UTF-8.
#include <benchmark/benchmark.h>
#include <string>
#include <vector>
#include "runtime/core/memory.h"
#include "runtime/services/unicode/text.h"
#include "runtime/services/unicode/utf.h"

using namespace kem;

namespace {

constexpr size_t TEXT_BYTES = 1 << 20;

// About a megabyte of UTF-8 built by repeating a sample line. Kinds: 0 ASCII,
// 1 Latin-1 letters (1-byte units), 2 Greek and CJK (2-byte units), 3 with emoji.
std::string sample_text(int kind) {
    static const char* const lines[] = {
        "The quick brown fox jumps over the lazy dog; 0123456789.\n",
        "D\xC3\xA9j\xC3\xA0 vu: na\xC3\xAFve fa\xC3\xA7" "ade, \xC3\xBC" "ber Stra\xC3\x9F" "e.\n",
        "\xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1 \xE4\xB8\xAD\xE6\x96\x87\xE5\xAD\x97 text mixed in.\n",
        "Emoji \xF0\x9F\x98\x80 and \xF0\x9F\x8E\x89 among \xE4\xB8\xAD words.\n",
    };
    std::string out;
    while (out.size() < TEXT_BYTES) out += lines[kind];
    return out;
}

void BM_Utf8Decode(benchmark::State& state) {
    memory_init();
    std::string text = sample_text(int(state.range(0)));
    auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    NodeId target = alloc_string_buffer(uint32_t(text.size()), 1);
    for (auto _ : state) {
        // Reset the unit so each pass widens like a fresh load, without allocating.
        SeriesBuffer* b = node_buffer(target);
        b->flags = (b->flags & ~SERIES_UNIT_MASK) | 1;
        b->tail = b->head;
        benchmark::DoNotOptimize(load_text(bytes, uint32_t(text.size()), target, nullptr, false));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_Utf8Decode)->DenseRange(0, 3)->ArgName("kind");

void BM_Utf8CountChars(benchmark::State& state) {
    std::string text = sample_text(int(state.range(0)));
    auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    for (auto _ : state) benchmark::DoNotOptimize(utf8_count_chars(bytes, bytes + text.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_Utf8CountChars)->DenseRange(0, 3)->ArgName("kind");

void BM_Utf8Encode(benchmark::State& state) {
    memory_init();
    std::string text = sample_text(int(state.range(0)));
    Cell s;
    make_series(&s, TYPE_STRING, load_text_new(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size())));
    int32_t out_bytes = 0;
    for (auto _ : state) {
        int32_t limit = -1;
        benchmark::DoNotOptimize(string_to_utf8_data(&s, &limit, false));
        out_bytes = limit;
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(out_bytes));
    state.counters["unit"] = double(node_buffer(series_node(&s))->unit());
}
BENCHMARK(BM_Utf8Encode)->DenseRange(0, 3)->ArgName("kind");

void BM_Utf16Encode(benchmark::State& state) {
    memory_init();
    std::string text = sample_text(int(state.range(0)));
    Cell s;
    make_series(&s, TYPE_STRING, load_text_new(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size())));
    for (auto _ : state) benchmark::DoNotOptimize(to_utf16_buffer(&s, nullptr, false));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_Utf16Encode)->DenseRange(0, 3)->ArgName("kind");

} // namespace
