#include "view/backends/terminal/events.h"
#include "runtime/core/errors.h"
#include "runtime/core/roots.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/evaluator.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/interpreter/trace.h"
#include "view/backends/terminal/face_values.h"
#include "view/event_records.h"

namespace kem::gui {

bool run_guarded(void (*body)(void* context), void* context) {
    CallFrame* const frames_mark = stack::frames_top;
    Cell* const args_mark = stack::arguments;
    Cell* const top_mark = stack::top;
    const Cell position_mark = interp::position;
    RootedCell keep_position(&position_mark);
    bool ok = true;
    stack::push_try_barrier_frame(&rt_words.try_);
    try {
        body(context);
        if (interp::pending()) ok = false;
    } catch (const KemError&) {
        ok = false;
    } catch (const PendingExit&) {
        ok = false;
    }
    last_throw_code = 0;
    stack::unwind_to(frames_mark, args_mark, top_mark);
    interp::position = position_mark;
    return ok;
}

bool call_kem(const Cell& fn, std::initializer_list<Cell> args, Cell* result) {
    Cell code;
    block_make_at(&code, int32_t(args.size() + 1));
    RootedCell keep_code(&code);
    block_append_cell(&code, &fn);
    for (const Cell& a : args) block_append_cell(&code, &a);

    struct Call {
        Cell* code;
        Cell out;
    } call{&code, Cell{TYPE_NONE, 0, 0, 0}};
    const bool was_tracing = interp::tracing;
    interp::tracing = false;
    const bool ok = run_guarded(
        [](void* context) {
            auto* c = static_cast<Call*>(context);
            interp::eval_block(c->code, false);
            if (!interp::pending()) c->out = *stack::top_value();
        },
        &call);
    interp::tracing = was_tracing;
    if (result) *result = ok ? call.out : Cell{TYPE_NONE, 0, 0, 0};
    return ok;
}

Cell tui_helper(const char* name) {
    Cell none{TYPE_NONE, 0, 0, 0};
    const Cell* helpers = context_global_value_cell(gui_symbol("TUI-helpers"));
    if (!helpers || !is_type(helpers, TYPE_OBJECT)) return none;
    const Cell* f = field_named(helpers, name);
    return f ? *f : none;
}

bool make_event(int type, const GuiEventData& data, uint32_t flags) {
    const Cell* awake = view_field("awake");
    if (!awake || !(is_type(awake, TYPE_FUNCTION) || is_type(awake, TYPE_ROUTINE))) return false;
    const Cell fn = *awake;
    EventRecordScope record(data);
    Cell event;
    event_make_backend_at(&event, uint32_t(type), record.handle(), flags);
    Cell result;
    if (!call_kem(fn, {event}, &result)) return false;
    return word_is(&result, gui_symbol("done")) && is_type(&result, TYPE_WORD);
}

bool send_event(int type, GuiWidget* w, uint32_t flags) { return send_event_at(type, w, 0, 0, flags); }

bool send_event_at(int type, GuiWidget* w, float x, float y, uint32_t flags) {
    if (!w || flag_set(w, WIDGET_DISABLED)) return false;
    GuiEventData data;
    data.face = w->face;
    data.x = x;
    data.y = y;
    const Cell face = w->face;
    RootedCell keep(&face);
    if (w->event(w, type, data)) return true;
    if (!is_type(&face, TYPE_OBJECT) || !widget_alive(w)) return false;
    return make_event(type, data, flags);
}

bool send_widget_event(int type, GuiWidget* w, int32_t value) {
    if (!w || flag_set(w, WIDGET_DISABLED) || !is_type(&w->face, TYPE_OBJECT)) return false;
    GuiEventData data;
    data.face = w->face;
    data.key = value;
    return make_event(type, data, 0);
}

void send_key_event(GuiWidget* w, int32_t key, int32_t special, bool shift) {
    if (!w) w = focused_widget;
    if (!w || flag_set(w, WIDGET_DISABLED)) return;
    uint32_t flags = 0;
    if (special != 0) {
        key = special;
        flags = EVF_SPECIAL;
    }
    if (shift) flags |= EVF_SHIFT;
    if (key == 0) return;
    GuiEventData data;
    data.face = w->face;
    data.key = key;
    const Cell face = w->face;
    RootedCell keep(&face);
    const bool has_face = is_type(&face, TYPE_OBJECT);
    if (has_face && make_event(EV_KEY_DOWN, data, flags)) return;
    if (has_face && make_event(EV_KEY, data, flags)) return;
    // A handler may have closed the widget's window.
    if (!widget_alive(w)) return;
    // Tab and Shift-Tab move the focus when nobody took the key.
    if (key == 9 && special == 0) {
        focus_next(shift);
        return;
    }
    w->event(w, EV_KEY, data);
}

} // namespace kem::gui
