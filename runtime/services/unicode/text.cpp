#include "runtime/services/unicode/text.h"
#include <algorithm>
#include <bit>
#include "runtime/core/errors.h"
#include "runtime/platform/exit.h"
#include "runtime/services/unicode/utf.h"

namespace kem {

// String units and UTF-16LE are both stored in host order.
static_assert(std::endian::native == std::endian::little);

namespace {

[[noreturn]] void bad_unit() { report_runtime_error(101, __builtin_return_address(0)); }

// The units of a string value from its position, at most `limit` of them
// (negative: all).
struct Units {
    const uint8_t* p;
    uint32_t n;
    uint32_t unit;
};

Units string_units(const Cell* value, int32_t limit) {
    SeriesBuffer* b = node_buffer(series_node(value));
    uint32_t unit = text_unit(b);
    uint32_t total = b->used() / unit;
    uint32_t index = series_index(value);
    uint32_t n = index < total ? total - index : 0;
    if (limit >= 0 && uint32_t(limit) < n) n = uint32_t(limit);
    const uint8_t* p = b->head_ptr() + size_t(index < total ? index : total) * unit;
    return {p, n, unit};
}

// The value's conversion buffer with room for `bytes`, made or expanded as
// needed. Its old contents are not kept: every conversion rewrites it from the
// start of its data.
SeriesBuffer* conversion_buffer(Cell* value, uint64_t bytes) {
    NodeId node = value->data3;
    SeriesBuffer* b;
    if (node == 0) {
        node = alloc_series(bytes, 1, 0);
        value->data3 = node;
        b = node_buffer(node);
    } else {
        b = node_buffer(node);
        if (b->size < bytes) b = expand_series_buffer(b, int64_t(bytes));
    }
    b->head = 0;
    b->tail = 0;
    return b;
}

// UTF-8 of n units at p into dst; with lf a CR goes before each LF. Returns the
// bytes written.
uint32_t encode_utf8(const uint8_t* p, uint32_t n, uint32_t unit, uint8_t* dst, bool lf) {
    uint8_t* d = dst;
    if (unit == 1) {
        for (uint32_t i = 0; i < n; i++) {
            uint8_t c = p[i];
            if (c < 0x80) {
                if (c == 10 && lf) *d++ = 13;
                *d++ = c;
            } else {
                d[0] = uint8_t(0xC0 | (c >> 6));
                d[1] = uint8_t(0x80 | (c & 0x3F));
                d += 2;
            }
        }
    } else {
        for (uint32_t i = 0; i < n; i++) {
            int32_t c = read_unit(p + size_t(i) * unit, unit);
            if (c == 10 && lf) *d++ = 13;
            d += utf8_encode_char(c, d);
        }
    }
    return uint32_t(d - dst);
}

SeriesBuffer* widen(SeriesBuffer* b, uint32_t from, uint32_t to) {
    if (text_unit(b) != from) bad_unit();
    uint32_t count = b->used() / from;
    uint64_t need = uint64_t(b->head) + uint64_t(count) * to + (to == 2 ? 2 : 4);
    if (b->size < need) b = expand_series(b, int64_t(need));
    uint8_t* base = b->head_ptr();
    // Last unit first: each target unit lies at or after its source unit.
    for (uint32_t i = count; i-- > 0;) write_unit(base + size_t(i) * to, to, read_unit(base + size_t(i) * from, from));
    b->tail = b->head + count * to;
    b->flags = (b->flags & ~SERIES_UNIT_MASK) | to;
    return b;
}

// 4 when a unit's high byte is a surrogate's, else 2 when any high byte is not
// 0, else 1.
uint32_t utf16_unit_width(const uint8_t* bytes, uint32_t units) {
    uint32_t width = 1;
    for (uint32_t i = 0; i < units; i++) {
        uint8_t high = bytes[2 * i + 1];
        if (high >= 0xD8 && high <= 0xDF) return 4;
        if (high != 0) width = 2;
    }
    return width;
}

// Every high surrogate must be followed by a low one, and every low one must
// follow a high one.
void check_surrogates(const uint8_t* bytes, uint32_t units) {
    for (uint32_t i = 0; i < units; i++) {
        uint8_t high = bytes[2 * i + 1];
        if (high < 0xD8 || high > 0xDF) continue;
        bool paired = high <= 0xDB && i + 1 < units && bytes[2 * i + 3] >= 0xDC && bytes[2 * i + 3] <= 0xDF;
        if (!paired) unicode::fire_bad_bytes(Err::script_invalid_data, bytes + 2 * i, size_t(units - i) * 2);
        i++;
    }
}

} // namespace

uint32_t text_unit(const SeriesBuffer* b) {
    uint32_t unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) bad_unit();
    return unit;
}

// --- UTF-8 out ---------------------------------------------------------------

