// Insertion and lookup (in shuffled order) of 1M integer keys: a map! table
// (cells in a block), the collector's heap integer table, and
// std::unordered_map for the ratio.
#include <benchmark/benchmark.h>
#include <algorithm>
#include <cstdint>
#include <random>
#include <unordered_map>
#include <vector>
#include "runtime/core/memory.h"
#include "runtime/core/value.h"
#include "runtime/services/hashtable.h"

using namespace kem;

namespace {

constexpr int32_t N = 1000000;

const std::vector<int32_t>& keys() {
    static std::vector<int32_t> k = [] {
        std::vector<int32_t> v(N);
        for (int32_t i = 0; i < N; i++) v[size_t(i)] = int32_t(uint32_t(i) * 2654435761u);
        return v;
    }();
    return k;
}

// The same keys in another order: lookups should not ride on insertion order.
const std::vector<int32_t>& shuffled_keys() {
    static std::vector<int32_t> k = [] {
        std::vector<int32_t> v = keys();
        std::shuffle(v.begin(), v.end(), std::mt19937(42));
        return v;
    }();
    return k;
}

void start() {
    memory_init();
    hash_seed = HASH_SEED_AT_START;
}

// A map! of N integer keys, each key followed by its value.
NodeId build_map(NodeId* block_out) {
    NodeId block = alloc_cells(2 * N);
    Cell series;
    make_series(&series, TYPE_BLOCK, block);
    NodeId table = hash_make(0, &series, HASH_MAP, 0);
    uint32_t cell = 0;
    for (int32_t k : keys()) {
        SeriesBuffer* b = node_buffer(block);
        make_integer(alloc_tail(b), k);
        make_integer(alloc_tail(node_buffer(block)), 1);
        hash_insert_cell(table, cell);
        cell += 2;
    }
    *block_out = block;
    return table;
}

void BM_MapInsert(benchmark::State& state) {
    start();
    for (auto _ : state) {
        NodeId block;
        benchmark::DoNotOptimize(build_map(&block));
        state.PauseTiming();
        memory_free_all();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * N);
}

void BM_MapLookup(benchmark::State& state) {
    start();
    NodeId block;
    NodeId table = build_map(&block);
    for (auto _ : state) {
        Cell key;
        for (int32_t k : shuffled_keys()) {
            make_integer(&key, k);
            benchmark::DoNotOptimize(hash_find_options(table, &key, 0, 1, CompareOp::equal, false, false));
        }
    }
    state.SetItemsProcessed(state.iterations() * N);
    memory_free_all();
}

void BM_IntTableInsert(benchmark::State& state) {
    for (auto _ : state) {
        IntTable* t = int_table_make(20000);
        for (int32_t k : keys()) int_table_put(t, uint32_t(k), 1);
        benchmark::DoNotOptimize(t->size);
        int_table_free(t);
    }
    state.SetItemsProcessed(state.iterations() * N);
}

void BM_IntTableLookup(benchmark::State& state) {
    IntTable* t = int_table_make(20000);
    for (int32_t k : keys()) int_table_put(t, uint32_t(k), 1);
    for (auto _ : state)
        for (int32_t k : shuffled_keys()) benchmark::DoNotOptimize(int_table_get(t, uint32_t(k)));
    state.SetItemsProcessed(state.iterations() * N);
    int_table_free(t);
}

void BM_StdUnorderedMapInsert(benchmark::State& state) {
    for (auto _ : state) {
        std::unordered_map<int32_t, int32_t> m;
        for (int32_t k : keys()) m.emplace(k, 1);
        benchmark::DoNotOptimize(m.size());
    }
    state.SetItemsProcessed(state.iterations() * N);
}

void BM_StdUnorderedMapLookup(benchmark::State& state) {
    std::unordered_map<int32_t, int32_t> m;
    for (int32_t k : keys()) m.emplace(k, 1);
    for (auto _ : state)
        for (int32_t k : shuffled_keys()) benchmark::DoNotOptimize(m.find(k));
    state.SetItemsProcessed(state.iterations() * N);
}

} // namespace

BENCHMARK(BM_MapInsert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapLookup)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntTableInsert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntTableLookup)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdUnorderedMapInsert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdUnorderedMapLookup)->Unit(benchmark::kMillisecond);
