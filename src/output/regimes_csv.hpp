#pragma once
// The regimes of a fitted model over time as CSV, for plotting: one row per
// time of the series with the threshold variables' values, the regime and,
// for every component, the fitted value and the residual at the maximum
// order.

#include <filesystem>
#include <string>

#include "data/series.hpp"
#include "model/fitted_model.hpp"

namespace velmora {

// The header line: time, label (only when the series labels its rows),
// threshold_variable (or threshold_variable_1 and threshold_variable_2),
// regime, then fitted_NAME and residual_NAME per component, NAME being the
// component's name when the file named it, else its number.
std::string regimes_csv_header(const FittedModel& model, const SeriesInfo& series);

// The file's text: row t holds time t (1-based), its label, the value of
// each threshold variable at its lag (empty where the lag reaches before
// the series), the regime at the maximum order (empty where no regime
// applies) and the fitted values and residuals of the regression that time
// belongs to (empty where it belongs to none), each line ending in '\n'.
std::string format_regimes_csv(const FittedModel& model, const SeriesInfo& series);

}  // namespace velmora
