// The pseudo-random generator behind every `random` action, and the secure source.
//
// A Mersenne Twister with the published MT19937 constants whose right shifts
// are all arithmetic (sign-propagating). Sequences therefore differ from the
// published generator's once a state word has bit 31 set, and every value
// drawn lies in 0..2147483647: callers rely on that range.
#pragma once
#include <cstdint>

namespace kem {

constexpr uint32_t RANDOM_DEFAULT_SEED = 19650218;

// Seeds the generator with RANDOM_DEFAULT_SEED (start-up). A generator never
// seeded behaves as if this had run.
void random_init();
void random_seed(uint32_t seed);

// The next value of the generator, 0..2147483647.
int32_t random_next();
// 4 bytes of the operating system's cryptographic source, bit 31 cleared.
int32_t random_secure_next();

// Uniform: 1..n for n > 0, n..-1 for n < 0, 0 for n = 0; drawn from the
// secure source when secure is set.
int32_t random_int_up_to(bool secure, int32_t n);

} // namespace kem
