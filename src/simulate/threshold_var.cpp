#include "simulate/threshold_var.hpp"

#include <stdexcept>
#include <string>

namespace velmora {

namespace {

void require(bool condition, const std::string& what) {
    if (!condition) {
        throw std::invalid_argument("threshold VAR: " + what);
    }
}

}  // namespace

double ThresholdVarModel::coefficient(int r, int lag, int equation, int variable) const {
    const VarRegime& regime = regimes.at(static_cast<std::size_t>(r - 1));
    const std::size_t i = static_cast<std::size_t>((lag - 1) * k + variable - 1);
    return regime.phi.at(i * static_cast<std::size_t>(k) + static_cast<std::size_t>(equation - 1));
}

void ThresholdVarModel::check(bool pools) const {
    require(k >= 1, "no components");
    require(p >= 0, "order below 0");
    require(!regimes.empty(), "no regimes");
    require(rule.n_regime == n_regime(), "the rule and the model disagree on the regimes");
    if (rule.threshold_variables == 1) {
        require(rule.n_regime >= 1 && rule.n_regime <= 4, "one threshold variable: 1 to 4 regimes");
        require(rule.component >= 1 && rule.component <= k + external_width,
                "threshold component out of range");
        require(rule.lag >= 1, "threshold lag below 1");
    } else {
        require(rule.threshold_variables == 2, "one or two threshold variables");
        require((rule.n_regime == 4 && rule.type_model == 0) ||
                    (rule.n_regime == 3 && rule.type_model >= 1 && rule.type_model <= 3),
                "regimes do not match the type of model");
        require(rule.component >= 1 && rule.component <= k + external_width &&
                    rule.component2 >= 1 && rule.component2 <= k + external_width,
                "threshold component out of range");
        require(rule.lag >= 1 && rule.lag2 >= 1, "threshold lag below 1");
    }
    const std::size_t kk = static_cast<std::size_t>(k);
    for (const VarRegime& regime : regimes) {
        require(regime.phi.size() == static_cast<std::size_t>(p) * kk * kk,
                "coefficients do not match the order and components");
        require(regime.covariance.empty() || regime.covariance.size() == kk * kk,
                "covariance is not k x k");
        require(regime.intercept.empty() || regime.intercept.size() == kk,
                "intercept is not k values");
        require(regime.deterministic.empty() ||
                    regime.deterministic.size() ==
                        static_cast<std::size_t>(deterministic_count(include)) * kk,
                "deterministic terms are not d x k values");
        require(regime.residuals.size() % kk == 0, "residual vectors are not k values each");
        require(!pools || !regime.residuals.empty(),
                "a regime without residual vectors to draw shocks from");
    }
}

}  // namespace velmora
