#include "view/backends/terminal/event_loop.h"
#include <poll.h>
#include <time.h>
#include <unistd.h>
#include <algorithm>
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/platform/terminal.h"
#include "view/backends/terminal/console_modes.h"
#include "view/backends/terminal/events.h"
#include "view/backends/terminal/face_values.h"
#include "view/backends/terminal/screen.h"
#include "view/backends/terminal/timers.h"
#include "view/backends/terminal/widgets.h"

namespace kem::gui {

namespace {

constexpr int FRAME_MS = 33;
// How long the terminal's answer to a position query is awaited.
constexpr int DRAIN_MS = 250;

int32_t nesting = 0;
bool in_session = false;   // a loop or a wait holds the GUI's modes
bool interrupted = false;  // Ctrl-C: every loop and wait ends
bool mouse_reporting = false;
keys::KeyDecoder decoder;

// Pointer tracking.
int last_button_state = 1;  // 0 after a press report, 1 after a release
GuiWidget* hover = nullptr;
float hover_x = 0, hover_y = 0;
GuiWidget* pressed = nullptr;
std::vector<GuiWidget*> pressed_list;
int click_state = 0;
int click_timer = 0;

int64_t now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Widgets may go while events are delivered: pointers kept here are checked.
GuiWidget* alive(GuiWidget* w) { return widget_alive(w) ? w : nullptr; }

// Reads what is waiting on standard input; the number of bytes read.
size_t read_console(bool process) {
    if (!console.active) return 0;
    size_t total = 0;
    for (;;) {
        pollfd pfd{STDIN_FILENO, POLLIN, 0};
        if (poll(&pfd, 1, 0) <= 0 || !(pfd.revents & POLLIN)) break;
        uint8_t bytes[512];
        const ssize_t n = ::read(STDIN_FILENO, bytes, sizeof bytes);
        if (n <= 0) break;
        total += size_t(n);
        if (process) decoder.feed(bytes, size_t(n));
    }
    if (platform::take_resize()) refresh_screen_size();
    return total;
}

void wait_input(int ms) {
    if (!console.active) {
        timespec ts{0, long(ms) * 1000000L};
        nanosleep(&ts, nullptr);
        return;
    }
    pollfd pfd{STDIN_FILENO, POLLIN, 0};
    poll(&pfd, 1, ms);
}

bool related(const GuiWidget* a, const GuiWidget* b) {
    if (a->parent == b->parent) return true;
    for (const GuiWidget* p = a->parent; p; p = p->parent) {
        if (p == b) return true;
    }
    return false;
}

void send_to_pressed(int type, float x, float y, uint32_t flags, uint32_t mask) {
    GuiWidget* p = alive(pressed);
    if (!p || !flag_set(p, WIDGET_AWAY)) return;
    if (mask != 0xFFFFFFFF && !flag_set(p, mask)) return;
    for (const GuiWidget* w = p; w && w->parent; w = w->parent) {
        x -= w->x1;
        y -= w->y1;
    }
    send_event_at(type, p, x, y, flags);
}

struct ButtonResult {
    bool handled = false;
    bool clicked = false;
    int sent = 0;
};

ButtonResult dispatch_button(int type, GuiWidget* w, float x, float y, uint32_t flags) {
    ButtonResult r;
    ButtonResult child;
    GuiWidget* c = widget_at(w, x, y);
    if (c) child = dispatch_button(type, c, x - c->x1, y - c->y1, flags);
    if (!alive(w)) return child;
    r.handled = child.handled;
    if (!child.handled) r.handled = send_event_at(type, w, x, y, flags);
    if (!alive(w)) return r;
    if (type == EV_DOWN) pressed_list.push_back(w);
    if (type == EV_UP && !child.clicked &&
        std::find(pressed_list.begin(), pressed_list.end(), w) != pressed_list.end()) {
        int sent = EV_CLICK;
        if (child.sent == EV_DBL_CLICK || (click_state == 2 && click_timer < 500)) {
            send_event_at(EV_CLICK, w, x, y, flags);
            click_state = 10;
            sent = EV_DBL_CLICK;
        }
        if (!alive(w)) return r;
        r.clicked = send_event_at(sent, w, x, y, flags);
        r.sent = sent;
        if (alive(w) && !c && flag_set(w, WIDGET_FOCUSABLE) && !flag_set(w, WIDGET_FOCUSED)) set_focus(w, nullptr);
    }
    return r;
}

void mouse_button(int type, GuiWidget* w, float x, float y, uint32_t flags) {
    if (type == EV_DOWN) pressed = hover;
    dispatch_button(type, w, x, y, flags);
    if (type == EV_UP) {
        send_to_pressed(type, x, y, flags, 0xFFFFFFFF);
        pressed = nullptr;
        pressed_list.clear();
        click_state = click_state == 10 ? 0 : 2;
        click_timer = 0;
    }
}

bool mouse_move(int type, GuiWidget* w, float x, float y, uint32_t flags, bool top) {
    bool handled = false;
    // A widget hears of one pointer move once, however many rules name it
    // (a dragged face would move twice).
    bool sent = false;
    if (!alive(hover)) hover = nullptr;
    if (!hover) {
        handled = send_event_at(type, w, x, y, flags);
        sent = true;
    }
    GuiWidget* c = widget_at(w, x, y);
    if (c) {
        handled = mouse_move(type, c, x - c->x1, y - c->y1, flags, false) || handled;
    } else {
        if (w != hover) {
            GuiWidget* old = alive(hover);
            if (old && related(old, w)) {
                if (old == pressed) old->flags |= WIDGET_AWAY;
                send_event_at(type, old, hover_x, hover_y, flags | EVF_AWAY);
            }
            if (old && alive(w) && related(w, old)) {
                w->flags &= ~uint32_t(WIDGET_AWAY);
                handled = send_event_at(type, w, x, y, flags) || handled;
                sent = true;
            }
            hover = alive(w);
        }
        hover_x = x;
        hover_y = y;
    }
    if (alive(w) && flag_set(w, WIDGET_ALL_OVER) && !handled && !sent) handled = send_event_at(type, w, x, y, flags);
    if (top) send_to_pressed(type, x, y, flags, WIDGET_ALL_OVER);
    return handled;
}

bool mouse_wheel(float direction, GuiWidget* w, float x, float y, uint32_t flags) {
    GuiWidget* c = widget_at(w, x, y);
    if (c && mouse_wheel(direction, c, x - c->x1, y - c->y1, flags)) return true;
    if (!alive(w)) return true;
    for (GuiWidget* up = w; up; up = up->parent) {
        if (!is_type(&up->face, TYPE_OBJECT) || flag_set(up, WIDGET_DISABLED)) continue;
        GuiEventData data;
        data.face = up->face;
        data.x = x;
        data.y = y;
        data.wheel = direction;
        if (make_event(EV_WHEEL, data, flags)) return true;
        if (!alive(up)) return true;
    }
    return false;
}

void decode_mouse(const GuiInput& in) {
    if (!top_window) return;
    GuiWidget* target = top_window->widget;
    const float x = float(in.column);
    const float y = float(in.row - (screen.full_screen ? 0 : console.origin_row));
    if (in.button <= 2) {
        const int state = in.release ? 1 : 0;
        if (state != last_button_state) {
            last_button_state = state;
            mouse_button(in.button * 2 + 1 + state, target, x, y, in.flags);
        } else {
            mouse_move(EV_OVER, target, x, y, in.flags | EVF_DOWN, true);
        }
    } else if (in.button == 3) {
        mouse_move(EV_OVER, target, x, y, in.flags, true);
    } else {
        mouse_wheel(in.button == 4 ? 1.0f : -1.0f, target, x, y, in.flags);
    }
}

void parse_input(bool got_bytes) {
    // A lone Escape (or a sequence cut off) that no further byte followed
    // within a frame stands for its keys.
    if (!got_bytes && decoder.pending()) decoder.flush();
    keys::KeyEvent e;
    while (decoder.next(&e)) deliver_input(translate_key(e));
}

void mouse_apply() {
    const Cell* platform = view_field("platform");
    const Cell* want = platform ? field_named(platform, "mouse-event?") : nullptr;
    const bool on = want && is_type(want, TYPE_LOGIC) && want->data1 != 0;
    if (on == mouse_reporting || !console.active) return;
    mouse_reporting = on;
    if (on) mouse_on();
    else mouse_off();
}

// The answers to position queries still out when the GUI gives the terminal
// back would reach whoever reads it next (a shell shows them at its prompt):
// they are awaited here, a while at most, with whatever else is waiting, and
// only the answers are kept.
void drain_input() {
    if (!console.active) return;
    const int64_t deadline = now_ms() + DRAIN_MS;
    for (;;) {
        read_console(true);
        keys::KeyEvent e;
        while (decoder.next(&e)) {
            if (e.kind == keys::KeyEvent::CURSOR_REPORT) cursor_report(e.row, e.column);
        }
        const int64_t left = deadline - now_ms();
        if (console.reports_due <= 0 || left <= 0) break;
        wait_input(int(left));
    }
    decoder.clear();
}

// A picture left in place is drawn over only when the cursor is still just
// below it: whatever wrote to the terminal meanwhile (a line editor's prompt)
// moved it. The answer is awaited before anything is drawn; keys typed
// meanwhile stay queued.
void confirm_kept_picture() {
    ask_cursor_position();
    const int64_t deadline = now_ms() + DRAIN_MS;
    int row = 0, column = 0;
    bool answered = false;
    for (;;) {
        read_console(true);
        answered = decoder.take_cursor_report(&row, &column);
        const int64_t left = deadline - now_ms();
        if (answered || left <= 0) break;
        wait_input(int(left));
    }
    if (answered) cursor_report(row, column);
    if (answered && console.origin_row == screen.kept_row) console.origin_row -= screen.height;
    else forget_picture();
}

// The GUI's modes, taken by the first loop or wait that finds them free.
void session_begin() {
    in_session = true;
    console_begin();
    if (console.active && screen.picture_kept) confirm_kept_picture();
    screen.picture_kept = false;
    if (console.active) enter_full_screen();
    mouse_apply();
    screen.needs_redraw = true;
}

// Windows still open (made without waiting) stay, drawn as they are now, and
// the next loop or wait draws them again in place; an interrupt closes them.
void session_end() {
    const bool keep = !windows.empty() && !interrupted;
    // A console the GUI could not take (redirected) was never drawn on.
    if (console.active) {
        if (keep) flush_screen();
        leave_inline_area(keep);
        if (mouse_reporting) {
            mouse_off();
            mouse_reporting = false;
        }
        leave_full_screen();
        show_cursor();
        drain_input();
        console_end();
    }
    if (!keep) {
        free_all_windows();
        screen_shutdown();
    }
    event_loop_reset();
    nesting = 0;
    interrupted = false;
    in_session = false;
}

// One pass: the timers advance by step, a marked screen is drawn, and the
// input read so far (n bytes before the pass) is delivered. Errors and throws
// that escape end the loop that runs the pass.
void pass(uint32_t step, size_t n) {
    try {
        timers_tick(step);
        flush_screen();
        n += read_console(true);
        parse_input(n > 0);
    } catch (const KemError&) {
        post_quit_msg();
    } catch (const PendingExit&) {
        post_quit_msg();
    }
    if (click_state == 2 && click_timer < 800) click_timer += FRAME_MS;
    if (last_throw_code != 0) {
        last_throw_code = 0;
        post_quit_msg();
    }
}

} // namespace

void deliver_input(const GuiInput& in) {
    switch (in.kind) {
    case GuiInput::KEY:
        // Ctrl-C interrupts the GUI: every loop and wait ends, the windows
        // close, the terminal goes back.
        if (in.key == 3 && in.special == 0) {
            nesting = 0;
            interrupted = true;
            break;
        }
        send_key_event(nullptr, in.key, in.special, in.shift);
        break;
    case GuiInput::MOUSE: decode_mouse(in); break;
    case GuiInput::CURSOR_REPORT: cursor_report(in.row, in.column); break;
    case GuiInput::NONE: break;
    }
}

bool gui_active() { return console.active; }

void post_quit_msg() { nesting--; }

void event_loop_reset() {
    hover = nullptr;
    pressed = nullptr;
    pressed_list.clear();
    click_state = 0;
    click_timer = 0;
    last_button_state = 1;
    decoder.clear();
}

bool do_events(bool no_wait) {
    // Only a waiting loop takes the console, and only when nothing holds it:
    // loops and waits inside it leave the modes alone.
    const bool outermost = !no_wait && !in_session;
    const int32_t level = nesting;
    if (!no_wait) nesting++;
    if (outermost) session_begin();
    else if (!no_wait) decoder.clear();
    int64_t last = 0;
    size_t n = 0;
    do {
        n = read_console(true);
        if (no_wait && n == 0 && !decoder.pending()) break;
        int step = FRAME_MS;
        if (last <= FRAME_MS) wait_input(int(FRAME_MS - last));
        else step = int(last);
        const int64_t start = now_ms();
        pass(uint32_t(step), n);
        last = now_ms() - start;
        // No window left to show: nothing more can come.
        if (!no_wait && windows.empty() && nesting > level) nesting = level;
    } while (!no_wait && nesting > level);
    if (!no_wait && nesting > level) nesting = level;
    if (outermost) {
        session_end();
    } else if (!no_wait) {
        read_console(false);
        decoder.clear();
    }
    return n > 0;
}

bool wait_passes(uint64_t milliseconds) {
    if (windows.empty()) return false;
    const bool begin = !in_session;
    if (begin) session_begin();
    // A wait inside a loop's actor ends when that loop is asked to end.
    const int32_t level = nesting;
    const int64_t deadline = now_ms() + int64_t(std::min<uint64_t>(milliseconds, INT32_MAX));
    int64_t ticked = now_ms();
    for (;;) {
        const int64_t left = deadline - now_ms();
        if (left <= 0 || interrupted || windows.empty() || (level > 0 && nesting < level)) break;
        const size_t n = read_console(true);
        wait_input(int(std::min<int64_t>(left, FRAME_MS)));
        // Timers follow the clock through a wait.
        const int64_t now = now_ms();
        const uint32_t step = uint32_t(now - ticked);
        ticked = now;
        pass(step, n);
    }
    if (begin) session_end();
    return true;
}

} // namespace kem::gui
