#pragma once
// What `run` and `fit` do with the reported model when asked: forecasts with
// bands, the hold-out check against the linear VAR and impulse responses by
// regime; and how the results are shown (summary text, JSON, CSV files).

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "forecast/fitted_var.hpp"
#include "forecast/forecast.hpp"
#include "forecast/girf.hpp"
#include "forecast/holdout.hpp"
#include "numeric/arrays.hpp"
#include "options/option_table.hpp"
#include "support/errors.hpp"

namespace velmora {

struct AnalysisRequest {
    int forecast = 0;  // steps ahead; 0: no forecast
    int paths = options::forecast_paths.default_int();
    std::filesystem::path forecast_csv;
    int holdout = 0;  // rows held out; 0: no check
    int girf = 0;     // largest horizon; 0: no impulse responses
    int girf_histories = options::girf_histories.default_int();
    int girf_repetitions = options::girf_repetitions.default_int();
    std::filesystem::path girf_csv;

    bool any() const noexcept { return forecast > 0 || holdout > 0 || girf > 0; }
    // Horizons of the hold-out check: --forecast when given, else up to 10
    // (never beyond the rows held out).
    int holdout_horizon() const noexcept;
};

// Throws ConfigError when an option is out of range for a series of n_oss
// rows (the rows read before any are held out) and n_comp components, also
// when the simulations would keep more values than memory holds.
void validate_analysis(const AnalysisRequest& request, int n_oss, int n_comp);

// The stage under way ("forecast", "hold-out", "impulse responses"), the
// tasks done and their total; return false to stop.
using AnalysisProgress = std::function<bool(const char* stage, long long done, long long total)>;

struct AnalysisSettings {
    std::uint64_t seed = 0;
    int threads = 1;
    TaskExecutor* executor = nullptr;  // spreads the impulse responses' histories
    AnalysisProgress progress;
    // Checked inside the simulations' inner loops as well, so that a request
    // of billions of repetitions still stops at once.
    const std::atomic<bool>* stop = nullptr;
    // Record a step that fails in AnalysisResult::errors and go on with the
    // next one, instead of throwing.
    bool record_failures = false;
};

struct AnalysisResult {
    int fit_rows = 0;  // rows the model was fitted on; forecasts start after them
    int rows = 0;      // rows read
    std::uint64_t seed = 0;
    std::optional<ForecastResult> forecast;
    std::optional<HoldoutResult> holdout;
    std::optional<GirfResult> girf;
    bool stopped = false;                      // progress or stop asked to stop
    std::vector<StepFailure> errors;           // steps that failed (record_failures)
    std::string note;                          // why nothing was computed, when so
    std::vector<std::filesystem::path> files;  // CSV files written
    // What the series' file calls its components (1 per component; empty
    // when it names none) and its rows (1 per row read; empty when it has no
    // label column): the texts and files show them beside the numbers.
    std::vector<std::string> component_names;
    std::vector<std::string> row_labels;

    // The name of component c (1-based), or "" when the file names none.
    std::string component_name(int c) const;
    // The label of row t (1-based), or "" when the file has none for it
    // (times after the last row read have none).
    std::string label(int t) const;
};

// Why a forecast (term forecast_horizon) or impulse response (term
// impulse_responses) of a model with an external threshold variable is
// refused, the term first.
TermError external_threshold_refusal(Term term);

// `series` holds rows 1..rows; the model was fitted on rows 1..fit_rows
// (fit_rows = rows - request.holdout). The linear VAR of the hold-out check is
// fitted here on the same rows, at the model's order. Throws ConfigError when
// the model cannot support a request (a regime covariance that is not positive
// definite for the impulse responses, too few rows); with
// settings.record_failures such a step is listed in result.errors instead
// and the steps after it still run.
AnalysisResult run_analysis(const ThresholdVarModel& model, const double_matrix& series, int rows,
                            const AnalysisRequest& request, const AnalysisSettings& settings);

// Values of the forecast and the impulse responses that are not finite (an
// explosive model's paths overflow): the CSV files leave them empty, the
// JSON has null.
int non_finite_values(const AnalysisResult& result);

}  // namespace velmora
