#pragma once
// The inference on a model a run or a fit reports, shared by the command line
// and the desktop program so both answer for the same model in the same way.

#include <optional>
#include <string>

#include "app/run_config.hpp"
#include "app/run_driver.hpp"
#include "app/threshold_app.hpp"
#include "data/series.hpp"
#include "diagnostics/model_diagnostics.hpp"
#include "inference/model_inference.hpp"
#include "model/problem.hpp"

namespace velmora {

// The estimation problem of a run: the series it searched with the sizes the
// configuration gives. Report settings (folder, console) stay at their
// defaults.
ModelProblem problem_of(const RunConfig& config, const double_matrix& serie);
// The same with the series' threshold columns (listed and external).
ModelProblem problem_of(const RunConfig& config, const LoadedSeries& series);

// Empty when the model was not estimated.
std::optional<inference::ModelInference> infer_reported(const RunConfig& config,
                                                        const double_matrix& serie,
                                                        const StructureSummary& model,
                                                        const inference::InferenceOptions& options);

// The options of the refined model's inference: when the refined model is
// the linear VAR, its tests of the number of regimes run on the threshold
// variable of the best threshold model the refinement found (the first of
// two).
inference::InferenceOptions refined_inference_options(inference::InferenceOptions options,
                                                      const RefinedModel& refined);

// The residual diagnostics of a reported model; empty when it was not
// estimated.
std::optional<diagnostics::ModelDiagnostics> diagnose_reported(
    const StructureSummary& model, const diagnostics::DiagnosticsOptions& options);

}  // namespace velmora
