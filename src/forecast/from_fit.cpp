// The simulation model of a fitted threshold VAR at its largest order.

#include <stdexcept>

#include "forecast/fitted_var.hpp"
#include "model/estimate.hpp"
#include "model/fitted_model.hpp"

namespace velmora {

std::vector<double> recentred(const std::vector<double>& residuals, int k) {
    // Without an intercept a regime's residuals need not average zero; drawn
    // as shocks as they are, their mean would act as an intercept the model
    // does not have.
    std::vector<double> out = residuals;
    const std::size_t kk = static_cast<std::size_t>(k);
    const std::size_t rows = kk == 0 ? 0 : out.size() / kk;
    if (rows == 0) {
        return out;
    }
    for (std::size_t c = 0; c < kk; ++c) {
        double mean = 0.0;
        for (std::size_t i = 0; i < rows; ++i) {
            mean += out[i * kk + c];
        }
        mean /= static_cast<double>(rows);
        for (std::size_t i = 0; i < rows; ++i) {
            out[i * kk + c] -= mean;
        }
    }
    return out;
}

ThresholdVarModel model_from_fit(const FittedModel& fit) {
    if (!fit.estimated()) {
        throw std::invalid_argument("model_from_fit: the model was not estimated");
    }
    ThresholdVarModel model;
    model.k = fit.k;
    model.p = fit.m;
    model.include = fit.include;
    model.trend_origin = fit.trend_origin;
    model.rule = regime_rule(fit.used, fit.thresholds);
    // The external threshold columns' values come from the series the model
    // is stepped through (run_analysis, the rolling origins).
    model.external_width = static_cast<int>(fit.external_columns.size());
    model.regimes.resize(static_cast<std::size_t>(fit.n_regime));
    for (int r = 1; r <= fit.n_regime; ++r) {
        // The regime at its own order; the lags beyond it up to m are zero.
        const RegimeFit& regime = fit.regime(r);
        VarRegime& out = model.regimes[static_cast<std::size_t>(r - 1)];
        out.phi = regime.phi;
        out.phi.resize(static_cast<std::size_t>(fit.m * fit.k * fit.k), 0.0);
        out.deterministic = regime.deterministic;
        out.covariance = regime.covariance;
        out.residuals = recentred(regime.residuals, fit.k);
        out.times = regime.times;
    }
    model.check();
    return model;
}

std::optional<ThresholdVarModel> model_for_structure(const ModelProblem& problem,
                                                     const ModelStructure& structure) {
    const FittedModel fit = estimate(problem, structure);
    if (!fit.estimated()) {
        return std::nullopt;
    }
    return model_from_fit(fit);
}

}  // namespace velmora
