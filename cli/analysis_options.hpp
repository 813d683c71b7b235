#pragma once
// The options that use a reported model (forecasts, the hold-out check,
// impulse responses), shared by `run` and `fit`, and the step both commands
// take after their model is known.

#include <CLI/CLI.hpp>
#include <cstdint>
#include <filesystem>

#include "forecast/analysis.hpp"

#include "app/run_config.hpp"
#include "model/fitted_model.hpp"

namespace velmora::cli {

// --forecast, --forecast-paths, --forecast-csv, --holdout, --girf,
// --girf-histories, --girf-repetitions, --girf-csv.
void add_analysis_options(CLI::App& command, AnalysisRequest& request);

// Reads the first `rows` rows of config's course file (the model was fitted
// on all but the last request.holdout of them), runs what the request asks
// of `fit` at its largest order with a progress line on a terminal, and
// writes the CSV files. Returns an empty result when nothing is asked, and
// one with a note when the model was not estimated.
AnalysisResult analyse_reported_model(const FittedModel& fit, const RunConfig& config, int rows,
                                      const AnalysisRequest& request, std::uint64_t seed,
                                      int threads);

}  // namespace velmora::cli
