// libFuzzer target: the JSON reader over arbitrary text (inputs that are
// UTF-8). Reading ends with a value, with a failure (no JSON), or with
// invalid-data for a broken surrogate pair; a value read is written, compact
// and indented, and reads back to a value written the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include "tests/fuzz/fuzz_start.h"
#include "runtime/collector/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/string.h"
#include "runtime/io/json.h"
#include "runtime/services/unicode/text.h"

using namespace kem;

namespace {

std::string utf8(Cell s) {
    int32_t n = -1;
    const uint8_t* text = string_to_utf8_data(&s, &n, false);
    return std::string(reinterpret_cast<const char*>(text), size_t(n));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_start_input();
    if (size > 1 << 16) return 0;
    stack::init();
    Cell* input = stack::push_slot();
    try {
        string_load_at(data, uint32_t(size), input, 0);
    } catch (const KemError&) {
        return 0;  // no UTF-8: no text to read
    }
    Cell* value = stack::push_slot();
    JsonFailure failure{};
    try {
        if (!json_decode(input, value, &failure)) {
            if (failure.line < 1 || failure.mark < failure.last_lf || failure.mark < 1) __builtin_trap();
            return 0;
        }
    } catch (const KemError& e) {
        if (e.id != Err::script_invalid_data) __builtin_trap();
        return 0;
    }
    Cell* indent = stack::push_slot();
    string_make_utf8(indent, " ");
    for (const Cell* layout : {static_cast<const Cell*>(nullptr), static_cast<const Cell*>(indent)}) {
        Cell* text = stack::push_slot();
        Cell* again = stack::push_slot();
        try {
            json_encode(value, layout, false, text);
            if (!json_decode(text, again, &failure)) __builtin_trap();  // what is written must read
            Cell* twice = stack::push_slot();
            json_encode(again, layout, false, twice);
            if (utf8(*text) != utf8(*twice)) __builtin_trap();
        } catch (const KemError& e) {
            // Only nesting deeper than the writer's limit.
            if (e.id != Err::internal_too_deep) __builtin_trap();
        }
    }
    return 0;
}
