#pragma once
// What a finished run tells its user: a closing summary of the best model in
// plain words, and the same as JSON for scripts.

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/run_config.hpp"
#include "app/run_driver.hpp"
#include "inference/model_inference.hpp"

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

// The series columns whose values become thresholds: none for the linear
// VAR, the first and the second threshold variable's otherwise.
std::vector<int> threshold_components(const ModelStructure& structure);

// A model object of the JSON summary: the structure, its estimate, the
// given field codes (null when the model was named otherwise), and the
// coefficients [regime][lag][equation][variable] and sigma
// [regime][row][column] at the maximum order.
nlohmann::json model_json(const StructureSummary& model, double criterion, double fitness,
                          nlohmann::json codes);

// Several lines of plain text, each ending in '\n', e.g.
//   "Threshold variable: component 1 at lag 2, 3 regimes\n"
//   "Thresholds: -0.412000 0.380000\n"
//   "Observations per regime: 301 402 295\n"
//   "Criterion: -1.234567  Fitness: 1.012422\n"
// With a series whose file named its components, the names stand for
// "component k": "Threshold variable: DAX at lag 2, 3 regimes".
std::string format_structure_summary(const StructureSummary& summary,
                                     const SeriesInfo* series = nullptr);

// When the tests of the number of regimes select another model than the
// reported one (another number of regimes, or one threshold variable where
// the model has two): which model they prefer, and the `velmora fit` command
// for it (one line each, ending in '\n'); empty otherwise. Components by
// their names in the series.
std::string regime_choice_note(const RunConfig& config, const inference::ModelInference& inference,
                               const SeriesInfo& series);

}  // namespace velmora
