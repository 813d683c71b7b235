#include "forecast/analysis.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <stdexcept>

#include "forecast/forecast_paths.hpp"
#include "inference/linear_var.hpp"
#include "model/problem.hpp"
#include "support/errors.hpp"
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

// Fewest rows a model is fitted on, as the estimators require.
constexpr int kLeastFitRows = 30;

// Values the simulations of one request may keep (800 MB of doubles).
constexpr double kMaxSimulatedValues = 1e8;

SimulationProgress stage_progress(const AnalysisSettings& settings, const char* stage) {
    if (!settings.progress) {
        return {};
    }
    return [&settings, stage](long long done, long long total) {
        return settings.progress(stage, done, total);
    };
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

}  // namespace

int AnalysisRequest::holdout_horizon() const noexcept {
    const int h = forecast > 0 ? forecast : 10;
    return std::max(1, std::min(h, holdout));
}

void validate_analysis(const AnalysisRequest& r, int n_oss, int n_comp) {
    if (r.forecast < 0) {
        throw ConfigError(strprintf("--forecast: %d steps; give 1 or more", r.forecast));
    }
    if (r.paths < 1) {
        throw ConfigError(strprintf("--forecast-paths: %d paths; give 1 or more", r.paths));
    }
    if (r.holdout < 0 || (r.holdout > 0 && n_oss - r.holdout < kLeastFitRows)) {
        throw ConfigError(strprintf(
            "--holdout: %d rows cannot be held out of %d; at least %d must remain to fit on",
            r.holdout, n_oss, kLeastFitRows));
    }
    if (r.girf < 0) {
        throw ConfigError(strprintf("--girf: horizon %d; give 1 or more", r.girf));
    }
    if (r.girf_histories < 1) {
        throw ConfigError(
            strprintf("--girf-histories: %d histories; give 1 or more", r.girf_histories));
    }
    if (r.girf_repetitions < 1) {
        throw ConfigError(
            strprintf("--girf-repetitions: %d repetitions; give 1 or more", r.girf_repetitions));
    }
    if (!r.forecast_csv.empty() && r.forecast == 0) {
        throw ConfigError("--forecast-csv needs --forecast H");
    }
    if (!r.girf_csv.empty() && r.girf == 0) {
        throw ConfigError("--girf-csv needs --girf H");
    }
    // The simulations keep every value they draw until their quantiles are
    // taken: a request beyond memory is refused now rather than failing
    // after the search.
    const auto check_size = [](double values, const char* what) {
        if (values > kMaxSimulatedValues) {
            throw ConfigError(strprintf(
                "%s would keep %.4g simulated values; at most %.4g fit in memory: ask for fewer",
                what, values, kMaxSimulatedValues));
        }
    };
    const double k = n_comp;
    if (r.forecast > 0) {
        check_size(static_cast<double>(r.paths) * r.forecast * (k + 1),
                   "--forecast with --forecast-paths");
    }
    if (r.holdout > 0) {
        check_size(2.0 * r.holdout * r.holdout_horizon() * k, "--holdout");
    }
    if (r.girf > 0) {
        // Up to four regimes, each with its histories' responses.
        check_size(4.0 * r.girf_histories * (r.girf + 1.0) * k * k, "--girf with --girf-histories");
    }
}

