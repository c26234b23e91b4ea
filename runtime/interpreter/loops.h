// The loop natives as steps: while, until, loop, repeat, forever, foreach,
// forall and remove-each hand out the block to evaluate next and take its
// outcome. Their native bodies drive the steps with eval_block; the run loop
// walks the blocks itself. Either way the steps below decide every pass.
//
// Every loop runs its passes inside one loop frame (named <body>) whose
// argument base is the loop's result cell: break and continue unwind to that
// frame and leave their value (or unset) there, so after each pass the cell
// holds what the loop answers if it ends now. State that must survive a pass
// lives in data-stack cells below the loop frame (they never move and the
// body cannot reach them) and in the LoopState.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"

namespace kem {

// What loop_step does next.
enum LoopNext : uint8_t {
    NEXT_PASS,  // advance, then hand out the body (or end)
    NEXT_COND,  // while: hand out the condition
    NEXT_BODY,  // while: hand out the body, the condition held
    NEXT_END,   // end the loop with the result cell as it is
};

// The block handed out last.
enum LoopHanded : uint8_t { HANDED_COND, HANDED_BODY };

struct LoopState {
    uint32_t number;  // the native
    uint8_t next;     // what the next step does
    uint8_t handed;   // what the last step handed out
    uint8_t broke;    // a break ended the loop
    uint32_t words;   // foreach, remove-each: words set per pass
    int64_t count;    // loop, repeat: passes to run
    int64_t done;     // loop, repeat: passes begun
    Cell* args;       // the native's arguments
    Cell* series;     // foreach, remove-each: the stepping copy; forall: the series at its start
    Cell* word;       // foreach, remove-each: the words; forall, repeat: the word
};

// Whether the native is one of the loops above.
bool loop_native(uint32_t number);

// Opens the loop of the native whose arguments are on the frame on top.
// False when it runs no pass: its result is then set.
bool loop_open(uint32_t number, LoopState& s);

// The block to evaluate next, on the loop frame with the data top at its
// result cell; nullptr once the loop has ended (its frame popped, the
// native's result set).
const Cell* loop_step(LoopState& s);

// After the block handed out ran: its value is in the loop's result cell, or
// a break or continue landed there (still pending). False when an exit that
// is not the loop's is pending: the caller leaves at once.
bool loop_settle(LoopState& s);

} // namespace kem
