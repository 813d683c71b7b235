#pragma once
// What the window asks of a finished run's models beyond the search: the
// linear benchmark, standard errors, the linearity test and the threshold
// confidence set of each reported model, and the forecasts, hold-out check
// and impulse responses of the one reported last (the refined model when
// refinement ran). Computed on the run's worker thread from the run's seed,
// so the same run gives the same figures whatever the thread count.

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "app/run_config.hpp"
#include "app/run_driver.hpp"
#include "forecast/analysis.hpp"
#include "inference/model_inference.hpp"
#include "pipeline/pipeline.hpp"

namespace velmora::gui {

struct AnalysisChoices {
    int test_linearity = 0;    // bootstrap series; 0: no linearity test
    double confidence = 0.95;  // level of the threshold confidence sets
    int test_regimes = 0;      // bootstrap series per test of the number of regimes; 0: none
    AnalysisRequest request;   // forecast, paths, hold-out, impulse responses (no CSV files)
};

struct ModelAnalyses {
    std::optional<inference::ModelInference> best;
    std::optional<inference::ModelInference> refined;
    // Forecasts, hold-out errors and impulse responses, those asked for.
    AnalysisResult analysis;
    // The rows read (rows 1..analysis.rows; with a hold-out, more than the
    // search saw), for the forecast chart's history.
    std::shared_ptr<const double_matrix> rows_read;
    // Why the forecasts or impulse responses could not be computed.
    std::string failure;
};

// The configuration the search runs on: with a hold-out, the rows before
// those held out. Throws ConfigError when the choices do not suit the series,
// and when the rows left could not hold two regimes of the least size after
// the largest order's lags (no model could be estimated on them).
RunConfig searched_config(const RunConfig& config, const AnalysisChoices& choices);

// Asks the pipeline for the inference of every reported model and the
// analyses of the reported one as the choices say, from the run's seed:
// `stop` (may be null) ends the bootstrap and the simulations early; a
// console (may be null) is told when a long stage starts and when a step
// fails.
void request_analyses(PipelineRequest& request, const AnalysisChoices& choices, int threads,
                      const std::atomic<bool>* stop, Console* console);

// What the window shows of the steps after the search: empty when the run
// was stopped before its search ended; when the stop came during the
// refinement only the search's best model is inferred (the analyses belong
// to the reported model, which the refinement did not give).
ModelAnalyses analyses_of(const PipelineResult& result);

}  // namespace velmora::gui
