#include "runtime/lexer/tables.h"
#include <cstring>

namespace kem::lexer {

#include "runtime/lexer/tables.inc"

static_assert(FINAL_STATE_FIRST + TOKEN_KIND_COUNT - 1 == 101);

TokenRun recognise(int entry, const uint8_t* pos, const uint8_t* end) {
    TokenRun run{};
    uint32_t flags = 0;
    int32_t skip = 0, lines = 0;
    int state = entry, exit_state = entry;
    const uint8_t* start = pos;
    while (pos < end) {
        uint32_t entry_bits = byte_classes[*pos];
        uint8_t cls = static_cast<uint8_t>(entry_bits & 0xFF);
        flags |= entry_bits & ~0xFFu;
        exit_state = state;
        state = transitions[state][cls];
        skip += skip_counts[state];
        if (state > STATE_COUNT) break;
        lines += line_increments[cls];
        pos++;
    }
    if (pos >= end) {
        exit_state = state;
        state = transitions[state][CLASS_END];
    }
    run.final_state = state;
    run.start = start + skip;
    run.end = pos;
    run.exit_state = exit_state;
    run.flags = flags;
    run.lines = lines;
    return run;
}

bool point_test(const uint8_t* p, const uint8_t* end) {
    if (end - p <= 3) return false;
    for (; p < end; p++)
        if (!point_chars[*p]) return *p == ',';
    return true;
}

namespace {
// Bit n in byte n / 8 under mask 0x80 >> (n % 8); up to U+3000, the highest.
constexpr int32_t DELIMITER_LIMIT = 0x3000 + 1;
uint8_t delimiter_bits[(DELIMITER_LIMIT + 7) / 8];
constexpr int32_t DELIMITER_CODE_POINTS[] = {
    0x0085, 0x00A0, 0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007,
    0x2008, 0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000, 0x180E, 0x200B,
};
} // namespace

void build_unicode_delimiters() {
    std::memset(delimiter_bits, 0, sizeof delimiter_bits);
    for (int32_t cp : DELIMITER_CODE_POINTS) delimiter_bits[cp >> 3] |= uint8_t(0x80 >> (cp & 7));
}

bool unicode_delimiter(int32_t cp) {
    if (cp < 0 || cp >= DELIMITER_LIMIT) return false;
    return (delimiter_bits[cp >> 3] & (0x80 >> (cp & 7))) != 0;
}

} // namespace kem::lexer
