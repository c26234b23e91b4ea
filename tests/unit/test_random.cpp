#include <gtest/gtest.h>
#include <climits>
#include <random>
#include <set>
#include <vector>
#include "runtime/services/random.h"

using namespace kem;

namespace {

std::vector<int32_t> draw(uint32_t seed, int count) {
    random_seed(seed);
    std::vector<int32_t> v;
    for (int i = 0; i < count; i++) v.push_back(random_next());
    return v;
}

} // namespace

// Expected values come from a separate model of the generator written in
// Python with explicit sign extension on every right shift; with logical
// shifts the same model gives the published generator's first output for
// seed 5489 (3499211612). Values 623..625 straddle the first regeneration.
TEST(Random, SequencesOfKnownSeeds) {
    struct { uint32_t seed; int32_t first[5]; int32_t around_regen[3]; int32_t at_699; } cases[] = {
        {19650218, {299300835, 1547650282, 584073194, 393202974, 1260650809}, {864815447, 141349932, 1308001491},
         1083725611},
        {0, {503881347, 1420691967, 1095544862, 1428414878, 1416032285}, {555893184, 82993632, 1973643177},
         360572029},
        {1, {462010977, 662441838, 2134020178, 462428040, 145977728}, {486038229, 210350958, 1574964387},
         1744380896},
        // Seeding sign-extends too: 0xFFFFFFFF ^ (0xFFFFFFFF >> 30) is 0, so this
        // state matches seed 0's in every word but the first.
        {0xFFFFFFFFu, {1108309629, 1420691967, 1095544862, 1428414878, 1416032285}, {19286465, 1492486430, 1973643177},
         360572029},
        {12345, {823399721, 1544576112, 334004963, 429909554, 1436439020}, {98141294, 1174367298, 289007895},
         1135687200},
    };
    for (const auto& c : cases) {
        std::vector<int32_t> v = draw(c.seed, 700);
        for (int i = 0; i < 5; i++) EXPECT_EQ(v[i], c.first[i]) << "seed " << c.seed << " value " << i;
        for (int i = 0; i < 3; i++) EXPECT_EQ(v[623 + i], c.around_regen[i]) << "seed " << c.seed << " value " << 623 + i;
        EXPECT_EQ(v[699], c.at_699) << "seed " << c.seed;
    }
}

TEST(Random, InitSeedsTheDefaultAndReseedingRepeats) {
    std::vector<int32_t> a = draw(RANDOM_DEFAULT_SEED, 1000);
    random_init();
    for (int i = 0; i < 1000; i++) ASSERT_EQ(random_next(), a[i]) << i;
    EXPECT_EQ(draw(RANDOM_DEFAULT_SEED, 1000), a);
    EXPECT_NE(draw(RANDOM_DEFAULT_SEED + 1, 1000), a);
}

TEST(Random, ValuesNeverNegativeAndCoverTheRange) {
    std::mt19937 seeds(3);
    int32_t high = 0;
    for (int s = 0; s < 20; s++) {
        random_seed(seeds());
        for (int i = 0; i < 20000; i++) {
            int32_t v = random_next();
            ASSERT_GE(v, 0);
            if (v > high) high = v;
        }
    }
    EXPECT_GT(high, 2147000000);
}

TEST(Random, IntUpToBounds) {
    random_seed(42);
    for (bool secure : {false, true}) {
        for (int i = 0; i < 200; i++) {
            EXPECT_EQ(random_int_up_to(secure, 1), 1);
            EXPECT_EQ(random_int_up_to(secure, -1), -1);
            EXPECT_EQ(random_int_up_to(secure, 0), 0);
            int32_t v = random_int_up_to(secure, INT32_MIN);
            EXPECT_LE(v, -1);
            int32_t w = random_int_up_to(secure, INT32_MAX);
            EXPECT_GE(w, 1);
        }
    }
}

TEST(Random, IntUpToIsUniform) {
    for (bool secure : {false, true}) {
        for (int32_t n : {6, -6}) {
            int counts[6] = {};
            const int draws = 60000;
            for (int i = 0; i < draws; i++) {
                int32_t v = random_int_up_to(secure, n);
                int32_t k = n > 0 ? v - 1 : -v - 1;
                ASSERT_TRUE(k >= 0 && k < 6) << v;
                counts[k]++;
            }
            // Chi-square with 5 degrees of freedom: 20.5 is exceeded with p < 0.001,
            // 55 with p < 1e-10. The seeded draws are the same every run; the
            // secure ones are not, so they get the bound that never fails by chance.
            double chi = 0;
            for (int c : counts) chi += (c - draws / 6.0) * (c - draws / 6.0) / (draws / 6.0);
            EXPECT_LT(chi, secure ? 55.0 : 20.5) << "n " << n << " secure " << secure;
        }
    }
}

TEST(Random, IntUpToRejectsTheUnevenTail) {
    // For n = 2^30 + 1 the limit is n itself, so about half the values are
    // redrawn; an accepted value v gives v mod n + 1, negated for -n.
    const int32_t n = (1 << 30) + 1;
    std::vector<int32_t> raw = draw(99, 5000);
    random_seed(99);
    size_t pos = 0;
    int rejected = 0;
    for (int i = 0; i < 1000; i++) {
        int32_t sign = i % 2 ? -1 : 1;
        while (raw[pos] >= n) {
            pos++;
            rejected++;
        }
        ASSERT_EQ(random_int_up_to(false, sign * n), sign * (raw[pos] % n + 1)) << i;
        pos++;
    }
    EXPECT_GT(rejected, 500);
}

TEST(Random, SecureValuesClearBit31AndVary) {
    std::set<int32_t> seen;
    for (int i = 0; i < 64; i++) {
        int32_t v = random_secure_next();
        EXPECT_GE(v, 0);
        seen.insert(v);
    }
    EXPECT_GT(seen.size(), 60u);
}
