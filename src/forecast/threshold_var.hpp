#pragma once
// A threshold VAR ready to be simulated: the rule that turns lagged values of
// the threshold variable(s) into a regime, and per regime the coefficients,
// the residual covariance and the residual vectors that shocks are drawn from.
// It is built once from a fitted model (at its largest order) and read by the
// forecasts, the hold-out check and the impulse responses.

#include <array>
#include <optional>
#include <vector>

#include "model/regime_rule.hpp"

namespace velmora {

struct FittedModel;
struct ModelProblem;
struct ModelStructure;

// One regime of the model.
struct VarRegime {
    // p*k x k coefficients: phi[((lag-1)*k + variable-1)*k + equation-1], the
    // layout of the estimators' Phi.
    std::vector<double> phi;
    std::vector<double> covariance;  // k x k, row-major
    std::vector<double> residuals;   // rows x k: the pool shocks are drawn from
    // Times (1-based) of the series that belong to this regime at order p: the
    // origins of impulse-response histories.
    std::vector<int> times;

    int residual_rows(int k) const noexcept {
        return k == 0 ? 0 : static_cast<int>(residuals.size()) / k;
    }
};

struct ThresholdVarModel {
    int k = 0;  // components
    int p = 0;  // autoregressive order
    RegimeRule rule;
    std::vector<VarRegime> regimes;  // [r-1]

    int n_regime() const noexcept { return static_cast<int>(regimes.size()); }
    // Rows of history a simulation needs: the order and the rule's lags.
    int history_rows() const noexcept {
        const int d = rule.max_lag();
        return p > d ? p : d;
    }
    // Coefficient of `variable` lagged `lag` in `equation` (1-based), regime r.
    double coefficient(int r, int lag, int equation, int variable) const;

    // Throws std::invalid_argument when sizes disagree, a regime has no
    // residuals, or the rule names a component or lag the model cannot read.
    void check() const;
};

// The model of a fitted threshold VAR at its largest order m: its rule with
// the thresholds as estimated, and per regime the coefficients, residual
// covariance (divided by the observations), residual vectors and times at
// order m. Throws std::invalid_argument when the fit is not estimated.
ThresholdVarModel model_from_fit(const FittedModel& fit);

// model_from_fit of the structure estimated on the problem's series; empty
// when the structure cannot be estimated.
std::optional<ThresholdVarModel> model_for_structure(const ModelProblem& problem,
                                                     const ModelStructure& structure);

}  // namespace velmora
