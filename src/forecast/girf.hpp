#pragma once
// Generalized impulse responses of a threshold VAR, regime by regime: the
// mean difference between paths with and without a shock, from histories of
// the series that sit in the regime. In a threshold model the response
// depends on the history, the sign and size of the shock and the shocks that
// follow, so it is an average over simulations, not a product of matrices.

#include <atomic>
#include <cstdint>
#include <vector>

#include "forecast/fitted_var.hpp"
#include "numeric/arrays.hpp"
#include "support/executor.hpp"

namespace velmora {

struct GirfOptions {
    int horizon = 20;       // responses at horizons 0..horizon
    int histories = 500;    // histories drawn per regime
    int repetitions = 100;  // shock sequences per history
    std::uint64_t seed = 0;
    int threads = 1;                   // the result does not depend on it
    TaskExecutor* executor = nullptr;  // spreads the histories; null: the threads
    SimulationProgress progress;
    // Checked between repetitions: set, the responses are abandoned (an
    // empty result, as when progress stops them).
    const std::atomic<bool>* stop = nullptr;
};

// Responses of one regime. Tables are indexed [shock - 1][horizon][component - 1].
struct GirfRegime {
    int regime = 0;           // 1-based
    int times_available = 0;  // times of the series in the regime
    // Lower Cholesky factor of the regime's residual covariance (k x k,
    // row-major); shock j is its column j.
    std::vector<double> cholesky;
    std::vector<std::vector<std::vector<double>>> mean;
    std::vector<std::vector<std::vector<double>>> q05;  // across histories
    std::vector<std::vector<std::vector<double>>> q95;
};

struct GirfResult {
    int horizon = 0;
    int k = 0;
    int histories = 0;
    int repetitions = 0;
    std::vector<GirfRegime> regimes;  // [r - 1]; a regime without times has empty tables
};

// Lower-triangular L with L L' = a (k x k, row-major). Throws
// std::domain_error when a is not positive definite.
std::vector<double> cholesky_lower(const std::vector<double>& a, int k);

// For every regime r and every component j: histories are times of regime r
// (the model's regime times) drawn with replacement; from each, `repetitions`
// pairs of paths over horizons 0..H share their resampled shocks, one of the
// pair gets column j of the Cholesky factor of regime r's covariance added at
// horizon 0. A history's response is the mean difference over its pairs; the
// regime's response is the mean over histories, with 5 % and 95 % quantiles
// across histories. `series` holds rows 1..n of the data the model was fitted
// on. History h of regime r draws from a stream derived from options.seed,
// r and h. Throws std::invalid_argument for bad options and std::domain_error
// for a covariance that is not positive definite. Returns an empty result
// (horizon 0) when progress asked to stop.
GirfResult girf_threshold_var(const ThresholdVarModel& model, const double_matrix& series,
                              const GirfOptions& options);

}  // namespace velmora
