#pragma once
// Forecasts of a threshold VAR by simulation: the future regimes depend on
// future values of the threshold variable(s), so the forecast distribution is
// that of many simulated paths.

#include <cstdint>
#include <span>
#include <vector>

#include "forecast/fitted_var.hpp"
#include "support/parallel.hpp"

namespace velmora {

struct ForecastOptions {
    int horizon = 1;   // steps ahead
    int paths = 2000;  // simulated paths
    std::uint64_t seed = 0;
    int threads = 1;  // the result does not depend on it
    int origin = 0;   // time of the history's last row, from which a trend counts on
    SimulationProgress progress;
};

// Every table is indexed [step - 1][component - 1]; step 1 is the first time
// after the history.
struct ForecastResult {
    int horizon = 0;
    int k = 0;
    int paths = 0;
    std::vector<std::vector<double>> mean;
    std::vector<std::vector<double>> median;
    std::vector<std::vector<double>> q05;
    std::vector<std::vector<double>> q95;
    std::vector<std::vector<double>> no_shock;  // the path without shocks
    // Share of paths in each regime at each step: [step - 1][regime - 1].
    std::vector<std::vector<double>> regime_share;
};

// Simulates options.paths paths from `history` (rows of k values, oldest
// first, at least model.history_rows() of them). Path i draws from its own
// stream, derived from options.seed and i. Throws std::invalid_argument for a
// horizon or path count below 1. Returns an empty result (horizon 0) when
// progress asked to stop.
ForecastResult forecast_threshold_var(const ThresholdVarModel& model,
                                      std::span<const double> history,
                                      const ForecastOptions& options);

}  // namespace velmora
