// function!: user functions, their spec rules, locals and argument lists.
//
// function! (24) cell: header type 24 with FUNCTION_TRACE / FUNCTION_NO_TRACE
// from the spec's attribute block; payload word 1 the function context
// (one word per argument, refinement and local, values on the data stack
// during a call; its self cell holds the function value); word 2 the spec
// node, always read from its head; word 3 the node of the extras block of
// FUNCTION_EXTRAS cells:
//   0 body: a deep copy of the given body, or none;
//   1 argument list: unset until the first call caches it (callable_arg_list);
//   2 system mark: logic! true for a function that is part of the system
//     (the library): its body runs without trace events and its frame is
//     no return target, so such a body never uses return or exit; unset
//     otherwise;
//   3 the function value itself once an op! wraps it;
//   4 owner: the object! whose context a method of the library belongs to,
//     or unset. An object! cell, so the collector keeps the context alive.
// Copies of a function share its extras block: they compare equal, and
// nothing else does.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/memory.h"
#include "runtime/datatypes/action_types.h"
#include "runtime/datatypes/native.h"

namespace kem {

constexpr uint32_t FUNCTION_TRACE = 0x400;
constexpr uint32_t FUNCTION_NO_TRACE = 0x200;
constexpr uint32_t FUNCTION_EXTRAS = 5;

enum FunctionExtra : uint32_t {
    EXTRA_BODY = 0,
    EXTRA_ARG_LIST = 1,
    EXTRA_SYSTEM = 2,
    EXTRA_OP = 3,
    EXTRA_OWNER = 4,
};

// --- making -----------------------------------------------------------------------

// Makes a function! and pushes it. spec: a block (copied first when its
// position is past its head); body: a block deep-copied and bound to the new
// context, or nullptr for none; ctx: a prepared context (its body is then not
// rebound), or 0 to make one from the spec; system: part of the system;
// owner: the context of the object the function is a method of, or 0; flags:
// FUNCTION_TRACE / FUNCTION_NO_TRACE. Returns the pushed cell; its context is
// payload word 1.
Cell* function_push(const Cell* spec, const Cell* body, NodeId ctx, bool system, NodeId owner, uint32_t flags);

// --- reading ------------------------------------------------------------------------

inline NodeId function_context(const Cell* fn) { return fn->data1; }
inline Cell* function_body(const Cell* fn) { return callable_extra_cell(fn, EXTRA_BODY); }
inline uint32_t function_flags(const Cell* fn) { return fn->header & (FUNCTION_TRACE | FUNCTION_NO_TRACE); }
// Whether the function is part of the system: no trace events inside its body.
bool function_is_system(const Cell* fn);
void function_set_system(const Cell* fn, bool system);
// While on (the boot code loading the library), every function the function
// makers make is part of the system.
void function_set_system_mode(bool on);
bool function_system_mode();
// The context of the owning object, or 0.
NodeId function_owner_context(const Cell* fn);

// --- spec rules ---------------------------------------------------------------------

// Checks a spec block from its position; script bad-func-def (the whole spec),
// invalid-type-spec or dup-vars. Returns the flags of its attribute block.
uint32_t function_validate(const Cell* spec);
// -1 when an item of the attribute block is not a word!, else the flags of
// the words trace and no-trace; other words are ignored.
int32_t function_spec_attributes(const Cell* block);
// Every item (a word! replaced by its value; unset raises script no-value)
// must be a datatype!, typeset! or word!: script invalid-type-spec otherwise.
void function_check_type_block(const Cell* block);
// Script dup-vars naming the first word, lit-word, get-word or refinement
// whose name (ignoring case) comes again later in the spec.
void function_check_duplicates(const Cell* spec);
[[noreturn]] void function_fire_bad_spec(const Cell* spec);

// For the function native: adds the body's set-words and loop words to the
// spec (a copy the caller owns, changed in place) as locals, except the
// words named after /extern, which leaves the spec with everything after it.
// Returns the block of collected words.
Cell function_collect_words(Cell* spec, const Cell* body);

// Local slots from item `start` (from the head) on: 0 until /local, which
// counts 1, then 1 per word! after it. With ask, -1 when there is no /local.
int32_t function_count_locals(const Cell* spec, uint32_t start, bool ask);
// Pushes the local slots of a call: false for /local, then n - 1 none.
void function_init_locals(uint32_t n);

// --- argument lists -----------------------------------------------------------------

// An argument entry is a typeset! whose header bits 20-21 hold its kind.
constexpr uint32_t ARG_KIND_SHIFT = 20;
constexpr uint32_t ARG_KIND_MASK = 0x300000;
enum ArgKind : uint32_t { ARG_NORMAL = 0, ARG_GET = 1, ARG_LIT = 2, ARG_RETURN = 3 };
inline ArgKind arg_kind(const Cell* entry) { return ArgKind((entry->header & ARG_KIND_MASK) >> ARG_KIND_SHIFT); }

// Builds the argument list of a spec, in spec order: a typeset! per argument
// (and for return:), a refinement! per refinement (for natives and actions
// numbered from 1 in payload word 3); for functions and routines an integer!
// 1 + the number of locals when the spec has /local; for natives and actions
// a final integer! with the number of refinements when there are any. A
// set-word other than return: raises script bad-func-def naming it.
Cell function_arg_list(const Cell* spec, bool native_kind);
// The argument list cached in a callable's extras (built on first use).
Cell callable_arg_list_build(const Cell* callable);
inline Cell callable_arg_list(const Cell* callable) {
    const Cell* cached = callable_extra_cell(callable, EXTRA_ARG_LIST);
    if (is_type(cached, TYPE_BLOCK)) [[likely]] return *cached;
    return callable_arg_list_build(callable);
}

// The i-th (from 0) word!, lit-word!, get-word! or refinement! of a spec from
// its head, or the word <anon> when there is none.
Cell spec_argument_word(const Cell* spec, int index);

// --- actions ----------------------------------------------------------------------------

Cell* function_make(Cell* proto, Cell* spec, int32_t type);
Cell* function_reflect(Cell* value, int32_t field_symbol);
int32_t function_form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t function_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
// Equal exactly when both share one extras block; -2 for orderings.
int32_t function_compare(Cell* value1, Cell* value2, CompareOp op);

void register_function();

} // namespace kem
