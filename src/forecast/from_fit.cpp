// The simulation model of a fitted threshold VAR at its largest order.

#include <stdexcept>

#include "forecast/threshold_var.hpp"
#include "model/estimate.hpp"
#include "model/fitted_model.hpp"

namespace velmora {

ThresholdVarModel model_from_fit(const FittedModel& fit) {
    if (!fit.estimated()) {
        throw std::invalid_argument("model_from_fit: the model was not estimated");
    }
    ThresholdVarModel model;
    model.k = fit.k;
    model.p = fit.m;
    RegimeRule& rule = model.rule;
    rule.n_regime = fit.n_regime;
    if (fit.threshold_variables() == 1) {
        const OneThresholdStructure& s = fit.used.one;
        rule.threshold_variables = 1;
        rule.component = s.which_serie;
        rule.lag = s.threshold_lag;
        rule.thresholds = fit.thresholds;
    } else {
        const TwoThresholdStructure& s = fit.used.two;
        rule.threshold_variables = 2;
        rule.component = s.which_serie1;
        rule.lag = s.Ritardo1;
        rule.component2 = s.which_serie2;
        rule.lag2 = s.Ritardo2;
        rule.type_model = s.type_model;
        rule.thresholds = {fit.thresholds[0], fit.thresholds[1], 0.0};
    }
    model.regimes.resize(static_cast<std::size_t>(fit.n_regime));
    for (int r = 1; r <= fit.n_regime; ++r) {
        const RegimeFit& regime = fit.regime(r, fit.m);
        VarRegime& out = model.regimes[static_cast<std::size_t>(r - 1)];
        out.phi = regime.phi;
        out.covariance = regime.covariance;
        out.residuals = regime.residuals;
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
