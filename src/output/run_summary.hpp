#pragma once
// What a finished run tells its user: a closing summary of the best model in
// plain words, and the same as JSON for scripts.

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/run_config.hpp"
#include "app/run_driver.hpp"

namespace velmora {

// Several lines, each ending in '\n': the best structure (threshold
// variables, lags, regimes, thresholds, observations per regime, criterion,
// fitness), the evaluations and what the cache saved, the files written and
// how to replay the run.
std::string format_run_summary(const RunResult& result);

// "Series: FILE, read N of M rows (FIRST to LAST); components A, B.\n" when
// the file named its components or labelled its rows, or was read in part;
// empty otherwise.
std::string format_series_line(const SeriesInfo& series);

// The series as JSON: file, format, component_names (null without a
// header), file_columns, row_labels (name, first, last; null without a label
// column), rows_read, rows_in_file, rows_in_file_exact.
nlohmann::json series_json(const SeriesInfo& series);

// The summary with the run's parameters and seed. options supplies the
// working directory, threads and cache flag.
// `velmora` followed by the arguments, quoted for a POSIX shell where needed.
std::string fit_command_line(const std::vector<std::string>& arguments);

nlohmann::json run_summary_json(const RunConfig& config, const RunOptions& options,
                                const RunResult& result);

// A model object of the JSON summary: the structure, its estimate, the
// given field codes (null when the model was named otherwise), and the
// coefficients [regime][lag][equation][variable] and sigma
// [regime][row][column] at the maximum order.
nlohmann::json model_json(const StructureSummary& model, double criterion, double fitness,
                          nlohmann::json codes);

}  // namespace velmora
