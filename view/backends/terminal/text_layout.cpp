#include "view/backends/terminal/text_layout.h"
#include <algorithm>
#include "runtime/datatypes/string.h"
#include "runtime/services/output.h"
#include "view/backends/terminal/screen.h"

namespace kem::gui {

namespace {

constexpr int32_t LINE_FEED = 10;
constexpr int32_t ESCAPE = 27;
constexpr int PARAMETER_LIMIT = 65535;  // larger numbers mean nothing to SGR
constexpr uint32_t CELL_ONLY = ~uint32_t(STYLE_ESCAPES | STYLE_NO_TEXT);

void apply_group(SgrState& state, const int* params, int count) {
    if (count == 3 && (params[0] == 38 || params[0] == 48) && params[1] == 5) {
        const uint32_t color = color_word(COLOR_PALETTE, uint32_t(params[2]) & 0xFF);
        (params[0] == 38 ? state.fg : state.bg) = color;
        return;
    }
    for (int i = 0; i < count; i++) apply_sgr(state, params[i]);
}

} // namespace

int32_t TextSource::at(uint32_t i) const {
    if (cells) return int32_t(cells[i].code);
    return string_get_char(units + size_t(i) * unit, unit);
}

TextSource text_of_string(const Cell* string) {
    const TextRange r = string_text_range(string);
    TextSource t;
    t.unit = r.unit;
    t.length = r.length;
    t.units = node_buffer(r.node)->head_ptr() + size_t(r.pos) * r.unit;
    return t;
}

TextSource text_of_run(const CellRun& run) {
    TextSource t;
    t.cells = run.data();
    t.length = uint32_t(run.size());
    return t;
}

TextSource text_of_code_points(const uint32_t* code_points, uint32_t count) {
    TextSource t;
    t.units = reinterpret_cast<const uint8_t*>(code_points);
    t.unit = 4;
    t.length = count;
    return t;
}

int char_width(int32_t cp) { return unicode::char_width(cp); }

void apply_sgr(SgrState& s, int code) {
    static constexpr uint32_t BITS[10] = {0,         STYLE_BOLD,    STYLE_DIM,   STYLE_ITALIC, STYLE_UNDERLINE,
                                          STYLE_BLINK, 0,           STYLE_REVERSE, STYLE_HIDDEN, STYLE_STRIKE};
    if (code == 0) s = SgrState{0, 0, 0};
    else if (code >= 1 && code <= 9) s.style |= BITS[code];
    else if (code >= 21 && code <= 29) s.style &= ~BITS[code - 20];
    else if ((code >= 30 && code <= 37) || code == 39) s.fg = color_word(COLOR_BASE, uint32_t(code - 30));
    else if ((code >= 40 && code <= 47) || code == 49) s.bg = color_word(COLOR_BASE, uint32_t(code - 40));
    else if (code >= 90 && code <= 97) s.fg = color_word(COLOR_BASE, uint32_t(code - 80));
    else if (code >= 100 && code <= 107) s.bg = color_word(COLOR_BASE, uint32_t(code - 90));
}

uint32_t parse_escape(const TextSource& text, uint32_t at, SgrState& state) {
    if (at + 1 >= text.length || text.at(at + 1) != '[') return 0;
    int params[3];
    int count = 0;      // parameters of the group completed
    int current = -1;   // digits of the parameter being read, -1 for none
    uint32_t i = at + 2;
    while (i < text.length) {
        const int32_t c = text.at(i++);
        if (c >= '0' && c <= '9') {
            current = std::min((current < 0 ? 0 : current) * 10 + (c - '0'), PARAMETER_LIMIT);
            continue;
        }
        if (c == ';') {
            // A fourth parameter starts a new group; the full one is dropped.
            if (count == 2) count = 0;
            else params[count++] = current < 0 ? 0 : current;
            current = -1;
            continue;
        }
        if (c == 'm' && current >= 0) {
            params[count++] = current;
            apply_group(state, params, count);
        }
        break;
    }
    return i - at;
}

void text_layout(const TextSource& text, int x, int y, ClipBox clip, const TextStyle& style) {
    int left = std::max(clip.left, 0), top = std::max(clip.top, 0);
    const int right = std::min(clip.right, screen.width), bottom = std::min(clip.bottom, screen.height);
    const bool wrap = style.layout & LAYOUT_WRAP;
    const bool escapes = style.style & STYLE_ESCAPES;
    uint32_t i = 0;
    int column = x, row = y;
    // Lines above the box are walked over without their escape sequences.
    while (i < text.length && row < top) {
        const int32_t c = text.at(i++);
        if (c == LINE_FEED) {
            column = x;
            row++;
            continue;
        }
        column += char_width(c);
        if (wrap && column >= right) {
            column = x;
            row++;
        }
    }
    left = std::max(left, x);
    row = std::max(row, top);
    column = x;
    SgrState sgr{style.bg, style.fg, style.style};
    while (i < text.length && row < bottom) {
        const int32_t c = text.at(i);
        if (c == LINE_FEED) {
            row++;
            column = x;
            i++;
            continue;
        }
        if (escapes && c == ESCAPE) {
            if (const uint32_t n = parse_escape(text, i, sgr)) {
                i += n;
                continue;
            }
        }
        const int w = char_width(c);
        if (w == 0) {
            // A character with no cells of its own cannot be placed in one.
            i++;
            continue;
        }
        bool fits = true;
        if (column < left) {
            // Left of the box: passed over; a wide one straddling the edge
            // leaves the visible part of its cells as they were.
            column += w;
            i++;
        } else if (column + w <= right) {
            GuiCell& cell = cell_at(column, row);
            cell.code = uint32_t(c);
            if (text.cells) {
                const GuiCell& from = text.cells[i];
                cell.fg = from.fg;
                cell.bg = from.bg;
                cell.style = (from.style | sgr.style) & CELL_ONLY;
            } else {
                cell.fg = sgr.fg;
                cell.style = sgr.style & CELL_ONLY;
            }
            for (int k = 1; k < w; k++) cell_at(column + k, row).style = STYLE_CONTINUATION;
            column += w;
            i++;
        } else {
            fits = false;
        }
        if (fits && column < right) continue;
        if (wrap) {
            // The character that did not fit is tried again on the next row.
            row++;
            column = x;
        } else {
            while (i < text.length && text.at(i) != LINE_FEED) i++;
        }
    }
}

ClipBox align_text(const TextSource& text, int width, int height, uint32_t bits) {
    int text_width = width, text_height = height;
    if (bits & (ALIGN_RIGHT | ALIGN_CENTER | ALIGN_MIDDLE | ALIGN_BOTTOM)) {
        const TextSize size = text_measure(text, width);
        text_width = size.width;
        text_height = size.lines;
    }
    int dx = 0, dy = 0;
    if (text_width < width) {
        if (bits & ALIGN_CENTER) dx = (width - text_width) / 2;
        else if (bits & ALIGN_RIGHT) dx = width - text_width;
    }
    if (text_height < height) {
        if (bits & ALIGN_MIDDLE) dy = (height - text_height) / 2;
        else if (bits & ALIGN_BOTTOM) dy = height - text_height;
    }
    return ClipBox{dx, dy, dx + text_width, dy + text_height};
}

TextSize text_size(const TextSource& text, int limit) {
    TextSize size{0, 1, 0};
    int line = 0, last = 0;
    for (uint32_t i = 0; i < text.length; i++) {
        const int32_t c = text.at(i);
        size.chars++;
        if (c == LINE_FEED) {
            size.lines++;
            line = 0;
            last = 0;
        } else {
            last = char_width(c);
            line += last;
            size.width = std::max(size.width, line);
        }
        if (line >= limit) break;
    }
    if (size.width > limit) {
        size.width -= last;
        size.chars--;
    }
    return size;
}

TextSize text_measure(const TextSource& text, int wrap_width) {
    TextSize size{0, 1, 0};
    int line = 0;
    uint32_t i = 0;
    while (i < text.length) {
        const int32_t c = text.at(i);
        if (c == LINE_FEED) {
            size.lines++;
            line = 0;
            i++;
            continue;
        }
        const int w = char_width(c);
        if (wrap_width > 0 && line + w > wrap_width) {
            if (line == 0) break;
            size.lines++;
            line = 0;
            continue;
        }
        line += w;
        size.width = std::max(size.width, line);
        i++;
    }
    size.chars = int(i);
    return size;
}

} // namespace kem::gui
