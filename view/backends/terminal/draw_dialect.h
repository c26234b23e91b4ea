// The draw dialect: a block of command words and their arguments, walked
// from its position. Every command's arguments are checked by datatype, also
// for the commands a terminal cannot show, so the same draw blocks run here
// as anywhere; `word:` marks a place in the block for later changes; nested
// blocks are drawn in turn, and a block that holds itself is refused.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/errors.h"
#include "view/backends/terminal/draw_primitives.h"

namespace kem::gui {

// Draws the block with the context. A bad command or argument is the script
// error draw-invalid (draw-infinite for a block met inside itself) with the
// block at the offending value; with `report` set the error is printed and
// the drawing stops instead, and with system/view/silent? on the drawing
// just stops.
void draw_run(DrawContext& ctx, const Cell* block, bool report);

// A face's draw block, as the renderer draws it: begun, run with its errors
// printed, ended. Nothing for an empty block or a value that is no block.
void draw_face_commands(DrawContext& ctx, const Cell* block);

// The `draw` of an image: the commands drawn with a fresh context (no
// origin, an empty clip box). Without a widget nothing happens unless the
// commands are a non-empty block. Errors reach the caller unless `report` is
// set. An image is not written: the terminal has no pixels to draw into.
void do_draw(const void* widget, const Cell* commands, bool report);

// Raises (or with `report`, prints) the error with the block positioned at
// the value; stops the drawing when system/view/silent? is on.
[[noreturn]] void draw_throw_error(const Cell* block, uint32_t index, Err id, bool report);
// draw-infinite when the value there is a block over the same series as the
// block, else draw-invalid.
[[noreturn]] void draw_error(const Cell* block, uint32_t index, bool report);

} // namespace kem::gui
