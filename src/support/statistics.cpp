#include "support/statistics.hpp"

#include <cmath>
#include <cstddef>

namespace velmora {

void compute_statistics(FitnessView pop, const ScalingSettings& scaling, Statistics& s) {
    const int popsize = pop.size();

    s.fitness_sum = 0.0;
    double sum_squares = 0.0;
    s.raw_min = pop.raw(0) < 0.0 ? 0.0 : pop.raw(0);
    s.fitness_max = pop.raw(0);
    s.best_index = 0;

    for (int j = 0; j < popsize; ++j) {
        double& raw = pop.raw(j);
        if (raw < 0.0) {
            raw = 0.0;
        }
        s.fitness_sum += raw;
        sum_squares += raw * raw;
        if (raw > s.fitness_max) {
            s.fitness_max = raw;
            s.best_index = j;
        }
        if (raw < s.raw_min) {
            s.raw_min = raw;
        }
    }
    s.raw_avg = s.fitness_sum / popsize;

    s.window_min[static_cast<std::size_t>(s.window_newest % 20)] = s.raw_min;

    if (needs_deviation(scaling.method)) {
        // Rounding can leave the difference slightly below zero.
        s.fitness_sigma =
            static_cast<float>(std::sqrt(std::fabs(sum_squares / popsize - s.raw_avg * s.raw_avg)));
    }
    scale_fitness(pop, scaling, s);
}

}  // namespace velmora
