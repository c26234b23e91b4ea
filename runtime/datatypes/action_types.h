// What the code knows of each action, all made from its row in actions.def:
// the slot enum, the refinement struct, the signature of its implementations
// (checked by the compiler when a datatype registers one), its word, its
// spec block and its refinement names.
//
// Implementations receive their arguments as cells in spec order and their
// refinements as the action's struct (NameArgs), except the slots whose shape
// says otherwise below. "Stack form" slots take their arguments from the
// current call's argument cells themselves. An implementation returns the
// cell holding its result.
#pragma once
#include <cstdint>
#include <span>
#include <string_view>
#include "runtime/core/cell.h"
#include "runtime/core/compare_op.h"
#include "runtime/core/stack.h"

namespace kem {

enum ActionSlot : uint8_t {
#define KEM_ACTION(slot, NAME, Name, Sig, word, doc, items) ACT_##NAME = slot,
#include "runtime/datatypes/action_types.h"
#include "runtime/datatypes/actions.def"
#undef KEM_ACTION
};
constexpr int ACTION_SLOT_COUNT = 62;

using ActionFn = void (*)();  // storage type of a row entry; cast back by slot

// --- refinement structs

// The refinement integers a dispatcher receives, one per refinement in spec
// order: -1 when absent, else the stack index (from stack::arguments) of its
// argument cell; for a refinement without argument any value but -1 means
// given. A null list means every refinement is absent.
namespace action_refs {
inline bool given(const int32_t* r, int i) { return r && r[i] != -1; }
// An index at or below the argument base names no argument cell.
inline Cell* cell(const int32_t* r, int i) { return r && r[i] > 0 ? stack::arguments + r[i] : nullptr; }
} // namespace action_refs

#define ARG(name, types)
#define RETURNS(types)
#define REF(field, word, doc) bool field = false;
#define REF_ARG(field, word, doc, arg, types) Cell* field = nullptr;
#define KEM_ACTION(slot, NAME, Name, Sig, word, doc, items) \
    struct Name##Args {                                     \
        items                                               \
        static Name##Args from(const int32_t* refinements); \
    };
#include "runtime/datatypes/actions.def"
#undef KEM_ACTION
#undef REF
#undef REF_ARG

#define REF(field, word, doc) a.field = action_refs::given(r, n++);
#define REF_ARG(field, word, doc, arg, types) a.field = action_refs::cell(r, n++);
#define KEM_ACTION(slot, NAME, Name, Sig, word, doc, items)                    \
    inline Name##Args Name##Args::from([[maybe_unused]] const int32_t* r) {    \
        Name##Args a;                                                          \
        [[maybe_unused]] int n = 0;                                            \
        items return a;                                                        \
    }
#include "runtime/datatypes/actions.def"
#undef KEM_ACTION
#undef REF
#undef REF_ARG
#undef ARG
#undef RETURNS

// The refinement struct of a slot.
template <int Slot> struct ActionArgsOf;
#define KEM_ACTION(slot, NAME, Name, Sig, word, doc, items) \
    template <> struct ActionArgsOf<slot> { using type = Name##Args; };
#include "runtime/datatypes/actions.def"
#undef KEM_ACTION
template <int Slot> using ActionArgs = typename ActionArgsOf<Slot>::type;

// --- words and specs

// The action's word ("append"), empty for the slots without one.
std::string_view action_word(int slot);
// The spec block of the action in `slot` as Kem source, brackets included;
// empty for the slots without a word.
std::string_view action_spec_text(int slot);
// The refinement words of an action in spec order: the order of the integers
// its dispatcher receives. Empty for actions without refinements.
std::span<const std::string_view> action_refinement_names(int slot);

// --- implementation signatures

// Where one path access stands in the walk of a path (the path access slot
// has no word and no refinements: the evaluator's path walk fills this).
struct PathStep {
    Cell* path = nullptr;          // the path value, for errors
    Cell* owner = nullptr;         // the value the parent was taken from
    Cell* prev_element = nullptr;  // the element before this one
    int32_t index = -1;            // this element's index in the path
    bool push = false;             // the result is pushed
    bool get = false;              // a get-path: functions are not called
    bool last = false;             // this is the last element
    bool notify = false;           // a set tells the owner's change handlers
};

namespace action_sig {
using Unused = void (*)();
using StackForm = Cell* (*)();
using Make = Cell* (*)(Cell* proto, Cell* spec, int32_t type);
using Random = Cell* (*)(Cell* value, const RandomArgs& refs);
using Reflect = Cell* (*)(Cell* value, int32_t field_symbol);
using Form = int32_t (*)(Cell* value, Cell* buffer, Cell* arg, int32_t part);
using Mold = int32_t (*)(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
using EvalPath = Cell* (*)(Cell* parent, Cell* element, Cell* value, const PathStep& step);
using Compare = int32_t (*)(Cell* value1, Cell* value2, CompareOp op);
using OneCell = Cell* (*)(Cell* value);
using Predicate = bool (*)(Cell* value);
using Round = Cell* (*)(Cell* n, const RoundArgs& refs);
using Insert = Cell* (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);
using Change = Cell* (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
using Copy = Cell* (*)(Cell* value, Cell* result, const CopyArgs& refs);
using Find = Cell* (*)(Cell* series, Cell* value, const FindArgs& refs);
using Length = int32_t (*)(Cell* series);
using Move = Cell* (*)(Cell* origin, Cell* target, const MoveArgs& refs);
using Pick = Cell* (*)(Cell* series, int32_t index, Cell* boxed);
using Poke = Cell* (*)(Cell* series, int32_t index, Cell* data, Cell* boxed);
using Put = Cell* (*)(Cell* series, Cell* key, Cell* value, const PutArgs& refs);
using Remove = Cell* (*)(Cell* series, const RemoveArgs& refs);
using Reverse = Cell* (*)(Cell* series, const ReverseArgs& refs);
using Select = Cell* (*)(Cell* series, Cell* value, const SelectArgs& refs);
using Sort = Cell* (*)(Cell* series, const SortArgs& refs);
using TwoCells = Cell* (*)(Cell* value1, Cell* value2);
using Take = Cell* (*)(Cell* series, const TakeArgs& refs);
using Trim = Cell* (*)(Cell* series, const TrimArgs& refs);
using Modify = Cell* (*)(Cell* target, Cell* field, Cell* value, const ModifyArgs& refs);
using Open = Cell* (*)(Cell* port, const OpenArgs& refs);
using Read = Cell* (*)(Cell* source, const ReadArgs& refs);
using Write = Cell* (*)(Cell* destination, Cell* data, const WriteArgs& refs);
} // namespace action_sig

// Signature of each slot, so registrations are checked by the compiler.
template <int Slot> struct ActionSignature;
#define KEM_ACTION(slot, NAME, Name, Sig, word, doc, items) \
    template <> struct ActionSignature<slot> { using type = action_sig::Sig; };
#include "runtime/datatypes/actions.def"
#undef KEM_ACTION

} // namespace kem
