// Natives: construct value? uppercase lowercase as-pair as-point2D as-point3D
// as-money break continue exit return throw catch extend.
//
// The exits only ask the stack unwinders to set the stacks for their target
// and leave their code pending; `catch` is the one catcher here and takes
// only throws (everything else it lets pass, untouched).
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/natives.h"

namespace kem {

namespace {

inline bool present(int32_t refinement) { return refinement != -1; }

// --- value? ----------------------------------------------------------------------

inline bool value_word_type(uint8_t t) { return t >= TYPE_WORD && t <= TYPE_GET_WORD; }

void native_value_q(const int32_t*) {
    Cell* arg = stack::arguments;
    bool has;
    if (value_word_type(type_of(arg))) {
        // A word that no context slot was ever made for has no value; asking
        // must not turn into the no-value error it would raise when read.
        const bool unresolved = static_cast<int32_t>(arg->data3) < 0 &&
                                !(symbol_resolve(arg->data2) == symbol_resolve(rt_symbols.self) && arg->data1);
        has = !unresolved && !is_type(word_value_cell(arg), TYPE_UNSET);
    } else {
        has = !is_type(arg, TYPE_UNSET);
    }
    make_logic(stack::arguments, has);
    stack::keep_result();
}

// --- uppercase, lowercase ----------------------------------------------------------

template <bool Upper>
void native_change_case(const int32_t* refs) {
    Cell* value = stack::arguments;
    const Cell* limit = present(refs[0]) ? stack::arguments + refs[0] : nullptr;
    string_change_case(value, limit, Upper, word_part);
    stack::keep_result();
}

// --- as-pair, as-point2D, as-point3D ----------------------------------------------

// A pair coordinate: an integer as it is, a float truncated toward zero. A
// float whose truncation does not fit in 32 bits is refused like infinities
// and NaN, never narrowed to an undefined value.
int32_t pair_coordinate(const Cell* c) {
    if (!is_type(c, TYPE_FLOAT)) return cell_int(c);
    const double d = cell_float(c);
    if (!std::isfinite(d)) fire(Err::script_invalid_arg, *c);
    const double t = std::trunc(d);
    if (t < -2147483648.0 || t > 2147483647.0) fire(Err::script_invalid_arg, *c);
    return static_cast<int32_t>(t);
}

// A point coordinate in single precision; infinities and NaN pass as they are.
float point_coordinate(const Cell* c) {
    if (is_type(c, TYPE_FLOAT)) return static_cast<float>(cell_float(c));
    return static_cast<float>(cell_int(c));
}

void native_as_pair(const int32_t*) {
    const int32_t x = pair_coordinate(stack::arguments);
    const int32_t y = pair_coordinate(stack::arguments + 1);
    pair_set_in(stack::arguments, x, y);
    stack::keep_result();
}

void native_as_point2D(const int32_t*) {
    const Cell* a = stack::arguments;
    point2D_make_at(stack::arguments, point_coordinate(a), point_coordinate(a + 1));
    stack::keep_result();
}

void native_as_point3D(const int32_t*) {
    const Cell* a = stack::arguments;
    point3D_make_at(stack::arguments, point_coordinate(a), point_coordinate(a + 1), point_coordinate(a + 2));
    stack::keep_result();
}

// --- as-money -----------------------------------------------------------------------

// The currency must be in the list; a float amount may not need more than
// five fraction digits.
void native_as_money(const int32_t*) {
    Cell* a = stack::arguments;
    const int32_t currency = money_find_currency(a->data2);
    if (currency < 0) fire(Err::script_bad_denom, *a);
    Cell amount;
    if (is_type(a + 1, TYPE_FLOAT)) money_from_float(&amount, cell_float(a + 1), true);
    else money_from_integer(&amount, cell_int(a + 1));
    money_set_currency(&amount, uint32_t(currency));
    *a = amount;
    stack::keep_result();
}

// --- break, continue, exit, return, throw ----------------------------------------------

void native_break(const int32_t* refs) { stack::break_loop(present(refs[0]), false); }

void native_continue(const int32_t*) { stack::break_loop(false, true); }

void native_exit(const int32_t*) { stack::unwind_return(false, false); }

void native_return(const int32_t*) { stack::unwind_return(true, false); }

void native_throw(const int32_t* refs) {
    // The name travels in the cell after the value: unset for a plain throw.
    if (!present(refs[0])) {
        stack::top = stack::arguments + 1;
        make_unset(stack::push_slot());
    }
    stack::throw_value(THROW_CODE_THROW);
}

// --- catch -------------------------------------------------------------------------------

// Whether a thrown name is one the catch asked for: the same word, ignoring
// case, or one of the words of a block. Anything but a word in the block
// raises invalid-refine-arg.
bool name_matches(const Cell* thrown, const Cell* wanted) {
    if (!is_type(thrown, TYPE_WORD)) return false;
    const uint32_t sym = symbol_resolve(thrown->data2);
    if (is_type(wanted, TYPE_WORD)) return symbol_resolve(wanted->data2) == sym;
    const Cell names = *wanted;
    for (uint32_t i = series_index(&names); i < block_full_length(&names); i++) {
        const Cell* item = block_rs_abs_at(&names, i);
        if (!is_type(item, TYPE_WORD)) fire(Err::script_invalid_refine_arg, rt_words.catch_, names);
        if (symbol_resolve(item->data2) == sym) return true;
    }
    return false;
}

void native_catch(const int32_t* refs) {
    const Cell block = stack::arguments[0];
    const bool named = present(refs[0]);
    const Cell wanted = named ? stack::arguments[refs[0]] : none_value;

    stack::push_catch_frame(&rt_words.body_frame);
    CallFrame* const frame = stack::frames_top - 1;
    interp::eval_block(&block, true);

    if (!interp::pending()) {
        stack::pop_frame_return_result();
        return;
    }
    // Errors travel as exceptions; any other code (break, return ...) has
    // already unwound past this frame and is someone else's.
    if (last_throw_code != THROW_CODE_THROW || stack::frames_top != frame + 1) return;

    // The throw unwound to this frame: the value and its name are the first
    // two cells on its argument base.
    const uint32_t code = last_throw_code;
    last_throw_code = 0;
    const Cell value = stack::arguments[0];
    const Cell name = stack::arguments[1];
    stack::pop_frame_drop();
    if (!named || name_matches(&name, &wanted)) {
        stack::set_last_keep(&value);
        return;
    }
    // Not ours: on to the next catch, as if thrown from here.
    stack::set_last_keep(&value);
    stack::push(&name);
    stack::throw_value(code);
}

// --- extend ---------------------------------------------------------------------------------

// construct: an object from an unevaluated spec, on a copy of /with's object.
void native_construct(const int32_t* refs) {
    const Cell spec = stack::arguments[0];
    const int32_t with = refs[native_ref(NAT_CONSTRUCT, "with")];
    const Cell proto = present(with) ? stack::arguments[with] : none_value;
    Cell* made = object_construct(&spec, present(with) ? &proto : nullptr,
                                  present(refs[native_ref(NAT_CONSTRUCT, "only")]));
    stack::set_last(made);
    stack::keep_result();
}

void native_extend(const int32_t* refs) {
    Cell* target = stack::arguments;
    const Cell* spec = stack::arguments + 1;
    // Extending an object is not supported (only maps).
    if (!is_type(target, TYPE_MAP)) fire(Err::internal_not_done);
    map_extend(target, spec, present(refs[0]));
    stack::keep_result();
}

} // namespace

void register_exits_natives() {
    native_register(NAT_VALUE_Q, native_value_q);
    native_register(NAT_UPPERCASE, native_change_case<true>);
    native_register(NAT_LOWERCASE, native_change_case<false>);
    native_register(NAT_AS_PAIR, native_as_pair);
    native_register(NAT_AS_POINT2D, native_as_point2D);
    native_register(NAT_AS_POINT3D, native_as_point3D);
    native_register(NAT_AS_MONEY, native_as_money);
    native_register(NAT_BREAK, native_break);
    native_register(NAT_CONTINUE, native_continue);
    native_register(NAT_EXIT, native_exit);
    native_register(NAT_RETURN, native_return);
    native_register(NAT_THROW, native_throw);
    native_register(NAT_CATCH, native_catch);
    native_register(NAT_EXTEND, native_extend);
    native_register(NAT_CONSTRUCT, native_construct);
}

} // namespace kem
