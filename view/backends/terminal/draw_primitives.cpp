#include "view/backends/terminal/draw_primitives.h"
#include <algorithm>
#include <cmath>
#include "view/backends/terminal/colors.h"
#include "view/backends/terminal/face_values.h"
#include "view/backends/terminal/rich_text.h"
#include "view/backends/terminal/screen.h"
#include "view/backends/terminal/text_metrics.h"

namespace kem::gui {

namespace {

constexpr uint32_t BOX_TOP_LEFT = 0x250C, BOX_TOP_RIGHT = 0x2510, BOX_BOTTOM_LEFT = 0x2514, BOX_BOTTOM_RIGHT = 0x2518;
constexpr uint32_t BOX_VERTICAL = 0x2502, BOX_HORIZONTAL = 0x2500;
// Radii beyond any screen are cut to this, which keeps the ellipse
// arithmetic in range and its walk short.
constexpr int64_t MAX_RADIUS = 32767;
// Lines longer than this are first cut to the visible box.
constexpr int64_t LONG_LINE = 4096;

// The cells a shape may touch: the clip box within the screen.
struct Visible {
    int64_t left, top, right, bottom;  // right and bottom exclusive
    bool holds(int64_t x, int64_t y) const { return x >= left && x < right && y >= top && y < bottom; }
};

Visible visible(const DrawContext& ctx) {
    return Visible{std::max(ctx.clip.left, 0), std::max(ctx.clip.top, 0), std::min(ctx.clip.right, screen.width),
                   std::min(ctx.clip.bottom, screen.height)};
}

void plot_block(const DrawContext& ctx, const Visible& v, int64_t x, int64_t y) {
    if (!v.holds(x, y)) return;
    GuiCell& c = cell_at(int(x), int(y));
    c.code = FULL_BLOCK;
    c.fg = ctx.pen;
}

// Spaces on the fill colour from x0 to x1 (inclusive) on row y, within the
// visible box.
void fill_span(const DrawContext& ctx, const Visible& v, int64_t x0, int64_t x1, int64_t y) {
    if (y < v.top || y >= v.bottom) return;
    for (int64_t x = std::max(x0, v.left), end = std::min(x1, v.right - 1); x <= end; x++) {
        GuiCell& c = cell_at(int(x), int(y));
        c.code = ' ';
        c.bg = ctx.fill;
    }
}

// Cuts a long segment to the visible box widened by a cell (a parametric
// clip): a line far beyond the screen would otherwise be walked cell by cell.
// False when nothing of it is visible.
bool cut_long_line(const Visible& v, int64_t& x0, int64_t& y0, int64_t& x1, int64_t& y1) {
    const double dx = double(x1 - x0), dy = double(y1 - y0);
    double t0 = 0, t1 = 1;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {double(x0 - (v.left - 1)), double(v.right - x0), double(y0 - (v.top - 1)), double(v.bottom - y0)};
    for (int i = 0; i < 4; i++) {
        if (p[i] == 0) {
            if (q[i] < 0) return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0) t0 = std::max(t0, t);
        else t1 = std::min(t1, t);
    }
    if (t0 > t1) return false;
    const int64_t ax = x0, ay = y0;
    x0 = ax + int64_t(std::llround(t0 * dx));
    y0 = ay + int64_t(std::llround(t0 * dy));
    x1 = ax + int64_t(std::llround(t1 * dx));
    y1 = ay + int64_t(std::llround(t1 * dy));
    return true;
}

// One segment by Bresenham's integer algorithm, in every octant, on screen
// cells. The walk ends once the line has left the visible box: a straight
// line does not come back into a box.
void segment(const DrawContext& ctx, const Visible& v, int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
    if (std::max(x0, x1) < v.left || std::min(x0, x1) >= v.right || std::max(y0, y1) < v.top ||
        std::min(y0, y1) >= v.bottom)
        return;
    if ((std::abs(x1 - x0) > LONG_LINE || std::abs(y1 - y0) > LONG_LINE) && !cut_long_line(v, x0, y0, x1, y1)) return;
    const int64_t dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int64_t sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int64_t error = dx + dy;
    bool entered = false;
    for (;;) {
        if (v.holds(x0, y0)) {
            entered = true;
            plot_block(ctx, v, x0, y0);
        } else if (entered) {
            return;
        }
        if (x0 == x1 && y0 == y1) return;
        const int64_t e2 = 2 * error;
        if (e2 >= dy) {
            error += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            error += dx;
            y0 += sy;
        }
    }
}

// The integer ellipse of Zingl around (cx, cy) with radii a and b; each
// outline point in the pen colour, and with the fill on the cells from it
// toward the centre column.
void ellipse(const DrawContext& ctx, int64_t cx, int64_t cy, int64_t a, int64_t b) {
    a = std::min(a, MAX_RADIUS);
    b = std::min(b, MAX_RADIUS);
    const Visible v = visible(ctx);
    const auto point = [&](int64_t px, int64_t py) {
        if (ctx.pen_on) plot_block(ctx, v, px, py);
        if (ctx.fill_on && px != cx) {
            if (px < cx) fill_span(ctx, v, px + 1, cx, py);
            else fill_span(ctx, v, cx, px - 1, py);
        }
    };
    const int64_t a2 = a * a, b2 = b * b;
    int64_t x = -a, y = 0;
    int64_t dx = b2 * (2 * x + 1), dy = a2;
    int64_t error = dx + dy;
    do {
        point(cx - x, cy + y);
        point(cx + x, cy + y);
        point(cx + x, cy - y);
        point(cx - x, cy - y);
        const int64_t e2 = 2 * error;
        if (e2 >= dx) {
            x++;
            dx += 2 * b2;
            error += dx;
        }
        if (e2 <= dy) {
            y++;
            dy += 2 * a2;
            error += dy;
        }
    } while (x <= 0);
    while (y++ < b) {
        point(cx, cy + y);
        point(cx, cy - y);
    }
}

} // namespace

void draw_begin(DrawContext& ctx) {
    ctx.pen_on = true;
    ctx.pen = 0;
    ctx.fill_on = false;
    ctx.font_color_set = false;
}

void draw_pen(DrawContext& ctx, uint32_t tuple_color, bool off) {
    if (off) {
        ctx.pen_on = false;
        return;
    }
    ctx.pen = rgb_to_256(tuple_color);
    if (!ctx.font_color_set) ctx.font_color = ctx.pen;
    ctx.pen_on = true;
}

void draw_fill_pen(DrawContext& ctx, uint32_t tuple_color, bool off) {
    if (off) {
        ctx.fill_on = false;
        return;
    }
    ctx.fill = rgb_to_256(tuple_color);
    ctx.fill_on = true;
}

void draw_font(DrawContext& ctx, const Cell* font) {
    const Cell color = field_value(font, FONT_COLOR);
    ctx.font_color_set = is_type(&color, TYPE_TUPLE);
    if (ctx.font_color_set) ctx.font_color = rgb_to_256(tuple_color_value(&color));
}

void draw_line(DrawContext& ctx, const CellPoint* points, size_t count) {
    const Visible v = visible(ctx);
    for (size_t i = 1; i < count; i++) {
        segment(ctx, v, int64_t(ctx.origin_x) + points[i - 1].x, int64_t(ctx.origin_y) + points[i - 1].y,
                int64_t(ctx.origin_x) + points[i].x, int64_t(ctx.origin_y) + points[i].y);
    }
}

void draw_box(DrawContext& ctx, CellPoint a, CellPoint b) {
    const int64_t x0 = std::min(a.x, b.x), x1 = std::max(a.x, b.x);
    const int64_t y0 = std::min(a.y, b.y), y1 = std::max(a.y, b.y);
    if (x0 > ctx.clip.right - ctx.clip.left || x1 <= 0 || y0 > ctx.clip.bottom - ctx.clip.top || y1 <= 0) return;
    const Visible v = visible(ctx);
    const int64_t left = x0 + ctx.origin_x, top = y0 + ctx.origin_y;
    // The far edges are drawn at the screen's last column and row when the
    // box reaches beyond them; the near ones only where they are.
    const int64_t right = std::min(x1 + ctx.origin_x, int64_t(screen.width) - 1);
    const int64_t bottom = std::min(y1 + ctx.origin_y, int64_t(screen.height) - 1);
    const int64_t first_x = std::max({left, int64_t(ctx.origin_x), v.left});
    const int64_t first_y = std::max({top, int64_t(ctx.origin_y), v.top});
    for (int64_t y = first_y; y <= bottom && y < v.bottom; y++) {
        for (int64_t x = first_x; x <= right && x < v.right; x++) {
            GuiCell& c = cell_at(int(x), int(y));
            if (ctx.fill_on) {
                c.code = ' ';
                c.bg = ctx.fill;
            }
            if (!ctx.pen_on) continue;
            const bool l = x == left, r = x == right, t = y == top, btm = y == bottom;
            uint32_t code = 0;
            if (t && l) code = BOX_TOP_LEFT;
            else if (t && r) code = BOX_TOP_RIGHT;
            else if (btm && l) code = BOX_BOTTOM_LEFT;
            else if (btm && r) code = BOX_BOTTOM_RIGHT;
            else if (l || r) code = BOX_VERTICAL;
            else if (t || btm) code = BOX_HORIZONTAL;
            if (code) {
                c.code = code;
                c.fg = ctx.pen;
            }
        }
    }
}

void draw_triangle(DrawContext& ctx, CellPoint a, CellPoint b, CellPoint c) {
    CellPoint p[3] = {a, b, c};
    std::sort(p, p + 3, [](CellPoint m, CellPoint n) { return m.y < n.y || (m.y == n.y && m.x < n.x); });
    if (ctx.fill_on) {
        const Visible v = visible(ctx);
        const int64_t x0 = p[0].x, y0 = p[0].y, x1 = p[1].x, y1 = p[1].y, x2 = p[2].x, y2 = p[2].y;
        const int64_t rows = y2 - y0;
        const int64_t top = y0 + ctx.origin_y;
        // Only the rows that can show are walked.
        for (int64_t i = std::max<int64_t>(0, v.top - top), end = std::min(rows, v.bottom - top); i < end; i++) {
            const double long_x = double(x2 - x0) * (double(i) / double(rows));
            const int64_t xa = x0 + int64_t(long_x);
            int64_t xb;
            if (i > y1 - y0 || y1 == y0) xb = x1 + int64_t(double(x2 - x1) * (double(i - (y1 - y0)) / double(y2 - y1)));
            else xb = x0 + int64_t(double(x1 - x0) * (double(i) / double(y1 - y0)));
            fill_span(ctx, v, std::min(xa, xb) + ctx.origin_x, std::max(xa, xb) + ctx.origin_x, top + i);
        }
    }
    if (ctx.pen_on) {
        const CellPoint edges[4] = {p[0], p[1], p[2], p[0]};
        draw_line(ctx, edges, 4);
    }
}

void draw_circle(DrawContext& ctx, CellPoint centre, int32_t radius) {
    if (radius <= 0) return;
    // A cell is about twice as high as it is wide.
    ellipse(ctx, int64_t(ctx.origin_x) + centre.x, int64_t(ctx.origin_y) + centre.y, 2 * int64_t(radius), radius);
}

void draw_ellipse(DrawContext& ctx, CellPoint top_left, CellPoint size) {
    if (size.x < 1 || size.y < 1) return;
    const int64_t rx = int64_t((double(size.x) + 0.5) / 2), ry = int64_t((double(size.y) + 0.5) / 2);
    ellipse(ctx, int64_t(ctx.origin_x) + top_left.x + rx, int64_t(ctx.origin_y) + top_left.y + ry, rx, ry);
}

int draw_text(DrawContext& ctx, CellPoint at, const Cell* value) {
    TextStyle style;
    style.style = ctx.flags | STYLE_ESCAPES;
    style.layout = LAYOUT_WRAP;
    style.fg = ctx.font_color_set ? ctx.font_color : ctx.pen_on ? ctx.pen : 0;
    const int x = saturate_int(double(ctx.origin_x) + at.x), y = saturate_int(double(ctx.origin_y) + at.y);
    if (is_type(value, TYPE_STRING)) {
        text_layout(text_of_string(value), x, y, ctx.clip, style);
    } else if (is_type(value, TYPE_OBJECT)) {
        CellRun run;
        rich_text_cells(value, run);
        const Cell para = field_value(value, FACET_PARA);
        style.layout = para_flags(&para);
        text_layout(text_of_run(run), x, y, ctx.clip, style);
    }
    return 1;
}

} // namespace kem::gui
