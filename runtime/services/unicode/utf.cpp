#include "runtime/services/unicode/utf.h"
#include <cstring>
#include "runtime/core/memory.h"
#include "runtime/platform/exit.h"

namespace kem {

namespace unicode {

namespace {

[[noreturn]] void fire_invalid_char(int32_t cp) {
    Cell c;
    make_integer(&c, cp);
    fire(Err::script_invalid_char, c);
}

} // namespace


const uint8_t* fast_decode_utf8_char(const uint8_t* p, const uint8_t* end, int32_t* cp) {
    uint32_t cls = utf8_dfa[*p];
    uint32_t code = (0xFFu >> cls) & *p;
    uint32_t state = utf8_dfa[256 + cls];
    p++;
    while (state != UTF8_ACCEPT && state != UTF8_REJECT) {
        if (p >= end) {
            *cp = -1;
            return p;
        }
        uint8_t byte = *p++;
        code = (code << 6) | (byte & 0x3Fu);
        state = utf8_dfa[256 + state + utf8_dfa[byte]];
    }
    *cp = state == UTF8_ACCEPT ? int32_t(code) : -1;
    return p;
}

int check_utf8_char(const uint8_t* p, size_t avail, int32_t* cp) {
    if (avail == 0) return 0;
    uint8_t lead = p[0];
    if (lead < 0x80) {
        *cp = lead;
        return 1;
    }
    // The automaton checks every byte present, so a cut-off sequence is only
    // reported as such when what is there could still become valid.
    uint32_t cls = utf8_dfa[lead];
    uint32_t code = (0xFFu >> cls) & lead;
    uint32_t state = utf8_dfa[256 + cls];
    size_t i = 1;
    while (state != UTF8_ACCEPT && state != UTF8_REJECT) {
        if (i >= avail) return 0;
        uint8_t byte = p[i++];
        code = (code << 6) | (byte & 0x3Fu);
        state = utf8_dfa[256 + state + utf8_dfa[byte]];
    }
    if (state == UTF8_REJECT) return -1;
    *cp = int32_t(code);
    return int(i);
}

void fire_bad_bytes(Err e, const uint8_t* p, size_t avail) {
    uint32_t n = avail < 4 ? uint32_t(avail) : 4;
    uint8_t bytes[4];
    std::memcpy(bytes, p, n);  // p may sit in a buffer that the allocation moves
    NodeId node = alloc_bytes(n);
    SeriesBuffer* b = node_buffer(node);
    std::memcpy(b->head_ptr(), bytes, n);
    b->tail = b->head + n;
    Cell arg;
    make_series(&arg, TYPE_BINARY, node);
    fire(e, arg);
}

int32_t decode_utf8_char(const uint8_t* p, uint32_t* avail) {
    int32_t cp = -1;
    int n = check_utf8_char(p, *avail, &cp);
    if (n < 0) fire_bad_bytes(Err::access_invalid_utf8, p, *avail);
    if (n == 0) return -1;
    *avail = uint32_t(n);
    return cp;
}

} // namespace unicode

uint32_t utf8_count_chars(const uint8_t* start, const uint8_t* end) {
    uint32_t n = 0;
    int32_t cp;
    const uint8_t* p = start;
    while (p < end) {
        if (*p < 0x80) {
            p++;
        } else {
            p = unicode::fast_decode_utf8_char(p, end, &cp);
        }
        n++;
    }
    return n;
}

const uint8_t* utf8_skip(const uint8_t* p, const uint8_t* end, uint32_t n) {
    int32_t cp;
    while (n > 0 && p < end) {
        p = unicode::fast_decode_utf8_char(p, end, &cp);
        n--;
    }
    return p;
}

int utf8_char_length(int32_t cp) {
    uint32_t c = uint32_t(cp);
    if (c <= 0x7F) return 1;
    if (c <= 0x7FF) return 2;
    if (c <= 0xFFFF) return 3;
    if (c <= 0x10FFFF) return 4;
    unicode::fire_invalid_char(cp);
}

uint32_t utf8_count_bytes(const uint8_t* p, const uint8_t* end, uint32_t unit) {
    uint32_t total = 0;
    switch (unit) {
    case 1:
        for (; p < end; p++) total += *p < 0x80 ? 1 : 2;
        break;
    case 2:
        for (; p + 2 <= end; p += 2) {
            uint16_t u;
            std::memcpy(&u, p, 2);
            total += u <= 0x7F ? 1 : u <= 0x7FF ? 2 : 3;
        }
        break;
    case 4:
        for (; p + 4 <= end; p += 4) {
            int32_t c;
            std::memcpy(&c, p, 4);
            total += uint32_t(utf8_char_length(c));
        }
        break;
    default:
        report_runtime_error(101, __builtin_return_address(0));
    }
    return total;
}

int utf8_encode_char(int32_t cp, uint8_t* dst) {
    uint32_t c = uint32_t(cp);
    if (c <= 0x7F) {
        dst[0] = uint8_t(c);
        return 1;
    }
    if (c <= 0x7FF) {
        dst[0] = uint8_t(0xC0 | (c >> 6));
        dst[1] = uint8_t(0x80 | (c & 0x3F));
        return 2;
    }
    if (c <= 0xFFFF) {
        dst[0] = uint8_t(0xE0 | (c >> 12));
        dst[1] = uint8_t(0x80 | ((c >> 6) & 0x3F));
        dst[2] = uint8_t(0x80 | (c & 0x3F));
        return 3;
    }
    if (c <= 0x10FFFF) {
        dst[0] = uint8_t(0xF0 | (c >> 18));
        dst[1] = uint8_t(0x80 | ((c >> 12) & 0x3F));
        dst[2] = uint8_t(0x80 | ((c >> 6) & 0x3F));
        dst[3] = uint8_t(0x80 | (c & 0x3F));
        return 4;
    }
    unicode::fire_invalid_char(cp);
}

int utf8_encode_char_limited(int32_t cp, uint8_t* dst, int32_t room) {
    if (room < 1) return 0;
    uint8_t seq[4];
    int n = utf8_encode_char(cp, seq);
    if (n > room) n = room;
    std::memcpy(dst, seq, size_t(n));
    return n;
}

int utf16_encode_char(int32_t cp, char16_t* dst) {
    uint32_t c = uint32_t(cp);
    if (c <= 0xFFFF) {
        dst[0] = char16_t(c);
        return 1;
    }
    if (c > 0x10FFFF) return 0;
    dst[0] = char16_t(0xD800 | ((c - 0x10000) >> 10));
    dst[1] = char16_t(0xDC00 | (c & 0x3FF));
    return 2;
}

} // namespace kem
