#include "output/rolling_text.hpp"

#include <cmath>
#include <cstddef>

#include "output/csv.hpp"
#include "output/run_summary.hpp"
#include "support/format.hpp"

namespace velmora::rolling {

namespace {

using nlohmann::json;

inline std::size_t idx(long long i) {
    return static_cast<std::size_t>(i);
}

json finite_or_null(double x) {
    return std::isfinite(x) ? json(x) : json(nullptr);
}

json table_json(const std::vector<std::vector<double>>& table) {
    json out = json::array();
    for (const auto& row : table) {
        json r = json::array();
        for (double x : row) {
            r.push_back(finite_or_null(x));
        }
        out.push_back(std::move(r));
    }
    return out;
}

json list_json(const std::vector<double>& values) {
    json out = json::array();
    for (double x : values) {
        out.push_back(finite_or_null(x));
    }
    return out;
}

}  // namespace

json rolling_json(const RollingResult& r, const SeriesInfo& info) {
    json labels = json::array();
    json structures = json::array();
    for (const OriginOutcome& o : r.origins) {
        labels.push_back(o.label);
        json s = {{"origin", o.origin}, {"first_row", o.first_row}};
        if (o.model) {
            const json model = model_json(*o.model, o.model->criterion, o.model->fitness, nullptr);
            for (const char* key :
                 {"threshold_variables", "components", "lags", "regimes", "thresholds",
                  "observations_per_regime", "criterion", "external"}) {
                if (model.contains(key)) {
                    s[key] = model.at(key);
                }
            }
            if (info.has_names || model.contains("external")) {
                json names = json::array();
                for (int c : o.model->model.threshold_columns()) {
                    names.push_back(info.component(c));
                }
                s["component_names"] = names;
            }
            s["status"] = "estimated";
        } else {
            s["status"] = "not_estimable";
        }
        structures.push_back(std::move(s));
    }
    json dm_statistic = json::array();
    json dm_p_value = json::array();
    for (const DieboldMariano& d : r.dm) {
        dm_statistic.push_back(finite_or_null(d.statistic));
        dm_p_value.push_back(finite_or_null(d.p_value));
    }
    return {{"origins", static_cast<int>(r.origins.size())},
            {"origin_labels", labels},
            {"window", r.window == 0 ? json(nullptr) : json(r.window)},
            {"horizon", r.horizon},
            {"forecasts", r.forecasts},
            {"rmse", table_json(r.threshold.rmse)},
            {"mae", table_json(r.threshold.mae)},
            {"linear_rmse", table_json(r.linear.rmse)},
            {"linear_mae", table_json(r.linear.mae)},
            {"rmse_all", list_json(r.threshold.rmse_all)},
            {"mae_all", list_json(r.threshold.mae_all)},
            {"linear_rmse_all", list_json(r.linear.rmse_all)},
            {"linear_mae_all", list_json(r.linear.mae_all)},
            {"dm_statistic", dm_statistic},
            {"dm_p_value", dm_p_value},
            {"structures", structures}};
}

std::string rolling_csv(const RollingResult& r, const SeriesInfo& info) {
    std::string text =
        "origin,origin_label,horizon,component,component_name,forecast,linear_forecast,actual\n";
    for (std::size_t i = 0; i < r.origins.size(); ++i) {
        const OriginOutcome& o = r.origins[i];
        const int origin_index = static_cast<int>(i);
        for (int h = 1; h <= r.horizon; ++h) {
            if (std::isnan(r.value(r.actual, origin_index, h, 1))) {
                break;
            }
            for (int c = 1; c <= r.k; ++c) {
                text += std::to_string(o.origin) + ',' + csv_text(o.label) + ',' +
                        std::to_string(h) + ',' + std::to_string(c) + ',' +
                        csv_text(info.component(c)) + ',' +
                        csv_number(r.value(r.forecast, origin_index, h, c)) + ',' +
                        csv_number(r.value(r.linear_forecast, origin_index, h, c)) + ',' +
                        csv_number(r.value(r.actual, origin_index, h, c)) + '\n';
            }
        }
    }
    return text;
}

std::string format_rolling(const RollingResult& r) {
    int estimated = 0;
    for (const OriginOutcome& o : r.origins) {
        estimated += o.model ? 1 : 0;
    }
    std::string text = strprintf(
        "Rolling origins: %zu (rows %d to %d), %s window; the model was estimated at %d of them.\n",
        r.origins.size(), r.origins.empty() ? 0 : r.origins.front().origin,
        r.origins.empty() ? 0 : r.origins.back().origin,
        r.window == 0 ? "expanding" : strprintf("moving %d-row", r.window).c_str(), estimated);
    text += "  step  forecasts  RMSE threshold  RMSE linear  MAE threshold  MAE linear  DM  p\n";
    for (int h = 1; h <= r.horizon; ++h) {
        const auto at = [h](const std::vector<double>& v) { return v[idx(h - 1)]; };
        const DieboldMariano& d = r.dm[idx(h - 1)];
        text += strprintf("  %4d  %9d  %14.6f  %11.6f  %13.6f  %10.6f  %.4f  %.4f\n", h,
                          r.forecasts[idx(h - 1)], at(r.threshold.rmse_all), at(r.linear.rmse_all),
                          at(r.threshold.mae_all), at(r.linear.mae_all), d.statistic, d.p_value);
    }
    return text;
}

}  // namespace velmora::rolling
