// Widgets: the backend's record of each face it shows, with its box in
// cells, its state flags, its three handlers and a copy of the face; the
// windows they stand in, with their focus; the face renderer; and the
// constructors of the supported face types.
//
// Widgets, windows and their lists are owned here; the collector marks only
// the Kem values they hold (each widget's face and text).
#pragma once
#include <cstdint>
#include <memory>
#include <vector>
#include "runtime/core/cell.h"
#include "runtime/datatypes/event.h"
#include "view/backends/terminal/cells.h"
#include "view/backends/terminal/text_layout.h"

namespace kem::gui {

enum WidgetFlags : uint32_t {
    WIDGET_PAIR_SIZE = 0x10000,
    WIDGET_HIDDEN = 0x20000,
    WIDGET_DISABLED = 0x40000,
    WIDGET_ALL_OVER = 0x100000,
    WIDGET_CARET = 0x200000,
    WIDGET_FOCUSABLE = 0x400000,
    WIDGET_AWAY = 0x1000000,
    WIDGET_FOCUSED = 0x2000000,
    WIDGET_PASSWORD = 0x10000000,
    WIDGET_FULL_SCREEN = 0x40000000,
    WIDGET_CARET_BASE = 0x80000000,
};

// Event type codes the backend sends.
enum EventCode : int {
    EV_DOWN = 1, EV_UP = 2, EV_MID_DOWN = 3, EV_MID_UP = 4, EV_ALT_DOWN = 5, EV_ALT_UP = 6,
    EV_CLICK = 9, EV_DBL_CLICK = 10, EV_WHEEL = 11, EV_OVER = 12, EV_KEY = 13, EV_KEY_DOWN = 14,
    EV_FOCUS = 17, EV_UNFOCUS = 18, EV_SELECT = 25, EV_CHANGE = 26, EV_RESIZE = 30, EV_TIME = 33,
};

// Event flag bits.
enum EventFlagBits : uint32_t {
    EVF_SPECIAL = 0x1,
    EVF_AWAY = 0x4000000,
    EVF_DOWN = 0x2000000,
    EVF_CONTROL = 0x10000000,
    EVF_SHIFT = 0x20000000,
    EVF_ALT = 0x40000000,
};

struct GuiWidget;
struct GuiWindow {
    float left = 0, top = 0, right = 0, bottom = 0;  // extent
    GuiWidget* widget = nullptr;
    GuiWidget* focused = nullptr;
    int caret_widgets = 0;
};

struct FieldRecord {
    int caret_index = 0;   // characters before the caret
    int caret_column = 0;  // cells before the caret
    int text_width = 0;    // cells of the whole text
};

using UpdateHandler = void (*)(GuiWidget* w);
using RenderHandler = void (*)(int x, int y, GuiWidget* w);
// Answers whether the event was handled.
using EventHandler = bool (*)(GuiWidget* w, int code, GuiEventData& data);

struct GuiWidget {
    uint32_t type = 0;  // the face's type symbol
    uint32_t flags = 0;
    float x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // relative to the parent's box
    GuiWidget* parent = nullptr;
    CellRun cells;        // prepared cells (an image's), empty when none
    Cell text{};          // lines built for the widget (check, radio), none when unset
    std::unique_ptr<GuiWindow> window;  // window widgets
    FieldRecord field;    // field widgets
    CellRun styled;       // rich-text widgets
    int32_t top_item = 0; // text-list: items scrolled off the top
    UpdateHandler update = nullptr;
    RenderHandler render = nullptr;
    EventHandler event = nullptr;
    Cell face{};          // a copy of the face (none when the widget has none)
};

// ---- records and geometry
GuiWidget* make_widget(GuiWidget* parent);
// Releases the record (a window's record leaves the window list first).
void destroy_widget(GuiWidget* w);
inline bool flag_set(const GuiWidget* w, uint32_t bits) { return (w->flags & bits) != 0; }
inline int box_width(const GuiWidget* w) { return int(w->x2 - w->x1); }
inline int box_height(const GuiWidget* w) { return int(w->y2 - w->y1); }
bool is_window_widget(const GuiWidget* w);
// Sum of the box origins up to, not including, the window widget.
void absolute_position(const GuiWidget* w, int* x, int* y);
// The widget of a face: the handle at the head of its state block, else null.
GuiWidget* face_widget(const Cell* face);
// The topmost visible child of the widget's pane holding the point
// (relative to the widget), null when none.
GuiWidget* widget_at(const GuiWidget* w, float x, float y);
ClipBox clip_box(int x, int y, const GuiWidget* w);
void fill_cells(const ClipBox& box, uint32_t bg);
void render_face(int x, int y, GuiWidget* w, uint32_t flags);
// Every widget alive, for the collector and for checks.
const std::vector<GuiWidget*>& live_widgets();
bool widget_alive(const GuiWidget* w);
// Handles name widgets by a table index (a face's state never holds a pointer).
int32_t widget_handle(GuiWidget* w);
void release_widget_handle(GuiWidget* w);
GuiWidget* handle_widget(int32_t value);

// ---- windows and focus
extern std::vector<GuiWindow*> windows;
extern GuiWindow* top_window;
extern GuiWidget* focused_widget;
void make_window_record(GuiWidget* w);
void set_focus(GuiWidget* w, GuiWindow* win);
void show_window_record(GuiWindow* win);
void mark_window_dirty(GuiWidget* w);
GuiWindow* window_of(const GuiWidget* w);
// Tab and Shift-Tab: the next or previous focusable widget of the top window.
void focus_next(bool backward);
// The screen client: what the cell screen asks of the windows.
void install_screen_client();
// Frees every window and its widgets.
void free_all_windows();

// ---- widget types
// Installs the handlers of the widget's type and runs its set-up.
void construct_widget(GuiWidget* w);
// Makes the widget's prepared cells from an image.
void image_to_cells(GuiWidget* w, const Cell* image);
// Releases a face's widget, the widgets of its pane, and its timer.
void free_widget(const Cell* face);

// ---- facets
// Sets a facet of a face as a script would, its change handler running.
void set_facet(const Cell* face, uint32_t facet, const Cell& value);

} // namespace kem::gui
