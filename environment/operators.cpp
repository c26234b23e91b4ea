// The infix operators: each is an op! made from the global value of its
// function. (Some of their names, like `=`, cannot be written as set-words.)
// They are made after the library, since `//` is the library's modulo.
#include "environment/boot.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/symbol.h"

namespace kem {

void boot_operators() {
    static const struct { const char* op; const char* fn; } table[] = {
        {"+", "add"},       {"-", "subtract"},     {"*", "multiply"},   {"/", "divide"},
        {"//", "modulo"}, {"%", "remainder"}, {"=", "equal?"},       {"<>", "not-equal?"}, {"==", "strict-equal?"},
        {"=?", "same?"},    {"<", "lesser?"},      {">", "greater?"},   {"<=", "lesser-or-equal?"},
        {">=", "greater-or-equal?"}, {"**", "power"}, {"and", "and~"}, {"or", "or~"},
        {"xor", "xor~"}, {"<<", "shift-left"}, {">>", "shift-right"}, {">>>", "shift-logical"},
    };
    for (auto& e : table) {
        Cell fn = *context_global_value_cell(symbol_make(e.fn));
        Cell op{TYPE_NONE, 0, 0, 0};
        Cell* made = op_make(&op, &fn, TYPE_OP);
        context_set_global(symbol_make(e.op), made);
    }
}

} // namespace kem
