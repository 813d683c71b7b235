#pragma once
// What `velmora run` and `velmora fit` write and say once their pipeline has
// run: the files beside the result files (regimes, forecast and impulse-
// response CSV, tables, rolling CSV), the JSON summary, and the closing
// lines on standard output. The commands run the pipeline and call these;
// every text, JSON key and CSV column is made here.

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/run_config.hpp"
#include "app/run_driver.hpp"
#include "data/series.hpp"
#include "forecast/analysis.hpp"
#include "inference/model_inference.hpp"
#include "output/output_files.hpp"
#include "output/report/model_report.hpp"
#include "pipeline/pipeline.hpp"
#include "rolling/rolling.hpp"
#include "support/errors.hpp"

namespace velmora {

// What one command presents: the pipeline's values, and what the command
// adds to them.
struct CommandResults {
    // A fit of one named structure (`model` in the JSON) or a search (`best`
    // and `refined`).
    bool fit = false;
    PipelineResult* pipeline = nullptr;
    // Every option as the command took it, from the rows it was built of.
    nlohmann::json parameters;
    // A search's own settings, which its summary echoes.
    const RunOptions* search = nullptr;
    // The rows the model was fitted on; the series the rolling evaluation's
    // file and JSON name (a fit's: every row read, the held-out ones too).
    const SeriesInfo* series = nullptr;
    const SeriesInfo* rolling_series = nullptr;
    // A fit: the field codes given (empty when the structure was named
    // otherwise) and the report it appended.
    std::vector<long long> codes;
    const ReportOutcome* report = nullptr;
    // A failed step's message as the user reads it (the command line words
    // the model's terms by its flags); the core's message when empty.
    std::function<std::string(const StepFailure&)> failure_text;
};

// The files the user named beside the result files; empty: not asked for.
struct CommandFiles {
    std::filesystem::path json;
    std::filesystem::path history;  // a run's, written as it breeds
    std::filesystem::path regimes_csv;
    std::filesystem::path tables;
    std::filesystem::path forecast_csv;
    std::filesystem::path girf_csv;
    std::filesystem::path rolling_csv;
};

// Names the files among the outputs, each with the label and the words its
// messages use ("JSON summary", "the JSON summary").
void add_command_outputs(ExtraOutputs& outputs, const CommandFiles& files);

struct FilesWritten {
    bool regimes = false;
    bool tables = false;
};

// Writes a file through outputs and names a failure on standard error;
// returns whether it was written.
bool write_output(ExtraOutputs& outputs, const std::filesystem::path& path,
                  const std::string& text);

// Writes the CSV files of the analysis through outputs, each whole or not at
// all; a failure is named on standard error, the files written go to
// result.files.
void write_analysis_outputs(AnalysisResult& result, const AnalysisRequest& request,
                            ExtraOutputs& outputs);

// The failures as the JSON's `analysis_errors` lists them: [{step, message}],
// each message worded by failure_text when given.
nlohmann::json analysis_errors_json(
    const std::vector<StepFailure>& failures,
    const std::function<std::string(const StepFailure&)>& failure_text = {});

// Writes the JSON summary through outputs (its `files_failed` completed with
// the outputs that failed before it) and says so on standard output, or
// names the failure on standard error; returns whether it was written.
bool write_json_summary(ExtraOutputs& outputs, const std::filesystem::path& path,
                        nlohmann::json summary);

// The JSON summary of a run (the search's summary with the inference,
// diagnostics and tests of its models) or of a fit (`model`), with the
// analysis, the rolling evaluation and the steps that failed.
nlohmann::json command_json(const CommandResults& results, const CommandFiles& files,
                            const FilesWritten& written);

// Writes the files beside the result files, then the JSON summary that lists
// those that failed.
FilesWritten write_command_files(const CommandResults& results, const CommandFiles& files,
                                 ExtraOutputs& outputs);

// The lines after the files: where the regimes and tables went, a run's
// inference on its models, the analysis, the residual diagnostics and the
// rolling evaluation.
std::string command_closing_text(const CommandResults& results, const CommandFiles& files,
                                 const FilesWritten& written);

// The line a fit shows for a threshold given by value: the position whose
// value of component splits the series the same way, that value and its
// row's label.
std::string threshold_position_line(double threshold, int component, int position, double value,
                                    const SeriesInfo& series);

// A fit's first lines: the series, the structure and its estimate, and the
// result files its report was appended to (texts before it, such as the
// positions of thresholds given by value, are the caller's).
std::string fit_report_text(const StructureSummary& summary, const SeriesInfo& series,
                            const ReportOutcome& report);

// "Report not written to <path>: <reason>" for each result file that failed.
std::string report_failures_text(const ReportOutcome& report);

// A fit's inference: beside the linear VAR, the coefficient tables at order
// m and the note on the tests of the number of regimes.
std::string fit_inference_text(const RunConfig& config, const inference::ModelInference& inference,
                               const SeriesInfo& series);

}  // namespace velmora
