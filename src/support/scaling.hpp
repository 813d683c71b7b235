#pragma once
// Fitness scaling: turns the raw fitness of a population into the scaled
// fitness that selection reads. The method is chosen once for the run; each
// reads only its own constant.

#include "support/fitness_view.hpp"

namespace velmora {

struct Statistics;

enum class ScalingMethod { linear, boltzmann, autocontrol, sigma_truncation, window };

// A run's scaling method and the constants as the user entered them.
struct ScalingSettings {
    ScalingMethod method = ScalingMethod::linear;
    float scalemult = 1.2f;     // linear: wanted ratio of best to mean; 1 or less stretches nothing
    double beta = 0.0;          // Boltzmann
    float sigma_trunc = 0.0f;   // sigma truncation: multiple of the deviation
    int scaling_window = 0;     // window: earlier generations whose worst value counts
    float Beta_s_tilde = 0.0f;  // automatic control: the constant times the deviation
};

// Whether the method reads the population's standard deviation.
bool needs_deviation(ScalingMethod method);

// Scaled fitness of pop, once the raw figures of s (raw_min, raw_avg,
// fitness_max, best_index, the deviation when needed and the window history)
// describe it. May throw EngineFault (Boltzmann overflow).
void scale_fitness(FitnessView pop, const ScalingSettings& settings, Statistics& s);

// The methods scale_fitness dispatches to.
void scale_boltzmann(FitnessView pop, double beta, Statistics& s);
void scale_window(FitnessView pop, int scaling_window, Statistics& s);
void scale_sigma_truncation(FitnessView pop, float sigma_trunc, Statistics& s);
// Stretches scaled values already in place (copied from the raw ones).
void scale_linear(FitnessView pop, float scalemult, Statistics& s);

}  // namespace velmora
