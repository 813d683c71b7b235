#pragma once
// What a run or a fit says about the forecasts, the hold-out check and the
// impulse responses of its model: the lines of the closing summary, the JSON
// keys and the CSV files.

#include <nlohmann/json.hpp>
#include <string>

#include "forecast/analysis.hpp"

namespace velmora {

// Lines for the closing summary, each ending in '\n'.
std::string format_analysis(const AnalysisResult& result);

// Adds `forecast`, `holdout` and `girf` (those computed) to a JSON object;
// with names, `component_names` in each, with labels `origin_label` and
// `labels` (per forecast time, null after the last row read) in `forecast`.
void add_analysis_json(nlohmann::json& out, const AnalysisResult& result);

// The text of the forecast CSV file (step, time, component, mean, median,
// q05, q95, no_shock, then component_name when the file names its
// components and label when it labels its rows) and of the impulse-response
// CSV file (regime, shock, horizon, component, mean, q05, q95, then
// shock_name and component_name with names); empty when that part was not
// computed. A value that is not finite is an empty field.
std::string forecast_csv_text(const AnalysisResult& result);
std::string girf_csv_text(const AnalysisResult& result);

}  // namespace velmora
