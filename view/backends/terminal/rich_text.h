// The styled cells of rich text: one cell per character of a rich-text
// face's text, coloured and styled by the runs of its `data` (a start and
// length pair, then the styles of that range).
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "view/backends/terminal/cells.h"

namespace kem::gui {

// The cells of the face's `text` on the face's `color`, with the style runs
// of its `data` when that is a block; no cells when `text` is no string.
void rich_text_cells(const Cell* face, CellRun& run);

// Applies a style block to the cells of a text; a value the styles do not
// know is the script error draw-invalid at it.
void text_styles(CellRun& run, const Cell* styles);

// Over the cells start .. start + length - 1, cut to the run: a tuple colour
// (mapped to the palette) as foreground or background, or style bits added.
void set_cells_fg(CellRun& run, int64_t start, int64_t length, uint32_t tuple_color);
void set_cells_bg(CellRun& run, int64_t start, int64_t length, uint32_t tuple_color);
void set_style_bits(CellRun& run, int64_t start, int64_t length, uint32_t bits);

} // namespace kem::gui
