// libFuzzer target: load-csv over arbitrary text (inputs that are UTF-8),
// plain or with one of its refinements chosen by the first byte. It ends with
// lines, records or columns, with an error value (misaligned lines), or with
// its own user error (text that does not read, a header without data); plain
// lines read back from what to-csv writes.
#include <cstddef>
#include <cstdint>
#include "tests/fuzz/fuzz_start.h"
#include "runtime/collector/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/lexer/lexer.h"

using namespace kem;

namespace {

const char* const calls[] = {
    "r: load-csv fuzz-text any [not block? r empty? r r = load-csv to-csv r]",
    "r: load-csv/trim fuzz-text true",
    "r: load-csv/with/quote fuzz-text {;|} #\"'\" any [not block? r empty? r r = load-csv/with/quote to-csv/with/quote r {;|} #\"'\" {;|} #\"'\"]",
    "r: load-csv/header fuzz-text true",
    "r: load-csv/as-records fuzz-text true",
    "r: load-csv/flat fuzz-text true",
};

Cell code_of(const char* text) {
    Cell* code = stack::push_slot();
    lexer_scan(code, reinterpret_cast<const uint8_t*>(text), uint32_t(__builtin_strlen(text)), false, true, true,
               true, nullptr, nullptr, nullptr, nullptr);
    return *code;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_start_input();
    if (size < 1 || size > 1 << 14) return 0;
    stack::init();
    Cell* text = stack::push_slot();
    try {
        string_load_at(data + 1, uint32_t(size - 1), text, 0);
    } catch (const KemError&) {
        return 0;  // no UTF-8: no text to read
    }
    context_set_global(symbol_make("fuzz-text"), text);
    const Cell code = code_of(calls[data[0] % (sizeof calls / sizeof calls[0])]);
    try {
        interp::eval_block(&code, false);
    } catch (const KemError& e) {
        if (e.id != Err::user_message) __builtin_trap();
        return 0;
    }
    if (!is_truthy(stack::top - 1)) __builtin_trap();
    return 0;
}
