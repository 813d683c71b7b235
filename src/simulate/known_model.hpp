#pragma once
// Series drawn from a known threshold VAR: the ground truth for the quality,
// linearity-test and forecast benchmarks, and for tests that must recover a
// model. Everything random comes from an engine the caller seeds, so a series
// is a pure function of its model, its options and its seed.
//
// The regime rule is the one the estimators use: with one threshold variable
// z = y[t - lag][component], regime 1 + #{thresholds below z} (a value equal
// to a threshold falls in the lower regime); with two, the four quadrants of
// (z1, z2) against (threshold1, threshold2), merged into three regimes by
// type_model exactly as the two-threshold estimator merges them.

#include <cstdint>
#include <filesystem>
#include <random>
#include <span>
#include <vector>

#include "model/regime_rule.hpp"
#include "numeric/arrays.hpp"

namespace velmora {

struct ThresholdRule {
    int variables = 1;  // 1 or 2
    // One threshold variable: component (1-based) at lag, ascending
    // thresholds; the model has thresholds.size() + 1 regimes (2..4).
    int component = 1;
    int lag = 1;
    std::vector<double> thresholds;
    // Two threshold variables: regimes 4 (type_model 0) or 3 (1..3).
    int component1 = 1;
    int lag1 = 1;
    double threshold1 = 0.0;
    int component2 = 2;
    int lag2 = 1;
    double threshold2 = 0.0;
    int type_model = 0;

    int regimes() const;
    int max_lag() const;
};

// y_t = intercept + sum_{l=1..order} A_l y_{t-l} + e_t within one regime.
struct RegimeVar {
    int order = 1;
    // A_l[i][j] (row i, column j, both 0-based) at ((l-1)*k + i)*k + j.
    std::vector<double> coefficients;
    std::vector<double> intercept;  // k entries, or empty for none
    // k x k covariance of the Gaussian shocks (row-major); empty means the
    // identity. Ignored when the caller supplies the shocks.
    std::vector<double> shock_covariance;
};

struct ThresholdVar {
    int n_comp = 2;
    ThresholdRule rule;
    std::vector<RegimeVar> regimes;  // rule.regimes() entries

    // Throws std::invalid_argument naming the first inconsistency.
    void validate() const;
};

struct SimulationOptions {
    int n_obs = 1000;   // rows kept
    int burn_in = 200;  // rows drawn and dropped first, from a zero history
    std::uint64_t seed = 1;
};

struct SimulatedSeries {
    int n_obs = 0;
    int n_comp = 0;
    std::vector<double> values;  // row-major: time t (0-based) at t*n_comp + c
    std::vector<int> regime;     // regime (1-based) that generated each row

    double at(int t, int c) const {  // 1-based time and component
        return values[static_cast<std::size_t>(t - 1) * static_cast<std::size_t>(n_comp) +
                      static_cast<std::size_t>(c - 1)];
    }
    // Rows 1..n_obs, columns 1..n_comp, as the estimators take a series.
    double_matrix to_matrix() const;
    // One row per line, components separated by a space, "%.17g": a course
    // file that reads back bit for bit.
    void write(const std::filesystem::path& path) const;
};

// A model of n_comp components whose regimes are switched by one component
// at a lag against ascending thresholds; its thresholds.size() + 1 regimes
// are the caller's to add.
ThresholdVar one_variable_model(int n_comp, int component, int lag, std::vector<double> thresholds);

// Regime (1-based) of the time whose lagged values `history` returns:
// history(lag, component) is y[t - lag][component], both 1-based.
template <class History>
int regime_of(const ThresholdRule& rule, History&& history);

// Draws burn_in + n_obs rows with Gaussian shocks from a std::mt19937_64
// seeded with options.seed, and keeps the last n_obs.
SimulatedSeries simulate(const ThresholdVar& model, const SimulationOptions& options);

// The same with the caller's shocks: (burn_in + n_obs) x n_comp values,
// row-major, added as they are. Draws no random numbers.
SimulatedSeries simulate_with_shocks(const ThresholdVar& model, const SimulationOptions& options,
                                     std::span<const double> shocks);

// One standard normal from a 64-bit engine (polar method on 53-bit uniforms),
// the same on every platform for the same engine state.
double standard_normal(std::mt19937_64& engine);

template <class History>
int regime_of(const ThresholdRule& rule, History&& history) {
    if (rule.variables == 1) {
        return regime_below(rule.thresholds.data(), static_cast<int>(rule.thresholds.size()),
                            history(rule.lag, rule.component));
    }
    return quadrant_regime(
        rule.regimes(), rule.type_model,
        quadrant_of(history(rule.lag1, rule.component1), history(rule.lag2, rule.component2),
                    rule.threshold1, rule.threshold2));
}

}  // namespace velmora
