// The residual bootstrap checked for being right, not only repeatable: the
// pool against residuals of a least-squares fit written out here, the draws
// reaching every residual, a series from fixed draws rebuilt row by row from
// the null model's equation; the p-value's formula; the search over feasible
// thresholds; and the tests of the number of regimes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "diagnostics_reference.hpp"
#include "inference/bootstrap.hpp"
#include "inference/linearity_test.hpp"
#include "inference/lr_sweep.hpp"
#include "inference/regime_tests.hpp"
#include "model_test_helpers.hpp"

namespace velmora {
namespace {

using inference::SeriesRows;
using inference::ThresholdRule;

using testing::ix;

// A VAR(1) whose own-lag coefficient is low, middle or high as component 1
// at lag 1 lies below g1, between g1 and g2, or above g2 (g1 = g2: two
// regimes; effect 0: linear), each with an intercept-free mean of zero.
SeriesRows regime_series(int n, int k, double g1, double g2, double effect, std::uint64_t seed) {
    return testing::switching_var1_rows(n, k, 0.15, seed, [g1, g2, effect](double z) {
        return z <= g1 ? 0.1 - effect : (z <= g2 ? 0.1 + effect : 0.1 - effect / 2);
    });
}

ThresholdRule one_rule(int regimes, int component = 1, int lag = 1) {
    ThresholdRule r;
    r.n_regime = regimes;
    r.component = {component, component};
    r.lag = {lag, lag};
    return r;
}

// Least squares by the normal equations and Gauss-Jordan elimination with
// partial pivoting: coefficients [regressor][equation] of y_t on
// y_{t-1..t-p} over the given times.
std::vector<std::vector<double>> plain_ols(const SeriesRows& s, const std::vector<int>& times,
                                           int p) {
    const int k = s.k;
    const int q = p * k;
    std::vector<std::vector<double>> a(ix(q), std::vector<double>(ix(q + k), 0.0));
    for (int t : times) {
        std::vector<double> x;
        for (int lag = 1; lag <= p; ++lag) {
            for (int c = 1; c <= k; ++c) {
                x.push_back(s.at(t - lag, c));
            }
        }
        for (int i = 0; i < q; ++i) {
            for (int j = 0; j < q; ++j) {
                a[ix(i)][ix(j)] += x[ix(i)] * x[ix(j)];
            }
            for (int c = 0; c < k; ++c) {
                a[ix(i)][ix(q + c)] += x[ix(i)] * s.at(t, c + 1);
            }
        }
    }
    testing::reference_gauss_jordan(a, ix(q));
    std::vector<std::vector<double>> beta(ix(q), std::vector<double>(ix(k)));
    for (int i = 0; i < q; ++i) {
        for (int c = 0; c < k; ++c) {
            beta[ix(i)][ix(c)] = a[ix(i)][ix(q + c)];
        }
    }
    return beta;
}

double fitted(const std::vector<std::vector<double>>& beta, const SeriesRows& s, int t, int p,
              int c) {
    double v = 0.0;
    for (int lag = 1; lag <= p; ++lag) {
        for (int j = 1; j <= s.k; ++j) {
            v += beta[ix((lag - 1) * s.k + j - 1)][ix(c - 1)] * s.at(t - lag, j);
        }
    }
    return v;
}

// The null's regime of time t in series s: component 1 at lag `lag` against
// the ascending thresholds.
int regime_at(const SeriesRows& s, int t, int lag, const std::vector<double>& thresholds) {
    int r = 0;
    for (double g : thresholds) {
        r += s.at(t - lag, 1) > g ? 1 : 0;
    }
    return r;
}

struct PlainNull {
    std::vector<std::vector<std::vector<double>>> beta;  // per regime
    std::vector<double> residuals;                       // time order
};

PlainNull plain_null(const SeriesRows& s, int p, int lag, const std::vector<double>& thresholds) {
    const int first = std::max(p, lag) + 1;
    const int regimes = static_cast<int>(thresholds.size()) + 1;
    std::vector<std::vector<int>> times(ix(regimes));
    for (int t = first; t <= s.n; ++t) {
        times[ix(regime_at(s, t, lag, thresholds))].push_back(t);
    }
    PlainNull null;
    for (const auto& list : times) {
        null.beta.push_back(plain_ols(s, list, p));
    }
    for (int t = first; t <= s.n; ++t) {
        const auto& beta = null.beta[ix(regime_at(s, t, lag, thresholds))];
        for (int c = 1; c <= s.k; ++c) {
            null.residuals.push_back(s.at(t, c) - fitted(beta, s, t, p, c));
        }
    }
    return null;
}

TEST(Bootstrap, PoolIsTheNullModelsResidualsMinusTheirMean) {
    const int k = 3;
    const int p = 2;
    const int lag = 3;
    const SeriesRows s = regime_series(260, k, -0.3, -0.3, 0.5, 5);
    struct Case {
        int regimes;
        std::vector<double> thresholds;
    };
    for (const Case& c : {Case{1, {}}, Case{2, {-0.3}}, Case{3, {-0.6, 0.4}}}) {
        SCOPED_TRACE(c.regimes);
        const ThresholdRule rule = one_rule(std::max(c.regimes, 2), 1, lag);
        const inference::ThresholdData data = inference::prepare_threshold_data(s, rule, p);
        std::array<double, 3> t{1e6, 1e6, 1e6};
        std::copy(c.thresholds.begin(), c.thresholds.end(), t.begin());
        const inference::BootstrapNull null =
            c.regimes == 1 ? inference::fit_linear_null(s, data)
                           : inference::fit_bootstrap_null(s, data, one_rule(c.regimes, 1, lag), t);
        ASSERT_TRUE(null.ok);
        EXPECT_EQ(null.first_time, std::max(p, lag) + 1);
        const PlainNull plain = plain_null(s, p, lag, c.thresholds);
        ASSERT_EQ(null.pool.size(), plain.residuals.size());
        const int rows = null.pool_rows();
        for (int j = 0; j < k; ++j) {
            double mean = 0.0;
            double pool_mean = 0.0;
            for (int i = 0; i < rows; ++i) {
                mean += plain.residuals[ix(i * k + j)];
                pool_mean += null.pool[ix(i * k + j)];
            }
            mean /= rows;
            EXPECT_NEAR(pool_mean / rows, 0.0, 1e-13);
            // A regime's residuals have mean zero only when it has an
            // intercept: here they need not, so the recentring matters.
            for (int i = 0; i < rows; ++i) {
                EXPECT_NEAR(null.pool[ix(i * k + j)], plain.residuals[ix(i * k + j)] - mean, 1e-10)
                    << "row " << i << " component " << j;
            }
        }
    }
}

TEST(Bootstrap, DrawsReachEveryResidualUniformlyAndDriveTheSeries) {
    inference::ReplicateRandom random(17, 3);
    const int rows = 37;
    const int draws = 7400;
    const std::vector<int> d = inference::draw_rows(random, rows, draws);
    std::vector<int> count(ix(rows), 0);
    for (int v : d) {
        ASSERT_GE(v, 0);
        ASSERT_LT(v, rows);
        ++count[ix(v)];
    }
    // 200 expected per row, standard deviation about 14.
    for (int i = 0; i < rows; ++i) {
        EXPECT_GT(count[ix(i)], 130) << "row " << i;
        EXPECT_LT(count[ix(i)], 270) << "row " << i;
    }

    // The series of a replicate takes exactly the rows its stream draws.
    const SeriesRows s = regime_series(120, 2, 0.0, 0.0, 0.4, 9);
    const inference::ThresholdData data = inference::prepare_threshold_data(s, one_rule(2), 1);
    const inference::BootstrapNull null = inference::fit_linear_null(s, data);
    ASSERT_TRUE(null.ok);
    inference::ReplicateRandom a(5, 11);
    inference::ReplicateRandom b(5, 11);
    SeriesRows by_stream;
    SeriesRows by_draws;
    inference::bootstrap_series(s, null, a, by_stream);
    inference::series_from_draws(
        s, null, inference::draw_rows(b, null.pool_rows(), s.n - null.first_time + 1), by_draws);
    EXPECT_EQ(by_stream.values, by_draws.values);
}

TEST(Bootstrap, SeriesFromFixedDrawsIsTheNullEquationPlusTheDrawnResiduals) {
    const int k = 2;
    const int p = 2;
    const int lag = 2;
    const SeriesRows s = regime_series(200, k, 0.2, 0.2, 0.5, 21);
    const std::vector<double> thresholds = {0.2};
    const inference::ThresholdData data =
        inference::prepare_threshold_data(s, one_rule(2, 1, lag), p);
    const inference::BootstrapNull null =
        inference::fit_bootstrap_null(s, data, one_rule(2, 1, lag), {0.2, 1e6, 1e6});
    ASSERT_TRUE(null.ok);
    const PlainNull plain = plain_null(s, p, lag, thresholds);
    const int rows = null.pool_rows();
    std::vector<double> mean(ix(k), 0.0);
    for (int i = 0; i < rows; ++i) {
        for (int c = 0; c < k; ++c) {
            mean[ix(c)] += plain.residuals[ix(i * k + c)] / rows;
        }
    }
    // The first and the last residual among the draws.
    std::vector<int> draws;
    for (int t = null.first_time; t <= s.n; ++t) {
        draws.push_back(t % 3 == 0 ? rows - 1 : (t * 7) % rows);
    }
    draws.front() = 0;
    SeriesRows star;
    inference::series_from_draws(s, null, draws, star);
    ASSERT_EQ(star.n, s.n);
    for (int t = 1; t < null.first_time; ++t) {
        for (int c = 1; c <= k; ++c) {
            EXPECT_EQ(star.at(t, c), s.at(t, c));
        }
    }
    int regime_two = 0;
    for (int t = null.first_time; t <= s.n; ++t) {
        // The regime from the bootstrap series' own lagged value.
        const int r = regime_at(star, t, lag, thresholds);
        regime_two += r;
        const int e = draws[ix(t - null.first_time)];
        for (int c = 1; c <= k; ++c) {
            const double expected = fitted(plain.beta[ix(r)], star, t, p, c) +
                                    plain.residuals[ix(e * k + c - 1)] - mean[ix(c - 1)];
            ASSERT_NEAR(star.at(t, c), expected, 1e-9) << "time " << t << " component " << c;
        }
    }
    EXPECT_GT(regime_two, 20);
    EXPECT_LT(regime_two, s.n - 20);
}

TEST(Bootstrap, PValueCountsTheDataAmongTheReplicates) {
    EXPECT_DOUBLE_EQ(inference::bootstrap_p_value(0, 199), 1.0 / 200.0);
    EXPECT_DOUBLE_EQ(inference::bootstrap_p_value(9, 199), 0.05);
    EXPECT_DOUBLE_EQ(inference::bootstrap_p_value(19, 19), 1.0);

    const SeriesRows s = regime_series(150, 2, 0.0, 0.0, 0.2, 4);
    inference::LinearityTestOptions options;
    options.replicates = 39;
    options.seed = 8;
    const inference::LinearityTest t =
        inference::test_linearity(s, one_rule(2), {0.0, 1e6, 1e6}, 1, options);
    int fitted = 0;
    int above = 0;
    for (double lr : t.bootstrap) {
        if (!std::isnan(lr)) {
            ++fitted;
            above += lr >= t.lr ? 1 : 0;
        }
    }
    EXPECT_EQ(t.replicates, fitted);
    EXPECT_EQ(t.exceedances, above);
    EXPECT_DOUBLE_EQ(t.p_value, (1.0 + above) / (1.0 + fitted));
}

TEST(Bootstrap, SearchFindsFeasibleThresholdsWhereTheStartHasNone) {
    const SeriesRows s = regime_series(240, 2, -0.5, 0.5, 0.4, 12);
    const ThresholdRule rule = one_rule(4);
    const inference::ThresholdData data = inference::prepare_threshold_data(s, rule, 1);
    const int min_count = 30;
    // Every time below the first threshold: the other regimes are empty and
    // no sweep of one threshold, the others fixed, can fill three of them.
    const double low = *std::min_element(data.z1.begin(), data.z1.end()) - 1.0;
    const std::array<double, 3> start{low, low, low};
    EXPECT_FALSE(
        std::isfinite(inference::minimise_thresholds(data, rule, start, min_count).log_det));
    const inference::SweepOptimum found =
        inference::minimise_or_search(data, rule, start, min_count);
    ASSERT_TRUE(std::isfinite(found.log_det));
    std::array<int, 4> size{};
    for (double z : data.z1) {
        ++size[ix(inference::regime_of(rule, found.thresholds, z, 0.0) - 1)];
    }
    for (int r = 0; r < 4; ++r) {
        EXPECT_GE(size[ix(r)], min_count) << "regime " << r + 1;
    }
    EXPECT_DOUBLE_EQ(found.log_det, inference::log_det_at(data, rule, found.thresholds, min_count));
}

// The least ln det Sigma of three regimes over every pair of candidate
// thresholds, each regime holding min_count times.
double full_grid_three(const inference::ThresholdData& data, int min_count) {
    const ThresholdRule rule = one_rule(3);
    std::vector<double> z = data.z1;
    std::sort(z.begin(), z.end());
    z.erase(std::unique(z.begin(), z.end()), z.end());
    double best = inference::kInfeasible;
    for (std::size_t i = 0; i < z.size(); ++i) {
        for (std::size_t j = i + 1; j < z.size(); ++j) {
            best = std::min(best, inference::log_det_at(data, rule, {z[i], z[j], 1e6}, min_count));
        }
    }
    return best;
}

TEST(RegimeTests, ConditionalSearchReachesTheFullGridOnAClearThreeRegimeSeries) {
    const SeriesRows s = regime_series(220, 2, -0.4, 0.5, 0.6, 31);
    const inference::ThresholdData data = inference::prepare_threshold_data(s, one_rule(2), 1);
    const int min_count = 20;
    const inference::RegimeSequence seq = inference::fit_regime_sequence(data, 4, min_count);
    const double grid = full_grid_three(data, min_count);
    EXPECT_NEAR(seq.log_det[3], grid, 1e-9);
    // More regimes never fit worse, and each model is what its thresholds give.
    EXPECT_LE(seq.log_det[2], seq.log_det[1]);
    EXPECT_LE(seq.log_det[3], seq.log_det[2] + 1e-12);
    EXPECT_LE(seq.log_det[4], seq.log_det[3] + 1e-12);
    for (int n = 2; n <= 4; ++n) {
        EXPECT_DOUBLE_EQ(
            seq.log_det[ix(n)],
            inference::log_det_at(data, one_rule(n), seq.thresholds[ix(n)], min_count));
    }
}

TEST(RegimeTests, SelectTwoRegimesOnAClearTwoRegimeSeriesForAnyThreadCount) {
    const SeriesRows s = regime_series(300, 2, 0.0, 0.0, 0.7, 44);
    inference::RegimeTestOptions options;
    options.replicates = 39;
    options.seed = 6;
    options.threads = 1;
    const inference::RegimeTests one = inference::test_regimes(s, 1, 1, 1, options);
    options.threads = 2;
    const inference::RegimeTests two = inference::test_regimes(s, 1, 1, 1, options);
    ASSERT_GE(one.tests.size(), 2U);
    EXPECT_EQ(one.tests[0].null_regimes, 1);
    EXPECT_EQ(one.tests[0].alternative_regimes, 2);
    EXPECT_DOUBLE_EQ(one.tests[0].p_value, 1.0 / 40.0);  // none reaches a clear threshold's LR
    EXPECT_EQ(one.tests[1].null_regimes, 2);
    EXPECT_GT(one.tests[1].p_value, 0.05);
    EXPECT_EQ(one.selected_regimes, 2);
    EXPECT_EQ(one.tests[0].replicates, 39);
    ASSERT_EQ(one.tests.size(), two.tests.size());
    for (std::size_t i = 0; i < one.tests.size(); ++i) {
        EXPECT_EQ(one.tests[i].lr, two.tests[i].lr);
        EXPECT_EQ(one.tests[i].bootstrap, two.tests[i].bootstrap);
        EXPECT_EQ(one.tests[i].p_value, two.tests[i].p_value);
    }

    // The 1-vs-2 test is the linearity test of a two-regime model with the
    // same seed: the same statistic from the same replicates.
    inference::LinearityTestOptions linear;
    linear.replicates = 39;
    linear.seed = 6;
    const inference::LinearityTest lt =
        inference::test_linearity(s, one_rule(2), one.tests[0].alternative_thresholds, 1, linear);
    EXPECT_DOUBLE_EQ(lt.lr, one.tests[0].lr);
    EXPECT_EQ(lt.bootstrap, one.tests[0].bootstrap);
    EXPECT_EQ(lt.p_value, one.tests[0].p_value);
}

TEST(RegimeTests, LinearSeriesStopsAtTheFirstTest) {
    const SeriesRows s = regime_series(250, 2, 0.0, 0.0, 0.0, 52);
    inference::RegimeTestOptions options;
    options.replicates = 49;
    options.seed = 1;
    options.level = 0.01;  // a linear series passes it but for one time in a hundred
    const inference::RegimeTests t = inference::test_regimes(s, 1, 1, 1, options);
    ASSERT_EQ(t.tests.size(), 1U);
    EXPECT_GT(t.tests[0].p_value, 0.01);
    EXPECT_EQ(t.selected_regimes, 1);
    EXPECT_EQ(t.tests[0].failed, 0);
}

// Both components' own lag switched by the quadrant of (y1[t-1], y2[t-2])
// against (0, 0); effect 0 leaves only y1[t-1] switching them.
SeriesRows quadrant_series(int n, double effect, std::uint64_t seed) {
    std::mt19937_64 gen(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    SeriesRows s;
    s.n = n;
    s.k = 2;
    s.values.assign(ix(n) * 2, 0.0);
    for (int t = 3; t <= n; ++t) {
        const bool a = s.at(t - 1, 1) > 0.0;
        const bool b = s.at(t - 2, 2) > 0.0;
        const double own = (a ? 0.4 : -0.3) + (a == b ? effect : -effect);
        for (int c = 1; c <= 2; ++c) {
            s.values[ix(t - 1) * 2 + ix(c - 1)] = own * s.at(t - 1, c) + normal(gen);
        }
    }
    return s;
}

ThresholdRule quadrant_rule() {
    ThresholdRule r;
    r.variables = 2;
    r.n_regime = 4;
    r.component = {1, 2};
    r.lag = {1, 2};
    return r;
}

TEST(RegimeTests, NestedOneVariableModelIsTheBestPlainSplitOnTheTwoVariableTimes) {
    const SeriesRows s = quadrant_series(160, 0.0, 3);
    const ThresholdRule rule = quadrant_rule();
    const int p = 1;
    const inference::ThresholdData data = inference::prepare_threshold_data(s, rule, p);
    // Large enough to bind: the best split of all lies outside it.
    const int min_count = 70;
    const inference::OneVariableFit fit =
        inference::best_nested_one_variable(data, rule, min_count);
    ASSERT_TRUE(std::isfinite(fit.log_det));
    // Every split of either variable on the times 3..n, by plain least squares.
    const int first = 3;
    const int T = s.n - first + 1;
    ASSERT_EQ(data.count(), T);
    double best = std::numeric_limits<double>::infinity();
    int best_variable = -1;
    for (int v = 0; v < 2; ++v) {
        const int lag = v == 0 ? 1 : 2;
        const int component = v + 1;
        for (int cut = first; cut <= s.n; ++cut) {
            const double g = s.at(cut - lag, component);
            std::vector<std::vector<int>> times(2);
            for (int t = first; t <= s.n; ++t) {
                times[s.at(t - lag, component) > g ? 1 : 0].push_back(t);
            }
            if (static_cast<int>(times[0].size()) < min_count ||
                static_cast<int>(times[1].size()) < min_count) {
                continue;
            }
            double e[2][2] = {{0.0, 0.0}, {0.0, 0.0}};
            for (const auto& list : times) {
                const auto beta = plain_ols(s, list, p);
                for (int t : list) {
                    const double r1 = s.at(t, 1) - fitted(beta, s, t, p, 1);
                    const double r2 = s.at(t, 2) - fitted(beta, s, t, p, 2);
                    e[0][0] += r1 * r1;
                    e[0][1] += r1 * r2;
                    e[1][1] += r2 * r2;
                }
            }
            const double ld = std::log((e[0][0] * e[1][1] - e[0][1] * e[0][1]) / (1.0 * T * T));
            if (ld < best) {
                best = ld;
                best_variable = v;
            }
        }
    }
    EXPECT_NEAR(fit.log_det, best, 1e-9);
    EXPECT_EQ(fit.variable, best_variable);
    EXPECT_EQ(fit.variable, 0);  // the variable that switches the series
}

TEST(RegimeTests, OneVariableAgainstTwoRejectsOnlyWhenTheSecondVariableMatters) {
    inference::RegimeTestOptions options;
    options.replicates = 19;
    options.seed = 4;
    options.model.min_obs_per_regime = 40;
    const std::array<double, 3> start{0.0, 0.0, 0.0};
    const inference::RegimeTest clear = inference::test_one_against_two_variables(
        quadrant_series(400, 0.5, 8), quadrant_rule(), start, 1, options);
    EXPECT_EQ(clear.null_regimes, 2);
    EXPECT_EQ(clear.alternative_regimes, 4);
    EXPECT_EQ(clear.alternative_model, "4 regimes on y1 at lag 1 and y2 at lag 2 (type_model 0)");
    EXPECT_DOUBLE_EQ(clear.p_value, 1.0 / 20.0);
    EXPECT_EQ(clear.failed, 0);
    options.threads = 2;
    const inference::RegimeTest again = inference::test_one_against_two_variables(
        quadrant_series(400, 0.5, 8), quadrant_rule(), start, 1, options);
    EXPECT_EQ(again.bootstrap, clear.bootstrap);

    const inference::RegimeTest none = inference::test_one_against_two_variables(
        quadrant_series(400, 0.0, 9), quadrant_rule(), start, 1, options);
    EXPECT_EQ(none.null_model, "2 regimes on y1 at lag 1");
    EXPECT_GT(none.p_value, 0.05);
}

}  // namespace
}  // namespace velmora
