// Drawing in character cells: what each draw command does in a terminal.
// Outlines are full blocks or box-drawing characters in the pen colour, fills
// are spaces on the fill colour, text goes through the text writer. Every
// shape is placed relative to the face being drawn and cut to its clip box.
// The commands a terminal cannot show (transformations, gradients, curves,
// images, clipping) are accepted by the draw dialect and draw nothing.
#pragma once
#include <cstddef>
#include <cstdint>
#include "runtime/core/cell.h"
#include "view/backends/terminal/text_layout.h"

namespace kem::gui {

struct CellPoint {
    int32_t x, y;
};

struct DrawContext {
    const void* widget = nullptr;  // the widget being drawn, none for an image
    int origin_x = 0;              // the face's position on the screen
    int origin_y = 0;
    ClipBox clip{0, 0, 0, 0};      // the face's clip box on the screen
    bool pen_on = true;
    uint32_t pen = 0;              // colour words
    uint32_t fill = 0;
    bool fill_on = false;
    uint32_t font_color = 0;
    bool font_color_set = false;   // a `font` command gave the text colour
    uint32_t flags = 0;            // the face's render flags
};

// Full block, box corners and edges.
constexpr uint32_t FULL_BLOCK = 0x2588;

void draw_begin(DrawContext& ctx);
// Tuple colours; `off` switches the pen or the fill off.
void draw_pen(DrawContext& ctx, uint32_t tuple_color, bool off);
void draw_fill_pen(DrawContext& ctx, uint32_t tuple_color, bool off);
// A font! object whose `color` tuple becomes the text colour.
void draw_font(DrawContext& ctx, const Cell* font);

// Each pair of neighbouring points joined.
void draw_line(DrawContext& ctx, const CellPoint* points, size_t count);
void draw_box(DrawContext& ctx, CellPoint a, CellPoint b);
void draw_triangle(DrawContext& ctx, CellPoint a, CellPoint b, CellPoint c);
void draw_circle(DrawContext& ctx, CellPoint centre, int32_t radius);
void draw_ellipse(DrawContext& ctx, CellPoint top_left, CellPoint size);
// A string, or a rich-text face with its styles; 1 (it never fails).
int draw_text(DrawContext& ctx, CellPoint at, const Cell* value);

} // namespace kem::gui
