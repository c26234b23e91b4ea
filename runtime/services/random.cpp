#include "runtime/services/random.h"
#include "runtime/services/hash_keys.h"
#include <sys/random.h>
#include <cerrno>
#include "runtime/platform/exit.h"

namespace kem {

namespace {

constexpr int STATE_WORDS = 624;
constexpr int TWIST_OFFSET = 397;
// Index value of a state never seeded: the first draw seeds it by default.
constexpr int UNSEEDED = STATE_WORDS + 1;

uint32_t state[STATE_WORDS];
int state_index = UNSEEDED;

// Right shifts of the generator propagate bit 31.
inline uint32_t sar(uint32_t x, int n) { return static_cast<uint32_t>(static_cast<int32_t>(x) >> n); }

void regenerate() {
    for (int i = 0; i < STATE_WORDS; i++) {
        uint32_t y = (state[i] & 0x80000000u) | (state[(i + 1) % STATE_WORDS] & 0x7FFFFFFFu);
        state[i] = state[(i + TWIST_OFFSET) % STATE_WORDS] ^ sar(y, 1) ^ ((y & 1) ? 0x9908B0DFu : 0u);
    }
    state_index = 0;
}

int32_t draw(bool secure) { return secure ? random_secure_next() : random_next(); }

} // namespace

void random_init() {
    random_seed(RANDOM_DEFAULT_SEED);
    // Every hash table is made after this point, with this seed.
    hash_seed = HASH_SEED_AT_START;
}

void random_seed(uint32_t seed) {
    state[0] = seed;
    for (uint32_t i = 1; i < STATE_WORDS; i++) {
        uint32_t prev = state[i - 1];
        state[i] = 1812433253u * (prev ^ sar(prev, 30)) + i;
    }
    state_index = STATE_WORDS;
}

int32_t random_next() {
    if (state_index >= STATE_WORDS) {
        if (state_index == UNSEEDED) random_init();
        regenerate();
    }
    uint32_t y = state[state_index++];
    y ^= sar(y, 11);
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= sar(y, 18);
    return static_cast<int32_t>(y);
}

int32_t random_secure_next() {
    uint32_t value;
    size_t got = 0;
    while (got < sizeof value) {
        ssize_t n = getrandom(reinterpret_cast<uint8_t*>(&value) + got, sizeof value - got, 0);
        if (n > 0) {
            got += static_cast<size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            // Without the system's source there is nothing secure to give; a
            // predictable value passed off as secure would be worse than stopping.
            report_runtime_error(99, __builtin_return_address(0));
        }
    }
    return static_cast<int32_t>(value & 0x7FFFFFFFu);
}

int32_t random_int_up_to(bool secure, int32_t n) {
    if (n == 0) return 0;
    if (n == INT32_MIN) return -1 - draw(secure);
    int32_t m = n < 0 ? -n : n;
    // Values at or above the largest multiple of m would favour the low results.
    int32_t limit = (INT32_MAX / m) * m;
    int32_t v;
    do {
        v = draw(secure);
    } while (v >= limit);
    int32_t r = v % m + 1;
    return n < 0 ? -r : r;
}

} // namespace kem
