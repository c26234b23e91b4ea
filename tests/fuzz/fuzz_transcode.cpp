// libFuzzer target: the lexer over arbitrary bytes in every mode, with and
// without a callback that refuses errors and some values. Whatever the input,
// a run must end, raise only syntax errors, and leave values that mold.
#include <cstddef>
#include <cstdint>
#include "environment/startup.h"
#include "runtime/collector/collector.h"
#include "runtime/core/stack.h"
#include "runtime/core/errors.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/lexer/lexer.h"

using namespace kem;

namespace {

void mold_value(Cell value) {
    Cell buffer;
    string_make_at(&buffer, 64);
    mold_direct(&value, &buffer, MoldArgs{}, INT32_MAX, 0);
}

void run(const Cell& source, const TranscodeRequest& request) {
    Cell out;
    try {
        transcode(&source, request, &out);
    } catch (const KemError& e) {
        if (error_category(e.id) != ErrCategory::syntax) __builtin_trap();
        return;
    }
    mold_value(out);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        init_runtime();
        lexer_init();
        return true;
    }();
    (void)ready;
    // The lexer alone never reaches a safe point, so nothing would collect;
    // nothing is kept from one input to the next.
    static uint32_t runs = 0;
    if (++runs % 512 == 0) {
        stack::init();
        collector::collect();
    }
    if (size > 1 << 16) return 0;
    Cell source;
    binary_load_at(data, uint32_t(size), &source);

    TranscodeRequest request;
    run(source, request);
    request.scan = true;
    run(source, request);
    request.scan = false;
    request.prescan = true;
    run(source, request);
    request.prescan = false;
    request.next = true;
    run(source, request);
    request.next = false;

    // A callback that refuses every error (sometimes stepping over the bad
    // byte itself) and drops some values and containers.
    uint32_t calls = 0;
    LexerCallback callback;
    callback.hook = [&](LexerEventArgs& args) {
        calls++;
        bool error = symbol_name(args.event.data2) == "error";
        if (error || calls % 7 == 0) {
            if (calls % 2) args.input.data1++;
            return false;
        }
        return calls % 5 != 0;
    };
    request.trace = &callback;
    run(source, request);
    return 0;
}
