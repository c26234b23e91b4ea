// libFuzzer target: the KEMBIN decoder over arbitrary bytes. Whatever the
// input, decoding must end with values or with one of the decoder's own
// errors; what it gives must mold, and encode and decode again (in both
// variants) to values that mold the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include "tests/fuzz/fuzz_start.h"
#include "runtime/collector/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/kembin/kembin.h"

using namespace kem;

namespace {

bool decoder_error(Err e) {
    return e == Err::script_kb_invalid_record || e == Err::script_invalid_data || e == Err::access_no_codec;
}

// The molded text, or "" when molding stops at its own limits (nesting).
std::string molded(Cell value) {
    Cell buffer;
    string_make_at(&buffer, 64);
    try {
        mold_direct(&value, &buffer, MoldArgs{.all = true}, 1 << 20, 0);
    } catch (const KemError&) {
        return "";
    }
    SeriesBuffer* b = node_buffer(series_node(&buffer));
    return std::string(reinterpret_cast<const char*>(b->head_ptr()), b->used());
}

Cell decode(const uint8_t* data, size_t size) {
    Cell* out = stack::push_slot();
    block_make_at(out, 1);
    kembin::codec_mode = true;
    kembin::decode(data, size, out, none_value);
    return *out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_start_input();
    if (size > 1 << 16) return 0;
    stack::init();
    Cell values;
    try {
        values = decode(data, size);
    } catch (const KemError& e) {
        if (!decoder_error(e.id)) __builtin_trap();
        return 0;
    }
    const std::string text = molded(values);
    for (bool compact : {true, false}) {
        Cell* bin = stack::push_slot();
        try {
            kembin::encode(&values, compact, bin);
        } catch (const KemError& e) {
            // Only nesting beyond the limit, which references can make deeper than the data.
            if (e.id != Err::internal_stack_overflow) __builtin_trap();
            continue;
        }
        const std::string bytes(reinterpret_cast<const char*>(binary_rs_head(bin)), size_t(binary_rs_length(bin)));
        Cell again;
        try {
            again = decode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        } catch (const KemError&) {
            __builtin_trap();  // what the encoder writes must read back
        }
        const Cell first = block_full_length(&again) == 1 ? *block_rs_abs_at(&again, 0) : again;
        if (molded(first) != text) __builtin_trap();
    }
    return 0;
}
