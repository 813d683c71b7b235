#pragma once
// Crossover of two parents into two children, at field boundaries only.

#include <cstdint>

namespace velmora {

struct EngineState;

enum class CrossoverMethod { one_point, two_point, uniform };

// Dispatches on the run's method. One coin with pcross decides whether the
// pair crosses (ncross += 1); otherwise the children are copies. sites
// receives the cut points (0 where there is none).
void crossover(EngineState& state, const std::uint32_t* parent1, const std::uint32_t* parent2,
               std::uint32_t* child1, std::uint32_t* child2, int sites[2]);

}  // namespace velmora
