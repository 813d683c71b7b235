#pragma once
// Population statistics. Overwritten by every statistics pass; read by
// selection, elitism and the final report.

#include <array>

#include "support/fitness_view.hpp"
#include "support/scaling.hpp"

namespace velmora {

struct Statistics {
    double raw_min = 0.0;
    double raw_avg = 0.0;
    double fitness_max = 0.0;  // largest raw fitness, then scaled
    double fitness_sum = 0.0;
    double scaled_min = 0.0;
    double scaled_avg = 0.0;
    float fitness_sigma = 0.0f;
    int best_index = 0;

    // Window-scaling history.
    std::array<double, 20> window_min{};
    int window_newest = 0;
    int window_oldest = 0;

    // Automatic control: the Boltzmann constant in use, and whether it was
    // computed from a population (it is kept when fitness_sigma is 0).
    double autocontrol_beta = 0.0;
    bool autocontrol_beta_set = false;
};

// Statistics of pop (every member evaluated), then its scaled fitness.
// Raises negative raw fitness to 0 in place. May throw EngineFault
// (Boltzmann overflow).
void compute_statistics(FitnessView pop, const ScalingSettings& scaling, Statistics& s);

}  // namespace velmora
