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
#include "output/output_files.hpp"
#include "pipeline/pipeline.hpp"
#include "support/errors.hpp"

namespace velmora::cli {

// --forecast, --forecast-paths, --forecast-csv, --holdout, --girf,
// --girf-histories, --girf-repetitions, --girf-csv.
void bind_analysis_options(options::Bindings& bindings, AnalysisRequest& request);

// Names the CSV files the request asks for among the outputs.
void add_analysis_outputs(ExtraOutputs& outputs, const AnalysisRequest& request);

// The analysis settings of a front end on a terminal: the stages on
// progress's line, stopping once *stop is set, failures recorded.
AnalysisSettings analysis_settings(std::uint64_t seed, int threads, const std::atomic<bool>* stop,
                                   StageProgress& progress);

// Warns on standard error when simulated figures overflowed.
void warn_non_finite(const AnalysisResult& result);

// Gives the analysis the file's component names and row labels (of every row
// read, the held-out ones included) for its texts and files.
void name_analysis(AnalysisResult& result, const SeriesInfo& all_rows);

// Writes the CSV files of the analysis through outputs, each whole or not at
// all; a failure is named on standard error, the files written go to
// result.files.
void write_analysis_outputs(AnalysisResult& result, const AnalysisRequest& request,
                            ExtraOutputs& outputs);

// Writes a file through outputs and names a failure on standard error;
// returns whether it was written.
bool write_output(ExtraOutputs& outputs, const std::filesystem::path& path,
                  const std::string& text);

// A step after the search or the fit that failed: named on standard error
// ("Impulse responses failed: <message>") and added to failures.
void note_step_failure(std::vector<StepFailure>& failures, std::string step, std::string message);

// The failures as the JSON's `analysis_errors` lists them: [{step, message}].
nlohmann::json analysis_errors_json(const std::vector<StepFailure>& failures);

// Writes the JSON summary through outputs (its `files_failed` completed with
// the outputs that failed before it) and says so on standard output, or
// names the failure on standard error; returns whether it was written.
bool write_json_summary(ExtraOutputs& outputs, const std::filesystem::path& path,
                        nlohmann::json summary);

// The series as read, the rows of the hold-out check included, and the
// first fit_rows rows of it that the model is fitted on, from one reading.
// `loaded` is the series when it has been read already (all `rows` rows of
// config's course file); otherwise it is read here.
SplitSeries read_with_held_out(std::optional<LoadedSeries> loaded, const RunConfig& config,
                               int rows, int fit_rows);

}  // namespace velmora::cli
