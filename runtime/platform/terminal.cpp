#include "runtime/platform/terminal.h"
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <atomic>
#include <cstdint>

namespace kem::platform {

bool is_terminal(int fd) { return isatty(fd) == 1; }

std::optional<TerminalSize> terminal_size(int fd) {
    winsize ws{};
    if (ioctl(fd, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0 || ws.ws_row == 0) return std::nullopt;
    return TerminalSize{ws.ws_col, ws.ws_row};
}

bool write_all(int fd, const void* bytes, size_t count) {
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    while (count > 0) {
        ssize_t n = ::write(fd, p, count);
        if (n > 0) {
            p += n;
            count -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd pfd{fd, POLLOUT, 0};
            if (poll(&pfd, 1, -1) < 0 && errno != EINTR) return false;
            continue;
        }
        return false;
    }
    return true;
}

namespace {

// What restore_terminal needs, readable from a signal handler: the state is
// complete before `active` is set.
struct RawState {
    volatile sig_atomic_t active = 0;
    volatile sig_atomic_t modes = 0;  // TerminalMode bits still on
    int fd = -1;
    int mode_fd = -1;
    termios saved{};
};
RawState raw;

volatile sig_atomic_t resized = 0;

void on_resize(int) { resized = 1; }

// For signals whose default ends the process: the terminal is put back first,
// then the default action runs (the handler resets itself on entry).
void on_ending_signal(int sig) {
    restore_terminal();
    raise(sig);
}

void install_signal_handlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction sa{};
    sigemptyset(&sa.sa_mask);
    sa.sa_handler = on_resize;
    sa.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &sa, nullptr);
    // Signals someone else handles or ignores keep their handling.
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGABRT}) {
        struct sigaction old{};
        if (sigaction(sig, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL) continue;
        struct sigaction ending{};
        sigemptyset(&ending.sa_mask);
        ending.sa_handler = on_ending_signal;
        ending.sa_flags = SA_RESETHAND | SA_NODEFER;
        sigaction(sig, &ending, nullptr);
    }
}

} // namespace

bool enter_raw_mode(int fd) {
    if (raw.active) return raw.fd == fd;
    termios t;
    if (tcgetattr(fd, &t) != 0) return false;
    install_signal_handlers();
    raw.saved = t;
    raw.fd = fd;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    // Active before the switch: a signal between the two restores a state
    // that is still the one in force, which is harmless.
    raw.active = 1;
    t.c_iflag &= ~tcflag_t(BRKINT | ICRNL | INLCR | IGNCR | INPCK | ISTRIP | IXON | PARMRK);
    t.c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        raw.active = 0;
        return false;
    }
    return true;
}

// A write that may fail: nothing more can be done when the terminal refuses.
static void write_unchecked(int fd, const char* bytes, size_t count) {
    if (::write(fd, bytes, count) < 0) {
    }
}

void restore_terminal() {
    const sig_atomic_t modes = raw.modes;
    raw.modes = 0;
    static const char mouse_off[] = "\x1b[?1000l\x1b[?1003l\x1b[?1015l\x1b[?1006l";
    if (modes & MODE_MOUSE) write_unchecked(raw.mode_fd, mouse_off, sizeof mouse_off - 1);
    if (modes & MODE_ALT_SCREEN) write_unchecked(raw.mode_fd, "\x1b[?1049l", 8);
    if (modes & MODE_CURSOR_HIDDEN) write_unchecked(raw.mode_fd, "\x1b[?25h", 6);
    if (!raw.active) return;
    tcsetattr(raw.fd, TCSANOW, &raw.saved);
    raw.active = 0;
}

bool raw_mode_active() { return raw.active != 0; }

void note_terminal_mode(int fd, unsigned mode, bool on) {
    if (on) {
        raw.mode_fd = fd;
        raw.modes = raw.modes | sig_atomic_t(mode);
    } else {
        raw.modes = raw.modes & ~sig_atomic_t(mode);
    }
}

unsigned terminal_modes() { return unsigned(raw.modes); }

void hide_cursor(int fd, bool hidden) {
    if (hidden == ((raw.modes & MODE_CURSOR_HIDDEN) != 0)) return;
    // Noted before the write when hiding and after it when showing: a signal
    // in between then shows a cursor that may already be shown, never leaves
    // it hidden.
    if (hidden) note_terminal_mode(fd, MODE_CURSOR_HIDDEN, true);
    (void)write_all(fd, hidden ? "\x1b[?25l" : "\x1b[?25h", 6);
    if (!hidden) note_terminal_mode(fd, MODE_CURSOR_HIDDEN, false);
}

bool take_resize() {
    if (!resized) return false;
    resized = 0;
    return true;
}

} // namespace kem::platform
