#include "runtime/services/keys.h"
#include <errno.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <algorithm>
#include <cstring>
#include "runtime/platform/terminal.h"
#include "runtime/services/unicode/utf.h"

namespace kem::keys {

namespace {

constexpr uint8_t ESC = 27;
constexpr int NEED_MORE = 0;
constexpr int BROKEN = -1;

KeyEvent character(int32_t cp) {
    KeyEvent e;
    e.kind = KeyEvent::CHARACTER;
    e.code = cp;
    return e;
}

KeyEvent key(Key k) {
    KeyEvent e;
    e.kind = KeyEvent::KEY;
    e.code = int32_t(k);
    return e;
}

KeyEvent mouse(const int32_t* p, bool release) {
    KeyEvent e;
    e.kind = KeyEvent::MOUSE;
    e.code = p[0];
    e.column = p[1];
    e.row = p[2];
    e.release = release;
    return e;
}

// A key given with its code and a modifier parameter (1 + shift 1, alt 2,
// ctrl 4): Ctrl with a letter or one of @[\]^_ is the control character.
KeyEvent modified_character(int32_t code, int32_t modifiers) {
    if (code <= 0 || code > 0x10FFFF) return key(Key::OTHER);
    const bool ctrl = modifiers > 1 && ((modifiers - 1) & 4);
    if (ctrl && ((code >= '@' && code <= '_') || (code >= 'a' && code <= 'z'))) return character(code & 0x1F);
    return character(code);
}

// The number-and-tilde keys of VT220 and rxvt (rxvt ends them with ^, @ or $
// under modifiers), and xterm's 27;modifiers;code~ form of other keys.
KeyEvent tilde_key(const int32_t* p, int count, uint8_t final) {
    switch (p[0]) {
    case 1:
    case 7: return key(Key::HOME);
    case 2: return key(Key::INSERT);
    case 3: return key(Key::DELETE);
    case 4:
    case 8: return key(Key::END);
    case 5: return key(Key::PAGE_UP);
    case 6: return key(Key::PAGE_DOWN);
    case 11: case 12: case 13: case 14: case 15: return key(Key(int32_t(Key::F1) + p[0] - 11));  // rxvt
    case 17: case 18: case 19: case 20: case 21: return key(Key(int32_t(Key::F6) + p[0] - 17));
    case 23: case 24: return key(Key(int32_t(Key::F11) + p[0] - 23));
    case 27:
        if (final == '~' && count == 3) return modified_character(p[2], p[1]);
        return key(Key::OTHER);
    default: return key(Key::OTHER);  // function keys, paste brackets
    }
}

KeyEvent csi_key(uint8_t final, const int32_t* p, int count) {
    switch (final) {
    case 'A':
    case 'a': return key(Key::UP);  // lower case: rxvt with Shift
    case 'B':
    case 'b': return key(Key::DOWN);
    case 'C':
    case 'c': return key(Key::RIGHT);
    case 'D':
    case 'd': return key(Key::LEFT);
    case 'H': return key(Key::HOME);
    case 'F': return key(Key::END);
    case 'Z': {
        KeyEvent e = character(9);  // Shift-Tab is Tab with Shift
        e.shift = true;
        return e;
    }
    case 'P': return key(Key::F1);  // F1..F4 with modifiers: ESC [ 1 ; m P
    case 'Q': return key(Key::F2);
    case 'S': return key(Key::F4);
    case 'u': return count >= 1 ? modified_character(p[0], count >= 2 ? p[1] : 1) : key(Key::OTHER);
    case 'R':
        // Also F3 with modifiers in xterm; the reader tells them apart.
        if (count == 2) {
            KeyEvent e;
            e.kind = KeyEvent::CURSOR_REPORT;
            e.row = p[0];
            e.column = p[1];
            return e;
        }
        return key(Key::OTHER);
    case '~':
    case '^':
    case '@':
    case '$': return count >= 1 ? tilde_key(p, count, final) : key(Key::OTHER);
    default: return key(Key::OTHER);
    }
}

// ESC [ ... : parameters (digits, ";" and ":"), a private marker, intermediate
// bytes, then one final byte.
int parse_csi(const uint8_t* s, size_t n, KeyEvent* e) {
    size_t i = 2;
    if (i >= n) return NEED_MORE;
    if (s[i] == '[') {
        // The Linux console's F1..F5: ESC [ [ A..E.
        if (i + 1 >= n) return NEED_MORE;
        if (s[i + 1] < 0x40 || s[i + 1] > 0x7E) return BROKEN;
        const uint8_t f = s[i + 1];
        *e = f >= 'A' && f <= 'E' ? key(Key(int32_t(Key::F1) + (f - 'A'))) : key(Key::OTHER);
        return int(i + 2);
    }
    int32_t params[4] = {0, 0, 0, 0};
    int current = 0;
    bool any = false, digits_only = true, other = false, sgr_mouse = false;
    for (; i < n; i++) {
        const uint8_t c = s[i];
        if (c >= '0' && c <= '9') {
            if (current < 4) params[current] = std::min(params[current] * 10 + (c - '0'), 99999);
            any = true;
        } else if (c == ';' || c == ':') {
            current++;
            any = true;
        } else if (c == '<' && i == 2) {
            sgr_mouse = true;  // ESC [ < button ; column ; row M or m
            digits_only = false;
        } else if (c >= 0x3C && c <= 0x3F) {
            other = true;  // a private marker: terminal reports
            digits_only = false;
        } else if (c == '$' && any && digits_only) {
            *e = csi_key(c, params, std::min(current + 1, 4));
            return int(i + 1);
        } else if (c >= 0x20 && c <= 0x2F) {
            other = true;
            digits_only = false;
        } else if (c >= 0x40 && c <= 0x7E) {
            if (sgr_mouse) {
                *e = !other && (c == 'M' || c == 'm') && current == 2 ? mouse(params, c == 'm') : key(Key::OTHER);
                return int(i + 1);
            }
            *e = other ? key(Key::OTHER) : csi_key(c, params, any ? std::min(current + 1, 4) : 0);
            return int(i + 1);
        } else {
            return BROKEN;
        }
    }
    return NEED_MORE;
}

// ESC O ...: the application-mode cursor and keypad keys, F1..F4, and rxvt's
// Ctrl with arrows; some terminals put modifier digits before the final byte.
int parse_ss3(const uint8_t* s, size_t n, KeyEvent* e) {
    size_t i = 2;
    while (i < n && ((s[i] >= '0' && s[i] <= '9') || s[i] == ';')) i++;
    if (i >= n) return NEED_MORE;
    const uint8_t c = s[i];
    if (c < 0x40 || c > 0x7E) return BROKEN;
    switch (c) {
    case 'A':
    case 'a': *e = key(Key::UP); break;
    case 'B':
    case 'b': *e = key(Key::DOWN); break;
    case 'C':
    case 'c': *e = key(Key::RIGHT); break;
    case 'D':
    case 'd': *e = key(Key::LEFT); break;
    case 'H': *e = key(Key::HOME); break;
    case 'F': *e = key(Key::END); break;
    case 'P':
    case 'Q':
    case 'R':
    case 'S': *e = key(Key(int32_t(Key::F1) + (c - 'P'))); break;
    case 'M': *e = character(13); break;  // keypad Enter
    case 'X': *e = character('='); break;
    default:
        if (c >= 'j' && c <= 'y') *e = character("*+,-./0123456789"[c - 'j']);  // keypad digits and signs
        else *e = key(Key::OTHER);
    }
    return int(i + 1);
}

// One event from the bytes at s: its length, NEED_MORE while they are a
// valid start, or BROKEN. With final no more bytes will come.
int parse(const uint8_t* s, size_t n, bool final, KeyEvent* e) {
    if (n == 0) return NEED_MORE;
    int r;
    if (s[0] != ESC) {
        int32_t cp = 0;
        r = unicode::check_utf8_char(s, n, &cp);
        if (r > 0) *e = character(cp);
    } else if (n == 1) {
        r = NEED_MORE;
    } else if (s[1] == '[') {
        r = parse_csi(s, n, e);
    } else if (s[1] == 'O') {
        r = parse_ss3(s, n, e);
    } else if (s[1] == ESC) {
        // Alt with a key that sends a sequence (rxvt); otherwise two Escapes.
        if (n >= 3 && s[2] != '[' && s[2] != 'O') return BROKEN;
        r = parse(s + 1, n - 1, final, e);
        if (r > 0) r++;
    } else {
        // Alt with a character: the character.
        r = parse(s + 1, n - 1, final, e);
        if (r > 0) r++;
    }
    return r == NEED_MORE && final ? BROKEN : r;
}

// What a byte that starts no whole event stands for on its own.
KeyEvent lone_byte(uint8_t b) { return character(b < 0x80 ? b : 0xFFFD); }

} // namespace

void KeyDecoder::feed(uint8_t byte) {
    bytes_[length_++] = byte;
    decode(false);
}

void KeyDecoder::flush() { decode(true); }

void KeyDecoder::decode(bool final) {
    while (length_ > 0) {
        KeyEvent e;
        int r = parse(bytes_, length_, final, &e);
        if (r == NEED_MORE) {
            if (length_ < MAX_SEQUENCE) return;
            r = BROKEN;
        }
        if (r == BROKEN) {
            e = lone_byte(bytes_[0]);
            r = 1;
        }
        events_.push_back(e);
        length_ -= size_t(r);
        std::memmove(bytes_, bytes_ + r, length_);
    }
}

bool KeyDecoder::next(KeyEvent* event) {
    if (events_.empty()) return false;
    *event = events_.front();
    events_.pop_front();
    return true;
}

bool KeyDecoder::take_cursor_report(int* row, int* column) {
    for (auto it = events_.begin(); it != events_.end(); ++it) {
        if (it->kind != KeyEvent::CURSOR_REPORT) continue;
        *row = it->row;
        *column = it->column;
        events_.erase(it);
        return true;
    }
    return false;
}

void KeyDecoder::clear() {
    events_.clear();
    length_ = 0;
}

// ---- reading keys from a terminal

namespace {

int64_t now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// One decoder for the descriptor keys are read from, so that keys read while
// waiting for a cursor report are not lost, nor the tail of a sequence that
// arrives after one key was taken.
KeyDecoder input_keys;
int input_keys_fd = -1;

KeyDecoder& decoder_for(int fd) {
    if (fd != input_keys_fd) {
        input_keys.clear();
        input_keys_fd = fd;
    }
    return input_keys;
}

} // namespace

std::optional<CursorPosition> terminal_cursor(int in_fd, int out_fd, int timeout_ms) {
    if (!platform::is_terminal(in_fd) || !platform::is_terminal(out_fd)) return std::nullopt;
    termios saved;
    if (tcgetattr(in_fd, &saved) != 0) return std::nullopt;
    termios quiet = saved;
    quiet.c_lflag &= ~tcflag_t(ICANON | ECHO);
    quiet.c_cc[VMIN] = 0;
    quiet.c_cc[VTIME] = 0;
    if (tcsetattr(in_fd, TCSANOW, &quiet) != 0) return std::nullopt;

    KeyDecoder& keys = decoder_for(in_fd);
    std::optional<CursorPosition> result;
    if (platform::write_all(out_fd, "\x1b[6n", 4)) {
        int64_t deadline = now_ms() + timeout_ms;
        for (;;) {
            int row, column;
            if (keys.take_cursor_report(&row, &column)) {
                if (row > 0 && column > 0) {
                    result = CursorPosition{column - 1, row - 1};
                    break;
                }
                continue;
            }
            int64_t left = deadline - now_ms();
            if (left <= 0) break;
            pollfd pfd{in_fd, POLLIN, 0};
            int r = poll(&pfd, 1, int(left));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            uint8_t bytes[64];
            ssize_t n = ::read(in_fd, bytes, sizeof bytes);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            keys.feed(bytes, size_t(n));
        }
    }
    tcsetattr(in_fd, TCSANOW, &saved);
    return result;
}

KeyRead read_key(int fd, KeyEvent* event) {
    KeyDecoder& keys = decoder_for(fd);
    bool failed = false;
    for (;;) {
        if (keys.next(event)) {
            if (event->kind == KeyEvent::CURSOR_REPORT) {
                event->kind = KeyEvent::KEY;
                event->code = int32_t(Key::OTHER);
            }
            return KeyRead::KEY;
        }
        if (failed) return KeyRead::FAILED;
        if (platform::take_resize()) return KeyRead::RESIZED;
        pollfd pfd{fd, POLLIN, 0};
        int r = poll(&pfd, 1, keys.pending() ? KeyDecoder::WAIT_MS : -1);
        if (r < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
        } else if (r == 0) {
            keys.flush();  // the rest of a sequence did not come
            continue;
        } else if (pfd.revents & POLLIN) {
            uint8_t bytes[256];
            ssize_t n = ::read(fd, bytes, sizeof bytes);
            if (n > 0) {
                keys.feed(bytes, size_t(n));
                continue;
            }
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        }
        // Hung up, closed or broken: what was read still counts.
        keys.flush();
        failed = true;
    }
}

} // namespace kem::keys
