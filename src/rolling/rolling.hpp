#pragma once
// Rolling-origin evaluation: at each of the last K origins the model is
// estimated again on the rows before it (all of them, or a moving window of
// W), forecasts the next 1..H rows, and its errors are set beside those of
// the linear VAR of the same order estimated on the same rows, with a
// Diebold-Mariano test per horizon.
//
// The threshold model's forecast is the mean of simulated paths, as in the
// hold-out check (its regimes ahead depend on values not yet seen); the
// linear VAR's is its iterated forecast. Origins run side by side on
// threads; every origin's paths draw from streams of their own, so the
// result does not depend on the thread count.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/threshold_app.hpp"
#include "data/series.hpp"
#include "forecast/holdout.hpp"
#include "support/executor.hpp"

namespace velmora::rolling {

struct RollingRequest {
    int origins = 0;  // K; 0: no rolling evaluation
    int window = 0;   // W rows before each origin; 0: every row before it
    int horizon = 1;  // H
    int paths = 2000;
    std::filesystem::path csv;

    bool any() const noexcept { return origins > 0; }
};

// Throws TermError, naming the evaluation's terms, when the request does not fit a
// series of `rows` rows (every origin needs at least 30 rows before it).
void validate_rolling(const RollingRequest& request, int rows);

// The model estimated on the rows of one origin (rows 1..n of `rows`, the
// window's only), or nothing when it cannot be estimated there. Called from
// several threads at once, each time with its own rows.
// rows are the window's rows; trend_origin is the row number (in the data
// read) of the row before the window's first, so that a trend counts the
// rows of the data read inside every window.
using FitAtOrigin =
    std::function<std::optional<StructureSummary>(const LoadedSeries& rows, int trend_origin)>;

struct RollingSettings {
    int order = 1;  // of the linear VAR: the model's largest order
    std::uint64_t seed = 0;
    int threads = 1;
    TaskExecutor* executor = nullptr;  // spreads the origins; null: the threads
    SimulationProgress progress;
};

// The series' rows first .. last (1-based) as a series of their own, their
// labels kept.
LoadedSeries rows_of(const LoadedSeries& series, int first, int last);

struct OriginOutcome {
    int origin = 0;  // the last row known; the forecasts are of origin+1 ..
    std::string label;
    int first_row = 1;  // the first row estimated on
    std::optional<StructureSummary> model;
};

struct DieboldMariano {
    double statistic = 0.0;  // NaN when the loss differences have no variance
    double p_value = 0.0;
    int count = 0;
};

// The test of equal accuracy on loss differences d (in time order) of
// h-step forecasts: the mean over the Newey-West standard error with h - 1
// lags (Bartlett weights 1 - j/h), times the Harvey-Leybourne-Newbold factor
// sqrt((n + 1 - 2h + h(h-1)/n) / n); two-sided p-value from Student's t with
// n - 1 degrees of freedom.
DieboldMariano diebold_mariano(std::span<const double> d, int h);

struct RollingResult {
    int horizon = 0;
    int k = 0;
    int window = 0;
    std::vector<OriginOutcome> origins;
    // [origin][h-1][c-1] flattened; NaN beyond the rows or where the model
    // could not be estimated.
    std::vector<double> forecast;
    std::vector<double> linear_forecast;
    std::vector<double> actual;
    std::vector<int> forecasts;  // per horizon: origins whose forecast was scored
    ForecastErrors threshold;
    ForecastErrors linear;
    // Per horizon, on d_t = sum over components of (e_linear^2 - e_threshold^2):
    // positive favours the threshold model.
    std::vector<DieboldMariano> dm;

    double value(const std::vector<double>& table, int origin, int h, int c) const {
        return table[(static_cast<std::size_t>(origin) * static_cast<std::size_t>(horizon) +
                      static_cast<std::size_t>(h - 1)) *
                         static_cast<std::size_t>(k) +
                     static_cast<std::size_t>(c - 1)];
    }
};

// Evaluates at origins rows - K .. rows - 1 of series (rows 1..rows). Returns
// an empty result (horizon 0) when progress asked to stop.
RollingResult rolling_evaluation(const LoadedSeries& series, int rows,
                                 const RollingRequest& request, const FitAtOrigin& fit_at,
                                 const RollingSettings& settings);

}  // namespace velmora::rolling
