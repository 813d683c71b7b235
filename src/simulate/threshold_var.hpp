#pragma once
// A threshold VAR ready to be simulated: the rule that turns lagged values of
// the threshold variable(s) into a regime, and per regime the coefficients
// (the estimators' layout), an optional intercept, the residual covariance
// and the residual vectors that resampled shocks are drawn from. Known
// models (known_model.hpp), fitted models (forecasts, impulse responses) and the
// linear VAR of the bootstrap are all stepped by threshold_var_step.

#include <cstddef>
#include <stdexcept>
#include <vector>

#include "model/design.hpp"
#include "model/regime_rule.hpp"
#include "simulate/var_step.hpp"

namespace velmora {

// One regime of the model.
struct VarRegime {
    // p*k x k coefficients: phi[((lag-1)*k + variable-1)*k + equation-1], the
    // layout of the estimators' Phi.
    std::vector<double> phi;
    std::vector<double> intercept;  // k values, or empty for none
    // The fitted deterministic terms of the model's `include`, d x k:
    // [term*k + equation] (const before trend); empty for none.
    std::vector<double> deterministic;
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
    // The deterministic terms the regimes' intercept and trend hold, as
    // fitted; the trend of time t (1-based) is trend_origin + t.
    Include include = Include::none;
    int trend_origin = 0;
    RegimeRule rule;
    std::vector<VarRegime> regimes;  // [r-1]
    // Threshold columns beyond the k components that the rule may name
    // (component k + j): their observed values at times 1..n, row after row.
    // A step reads them at its own time less the lag, so a model with an
    // external threshold variable steps only through observed times.
    int external_width = 0;
    std::vector<double> external;

    // External column j (1-based) at time t; throws std::out_of_range
    // beyond the observed times.
    double external_value(int t, int j) const {
        const auto w = static_cast<std::size_t>(external_width);
        if (t < 1 || j < 1 || j > external_width ||
            static_cast<std::size_t>(t) * w > external.size()) {
            throw std::out_of_range(
                "the external threshold variable is not observed at the time a step needs");
        }
        return external[static_cast<std::size_t>(t - 1) * w + static_cast<std::size_t>(j - 1)];
    }

    int n_regime() const noexcept { return static_cast<int>(regimes.size()); }
    // Rows of history a simulation needs: the order and the rule's lags.
    int history_rows() const noexcept {
        const int d = rule.max_lag();
        return p > d ? p : d;
    }
    // Coefficient of `variable` lagged `lag` in `equation` (1-based), regime r.
    double coefficient(int r, int lag, int equation, int variable) const;

    // Throws std::invalid_argument when sizes disagree or the rule names a
    // component or lag the model cannot read; with pools, also when a regime
    // has no residual vectors to draw shocks from.
    void check(bool pools = true) const;
};

// One step: the regime of the time whose lagged rows are at newest (lag 1)
// and row_step apart (lag d at newest + (d-1)*row_step), and into y (k
// values) that regime's intercept, its deterministic terms at `time` (the
// 1-based time of y: the trend counts on past the data) and its
// autoregression, summed in the estimators' order. Returns the regime
// (1-based); shocks are the caller's.
inline int threshold_var_step(const ThresholdVarModel& model, const double* newest,
                              std::ptrdiff_t row_step, double* y, int time = 0) {
    const int r = model.rule.regime([&model, newest, row_step, time](int component, int lag) {
        if (component > model.k) {
            return model.external_value(time - lag, component - model.k);
        }
        return newest[(lag - 1) * row_step + (component - 1)];
    });
    const VarRegime& regime = model.regimes[static_cast<std::size_t>(r - 1)];
    for (int c = 0; c < model.k; ++c) {
        y[c] = regime.intercept.empty() ? 0.0 : regime.intercept[static_cast<std::size_t>(c)];
    }
    if (!regime.deterministic.empty()) {
        double terms[kMaxDeterministic] = {};
        deterministic_values(model.include, time, model.trend_origin, terms);
        const int d = deterministic_count(model.include);
        for (int j = 0; j < d; ++j) {
            const double* row =
                regime.deterministic.data() + static_cast<std::ptrdiff_t>(j) * model.k;
            for (int c = 0; c < model.k; ++c) {
                y[c] += row[c] * terms[j];
            }
        }
    }
    add_autoregression(regime.phi.data(), model.p, model.k, newest, row_step, y);
    return r;
}

}  // namespace velmora