NodeId string_to_utf8(Cell* value, int32_t* limit, bool lf) {
    Units s = string_units(value, limit ? *limit : -1);
    // Worst case per unit: a CR LF pair for 1-byte units, else the longest
    // sequence the unit can hold.
    uint64_t per = s.unit == 1 ? 2 : s.unit == 2 ? 3 : 4;
    SeriesBuffer* out = conversion_buffer(value, (uint64_t(s.n) + 1) * per);
    NodeId node = value->data3;
    s = string_units(value, limit ? *limit : -1);
    uint32_t written = encode_utf8(s.p, s.n, s.unit, out->data(), lf);
    out->data()[written] = 0;
    out->tail = written;
    if (limit) *limit = int32_t(written);
    return node;
}

uint8_t* string_to_utf8_data(Cell* value, int32_t* limit, bool lf) {
    return node_buffer(string_to_utf8(value, limit, lf))->data();
}

uint32_t string_to_utf8_buffer(const Cell* value, uint8_t* dst, int32_t limit, bool nul) {
    Units s = string_units(value, limit);
    uint32_t written = encode_utf8(s.p, s.n, s.unit, dst, false);
    if (nul) dst[written] = 0;
    return written;
}

uint32_t string_to_utf8_at(const Cell* value, uint8_t* dst, int32_t budget, int32_t limit, bool nul) {
    Units s = string_units(value, limit <= 0 ? -1 : limit);
    int32_t room = nul ? budget - 1 : budget;
    uint32_t written = 0;
    for (uint32_t i = 0; i < s.n && room > 0; i++) {
        int k = utf8_encode_char_limited(read_unit(s.p + size_t(i) * s.unit, s.unit), dst + written, room);
        written += uint32_t(k);
        room -= k;
    }
    if (nul && budget > 0) dst[written] = 0;
    return written;
}

// --- UTF-16 out --------------------------------------------------------------

char16_t* to_utf16_buffer(Cell* value, int32_t* limit, bool lf) {
    Units s = string_units(value, limit ? *limit : -1);
    uint64_t extra = 0;
    if (lf || s.unit == 4)
        for (uint32_t i = 0; i < s.n; i++) {
            int32_t c = read_unit(s.p + size_t(i) * s.unit, s.unit);
            if ((c == 10 && lf) || c >= 0x10000) extra += 2;
        }
    SeriesBuffer* out = conversion_buffer(value, 2 * uint64_t(s.n) + 2 + extra);
    s = string_units(value, limit ? *limit : -1);
    auto* d = reinterpret_cast<char16_t*>(out->data());
    char16_t* start = d;
    if (s.unit == 2 && !lf) {
        std::memcpy(d, s.p, size_t(s.n) * 2);
        d += s.n;
    } else if (s.unit == 1) {
        for (uint32_t i = 0; i < s.n; i++) {
            if (s.p[i] == 10 && lf) *d++ = 13;
            *d++ = s.p[i];
        }
    } else {
        for (uint32_t i = 0; i < s.n; i++) {
            int32_t c = read_unit(s.p + size_t(i) * s.unit, s.unit);
            if (c == 10 && lf) *d++ = 13;
            int k = utf16_encode_char(c, d);
            if (k == 0) {
                if (limit) *limit = 0;
                return nullptr;
            }
            d += k;
        }
    }
    *d = 0;
    uint32_t written = uint32_t(d - start);
    out->tail = written * 2;
    if (limit) *limit = int32_t(written);
    return start;
}

// --- Widening ----------------------------------------------------------------

SeriesBuffer* widen_latin1_to_ucs2(SeriesBuffer* b) { return widen(b, 1, 2); }
SeriesBuffer* widen_latin1_to_ucs4(SeriesBuffer* b) { return widen(b, 1, 4); }
SeriesBuffer* widen_ucs2_to_ucs4(SeriesBuffer* b) { return widen(b, 2, 4); }

SeriesBuffer* widen_string_buffer(SeriesBuffer* b, uint32_t unit) {
    uint32_t from = text_unit(b);
    return from < unit ? widen(b, from, unit) : b;
}

// --- Loading -----------------------------------------------------------------

