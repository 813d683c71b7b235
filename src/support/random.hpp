#pragma once
// The engine's random numbers: Knuth's subtractive generator (lags 55 and 24)
// on double fractions in [0,1). Owned by the run, never global; one stream per
// replication, seeded from the clock or from a given casual value 0..999.

#include <array>

namespace velmora {

class TextFile;

// The seedings of a process. Clock seeds multiply the time by this count, so
// two runs started in the same second differ; an owner that lives as long as
// the process (the desktop program's application object) passes it to every
// run, and nothing resets it.
struct SeedingCounter {
    int count = 0;
};

class RandomGenerator {
  public:
    // Counts its seedings itself: right for a process that runs once.
    RandomGenerator() = default;
    // Counts them in `seedings`, which must outlive the generator.
    explicit RandomGenerator(SeedingCounter& seedings) : shared_seedings_(&seedings) {}

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

    int seeding_count() const { return seedings().count; }
    int casual() const { return casual_; }
    // For tests: the table and the cursor.
    const std::array<double, 55>& table() const { return random_table_; }
    int cursor() const { return random_cursor_; }

  private:
    SeedingCounter& seedings() { return shared_seedings_ ? *shared_seedings_ : own_seedings_; }
    const SeedingCounter& seedings() const {
        return shared_seedings_ ? *shared_seedings_ : own_seedings_;
    }

    std::array<double, 55> random_table_{};
    int random_cursor_ = 0;
    SeedingCounter own_seedings_;
    SeedingCounter* shared_seedings_ = nullptr;
    int casual_ = -1;
};

}  // namespace velmora
