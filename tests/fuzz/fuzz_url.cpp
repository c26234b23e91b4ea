// libFuzzer target: the URL parser over any text, given as a string! and as
// a url!. decode-url must answer an object or none and never raise; the
// object it gives must encode back to a URL without an error.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include "fuzz_start.h"
#include "environment/boot.h"
#include "runtime/collector/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/roots.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/lexer/lexer.h"
#include "runtime/services/unicode/text.h"

using namespace kem;

namespace {

constexpr std::string_view CHECK =
    "foreach u reduce [fuzz-text to url! fuzz-text] ["
    "  r: decode-url u"
    "  unless any [none? r object? r] [make error! \"decode-url gave neither object nor none\"]"
    "  if r [encode-url r]"
    "]";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_start_input();
    collector::set_active(true);
    if (size > 2048) return 0;
    Cell code;
    lexer_scan(&code, reinterpret_cast<const uint8_t*>(CHECK.data()), uint32_t(CHECK.size()), false, true, true, true,
               nullptr, nullptr, nullptr, nullptr);
    RootedCell keep(&code);
    stack::init();
    last_throw_code = 0;
    Cell text;
    make_series(&text, TYPE_STRING, load_text_replacing(data, uint32_t(size)));
    context_set_global(symbol_make("fuzz-text"), &text);
    try {
        interp::eval_block(&code, false);
    } catch (const KemError& e) {
        if (std::getenv("KEM_FUZZ_SHOW")) std::printf("%.*s -> error %d\n", int(size), data, int(e.id));
        __builtin_trap();
    }
    last_throw_code = 0;
    return 0;
}
