#include "view/backends/terminal/rich_text.h"
#include <algorithm>
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/pair.h"
#include "view/backends/terminal/colors.h"
#include "view/backends/terminal/draw_dialect.h"
#include "view/backends/terminal/draw_walk.h"
#include "view/backends/terminal/face_values.h"
#include "view/backends/terminal/text_layout.h"

namespace kem::gui {

namespace {

// The cells of a range, cut to the run.
template <class Change>
void over_range(CellRun& run, int64_t start, int64_t length, Change change) {
    const int64_t count = int64_t(run.size());
    const int64_t from = std::clamp<int64_t>(start, 0, count);
    const int64_t to = std::clamp<int64_t>(start + std::max<int64_t>(length, 0), from, count);
    for (int64_t i = from; i < to; i++) change(run[size_t(i)]);
}

constexpr uint32_t NOT_A_LINE = 0xFFFFFFFF;

// The style bits of `underline`, `strike` and `border` (which a terminal
// does not draw).
uint32_t line_style_bits(const Cell& v) {
    if (!is_type(&v, TYPE_WORD)) return NOT_A_LINE;
    if (word_is(&v, gui_symbol("underline"))) return STYLE_UNDERLINE;
    if (word_is(&v, gui_symbol("strike"))) return STYLE_STRIKE;
    if (word_is(&v, gui_symbol("border"))) return 0;
    return NOT_A_LINE;
}

} // namespace

void set_cells_fg(CellRun& run, int64_t start, int64_t length, uint32_t tuple_color) {
    const uint32_t color = rgb_to_256(tuple_color);
    over_range(run, start, length, [color](GuiCell& c) { c.fg = color; });
}

void set_cells_bg(CellRun& run, int64_t start, int64_t length, uint32_t tuple_color) {
    const uint32_t color = rgb_to_256(tuple_color);
    over_range(run, start, length, [color](GuiCell& c) { c.bg = color; });
}

void set_style_bits(CellRun& run, int64_t start, int64_t length, uint32_t bits) {
    over_range(run, start, length, [bits](GuiCell& c) { c.style |= bits; });
}

void text_styles(CellRun& run, const Cell* styles) {
    // Ranges count characters, one cell each.
    int64_t start = 0, length = 0;
    DrawWalk w(*styles, false);
    while (!w.at_end()) {
        const Cell v = w.peek();
        w.skip();
        if (is_type(&v, TYPE_PAIR)) {
            start = int64_t(pair_x(&v)) - 1;
            length = pair_y(&v);
        } else if (is_type(&v, TYPE_TUPLE)) {
            set_cells_fg(run, start, length, tuple_color_value(&v));
        } else if (is_type(&v, TYPE_STRING) || is_type(&v, TYPE_INTEGER) || is_type(&v, TYPE_FLOAT)) {
            // A font's name or size: a terminal has one font.
        } else if (is_type(&v, TYPE_WORD) && word_is(&v, gui_symbol("backdrop"))) {
            Cell color = w.peek();
            if (is_type(&color, TYPE_WORD)) color = word_value(color);
            if (!is_type(&color, TYPE_TUPLE)) w.invalid();
            w.skip();
            set_cells_bg(run, start, length, tuple_color_value(&color));
        } else if (is_type(&v, TYPE_WORD) && word_is(&v, gui_symbol("bold"))) {
            set_style_bits(run, start, length, STYLE_BOLD);
        } else if (is_type(&v, TYPE_WORD) && word_is(&v, gui_symbol("italic"))) {
            set_style_bits(run, start, length, STYLE_ITALIC);
        } else if (const uint32_t bits = line_style_bits(v); bits != NOT_A_LINE) {
            // An optional colour and an optional lit-word follow.
            Cell next = w.peek();
            if (is_type(&next, TYPE_TUPLE)) {
                w.skip();
                next = w.peek();
            }
            if (is_type(&next, TYPE_LIT_WORD)) w.skip();
            set_style_bits(run, start, length, bits);
        } else {
            // The value just passed is the offending one.
            draw_error(&w.series(), w.pos() - 1, false);
        }
    }
}

void rich_text_cells(const Cell* face, CellRun& run) {
    const Cell text = field_value(face, FACET_TEXT);
    run.clear();
    if (!is_type(&text, TYPE_STRING)) return;
    const Cell color = field_value(face, FACET_COLOR);
    const uint32_t bg = is_type(&color, TYPE_TUPLE) ? rgb_to_256(tuple_color_value(&color)) : 0;
    const TextSource source = text_of_string(&text);
    run.resize(source.length);
    // Every cell holds its character, styled or not: a rich text with no
    // style runs still shows its text.
    for (uint32_t i = 0; i < source.length; i++) run[i] = GuiCell{uint32_t(source.at(i)), bg, 0, 0};
    const Cell data = field_value(face, FACET_DATA);
    if (is_type(&data, TYPE_BLOCK) && !run.empty()) text_styles(run, &data);
}

} // namespace kem::gui
