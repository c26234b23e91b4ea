#include "runtime/interpreter/checks.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"

namespace kem {

const Cell* check_arg_type(const Cell* typeset, int i, const Cell* value) {
    if (!typeset_has(typeset, type_of(value))) fire_expect_arg(value, i);
    return value;
}

void check_arg_at(int32_t n, const Cell* typeset, int i) {
    if (n >= 0) check_arg_type(typeset, i, stack::arguments + n);
}

const Cell* check_arg_if(const Cell* refinement, const Cell* typeset, int i, const Cell* value) {
    if (refinement->data1 != 0) check_arg_type(typeset, i, value);
    return value;
}

const Cell* check_arg_set(int i, const Cell* value) {
    if (type_of(value) == TYPE_UNSET) fire_expect_arg(value, i);
    return value;
}

} // namespace kem
