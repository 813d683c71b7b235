#pragma once
// The options that use a reported model (forecasts, the hold-out check,
// impulse responses), shared by `run` and `fit`, and the steps both commands
// take after their model is known: the analysis, and the files they write
// beside their reports.

#include <CLI/CLI.hpp>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "forecast/analysis.hpp"

#include "app/run_config.hpp"
#include "cli/progress_line.hpp"
#include "data/series.hpp"
#include "model/fitted_model.hpp"
#include "options/bindings.hpp"
#include "output/command_output.hpp"
#include "output/output_files.hpp"
#include "pipeline/pipeline.hpp"
#include "support/errors.hpp"

namespace velmora::cli {

// --forecast, --forecast-paths, --forecast-csv, --holdout, --girf,
// --girf-histories, --girf-repetitions, --girf-csv.
void bind_analysis_options(options::Bindings& bindings, AnalysisRequest& request);

// The analysis settings of a front end on a terminal: the stages on
// progress's line, stopping once *stop is set, failures recorded.
AnalysisSettings analysis_settings(std::uint64_t seed, int threads, const std::atomic<bool>* stop,
                                   StageProgress& progress);

// Warns on standard error when simulated figures overflowed.
void warn_non_finite(const AnalysisResult& result);

// Gives the analysis the file's component names and row labels (of every row
// read, the held-out ones included) for its texts and files.
void name_analysis(AnalysisResult& result, const SeriesInfo& all_rows);

// A step after the search or the fit that failed: named on standard error
// ("Impulse responses failed: <message>") and added to failures.
void note_step_failure(std::vector<StepFailure>& failures, std::string step, std::string message);

// The files a command's options name beside its result files.
template <class CommandState>
CommandFiles command_files_of(const CommandState& state) {
    CommandFiles files;
    files.json = state.json_path;
    if constexpr (requires { state.history_path; }) {
        files.history = state.history_path;
    }
    files.regimes_csv = state.regimes_csv_path;
    files.tables = state.tables_path;
    files.forecast_csv = state.analysis.forecast_csv;
    files.girf_csv = state.analysis.girf_csv;
    files.rolling_csv = state.rolling.csv;
    return files;
}

// The series as read, the rows of the hold-out check included, and the
// first fit_rows rows of it that the model is fitted on, from one reading.
// `loaded` is the series when it has been read already (all `rows` rows of
// config's course file); otherwise it is read here.
SplitSeries read_with_held_out(std::optional<LoadedSeries> loaded, const RunConfig& config,
                               int rows, int fit_rows);

}  // namespace velmora::cli
