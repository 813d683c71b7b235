// The threshold-VAR simulator: its recursion against a hand computation, its
// regime rule against the estimators', its shocks against their covariance,
// and reproducibility from the seed.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <vector>

#include "simulate/known_model.hpp"
#include "test_helpers.hpp"

namespace velmora {
namespace {

// Two components, threshold on component 2 at lag 1, two regimes of order 1.
ThresholdVar two_regime_model() {
    ThresholdVar m = one_variable_model(2, 2, 1, {0.0});
    m.regimes.resize(2);
    m.regimes[0].coefficients = {0.5, 0.0, 0.1, -0.3};
    m.regimes[1].coefficients = {-0.4, 0.2, 0.0, 0.6};
    m.regimes[1].intercept = {1.0, -1.0};
    return m;
}

TEST(Simulate, GivenShocksFollowTheRecursionAndTheRegimeRule) {
    const ThresholdVar model = two_regime_model();
    SimulationOptions options;
    options.n_obs = 4;
    options.burn_in = 1;
    const std::vector<double> shocks = {1.0, 2.0, 0.5, -3.0, 0.25, 0.0, -1.0, 1.0, 2.0, 2.0};
    const SimulatedSeries s = simulate_with_shocks(model, options, shocks);

    // By hand: y0 = e0 (zero history, z = 0 is regime 1 since 0 <= 0).
    std::vector<std::array<double, 2>> y(5);
    std::vector<int> regime(5);
    y[0] = {1.0, 2.0};
    regime[0] = 1;
    for (int t = 1; t < 5; ++t) {
        const double z = y[static_cast<size_t>(t - 1)][1];
        const int r = z <= 0.0 ? 1 : 2;
        const auto& a = model.regimes[static_cast<size_t>(r - 1)].coefficients;
        const auto& p = y[static_cast<size_t>(t - 1)];
        const double c0 = r == 2 ? 1.0 : 0.0;
        const double c1 = r == 2 ? -1.0 : 0.0;
        y[static_cast<size_t>(t)] = {c0 + a[0] * p[0] + a[1] * p[1] + shocks[2 * t],
                                     c1 + a[2] * p[0] + a[3] * p[1] + shocks[2 * t + 1]};
        regime[static_cast<size_t>(t)] = r;
    }
    ASSERT_EQ(s.n_obs, 4);
    for (int t = 1; t <= 4; ++t) {
        EXPECT_EQ(s.at(t, 1), y[static_cast<size_t>(t)][0]) << t;
        EXPECT_EQ(s.at(t, 2), y[static_cast<size_t>(t)][1]) << t;
        EXPECT_EQ(s.regime[static_cast<size_t>(t - 1)], regime[static_cast<size_t>(t)]) << t;
    }
}

TEST(Simulate, TwoVariableRuleMergesQuadrantsLikeTheEstimator) {
    ThresholdRule rule;
    rule.variables = 2;
    rule.component1 = 1;
    rule.component2 = 2;
    rule.threshold1 = 0.0;
    rule.threshold2 = 0.0;
    // (a, b) per quadrant: a > t1 & b <= t2, a > t1 & b > t2, a <= t1 & b <= t2, else.
    const double points[4][2] = {{1, -1}, {1, 1}, {-1, -1}, {-1, 1}};
    const int expected[4][4] = {{1, 2, 3, 4}, {1, 1, 2, 3}, {1, 2, 3, 3}, {3, 1, 3, 2}};
    for (int type = 0; type < 4; ++type) {
        rule.type_model = type;
        for (int q = 0; q < 4; ++q) {
            auto history = [&](int, int c) { return points[q][c - 1]; };
            EXPECT_EQ(regime_of(rule, history), expected[type][q]) << type << " " << q;
        }
    }
    // A value equal to a threshold falls on the lower side.
    auto on_threshold = [](int, int) { return 0.0; };
    rule.type_model = 0;
    EXPECT_EQ(regime_of(rule, on_threshold), 3);
}

TEST(Simulate, GaussianShocksHaveTheGivenCovarianceAndReplayFromTheSeed) {
    ThresholdVar model;
    model.n_comp = 2;
    model.rule.thresholds = {0.0};
    model.regimes.resize(2);
    for (RegimeVar& v : model.regimes) {
        v.order = 0;
        v.shock_covariance = {4.0, 1.2, 1.2, 1.0};
    }
    SimulationOptions options;
    options.n_obs = 40000;
    options.seed = 7;
    const SimulatedSeries s = simulate(model, options);
    double m0 = 0, m1 = 0, s00 = 0, s01 = 0, s11 = 0;
    for (int t = 1; t <= s.n_obs; ++t) {
        m0 += s.at(t, 1);
        m1 += s.at(t, 2);
        s00 += s.at(t, 1) * s.at(t, 1);
        s01 += s.at(t, 1) * s.at(t, 2);
        s11 += s.at(t, 2) * s.at(t, 2);
    }
    const double n = s.n_obs;
    // Standard errors of these moments are about 0.01 to 0.03 at this size.
    EXPECT_NEAR(m0 / n, 0.0, 0.05);
    EXPECT_NEAR(m1 / n, 0.0, 0.03);
    EXPECT_NEAR(s00 / n, 4.0, 0.15);
    EXPECT_NEAR(s01 / n, 1.2, 0.06);
    EXPECT_NEAR(s11 / n, 1.0, 0.04);

    const SimulatedSeries again = simulate(model, options);
    EXPECT_EQ(again.values, s.values);
    options.seed = 8;
    EXPECT_NE(simulate(model, options).values, s.values);
}

TEST(Simulate, WrittenSeriesReadsBackExactlyAndBadModelsAreRefused) {
    SimulationOptions options;
    options.n_obs = 50;
    const SimulatedSeries s = simulate(two_regime_model(), options);
    testing::TempDir dir;
    s.write(dir.path() / "series.txt");
    std::ifstream in(dir.path() / "series.txt");
    for (int t = 1; t <= s.n_obs; ++t) {
        for (int c = 1; c <= 2; ++c) {
            double v = 0;
            in >> v;
            EXPECT_EQ(v, s.at(t, c));
        }
    }

    ThresholdVar bad = two_regime_model();
    bad.regimes.pop_back();
    EXPECT_THROW(simulate(bad, options), std::invalid_argument);
    bad = two_regime_model();
    bad.regimes[0].shock_covariance = {1.0, 2.0, 2.0, 1.0};
    EXPECT_THROW(simulate(bad, options), std::invalid_argument);
    bad = two_regime_model();
    bad.rule.thresholds = {1.0, 0.0};
    bad.regimes.resize(3, bad.regimes[0]);
    EXPECT_THROW(simulate(bad, options), std::invalid_argument);
}

}  // namespace
}  // namespace velmora
