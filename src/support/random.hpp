#pragma once
// The engine's random numbers: Knuth's subtractive generator (lags 55 and 24)
// on double fractions in [0,1). Owned by the run, never global; one stream per
// replication, seeded from the clock or from a given casual value 0..999.

#include <array>

namespace velmora {

class TextFile;

class RandomGenerator {
public:
    // Seeds from the clock: seeding_count += 1, casual = (value of a generator
    // seeded with time*seeding_count) % 1000, randomseed = casual/1000 (float).
    // Writes "casual=%d\n" and "randomseed=%f\n" to output_file.
    void random_seed_from_clock(float& randomseed, TextFile& output_file);
    // The same, with casual given (0..999) instead of drawn from the clock, so
    // a logged run can be replayed exactly. Counts as a seeding.
    void random_seed_from_casual(int casual, float& randomseed, TextFile& output_file);

    void random_start(float seed);
    void random_refill();
    double random_uniform();
    int random_coin(float prob);
    int random_int(int low, int high);

    int seeding_count() const { return seeding_count_; }
    int casual() const { return casual_; }
    // For tests: the table and the cursor.
    const std::array<double, 55>& table() const { return random_table_; }
    int cursor() const { return random_cursor_; }

private:
    std::array<double, 55> random_table_{};
    int random_cursor_ = 0;
    int seeding_count_ = 0;
    int casual_ = -1;
};

}  // namespace velmora
