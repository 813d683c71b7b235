#pragma once
// Population statistics and fitness scaling. Overwritten by every statistics
// pass; read by selection, elitism and the final report.

#include <array>

#include "engine/individual.hpp"

namespace velmora {

struct EngineState;

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

    // Automatic control: whether beta already holds a value computed from a
    // population (used when fitness_sigma is 0).
    bool autocontrol_beta_set = false;
};

// Statistics of pop (popsize evaluated members), then its scaled fitness.
// Raises negative raw fitness to 0 in place. May throw EngineFault (Boltzmann
// overflow).
void population_statistics(EngineState& state, individual* pop);

// The scaling methods, called by population_statistics.
void scale_boltzmann(EngineState& state, individual* pop);
void scale_window(EngineState& state, individual* pop);
void scale_sigma_truncation(EngineState& state, individual* pop);
void scale_linear(EngineState& state, individual* pop);

}  // namespace velmora
