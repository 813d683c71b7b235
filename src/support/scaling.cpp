// Fitness scaling: turns the raw fitness of a population into the scaled
// fitness that selection reads. Every method clamps negative results to 0 so
// that fitness-proportional selection never sees a negative weight.

#include <cmath>
#include <string>

#include "engine/engine_state.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"
#include "support/statistics.hpp"

namespace velmora {

namespace {

constexpr int kWindowRing = 20;

double clamp_negative(double value) {
    return value < 0.0 ? 0.0 : value;
}

}  // namespace

void scale_boltzmann(EngineState& state, individual* pop) {
    Statistics& s = state.stats;
    const int popsize = state.params.popsize;
    const double beta = state.params.beta;
    // Any exponent above this could make the sum of popsize terms overflow.
    const double limit = std::log(1.0e308 / popsize);

    double sum = 0.0;
    for (int j = 0; j < popsize; ++j) {
        const double t = (pop[j].raw_fitness - s.raw_avg) * beta;
        if (t > limit) {
            std::string text = "\n*** ERROR in Boltzmann scaling... cannot take ";
            text += strprintf("\n   exp() of scaled term, value is %f\n", t);
            text += "\n Either rescale fitness function, reset beta, ";
            text += "\n or do not use Boltzmann scaling.  Exiting.\n";
            throw EngineFault(text);
        }
        pop[j].scaled_fitness = std::exp(t);
        sum += pop[j].scaled_fitness;
    }
    for (int j = 0; j < popsize; ++j) {
        pop[j].scaled_fitness /= sum;
    }

    s.fitness_max = clamp_negative(pop[s.best_index].scaled_fitness);
    s.scaled_min = clamp_negative(std::exp((s.raw_min - s.raw_avg) * beta) / sum);
    s.scaled_avg = 1.0 / popsize;
    s.fitness_sum = 1.0;
}

void scale_window(EngineState& state, individual* pop) {
    Statistics& s = state.stats;
    const int popsize = state.params.popsize;

    s.window_newest %= kWindowRing;
    int span = s.window_newest - s.window_oldest;
    if (span < 0) {
        span += kWindowRing;
    }
    if (span >= state.params.scaling_window + 1) {
        s.window_oldest = (s.window_oldest + 1) % kWindowRing;
    }

    int position = s.window_oldest;
    double fmin = s.window_min[static_cast<std::size_t>(position)];
    while (position != s.window_newest) {
        position = (position + 1) % kWindowRing;
        if (s.window_min[static_cast<std::size_t>(position)] < fmin) {
            fmin = s.window_min[static_cast<std::size_t>(position)];
        }
    }

    for (int j = 0; j < popsize; ++j) {
        pop[j].scaled_fitness = clamp_negative(pop[j].raw_fitness - fmin);
    }
    s.scaled_avg = clamp_negative(s.raw_avg - fmin);
    s.fitness_max = clamp_negative(s.fitness_max - fmin);
    if (s.scaled_avg > s.fitness_max) {
        s.scaled_avg = s.fitness_max;
    }
    s.scaled_min = clamp_negative(s.raw_min - fmin);
}

void scale_sigma_truncation(EngineState& state, individual* pop) {
    Statistics& s = state.stats;
    const int popsize = state.params.popsize;
    // The product of the two single-precision values is formed in single
    // precision, as the coefficient and the deviation are both floats.
    const float spread = state.params.sigma_trunc * s.fitness_sigma;
    const double offset = s.raw_avg - static_cast<double>(spread);

    double sum = 0.0;
    for (int j = 0; j < popsize; ++j) {
        pop[j].scaled_fitness = clamp_negative(pop[j].raw_fitness - offset);
        sum += pop[j].scaled_fitness;
    }
    s.fitness_max = clamp_negative(s.fitness_max - offset);
    s.scaled_min = clamp_negative(s.raw_min - offset);
    s.scaled_avg = clamp_negative(sum / popsize);
    s.fitness_sum = sum;
}

void scale_linear(EngineState& state, individual* pop) {
    Statistics& s = state.stats;
    const int popsize = state.params.popsize;
    const double m = static_cast<double>(state.params.scalemult);
    const double u = s.scaled_avg;
    const double big = s.fitness_max;
    const double small = s.scaled_min;

    double a = 1.0;
    double b = 0.0;
    if ((m * u - big) / (m - 1.0) < small) {
        // The full stretch keeps the minimum non-negative.
        const double d = big - u;
        if (d >= 1.0e-6 * u) {
            a = (m - 1.0) * u / d;
            b = u * (big - m * u) / d;
        }
    } else {
        // Stretch as far as possible: the minimum goes to 0.
        const double d = u - small;
        if (d > 1.0e-6 * u) {
            a = u / d;
            b = -small * u / d;
        }
    }

    for (int j = 0; j < popsize; ++j) {
        pop[j].scaled_fitness = clamp_negative(a * pop[j].scaled_fitness + b);
    }
    s.scaled_min = clamp_negative(a * s.scaled_min + b);
    s.fitness_max = clamp_negative(a * s.fitness_max + b);
}

}  // namespace velmora
