#pragma once
// The part both estimators share: given the regimes' time lists in the
// workspace, the least-squares passes for orders 1..m, the residual
// covariances and the criterion, with the report lines that go with them.

#include <array>

#include "model/estimate.hpp"
#include "support/text_file.hpp"

namespace velmora::detail {

// The two report layouts differ in a few lines and formats.
enum class ReportStyle { one_threshold, two_thresholds };

struct ReportFiles {
    TextFile output;
    TextFile prediction;
    TextFile residual;
};

// Opens the three files in append mode, in this order; a file that cannot be
// opened gives "File could not be opened\n" on the problem's console.
void open_report_files(const ModelProblem& problem, ReportFiles& files, const char* output_name,
                       const char* prediction_name, const char* residual_name);

struct PassRequest {
    ReportStyle style = ReportStyle::one_threshold;
    int n_regime = 2;
    // Regime upper bounds for the one-threshold report ("Threshold = %f").
    std::array<double, 3> thresholds{};
    ReportFiles* files = nullptr;  // null: silent
    EstimateSummary* summary = nullptr;
};

// Runs the passes over workspace.times and returns aic_global or 0.0.
double run_passes(const ModelProblem& problem, EstimationWorkspace& ws, const PassRequest& req);

// Throws std::invalid_argument unless the workspace belongs to the problem.
void check_workspace(const ModelProblem& problem, const EstimationWorkspace& ws);

}  // namespace velmora::detail
