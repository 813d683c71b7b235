#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <ctime>
#include <random>
#include <set>
#include <stdexcept>

#include "engine_test_helpers.hpp"
#include "support/random.hpp"

namespace velmora {
namespace {

// The subtractive generator written out again from its definition, as a plain
// stream of 55-entry blocks.
struct ReferenceStream {
    std::array<double, 55> t{};
    int cursor = 0;

    explicit ReferenceStream(float seed) {
        t[54] = seed;
        double fresh = 1.0e-9;
        double prev = seed;
        for (int i = 1; i <= 54; ++i) {
            int k = (21 * i) % 54;
            t[k] = fresh;
            fresh = prev - fresh < 0.0 ? prev - fresh + 1.0 : prev - fresh;
            prev = t[k];
        }
        for (int r = 0; r < 3; ++r) {
            refill();
        }
    }
    void refill() {
        // x(n) = x(n-55) - x(n-24) mod 1 over the concatenated stream.
        for (int j = 0; j < 55; ++j) {
            double lag24 = j < 24 ? t[j + 31] : t[j - 24];
            double v = t[j] - lag24;
            t[j] = v < 0.0 ? v + 1.0 : v;
        }
    }
    double next() {
        if (++cursor == 55) {
            cursor = 1;
            refill();
        }
        return t[cursor];
    }
};

TEST(Random, FirstDrawsAfterSeedingFollowTheSubtractiveRecurrence) {
    testing::TempLog log;
    RandomGenerator rng;
    float randomseed = -1.0f;
    rng.random_seed_from_casual(123, randomseed, log.file);
    EXPECT_EQ(randomseed, 0.123f);
    EXPECT_EQ(rng.cursor(), 0);

    ReferenceStream reference(0.123f);
    EXPECT_EQ(rng.table(), reference.t);
    EXPECT_NE(rng.table(), ReferenceStream(0.124f).t);

    // 54 draws hand out entries 1..54, never entry 0; the 55th refills.
    for (int n = 1; n <= 54; ++n) {
        EXPECT_EQ(rng.random_uniform(), rng.table()[n]);
        EXPECT_EQ(rng.cursor(), n);
    }
    const double entry0_before_refill = rng.table()[0];
    for (int n = 1; n <= 54; ++n) {
        reference.next();
    }
    const double draw55 = rng.random_uniform();
    EXPECT_EQ(rng.cursor(), 1);
    EXPECT_EQ(draw55, reference.next());
    EXPECT_NE(rng.table()[0], entry0_before_refill);
    for (int n = 0; n < 200; ++n) {
        const double x = rng.random_uniform();
        ASSERT_EQ(x, reference.next());
        ASSERT_GE(x, 0.0);
        ASSERT_LT(x, 1.0);
    }
}

TEST(Random, CasualZeroStillGivesAWorkingStream) {
    testing::TempLog log;
    RandomGenerator rng;
    float randomseed = 1.0f;
    rng.random_seed_from_casual(0, randomseed, log.file);
    EXPECT_EQ(randomseed, 0.0f);
    EXPECT_EQ(log.contents(), "casual=0\nrandomseed=0.000000\n");
    std::set<double> seen;
    for (int n = 0; n < 100; ++n) {
        seen.insert(rng.random_uniform());
    }
    EXPECT_GT(seen.size(), 90u);
}

TEST(Random, SeedingFromCasualLogsBothLinesAndCounts) {
    testing::TempLog log;
    RandomGenerator rng;
    float randomseed = 0.0f;
    rng.random_seed_from_casual(123, randomseed, log.file);
    EXPECT_EQ(log.contents(), "casual=123\nrandomseed=0.123000\n");
    EXPECT_EQ(rng.seeding_count(), 1);
    EXPECT_EQ(rng.casual(), 123);

    // A reseeding replays the stream exactly.
    const double first = rng.random_uniform();
    rng.random_uniform();
    rng.random_seed_from_casual(123, randomseed, log.file);
    EXPECT_EQ(rng.seeding_count(), 2);
    EXPECT_EQ(rng.random_uniform(), first);
}

TEST(Random, CasualOutsideTheRangeIsRefusedWithoutSeeding) {
    testing::TempLog log;
    RandomGenerator rng;
    float randomseed = 0.5f;
    EXPECT_THROW(rng.random_seed_from_casual(1000, randomseed, log.file), std::invalid_argument);
    EXPECT_THROW(rng.random_seed_from_casual(-1, randomseed, log.file), std::invalid_argument);
    EXPECT_EQ(rng.seeding_count(), 0);
    EXPECT_EQ(randomseed, 0.5f);
    EXPECT_EQ(log.contents(), "");
}

TEST(Random, ClockSeedingLogsACasualValueAndCountsEachSeeding) {
    testing::TempLog log;
    RandomGenerator rng;
    float randomseed = -1.0f;
    rng.random_seed_from_clock(randomseed, log.file);
    rng.random_seed_from_clock(randomseed, log.file);
    EXPECT_EQ(rng.seeding_count(), 2);
    ASSERT_GE(rng.casual(), 0);
    ASSERT_LE(rng.casual(), 999);
    EXPECT_EQ(randomseed, static_cast<float>(rng.casual()) / 1000.0f);
    // Two seedings, two pairs of lines; the second pair names the casual value.
    const std::string text = log.contents();
    const std::string tail = "casual=" + std::to_string(rng.casual()) + "\nrandomseed=";
    EXPECT_NE(text.find(tail, text.find("randomseed=") + 1), std::string::npos);
    EXPECT_EQ(rng.cursor(), 0);
}

// Generators built one after another (one per run) on the counter of their
// process go on counting, so the clock seed of the second is time x 2.
TEST(Random, GeneratorsOnTheProcessCounterContinueItsCount) {
    testing::TempLog log;
    SeedingCounter process;
    float randomseed = -1.0f;
    for (int run = 1; run <= 3; ++run) {
        RandomGenerator rng(process);
        const auto start = static_cast<std::uint32_t>(std::time(nullptr));
        rng.random_seed_from_clock(randomseed, log.file);
        const auto end = static_cast<std::uint32_t>(std::time(nullptr));
        EXPECT_EQ(rng.seeding_count(), run);
        std::set<int> possible;
        for (std::uint32_t t = start; t <= end; ++t) {
            std::minstd_rand0 clock_generator(t * static_cast<std::uint32_t>(run));
            possible.insert(static_cast<int>(clock_generator() % 1000u));
        }
        EXPECT_EQ(possible.count(rng.casual()), 1u) << "run " << run;
    }
    EXPECT_EQ(process.count, 3);
    // A generator of its own starts from zero and leaves the process count.
    RandomGenerator alone;
    alone.random_seed_from_casual(5, randomseed, log.file);
    EXPECT_EQ(alone.seeding_count(), 1);
    EXPECT_EQ(process.count, 3);
}

TEST(Random, IntWithEmptyOrReversedBoundsDrawsNothing) {
    testing::TempLog log;
    RandomGenerator rng;
    float randomseed = 0.0f;
    rng.random_seed_from_casual(7, randomseed, log.file);
    rng.random_uniform();
    const int cursor = rng.cursor();
    EXPECT_EQ(rng.random_int(5, 5), 5);
    EXPECT_EQ(rng.random_int(7, 3), 7);
    EXPECT_EQ(rng.cursor(), cursor);
}

TEST(Random, IntTruncatesTheScaledDrawAndStaysInRange) {
    testing::TempLog log;
    RandomGenerator rng;
    float randomseed = 0.0f;
    rng.random_seed_from_casual(321, randomseed, log.file);
    ReferenceStream reference(0.321f);
    std::array<int, 7> counts{};
    for (int n = 0; n < 7000; ++n) {
        const int v = rng.random_int(3, 9);
        ASSERT_GE(v, 3);
        ASSERT_LE(v, 9);
        ASSERT_EQ(v, static_cast<int>(reference.next() * 7 + 3));
        counts[v - 3] += 1;
    }
    for (int c : counts) {
        EXPECT_GT(c, 800);
    }
    // Truncation is toward zero, also below zero.
    for (int n = 0; n < 200; ++n) {
        const int v = rng.random_int(-2, 4);
        ASSERT_GE(v, -2);
        ASSERT_EQ(v, static_cast<int>(reference.next() * 7 + -2));
    }
    // Extreme bounds neither overflow nor leave the range.
    for (int n = 0; n < 100; ++n) {
        const int v = rng.random_int(0, 2147483647);
        ASSERT_GE(v, 0);
    }
}

TEST(Random, CoinConsumesOneDrawAndComparesWithTheFloatProbability) {
    testing::TempLog log;
    RandomGenerator rng;
    float randomseed = 0.0f;
    rng.random_seed_from_casual(42, randomseed, log.file);
    ReferenceStream reference(0.042f);
    for (int n = 0; n < 300; ++n) {
        const int cursor_before = rng.cursor();
        const float prob = (n % 3 == 0) ? 1.0f : (n % 3 == 1 ? -0.5f : 0.0f);
        const double x = reference.next();
        const int coin = rng.random_coin(prob);
        ASSERT_NE(rng.cursor(), cursor_before);
        if (prob == 1.0f) {
            ASSERT_EQ(coin, 1);
        } else if (prob < 0.0f) {
            ASSERT_EQ(coin, 0);
        } else {
            ASSERT_EQ(coin, x == 0.0 ? 1 : 0);
        }
    }
    // 0.1f is slightly above 0.1: a draw between the two succeeds.
    for (int n = 0; n < 1000; ++n) {
        const double x = reference.next();
        ASSERT_EQ(rng.random_coin(0.1f), x <= static_cast<double>(0.1f) ? 1 : 0);
    }
}

}  // namespace
}  // namespace velmora