AnalysisResult run_analysis(const ThresholdVarModel& model, const double_matrix& series, int rows,
                            const AnalysisRequest& request, const AnalysisSettings& settings) {
    AnalysisResult result;
    result.rows = rows;
    result.fit_rows = rows - request.holdout;
    result.seed = settings.seed;
    // Runs one step; false when it was stopped. A failure is thrown, or with
    // record_failures listed and the next step taken.
    const auto step = [&](const char* name, const std::function<bool()>& body) {
        if (!settings.record_failures) {
            return body();
        }
        try {
            return body();
        } catch (const std::exception& e) {
            result.errors.push_back({name, e.what()});
            return true;
        }
    };
    const auto stopped = [&settings] { return settings.stop != nullptr && settings.stop->load(); };
    if (result.fit_rows < model.history_rows()) {
        const char* text = "Too few rows to start a forecast from";
        if (!settings.record_failures) {
            throw ConfigError(text);
        }
        result.errors.push_back({"forecast", text});
        return result;
    }

    const bool go = step("forecast",
                         [&] {
                             if (request.forecast == 0) {
                                 return true;
                             }
                             ForecastOptions options;
                             options.horizon = request.forecast;
                             options.paths = request.paths;
                             options.seed = settings.seed;
                             options.threads = settings.threads;
                             options.progress = stage_progress(settings, "forecast");
                             const std::vector<double> history = series_history(
                                 series, model.k, result.fit_rows, model.history_rows());
                             ForecastResult f = forecast_threshold_var(model, history, options);
                             if (f.horizon == 0 || stopped()) {
                                 return false;
                             }
                             result.forecast = std::move(f);
                             return true;
                         }) &&
                    step("hold-out",
                         [&] {
                             if (request.holdout == 0) {
                                 return true;
                             }
                             // The linear VAR of the same order on the same rows.
                             ModelProblem problem;
                             problem.serie_matrix = &series;
                             problem.n_oss = result.fit_rows;
                             problem.n_comp = model.k;
                             problem.min_oss_reg = 2;
                             problem.m = model.p;
                             const inference::LinearVar linear = inference::fit_linear_var(problem);
                             if (!linear.regression.estimated) {
                                 throw ConfigError(
                                     strprintf("--holdout: the linear VAR of order %d cannot be "
                                               "estimated on the first %d rows",
                                               model.p, result.fit_rows));
                             }
                             HoldoutOptions options;
                             options.horizon = request.holdout_horizon();
                             options.paths = request.paths;
                             options.seed = settings.seed;
                             options.threads = settings.threads;
                             options.progress = stage_progress(settings, "hold-out");
                             options.stop = settings.stop;
                             HoldoutResult h = holdout_check(model, linear.regression, series, rows,
                                                             result.fit_rows, options);
                             if (h.horizon == 0) {
                                 return false;
                             }
                             result.holdout = std::move(h);
                             return true;
                         }) &&
                    step("impulse responses", [&] {
                        if (request.girf == 0) {
                            return true;
                        }
                        GirfOptions options;
                        options.horizon = request.girf;
                        options.histories = request.girf_histories;
                        options.repetitions = request.girf_repetitions;
                        options.seed = settings.seed;
                        options.threads = settings.threads;
                        options.progress = stage_progress(settings, "impulse responses");
                        options.stop = settings.stop;
                        GirfResult g;
                        try {
                            g = girf_threshold_var(model, series, options);
                        } catch (const std::domain_error& e) {
                            throw ConfigError(strprintf("--girf: %s", e.what()));
                        }
                        if (g.k == 0) {
                            return false;
                        }
                        result.girf = std::move(g);
                        return true;
                    });
    result.stopped = !go;
    return result;
}

std::string format_analysis(const AnalysisResult& r) {
    std::string text;
    if (!r.note.empty()) {
        text += r.note + "\n";
    }
    if (r.forecast) {
        const ForecastResult& f = *r.forecast;
        text += strprintf(
            "Forecast from time %d, %d step%s ahead, %d simulated paths (seed %llu): mean "
            "[5 %%, 95 %%]\n",
            r.fit_rows, f.horizon, f.horizon == 1 ? "" : "s", f.paths,
            static_cast<unsigned long long>(r.seed));
        for (int h = 0; h < f.horizon; ++h) {
            text += strprintf("  time %d:", r.fit_rows + h + 1);
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
            for (int j = 0; j < g.k; ++j) {
                text += strprintf("    shock %d:", j + 1);
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
    }
}

int non_finite_values(const AnalysisResult& r) {
    int count = 0;
    const auto add = [&count](const std::vector<std::vector<double>>& table) {
        for (const auto& row : table) {
            for (const double v : row) {
                count += std::isfinite(v) ? 0 : 1;
            }
        }
    };
    if (r.forecast) {
        for (const auto* table : {&r.forecast->mean, &r.forecast->median, &r.forecast->q05,
                                  &r.forecast->q95, &r.forecast->no_shock}) {
            add(*table);
        }
    }
    if (r.girf) {
        for (const GirfRegime& regime : r.girf->regimes) {
            for (const auto* cube : {&regime.mean, &regime.q05, &regime.q95}) {
                for (const auto& table : *cube) {
                    add(table);
                }
            }
        }
    }
    return count;
}

std::string forecast_csv_text(const AnalysisResult& r) {
    if (!r.forecast) {
        return {};
    }
    const ForecastResult& f = *r.forecast;
    std::string text = "step,time,component,mean,median,q05,q95,no_shock\n";
    for (int h = 0; h < f.horizon; ++h) {
        for (int c = 0; c < f.k; ++c) {
            text += strprintf("%d,%d,%d", h + 1, r.fit_rows + h + 1, c + 1);
            for (const auto* table : {&f.mean, &f.median, &f.q05, &f.q95, &f.no_shock}) {
                text += ',';
                text += csv_value((*table)[idx(h)][idx(c)]);
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
    std::string text = "regime,shock,horizon,component,mean,q05,q95\n";
    for (const GirfRegime& regime : g.regimes) {
        for (std::size_t j = 0; j < regime.mean.size(); ++j) {
            for (int h = 0; h <= g.horizon; ++h) {
                for (int c = 0; c < g.k; ++c) {
                    text += strprintf("%d,%zu,%d,%d", regime.regime, j + 1, h, c + 1);
                    for (const auto* cube : {&regime.mean, &regime.q05, &regime.q95}) {
                        text += ',';
                        text += csv_value((*cube)[j][idx(h)][idx(c)]);
                    }
                    text += '\n';
                }
            }
        }
    }
    return text;
}

}  // namespace velmora
