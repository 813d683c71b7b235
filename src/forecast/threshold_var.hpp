#pragma once
// A threshold VAR ready to be simulated: the rule that turns lagged values of
// the threshold variable(s) into a regime, and per regime the coefficients,
// the residual covariance and the residual vectors that shocks are drawn from.
// It is built once from a fitted model (at its largest order) and read by the
// forecasts, the hold-out check and the impulse responses.

#include <array>
#include <optional>
#include <vector>

namespace velmora {

struct FittedModel;
struct ModelProblem;
struct ModelStructure;

// Which regime a time belongs to, from the lagged threshold variable(s). The
// same rule the estimators apply: a value equal to a threshold falls on the
// lower side.
struct RegimeRule {
    int threshold_variables = 1;  // 1 or 2
    int n_regime = 2;
    // One threshold variable: component (1-based), lag and the n_regime - 1
    // ascending thresholds.
    int component = 1;
    int lag = 1;
    std::array<double, 3> thresholds{};
    // Two threshold variables: (component2, lag2) with threshold2 besides the
    // first one in thresholds[0]; type_model 0 keeps four quadrants, 1..3
    // merge two of them into three regimes.
    int component2 = 2;
    int lag2 = 1;
    int type_model = 0;

    // Largest lag the rule reads.
    int max_lag() const noexcept {
        return threshold_variables == 1 ? lag : (lag > lag2 ? lag : lag2);
    }

    // Regime 1..n_regime. value(c, d) returns component c (1-based) d steps
    // back. With one threshold variable and fewer than four regimes, the
    // estimator drops values above one million (the unused thresholds); a
    // path that goes there stays in the top regime.
    template <class Lagged>
    int regime(const Lagged& value) const {
        if (threshold_variables == 1) {
            const double z = value(component, lag);
            int r = 1;
            while (r < n_regime && z > thresholds[static_cast<std::size_t>(r - 1)]) {
                ++r;
            }
            return r;
        }
        const double a = value(component, lag);
        const double b = value(component2, lag2);
        const int quadrant =
            a > thresholds[0] ? (b <= thresholds[1] ? 0 : 1) : (b <= thresholds[1] ? 2 : 3);
        return quadrant_regime(n_regime == 4 ? 0 : type_model, quadrant);
    }

    // Regime (1-based) of quadrant 0..3 for type_model 0..3: quadrants are
    // (a above, b at or below), (a above, b above), (a at or below, b at or
    // below), (a at or below, b above).
    static int quadrant_regime(int type_model, int quadrant) noexcept;
};

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
