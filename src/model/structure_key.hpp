#pragma once
// Cache key of a structure: exactly what determines its estimate. Two
// structures with the same key have the same criterion, bit for bit.
//
// One threshold variable: the component, its lag, the number of regimes and
// the sorted threshold values the positions give (after a position 0 stands
// for time 30). Two: both components and lags, the regime layout and the two
// threshold values (a position 0 standing for time 1). Fields the structure
// does not use never enter the key.

#include <array>
#include <cstddef>
#include <cstdint>

#include "model/problem.hpp"
#include "model/structure.hpp"

namespace velmora {

using StructureKey = std::array<std::uint64_t, 9>;

struct StructureKeyHash {
    std::size_t operator()(const StructureKey& key) const noexcept;
};

StructureKey structure_key(const ModelProblem& problem, const ModelStructure& structure);

}  // namespace velmora
