// Colours of the terminal GUI: tuple colours mapped to the 256-colour
// palette, the SGR text of a colour word, image pixels as colour words, and
// the colour depth the terminal announces.
#pragma once
#include <cstdint>
#include <string>
#include "runtime/core/cell.h"
#include "view/backends/terminal/cells.h"

namespace kem::gui {

// Colour modes of the screen: what images are drawn with.
enum ColorMode : int { COLOR_MODE_256 = 2, COLOR_MODE_24BIT = 4 };

struct Rgb {
    uint8_t r, g, b;
};
// The xterm palette: 16 system colours, the 6x6x6 cube from 16, the grey
// ramp from 232.
Rgb palette_rgb(uint32_t index);

// A tuple colour (R in the low byte, then G, B, and the alpha in the top
// byte, 255 = fully transparent) as the nearest palette colour word; a fully
// transparent colour is the default colour word 0. Faces, fonts, rich text and
// draw pens use it in every colour depth.
uint32_t rgb_to_256(uint32_t tuple_color);

// The colour of a tuple as a 32-bit word: the first three bytes, and the
// fourth (alpha) in the top byte when the tuple has one.
uint32_t tuple_color_value(const Cell* tuple);

// Appends "\033[", the SGR parameters of the colour word as foreground or
// background, and "m".
void append_color_sequence(std::string& out, uint32_t color_word, bool foreground);

// An image pixel (ARGB, alpha 255 = opaque) as a colour word: RGB in 24-bit
// mode, else the nearest palette colour.
uint32_t pixel_color_word(uint32_t argb, int color_mode);

// The colour depth from the values of COLORTERM and TERM (null when unset):
// 24-bit when COLORTERM names it ("24bit", "truecolor"), else the 256-colour
// palette when either holds "256", else 24-bit. Letter case does not count.
int color_mode_from(const char* colorterm, const char* term);
// The same from the process environment.
int color_mode_from_environment();

} // namespace kem::gui
