#pragma once
// One run from the rows read to everything the front ends show: hold out the
// last rows, search (and refine), infer on the reported models, diagnose
// them, forecast, check on the held-out rows and trace impulse responses of
// the one reported last, and evaluate it at rolling origins. The command
// line and the desktop program only display and write what it returns.

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/run_config.hpp"
#include "app/run_driver.hpp"
#include "data/series.hpp"
#include "diagnostics/model_diagnostics.hpp"
#include "forecast/analysis.hpp"
#include "inference/model_inference.hpp"
#include "rolling/rolling.hpp"
#include "support/errors.hpp"

namespace velmora {

// The rows read and, when the last ones are held out, the first ones that the
// model is searched or fitted on: both from one reading, since a pipe or a
// FIFO cannot be read twice.
struct SplitSeries {
    LoadedSeries all;
    std::optional<LoadedSeries> fitted;  // set only when rows are held out
    const LoadedSeries& fit_rows() const { return fitted ? *fitted : all; }
};

// Splits rows read into all of them and their first fit_rows.
SplitSeries split_held_out(LoadedSeries all, int fit_rows);

// Reads rows 1..rows of config's course file (its columns, config.n_comp of
// them) and splits them; the file's warnings go to console.
SplitSeries read_rows(const RunConfig& config, int rows, int fit_rows, Console& console);

// The steps after the search, as the stage callback names them.
// inferred comes after the inference and diagnostics of a fitted structure.
enum class PipelineStage { inference, inferred, analysis };

using SearchFunction = std::function<RunResult(const RunConfig&, const RunOptions&)>;

struct PipelineResult;

struct PipelineRequest {
    // As entered: config.n_oss counts every row read, the held-out ones too.
    RunConfig config;
    // The search's settings; its series is the pipeline's.
    RunOptions search;
    // The rows read, when read already; otherwise the search reads them
    // (there must then be no hold-out).
    std::shared_ptr<const SplitSeries> rows;
    // run_search unless empty.
    SearchFunction search_function;
    // Fit this structure on the rows (which must be given) instead of
    // searching: the search's result then holds it as its best model, and
    // the inference and the analysis use the seeds given here.
    std::optional<ModelStructure> structure;
    // The bootstrap settings of the inference (its seed is the search's).
    inference::InferenceOptions inference;
    // Residual diagnostics of the reported models, when asked for.
    std::optional<diagnostics::DiagnosticsOptions> diagnostics;
    // Forecasts, hold-out (its row count: analysis.holdout) and impulse
    // responses of the reported model; settings.seed is the search's.
    AnalysisRequest analysis;
    // Its threads, executor and progress (stage "rolling origins") serve the
    // rolling evaluation too.
    AnalysisSettings analysis_settings;
    // Rolling-origin evaluation of the reported model, checked against the
    // rows read (validate_rolling): at every origin the search is run again
    // (its files in a folder of the working directory, removed afterwards),
    // or the given structure's thresholds and coefficients are estimated
    // again. Seeded as the analysis.
    rolling::RollingRequest rolling;
    // Told of the search's result before anything follows it; return false
    // to end the pipeline there.
    std::function<bool(const RunResult&)> searched;
    // Told as a step after the search begins: the inference of the reported
    // models, and their analysis when there is a model to analyse; return
    // false to end the pipeline there.
    std::function<bool(PipelineStage, const PipelineResult&)> stage;
    // Told at once of a step after the search that failed (the others go on).
    std::function<void(const StepFailure&)> step_failed;
    // Told of the analysis once it has run, before its failures are told.
    std::function<void(const AnalysisResult&)> analysed;
};

struct PipelineResult {
    RunConfig searched;  // the configuration searched: the rows before the held-out ones
    int rows_read = 0;
    std::shared_ptr<const SplitSeries> rows;  // when the pipeline held the rows
    RunResult search;
    // The inference and diagnostics of the search's best model and of the
    // refined one; empty when not estimated, failed or not reached.
    std::optional<inference::ModelInference> best_inference;
    std::optional<inference::ModelInference> refined_inference;
    std::optional<diagnostics::ModelDiagnostics> best_diagnostics;
    std::optional<diagnostics::ModelDiagnostics> refined_diagnostics;
    // Of the reported model; stopped when a stop came before it.
    AnalysisResult analysis;
    // Of the reported model; empty when not asked for, not reached or stopped.
    std::optional<rolling::RollingResult> rolling;
    // The steps after the search that failed, in order.
    std::vector<StepFailure> analysis_errors;
    // The search went on to what follows it (searched said so).
    bool followed = false;

    // The model reported last: the refined one when refinement ran.
    const FittedModel& reported() const;
    const std::optional<inference::ModelInference>& reported_inference() const;
    const std::optional<diagnostics::ModelDiagnostics>& reported_diagnostics() const;
};

// Runs the pipeline. Throws what the search throws; a step after the search
// that fails is recorded (analysis_errors) and the others go on. Once the
// search was stopped, only the search's best model is inferred after a stop
// during the refinement, nothing after a stop during the search; a stop
// (search.stop) ends the bootstraps, simulations and rolling origins early.
PipelineResult run_pipeline(const PipelineRequest& request);

}  // namespace velmora
