// What the GUI layer asks about texts in a terminal: the text-box metrics of
// rich-text faces (caret positions, the character under a point, the line
// height, the size and line count), the paragraph bits of a para!, and the
// font operations of a backend that has no fonts.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"

namespace kem::gui {

enum MetricsQuery : int32_t {
    METRICS_CARET_TO_OFFSET = 0,   // argument: a character count
    METRICS_OFFSET_TO_CARET = 1,   // argument: a point
    METRICS_LINE_HEIGHT = 2,
    METRICS_SIZE = 3,
    METRICS_LINE_COUNT = 4,
    METRICS_OFFSET_TO_CHAR = 5,    // argument: a point
    METRICS_CARET_LOWER = 6,       // as 0, the caret's lower edge
};
// The answer for a face whose `text` is a string, laid out within the face's
// `size` (unlimited without one).
Cell text_box_metrics(const Cell* face, const Cell* argument, int32_t type);

// The paragraph bits of a para! object: wrap, horizontal and vertical
// alignment (LayoutBits); 0 for anything else.
uint32_t para_flags(const Cell* para);
// Marks the face's `para` facet as changed in its state block.
void update_para(const Cell* face);

// A terminal has no fonts: none is made, and a font's handle is only read
// back and dropped.
int32_t make_font();
int32_t font_handle(const Cell* font);
void free_font(const Cell* font);
// The colour of a font's `color` tuple, 0 when it has none.
uint32_t font_color(const Cell* font);

} // namespace kem::gui
