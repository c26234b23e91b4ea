// The routine members of system/view/platform that reach the terminal
// backend: making, updating and freeing the widgets of faces, showing
// windows, the event loop, text measures and the requesters; and the
// backend's start-up.
#include "view/backends/terminal/platform_routines.h"
#include "runtime/collector/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/roots.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/ownership.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/interpreter/natives.h"
#include "view/backends/terminal/draw_dialect.h"
#include "view/backends/terminal/event_loop.h"
#include "view/backends/terminal/events.h"
#include "view/backends/terminal/face_values.h"
#include "view/backends/terminal/screen.h"
#include "view/backends/terminal/text_metrics.h"
#include "view/backends/terminal/timers.h"
#include "view/backends/terminal/widgets.h"

namespace kem::gui {

namespace {

Cell none_cell() { return Cell{TYPE_NONE, 0, 0, 0}; }

Cell* answer_none(Cell* args) {
    make_none(args);
    return args;
}

[[noreturn]] void invalid_type(const Cell* value) {
    Cell dt;
    make_datatype(&dt, type_of(value));
    fire(Err::script_invalid_type, dt);
}

struct FlagName {
    const char* name;
    uint32_t bit;
};
constexpr FlagName FLAG_NAMES[] = {
    {"all-over", 0x1},        {"focusable", 0x2},    {"tri-state", 0x20000},  {"scrollable", 0x40000},
    {"password", 0x80000},    {"no-sync", 0x100000}, {"fullscreen", 0x200000}, {"popup", 0x1000000},
    {"modal", 0x2000000},     {"resize", 0x4000000}, {"no-buttons", 0x8000000}, {"no-max", 0x10000000},
    {"no-min", 0x20000000},   {"no-title", 0x40000000}, {"no-border", 0x80000000},
};

uint32_t flag_of_word(const Cell* word) {
    for (const FlagName& f : FLAG_NAMES) {
        if (word_is(word, gui_symbol(f.name))) return f.bit;
    }
    fire(Err::script_invalid_arg, *word);
}

// The face's `flags`: a word, or a block of words.
uint32_t get_flags(const Cell* flags) {
    if (is_type(flags, TYPE_WORD)) return flag_of_word(flags);
    if (!is_type(flags, TYPE_BLOCK)) return 0;
    uint32_t bits = 0;
    const int32_t n = block_rs_length(flags);
    for (int32_t i = 0; i < n; i++) bits |= flag_of_word(block_rs_head(const_cast<Cell*>(flags)) + i);
    return bits;
}

bool truthy(const Cell* v) { return !(is_type(v, TYPE_NONE) || (is_type(v, TYPE_LOGIC) && v->data1 == 0)); }

uint32_t widget_flag_bits(const Cell* face) {
    const Cell flags = field_value(face, FACET_FLAGS);
    const uint32_t f = get_flags(&flags);
    uint32_t bits = 0;
    if (f & 0x2) bits |= WIDGET_FOCUSABLE;
    if (f & 0x1) bits |= WIDGET_ALL_OVER;
    if (f & 0x80000) bits |= WIDGET_PASSWORD;
    if (f & 0x200000) bits |= WIDGET_FULL_SCREEN;
    return bits;
}

void point_of_cell(const Cell* v, float* x, float* y) {
    *x = *y = 0;
    if (is_type(v, TYPE_PAIR)) {
        *x = float(pair_x(v));
        *y = float(pair_y(v));
    } else if (is_type(v, TYPE_POINT2D)) {
        *x = point_axis(v, 0);
        *y = point_axis(v, 1);
    }
}

GuiWidget* make_view(const Cell* face, GuiWidget* parent) {
    const Cell type = field_value(face, FACET_TYPE);
    GuiWidget* w = make_widget(parent);
    w->type = is_type(&type, TYPE_WORD) ? symbol_resolve(type.data2) : 0;
    w->face = *face;
    const bool window = w->type == gui_symbol("window");
    w->flags = widget_flag_bits(face);
    Cell* offset = field_at(face, FACET_OFFSET);
    float ox = 0, oy = 0;
    if (offset) {
        if (window) pair_set_in(offset, 0, 0);
        point_of_cell(offset, &ox, &oy);
    }
    const Cell size = field_value(face, FACET_SIZE);
    float sw, sh;
    point_of_cell(&size, &sw, &sh);
    if (is_type(&size, TYPE_PAIR)) w->flags |= WIDGET_PAIR_SIZE;
    const Cell visible = field_value(face, FACET_VISIBLE);
    const Cell enabled = field_value(face, FACET_ENABLED);
    if (!(is_type(&visible, TYPE_LOGIC) && visible.data1)) w->flags |= WIDGET_HIDDEN;
    if (!(is_type(&enabled, TYPE_LOGIC) && enabled.data1)) w->flags |= WIDGET_DISABLED;
    w->x1 = ox;
    w->y1 = oy;
    w->x2 = ox + sw;
    w->y2 = oy + sh;
    if (window) {
        make_window_record(w);
        w->window->right = w->x2 - w->x1;
        w->window->bottom = w->y2 - w->y1;
    }
    construct_widget(w);
    if (parent) {
        if (GuiWindow* win = is_window_widget(parent) ? parent->window.get() : nullptr) {
            win->left = std::min(win->left, w->x1);
            win->top = std::min(win->top, w->y1);
            win->right = std::max(win->right, w->x2);
            win->bottom = std::max(win->bottom, w->y2);
        }
        GuiWindow* win = window_of(w);
        if (win && flag_set(w, WIDGET_CARET)) win->caret_widgets++;
        if (win && !win->focused && flag_set(w, WIDGET_FOCUSABLE)) set_focus(w, win);
        const Cell image = field_value(face, FACET_IMAGE);
        if (is_type(&image, TYPE_IMAGE)) image_to_cells(w, &image);
    }
    const Cell rate = field_value(face, FACET_RATE);
    if (!is_type(&rate, TYPE_NONE)) set_rate(w, &rate);
    return w;
}

void update_view(const Cell* face_in) {
    const Cell face = *face_in;
    RootedCell keep(&face);
    GuiWidget* w = face_widget(&face);
    if (!w) return;
    Cell* state = field_at(&face, FACET_STATE);
    Cell* mask_cell = block_rs_length(state) >= 2 ? block_rs_head(state) + 1 : nullptr;
    const uint32_t mask = mask_cell && is_type(mask_cell, TYPE_INTEGER) ? uint32_t(cell_int(mask_cell)) : 0;
    if (mask_cell) make_integer(mask_cell, 0);
    auto changed = [&](uint32_t facet) { return (mask & (1u << facet)) != 0; };
    if (changed(FACET_RATE)) {
        timer_remove(w);
        const Cell rate = field_value(&face, FACET_RATE);
        if (!is_type(&rate, TYPE_NONE)) set_rate(w, &rate);
    }
    if (changed(FACET_OFFSET) || changed(FACET_SIZE)) {
        float ox = w->x1, oy = w->y1, sw = w->x2 - w->x1, sh = w->y2 - w->y1;
        if (changed(FACET_OFFSET)) {
            const Cell offset = field_value(&face, FACET_OFFSET);
            if (!is_window_widget(w)) point_of_cell(&offset, &ox, &oy);
        }
        if (changed(FACET_SIZE)) {
            const Cell size = field_value(&face, FACET_SIZE);
            point_of_cell(&size, &sw, &sh);
        }
        w->x1 = ox;
        w->y1 = oy;
        w->x2 = ox + sw;
        w->y2 = oy + sh;
        if (is_window_widget(w)) {
            w->window->right = w->window->left + sw;
            w->window->bottom = w->window->top + sh;
        }
    }
    if (changed(FACET_SELECTED) && is_window_widget(w)) {
        const Cell sel = field_value(&face, FACET_SELECTED);
        if (is_type(&sel, TYPE_NONE)) set_focus(w, w->window.get());
        else if (GuiWidget* f = face_widget(&sel)) set_focus(f, w->window.get());
    }
    auto follow = [&](uint32_t facet, uint32_t bit) {
        if (!changed(facet)) return;
        const Cell v = field_value(&face, facet);
        const bool on = is_type(&v, TYPE_LOGIC) && v.data1;
        if (on) w->flags &= ~bit;
        else w->flags |= bit;
    };
    follow(FACET_ENABLED, WIDGET_DISABLED);
    follow(FACET_VISIBLE, WIDGET_HIDDEN);
    if (changed(FACET_FLAGS)) {
        const uint32_t bits = widget_flag_bits(&face);
        w->flags = (w->flags & ~uint32_t(WIDGET_ALL_OVER | WIDGET_PASSWORD)) |
                   (bits & (WIDGET_ALL_OVER | WIDGET_PASSWORD));
    }
    if (changed(FACET_IMAGE)) {
        const Cell image = field_value(&face, FACET_IMAGE);
        image_to_cells(w, &image);
    }
    Cell* auto_sync = view_field("auto-sync?");
    const Cell saved = auto_sync ? *auto_sync : none_cell();
    if (auto_sync) make_logic(auto_sync, false);
    w->update(w);
    if ((auto_sync = view_field("auto-sync?"))) *auto_sync = saved;
    if (widget_alive(w)) mark_window_dirty(w);
}

Cell* r_size_text(Cell* args) {
    Cell text = args[1];
    if (is_type(&text, TYPE_NONE)) text = field_value(args, FACET_TEXT);
    else if (!is_type(&text, TYPE_STRING)) invalid_type(&args[1]);
    if (!is_type(&text, TYPE_STRING)) return answer_none(args);
    const TextSize size = text_size(text_of_string(&text), 0x7FFFFFFF);
    point2D_make_at(args, float(size.width), float(size.lines));
    return args;
}

Cell* r_on_change_facet(Cell* args) {
    const Cell owner = args[0];
    const Cell& word = args[1];
    if (word_is(&word, gui_symbol("pane"))) {
        update_view(&owner);
    } else if (word_is(&word, gui_symbol("data"))) {
        if (GuiWidget* w = face_widget(&owner)) {
            const Cell action = args[3];
            if (w->type == gui_symbol("text-list") && is_type(&args[4], TYPE_BLOCK)) {
                const bool shrinking = word_is(&action, gui_symbol("remove")) || word_is(&action, gui_symbol("take")) ||
                                       word_is(&action, gui_symbol("clear")) || word_is(&action, gui_symbol("move"));
                if (shrinking) {
                    const int32_t index = is_type(&args[5], TYPE_INTEGER) ? cell_int(&args[5]) : 0;
                    w->top_item = std::min(w->top_item, std::max(index, 0));
                    Cell* sel = field_at(&owner, FACET_SELECTED);
                    const int32_t part = is_type(&args[6], TYPE_INTEGER) ? cell_int(&args[6]) : 0;
                    const Cell data = field_value(&owner, FACET_DATA);
                    const int32_t len = is_type(&data, TYPE_BLOCK) ? block_rs_length(&data) : 0;
                    if (sel && is_type(sel, TYPE_INTEGER)) make_integer(sel, std::max(0, std::min(cell_int(sel), len - part)));
                }
            }
            update_view(&owner);
        }
    }
    return answer_none(args);
}

Cell* r_update_text(Cell* args) { return answer_none(args); }

// A terminal has no fonts: a change that would make a font anew (its name,
// size, style, angle or anti-aliasing) only lets the handle a font held go;
// colour and shadow are read where text is drawn.
Cell* r_update_font(Cell* args) {
    const int32_t field = is_type(&args[1], TYPE_INTEGER) ? cell_int(&args[1]) : -1;
    if ((field >= int32_t(FONT_NAME) && field <= int32_t(FONT_ANGLE)) || field == int32_t(FONT_ANTI_ALIAS)) {
        free_font(args);
        make_font();
    }
    return answer_none(args);
}

Cell* r_update_para(Cell* args) {
    update_para(args);
    return answer_none(args);
}

Cell* r_destroy_view(Cell* args) {
    const Cell face = args[0];
    RootedCell keep(&face);
    if (face_widget(&face)) {
        free_widget(&face);
        post_quit_msg();
        if (!windows.empty()) mark_window_dirty(nullptr);
    }
    return answer_none(args);
}

Cell* r_detach_image(Cell* args) {
    ownership_unbind(args);
    return answer_none(args);
}

Cell* r_update_view(Cell* args) {
    const Cell v = args[0];
    RootedCell keep(&v);
    if (is_type(&v, TYPE_BLOCK)) {
        const int32_t n = block_rs_length(&v);
        for (int32_t i = 0; i < n; i++) {
            const Cell f = block_rs_head(const_cast<Cell*>(&v))[i];
            if (!is_type(&f, TYPE_OBJECT)) invalid_type(&f);
            const Cell state = field_value(&f, FACET_STATE);
            if (is_type(&state, TYPE_BLOCK)) update_view(&f);
        }
    } else if (is_type(&v, TYPE_OBJECT)) {
        const Cell type = field_value(&v, FACET_TYPE);
        if (!word_is(&type, gui_symbol("screen"))) update_view(&v);
    } else {
        invalid_type(&v);
    }
    return answer_none(args);
}

Cell* r_refresh_window(Cell* args) {
    mark_window_dirty(handle_widget(handle_value(args)));
    return answer_none(args);
}

Cell* r_redraw(Cell* args) {
    if (GuiWidget* w = face_widget(args)) mark_window_dirty(w);
    return answer_none(args);
}

Cell* r_show_window(Cell* args) {
    GuiWidget* w = handle_widget(handle_value(args));
    if (GuiWindow* win = window_of(w)) {
        show_window_record(win);
        screen.needs_redraw = true;
    }
    return answer_none(args);
}

Cell* r_make_view(Cell* args) {
    const Cell face = args[0];
    RootedCell keep(&face);
    GuiWidget* parent = is_type(&args[1], TYPE_HANDLE) ? handle_widget(handle_value(&args[1])) : nullptr;
    GuiWidget* w = make_view(&face, parent);
    handle_set_in(args, widget_handle(w), HANDLE_CLASS_WINDOW);
    return args;
}

Cell* r_draw_image(Cell* args) {
    if (is_type(args, TYPE_IMAGE) && image_pixel_count(args) > 0) do_draw(nullptr, &args[1], false);
    return answer_none(args);
}

Cell* r_draw_face(Cell* args) {
    const Cell flags = field_value(args, FACET_FLAGS);
    get_flags(&flags);
    return answer_none(args);
}

Cell* r_do_event_loop(Cell* args) {
    const bool no_wait = truthy(args);
    make_logic(args, do_events(no_wait));
    return args;
}

Cell* r_exit_event_loop(Cell* args) {
    post_quit_msg();
    return answer_none(args);
}

// There is no font to choose in a terminal: the font given stays as it is
// and the member answers nothing.
Cell* r_request_font(Cell* args) {
    make_unset(args);
    return args;
}

Cell* request(Cell* args, const char* helper) {
    const Cell fn = tui_helper(helper);
    const Cell name = args[1];
    Cell keep_flags[2] = {args[3], args[4]};
    Cell result = none_cell();
    if (is_type(&fn, TYPE_FUNCTION)) call_kem(fn, {none_cell(), name, none_cell(), keep_flags[0], keep_flags[1]}, &result);
    *args = result;
    return args;
}

Cell* r_request_file(Cell* args) { return request(args, "request-file"); }
Cell* r_request_dir(Cell* args) { return request(args, "request-dir"); }

Cell* r_text_box_metrics(Cell* args) {
    const Cell type = field_value(args, FACET_TYPE);
    if (!word_is(&type, gui_symbol("rich-text"))) fire(Err::script_face_type, type);
    const Cell text = field_value(args, FACET_TEXT);
    if (!is_type(&text, TYPE_STRING)) return answer_none(args);
    const Cell out = text_box_metrics(args, &args[1], cell_int(&args[2]));
    *args = out;
    return args;
}

Cell* r_nothing(Cell* args) { return answer_none(args); }

Cell* r_support_dark_mode(Cell* args) {
    make_logic(args, false);
    return args;
}

Cell* r_focused_q(Cell* args) {
    GuiWidget* w = face_widget(args);
    make_logic(args, w && flag_set(w, WIDGET_FOCUSED));
    return args;
}

Cell* r_widget_data(Cell* args) {
    GuiWidget* w = face_widget(args);
    make_integer(args, w ? w->top_item : 0);
    return args;
}

Cell* r_set_face_ui(Cell* args) {
    if (GuiWidget* w = face_widget(args)) w->text = args[1];
    return answer_none(args);
}

// `to image!` of a face: this backend draws in character cells and makes no
// picture of one; other objects are none of its business.
bool face_to_image(const Cell* object, Cell* out) {
    if (!is_face(object)) return false;
    make_none(out);
    return true;
}

} // namespace

const RoutineEntry TUI_ROUTINES[] = {
    {"focused?", "[face [object!] return: [logic!]]", r_focused_q},
    {"widget-data", "[face [object!] return: [integer!]]", r_widget_data},
    {"set-face-ui", "[face [object!] ui [string!]]", r_set_face_ui},
};
const size_t TUI_ROUTINE_COUNT = sizeof TUI_ROUTINES / sizeof TUI_ROUTINES[0];

const RoutineEntry BACKEND_PLATFORM_ROUTINES[] = {
    {"size-text", "[face [object!] value [any-type!] return: [point2D! none!]]", r_size_text},
    {"on-change-facet", "[owner word value action new index part]", r_on_change_facet},
    {"update-text", "[face]", r_update_text},
    {"update-font", "[font flags]", r_update_font},
    {"update-para", "[face flags]", r_update_para},
    {"destroy-view", "[face empty?]", r_destroy_view},
    {"detach-image", "[image]", r_detach_image},
    {"update-view", "[face]", r_update_view},
    {"refresh-window", "[hwnd [handle!]]", r_refresh_window},
    {"redraw", "[face [object!]]", r_redraw},
    {"show-window", "[hwnd [handle!]]", r_show_window},
    {"make-view", "[face [object!] parent [handle!] return: [handle!]]", r_make_view},
    {"draw-image", "[image [image!] cmds [block!]]", r_draw_image},
    {"draw-face", "[face [object!] cmds [block!]]", r_draw_face},
    {"do-event-loop", "[no-wait? [logic!] return: [logic!]]", r_do_event_loop},
    {"exit-event-loop", "[]", r_exit_event_loop},
    {"request-font", "[font [object!] selected mono? [logic!]]", r_request_font},
    {"request-file", "[title name filter save? [logic!] multi? [logic!]]", r_request_file},
    {"request-dir", "[title dir filter keep? [logic!] multi? [logic!]]", r_request_dir},
    {"text-box-metrics", "[box [object!] arg0 [any-type!] type [integer!]]", r_text_box_metrics},
    {"update-scroller", "[scroller [object!] flags [integer!]]", r_nothing},
    {"set-dark-mode", "[face [object!] dark? [logic!]]", r_nothing},
    {"support-dark-mode?", "[return: [logic!]]", r_support_dark_mode},
    {"toggle-GPU", "[]", r_nothing},
};
const size_t BACKEND_PLATFORM_ROUTINE_COUNT = sizeof BACKEND_PLATFORM_ROUTINES / sizeof BACKEND_PLATFORM_ROUTINES[0];

void backend_init() {
    screen_init();
    const Cell fn = tui_helper("check-color-support");
    Cell mode;
    if (is_type(&fn, TYPE_FUNCTION) && call_kem(fn, {}, &mode) && is_type(&mode, TYPE_INTEGER)) {
        screen.color_mode = cell_int(&mode);
    }
    install_screen_client();
    set_wait_passes(wait_passes);
    set_face_image(face_to_image);
}

} // namespace kem::gui
