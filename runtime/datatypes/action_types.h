// The C++ signature of every action slot's implementation.
//
// Arguments arrive as cell pointers in spec order. A refinement without an
// argument is a bool; a refinement with an argument is the pointer to its
// argument cell, or nullptr when the refinement is absent. "Stack form" slots
// take their arguments from the current call's argument cells themselves.
// An implementation returns the cell holding its result.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"

namespace kem {

enum ActionSlot : uint8_t {
#define KEM_ACTION(slot, cname, word) ACT_##cname = slot,
#include "runtime/datatypes/actions.def"
#undef KEM_ACTION
};
constexpr int ACTION_SLOT_COUNT = 62;

using ActionFn = void (*)();  // storage type of a row entry; cast back by slot

namespace action_sig {
using StackForm = Cell* (*)();
using Make = Cell* (*)(Cell* proto, Cell* spec, int32_t type);
using Random = Cell* (*)(Cell* value, bool seed, bool secure, bool only);
using Reflect = Cell* (*)(Cell* value, int32_t field_symbol);
using Form = int32_t (*)(Cell* value, Cell* buffer, Cell* arg, int32_t part);
using Mold = int32_t (*)(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
                         int32_t indent);
using EvalPath = Cell* (*)(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* owner, Cell* prev_element,
                           int32_t index, bool push, bool get, bool last, bool notify);
using Compare = int32_t (*)(Cell* value1, Cell* value2, int32_t op);
using OneCell = Cell* (*)(Cell* value);
using Predicate = bool (*)(Cell* value);
using Round = Cell* (*)(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                        bool half_ceiling);
using Insert = Cell* (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);
using Change = Cell* (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
using Copy = Cell* (*)(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
using Find = Cell* (*)(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
                       Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
using Length = int32_t (*)(Cell* series);
using Move = Cell* (*)(Cell* origin, Cell* target, Cell* part);
using Pick = Cell* (*)(Cell* series, int32_t index, Cell* boxed);
using Poke = Cell* (*)(Cell* series, int32_t index, Cell* data, Cell* boxed);
using Put = Cell* (*)(Cell* series, Cell* key, Cell* value, bool case_);
using Remove = Cell* (*)(Cell* series, Cell* part, Cell* key);
using Reverse = Cell* (*)(Cell* series, Cell* part, Cell* skip);
using Select = Cell* (*)(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
                         Cell* with, Cell* skip, bool last, bool reverse);
using Sort = Cell* (*)(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse,
                       bool stable);
using TwoCells = Cell* (*)(Cell* value1, Cell* value2);
using Take = Cell* (*)(Cell* series, Cell* part, bool deep, bool last);
using Trim = Cell* (*)(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);
using Modify = Cell* (*)(Cell* target, Cell* field, Cell* value, bool case_);
using Open = Cell* (*)(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow);
using Read = Cell* (*)(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
using Write = Cell* (*)(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part,
                        Cell* seek, Cell* allow, Cell* as);
} // namespace action_sig

// Signature of each slot, so registrations are checked by the compiler.
template <int Slot> struct ActionSignature;
#define KEM_ACTION_SIG(slot, sig) \
    template <> struct ActionSignature<slot> { using type = action_sig::sig; };
KEM_ACTION_SIG(ACT_MAKE, Make)
KEM_ACTION_SIG(ACT_RANDOM, Random)
KEM_ACTION_SIG(ACT_REFLECT, Reflect)
KEM_ACTION_SIG(ACT_TO, Make)
KEM_ACTION_SIG(ACT_FORM, Form)
KEM_ACTION_SIG(ACT_MOLD, Mold)
KEM_ACTION_SIG(ACT_EVAL_PATH, EvalPath)
KEM_ACTION_SIG(ACT_COMPARE, Compare)
KEM_ACTION_SIG(ACT_ABSOLUTE, StackForm)
KEM_ACTION_SIG(ACT_ADD, StackForm)
KEM_ACTION_SIG(ACT_DIVIDE, StackForm)
KEM_ACTION_SIG(ACT_MULTIPLY, StackForm)
KEM_ACTION_SIG(ACT_NEGATE, OneCell)
KEM_ACTION_SIG(ACT_POWER, StackForm)
KEM_ACTION_SIG(ACT_REMAINDER, StackForm)
KEM_ACTION_SIG(ACT_ROUND, Round)
KEM_ACTION_SIG(ACT_SUBTRACT, StackForm)
KEM_ACTION_SIG(ACT_EVEN_Q, Predicate)
KEM_ACTION_SIG(ACT_ODD_Q, Predicate)
KEM_ACTION_SIG(ACT_AND_T, StackForm)
KEM_ACTION_SIG(ACT_COMPLEMENT, OneCell)
KEM_ACTION_SIG(ACT_OR_T, StackForm)
KEM_ACTION_SIG(ACT_XOR_T, StackForm)
KEM_ACTION_SIG(ACT_APPEND, Insert)
KEM_ACTION_SIG(ACT_AT, StackForm)
KEM_ACTION_SIG(ACT_BACK, StackForm)
KEM_ACTION_SIG(ACT_CHANGE, Change)
KEM_ACTION_SIG(ACT_CLEAR, OneCell)
KEM_ACTION_SIG(ACT_COPY, Copy)
KEM_ACTION_SIG(ACT_FIND, Find)
KEM_ACTION_SIG(ACT_HEAD, StackForm)
KEM_ACTION_SIG(ACT_HEAD_Q, StackForm)
KEM_ACTION_SIG(ACT_INDEX_Q, StackForm)
KEM_ACTION_SIG(ACT_INSERT, Insert)
KEM_ACTION_SIG(ACT_LENGTH_Q, Length)
KEM_ACTION_SIG(ACT_MOVE, Move)
KEM_ACTION_SIG(ACT_NEXT, StackForm)
KEM_ACTION_SIG(ACT_PICK, Pick)
KEM_ACTION_SIG(ACT_POKE, Poke)
KEM_ACTION_SIG(ACT_PUT, Put)
KEM_ACTION_SIG(ACT_REMOVE, Remove)
KEM_ACTION_SIG(ACT_REVERSE, Reverse)
KEM_ACTION_SIG(ACT_SELECT, Select)
KEM_ACTION_SIG(ACT_SORT, Sort)
KEM_ACTION_SIG(ACT_SKIP, StackForm)
KEM_ACTION_SIG(ACT_SWAP, TwoCells)
KEM_ACTION_SIG(ACT_TAIL, StackForm)
KEM_ACTION_SIG(ACT_TAIL_Q, StackForm)
KEM_ACTION_SIG(ACT_TAKE, Take)
KEM_ACTION_SIG(ACT_TRIM, Trim)
KEM_ACTION_SIG(ACT_CREATE, OneCell)
KEM_ACTION_SIG(ACT_CLOSE, OneCell)
KEM_ACTION_SIG(ACT_DELETE, OneCell)
KEM_ACTION_SIG(ACT_MODIFY, Modify)
KEM_ACTION_SIG(ACT_OPEN, Open)
KEM_ACTION_SIG(ACT_OPEN_Q, OneCell)
KEM_ACTION_SIG(ACT_QUERY, OneCell)
KEM_ACTION_SIG(ACT_READ, Read)
KEM_ACTION_SIG(ACT_RENAME, TwoCells)
KEM_ACTION_SIG(ACT_UPDATE, OneCell)
KEM_ACTION_SIG(ACT_WRITE, Write)
#undef KEM_ACTION_SIG

} // namespace kem
