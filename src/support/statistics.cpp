#include "support/statistics.hpp"

#include <cmath>

#include "engine/engine_state.hpp"

namespace velmora {

namespace {

// Copies raw fitness unchanged when no scaling method is configured.
void copy_raw_fitness(EngineState& state, individual* pop) {
    Statistics& s = state.stats;
    for (int j = 0; j < state.params.popsize; ++j) {
        pop[j].scaled_fitness = pop[j].raw_fitness;
    }
    s.scaled_min = s.raw_min;
    s.scaled_avg = s.raw_avg;
}

// Automatic control of the Boltzmann constant: beta follows the spread of the
// population. A population without spread has no meaningful constant, so the
// last one computed is kept; before there is one, beta 0 makes selection
// uniform rather than dividing by zero.
void autocontrol_beta(EngineState& state) {
    Statistics& s = state.stats;
    if (s.fitness_sigma != 0.0f) {
        state.params.beta =
            static_cast<double>(state.params.Beta_s_tilde) / static_cast<double>(s.fitness_sigma);
        s.autocontrol_beta_set = true;
    } else if (!s.autocontrol_beta_set) {
        state.params.beta = 0.0;
    }
}

}  // namespace

void population_statistics(EngineState& state, individual* pop) {
    Statistics& s = state.stats;
    EngineParams& p = state.params;
    const int popsize = p.popsize;

    s.fitness_sum = 0.0;
    double sum_squares = 0.0;
    s.raw_min = pop[0].raw_fitness < 0.0 ? 0.0 : pop[0].raw_fitness;
    s.fitness_max = pop[0].raw_fitness;
    s.best_index = 0;

    for (int j = 0; j < popsize; ++j) {
        individual& ind = pop[j];
        if (ind.raw_fitness < 0.0) {
            ind.raw_fitness = 0.0;
        }
        s.fitness_sum += ind.raw_fitness;
        sum_squares += ind.raw_fitness * ind.raw_fitness;
        if (ind.raw_fitness > s.fitness_max) {
            s.fitness_max = ind.raw_fitness;
            s.best_index = j;
        }
        if (ind.raw_fitness < s.raw_min) {
            s.raw_min = ind.raw_fitness;
        }
    }
    s.raw_avg = s.fitness_sum / popsize;

    s.window_min[static_cast<std::size_t>(s.window_newest % 20)] = s.raw_min;

    if (p.autocontrol_selection || p.sigma_trunc != 0.0f) {
        // Rounding can leave the difference slightly below zero.
        s.fitness_sigma =
            static_cast<float>(std::sqrt(std::fabs(sum_squares / popsize - s.raw_avg * s.raw_avg)));
    }
    if (p.autocontrol_selection) {
        autocontrol_beta(state);
    }

    if (p.beta >= 0.0 || p.autocontrol_selection) {
        scale_boltzmann(state, pop);
    } else if (p.scaling_window > -1) {
        scale_window(state, pop);
    } else if (p.sigma_trunc != 0.0f) {
        scale_sigma_truncation(state, pop);
    } else {
        copy_raw_fitness(state, pop);
    }
    if (p.scalemult > 1.0f && !p.autocontrol_selection && p.beta < 0.0) {
        scale_linear(state, pop);
    }

    state.hooks.app_after_statistics(pop, popsize);
}

}  // namespace velmora
