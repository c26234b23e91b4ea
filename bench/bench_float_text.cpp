// Float text conversions per second: molding (shortest digits), the six-digit
// formatting mode, and reading the molded texts back.
#include <benchmark/benchmark.h>
#include <cstring>
#include <random>
#include <string>
#include <vector>
#include "runtime/services/float_text.h"

namespace {

// Finite doubles over every exponent, and doubles as scripts mostly hold them.
std::vector<double> all_bit_patterns() {
    std::mt19937_64 gen(1);
    std::vector<double> v;
    while (v.size() < 4096) {
        uint64_t b = gen();
        if (((b >> 52) & 0x7FF) == 0x7FF) continue;
        double d;
        std::memcpy(&d, &b, sizeof d);
        v.push_back(d);
    }
    return v;
}

std::vector<double> everyday_values() {
    std::mt19937_64 gen(2);
    std::uniform_real_distribution<double> u(-1000.0, 1000.0);
    std::vector<double> v;
    for (int i = 0; i < 4096; i++) v.push_back(i % 2 ? u(gen) : double(int(u(gen) * 100)) / 100);
    return v;
}

void run_form(benchmark::State& state, const std::vector<double>& values, int digits, bool keep) {
    size_t i = 0, bytes = 0;
    for (auto _ : state) {
        const char* t = kem::form_float(values[i++ & 4095], digits, keep);
        benchmark::DoNotOptimize(t);
        bytes += std::strlen(t);
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
    state.SetBytesProcessed(int64_t(bytes));
}

void BM_MoldAnyDouble(benchmark::State& state) { run_form(state, all_bit_patterns(), 0, true); }
void BM_MoldEverydayValues(benchmark::State& state) { run_form(state, everyday_values(), 0, true); }
void BM_FormSixDigits(benchmark::State& state) { run_form(state, everyday_values(), 6, false); }
void BM_MoneyDigits(benchmark::State& state) { run_form(state, everyday_values(), 22, true); }

void BM_ReadMoldedText(benchmark::State& state) {
    std::vector<std::string> texts;
    for (double d : all_bit_patterns()) texts.emplace_back(kem::form_float(d, 0, true));
    size_t i = 0;
    for (auto _ : state) {
        const std::string& t = texts[i++ & 4095];
        benchmark::DoNotOptimize(kem::decimal_to_float(t.data(), t.data() + t.size(), 0, nullptr));
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}

} // namespace

BENCHMARK(BM_MoldAnyDouble);
BENCHMARK(BM_MoldEverydayValues);
BENCHMARK(BM_FormSixDigits);
BENCHMARK(BM_MoneyDigits);
BENCHMARK(BM_ReadMoldedText);
