#include "model_analysis.hpp"

#include <exception>

#include "app/reported_inference.hpp"
#include "forecast/fitted_var.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora::gui {

RunConfig searched_config(const RunConfig& config, const AnalysisChoices& choices) {
    if (!(choices.confidence > 0.0 && choices.confidence < 1.0)) {
        throw ConfigError(
            strprintf("Confidence level must lie between 0 and 1 (%g)", choices.confidence));
    }
    if (choices.test_linearity < 0) {
        throw ConfigError(strprintf("Linearity test: %d bootstrap series; give 0 or more",
                                    choices.test_linearity));
    }
    if (choices.test_regimes < 0) {
        throw ConfigError(
            strprintf("Test regimes: %d bootstrap series; give 0 or more", choices.test_regimes));
    }
    validate_analysis(choices.request, config.n_oss, config.n_comp);
    RunConfig searched = config;
    searched.n_oss -= choices.request.holdout;
    const int least = config.m + 2 * config.min_oss_reg;
    if (choices.request.holdout > 0 && searched.n_oss < least) {
        throw ConfigError(strprintf(
            "Hold-out: %d of %d rows held out leaves %d to search; two regimes of at least %d "
            "observations (Min. Obs. Reg.) after %d lags need %d",
            choices.request.holdout, config.n_oss, searched.n_oss, config.min_oss_reg, config.m,
            least));
    }
    return searched;
}

namespace {

void analyse(const RunConfig& config, const RunResult& result, const AnalysisChoices& choices,
             const std::shared_ptr<const double_matrix>& rows_read, int threads,
             const std::atomic<bool>* stop, Console* console, ModelAnalyses& out) {
    const RunConfig searched = searched_config(config, choices);
    const auto seed = static_cast<std::uint64_t>(result.casual);
    inference::InferenceOptions options;
    options.replicates = choices.test_linearity;
    options.confidence = choices.confidence;
    options.seed = seed;
    options.threads = threads;
    options.stop = stop;
    if (console != nullptr && options.replicates > 0) {
        console->out(strprintf("Linearity test: %d bootstrap series for each reported model.\n",
                               options.replicates));
    }
    if (console != nullptr && choices.test_regimes > 0) {
        console->out(
            strprintf("Tests of the number of regimes: %d bootstrap series each, on the "
                      "reported model.\n",
                      choices.test_regimes));
    }
    // The tests of the number of regimes only on the reported model.
    inference::InferenceOptions best_options = options;
    best_options.regime_replicates = result.refined ? 0 : choices.test_regimes;
    out.best = infer_reported(searched, *result.serie, result.best, best_options);
    if (result.refinement_stopped) {
        return;
    }
    if (result.refined) {
        options.regime_replicates = choices.test_regimes;
        out.refined = infer_reported(searched, *result.serie, result.refined->model,
                                     refined_inference_options(options, *result.refined));
    }

    const FittedModel& reported = result.refined ? result.refined->model.model : result.best.model;
    if (!choices.request.any() || !reported.estimated()) {
        return;
    }
    const int rows = config.n_oss;
    // The search saw only the rows before those held out.
    out.rows_read = rows_read;
    if (console != nullptr) {
        console->out("Forecasts, hold-out check and impulse responses of the reported model.\n");
    }
    AnalysisRequest request = choices.request;
    request.forecast_csv.clear();
    request.girf_csv.clear();
    AnalysisSettings settings;
    settings.seed = seed;
    settings.threads = threads;
    if (stop != nullptr) {
        settings.progress = [stop](const char*, long long, long long) { return !stop->load(); };
    }
    out.analysis = run_analysis(model_from_fit(reported), *out.rows_read, rows, request, settings);
}

}  // namespace

ModelAnalyses analyse_run(const RunConfig& config, const RunResult& result,
                          const AnalysisChoices& choices, std::shared_ptr<const double_matrix> rows,
                          int threads, const std::atomic<bool>* stop, Console* console) {
    ModelAnalyses out;
    if ((!result.completed && !result.refinement_stopped) || !result.serie || !rows ||
        rows->row_hi() < config.n_oss) {
        return out;
    }
    // The search's result stands whatever happens here: a failure is told,
    // not turned into a failed run.
    try {
        analyse(config, result, choices, rows, threads, stop, console, out);
    } catch (const std::exception& e) {
        out.failure = e.what();
        if (console != nullptr) {
            console->err(out.failure + "\n");
        }
    }
    return out;
}

}  // namespace velmora::gui
