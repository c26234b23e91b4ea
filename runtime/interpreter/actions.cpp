#include "runtime/interpreter/actions.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/errors.h"
#include "runtime/interpreter/stack.h"

namespace kem {

namespace {

// The word of the innermost named frame as a word cell (symbol in its frame's
// context); none when no frame is named.
Cell caller_word() {
    using namespace stack;
    CallFrame* f = throw_origin ? throw_origin - 1 : frames_top - 1;
    throw_origin = nullptr;
    for (; f >= frames_bottom; f--) {
        uint32_t sym = frame_symbol(f);
        if (sym == 0 || sym == anon_symbol || sym == body_symbol) continue;
        return Cell{TYPE_WORD, f->context, sym, 0xFFFFFFFF};
    }
    return none_value;
}

} // namespace

// Filled by the function and native modules: the word of argument i of the
// function whose call is current.
Cell (*call_argument_word)(int index) = nullptr;

void fire_expect_arg(const Cell* value, int arg_index) {
    Cell word = caller_word();
    Cell type;
    make_datatype(&type, type_of(value));
    Cell arg = call_argument_word ? call_argument_word(arg_index) : none_value;
    fire(Err::script_expect_arg, word, type, arg);
}

ActionFn get_action_ptr(uint8_t type, const Cell* value, int slot) {
    ActionFn fn = type_action_table[type][slot];
    if (!fn) fire_expect_arg(value, 0);
    return fn;
}

int32_t pick_index() {
    const Cell* c = stack::arguments + 1;
    switch (type_of(c)) {
    case TYPE_INTEGER:
    case TYPE_CHAR: return cell_int(c);
    case TYPE_LOGIC: return c->data1 == 1 ? 1 : 2;
    default: return 0;
    }
}

int32_t compare_values(Cell* value1, Cell* value2, int32_t op) {
    auto fn = action_entry_as<ACT_COMPARE>(type_of(value1));
    if (!fn) return -2;
    return fn(value1, value2, op);
}

bool compare_outcome(Cell* value1, Cell* value2, int32_t op) {
    int32_t r = compare_values(value1, value2, op);
    switch (op) {
    case 0: case 2: case 9: case 10: case 11: case 12: return r == 0;
    case 1: return r != 0;
    case 3: return r == -1 || (r < 0 && r != -2);
    case 4: return r <= 0 && r != -2;
    case 5: return r > 0;
    case 6: return r >= 0;
    default: return r == 0;
    }
}

int32_t form_direct(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    return get_action_for_value<ACT_FORM>(value)(value, buffer, arg, part);
}

int32_t mold_direct(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
                    int32_t indent) {
    return get_action_for_value<ACT_MOLD>(value)(value, buffer, only, all, flat, arg, part, indent);
}

} // namespace kem
