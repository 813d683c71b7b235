#include "forecast/random_stream.hpp"

namespace velmora {

namespace {

std::uint64_t mix(std::uint64_t z) noexcept {
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

}  // namespace

std::uint64_t derive_seed(std::uint64_t seed, StreamPurpose purpose, std::uint64_t index) noexcept {
    const std::uint64_t base =
        mix(seed * 0x9e3779b97f4a7c15ULL + static_cast<std::uint64_t>(purpose));
    return mix(base ^ mix(index + 0x632be59bd9b4e019ULL));
}

}  // namespace velmora
