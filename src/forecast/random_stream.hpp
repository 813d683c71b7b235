#pragma once
// The random numbers of simulations: one small stream per path or history,
// seeded from the run's seed and the path's index, so that a path draws the
// same shocks whichever thread runs it and whatever the thread count.

#include <cstdint>

namespace velmora {

// SplitMix64: one 64-bit state, a full period of 2^64 and good statistical
// quality for resampling; cheap to seed, which a stream per path needs.
class RandomStream {
  public:
    explicit RandomStream(std::uint64_t seed) noexcept : state_(seed) {}

    std::uint64_t next() noexcept {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }

    // Uniform in 0..n-1 (n >= 1), by the high half of a 128-bit product; the
    // bias is below n / 2^64.
    int below(int n) noexcept {
        const unsigned __int128 product =
            static_cast<unsigned __int128>(next()) * static_cast<std::uint64_t>(n);
        return static_cast<int>(product >> 64);
    }

  private:
    std::uint64_t state_;
};

// Purposes of derived seeds, so that forecasts, hold-out origins and impulse
// responses of one run never share a stream.
enum class StreamPurpose : std::uint64_t {
    forecast = 1,
    holdout = 2,
    girf = 3,
    rolling = 4,
};

// Seed of stream `index` for `purpose` under the run seed `seed`.
std::uint64_t derive_seed(std::uint64_t seed, StreamPurpose purpose, std::uint64_t index) noexcept;

}  // namespace velmora
