// Forecasts, hold-out errors and impulse responses of threshold VARs built by
// hand, checked against closed forms and plain reference loops.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "forecast/analysis.hpp"
#include "forecast/fitted_var.hpp"
#include "forecast/forecast.hpp"
#include "forecast/forecast_paths.hpp"
#include "forecast/girf.hpp"
#include "forecast/holdout.hpp"
#include "forecast/quantile.hpp"
#include "inference/linear_var.hpp"
#include "model/estimate.hpp"
#include "model/fitted_model.hpp"
#include "output/analysis_text.hpp"
#include "simulate/known_model.hpp"

namespace velmora {
namespace {

std::size_t at(int i) {
    return static_cast<std::size_t>(i);
}

// Coefficients in the estimators' layout from A_l[equation][variable].
std::vector<double> phi_from(int k, const std::vector<std::vector<std::vector<double>>>& a) {
    const int p = static_cast<int>(a.size());
    std::vector<double> phi(at(p * k * k));
    for (int l = 0; l < p; ++l) {
        for (int e = 0; e < k; ++e) {
            for (int v = 0; v < k; ++v) {
                phi[at((l * k + v) * k + e)] = a[at(l)][at(e)][at(v)];
            }
        }
    }
    return phi;
}

// Deterministic residual pool whose rows are well spread and correlated.
std::vector<double> pool(int rows, int k, double scale, double shift) {
    std::vector<double> r;
    for (int i = 0; i < rows; ++i) {
        const double u = std::sin(1.7 * i + shift);
        for (int c = 0; c < k; ++c) {
            r.push_back(scale * (u + 0.5 * std::cos(2.3 * i * (c + 1) + shift)));
        }
    }
    return r;
}

std::vector<double> pool_covariance(const std::vector<double>& res, int k) {
    const int n = static_cast<int>(res.size()) / k;
    std::vector<double> mean(at(k), 0.0), cov(at(k * k), 0.0);
    for (int i = 0; i < n; ++i) {
        for (int c = 0; c < k; ++c) {
            mean[at(c)] += res[at(i * k + c)] / n;
        }
    }
    for (int i = 0; i < n; ++i) {
        for (int a = 0; a < k; ++a) {
            for (int b = 0; b < k; ++b) {
                cov[at(a * k + b)] +=
                    (res[at(i * k + a)] - mean[at(a)]) * (res[at(i * k + b)] - mean[at(b)]) / n;
            }
        }
    }
    return cov;
}

// Two components, order 2, component 1 at lag 1 against a threshold of 0.
ThresholdVarModel two_regime_model() {
    ThresholdVarModel m;
    m.k = 2;
    m.p = 2;
    m.rule.threshold_variables = 1;
    m.rule.n_regime = 2;
    m.rule.component = 1;
    m.rule.lag = 1;
    m.rule.thresholds = {0.0, 1e6, 1e6};
    m.regimes.resize(2);
    m.regimes[0].phi = phi_from(2, {{{0.5, 0.1}, {0.2, 0.3}}, {{-0.2, 0.0}, {0.1, 0.1}}});
    m.regimes[1].phi = phi_from(2, {{{-0.4, 0.2}, {0.0, 0.6}}, {{0.1, -0.1}, {0.0, 0.2}}});
    m.regimes[0].residuals = pool(300, 2, 0.6, 0.0);
    m.regimes[1].residuals = pool(250, 2, 1.1, 0.4);
    for (VarRegime& r : m.regimes) {
        r.covariance = pool_covariance(r.residuals, 2);
    }
    return m;
}

// A series simulated from the model itself, rows 1..n; the model's regime
// times become those of the series.
double_matrix series_from(ThresholdVarModel& m, int n, std::uint64_t seed) {
    double_matrix s(1, n, 1, m.k);
    const int start = m.history_rows();
    std::vector<double> history(at(start * m.k), 0.1);
    PathSimulator sim(m, n - start);
    std::vector<double> out(at((n - start) * m.k));
    RandomStream stream(seed);
    sim.run(history, &stream, nullptr, out.data());
    for (int t = 1; t <= n; ++t) {
        for (int c = 1; c <= m.k; ++c) {
            s[t][c] = t <= start ? 0.1 : out[at((t - start - 1) * m.k + c - 1)];
        }
    }
    for (VarRegime& r : m.regimes) {
        r.times.clear();
    }
    for (int t = start + 1; t <= n; ++t) {
        const int r = m.rule.regime([&](int c, int d) { return s[t - d][c]; });
        m.regimes[at(r - 1)].times.push_back(t);
    }
    return s;
}

inference::LinearVar linear_var(const double_matrix& s, int rows, int k, int p) {
    ModelProblem problem;
    problem.serie_matrix = &s;
    problem.n_oss = rows;
    problem.n_comp = k;
    problem.model.min_obs_per_regime = 2;
    problem.model.max_order = p;
    return inference::fit_linear_var(problem);
}

TEST(ForecastQuantile, InterpolatesBetweenOrderStatistics) {
    const std::vector<double> v = {1.0, 2.0, 3.0, 4.0, 10.0};
    EXPECT_DOUBLE_EQ(sorted_quantile(v, 0.5), 3.0);
    EXPECT_DOUBLE_EQ(sorted_quantile(v, 0.05), 1.2);  // position 0.2
    EXPECT_DOUBLE_EQ(sorted_quantile(v, 0.95), 8.8);  // position 3.8
    EXPECT_DOUBLE_EQ(sorted_quantile(v, 1.0), 10.0);
    EXPECT_DOUBLE_EQ(sorted_quantile(std::vector<double>{7.0}, 0.05), 7.0);
}

TEST(ForecastRegimeRule, OneVariableLowerSideIncludesTheThreshold) {
    RegimeRule rule;
    rule.n_regime = 3;
    rule.component = 2;
    rule.lag = 3;
    rule.thresholds = {-1.0, 0.5, 1e6};
    auto at_value = [&](double z) {
        return rule.regime([z](int c, int d) { return c == 2 && d == 3 ? z : 99.0; });
    };
    EXPECT_EQ(at_value(-1.0), 1);
    EXPECT_EQ(at_value(-0.999), 2);
    EXPECT_EQ(at_value(0.5), 2);
    EXPECT_EQ(at_value(0.6), 3);
    EXPECT_EQ(at_value(2e6), 3);  // above the unused threshold: the top regime
}

TEST(ForecastRegimeRule, TwoVariablesMergeQuadrantsByType) {
    RegimeRule rule;
    rule.threshold_variables = 2;
    rule.component = 1;
    rule.lag = 1;
    rule.component2 = 2;
    rule.lag2 = 2;
    rule.thresholds = {0.0, 1.0, 0.0};
    // Quadrants in the estimator's order: (a>t1,b<=t2), (a>t1,b>t2),
    // (a<=t1,b<=t2), (a<=t1,b>t2).
    const double a_of[4] = {0.5, 0.5, 0.0, -0.5};
    const double b_of[4] = {1.0, 1.5, 0.2, 3.0};
    const int expected[4][4] = {{1, 2, 3, 4}, {1, 1, 2, 3}, {1, 2, 3, 3}, {3, 1, 3, 2}};
    for (int type = 0; type < 4; ++type) {
        rule.type_model = type;
        rule.n_regime = type == 0 ? 4 : 3;
        for (int q = 0; q < 4; ++q) {
            const int r = rule.regime([&](int c, int d) {
                return c == 1 && d == 1 ? a_of[q] : (c == 2 && d == 2 ? b_of[q] : 99.0);
            });
            EXPECT_EQ(r, expected[type][q]) << "type " << type << " quadrant " << q;
        }
    }
}

TEST(ForecastRegimeRule, AgreesWithTheSimulatorsRuleEverywhere) {
    // Values on and around the thresholds, for every rule shape.
    const double grid[] = {-2.0, -0.5, -0.25, 0.0, 1e-12, 0.3, 0.7, 0.7000001, 3.0};
    for (int type = 0; type < 4; ++type) {
        RegimeRule mine;
        mine.threshold_variables = 2;
        mine.n_regime = type == 0 ? 4 : 3;
        mine.type_model = type;
        mine.component = 2;
        mine.lag = 2;
        mine.component2 = 1;
        mine.lag2 = 1;
        mine.thresholds = {0.0, 0.7, 0.0};
        ThresholdRule theirs;
        theirs.variables = 2;
        theirs.type_model = type;
        theirs.component1 = 2;
        theirs.lag1 = 2;
        theirs.threshold1 = 0.0;
        theirs.component2 = 1;
        theirs.lag2 = 1;
        theirs.threshold2 = 0.7;
        for (double a : grid) {
            for (double b : grid) {
                // value(component, lag) here; history(lag, component) there.
                auto value = [&](int c, int d) {
                    return c == 2 && d == 2 ? a : (c == 1 && d == 1 ? b : 0.0);
                };
                EXPECT_EQ(mine.regime(value),
                          regime_of(theirs, [&](int d, int c) { return value(c, d); }));
            }
        }
    }
    RegimeRule one;
    one.n_regime = 4;
    one.component = 1;
    one.lag = 3;
    one.thresholds = {-0.5, 0.0, 0.7};
    ThresholdRule theirs;
    theirs.component = 1;
    theirs.lag = 3;
    theirs.thresholds = {-0.5, 0.0, 0.7};
    for (double z : grid) {
        auto value = [z](int, int) { return z; };
        EXPECT_EQ(one.regime(value), regime_of(theirs, [z](int, int) { return z; }));
    }
}

TEST(ForecastAnalysis, JsonTablesAreIndexedStepThenComponent) {
    ThresholdVarModel m = two_regime_model();
    const double_matrix s = series_from(m, 300, 12);
    AnalysisRequest request;
    request.forecast = 3;
    request.paths = 40;
    request.holdout = 20;
    request.girf = 2;
    request.girf_histories = 5;
    request.girf_repetitions = 2;
    AnalysisSettings settings;
    settings.seed = 7;
    const AnalysisResult r = run_analysis(m, s, 300, request, settings);
    nlohmann::json j;
    add_analysis_json(j, r);
    ASSERT_EQ(j["forecast"]["mean"].size(), 3u);
    ASSERT_EQ(j["forecast"]["q95"][0].size(), 2u);
    EXPECT_EQ(j["forecast"]["origin"], 280);
    // Step 1 of the forecast starts after the rows fitted on, not after the
    // rows held out.
    const std::vector<double> history = series_history(s, 2, 280, 2);
    PathSimulator sim(m, 1);
    std::vector<double> plain(2);
    sim.run(history, nullptr, nullptr, plain.data());
    EXPECT_EQ(j["forecast"]["no_shock"][0][1].get<double>(), plain[1]);
    EXPECT_EQ(j["holdout"]["horizon"], 3);
    EXPECT_EQ(j["holdout"]["linear"]["rmse"].size(), 3u);
    EXPECT_EQ(j["girf"]["regimes"][1]["mean"].size(), 2u);     // shocks
    EXPECT_EQ(j["girf"]["regimes"][1]["mean"][0].size(), 3u);  // horizons 0..2
    EXPECT_FALSE(format_analysis(r).empty());
}

TEST(ForecastModel, RegimesOfAStructureAreTheEstimatorsAtTheLargestOrder) {
    // A simulated series with a clear threshold; every structure shape.
    ThresholdVarModel truth = two_regime_model();
    const double_matrix s = series_from(truth, 600, 31);
    ModelProblem problem;
    problem.serie_matrix = &s;
    problem.n_oss = 600;
    problem.n_comp = 2;
    problem.model.min_obs_per_regime = 20;
    problem.model.max_order = 2;
    std::vector<ModelStructure> structures(4);
    structures[0].one = {1, 2, {100, 0, 0}, 1};
    structures[1].one = {2, 3, {40, 300, 0}, 3};
    structures[2].threshold_variables = 2;
    structures[2].two = {1, 2, 100, 200, 4, 0, 1, 2};
    structures[3].threshold_variables = 2;
    structures[3].two = {2, 1, 50, 80, 3, 3, 2, 1};
    for (const ModelStructure& structure : structures) {
        const FittedModel fit = estimate(problem, structure);
        ASSERT_TRUE(fit.estimated());
        const ThresholdVarModel model = model_from_fit(fit);
        ASSERT_EQ(model.n_regime(), fit.n_regime);
        EXPECT_EQ(model.p, 2);
        // The simulation's rule puts every time in the regime the estimator
        // put it in at order m.
        int assigned = 0;
        for (int t = 1; t <= 600; ++t) {
            const int r = fit.regime_of_time[at(t - 1)];
            if (r == 0) {
                continue;
            }
            ++assigned;
            EXPECT_EQ(model.rule.regime([&](int c, int d) { return s[t - d][c]; }), r)
                << "time " << t;
        }
        int pooled = 0;
        for (int r = 0; r < model.n_regime(); ++r) {
            const VarRegime& pool = model.regimes[at(r)];
            const std::vector<double>& e = fit.regime(r + 1, fit.m).residuals;
            const int rows = pool.residual_rows(2);
            EXPECT_EQ(rows, fit.observations(r + 1));
            pooled += rows;
            // The shocks are the regime's residuals minus their mean: without
            // an intercept the mean would shift every forecast.
            for (int c = 0; c < 2; ++c) {
                double mean = 0.0;
                for (int i = 0; i < rows; ++i) {
                    mean += e[at(i * 2 + c)] / rows;
                }
                for (int i = 0; i < rows; ++i) {
                    EXPECT_NEAR(pool.residuals[at(i * 2 + c)], e[at(i * 2 + c)] - mean, 1e-12);
                }
            }
        }
        EXPECT_EQ(pooled, assigned);
    }
    // A structure the estimator refuses gives no model.
    problem.model.min_obs_per_regime = 400;
    EXPECT_FALSE(model_for_structure(problem, structures[0]).has_value());
}

TEST(ForecastPaths, SwitchRegimeWhenTheSimulatedThresholdVariableCrosses) {
    // Without shocks: regime 1 (y1 <= 0) flips and doubles y1, regime 2 halves
    // it, so a path from -1 goes 2, 1, 0.5, ... in regime 1 then 2, 2, ...
    ThresholdVarModel m;
    m.k = 2;
    m.p = 1;
    m.rule.n_regime = 2;
    m.rule.component = 1;
    m.rule.lag = 1;
    m.rule.thresholds = {0.0, 1e6, 1e6};
    m.regimes.resize(2);
    m.regimes[0].phi = phi_from(2, {{{-2.0, 0.0}, {0.0, 1.0}}});
    m.regimes[1].phi = phi_from(2, {{{0.5, 0.0}, {0.0, 1.0}}});
    m.regimes[0].residuals = {-3.0, 0.0};  // a shock that pushes y1 below 0
    m.regimes[1].residuals = {-3.0, 0.0};
    PathSimulator sim(m, 4);
    std::vector<double> out(8);
    std::vector<int> regimes(4);
    const std::vector<double> history = {-1.0, 7.0};
    sim.run(history, nullptr, nullptr, out.data(), regimes.data());
    EXPECT_EQ(regimes, (std::vector<int>{1, 2, 2, 2}));
    EXPECT_EQ(out, (std::vector<double>{2.0, 7.0, 1.0, 7.0, 0.5, 7.0, 0.25, 7.0}));
    // With the shock: -1 -> 2-3 = -1 -> ... stays in regime 1; from +1: 0.5-3
    // = -2.5 (regime 2 in force), then regime 1: 5-3 = 2, then regime 2.
    RandomStream stream(1);
    const std::vector<double> up = {1.0, 0.0};
    sim.run(up, &stream, nullptr, out.data(), regimes.data());
    EXPECT_EQ(regimes, (std::vector<int>{2, 1, 2, 1}));
    EXPECT_DOUBLE_EQ(out[0], -2.5);
    EXPECT_DOUBLE_EQ(out[2], 2.0);
    EXPECT_DOUBLE_EQ(out[4], -2.0);
}

TEST(Forecast, OneStepMeanIsTheClosedFormOfTheRegimeInForce) {
    const ThresholdVarModel m = two_regime_model();
    // y_T = (0.8, -0.3) puts y1 above 0: regime 2; y_{T-1} = (-0.5, 0.4).
    const std::vector<double> history = {-0.5, 0.4, 0.8, -0.3};
    ForecastOptions options;
    options.horizon = 3;
    options.paths = 20000;
    options.seed = 11;
    const ForecastResult f = forecast_threshold_var(m, history, options);
    const VarRegime& r = m.regimes[1];
    const double x[4] = {0.8, -0.3, -0.5, 0.4};  // lag 1 then lag 2
    for (int c = 0; c < 2; ++c) {
        double mean = 0.0;
        for (int i = 0; i < 4; ++i) {
            mean += r.phi[at(i * 2 + c)] * x[i];
        }
        EXPECT_DOUBLE_EQ(f.no_shock[0][at(c)], mean);
        double pool_mean = 0.0;
        for (int i = 0; i < r.residual_rows(2); ++i) {
            pool_mean += r.residuals[at(i * 2 + c)] / r.residual_rows(2);
        }
        const double sd = std::sqrt(r.covariance[at(c * 2 + c)]);
        EXPECT_NEAR(f.mean[0][at(c)], mean + pool_mean, 4.0 * sd / std::sqrt(20000.0));
        EXPECT_LT(f.q05[0][at(c)], f.median[0][at(c)]);
        EXPECT_LT(f.median[0][at(c)], f.q95[0][at(c)]);
    }
    EXPECT_DOUBLE_EQ(f.regime_share[0][1], 1.0);
    EXPECT_GT(f.regime_share[1][0], 0.0);  // later steps reach the other regime
}

TEST(Forecast, IdenticalForOneAndTwoThreadsAndChangesWithTheSeed) {
    const ThresholdVarModel m = two_regime_model();
    const std::vector<double> history = {-0.5, 0.4, 0.8, -0.3};
    ForecastOptions options;
    options.horizon = 6;
    options.paths = 501;
    options.seed = 3;
    options.threads = 1;
    const ForecastResult one = forecast_threshold_var(m, history, options);
    options.threads = 2;
    const ForecastResult two = forecast_threshold_var(m, history, options);
    EXPECT_EQ(one.mean, two.mean);
    EXPECT_EQ(one.median, two.median);
    EXPECT_EQ(one.q05, two.q05);
    EXPECT_EQ(one.q95, two.q95);
    EXPECT_EQ(one.regime_share, two.regime_share);
    options.seed = 4;
    const ForecastResult other = forecast_threshold_var(m, history, options);
    EXPECT_NE(one.mean, other.mean);
    EXPECT_EQ(one.no_shock, other.no_shock);
}

TEST(Forecast, EqualRegimesWithoutShocksGiveTheLinearIteratedForecastExactly) {
    ThresholdVarModel truth = two_regime_model();
    const double_matrix s = series_from(truth, 400, 5);
    const inference::LinearVar linear = linear_var(s, 400, 2, 2);
    ASSERT_TRUE(linear.regression.estimated);
    ThresholdVarModel equal = truth;
    for (VarRegime& r : equal.regimes) {
        r.phi = linear.regression.coefficients;
    }
    const std::vector<double> history = series_history(s, 2, 400, 2);
    const std::vector<double> iterated = inference::linear_var_forecast(
        linear.regression, inference::SeriesRows::from_matrix(s, 400, 2), 400, 12);
    // A threshold the path crosses between steps 1 and 6.
    equal.rule.thresholds[0] = 0.5 * (iterated[0] + iterated[10]);
    ForecastOptions options;
    options.horizon = 12;
    options.paths = 10;
    const ForecastResult f = forecast_threshold_var(equal, history, options);
    for (int h = 0; h < 12; ++h) {
        for (int c = 0; c < 2; ++c) {
            EXPECT_EQ(f.no_shock[at(h)][at(c)], iterated[at(h * 2 + c)]) << "step " << h + 1;
        }
    }
    // The path passes through both regimes, so the equality is not that of a
    // path that never switches.
    PathSimulator sim(equal, 12);
    std::vector<double> out(24);
    std::vector<int> regimes(12);
    sim.run(history, nullptr, nullptr, out.data(), regimes.data());
    EXPECT_NE(std::count(regimes.begin(), regimes.end(), 1), 0);
    EXPECT_NE(std::count(regimes.begin(), regimes.end(), 2), 0);
}

TEST(Holdout, CountsOriginsPerHorizonAndMatchesPlainOneStepErrors) {
    ThresholdVarModel truth = two_regime_model();
    const double_matrix s = series_from(truth, 300, 2);
    const inference::LinearVar linear = linear_var(s, 280, 2, 2);
    HoldoutOptions options;
    options.horizon = 4;
    options.paths = 50;
    const HoldoutResult one = holdout_check(truth, linear.regression, s, 300, 280, options);
    EXPECT_EQ(one.forecasts, (std::vector<int>{20, 19, 18, 17}));
    double sq = 0.0, ab = 0.0;
    for (int o = 280; o < 300; ++o) {
        double f = 0.0;
        for (int l = 1; l <= 2; ++l) {
            for (int v = 1; v <= 2; ++v) {
                f +=
                    linear.regression.coefficients[at(((l - 1) * 2 + v - 1) * 2)] * s[o + 1 - l][v];
            }
        }
        const double e = s[o + 1][1] - f;
        sq += e * e;
        ab += std::fabs(e);
    }
    EXPECT_NEAR(one.linear.rmse[0][0], std::sqrt(sq / 20), 1e-12);
    EXPECT_NEAR(one.linear.mae[0][0], ab / 20, 1e-12);
    // The threshold model simulated from the truth forecasts no worse here
    // than a linear fit of a clearly nonlinear series, at one step.
    EXPECT_LT(one.threshold.rmse_all[0], 1.1 * one.linear.rmse_all[0]);
    options.threads = 2;
    const HoldoutResult two = holdout_check(truth, linear.regression, s, 300, 280, options);
    EXPECT_EQ(one.threshold.rmse, two.threshold.rmse);
    EXPECT_EQ(one.threshold.mae_all, two.threshold.mae_all);
}

TEST(Girf, HorizonZeroIsTheCholeskyColumnOfTheRegime) {
    ThresholdVarModel m = two_regime_model();
    const double_matrix s = series_from(m, 500, 4);
    GirfOptions options;
    options.horizon = 5;
    options.histories = 40;
    options.repetitions = 10;
    const GirfResult g = girf_threshold_var(m, s, options);
    ASSERT_EQ(g.regimes.size(), 2u);
    for (int r = 0; r < 2; ++r) {
        const std::vector<double> l = cholesky_lower(m.regimes[at(r)].covariance, 2);
        // L L' reproduces the covariance.
        for (int a = 0; a < 2; ++a) {
            for (int b = 0; b < 2; ++b) {
                double v = 0.0;
                for (int j = 0; j < 2; ++j) {
                    v += l[at(a * 2 + j)] * l[at(b * 2 + j)];
                }
                EXPECT_NEAR(v, m.regimes[at(r)].covariance[at(a * 2 + b)], 1e-12);
            }
        }
        for (int j = 0; j < 2; ++j) {
            for (int c = 0; c < 2; ++c) {
                EXPECT_NEAR(g.regimes[at(r)].mean[at(j)][0][at(c)], l[at(c * 2 + j)], 1e-12);
                EXPECT_NEAR(g.regimes[at(r)].q05[at(j)][0][at(c)], l[at(c * 2 + j)], 1e-12);
            }
        }
        // The regimes differ, so do their later responses.
    }
    EXPECT_GT(std::fabs(g.regimes[0].mean[0][2][0] - g.regimes[1].mean[0][2][0]), 1e-3);
}

TEST(Girf, LinearModelRespondsAlikeInEveryRegimeAsItsMovingAverage) {
    ThresholdVarModel m = two_regime_model();
    m.regimes[1].phi = m.regimes[0].phi;
    m.regimes[1].residuals = m.regimes[0].residuals;
    m.regimes[1].covariance = m.regimes[0].covariance;
    const double_matrix s = series_from(m, 500, 8);
    GirfOptions options;
    options.horizon = 6;
    options.histories = 30;
    options.repetitions = 5;
    options.seed = 21;
    const GirfResult g = girf_threshold_var(m, s, options);
    const std::vector<double> l = cholesky_lower(m.regimes[0].covariance, 2);
    for (int j = 0; j < 2; ++j) {
        // Psi_h delta by iterating y_h = A1 y_{h-1} + A2 y_{h-2} from delta.
        std::vector<std::vector<double>> y = {{0.0, 0.0}, {l[at(j)], l[at(2 + j)]}};
        for (int h = 0; h <= 6; ++h) {
            if (h > 0) {
                std::vector<double> next(2, 0.0);
                for (int c = 1; c <= 2; ++c) {
                    for (int lag = 1; lag <= 2; ++lag) {
                        for (int v = 1; v <= 2; ++v) {
                            next[at(c - 1)] +=
                                m.coefficient(1, lag, c, v) * y[y.size() - at(lag)][at(v - 1)];
                        }
                    }
                }
                y.push_back(next);
            }
            for (int c = 0; c < 2; ++c) {
                const double expected = y.back()[at(c)];
                for (int r = 0; r < 2; ++r) {
                    EXPECT_NEAR(g.regimes[at(r)].mean[at(j)][at(h)][at(c)], expected, 1e-12)
                        << "regime " << r + 1 << " shock " << j + 1 << " h " << h;
                    EXPECT_NEAR(g.regimes[at(r)].q95[at(j)][at(h)][at(c)], expected, 1e-12);
                }
            }
        }
    }
}

TEST(Girf, IdenticalForOneAndTwoThreads) {
    ThresholdVarModel m = two_regime_model();
    const double_matrix s = series_from(m, 400, 6);
    GirfOptions options;
    options.horizon = 4;
    options.histories = 25;
    options.repetitions = 7;
    options.seed = 99;
    options.threads = 1;
    const GirfResult one = girf_threshold_var(m, s, options);
    options.threads = 2;
    const GirfResult two = girf_threshold_var(m, s, options);
    for (int r = 0; r < 2; ++r) {
        EXPECT_EQ(one.regimes[at(r)].mean, two.regimes[at(r)].mean);
        EXPECT_EQ(one.regimes[at(r)].q05, two.regimes[at(r)].q05);
    }
}

}  // namespace
}  // namespace velmora
