// Action dispatch: find a slot's implementation for the first argument's type,
// and the direct twins that runtime code calls instead of the table-form
// dispatchers (those are in dispatch.h).
//
// Twin conventions: arguments are cells in spec order; a refinement without
// an argument is a bool, a refinement with one is its argument cell or nullptr
// when absent. Each twin looks the implementation up by its first argument's
// type and returns the cell the implementation returned.
#pragma once
#include <array>
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/datatypes/action_types.h"
#include "runtime/datatypes/registry.h"

namespace kem {

// Raises script expect-arg for the current call: its word, the value's datatype
// and the word of argument `arg_index` (from 0) of the called function's spec.
[[noreturn]] void fire_expect_arg(const Cell* value, int arg_index);
// The same naming the datatype `type` instead of a value's.
[[noreturn]] void fire_expect_arg_type(uint8_t type, int arg_index);

// Filled by the function and native modules: item i (from 0) among the words
// and refinements of the spec of the function whose call is current.
extern Cell (*call_argument_word)(int index);

// --- port! actors that are native handler tables
// A port whose actor field holds a handle! is served, for the slots from
// append (25) on, by a table of native handlers: entry slot - 25, null when the
// scheme does not support the action. The handle's value (its second payload
// word) is the table's id from register_port_handlers.
constexpr int PORT_HANDLER_FIRST_SLOT = ACT_APPEND;
constexpr int PORT_HANDLER_COUNT = ACTION_SLOT_COUNT - PORT_HANDLER_FIRST_SLOT + 1;
using PortHandlerTable = std::array<ActionFn, PORT_HANDLER_COUNT>;
// Returns the id (from 1) to store in the actor handle; the table must live
// for the whole run.
uint32_t register_port_handlers(const PortHandlerTable* table);

// --- lookup
// The implementation of `slot` for a value of `type`; a missing one raises
// expect-arg naming the calling word, the type and the first argument. A port!
// whose actor is a handle! takes its handlers for the series and port slots
// (a missing handler raises access no-port-action).
ActionFn get_action_ptr(uint8_t type, const Cell* value, int slot);
template <int Slot> inline typename ActionSignature<Slot>::type get_action_for_value(const Cell* value) {
    return reinterpret_cast<typename ActionSignature<Slot>::type>(get_action_ptr(type_of(value), value, Slot));
}
// The same for the current call's first argument.
Cell* first_argument();
template <int Slot> inline typename ActionSignature<Slot>::type get_action_for_arg() {
    return get_action_for_value<Slot>(first_argument());
}

// The second argument of pick and poke as a number: integer! and char! their
// value, logic! 1 for true and 2 for false, any other type 0.
int32_t pick_index();

// Comparison through the compare slot: -2 when the two
// cannot be compared, else the slot's answer.
int32_t compare_values(Cell* value1, Cell* value2, CompareOp op);
// The outcome of a comparison operator as a truth value; incomparable values
// are simply unequal and never ordered.
bool compare_outcome(Cell* value1, Cell* value2, CompareOp op);
// The compare entry of the dispatcher table: as compare_outcome, but an
// ordering of incomparable values raises script invalid-compare and an
// unknown operator ends the process with runtime error 101.
bool compare_star(Cell* value1, Cell* value2, CompareOp op);

// --- direct twins
// make and to look up by a type id: the one a datatype! first argument names,
// else the first argument's own type; the implementation receives that id.
Cell* make_direct(Cell* type, Cell* spec);
Cell* to_direct(Cell* type, Cell* spec);
Cell* random_direct(Cell* value, const RandomArgs& refs);
// The implementation receives the field word's symbol id.
Cell* reflect_direct(Cell* value, Cell* field);
// What a value molded inside another gets: the outer refinements but /only.
inline MoldArgs mold_nested(const MoldArgs& refs) {
    MoldArgs nested = refs;
    nested.only = false;
    return nested;
}

// form and mold append to a string buffer and return the budget left.
int32_t form_direct(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold_direct(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);

// Path access: parent/element, setting `value` when given. A parent whose type
// has no path access raises script bad-path-type2 (no path) or bad-path-type
// (with the path and a copy of it cut after the element's position).
Cell* eval_path_direct(Cell* parent, Cell* element, Cell* value, const PathStep& step);

Cell* negate_direct(Cell* number);
Cell* round_direct(Cell* n, const RoundArgs& refs);
bool even_q_direct(Cell* number);
bool odd_q_direct(Cell* number);
Cell* complement_direct(Cell* value);

// part: a count, -1 for the whole value; dup: how many times (1 normally).
Cell* append_direct(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* insert_direct(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* change_direct(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* clear_direct(Cell* series);
// result: a cell (on the stack) that receives the copy.
Cell* copy_direct(Cell* value, Cell* result, const CopyArgs& refs);
Cell* find_direct(Cell* series, Cell* value, const FindArgs& refs);
// -1 stands for none.
int32_t length_q_direct(Cell* series);
Cell* move_direct(Cell* origin, Cell* target, const MoveArgs& refs);
// index: the position as pick_index gives it; boxed: the index value itself.
Cell* pick_direct(Cell* series, int32_t index, Cell* boxed);
Cell* poke_direct(Cell* series, int32_t index, Cell* data, Cell* boxed);
Cell* put_direct(Cell* series, Cell* key, Cell* value, const PutArgs& refs);
Cell* remove_direct(Cell* series, const RemoveArgs& refs);
Cell* reverse_direct(Cell* series, const ReverseArgs& refs);
Cell* select_direct(Cell* series, Cell* value, const SelectArgs& refs);
Cell* sort_direct(Cell* series, const SortArgs& refs);
Cell* swap_direct(Cell* series1, Cell* series2);
Cell* take_direct(Cell* series, const TakeArgs& refs);
Cell* trim_direct(Cell* series, const TrimArgs& refs);

Cell* create_direct(Cell* port);
Cell* close_direct(Cell* port);
Cell* delete_direct(Cell* file);
Cell* modify_direct(Cell* target, Cell* field, Cell* value, const ModifyArgs& refs);
Cell* open_direct(Cell* port, const OpenArgs& refs);
Cell* open_q_direct(Cell* port);
Cell* query_direct(Cell* target);
Cell* read_direct(Cell* source, const ReadArgs& refs);
Cell* rename_direct(Cell* from, Cell* to);
Cell* update_direct(Cell* port);
Cell* write_direct(Cell* destination, Cell* data, const WriteArgs& refs);

} // namespace kem
