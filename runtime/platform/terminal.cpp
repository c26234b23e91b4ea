#include "runtime/platform/terminal.h"
#include <errno.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
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

int64_t now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Recognises the report ESC [ row ; column R byte by byte; anything that breaks
// the pattern starts the search again, so stray input before it is skipped.
struct ReportScanner {
    int state = 0;  // 0 wait ESC, 1 wait '[', 2 row digits, 3 column digits
    int row = 0, column = 0;
    bool done = false;

    void feed(uint8_t c) {
        switch (state) {
        case 0:
            if (c == 27) state = 1;
            return;
        case 1:
            if (c == '[') {
                state = 2;
                row = column = 0;
            } else {
                state = c == 27 ? 1 : 0;
            }
            return;
        case 2:
            if (c >= '0' && c <= '9' && row < 100000) row = row * 10 + (c - '0');
            else if (c == ';') state = 3;
            else state = c == 27 ? 1 : 0;
            return;
        default:
            if (c >= '0' && c <= '9' && column < 100000) column = column * 10 + (c - '0');
            else if (c == 'R' && row > 0 && column > 0) done = true;
            else state = c == 27 ? 1 : 0;
            return;
        }
    }
};

} // namespace

std::optional<CursorPosition> terminal_cursor(int in_fd, int out_fd, int timeout_ms) {
    if (!is_terminal(in_fd) || !is_terminal(out_fd)) return std::nullopt;
    termios saved;
    if (tcgetattr(in_fd, &saved) != 0) return std::nullopt;
    termios raw = saved;
    raw.c_lflag &= ~tcflag_t(ICANON | ECHO);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(in_fd, TCSANOW, &raw) != 0) return std::nullopt;

    std::optional<CursorPosition> result;
    if (write_all(out_fd, "\x1b[6n", 4)) {
        ReportScanner scan;
        int64_t deadline = now_ms() + timeout_ms;
        while (!scan.done) {
            int64_t left = deadline - now_ms();
            if (left <= 0) break;
            pollfd pfd{in_fd, POLLIN, 0};
            int r = poll(&pfd, 1, int(left));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            uint8_t bytes[32];
            ssize_t n = ::read(in_fd, bytes, sizeof bytes);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            for (ssize_t i = 0; i < n && !scan.done; i++) scan.feed(bytes[i]);
        }
        if (scan.done) result = CursorPosition{scan.column - 1, scan.row - 1};
    }
    tcsetattr(in_fd, TCSANOW, &saved);
    return result;
}

} // namespace kem::platform
