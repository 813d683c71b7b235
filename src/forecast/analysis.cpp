#include "forecast/analysis.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <stdexcept>

#include "forecast/forecast_paths.hpp"
#include "inference/linear_var.hpp"
#include "model/problem.hpp"
#include "support/csv_field.hpp"
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

// A simulation's options with what every step shares: the seed, the threads,
// the stage's progress and, where the simulation takes it, the stop.
template <typename Options>
Options simulation_options(const AnalysisSettings& settings, const char* stage, int horizon) {
    Options options;
    options.horizon = horizon;
    options.seed = settings.seed;
    options.threads = settings.threads;
    options.progress = stage_progress(settings, stage);
    if constexpr (requires { options.stop; }) {
        options.stop = settings.stop;
    }
    return options;
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

std::string AnalysisResult::component_name(int c) const {
    return c >= 1 && static_cast<std::size_t>(c) <= component_names.size()
               ? component_names[idx(c - 1)]
               : std::string();
}

std::string AnalysisResult::label(int t) const {
    return t >= 1 && static_cast<std::size_t>(t) <= row_labels.size() ? row_labels[idx(t - 1)]
                                                                      : std::string();
}

int AnalysisRequest::holdout_horizon() const noexcept {
    const int h = forecast > 0 ? forecast : 10;
    return std::max(1, std::min(h, holdout));
}

void validate_analysis(const AnalysisRequest& r, int n_oss, int n_comp) {
    if (r.forecast < 0) {
        throw TermError(Term::forecast_horizon, "Forecast horizon",
                        strprintf(": %d steps; give 1 or more", r.forecast));
    }
    if (r.paths < 1) {
        throw TermError(Term::forecast_paths, "Forecast paths",
                        strprintf(": %d paths; give 1 or more", r.paths));
    }
    if (r.holdout < 0 || (r.holdout > 0 && n_oss - r.holdout < kLeastFitRows)) {
        throw TermError(
            Term::hold_out, "Hold-out",
            strprintf(": %d rows cannot be held out of %d; at least %d must remain to fit on",
                      r.holdout, n_oss, kLeastFitRows));
    }
    if (r.girf < 0) {
        throw TermError(Term::impulse_responses, "Impulse responses",
                        strprintf(": horizon %d; give 1 or more", r.girf));
    }
    if (r.girf_histories < 1) {
        throw TermError(Term::impulse_response_histories, "Impulse-response histories",
                        strprintf(": %d histories; give 1 or more", r.girf_histories));
    }
    if (r.girf_repetitions < 1) {
        throw TermError(Term::impulse_response_repetitions, "Impulse-response repetitions",
                        strprintf(": %d repetitions; give 1 or more", r.girf_repetitions));
    }
    if (!r.forecast_csv.empty() && r.forecast == 0) {
        throw TermError(Term::forecast_file_needs_horizon,
                        "The forecast file needs a forecast horizon", "");
    }
    if (!r.girf_csv.empty() && r.girf == 0) {
        throw TermError(Term::impulse_response_file_needs_horizon,
                        "The impulse-response file needs an impulse-response horizon", "");
    }
    // The simulations keep every value they draw until their quantiles are
    // taken: a request beyond memory is refused now rather than failing
    // after the search.
    const auto check_size = [](double values, Term term, const char* what) {
        if (values > kMaxSimulatedValues) {
            throw TermError(term, what,
                            strprintf(" would keep %.4g simulated values; at most %.4g "
                                      "fit in memory: ask for fewer",
                                      values, kMaxSimulatedValues));
        }
    };
    const double k = n_comp;
    if (r.forecast > 0) {
        check_size(static_cast<double>(r.paths) * r.forecast * (k + 1), Term::forecasts_with_paths,
                   "The forecast's paths");
    }
    if (r.holdout > 0) {
        check_size(2.0 * r.holdout * r.holdout_horizon() * k, Term::hold_out, "The hold-out check");
    }
    if (r.girf > 0) {
        // Up to four regimes, each with its histories' responses.
        check_size(4.0 * r.girf_histories * (r.girf + 1.0) * k * k,
                   Term::impulse_responses_with_histories, "The impulse responses' histories");
    }
}

TermError external_threshold_refusal(Term term) {
    const bool forecasts = term == Term::forecast_horizon;
    return TermError(
        {{term, forecasts ? "Forecasts" : "Impulse responses"},
         {std::nullopt,
          strprintf(": the regimes are switched by an external threshold variable, a column of "
                    "the file that is not modelled; %s need its values after the last row read, "
                    "which nothing predicts (",
                    forecasts ? "forecasts" : "impulse responses")},
         {Term::hold_out_in_passing, "the hold-out check"},
         {std::nullopt, " reads its observed values instead)"}});
}

AnalysisResult run_analysis(const ThresholdVarModel& fitted, const double_matrix& series, int rows,
                            const AnalysisRequest& request, const AnalysisSettings& settings) {
    // An external threshold variable is read as observed, at every row read.
    ThresholdVarModel model = fitted;
    model.external_width = std::max(series.col_hi() - model.k, 0);
    model.external.clear();
    for (int t = 1; t <= rows && model.external_width > 0; ++t) {
        for (int j = 1; j <= model.external_width; ++j) {
            model.external.push_back(series[t][model.k + j]);
        }
    }
    const bool external = model.rule.component > model.k ||
                          (model.rule.threshold_variables == 2 && model.rule.component2 > model.k);
    AnalysisResult result;
    result.rows = rows;
    result.fit_rows = rows - request.holdout;
    result.seed = settings.seed;
    // Runs one step when asked for; false when it was stopped. A failure is
    // thrown, or with record_failures listed and the next step taken.
    const auto step = [&](const char* name, bool asked, const std::function<bool()>& body) {
        if (!asked) {
            return true;
        }
        if (!settings.record_failures) {
            return body();
        }
        try {
            return body();
        } catch (const std::exception& e) {
            result.errors.push_back(step_failure(name, e));
            return true;
        }
    };
    const auto stopped = [&settings] { return settings.stop != nullptr && settings.stop->load(); };
    if (result.fit_rows < model.history_rows()) {
        const char* text = "Too few rows to start a forecast from";
        if (!settings.record_failures) {
            throw ConfigError(text);
        }
        result.errors.push_back({"forecast", text, {}});
        return result;
    }

    // Forecasts and impulse responses of an external threshold variable are
    // refused; the hold-out check goes on.
    const auto refuse_external = [&](const char* name, Term term) {
        return step(name, true, [&]() -> bool { throw external_threshold_refusal(term); });
    };
    if (external && request.forecast > 0) {
        refuse_external("forecast", Term::forecast_horizon);
    }
    if (external && request.girf > 0) {
        refuse_external("impulse responses", Term::impulse_responses);
    }
    const bool go =
        step("forecast", request.forecast > 0 && !external,
             [&] {
                 auto options =
                     simulation_options<ForecastOptions>(settings, "forecast", request.forecast);
                 options.paths = request.paths;
                 options.origin = result.fit_rows;
                 const std::vector<double> history =
                     series_history(series, model.k, result.fit_rows, model.history_rows());
                 ForecastResult f = forecast_threshold_var(model, history, options);
                 if (f.horizon == 0 || stopped()) {
                     return false;
                 }
                 result.forecast = std::move(f);
                 return true;
             }) &&
        step("hold-out", request.holdout > 0,
             [&] {
                 // The linear VAR of the same order on the same rows.
                 const inference::LinearVar linear = linear_benchmark(
                     series, result.fit_rows, model.k, model.p, model.include, model.trend_origin);
                 if (!linear.regression.estimated) {
                     throw TermError(Term::hold_out, "Hold-out",
                                     strprintf(": the linear VAR of order %d cannot be "
                                               "estimated on the first %d rows",
                                               model.p, result.fit_rows));
                 }
                 auto options = simulation_options<HoldoutOptions>(settings, "hold-out",
                                                                   request.holdout_horizon());
                 options.paths = request.paths;
                 HoldoutResult h = holdout_check(model, linear.regression, series, rows,
                                                 result.fit_rows, options);
                 if (h.horizon == 0) {
                     return false;
                 }
                 result.holdout = std::move(h);
                 return true;
             }) &&
        step("impulse responses", request.girf > 0 && !external, [&] {
            auto options =
                simulation_options<GirfOptions>(settings, "impulse responses", request.girf);
            options.histories = request.girf_histories;
            options.repetitions = request.girf_repetitions;
            options.executor = settings.executor;
            GirfResult g;
            try {
                g = girf_threshold_var(model, series, options);
            } catch (const std::domain_error& e) {
                throw TermError(Term::impulse_responses, "Impulse responses",
                                std::string(": ") + e.what());
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
