// Constants and trends in the regimes' equations, checked against ordinary
// least squares written out here (normal equations solved by Gauss-Jordan
// elimination), against closed-form forecasts, and the search's sweep
// against the estimator.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "diagnostics_reference.hpp"
#include "forecast/fitted_var.hpp"
#include "forecast/forecast.hpp"
#include "forecast/girf.hpp"
#include "inference/linear_var.hpp"
#include "inference/lr_sweep.hpp"
#include "inference/model_inference.hpp"
#include "model/estimate.hpp"
#include "model/fitted_model.hpp"
#include "search/threshold_sweep.hpp"

namespace velmora {
namespace {

std::size_t at(int i) {
    return static_cast<std::size_t>(i);
}

// A two-regime threshold VAR in levels with regime intercepts, a drift and
// k = 2 components: regime 1 when component 1 at lag 1 lies below 10.
double_matrix levels_series(int n, std::uint64_t seed, double drift) {
    std::mt19937_64 gen(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    double_matrix s(1, n, 1, 2);
    double a = 10.0;
    double b = 5.0;
    for (int t = 1; t <= n; ++t) {
        const bool low = a <= 10.0 + drift * t;
        const double na =
            (low ? 4.0 : 2.0) + (low ? 0.6 : 0.8) * a + 0.1 * b + drift * t * 0.3 + normal(gen);
        const double nb = (low ? 1.0 : 3.0) + 0.05 * a + (low ? 0.5 : 0.3) * b + normal(gen);
        a = na;
        b = nb;
        s[t][1] = a;
        s[t][2] = b;
    }
    return s;
}

// Ordinary least squares of Y on X (rows x q), written out: the normal
// equations X'X B = X'Y, (X'X)^-1 by Gauss-Jordan with partial pivoting.
struct Ols {
    int q = 0;
    int k = 0;
    std::vector<double> b;      // q x k
    std::vector<double> se;     // q x k, sigma divided by rows - q
    std::vector<double> resid;  // rows x k
};

Ols plain_ols(const std::vector<std::vector<double>>& x,
              const std::vector<std::vector<double>>& y) {
    Ols out;
    const int n = static_cast<int>(x.size());
    out.q = static_cast<int>(x[0].size());
    out.k = static_cast<int>(y[0].size());
    const int q = out.q;
    const int k = out.k;
    // [X'X | I] reduced to [I | (X'X)^-1].
    std::vector<std::vector<double>> a(at(q), std::vector<double>(at(2 * q), 0.0));
    for (int i = 0; i < q; ++i) {
        for (int j = 0; j < q; ++j) {
            for (int t = 0; t < n; ++t) {
                a[at(i)][at(j)] += x[at(t)][at(i)] * x[at(t)][at(j)];
            }
        }
        a[at(i)][at(q + i)] = 1.0;
    }
    testing::reference_gauss_jordan(a, at(q));
    std::vector<double> xy(at(q * k), 0.0);
    for (int t = 0; t < n; ++t) {
        for (int i = 0; i < q; ++i) {
            for (int c = 0; c < k; ++c) {
                xy[at(i * k + c)] += x[at(t)][at(i)] * y[at(t)][at(c)];
            }
        }
    }
    out.b.assign(at(q * k), 0.0);
    for (int i = 0; i < q; ++i) {
        for (int c = 0; c < k; ++c) {
            for (int j = 0; j < q; ++j) {
                out.b[at(i * k + c)] += a[at(i)][at(q + j)] * xy[at(j * k + c)];
            }
        }
    }
    std::vector<double> ss(at(k), 0.0);
    for (int t = 0; t < n; ++t) {
        for (int c = 0; c < k; ++c) {
            double fit = 0.0;
            for (int i = 0; i < q; ++i) {
                fit += out.b[at(i * k + c)] * x[at(t)][at(i)];
            }
            const double e = y[at(t)][at(c)] - fit;
            out.resid.push_back(e);
            ss[at(c)] += e * e;
        }
    }
    out.se.assign(at(q * k), 0.0);
    for (int i = 0; i < q; ++i) {
        for (int c = 0; c < k; ++c) {
            out.se[at(i * k + c)] = std::sqrt(ss[at(c)] / (n - q) * a[at(i)][at(q + i)]);
        }
    }
    return out;
}

// Rows of the regression on the given times: const and trend (the row
// number t) when asked, then the lags 1..m of every component.
Ols ols_on_times(const double_matrix& s, int k, int m, Include include,
                 const std::vector<int>& times) {
    std::vector<std::vector<double>> x;
    std::vector<std::vector<double>> y;
    for (int t : times) {
        std::vector<double> row;
        if (include == Include::constant || include == Include::both) {
            row.push_back(1.0);
        }
        if (include == Include::trend || include == Include::both) {
            row.push_back(t);
        }
        for (int lag = 1; lag <= m; ++lag) {
            for (int c = 1; c <= k; ++c) {
                row.push_back(s[t - lag][c]);
            }
        }
        x.push_back(row);
        std::vector<double> target;
        for (int c = 1; c <= k; ++c) {
            target.push_back(s[t][c]);
        }
        y.push_back(target);
    }
    return plain_ols(x, y);
}

void expect_close(double got, double want, const char* what) {
    EXPECT_NEAR(got, want, 1e-9 * std::max(1.0, std::fabs(want))) << what;
}

ModelProblem problem_of(const double_matrix& s, int n, int m, Include include) {
    ModelProblem p;
    p.serie_matrix = &s;
    p.n_oss = n;
    p.n_comp = 2;
    p.model.max_order = m;
    p.model.min_obs_per_regime = 20;
    p.model.include = include;
    return p;
}

ModelStructure one_threshold(const double_matrix& s, int n, int lag) {
    // The position of the median of component 1: balanced regimes.
    std::vector<std::pair<double, int>> values;
    for (int t = 1; t < n; ++t) {
        values.push_back({s[t][1], t});
    }
    std::sort(values.begin(), values.end());
    ModelStructure st;
    st.threshold_variables = 1;
    st.one.which_serie = 1;
    st.one.threshold_lag = lag;
    st.one.n_regime = 2;
    st.one.pos_threshold[0] = values[values.size() / 2].second;
    return st;
}

TEST(DeterministicTerms, RegimeCoefficientsTermsAndErrorsAreOrdinaryLeastSquares) {
    const int n = 300;
    const double_matrix s = levels_series(n, 11, 0.01);
    for (int m : {1, 2}) {
        for (Include include : {Include::none, Include::constant, Include::trend, Include::both}) {
            const ModelProblem problem = problem_of(s, n, m, include);
            const ModelStructure st = one_threshold(s, n, 1);
            const FittedModel fit = estimate(problem, st);
            ASSERT_TRUE(fit.estimated()) << include_name(include);
            inference::InferenceOptions no_tests;
            no_tests.confidence = 0.0;
            // From the fitted model's own regressions, and afresh on the rows
            // its thresholds give: both are the plain least squares.
            const inference::ModelInference from_fit =
                inference::infer_model(problem, fit, no_tests);
            const inference::ModelInference afresh =
                inference::infer_model(problem, st, fit.thresholds, fit.criterion, no_tests);
            // Series in levels: their means are far from zero, which only
            // regimes without an intercept need to be warned about.
            EXPECT_EQ(from_fit.means_off_zero().empty(), has_constant(include))
                << include_name(include);
            const int d = deterministic_count(include);
            const double threshold = fit.thresholds[0];
            for (int r = 1; r <= 2; ++r) {
                // The regime's times, from the rule itself.
                std::vector<int> times;
                for (int t = m + 1; t <= n; ++t) {
                    if ((s[t - 1][1] <= threshold) == (r == 1)) {
                        times.push_back(t);
                    }
                }
                ASSERT_EQ(fit.regime(r).times, times);
                const Ols ols = ols_on_times(s, 2, m, include, times);
                for (const inference::ModelInference* inf : {&from_fit, &afresh}) {
                    const inference::RegimeRegression& g = inf->regimes[at(r - 1)];
                    ASSERT_TRUE(g.estimated);
                    EXPECT_EQ(g.degrees_of_freedom, static_cast<int>(times.size()) - (d + 2 * m));
                    for (int eq = 1; eq <= 2; ++eq) {
                        for (int j = 0; j < d; ++j) {
                            const double want = ols.b[at(j * 2 + eq - 1)];
                            expect_close(fit.deterministic_coefficient(r, j, eq), want,
                                         "estimator");
                            expect_close(g.deterministic[at(j * 2 + eq - 1)], want, "inference");
                            expect_close(g.deterministic_standard_errors[at(j * 2 + eq - 1)],
                                         ols.se[at(j * 2 + eq - 1)], "term standard error");
                        }
                        for (int lag = 1; lag <= m; ++lag) {
                            for (int v = 1; v <= 2; ++v) {
                                const int i = d + (lag - 1) * 2 + v - 1;
                                const double want = ols.b[at(i * 2 + eq - 1)];
                                expect_close(fit.coefficient(r, lag, eq, v), want, "lag");
                                const std::size_t cell = at(((lag - 1) * 2 + v - 1) * 2 + eq - 1);
                                expect_close(g.standard_errors[cell], ols.se[at(i * 2 + eq - 1)],
                                             "lag standard error");
                            }
                        }
                    }
                }
                // Residuals with an intercept sum to zero in each equation.
                if (has_constant(include)) {
                    double sum = 0.0;
                    for (std::size_t i = 0; i < fit.regime(r).residuals.size(); i += 2) {
                        sum += fit.regime(r).residuals[i];
                    }
                    EXPECT_NEAR(sum, 0.0, 1e-8);
                }
            }
            // The criterion's penalty counts the terms: regimes * k * (m*k + d).
            const std::vector<double>& c = fit.overall_covariance;
            const double log_det = std::log(c[0] * c[3] - c[1] * c[2]);
            EXPECT_NEAR(fit.criterion - log_det, 2.0 / n * 2 * 2 * (m * 2 + d), 1e-10);
        }
    }
}

TEST(DeterministicTerms, LinearBenchmarkIsTheVarWithTheSameTerms) {
    const int n = 250;
    const double_matrix s = levels_series(n, 5, 0.02);
    for (int m : {1, 3}) {
        for (Include include : {Include::none, Include::constant, Include::both}) {
            const ModelProblem problem = problem_of(s, n, m, include);
            const inference::LinearVar var = inference::fit_linear_var(problem);
            ASSERT_TRUE(var.regression.estimated);
            std::vector<int> times;
            for (int t = m + 1; t <= n; ++t) {
                times.push_back(t);
            }
            const Ols ols = ols_on_times(s, 2, m, include, times);
            const int d = deterministic_count(include);
            for (int eq = 0; eq < 2; ++eq) {
                for (int j = 0; j < d; ++j) {
                    expect_close(var.regression.deterministic[at(j * 2 + eq)],
                                 ols.b[at(j * 2 + eq)], "term");
                }
                for (int i = 0; i < 2 * m; ++i) {
                    expect_close(var.regression.coefficients[at(i * 2 + eq)],
                                 ols.b[at((d + i) * 2 + eq)], "lag");
                }
            }
        }
    }
}

TEST(DeterministicTerms, TheSweepScreensTheEstimatorsCriterionWithTerms) {
    const int n = 200;
    const double_matrix s = levels_series(n, 23, 0.01);
    for (Include include : {Include::constant, Include::trend, Include::both}) {
        for (int m : {1, 2, 3}) {
            ModelProblem problem = problem_of(s, n, m, include);
            ThresholdSweeper sweeper(problem);
            // Lag 1 with m > 1 leaves lower-order rows in the criterion.
            ModelStructure st = one_threshold(s, n, 1);
            const double exact = sweeper.exact(st);
            ASSERT_LT(exact, kNotFeasible);
            EXPECT_NEAR(sweeper.screened(st), exact, 1e-8) << include_name(include) << m;
            ModelStructure two;
            two.threshold_variables = 2;
            two.two = {1, 2, st.one.pos_threshold[0], 40, 3, 1, 2, 1};
            const double exact2 = sweeper.exact(two);
            if (exact2 < kNotFeasible) {
                EXPECT_NEAR(sweeper.screened(two), exact2, 1e-8) << include_name(include) << m;
            }
            // Every split the sweep offers has the estimator's criterion.
            for (const SweepCandidate& c : sweeper.sweep(st, 0, 3)) {
                ModelStructure at_split = st;
                at_split.one.pos_threshold[0] = c.position;
                EXPECT_NEAR(c.criterion, sweeper.exact(at_split), 1e-8);
            }
        }
    }
}

TEST(DeterministicTerms, LikelihoodRatioMeasureIsTheRegimesPlainResiduals) {
    const int n = 220;
    const double_matrix s = levels_series(n, 41, 0.0);
    const int m = 2;
    const inference::SeriesRows rows = inference::SeriesRows::from_matrix(s, n, 2);
    inference::ThresholdRule rule;
    rule.variables = 1;
    rule.n_regime = 2;
    rule.component = {1, 1};
    rule.lag = {1, 1};
    for (Include include : {Include::constant, Include::both}) {
        const inference::ThresholdData data =
            inference::prepare_threshold_data(rows, rule, m, include, 0);
        const double threshold = s[100][1];
        const std::array<double, 3> ts{threshold, 1000000.0, 1000000.0};
        std::vector<int> low;
        std::vector<int> high;
        std::vector<int> all;
        for (int t = m + 1; t <= n; ++t) {
            (s[t - 1][1] <= threshold ? low : high).push_back(t);
            all.push_back(t);
        }
        auto log_det_of = [&](const std::vector<std::vector<int>>& groups) {
            std::array<double, 4> e{};
            for (const auto& g : groups) {
                const Ols o = ols_on_times(s, 2, m, include, g);
                for (std::size_t i = 0; i < o.resid.size(); i += 2) {
                    e[0] += o.resid[i] * o.resid[i];
                    e[1] += o.resid[i] * o.resid[i + 1];
                    e[3] += o.resid[i + 1] * o.resid[i + 1];
                }
            }
            const double T = static_cast<double>(all.size());
            return std::log(e[0] / T * e[3] / T - e[1] / T * e[1] / T);
        };
        EXPECT_NEAR(inference::log_det_at(data, rule, ts, 0), log_det_of({low, high}), 1e-9);
        EXPECT_NEAR(inference::log_det_linear(data), log_det_of({all}), 1e-9);
    }
}

// One component, two regimes with the same dynamics: y_t = c + b*(origin0 +
// t) + 0.5 y_t-1 whatever the regime.
ThresholdVarModel drifting_model(double c, double b, int trend_origin) {
    ThresholdVarModel model;
    model.k = 1;
    model.p = 1;
    model.include = Include::both;
    model.trend_origin = trend_origin;
    model.rule.threshold_variables = 1;
    model.rule.n_regime = 2;
    model.rule.component = 1;
    model.rule.lag = 1;
    model.rule.thresholds = {0.0, 1000000.0, 1000000.0};
    for (int r = 0; r < 2; ++r) {
        VarRegime regime;
        regime.phi = {0.5};
        regime.deterministic = {c, b};  // const, trend
        regime.covariance = {1.0};
        regime.residuals = {-1.0, 0.5, 0.5};
        regime.times = {5, 6, 7};
        model.regimes.push_back(regime);
    }
    return model;
}

TEST(DeterministicTerms, ForecastsContinueTheTrend) {
    const ThresholdVarModel model = drifting_model(1.5, 0.25, 10);
    const std::vector<double> history = {3.0, 4.0};
    ForecastOptions options;
    options.horizon = 5;
    options.paths = 4;
    options.origin = 40;  // the history's last row is time 40
    const ForecastResult f = forecast_threshold_var(model, history, options);
    double y = 4.0;
    for (int h = 1; h <= 5; ++h) {
        y = 1.5 + 0.25 * (10 + 40 + h) + 0.5 * y;
        EXPECT_NEAR(f.no_shock[at(h - 1)][0], y, 1e-12) << h;
    }

    // The linear VAR's forecasts go on counting the same way.
    inference::RegimeRegression var;
    var.estimated = true;
    var.order = 1;
    var.k = 1;
    var.include = Include::both;
    var.trend_origin = 10;
    var.coefficients = {0.5};
    var.deterministic = {1.5, 0.25};
    inference::SeriesRows past;
    past.n = 40;
    past.k = 1;
    past.values.assign(40, 3.0);
    past.values[39] = 4.0;
    const std::vector<double> lin = inference::linear_var_forecast(var, past, 40, 5);
    for (int h = 1; h <= 5; ++h) {
        EXPECT_NEAR(lin[at(h - 1)], f.no_shock[at(h - 1)][0], 1e-12) << h;
    }
}

TEST(DeterministicTerms, FittedTermsReachTheSimulationModel) {
    const int n = 300;
    const double_matrix s = levels_series(n, 3, 0.02);
    ModelProblem problem = problem_of(s, n, 1, Include::both);
    problem.trend_origin = 7;
    const FittedModel fit = estimate(problem, one_threshold(s, n, 1));
    ASSERT_TRUE(fit.estimated());
    const ThresholdVarModel model = model_from_fit(fit);
    EXPECT_EQ(model.trend_origin, 7);
    // One step from the last row, by hand from the fitted coefficients.
    const std::vector<double> history = {s[n][1], s[n][2]};
    ForecastOptions options;
    options.horizon = 1;
    options.paths = 1;
    options.origin = n;
    const ForecastResult f = forecast_threshold_var(model, history, options);
    const int r = s[n][1] <= fit.thresholds[0] ? 1 : 2;
    for (int eq = 1; eq <= 2; ++eq) {
        const double want = fit.deterministic_coefficient(r, 0, eq) +
                            fit.deterministic_coefficient(r, 1, eq) * (7 + n + 1) +
                            fit.coefficient(r, 1, eq, 1) * s[n][1] +
                            fit.coefficient(r, 1, eq, 2) * s[n][2];
        EXPECT_NEAR(f.no_shock[0][at(eq - 1)], want, 1e-9);
    }
}

TEST(DeterministicTerms, ImpulseResponsesDoNotDependOnTheDeterministicPath) {
    // With the same dynamics in both regimes the responses are those of the
    // linear model, whatever intercept and trend add to both paths.
    const int n = 60;
    double_matrix series(1, n, 1, 1);
    for (int t = 1; t <= n; ++t) {
        series[t][1] = 2.0 + 0.1 * t + std::sin(t);
    }
    ThresholdVarModel with = drifting_model(1.5, 0.25, 3);
    ThresholdVarModel without = drifting_model(0.0, 0.0, 0);
    without.include = Include::none;
    for (VarRegime& r : without.regimes) {
        r.deterministic.clear();
    }
    for (ThresholdVarModel* m : {&with, &without}) {
        for (VarRegime& r : m->regimes) {
            r.times = {20, 30, 40, 50};
        }
    }
    GirfOptions options;
    options.horizon = 4;
    options.histories = 3;
    options.repetitions = 5;
    options.seed = 9;
    const GirfResult a = girf_threshold_var(with, series, options);
    const GirfResult b = girf_threshold_var(without, series, options);
    ASSERT_EQ(a.regimes.size(), b.regimes.size());
    for (std::size_t r = 0; r < a.regimes.size(); ++r) {
        ASSERT_EQ(a.regimes[r].mean.size(), 1u);
        for (int h = 0; h <= 4; ++h) {
            // A unit-variance shock decays by the autoregression's 0.5 a step.
            EXPECT_NEAR(a.regimes[r].mean[0][at(h)][0], std::pow(0.5, h), 1e-9);
            EXPECT_NEAR(a.regimes[r].mean[0][at(h)][0], b.regimes[r].mean[0][at(h)][0], 1e-9);
        }
    }
}

}  // namespace
}  // namespace velmora
