#pragma once
// The hold-out check: a model fitted on all but the last rows forecasts those
// rows from every origin among them, 1 to H steps ahead, and its errors are
// set beside those of the linear VAR of the same order.

#include <atomic>
#include <cstdint>
#include <vector>

#include "forecast/fitted_var.hpp"
#include "inference/linear_var.hpp"
#include "inference/regression.hpp"
#include "numeric/arrays.hpp"
#include "support/parallel.hpp"

namespace velmora {

struct HoldoutOptions {
    int horizon = 1;   // steps ahead, 1..H
    int paths = 2000;  // simulated paths per origin for the threshold model
    std::uint64_t seed = 0;
    int threads = 1;
    SimulationProgress progress;
    // Checked between simulated paths: set, the check is abandoned (an
    // empty result, as when progress stops it).
    const std::atomic<bool>* stop = nullptr;
};

struct ForecastErrors {
    // Per horizon and component: [h - 1][c - 1].
    std::vector<std::vector<double>> rmse;
    std::vector<std::vector<double>> mae;
    // Per horizon over every component together.
    std::vector<double> rmse_all;
    std::vector<double> mae_all;
};

struct HoldoutResult {
    int fit_rows = 0;  // rows the models were fitted on
    int holdout = 0;   // rows held out
    int horizon = 0;
    std::vector<int> forecasts;  // per horizon: origins that reach that far
    ForecastErrors threshold;    // the threshold model: mean of its simulated paths
    ForecastErrors linear;       // the linear VAR: its iterated forecast
};

// Origins are the times fit_rows .. rows-1 of `series` (rows 1..rows): from
// origin o, using the data up to o, each model forecasts o+1 .. min(o+H,
// rows). The threshold model's forecast is the mean of options.paths
// simulated paths (the streams derived from the seed, the origin and the
// path), the linear VAR's is its iterated forecast (its conditional mean).
// Both keep the coefficients fitted on the first fit_rows rows. Returns an empty result (horizon 0)
// when progress asked to stop.
HoldoutResult holdout_check(const ThresholdVarModel& threshold,
                            const inference::RegimeRegression& linear, const double_matrix& series,
                            int rows, int fit_rows, const HoldoutOptions& options);

// The linear VAR a threshold model's forecasts are set beside: of `order`,
// with the model's deterministic terms (the trend counting from
// trend_origin), on rows 1..n of the k components of series.
inference::LinearVar linear_benchmark(const double_matrix& series, int n, int k, int order,
                                      Include include, int trend_origin);

}  // namespace velmora