NodeId load_text(const uint8_t* bytes, uint32_t len, NodeId target, uint32_t* remaining, bool cr) {
    uint32_t capacity = len ? len : 1;  // one code point per byte at most
    NodeId node = target;
    SeriesBuffer* b;
    if (target) {
        b = node_buffer(target);
        uint32_t unit = text_unit(b);
        if ((b->size - b->head) / unit < capacity) b = expand_series_buffer(b, int64_t(capacity) * unit);
    } else {
        node = alloc_string_buffer(capacity, 1);
        b = node_buffer(node);
    }
    b->tail = b->head;
    if (remaining) *remaining = 0;

    const uint8_t* p = bytes;
    const uint8_t* end = bytes + len;
    if (len >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) p += 3;
    uint32_t unit = b->unit();
    int32_t max = unit_max_code_point(unit);
    uint8_t* out = b->head_ptr();
    uint32_t count = 0;
    while (p < end) {
        if (unit == 1 && !cr) {
            // Runs of ASCII are the common case: copy them without decoding.
            while (p < end && *p < 0x80) out[count++] = *p++;
            if (p == end) break;
        }
        int32_t cp = *p;
        if (cp < 0x80) {
            p++;
            if (cp == 13 && cr) {
                if (p < end && *p == 10) continue;
                cp = 10;
            }
            if (unit == 1) {
                out[count++] = uint8_t(cp);
                continue;
            }
        } else {
            int k = unicode::check_utf8_char(p, size_t(end - p), &cp);
            if (k <= 0) {
                b->tail = b->head + count * unit;
                if (k < 0) unicode::fire_bad_bytes(Err::access_invalid_utf8, p, size_t(end - p));
                if (remaining) *remaining = uint32_t(end - p);
                return node;
            }
            p += k;
            if (cp > max) {
                // Widen once to the unit this code point needs, with room for the
                // rest of the input at that width, so nothing grows later.
                b->tail = b->head + count * unit;
                uint32_t to = cp > 0xFFFF ? 4 : 2;
                uint64_t need = uint64_t(b->head) + (uint64_t(count) + 1 + uint64_t(end - p)) * to;
                if (b->size < need) b = expand_series(b, int64_t(need));
                b = widen(b, unit, to);
                unit = to;
                max = unit_max_code_point(unit);
                out = b->head_ptr();
            }
        }
        write_unit(out + size_t(count) * unit, unit, cp);
        count++;
    }
    b->tail = b->head + count * unit;
    return node;
}

namespace {

// The code point at p, or U+FFFD for a sequence that is not UTF-8 (up to the
// byte that broke it, or to the end that cut it off); *p moves past it.
int32_t next_char_replacing(const uint8_t** p, const uint8_t* end) {
    const size_t avail = size_t(end - *p);
    for (size_t n = 1;; n++) {
        int32_t cp = 0;
        const int r = unicode::check_utf8_char(*p, std::min(n, avail), &cp);
        if (r > 0) {
            *p += r;
            return cp;
        }
        if (r < 0 || n >= avail) {
            *p += r < 0 && n > 1 ? n - 1 : std::min(n, avail);
            return 0xFFFD;
        }
    }
}

} // namespace

NodeId load_text_replacing(const uint8_t* bytes, uint32_t len) {
    // First the width and the count, so the series is made once at its size.
    const uint8_t* end = bytes + len;
    int32_t max = 0;
    uint32_t count = 0;
    for (const uint8_t* p = bytes; p < end; count++) {
        if (*p < 0x80) {
            p++;
            continue;
        }
        max = std::max(max, next_char_replacing(&p, end));
    }
    const uint32_t unit = max > 0xFFFF ? 4 : max > 0xFF ? 2 : 1;
    const NodeId node = alloc_string_buffer(count ? count : 1, unit);
    SeriesBuffer* b = node_buffer(node);
    uint8_t* out = b->head_ptr();
    uint32_t i = 0;
    for (const uint8_t* p = bytes; p < end; i++) {
        const int32_t cp = *p < 0x80 ? *p++ : next_char_replacing(&p, end);
        write_unit(out + size_t(i) * unit, unit, cp);
    }
    b->tail = b->head + count * unit;
    return node;
}

NodeId load_utf16le(const uint8_t* bytes, uint32_t units, Cell* target, bool cr) {
    NodeId source = 0;
    if (!bytes) {
        source = target ? target->data3 : 0;
        if (!source) units = 0;
        else bytes = node_buffer(source)->data();
    }
    uint32_t width = units ? utf16_unit_width(bytes, units) : 1;
    if (width == 4) check_surrogates(bytes, units);

    NodeId node;
    SeriesBuffer* b;
    if (target) {
        node = series_node(target);
        b = node_buffer(node);
        uint64_t need = uint64_t(units) * width;
        if (b->size - b->head < need) b = expand_series_buffer(b, int64_t(need));
        b->flags = (b->flags & ~SERIES_UNIT_MASK) | width;
    } else {
        node = alloc_string_buffer(units, width);
        b = node_buffer(node);
    }
    if (source) bytes = node_buffer(source)->data();

    uint8_t* out = b->head_ptr();
    uint32_t kept = 0;
    for (uint32_t i = 0; i < units; i++) {
        uint32_t u = uint32_t(bytes[2 * i]) | uint32_t(bytes[2 * i + 1]) << 8;
        if (u == 13 && cr) continue;
        int32_t cp = int32_t(u);
        if (u >= 0xD800 && u <= 0xDBFF) {
            // Paired: checked above.
            uint32_t low = uint32_t(bytes[2 * i + 2]) | uint32_t(bytes[2 * i + 3]) << 8;
            cp = int32_t(0x10000 + (((u & 0x3FF) << 10) | (low & 0x3FF)));
            i++;
        }
        write_unit(out + size_t(kept) * width, width, cp);
        kept++;
    }
    b->tail = b->head + kept * width;
    return node;
}

} // namespace kem
