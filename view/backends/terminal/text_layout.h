// Text in character cells: a string or a run of prepared cells written into
// the screen inside a clipping box, with or without wrapping, with wide
// characters and with colour and style sequences embedded in the text; the
// placing of a text by its paragraph's alignment; and the text measures in
// cells. A line feed ends a line everywhere.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "view/backends/terminal/cells.h"

namespace kem::gui {

// The characters of a text: a string's units (1, 2 or 4 bytes each) or the
// cells of a run. Good until the next allocation.
struct TextSource {
    const uint8_t* units = nullptr;
    uint32_t unit = 1;
    const GuiCell* cells = nullptr;  // set for a run
    uint32_t length = 0;
    int32_t at(uint32_t i) const;
};
// A string from its position to its tail.
TextSource text_of_string(const Cell* string);
TextSource text_of_run(const CellRun& run);
// Code points in memory (4-byte units).
TextSource text_of_code_points(const uint32_t* code_points, uint32_t count);

// Layout bits of a text: alignment and wrapping.
enum LayoutBits : uint32_t {
    ALIGN_RIGHT = 0x1,
    ALIGN_CENTER = 0x2,
    ALIGN_MIDDLE = 0x4,
    ALIGN_BOTTOM = 0x8,
    LAYOUT_WRAP = 0x20,
};

struct TextStyle {
    uint32_t style = 0;   // CellStyle bits for every cell, plus STYLE_ESCAPES
    uint32_t layout = 0;  // LayoutBits
    uint32_t fg = 0;      // colour words
    uint32_t bg = 0;
};

// A box in cells; right and bottom are exclusive.
struct ClipBox {
    int left, top, right, bottom;
};

// Writes the text from column x and row y of the screen, touching no cell
// outside the clip box (nor the screen). A string's cells keep their
// background; a run's cells bring theirs.
void text_layout(const TextSource& text, int x, int y, ClipBox clip, const TextStyle& style);

// The attributes that escape sequences change.
struct SgrState {
    uint32_t bg, fg, style;
};
// Reads the escape sequence whose escape character is at index `at`: the
// number of units it takes (the escape character included), 0 when it is no
// "ESC [" sequence. Colour and style sequences change the state; cursor and
// erase sequences are read and do nothing.
uint32_t parse_escape(const TextSource& text, uint32_t at, SgrState& state);
void apply_sgr(SgrState& state, int code);

// Where a text goes in a box by the alignment bits: the text's own box,
// relative to the box's top-left corner.
ClipBox align_text(const TextSource& text, int width, int height, uint32_t bits);

// The display width of a character in cells: 0, 1 or 2.
int char_width(int32_t cp);

struct TextSize {
    int width;   // the widest line in cells
    int lines;
    int chars;   // characters measured, line feeds included
};
// Lines as they are; stops as soon as a line reaches the limit, and a widest
// line beyond it gives back its last character.
TextSize text_size(const TextSource& text, int limit);
// Lines wrapped at the wrap width (0: none); a character wider than the wrap
// width alone ends the measure.
TextSize text_measure(const TextSource& text, int wrap_width);

} // namespace kem::gui
