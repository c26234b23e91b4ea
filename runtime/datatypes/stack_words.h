// Reports over the call stack that name words: the caller of an error, the
// calls a stack trace lists. They read the core's frames and need words and
// contexts to name them, so they sit with the datatypes.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/stack.h"

namespace kem::stack {

// The word of the innermost named frame (from the throw origin when one is
// set, which this clears), skipping "<anon>" and "<body>" frames; none when no
// frame is named. The word cell carries the frame's context and symbol.
Cell caller_word();
// The word a frame names: its symbol as found in the frame's context, else
// the global word of the symbol.
Cell frame_word(const CallFrame* f);
// For every named frame from the top one down to the one above the bottom:
// its word and the cell index of its saved argument base, appended to a block.
void collect_calls(const Cell* block);
// From the bottom frame up to (not including) `end`, the named frames' words:
// all of them when level > 1, else those whose value is a function!.
void frame_words(int32_t level, const Cell* block, const CallFrame* end);
// The same walk, each word formed into a string followed by one space, within
// the remaining limit; returns what is left of it.
int32_t form_frame_words(int32_t level, const CallFrame* end, Cell* string, int32_t limit);

} // namespace kem::stack
