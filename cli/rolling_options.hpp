#pragma once
// --rolling, --rolling-window and --rolling-csv of `run` and `fit`: the
// rolling-origin evaluation of the model, its horizon that of --forecast.

#include <CLI/CLI.hpp>

#include "forecast/analysis.hpp"
#include "options/bindings.hpp"
#include "rolling/rolling.hpp"

namespace velmora::cli {

void bind_rolling_options(options::Bindings& bindings, rolling::RollingRequest& request);

// Takes the horizon and the paths from the analysis options and checks the
// request against the rows read; throws ConfigError.
void prepare_rolling(rolling::RollingRequest& request, const AnalysisRequest& analysis, int rows);

}  // namespace velmora::cli
