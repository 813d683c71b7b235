#pragma once
// --rolling, --rolling-window and --rolling-csv of `run` and `fit`: the
// rolling-origin evaluation of the model, its horizon that of --forecast.

#include <CLI/CLI.hpp>
#include <atomic>
#include <cstdint>

#include "forecast/analysis.hpp"
#include "options/bindings.hpp"
#include "rolling/rolling.hpp"

namespace velmora::cli {

void bind_rolling_options(options::Bindings& bindings, rolling::RollingRequest& request);

// Takes the horizon and the paths from the analysis options and checks the
// request against the rows read; throws ConfigError.
void prepare_rolling(rolling::RollingRequest& request, const AnalysisRequest& analysis, int rows);

// The evaluation with a progress line on a terminal; an empty result (horizon
// 0) when *stop was set.
rolling::RollingResult evaluate_rolling(const LoadedSeries& series, int rows,
                                        const rolling::RollingRequest& request,
                                        const rolling::FitAtOrigin& fit_at, int order,
                                        std::uint64_t seed, int threads,
                                        const std::atomic<bool>* stop,
                                        TaskExecutor* executor = nullptr);

}  // namespace velmora::cli
