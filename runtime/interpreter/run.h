// The run loop: evaluates decoded blocks (decode.h) when no trace run is
// delivering events. One loop walks a block, the parens in it, the bodies of
// the functions it calls and the blocks of if, either and unless, keeping
// what each unfinished expression waits for in records of its own instead
// of nested C++ calls; return and exit go straight to their function's
// record. Traced runs, and the few kinds of expression a site leaves to it,
// go through the general walk (walk.h); both give the same values, errors,
// frames and positions.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"

namespace kem::interp {

// The expressions of a block or paren from its position, on the current
// frame: the last value is pushed (unset for none).
void run_block(const Cell* block);

// One expression of the block at pos, its value pushed, with the operators
// after it unless no_infix. Returns the position after it; with an exit
// pending the stacks are already set for its catcher.
uint32_t run_expression(const Cell& block, uint32_t pos, uint32_t tail, bool no_infix);

// Registers the loop's records with the collector.
void run_init();

} // namespace kem::interp
