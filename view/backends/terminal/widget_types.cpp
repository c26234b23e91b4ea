// The supported face types: their handlers and set-up, the field's editing,
// the text list's navigation, check boxes and radio buttons, group boxes,
// images in cells, and the release of a face's widget.
#include <algorithm>
#include "runtime/core/roots.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/platform/imaging/bitmap.h"
#include "view/backends/terminal/colors.h"
#include "view/backends/terminal/events.h"
#include "view/backends/terminal/face_values.h"
#include "view/backends/terminal/input.h"
#include "view/backends/terminal/rich_text.h"
#include "view/backends/terminal/screen.h"
#include "view/backends/terminal/text_metrics.h"
#include "view/backends/terminal/timers.h"
#include "view/backends/terminal/widgets.h"

namespace kem::gui {

namespace {

bool is(const GuiWidget* w, const char* type) { return w->type == gui_symbol(type); }

// Runs a TUI-helpers function with the widget's face; its string result
// becomes the widget's own text when `keep` is set.
void run_helper(GuiWidget* w, const char* name, bool keep) {
    const Cell fn = tui_helper(name);
    if (!is_type(&fn, TYPE_FUNCTION)) return;
    const Cell face = w->face;
    RootedCell keep_face(&face);
    Cell result;
    call_kem(fn, {face}, &result);
    if (keep && widget_alive(w) && is_type(&result, TYPE_STRING)) w->text = result;
}

// ---- field

Cell field_text(GuiWidget* w) {
    Cell text = field_value(&w->face, FACET_TEXT);
    if (!is_type(&text, TYPE_STRING)) {
        string_make_at(&text, 16);
        set_facet(&w->face, FACET_TEXT, text);
        text = field_value(&w->face, FACET_TEXT);
    }
    return text;
}

void field_measure_end(GuiWidget* w) {
    w->field = FieldRecord{};
    const Cell text = field_value(&w->face, FACET_TEXT);
    if (!is_type(&text, TYPE_STRING)) return;
    const TextSize size = text_size(text_of_string(&text), box_width(w));
    w->field.caret_index = size.chars;
    w->field.caret_column = size.width;
    w->field.text_width = size.width;
}

void field_render(int x, int y, GuiWidget* w) {
    w->y2 = w->y1 + 1;
    render_face(x, y, w, STYLE_ESCAPES | (flag_set(w, WIDGET_PASSWORD) ? uint32_t(STYLE_MASKED) : 0u));
    if (flag_set(w, WIDGET_FOCUSED)) {
        screen.caret_column = x + w->field.caret_column;
        screen.caret_row = y;
    }
}

bool field_event(GuiWidget* w, int code, GuiEventData& data) {
    Cell text = field_text(w);
    RootedCell keep(&text);
    FieldRecord& f = w->field;
    const TextSource src = text_of_string(&text);
    const int length = int(src.length);
    if (code == EV_CLICK) {
        const TextSize size = text_size(src, int(data.x));
        f.caret_index = std::min(size.chars, length);
        f.caret_column = size.width;
        mark_window_dirty(w);
        return false;
    }
    const int32_t key = data.key;
    if (code != EV_KEY || key == 0 || key == 9 || key == 13) return false;
    bool edited = false;
    if (key == 2 || key == -23) {
        if (f.caret_index > 0) {
            f.caret_index--;
            f.caret_column -= char_width(src.at(uint32_t(f.caret_index)));
        }
    } else if (key == 6 || key == -22) {
        if (f.caret_index < length) {
            f.caret_column += char_width(src.at(uint32_t(f.caret_index)));
            f.caret_index++;
        }
    } else if (key == 8 || key == 127) {
        if (f.caret_index > 0) {
            const int cw = char_width(src.at(uint32_t(f.caret_index - 1)));
            Cell at = text;
            string_remove_units(&at, uint32_t(series_index(&text) + f.caret_index - 1), 1);
            f.caret_index--;
            f.caret_column -= cw;
            f.text_width -= cw;
            edited = true;
        }
    } else if (key >= 32) {
        const int cw = char_width(key);
        if (box_width(w) - cw >= f.text_width) {
            string_insert_char(series_buffer(&text), series_index(&text) + uint32_t(f.caret_index), key);
            f.caret_index++;
            f.caret_column += cw;
            f.text_width += cw;
            edited = true;
        }
    }
    mark_window_dirty(w);
    // The text changed in place: the face hears of it as a change.
    if (edited) send_widget_event(EV_CHANGE, w, 0);
    return false;
}

// ---- button

void button_render(int x, int y, GuiWidget* w) {
    render_face(x, y, w, STYLE_ESCAPES | (flag_set(w, WIDGET_FOCUSED) ? uint32_t(STYLE_REVERSE) : 0u));
}

bool button_event(GuiWidget* w, int code, GuiEventData& data) {
    if (code != EV_KEY || data.key == 0) return false;
    // Enter becomes a click through the global event functions, before the
    // key reaches this handler.
    if (data.key == ' ') send_event_at(EV_CLICK, w, 0, 0, 0);
    if (widget_alive(w)) mark_window_dirty(w);
    return false;
}

// ---- base with a caret

void base_render(int x, int y, GuiWidget* w) {
    if (!flag_set(w, WIDGET_CARET_BASE)) {
        render_face(x, y, w, STYLE_ESCAPES);
        return;
    }
    const Cell options = field_value(&w->face, FACET_OPTIONS);
    if (!is_type(&options, TYPE_BLOCK)) return;
    const int32_t n = block_rs_length(&options);
    const Cell* at = block_rs_head(const_cast<Cell*>(&options));
    for (int32_t i = 0; i + 1 < n; i += 2) {
        if (!word_is(at + i, gui_symbol("caret"))) continue;
        GuiWidget* c = face_widget(at + i + 1);
        if (c && flag_set(c, WIDGET_FOCUSED)) {
            screen.caret_column = x;
            screen.caret_row = y;
        }
    }
}

void base_setup(GuiWidget* w) {
    const Cell options = field_value(&w->face, FACET_OPTIONS);
    if (!is_type(&options, TYPE_BLOCK) || block_rs_length(&options) % 2 != 0) return;
    const int32_t n = block_rs_length(&options);
    const Cell* at = block_rs_head(const_cast<Cell*>(&options));
    for (int32_t i = 0; i + 1 < n; i += 2) {
        if (!word_is(at + i, gui_symbol("caret"))) continue;
        w->flags |= WIDGET_CARET_BASE;
        if (GuiWidget* c = face_widget(at + i + 1)) c->flags |= WIDGET_CARET;
        if (GuiWindow* win = window_of(w)) win->caret_widgets++;
    }
}

// ---- progress, text list, rich text

void progress_update(GuiWidget* w) { run_helper(w, "make-progress-ui", false); }
void progress_render(int x, int y, GuiWidget* w) { render_face(x, y, w, 0); }
void text_list_update(GuiWidget* w) { run_helper(w, "make-text-list-ui", false); }

int32_t item_count(const Cell* data) {
    if (is_type(data, TYPE_BLOCK) || is_type(data, TYPE_HASH)) return block_rs_length(data);
    if (is_type(data, TYPE_MAP)) return int32_t(map_count(data));
    return 0;
}

bool text_list_event(GuiWidget* w, int code, GuiEventData& data) {
    const Cell face = w->face;
    RootedCell keep(&face);
    const Cell data_value = field_value(&face, FACET_DATA);
    const int32_t n = item_count(&data_value);
    const Cell sel_value = field_value(&face, FACET_SELECTED);
    const int32_t old = is_type(&sel_value, TYPE_INTEGER) ? cell_int(&sel_value) : 0;
    int32_t sel = old;
    if (code == EV_KEY) {
        if (data.key == KEY_UP) {
            if (sel > 1) sel--;
            if (sel - 1 < w->top_item && w->top_item > 0) w->top_item--;
        } else if (data.key == KEY_DOWN) {
            if (sel < n) sel++;
            if (w->top_item < sel - box_height(w)) w->top_item++;
        } else {
            return false;
        }
    } else if (code == EV_FOCUS) {
        w->update(w);
        mark_window_dirty(w);
        return false;
    } else if (code == EV_CLICK) {
        // A click below the last item selects the last.
        sel = std::min(w->top_item + int32_t(data.y) + 1, std::max(n, 1));
    } else {
        return false;
    }
    if (sel == old && is_type(&sel_value, TYPE_INTEGER)) return false;
    const bool done = send_widget_event(EV_SELECT, w, sel);
    if (!widget_alive(w)) return true;
    const Cell state = field_value(&face, FACET_STATE);
    const Cell now = field_value(&face, FACET_SELECTED);
    const bool unchanged = is_type(&now, TYPE_INTEGER) ? cell_int(&now) == old && is_type(&sel_value, TYPE_INTEGER)
                                                       : !is_type(&sel_value, TYPE_INTEGER);
    if (is_type(&state, TYPE_BLOCK) && unchanged) {
        Cell v;
        make_integer(&v, sel);
        set_facet(&face, FACET_SELECTED, v);
        if (!widget_alive(w)) return true;
        w->update(w);
        mark_window_dirty(w);
        if (!done) send_widget_event(EV_CHANGE, w, sel);
    }
    return false;
}

void rich_text_update(GuiWidget* w) {
    const Cell face = w->face;
    rich_text_cells(&face, w->styled);
}
void rich_text_render(int x, int y, GuiWidget* w) { render_face(x, y, w, 0); }

// ---- check and radio

void check_update(GuiWidget* w) { run_helper(w, "make-checkbox-ui", true); }
void radio_update(GuiWidget* w) { run_helper(w, "make-radio-ui", true); }

void toggle_render(int x, int y, GuiWidget* w) {
    render_face(x, y, w, STYLE_ESCAPES | STYLE_NO_TEXT | (flag_set(w, WIDGET_FOCUSED) ? uint32_t(STYLE_REVERSE) : 0u));
}

bool toggle_event(GuiWidget* w, int code, GuiEventData& data) {
    if (code == EV_FOCUS) {
        mark_window_dirty(w);
        return false;
    }
    if (!((code == EV_KEY && data.key == ' ') || code == EV_CLICK)) return false;
    const Cell face = w->face;
    RootedCell keep(&face);
    const Cell old = field_value(&face, FACET_DATA);
    Cell v;
    if (is(w, "radio") || is_type(&old, TYPE_NONE)) make_logic(&v, true);
    else if (is_type(&old, TYPE_LOGIC)) make_logic(&v, old.data1 == 0);
    else make_logic(&v, false);
    set_facet(&face, FACET_DATA, v);
    if (!widget_alive(w)) return true;
    w->update(w);
    mark_window_dirty(w);
    send_widget_event(EV_CHANGE, w, 0);
    return false;
}

// ---- group box

void group_box_render(int x, int y, GuiWidget* w) {
    render_face(x, y, w, STYLE_NO_TEXT);
    const Cell options = field_value(&w->face, FACET_OPTIONS);
    bool round = false;
    bool recolor = false;
    uint32_t fg = 0;
    if (is_type(&options, TYPE_BLOCK)) {
        const int32_t n = block_rs_length(&options);
        const Cell* at = block_rs_head(const_cast<Cell*>(&options));
        for (int32_t i = 0; i + 1 < n; i++) {
            if (word_is(at + i, gui_symbol("border-corners"))) round = word_is(at + i + 1, gui_symbol("round"));
            if (word_is(at + i, gui_symbol("border-color")) && is_type(at + i + 1, TYPE_TUPLE)) {
                recolor = true;
                fg = rgb_to_256(tuple_color_value(at + i + 1));
            }
        }
    }
    const int right = x + box_width(w) - 1;
    const int bottom = y + box_height(w) - 1;
    auto put = [&](int cx, int cy, uint32_t code) {
        if (cx < 0 || cy < 0 || cx >= screen.width || cy >= screen.height) return;
        GuiCell& c = cell_at(cx, cy);
        c.code = code;
        if (recolor) c.fg = fg;
    };
    if (right <= x || bottom <= y) return;
    for (int cx = x + 1; cx < right; cx++) {
        put(cx, y, 0x2500);
        put(cx, bottom, 0x2500);
    }
    for (int cy = y + 1; cy < bottom; cy++) {
        put(x, cy, 0x2502);
        put(right, cy, 0x2502);
    }
    put(x, y, round ? 0x256D : 0x250C);
    put(right, y, round ? 0x256E : 0x2510);
    put(x, bottom, round ? 0x2570 : 0x2514);
    put(right, bottom, round ? 0x256F : 0x2518);
    const Cell text = field_value(&w->face, FACET_TEXT);
    if (is_type(&text, TYPE_STRING)) {
        TextStyle ts;
        ts.style = STYLE_ESCAPES;
        const Cell font = field_value(&w->face, FACET_FONT);
        if (is_type(&font, TYPE_OBJECT)) ts.fg = rgb_to_256(font_color(&font));
        // The title sits on the frame: it keeps the background drawn there.
        if (x >= 0 && y >= 0 && x < screen.width && y < screen.height) ts.bg = cell_at(x, y).bg;
        text_layout(text_of_string(&text), x + 1, y, clip_box(x, y, w), ts);
    }
}

} // namespace

void construct_widget(GuiWidget* w) {
    if (is(w, "field")) {
        w->flags |= WIDGET_CARET;
        field_measure_end(w);
        w->render = field_render;
        w->event = field_event;
    } else if (is(w, "button")) {
        w->render = button_render;
        w->event = button_event;
    } else if (is(w, "base")) {
        w->render = base_render;
        base_setup(w);
    } else if (is(w, "progress")) {
        w->update = progress_update;
        w->render = progress_render;
        w->update(w);
    } else if (is(w, "text-list")) {
        w->update = text_list_update;
        w->event = text_list_event;
        w->top_item = 0;
        w->update(w);
    } else if (is(w, "rich-text")) {
        w->update = rich_text_update;
        w->render = rich_text_render;
        w->update(w);
    } else if (is(w, "group-box")) {
        w->render = group_box_render;
    } else if (is(w, "check") || is(w, "radio")) {
        w->update = is(w, "check") ? check_update : radio_update;
        w->render = toggle_render;
        w->event = toggle_event;
        w->update(w);
    }
}

void image_to_cells(GuiWidget* w, const Cell* image) {
    w->cells.clear();
    const int width = box_width(w);
    const int height = box_height(w);
    if (!is_type(image, TYPE_IMAGE) || image_pixel_count(image) == 0 || width <= 0 || height <= 0) return;
    const platform::Bitmap* source = image_bitmap(image);
    if (!source) return;
    platform::Bitmap scaled;
    if (!platform::bitmap_scale(*source, uint32_t(width), uint32_t(height) * 2, scaled)) return;
    w->cells.resize(size_t(width) * size_t(height));
    for (int r = 0; r < height; r++) {
        const uint32_t* upper = scaled.row(uint32_t(2 * r));
        const uint32_t* lower = scaled.row(uint32_t(2 * r + 1));
        for (int c = 0; c < width; c++) {
            GuiCell& cell = w->cells[size_t(r) * size_t(width) + size_t(c)];
            if (upper[c] < 0x1000000) {
                cell = GuiCell{32, 0, 0, 0};
            } else {
                cell = GuiCell{0x2584, pixel_color_word(upper[c], screen.color_mode),
                               pixel_color_word(lower[c], screen.color_mode), 0};
            }
        }
    }
}

namespace {

// Takes the face out of the `parent` block of its font or para (by identity,
// from the block's head, where the links start); true when none is left.
bool unlink_face(const Cell* owner, uint32_t parent_field, const Cell& face) {
    Cell* parent = field_at(owner, parent_field);
    if (!parent || !is_type(parent, TYPE_BLOCK)) return false;
    const uint32_t n = block_full_length(parent);
    for (uint32_t i = 0; i < n; i++) {
        const Cell* c = block_rs_abs_at(parent, i);
        if (is_type(c, TYPE_OBJECT) && object_context(c) == object_context(&face)) {
            series_delete_units(parent, i, 1);
            break;
        }
    }
    return block_full_length(parent) == 0;
}

} // namespace

void free_widget(const Cell* face_in) {
    const Cell face = *face_in;
    RootedCell keep(&face);
    GuiWidget* w = face_widget(&face);
    if (!w) return;
    timer_remove(w);
    const Cell font = field_value(&face, FACET_FONT);
    if (is_type(&font, TYPE_OBJECT) && unlink_face(&font, FONT_PARENT, face)) free_font(&font);
    const Cell para = field_value(&face, FACET_PARA);
    if (is_type(&para, TYPE_OBJECT)) unlink_face(&para, PARA_PARENT, face);
    const Cell pane = field_value(&face, FACET_PANE);
    RootedCell keep_pane(&pane);
    if (is_type(&pane, TYPE_BLOCK)) {
        const int32_t n = block_rs_length(&pane);
        for (int32_t i = 0; i < n && i < block_rs_length(&pane); i++) {
            const Cell child = block_rs_head(const_cast<Cell*>(&pane))[i];
            free_widget(&child);
        }
    }
    destroy_widget(w);
    if (Cell* state = field_at(&face, FACET_STATE)) make_none(state);
}

} // namespace kem::gui
