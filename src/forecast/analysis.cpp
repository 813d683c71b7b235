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

}  // namespace velmora
