#include "runtime/interpreter/natives.h"
#include <string>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/action_types.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/action_types.h"
#include "runtime/interpreter/operators.h"
#include "runtime/lexer/lexer.h"

namespace kem {

NativeFn native_table[NATIVE_TABLE_SIZE + 1];

namespace {
// A native whose body is not in the table yet.
void native_not_done(const int32_t*) { fire(Err::internal_not_done); }
} // namespace

void native_register(uint32_t index, NativeFn fn) { native_table[index] = fn; }

void natives_init() {
    register_control_natives();
    register_loop_natives();
    register_value_natives();
    register_math_natives();
    register_exits_natives();
    register_system_natives();
    register_try_natives();
    register_sets_natives();
    for (int i = 1; i <= NATIVE_COUNT; i++)
        if (!native_table[i]) native_table[i] = native_not_done;
    native_table_count = NATIVE_COUNT;
    // Every op! made from here on carries the operation it computes directly.
    set_op_direct_rule(interp::infix_rule);
}

} // namespace kem

namespace kem {

namespace {
// The spec text loaded as a block, at out.
void load_spec(std::string_view text, Cell* out) {
    // The text is one block: loaded as one value, it is that block.
    lexer_scan(out, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), true, true, true, false,
               nullptr, nullptr, nullptr, nullptr);
}
} // namespace

void natives_make_words() {
    for (uint32_t i = 1; i <= NATIVE_COUNT; i++) {
        Cell* spec = stack::push_slot();
        load_spec(native_spec_text(i), spec);
        Cell* value = native_push(i, spec);
        std::string name(native_word(i));
        context_set_global(symbol_make(name.c_str()), value);
        stack::pop(2);
    }
    for (int slot = 1; slot <= ACTION_SLOT_COUNT; slot++) {
        std::string_view word = action_word(slot);
        if (word.empty()) continue;
        Cell* spec = stack::push_slot();
        load_spec(action_spec_text(slot), spec);
        Cell* value = action_push(uint32_t(slot), spec);
        std::string name(word);
        context_set_global(symbol_make(name.c_str()), value);
        stack::pop(2);
    }
}

} // namespace kem
