#include "model/regime_rule.hpp"

#include "model/structure.hpp"

namespace velmora {

RegimeRule regime_rule(const ModelStructure& used, const std::array<double, 3>& thresholds) {
    RegimeRule rule;
    rule.threshold_variables = used.threshold_variables;
    if (is_linear(used)) {
        // One regime: no threshold below any value, whatever the variable.
        rule.threshold_variables = 1;
        rule.n_regime = 1;
        return rule;
    }
    if (used.threshold_variables == 1) {
        const OneThresholdStructure& s = used.one;
        rule.n_regime = s.n_regime;
        rule.component = s.which_serie;
        rule.lag = s.threshold_lag;
        rule.thresholds = thresholds;
    } else {
        const TwoThresholdStructure& s = used.two;
        rule.n_regime = s.n_regime;
        rule.component = s.which_serie1;
        rule.lag = s.Ritardo1;
        rule.component2 = s.which_serie2;
        rule.lag2 = s.Ritardo2;
        rule.type_model = s.type_model;
        rule.thresholds = {thresholds[0], thresholds[1], 0.0};
    }
    return rule;
}

}  // namespace velmora
