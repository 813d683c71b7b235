#include "model_analysis.hpp"

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
    const int least = config.model.max_order + 2 * config.model.min_obs_per_regime;
    if (choices.request.holdout > 0 && searched.n_oss < least) {
        throw ConfigError(strprintf(
            "Hold-out: %d of %d rows held out leaves %d to search; two regimes of at least %d "
            "observations (Min. Obs. Reg.) after %d lags need %d",
            choices.request.holdout, config.n_oss, searched.n_oss, config.model.min_obs_per_regime,
            config.model.max_order, least));
    }
    return searched;
}

void request_analyses(PipelineRequest& request, const AnalysisChoices& choices, int threads,
                      const std::atomic<bool>* stop, Console* console) {
    inference::InferenceOptions& options = request.inference;
    options.replicates = choices.test_linearity;
    options.confidence = choices.confidence;
    options.threads = threads;
    options.stop = stop;
    options.regime_replicates = choices.test_regimes;
    request.analysis = choices.request;
    request.analysis.forecast_csv.clear();
    request.analysis.girf_csv.clear();
    request.analysis_settings.threads = threads;
    if (stop != nullptr) {
        request.analysis_settings.progress = [stop](const char*, long long, long long) {
            return !stop->load();
        };
    }
    if (console == nullptr) {
        return;
    }
    request.stage = [console, choices](PipelineStage stage, const PipelineResult&) {
        if (stage == PipelineStage::analysis) {
            console->out(
                "Forecasts, hold-out check and impulse responses of the reported model.\n");
            return true;
        }
        if (stage != PipelineStage::inference) {
            return true;
        }
        if (choices.test_linearity > 0) {
            console->out(strprintf("Linearity test: %d bootstrap series for each reported model.\n",
                                   choices.test_linearity));
        }
        if (choices.test_regimes > 0) {
            console->out(
                strprintf("Tests of the number of regimes: %d bootstrap series each, on the "
                          "reported model.\n",
                          choices.test_regimes));
        }
        return true;
    };
    request.step_failed = [console](const StepFailure& failure) {
        console->err(failure.message + "\n");
    };
}

ModelAnalyses analyses_of(const PipelineResult& result) {
    ModelAnalyses out;
    if (!result.followed) {
        return out;
    }
    out.best = result.best_inference;
    out.refined = result.refined_inference;
    out.analysis = result.analysis;
    if (result.rows) {
        // The rows read, the held-out ones too, for the forecast chart.
        out.rows_read = std::shared_ptr<const double_matrix>(result.rows, &result.rows->all.serie);
    }
    if (!result.analysis_errors.empty()) {
        out.failure = result.analysis_errors.front().message;
    }
    return out;
}

}  // namespace velmora::gui
