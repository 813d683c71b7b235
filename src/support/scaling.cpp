// Fitness scaling: turns the raw fitness of a population into the scaled
// fitness that selection reads. Every method clamps negative results to 0 so
// that fitness-proportional selection never sees a negative weight.

#include "support/scaling.hpp"

#include <cmath>
#include <string>

#include "support/errors.hpp"
#include "support/format.hpp"
#include "support/statistics.hpp"

namespace velmora {

namespace {

constexpr int kWindowRing = 20;

double clamp_negative(double value) {
    return value < 0.0 ? 0.0 : value;
}

// Raw fitness taken over as it is, before a linear stretch.
void copy_raw_fitness(FitnessView pop, Statistics& s) {
    for (int j = 0; j < pop.size(); ++j) {
        pop.scaled(j) = pop.raw(j);
    }
    s.scaled_min = s.raw_min;
    s.scaled_avg = s.raw_avg;
}

// Automatic control of the Boltzmann constant: it follows the spread of the
// population. A population without spread has no meaningful constant, so the
// last one computed is kept; before there is one, 0 makes selection uniform
// rather than dividing by zero.
double autocontrol_beta(float Beta_s_tilde, Statistics& s) {
    if (s.fitness_sigma != 0.0f) {
        s.autocontrol_beta =
            static_cast<double>(Beta_s_tilde) / static_cast<double>(s.fitness_sigma);
        s.autocontrol_beta_set = true;
    } else if (!s.autocontrol_beta_set) {
        s.autocontrol_beta = 0.0;
    }
    return s.autocontrol_beta;
}

}  // namespace

bool needs_deviation(ScalingMethod method) {
    switch (method) {
        case ScalingMethod::autocontrol:
        case ScalingMethod::sigma_truncation:
            return true;
        case ScalingMethod::linear:
        case ScalingMethod::boltzmann:
        case ScalingMethod::window:
            return false;
    }
    return false;  // not reached: every method has its case
}

void scale_fitness(FitnessView pop, const ScalingSettings& settings, Statistics& s) {
    switch (settings.method) {
        case ScalingMethod::linear:
            copy_raw_fitness(pop, s);
            // A ratio of 1 or less asks for no stretch (and 1 would divide by 0).
            if (settings.scalemult > 1.0f) {
                scale_linear(pop, settings.scalemult, s);
            }
            return;
        case ScalingMethod::boltzmann:
            scale_boltzmann(pop, settings.beta, s);
            return;
        case ScalingMethod::autocontrol:
            scale_boltzmann(pop, autocontrol_beta(settings.Beta_s_tilde, s), s);
            return;
        case ScalingMethod::sigma_truncation:
            scale_sigma_truncation(pop, settings.sigma_trunc, s);
            return;
        case ScalingMethod::window:
            scale_window(pop, settings.scaling_window, s);
            return;
    }
    throw EngineFault(
        strprintf("No scaling method has the code %d.\n", static_cast<int>(settings.method)));
}

void scale_boltzmann(FitnessView pop, double beta, Statistics& s) {
    const int popsize = pop.size();
    // Any exponent above this could make the sum of popsize terms overflow.
    const double limit = std::log(1.0e308 / popsize);

    double sum = 0.0;
    for (int j = 0; j < popsize; ++j) {
        const double t = (pop.raw(j) - s.raw_avg) * beta;
        if (t > limit) {
            std::string text = "\n*** ERROR in Boltzmann scaling... cannot take ";
            text += strprintf("\n   exp() of scaled term, value is %f\n", t);
            text += "\n Either rescale fitness function, reset beta, ";
            text += "\n or do not use Boltzmann scaling.  Exiting.\n";
            throw EngineFault(text);
        }
        pop.scaled(j) = std::exp(t);
        sum += pop.scaled(j);
    }
    for (int j = 0; j < popsize; ++j) {
        pop.scaled(j) /= sum;
    }

    s.fitness_max = clamp_negative(pop.scaled(s.best_index));
    s.scaled_min = clamp_negative(std::exp((s.raw_min - s.raw_avg) * beta) / sum);
    s.scaled_avg = 1.0 / popsize;
    s.fitness_sum = 1.0;
}

void scale_window(FitnessView pop, int scaling_window, Statistics& s) {
    const int popsize = pop.size();

    s.window_newest %= kWindowRing;
    int span = s.window_newest - s.window_oldest;
    if (span < 0) {
        span += kWindowRing;
    }
    if (span >= scaling_window + 1) {
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
        pop.scaled(j) = clamp_negative(pop.raw(j) - fmin);
    }
    s.scaled_avg = clamp_negative(s.raw_avg - fmin);
    s.fitness_max = clamp_negative(s.fitness_max - fmin);
    if (s.scaled_avg > s.fitness_max) {
        s.scaled_avg = s.fitness_max;
    }
    s.scaled_min = clamp_negative(s.raw_min - fmin);
}

void scale_sigma_truncation(FitnessView pop, float sigma_trunc, Statistics& s) {
    const int popsize = pop.size();
    // The product of the two single-precision values is formed in single
    // precision, as the coefficient and the deviation are both floats.
    const float spread = sigma_trunc * s.fitness_sigma;
    const double offset = s.raw_avg - static_cast<double>(spread);

    double sum = 0.0;
    for (int j = 0; j < popsize; ++j) {
        pop.scaled(j) = clamp_negative(pop.raw(j) - offset);
        sum += pop.scaled(j);
    }
    s.fitness_max = clamp_negative(s.fitness_max - offset);
    s.scaled_min = clamp_negative(s.raw_min - offset);
    s.scaled_avg = clamp_negative(sum / popsize);
    s.fitness_sum = sum;
}

void scale_linear(FitnessView pop, float scalemult, Statistics& s) {
    const int popsize = pop.size();
    const double m = static_cast<double>(scalemult);
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
        pop.scaled(j) = clamp_negative(a * pop.scaled(j) + b);
    }
    s.scaled_min = clamp_negative(a * s.scaled_min + b);
    s.fitness_max = clamp_negative(a * s.fitness_max + b);
}

}  // namespace velmora
