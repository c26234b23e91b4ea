// Runs one Kem expression over the bytes of standard input, for the tests
// and benchmarks that hold Kem against other programs:
//
//     kem_zpipe [--time] CODE < input > output
//
// The input is the binary! `data`; the value of CODE, a binary! or a string!
// (as UTF-8), goes to standard output. With --time, the seconds the
// evaluation took go to standard error. An error prints its category/id on
// standard error and ends with status 3.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>
#include "environment/boot.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/lexer/lexer.h"
#include "runtime/platform/thread.h"
#include "runtime/services/unicode/text.h"

using namespace kem;

namespace {

struct Job {
    std::string code;
    bool time = false;
    std::vector<uint8_t> input;
};

int run(void* p) {
    auto* job = static_cast<Job*>(p);
    boot_all();
    Cell* data = stack::push_slot();
    binary_load_at(job->input.data(), uint32_t(job->input.size()), data);
    context_set_global(symbol_make("data"), data);
    Cell* code = stack::push_slot();
    lexer_scan(code, reinterpret_cast<const uint8_t*>(job->code.data()), uint32_t(job->code.size()), false, true, true,
               true, nullptr, nullptr, nullptr, nullptr);
    try {
        const auto start = std::chrono::steady_clock::now();
        interp::eval_block(code, false);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (job->time) std::fprintf(stderr, "%.6f\n", took.count());
        Cell result = *(stack::top - 1);
        if (is_type(&result, TYPE_BINARY)) {
            std::fwrite(binary_rs_head(&result), 1, size_t(binary_rs_length(&result)), stdout);
        } else if (is_type(&result, TYPE_STRING)) {
            int32_t n = -1;
            const uint8_t* text = string_to_utf8_data(&result, &n, false);
            std::fwrite(text, 1, size_t(n), stdout);
        } else {
            std::fprintf(stderr, "result is neither binary! nor string!\n");
            return 2;
        }
    } catch (const KemError& e) {
        const ErrorInfo* info = error_info(e.id);
        std::fprintf(stderr, "%s/%s\n", error_category_info(error_category(e.id)).name, info ? info->name : "?");
        return 3;
    }
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Job job;
    int at = 1;
    if (at < argc && std::string(argv[at]) == "--time") {
        job.time = true;
        at++;
    }
    if (at + 1 != argc) {
        std::fprintf(stderr, "usage: kem_zpipe [--time] CODE < input > output\n");
        return 2;
    }
    job.code = argv[at];
    uint8_t chunk[1 << 16];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, stdin)) > 0;) job.input.insert(job.input.end(), chunk, chunk + n);
    return platform::run_interpreter_thread(run, &job);
}
