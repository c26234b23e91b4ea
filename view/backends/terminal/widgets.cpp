#include "view/backends/terminal/widgets.h"
#include <algorithm>
#include "runtime/collector/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "view/backends/terminal/colors.h"
#include "view/backends/terminal/console_modes.h"
#include "view/backends/terminal/draw_dialect.h"
#include "view/backends/terminal/draw_primitives.h"
#include "view/backends/terminal/events.h"
#include "view/backends/terminal/face_values.h"
#include "view/backends/terminal/screen.h"
#include "view/backends/terminal/text_metrics.h"

namespace kem::gui {

std::vector<GuiWindow*> windows;
GuiWindow* top_window = nullptr;
GuiWidget* focused_widget = nullptr;

namespace {

std::vector<GuiWidget*> widgets;

void mark_widgets() {
    for (GuiWidget* w : widgets) {
        collector::mark_value(&w->face);
        collector::mark_value(&w->text);
    }
}

void default_update(GuiWidget*) {}
void default_render(int x, int y, GuiWidget* w) { render_face(x, y, w, STYLE_ESCAPES); }
bool default_event(GuiWidget*, int, GuiEventData&) { return false; }

} // namespace

const std::vector<GuiWidget*>& live_widgets() { return widgets; }

bool widget_alive(const GuiWidget* w) { return w && std::find(widgets.begin(), widgets.end(), w) != widgets.end(); }

GuiWidget* make_widget(GuiWidget* parent) {
    static bool rooted = false;
    if (!rooted) {
        collector::add_layer_root("gui widgets", mark_widgets);
        rooted = true;
    }
    auto* w = new GuiWidget;
    w->parent = parent;
    make_none(&w->text);
    make_none(&w->face);
    w->update = default_update;
    w->render = default_render;
    w->event = default_event;
    widgets.push_back(w);
    return w;
}

void destroy_widget(GuiWidget* w) {
    if (w->window) {
        GuiWindow* win = w->window.get();
        windows.erase(std::remove(windows.begin(), windows.end(), win), windows.end());
        if (top_window == win) {
            top_window = nullptr;
            if (!windows.empty()) show_window_record(windows.back());
        }
    }
    for (GuiWindow* win : windows) {
        if (win->focused == w) win->focused = nullptr;
    }
    if (focused_widget == w) focused_widget = nullptr;
    widgets.erase(std::remove(widgets.begin(), widgets.end(), w), widgets.end());
    release_widget_handle(w);
    delete w;
}

bool is_window_widget(const GuiWidget* w) { return w && w->window != nullptr; }

void absolute_position(const GuiWidget* w, int* x, int* y) {
    float fx = 0, fy = 0;
    for (; w && !is_window_widget(w); w = w->parent) {
        fx += w->x1;
        fy += w->y1;
    }
    *x = int(fx);
    *y = int(fy);
}

// Widgets are named by their handle's value: an index into this table, so a
// handle kept in a face never holds a pointer.
namespace {
std::vector<GuiWidget*> handle_table{nullptr};
}

int32_t widget_handle(GuiWidget* w) {
    for (size_t i = 1; i < handle_table.size(); i++) {
        if (!handle_table[i]) {
            handle_table[i] = w;
            return int32_t(i);
        }
    }
    handle_table.push_back(w);
    return int32_t(handle_table.size() - 1);
}

void release_widget_handle(GuiWidget* w) {
    for (auto& slot : handle_table) {
        if (slot == w) slot = nullptr;
    }
}

GuiWidget* handle_widget(int32_t value) {
    return value > 0 && size_t(value) < handle_table.size() ? handle_table[size_t(value)] : nullptr;
}

GuiWidget* face_widget(const Cell* face) {
    const Cell* state = field_at(face, FACET_STATE);
    if (!state || !is_type(state, TYPE_BLOCK) || block_rs_length(state) < 1) return nullptr;
    const Cell* h = block_rs_head(const_cast<Cell*>(state));
    if (!is_type(h, TYPE_HANDLE) || handle_class(h) != HANDLE_CLASS_WINDOW) return nullptr;
    return handle_widget(handle_value(h));
}

GuiWidget* widget_at(const GuiWidget* w, float x, float y) {
    const Cell* pane = field_at(&w->face, FACET_PANE);
    if (!pane || !is_type(pane, TYPE_BLOCK)) return nullptr;
    const int32_t n = block_rs_length(pane);
    for (int32_t i = n - 1; i >= 0; i--) {
        const Cell face = block_rs_head(const_cast<Cell*>(pane))[i];
        GuiWidget* c = face_widget(&face);
        if (!c || flag_set(c, WIDGET_HIDDEN)) continue;
        if (c->x1 <= x && x < c->x2 && c->y1 <= y && y < c->y2) return c;
    }
    return nullptr;
}

ClipBox clip_box(int x, int y, const GuiWidget* w) {
    int right = x + box_width(w);
    int bottom = y + box_height(w);
    const GuiWidget* p = w->parent;
    if (p && !is_window_widget(p)) {
        const int px = x - int(w->x1);
        const int py = y - int(w->y1);
        right = std::min(right, px + box_width(p));
        bottom = std::min(bottom, py + box_height(p));
        x = std::max(x, px);
        y = std::max(y, py);
    }
    right = std::min(right, screen.width);
    bottom = std::min(bottom, screen.height);
    return ClipBox{std::max(x, 0), std::max(y, 0), right, bottom};
}

void fill_cells(const ClipBox& box, uint32_t bg) {
    for (int row = box.top; row < box.bottom; row++) {
        for (int col = box.left; col < box.right; col++) {
            GuiCell& c = cell_at(col, row);
            c.code = 32;
            c.bg = bg;
        }
    }
}

namespace {

// The string after the word `hint` in an options block, else none.
Cell hint_of(const Cell* options) {
    Cell none;
    make_none(&none);
    if (!options || !is_type(options, TYPE_BLOCK)) return none;
    const int32_t n = block_rs_length(options);
    const Cell* at = block_rs_head(const_cast<Cell*>(options));
    for (int32_t i = 0; i + 1 < n; i++) {
        if (word_is(at + i, gui_symbol("hint")) && is_type(at + i + 1, TYPE_STRING)) return at[i + 1];
    }
    return none;
}

} // namespace

void render_face(int x, int y, GuiWidget* w, uint32_t flags) {
    const Cell* face = &w->face;
    TextStyle style;
    const Cell color = field_value(face, FACET_COLOR);
    if (is_type(&color, TYPE_TUPLE)) style.bg = rgb_to_256(tuple_color_value(&color));
    const Cell font = field_value(face, FACET_FONT);
    if (is_type(&font, TYPE_OBJECT)) style.fg = rgb_to_256(font_color(&font));
    const Cell para = field_value(face, FACET_PARA);
    if (is_type(&para, TYPE_OBJECT)) style.layout = para_flags(&para);

    const ClipBox clip = clip_box(x, y, w);
    if (clip.right - clip.left < 1 || clip.bottom - clip.top < 1) return;
    fill_cells(clip, style.bg);

    if (!w->cells.empty()) {
        TextStyle cells_style = style;
        cells_style.style = 0;
        cells_style.layout |= LAYOUT_WRAP;
        text_layout(text_of_run(w->cells), x, y, clip, cells_style);
    } else if (is_type(&w->text, TYPE_STRING)) {
        TextStyle own = style;
        own.style = flags;
        text_layout(text_of_string(&w->text), x, y, clip, own);
    }

    if (!(flags & STYLE_NO_TEXT)) {
        Cell text = field_value(face, FACET_TEXT);
        uint32_t bits = flags;
        const bool rich = w->type == gui_symbol("rich-text");
        if (!rich && !(is_type(&text, TYPE_STRING) && string_rs_length(&text) > 0)) {
            const Cell options = field_value(face, FACET_OPTIONS);
            const Cell hint = hint_of(&options);
            if (is_type(&hint, TYPE_STRING)) {
                text = hint;
                bits |= STYLE_DIM;
            }
        }
        if (is_type(&text, TYPE_STRING)) {
            const TextSource source = rich ? text_of_run(w->styled) : text_of_string(&text);
            const ClipBox at = align_text(source, box_width(w), box_height(w), style.layout);
            TextStyle ts = style;
            ts.style = bits;
            text_layout(source, x + at.left, y + at.top, clip, ts);
        }
    }

    const Cell draw = field_value(face, FACET_DRAW);
    if (is_type(&draw, TYPE_BLOCK) && block_rs_length(&draw) > 0) {
        DrawContext ctx;
        ctx.widget = w;
        ctx.origin_x = x;
        ctx.origin_y = y;
        ctx.clip = clip;
        ctx.flags = flags;
        draw_face_commands(ctx, &draw);
    }
}

// ---- windows

GuiWindow* window_of(const GuiWidget* w) {
    for (; w; w = w->parent) {
        if (w->window) return w->window.get();
    }
    return nullptr;
}

void make_window_record(GuiWidget* w) {
    if (flag_set(w, WIDGET_FULL_SCREEN)) screen.full_screen = true;
    w->window = std::make_unique<GuiWindow>();
    w->window->widget = w;
    windows.push_back(w->window.get());
    if (!focused_widget) focused_widget = w;
    w->render = [](int, int, GuiWidget*) {};
}

void set_focus(GuiWidget* w, GuiWindow* win) {
    if (!win) win = top_window;
    GuiWidget* old = win ? win->focused : focused_widget;
    if (old == w && w && flag_set(w, WIDGET_FOCUSED)) return;
    if (old) {
        old->flags &= ~uint32_t(WIDGET_FOCUSED);
        send_event(EV_UNFOCUS, old, 0);
    }
    if (win) win->focused = w;
    focused_widget = w;
    if (w) {
        w->flags |= WIDGET_FOCUSED;
        send_event(EV_FOCUS, w, 0);
    }
    mark_window_dirty(w);
}

void show_window_record(GuiWindow* win) {
    top_window = win;
    GuiWidget* f = win->focused ? win->focused : win->widget;
    focused_widget = f;
    if (f) f->flags |= WIDGET_FOCUSED;
    if (win->caret_widgets == 0 && console.active) hide_cursor();
}

void mark_window_dirty(GuiWidget* w) {
    if (!w) w = focused_widget;
    GuiWindow* win = window_of(w);
    if (win && win == top_window) screen.needs_redraw = true;
}

namespace {

// The focusable widgets of a tree, in pane order.
void collect_focusable(GuiWidget* w, std::vector<GuiWidget*>& out) {
    if (flag_set(w, WIDGET_HIDDEN)) return;
    if (flag_set(w, WIDGET_FOCUSABLE) && !flag_set(w, WIDGET_DISABLED)) out.push_back(w);
    const Cell* pane = field_at(&w->face, FACET_PANE);
    if (!pane || !is_type(pane, TYPE_BLOCK)) return;
    const int32_t n = block_rs_length(pane);
    for (int32_t i = 0; i < n; i++) {
        const Cell face = block_rs_head(const_cast<Cell*>(pane))[i];
        if (GuiWidget* c = face_widget(&face)) collect_focusable(c, out);
    }
}

void render_tree(GuiWidget* w) {
    if (flag_set(w, WIDGET_HIDDEN)) return;
    int x, y;
    absolute_position(w, &x, &y);
    w->render(x, y, w);
    const Cell* pane = field_at(&w->face, FACET_PANE);
    if (!pane || !is_type(pane, TYPE_BLOCK)) return;
    const Cell panes = *pane;
    const int32_t n = block_rs_length(&panes);
    for (int32_t i = 0; i < n; i++) {
        const Cell face = block_rs_head(const_cast<Cell*>(&panes))[i];
        if (GuiWidget* c = face_widget(&face)) render_tree(c);
    }
}

bool top_extent(float* l, float* t, float* r, float* b) {
    if (!top_window) return false;
    *l = top_window->left;
    *t = top_window->top;
    *r = top_window->right;
    *b = top_window->bottom;
    return true;
}

void render_top() {
    if (top_window) render_tree(top_window->widget);
}

bool caret_shown() {
    return focused_widget && flag_set(focused_widget, WIDGET_CARET) && screen.caret_column >= 0;
}

void resize_all(int width, int height) {
    const std::vector<GuiWindow*> list = windows;
    for (GuiWindow* win : list) {
        GuiWidget* w = win->widget;
        if (flag_set(w, WIDGET_FULL_SCREEN)) {
            w->x2 = w->x1 + float(width);
            w->y2 = w->y1 + float(height);
            win->right = win->left + float(width);
            win->bottom = win->top + float(height);
        }
        GuiEventData data;
        data.face = w->face;
        data.x = float(width);
        data.y = float(height);
        if (is_type(&w->face, TYPE_OBJECT)) make_event(EV_RESIZE, data, 0);
    }
    screen.needs_redraw = true;
}

constexpr ScreenClient CLIENT{top_extent, render_top, caret_shown, resize_all};

} // namespace

void focus_next(bool backward) {
    if (!top_window) return;
    std::vector<GuiWidget*> list;
    collect_focusable(top_window->widget, list);
    if (list.empty()) return;
    auto it = std::find(list.begin(), list.end(), focused_widget);
    size_t i;
    if (it == list.end()) i = backward ? list.size() - 1 : 0;
    else i = (size_t(it - list.begin()) + (backward ? list.size() - 1 : 1)) % list.size();
    set_focus(list[i], top_window);
}

void install_screen_client() { set_screen_client(&CLIENT); }

void free_all_windows() {
    const std::vector<GuiWindow*> list = windows;
    for (GuiWindow* win : list) {
        if (std::find(windows.begin(), windows.end(), win) == windows.end()) continue;
        const Cell face = win->widget->face;
        RootedCell keep(&face);
        free_widget(&face);
    }
}

void set_facet(const Cell* face, uint32_t facet, const Cell& value) {
    Cell* slot = field_at(face, facet);
    if (!slot) return;
    const Cell old = *slot;
    *slot = value;

    if (!object_on_set_active_q(face)) return;
    // The change handler's errors stay with it, as those of event handlers do.
    struct Change {  // rooted below: four cells
        Cell face, word, old, value;
    } change{*face, *object_word_at(object_context(face), facet), old, value};
    RootedCells keep(&change.face, 4);
    run_guarded([](void* p) {
        auto* c = static_cast<Change*>(p);
        object_call_on_change(&c->face, &c->word, &c->old, &c->value);
    }, &change);
}

} // namespace kem::gui
