#include "support/random.hpp"

#include <cstdint>
#include <ctime>
#include <random>
#include <stdexcept>

#include "support/text_file.hpp"

namespace velmora {

void RandomGenerator::random_seed_from_clock(float& randomseed, TextFile& output_file) {
    // The product may wrap; only its low 32 bits matter. A local generator
    // keeps two engines in one process from disturbing each other.
    const auto now = static_cast<std::uint32_t>(std::time(nullptr));
    const std::uint32_t product = now * static_cast<std::uint32_t>(seedings().count + 1);
    std::minstd_rand0 clock_generator(product);
    const int casual = static_cast<int>(clock_generator() % 1000u);
    random_seed_from_casual(casual, randomseed, output_file);
}

void RandomGenerator::random_seed_from_casual(int casual, float& randomseed,
                                              TextFile& output_file) {
    if (casual < 0 || casual > 999) {
        throw std::invalid_argument("casual seed must lie in 0..999");
    }
    seedings().count += 1;
    random_table_.fill(0.0);
    random_cursor_ = 0;
    casual_ = casual;
    output_file.printf("casual=%d\n", casual);
    randomseed = static_cast<float>(casual) / 1000.0f;
    output_file.printf("randomseed=%f\n", randomseed);
    random_start(randomseed);
}

void RandomGenerator::random_start(float seed) {
    random_table_[54] = seed;
    double next = 1.0e-9;
    double prev = seed;
    for (int i = 1; i <= 54; ++i) {
        // Modulus 54 on purpose: only multiples of 3 are written here, and the
        // streams of every logged run depend on it.
        const int k = (21 * i) % 54;
        random_table_[k] = next;
        next = prev - next;
        if (next < 0.0) {
            next += 1.0;
        }
        prev = random_table_[k];
    }
    random_refill();
    random_refill();
    random_refill();
    random_cursor_ = 0;
}

void RandomGenerator::random_refill() {
    for (int j = 0; j < 24; ++j) {
        double value = random_table_[j] - random_table_[j + 31];
        if (value < 0.0) {
            value += 1.0;
        }
        random_table_[j] = value;
    }
    for (int j = 24; j < 55; ++j) {
        double value = random_table_[j] - random_table_[j - 24];
        if (value < 0.0) {
            value += 1.0;
        }
        random_table_[j] = value;
    }
}

double RandomGenerator::random_uniform() {
    random_cursor_ += 1;
    if (random_cursor_ >= 55) {
        random_cursor_ = 1;
        random_refill();
    }
    return random_table_[random_cursor_];
}

int RandomGenerator::random_coin(float prob) {
    return random_uniform() <= prob ? 1 : 0;
}

int RandomGenerator::random_int(int low, int high) {
    if (low >= high) {
        return low;
    }
    // The span is formed in double so that extreme bounds cannot overflow; for
    // every ordinary range this is the same product as in int.
    const double span = static_cast<double>(high) - static_cast<double>(low) + 1.0;
    const double value = random_uniform() * span + low;
    if (value >= static_cast<double>(high)) {
        return high;  // truncation would give high, or rounding reached high + 1
    }
    return static_cast<int>(value);
}

}  // namespace velmora
