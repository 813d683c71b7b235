#include "output/analysis_text.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "support/csv_field.hpp"
#include "support/format.hpp"

namespace velmora {

namespace {

inline std::size_t idx(int i) {
    return static_cast<std::size_t>(i);
}

// A CSV value as the files have always written it; empty (a missing value
// to a spreadsheet) for one that is not finite, as an explosive model gives.
std::string csv_value(double value) {
    return std::isfinite(value) ? strprintf("%.10g", value) : std::string();
}

nlohmann::json errors_json(const ForecastErrors& e) {
    return {{"rmse", e.rmse}, {"mae", e.mae}, {"rmse_all", e.rmse_all}, {"mae_all", e.mae_all}};
}

std::vector<std::vector<double>> square(const std::vector<double>& a, int k) {
    std::vector<std::vector<double>> out(idx(k), std::vector<double>(idx(k)));
    for (int i = 0; i < k; ++i) {
        for (int j = 0; j < k; ++j) {
            out[idx(i)][idx(j)] = a[idx(i * k + j)];
        }
    }
    return out;
}

std::string band(double mean, double lo, double hi) {
    return strprintf("%10.5f [%9.5f, %9.5f]", mean, lo, hi);
}

// Width of one band as band() writes it.
constexpr std::size_t kBandWidth = 33;

std::string padded(std::string text, std::size_t width) {
    if (text.size() < width) {
        text.append(width - text.size(), ' ');
    }
    return text;
}

// A row of names over columns of `width` characters each, the first one
// after `lead` characters; names too long for a column are cut.
std::string name_row(const AnalysisResult& r, int k, std::size_t lead, std::size_t width,
                     bool right) {
    std::string text(lead, ' ');
    for (int c = 1; c <= k; ++c) {
        std::string name = r.component_name(c).substr(0, width - 1);
        text.push_back(' ');
        const std::size_t gap = width - 1 - name.size();
        text += right ? std::string(gap, ' ') + name : padded(name, width - 1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text + "\n";
}
}  // namespace

std::string format_analysis(const AnalysisResult& r) {
    std::string text;
    if (!r.note.empty()) {
        text += r.note + "\n";
    }
    if (r.forecast) {
        const ForecastResult& f = *r.forecast;
        const std::string origin_label = r.label(r.fit_rows);
        const std::string origin =
            origin_label.empty() ? strprintf("time %d", r.fit_rows)
                                 : strprintf("%s (time %d)", origin_label.c_str(), r.fit_rows);
        text += strprintf(
            "Forecast from %s, %d step%s ahead, %d simulated paths (seed %llu): mean "
            "[5 %%, 95 %%]\n",
            origin.c_str(), f.horizon, f.horizon == 1 ? "" : "s", f.paths,
            static_cast<unsigned long long>(r.seed));
        // Each row says its time by the file's label when the file has one
        // for it (rows held out do), else by its number.
        std::vector<std::string> rows;
        std::size_t width = 0;
        for (int h = 0; h < f.horizon; ++h) {
            const int t = r.fit_rows + h + 1;
            const std::string label = r.label(t);
            rows.push_back(label.empty() ? strprintf("time %d:", t) : label + ":");
            width = std::max(width, rows.back().size());
        }
        if (!r.component_names.empty()) {
            text += name_row(r, f.k, 2 + width, kBandWidth + 1, false);
        }
        for (int h = 0; h < f.horizon; ++h) {
            text += "  " + (r.component_names.empty() && r.row_labels.empty()
                                ? rows[idx(h)]
                                : padded(rows[idx(h)], width));
            for (int c = 0; c < f.k; ++c) {
                text.push_back(' ');
                text += band(f.mean[idx(h)][idx(c)], f.q05[idx(h)][idx(c)], f.q95[idx(h)][idx(c)]);
            }
            text += "\n";
        }
    }
    if (r.holdout) {
        const HoldoutResult& h = *r.holdout;
        text += strprintf(
            "Hold-out check: fitted on rows 1-%d, rows %d-%d forecast from each origin; errors "
            "over all components\n",
            h.fit_rows, h.fit_rows + 1, h.fit_rows + h.holdout);
        text += "  horizon  forecasts  RMSE threshold  RMSE linear  MAE threshold  MAE linear\n";
        for (int s = 0; s < h.horizon; ++s) {
            text += strprintf("  %7d  %9d  %14.6f  %11.6f  %13.6f  %10.6f\n", s + 1,
                              h.forecasts[idx(s)], h.threshold.rmse_all[idx(s)],
                              h.linear.rmse_all[idx(s)], h.threshold.mae_all[idx(s)],
                              h.linear.mae_all[idx(s)]);
        }
    }
    if (r.girf) {
        const GirfResult& g = *r.girf;
        text += strprintf(
            "Impulse responses, horizons 0-%d, %d histories x %d repetitions per regime; response "
            "at horizon 1 of each component (columns) to a shock of one standard deviation to "
            "each component (rows)\n",
            g.horizon, g.histories, g.repetitions);
        for (const GirfRegime& regime : g.regimes) {
            if (regime.mean.empty()) {
                text += strprintf("  regime %d: no time of the series starts a history\n",
                                  regime.regime);
                continue;
            }
            text += strprintf("  regime %d:\n", regime.regime);
            const int h = g.horizon >= 1 ? 1 : 0;
            std::vector<std::string> shocks;
            std::size_t width = 0;
            for (int j = 1; j <= g.k; ++j) {
                const std::string name = r.component_name(j);
                shocks.push_back(name.empty() ? strprintf("shock %d:", j)
                                              : strprintf("shock to %s:", name.c_str()));
                width = std::max(width, shocks.back().size());
            }
            if (!r.component_names.empty()) {
                text += name_row(r, g.k, 4 + width, 11, true);
            }
            for (int j = 0; j < g.k; ++j) {
                text += "    " + (r.component_names.empty() ? shocks[idx(j)]
                                                            : padded(shocks[idx(j)], width));
                for (int c = 0; c < g.k; ++c) {
                    text += strprintf(" %10.5f", regime.mean[idx(j)][idx(h)][idx(c)]);
                }
                text += "\n";
            }
        }
    }
    for (const std::filesystem::path& file : r.files) {
        text += strprintf("Written: %s\n", file.string().c_str());
    }
    return text;
}

void add_analysis_json(nlohmann::json& out, const AnalysisResult& r) {
    using nlohmann::json;
    if (r.forecast) {
        const ForecastResult& f = *r.forecast;
        out["forecast"] = {{"origin", r.fit_rows},   {"horizon", f.horizon},
                           {"paths", f.paths},       {"seed", r.seed},
                           {"mean", f.mean},         {"median", f.median},
                           {"q05", f.q05},           {"q95", f.q95},
                           {"no_shock", f.no_shock}, {"regime_share", f.regime_share}};
        if (!r.component_names.empty()) {
            out["forecast"]["component_names"] = r.component_names;
        }
        if (!r.row_labels.empty()) {
            out["forecast"]["origin_label"] = r.label(r.fit_rows);
            json labels = json::array();
            for (int h = 1; h <= f.horizon; ++h) {
                const int t = r.fit_rows + h;
                labels.push_back(t <= static_cast<int>(r.row_labels.size()) ? json(r.label(t))
                                                                            : json(nullptr));
            }
            out["forecast"]["labels"] = std::move(labels);
        }
    }
    if (r.holdout) {
        const HoldoutResult& h = *r.holdout;
        out["holdout"] = {{"fit_rows", h.fit_rows},
                          {"holdout", h.holdout},
                          {"horizon", h.horizon},
                          {"forecasts", h.forecasts},
                          {"threshold", errors_json(h.threshold)},
                          {"linear", errors_json(h.linear)}};
    }
    if (r.girf) {
        const GirfResult& g = *r.girf;
        json regimes = json::array();
        for (const GirfRegime& regime : g.regimes) {
            json item = {{"regime", regime.regime}, {"times_available", regime.times_available}};
            if (!regime.mean.empty()) {
                item["shocks"] = square(regime.cholesky, g.k);
                item["mean"] = regime.mean;
                item["q05"] = regime.q05;
                item["q95"] = regime.q95;
            }
            regimes.push_back(std::move(item));
        }
        out["girf"] = {{"horizon", g.horizon},
                       {"histories", g.histories},
                       {"repetitions", g.repetitions},
                       {"seed", r.seed},
                       {"regimes", std::move(regimes)}};
        if (!r.component_names.empty()) {
            out["girf"]["component_names"] = r.component_names;
        }
    }
}

std::string forecast_csv_text(const AnalysisResult& r) {
    if (!r.forecast) {
        return {};
    }
    const ForecastResult& f = *r.forecast;
    const bool names = !r.component_names.empty();
    const bool labels = !r.row_labels.empty();
    std::string text = "step,time,component,mean,median,q05,q95,no_shock";
    text += names ? ",component_name" : "";
    text += labels ? ",label\n" : "\n";
    for (int h = 0; h < f.horizon; ++h) {
        const int t = r.fit_rows + h + 1;
        for (int c = 0; c < f.k; ++c) {
            text += strprintf("%d,%d,%d", h + 1, t, c + 1);
            for (const auto* table : {&f.mean, &f.median, &f.q05, &f.q95, &f.no_shock}) {
                text += ',';
                text += csv_value((*table)[idx(h)][idx(c)]);
            }
            if (names) {
                text.push_back(',');
                text += csv_text(r.component_name(c + 1));
            }
            if (labels) {
                text.push_back(',');
                text += csv_text(r.label(t));
            }
            text += "\n";
        }
    }
    return text;
}

std::string girf_csv_text(const AnalysisResult& r) {
    if (!r.girf) {
        return {};
    }
    const GirfResult& g = *r.girf;
    const bool names = !r.component_names.empty();
    std::string text = "regime,shock,horizon,component,mean,q05,q95";
    text += names ? ",shock_name,component_name\n" : "\n";
    for (const GirfRegime& regime : g.regimes) {
        for (std::size_t j = 0; j < regime.mean.size(); ++j) {
            for (int h = 0; h <= g.horizon; ++h) {
                for (int c = 0; c < g.k; ++c) {
                    text += strprintf("%d,%zu,%d,%d", regime.regime, j + 1, h, c + 1);
                    for (const auto* cube : {&regime.mean, &regime.q05, &regime.q95}) {
                        text += ',';
                        text += csv_value((*cube)[j][idx(h)][idx(c)]);
                    }
                    if (names) {
                        text.push_back(',');
                        text += csv_text(r.component_name(static_cast<int>(j) + 1));
                        text.push_back(',');
                        text += csv_text(r.component_name(c + 1));
                    }
                    text += "\n";
                }
            }
        }
    }
    return text;
}

}  // namespace velmora
