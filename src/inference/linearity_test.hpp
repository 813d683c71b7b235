#pragma once
// Is the threshold there at all? The likelihood ratio of the linear VAR
// against the threshold VAR, LR = T (ln det Sigma_linear - ln det
// Sigma_threshold), both covariances over the same T times (see
// threshold_sweep.hpp), with a bootstrap p-value: under the linear null the
// threshold is not identified, so the chi-square does not apply.
//
// The statistic is the supremum over the thresholds: starting from the
// model's thresholds, each threshold is swept over every candidate value of
// its threshold variable with the others fixed, until no sweep improves.
// For one threshold this is the global supremum, normally at the model's own
// thresholds.
//
// Each regime is fitted at its own order (the rule's orders), the rows
// those of the largest order. The linear VAR compared is of the regimes'
// smallest order: the largest linear VAR the threshold model nests (a
// regime of a higher order holds it with its further lags at zero), so the
// LR is never negative and the null is a special case of the alternative.
// With every regime at the largest order that is the usual linear VAR of
// that order.
//
// Bootstrap: that linear VAR is fitted by least squares on
// the same T times; its residuals, recentred to mean zero, are resampled
// with replacement as whole vectors (keeping their contemporaneous
// correlation); each bootstrap series keeps the data's first
// max(lags, order) rows as start-up values and is generated from there by
// the fitted VAR (bootstrap.hpp). On each series the same threshold
// variables, lags and regime count are fitted again, the thresholds swept as
// above (from the thresholds at the data model's ranks; when no model is
// feasible from there, from the best feasible point of a quantile grid), and
// the statistic recomputed. The p-value is (1 + the number of bootstrap
// statistics at least as large as the data's) / (1 + the replicates that
// gave one). Replicate b draws from its own generator, seeded from the run's
// seed and b alone, so the result is the same for any number of threads.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "inference/bootstrap.hpp"
#include "inference/lr_sweep.hpp"

namespace velmora::inference {

struct LinearityTestOptions {
    int replicates = 200;
    std::uint64_t seed = 0;
    int threads = 1;
    TaskExecutor* executor = nullptr;  // spreads the replicates; null: the threads
    // The model tested: the deterministic terms of the models compared (and
    // of the bootstrap's linear VAR) and the least observations per regime
    // (the orders are the test's own); the trend of time t is trend_origin + t.
    ModelDefinition model = sized_by_sweep({});
    int trend_origin = 0;
    // Checked before each replicate: once set, no further replicate starts
    // and the test comes back with `stopped` set.
    const std::atomic<bool>* stop = nullptr;
    // Told the replicates finished and their count, from the calling thread.
    std::function<void(int done, int total)> progress;
};

struct LinearityTest {
    double lr = 0.0;
    double p_value = 1.0;
    // Bootstrap series that gave a statistic; when stopped, those finished
    // before the stop.
    int replicates = 0;
    // Bootstrap series where no threshold model could be fitted, even after
    // the search over the feasible thresholds; when stopped, among those
    // finished.
    int failed = 0;
    int exceedances = 0;                 // bootstrap statistics >= lr
    int observations = 0;                // T
    int null_order = 0;                  // the linear VAR's order
    std::array<double, 3> thresholds{};  // where the data's supremum lies
    double log_det_linear = 0.0;
    double log_det_threshold = 0.0;
    std::vector<double> bootstrap;  // the statistic of each replicate, NaN when failed
    bool stopped = false;           // options.stop ended it: the p-value is not known
};

// LR at fixed thresholds, every regime allowed (an empty regime adds
// nothing, so a model with one regime holding everything gives exactly 0).
double likelihood_ratio(const ThresholdData& data, const ThresholdRule& rule,
                        const std::array<double, 3>& thresholds);

// The sup statistic from the model's thresholds and its bootstrap p-value.
LinearityTest test_linearity(const SeriesRows& series, const ThresholdRule& rule,
                             const std::array<double, 3>& thresholds, int order,
                             const LinearityTestOptions& options);

}  // namespace velmora::inference
