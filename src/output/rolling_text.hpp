#pragma once
// What a run or a fit says about its rolling-origin evaluation: the JSON
// object, the CSV file and the lines of the closing summary.

#include <nlohmann/json.hpp>
#include <string>

#include "data/series.hpp"
#include "rolling/rolling.hpp"

namespace velmora::rolling {

// JSON `rolling`: origins, origin_labels, window, horizon, forecasts, rmse,
// mae, linear_rmse, linear_mae ([horizon][component]), rmse_all, mae_all,
// linear_rmse_all, linear_mae_all (per horizon), dm_statistic, dm_p_value
// (per horizon) and structures (per origin).
nlohmann::json rolling_json(const RollingResult& result, const SeriesInfo& info);

// One row per origin, horizon and component: origin, origin_label, horizon,
// component, component_name, forecast, linear_forecast, actual.
std::string rolling_csv(const RollingResult& result, const SeriesInfo& info);

// "Rolling origins: ..." lines for standard output.
std::string format_rolling(const RollingResult& result);

}  // namespace velmora::rolling
