// The parse dialect: matching a series against a block of grammar rules.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/compare_op.h"

namespace kem {

// Registers the parse stacks with the collector, interns the keywords and
// puts the parse native in the native table. Called once during start-up,
// after the natives and the runtime's words exist.
void parse_init();
void register_parse_native();

// No /part limit.
constexpr int64_t PARSE_NO_LIMIT = INT64_MAX;

// Matches input (block-like, string-like or binary!) from its position against
// the rule block. mode: 0 ignores letter case, 2 respects it. limit: the index
// of the input where matching stops (at least the input's position), or
// PARSE_NO_LIMIT. trace: a function! called at each step, or nullptr.
// Answers true when the rules matched and consumed the input to its tail (or
// to the limit), false otherwise, or the block the outermost collect filled.
// An exit raised by a paren or the trace callback (break, return ...) leaves
// as PendingExit with the stacks already set for its catcher.
Cell parse_run(const Cell* input, const Cell* rules, CompareOp mode, int64_t limit, const Cell* trace);

// For fuzzing: when not 0, every rule value a run takes up spends one unit,
// and the one that finds it spent raises ParseStepsSpent. Rules such as `while`
// over a rule that always matches run until stopped, as loops do.
extern uint64_t parse_step_budget;
// And while it runs, the frames a run may hold: a rule that has pushed the
// memory in use past this is stopped as if its steps were spent.
constexpr uint64_t PARSE_FUZZ_FRAMES = uint64_t(32) << 20;
struct ParseStepsSpent {};

} // namespace kem
