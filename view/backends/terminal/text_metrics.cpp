#include "view/backends/terminal/text_metrics.h"
#include <algorithm>
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/point.h"
#include "view/backends/terminal/colors.h"
#include "view/backends/terminal/face_values.h"
#include "view/backends/terminal/text_layout.h"

namespace kem::gui {

namespace {

constexpr int32_t LINE_FEED = 10;
constexpr int NO_LIMIT = 2147483647;
constexpr int32_t PARA_CHANGED = 0x40000;

Cell point_cell(double x, double y) {
    Cell c;
    point2D_make_at(&c, float(x), float(y));
    return c;
}

// Walks n characters: where the caret after them stands, and the width of
// the last one (a line feed has none).
Cell caret_to_offset(const TextSource& text, int32_t n, int width_limit, bool lower_edge) {
    int column = 0, row = 0, count = 0, last = 0;
    uint32_t i = 0;
    while (count < n && i < text.length) {
        const int32_t c = text.at(i);
        if (c == LINE_FEED) {
            count++;
            row++;
            column = 0;
            last = 0;
            i++;
            continue;
        }
        const int w = char_width(c);
        if (column + w > width_limit) {
            if (column < 1) break;
            row++;
            column = 0;
            continue;
        }
        column += w;
        last = w;
        count++;
        i++;
    }
    return lower_edge ? point_cell(column, row + 1) : point_cell(column - last, row);
}

// The 1-based index of the character at a point.
Cell offset_to_caret(const TextSource& text, int32_t tx, int32_t ty, int width_limit, bool to_char) {
    int32_t index = 1;
    int column = 0, row = 0;
    uint32_t i = 0;
    bool carried = false;  // read again on a new row, counted once
    while (i < text.length && row < ty) {
        const int32_t c = text.at(i);
        if (c == LINE_FEED) {
            index++;
            row++;
            column = 0;
            i++;
            continue;
        }
        const int w = char_width(c);
        if (!carried) index++;
        carried = false;
        column += w;
        i++;
        if (column >= width_limit) {
            // A character wider than the limit on its own stays on its row.
            if (column > width_limit && column - w > 0) {
                i--;
                carried = true;
            }
            row++;
            column = 0;
        }
    }
    while (i < text.length && column < tx) {
        const int32_t c = text.at(i++);
        if (c == LINE_FEED) {
            index++;
            break;
        }
        if (!carried) index++;
        carried = false;
        column += char_width(c);
    }
    if (to_char && tx >= column && ty >= row && i >= text.length) index--;
    Cell result;
    make_integer(&result, index);
    return result;
}

} // namespace

Cell text_box_metrics(const Cell* face, const Cell* argument, int32_t type) {
    int32_t width_limit = NO_LIMIT, height_limit = NO_LIMIT;
    const Cell size = field_value(face, FACET_SIZE);
    point_of(&size, &width_limit, &height_limit);
    const Cell text_cell = field_value(face, FACET_TEXT);
    Cell result;
    if (type == METRICS_LINE_HEIGHT) {
        make_float(&result, 1.0);
        return result;
    }
    if (!is_type(&text_cell, TYPE_STRING)) {
        make_none(&result);
        return result;
    }
    const TextSource text = text_of_string(&text_cell);
    int32_t x = 0, y = 0;
    switch (type) {
    case METRICS_CARET_TO_OFFSET:
    case METRICS_CARET_LOWER:
        return caret_to_offset(text, is_type(argument, TYPE_INTEGER) ? cell_int(argument) : 0, width_limit,
                               type == METRICS_CARET_LOWER);
    case METRICS_OFFSET_TO_CARET:
    case METRICS_OFFSET_TO_CHAR:
        point_of(argument, &x, &y);
        return offset_to_caret(text, x, y, width_limit, type == METRICS_OFFSET_TO_CHAR);
    default: break;
    }
    const TextSize measured = text_measure(text, width_limit);
    if (type == METRICS_SIZE) return point_cell(measured.width, measured.lines);
    make_integer(&result, measured.lines);
    return result;
}

uint32_t para_flags(const Cell* para) {
    if (!para || !is_type(para, TYPE_OBJECT)) return 0;
    uint32_t bits = 0;
    const Cell wrap = field_value(para, PARA_WRAP);
    if (is_type(&wrap, TYPE_LOGIC) && wrap.data1) bits |= LAYOUT_WRAP;
    const Cell align = field_value(para, PARA_ALIGN);
    if (word_is(&align, gui_symbol("center"))) bits |= ALIGN_CENTER;
    else if (word_is(&align, gui_symbol("right"))) bits |= ALIGN_RIGHT;
    const Cell v_align = field_value(para, PARA_V_ALIGN);
    if (word_is(&v_align, gui_symbol("middle"))) bits |= ALIGN_MIDDLE;
    else if (word_is(&v_align, gui_symbol("bottom"))) bits |= ALIGN_BOTTOM;
    return bits;
}

void update_para(const Cell* face) {
    const Cell type = field_value(face, FACET_TYPE);
    const Cell state = field_value(face, FACET_STATE);
    if (!is_type(&type, TYPE_WORD) || !is_type(&state, TYPE_BLOCK) || block_rs_length(&state) < 2) return;
    Cell* mask = block_rs_abs_at(&state, series_index(&state) + 1);
    if (is_type(mask, TYPE_INTEGER)) mask->data2 |= PARA_CHANGED;
}

int32_t make_font() { return 0; }

int32_t font_handle(const Cell* font) {
    Cell state = field_value(font, FONT_STATE);
    if (is_type(&state, TYPE_BLOCK) && block_rs_length(&state) > 0) state = *block_rs_abs_at(&state, series_index(&state));
    return is_type(&state, TYPE_HANDLE) ? handle_value(&state) : 0;
}

void free_font(const Cell* font) {
    if (Cell* state = field_at(font, FONT_STATE)) make_none(state);
}

uint32_t font_color(const Cell* font) {
    const Cell color = field_value(font, FONT_COLOR);
    return is_type(&color, TYPE_TUPLE) ? tuple_color_value(&color) : 0;
}

} // namespace kem::gui
