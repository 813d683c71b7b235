#pragma once
// Which regime a time is in, from its lagged threshold variable(s) and the
// thresholds. The estimators, the threshold sweeps, the simulators and the
// forecasts all assign regimes through these functions, so that a model
// simulated, swept or forecast splits the times exactly as it was estimated.
//
// A value equal to a threshold falls on the lower side. With one threshold
// variable the regime is 1 + the number of thresholds below the value; the
// one-threshold estimator tests the four intervals between its three slots
// (unused slots holding 1000000), which is the same count whenever the
// thresholds ascend, as they do for every value below a million (larger ones
// are refused where a series is read). With two, the four quadrants of the
// two values against their thresholds, kept as four regimes or merged into
// three by type_model.

#include <array>
#include <cstddef>

namespace velmora {

struct ModelStructure;

// Quadrant 0..3 of (a, b) against (t1, t2): (a above, b at or below),
// (a above, b above), (a at or below, b at or below), (a at or below, b above).
inline int quadrant_of(double a, double b, double t1, double t2) noexcept {
    return a > t1 ? (b <= t2 ? 0 : 1) : (b <= t2 ? 2 : 3);
}

// Regime (1-based) of a quadrant: four regimes, or three for type_model 1..3.
inline int quadrant_regime(int n_regime, int type_model, int quadrant) noexcept {
    static constexpr int kQuadrantRegime[4][4] = {
        {1, 2, 3, 4},
        {1, 1, 2, 3},
        {1, 2, 3, 3},
        {3, 1, 3, 2},
    };
    return kQuadrantRegime[n_regime == 4 ? 0 : type_model][quadrant];
}

// One threshold variable: 1 + the number of the first `count` thresholds
// below z.
inline int regime_below(const double* thresholds, int count, double z) noexcept {
    int regime = 1;
    for (int i = 0; i < count; ++i) {
        if (thresholds[i] < z) {
            ++regime;
        }
    }
    return regime;
}

// A complete rule: the threshold variable(s), their lags and thresholds.
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
    // back. With one threshold variable only the n_regime - 1 thresholds in
    // use count, so a value above the estimator's unused slots (one million)
    // stays in the top regime.
    template <class Lagged>
    int regime(const Lagged& value) const {
        if (threshold_variables == 1) {
            return regime_below(thresholds.data(), n_regime - 1, value(component, lag));
        }
        return quadrant_regime(n_regime, type_model,
                               quadrant_of(value(component, lag), value(component2, lag2),
                                           thresholds[0], thresholds[1]));
    }
};

// The rule of a structure as the estimator used it (positions replaced) with
// its thresholds as the estimator sorted them (two variables: t1, t2).
RegimeRule regime_rule(const ModelStructure& used, const std::array<double, 3>& thresholds);

}  // namespace velmora
