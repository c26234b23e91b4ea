// The terminal GUI's picture: screen cells, their style bits and colour words.
//
// A colour word is a 32-bit colour whose top byte says how to read the rest:
// 0 the terminal's default, 1 a base colour index, 2 a palette index, 4 RGB.
#pragma once
#include <cstdint>
#include <vector>

namespace kem::gui {

// One character cell of the screen.
struct GuiCell {
    uint32_t code;   // the character; 0 is empty and shows as a space
    uint32_t bg;     // colour words
    uint32_t fg;
    uint32_t style;  // CellStyle bits
};

enum CellStyle : uint32_t {
    STYLE_BLINK = 0x1,         // kept, never written
    STYLE_BOLD = 0x2,
    STYLE_DIM = 0x4,           // also hint text
    STYLE_REVERSE = 0x8,
    STYLE_UNDERLINE = 0x10,
    STYLE_STRIKE = 0x40,
    STYLE_ITALIC = 0x100,
    STYLE_HIDDEN = 0x200,      // kept, never written
    STYLE_CONTINUATION = 0x400,  // covered by the wide character to its left
    STYLE_MASKED = 0x800,      // shown as "*" (password fields)
    // Render flags that travel with the style bits of a text but are no
    // property of a cell.
    STYLE_ESCAPES = 0x1000,    // the text's escape sequences are read
    STYLE_NO_TEXT = 0x2000,    // the renderer leaves out the face's text
};

// Prepared cells: each carries its own character, colours and style (an
// image's cells, a rich text's styled characters).
using CellRun = std::vector<GuiCell>;

enum ColorKind : uint32_t {
    COLOR_DEFAULT = 0,
    COLOR_BASE = 1,
    COLOR_PALETTE = 2,
    COLOR_RGB = 4,
};
constexpr uint32_t color_word(ColorKind kind, uint32_t value) { return (uint32_t(kind) << 24) | (value & 0xFFFFFF); }
constexpr ColorKind color_kind(uint32_t word) { return ColorKind(word >> 24); }

} // namespace kem::gui
