#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "diagnostics_reference.hpp"
#include "inference/linear_var.hpp"
#include "inference/model_inference.hpp"
#include "model/criterion.hpp"
#include "model/estimate.hpp"
#include "model_test_helpers.hpp"
#include "output/inference_text.hpp"
#include "search/threshold_sweep.hpp"

namespace velmora {
namespace {

using testing::determinant;
using testing::plain_least_squares;
using testing::ProblemFixture;
using testing::random_series;

// The residuals of the least-squares VAR(m) without intercept of the k
// components at the given times, a row a time.
std::vector<std::vector<double>> var_residuals(const double_matrix& x,
                                               const std::vector<int>& times, int k, int m) {
    auto regressor = [&](int t, int i) { return x[t - 1 - i / k][1 + i % k]; };
    return plain_least_squares(x, times, m * k, k, regressor).residuals;
}

// ln det(E'E/T) + penalty * coefficients / T from a plain OLS of every
// regime on the rows 7..n: the regime of time t is 1 + the number of
// thresholds below the component's value at t - lag (one regime without
// thresholds).
double reference(const double_matrix& x, int n, int k, int m, int component, int lag,
                 const std::vector<double>& thresholds, double penalty) {
    const int regimes = static_cast<int>(thresholds.size()) + 1;
    const int q = m * k;
    std::vector<double> sse(k * k, 0.0);
    int rows = 0;
    for (int r = 1; r <= regimes; ++r) {
        std::vector<int> times;
        for (int t = 7; t <= n; ++t) {
            int regime = 1;
            for (double th : thresholds) {
                regime += x[t - lag][component] > th ? 1 : 0;
            }
            if (regime == r) {
                times.push_back(t);
            }
        }
        for (const std::vector<double>& e : var_residuals(x, times, k, m)) {
            for (int c = 0; c < k; ++c) {
                for (int l = 0; l < k; ++l) {
                    sse[c * k + l] += e[c] * e[l];
                }
            }
        }
        rows += static_cast<int>(times.size());
    }
    for (double& v : sse) {
        v /= rows;
    }
    return std::log(determinant(sse, k)) + penalty * regimes * k * q / rows;
}

double penalty_of(Criterion c, int rows) {
    switch (c) {
        case Criterion::aic:
            return 2.0;
        case Criterion::bic:
            return std::log(rows);
        default:
            return 2.0 * std::log(std::log(rows));
    }
}

// The time (1..n-1) whose value of the component is the share-quantile of
// rows 1..n-1, so that a threshold there leaves both sides well filled.
int quantile_position(const double_matrix& x, int n, int component, double share) {
    std::vector<std::pair<double, int>> v;
    for (int t = 1; t < n; ++t) {
        v.emplace_back(x[t][component], t);
    }
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(share * (n - 2))].second;
}

ModelStructure one_variable(int component, int regimes, std::array<int, 3> positions, int lag) {
    ModelStructure s;
    s.threshold_variables = 1;
    s.one.which_serie = component;
    s.one.n_regime = regimes;
    s.one.pos_threshold = positions;
    s.one.threshold_lag = lag;
    return s;
}

TEST(InformationCriterion, NamesAndChoicesRoundTrip) {
    EXPECT_EQ(criterion_choices_text(), "classic|aic|bic|hq");
    for (const Criterion c : {Criterion::classic, Criterion::aic, Criterion::bic, Criterion::hq}) {
        EXPECT_EQ(parse_criterion(criterion_name(c)), c);
    }
    EXPECT_FALSE(parse_criterion("BIC").has_value());
    EXPECT_FALSE(parse_criterion("").has_value());
    EXPECT_EQ(criterion_first_row(Criterion::classic, 4), 1);
    EXPECT_EQ(criterion_first_row(Criterion::hq, 2), 7);
    EXPECT_EQ(estimated_coefficients(3, 4, 2, 1), 3 * 4 * (2 * 4 + 1));
}

// The classic criterion of a linear VAR whose lists start at row `first`
// (first > m): every pass uses the rows first..n, so the residual table
// holds the order-m residuals and n - T zero rows; its covariance is
// demeaned and divided by n.
double classic_linear_reference(const double_matrix& x, int n, int k, int m, int first) {
    std::vector<int> times;
    for (int t = first; t <= n; ++t) {
        times.push_back(t);
    }
    std::vector<double> sum(k, 0.0);
    std::vector<double> cross(k * k, 0.0);
    for (const std::vector<double>& e : var_residuals(x, times, k, m)) {
        for (int c = 0; c < k; ++c) {
            sum[c] += e[c];
        }
        for (int c = 0; c < k; ++c) {
            for (int l = 0; l < k; ++l) {
                cross[c * k + l] += e[c] * e[l];
            }
        }
    }
    for (int c = 0; c < k; ++c) {
        for (int l = 0; l < k; ++l) {
            cross[c * k + l] = cross[c * k + l] / n - (sum[c] / n) * (sum[l] / n);
        }
    }
    return std::log(determinant(cross, k)) + 2.0 * m * k * k / n;
}

// The linear benchmark is scored on the threshold model's own rows under
// every criterion: with a threshold lag of 4 and order 2 the classic
// benchmark starts at row 5 like the threshold model, so a lag longer than
// the order no longer makes the threshold model look better than it is.
TEST(InformationCriterion, TheLinearBenchmarkUsesTheThresholdModelsRows) {
    const int n = 300;
    const int k = 2;
    const int m = 2;
    ProblemFixture fx(random_series(n, k, 23), n, k, m, 20);
    const ModelStructure s = one_variable(1, 2, {quantile_position(fx.serie, n, 1, 0.5), 0, 0}, 4);
    for (const Criterion c : {Criterion::classic, Criterion::bic}) {
        fx.problem.model.criterion = c;
        const FittedModel model = estimate(fx.problem, s);
        ASSERT_TRUE(model.estimated());
        const inference::ModelInference inf =
            inference::infer_model(fx.problem, s, model.thresholds, model.criterion, {});
        ASSERT_EQ(inf.linear.status, EstimateStatus::estimated);
        const double want = c == Criterion::classic
                                ? classic_linear_reference(fx.serie, n, k, m, 5)
                                : reference(fx.serie, n, k, m, 1, 1, {}, std::log(n - 6.0));
        EXPECT_NEAR(inf.linear.criterion, want, 1e-10) << criterion_name(c);

        // Its regression, on the same rows: a plain least squares.
        const int first = c == Criterion::classic ? 5 : 7;
        const inference::RegimeRegression& lm = inf.linear_model;
        ASSERT_TRUE(lm.estimated);
        EXPECT_EQ(lm.times.front(), first);
        EXPECT_EQ(lm.observations, n - first + 1);
        std::vector<int> times;
        for (int t = first; t <= n; ++t) {
            times.push_back(t);
        }
        auto regressor = [&](int t, int i) { return fx.serie[t - 1 - i / k][1 + i % k]; };
        const std::vector<double> zy =
            plain_least_squares(fx.serie, times, m * k, k, regressor).coefficients;
        const int q = m * k;
        for (int i = 0; i < q * k; ++i) {
            EXPECT_NEAR(lm.coefficients[i], zy[i], 1e-12) << criterion_name(c) << " " << i;
        }
        const nlohmann::json json = inference::inference_json(inf);
        EXPECT_EQ(json["linear_model"]["first_row"], first);
        EXPECT_EQ(json["linear_model"]["coefficients"][1][0][1], lm.coefficients[(k + 1) * k]);
        EXPECT_EQ(json["linear_model"]["sigma"].size(), 2u);
    }
}

// Every threshold lag is scored on rows 7..n, so the reference does not
// depend on the lag for its rows.
TEST(InformationCriterion, EqualsAPlainLeastSquaresOnTheCommonRows) {
    const int n = 400;
    for (int k : {2, 3}) {
        for (int m : {1, 2, 4}) {
            ProblemFixture fx(random_series(n, k, 70 + k * 10 + m), n, k, m, 20);
            for (const Criterion c : {Criterion::aic, Criterion::bic, Criterion::hq}) {
                fx.problem.model.criterion = c;
                EstimationWorkspace ws(fx.problem);
                for (int lag : {1, 3, 6}) {
                    for (int regimes : {2, 3}) {
                        const int lo = quantile_position(fx.serie, n, 2, 0.35);
                        const int hi = quantile_position(fx.serie, n, 2, 0.7);
                        const std::array<int, 3> positions = regimes == 2
                                                                 ? std::array<int, 3>{lo, 0, 0}
                                                                 : std::array<int, 3>{lo, hi, 0};
                        const ModelStructure s = one_variable(2, regimes, positions, lag);
                        const FittedModel model = estimate(fx.problem, ws, s);
                        ASSERT_TRUE(model.estimated());
                        std::vector<double> th(model.thresholds.begin(),
                                               model.thresholds.begin() + (regimes - 1));
                        const double want =
                            reference(fx.serie, n, k, m, 2, lag, th, penalty_of(c, n - 6));
                        EXPECT_NEAR(model.criterion, want, 1e-10)
                            << criterion_name(c) << " k=" << k << " m=" << m << " lag=" << lag;
                        EXPECT_EQ(model.criterion_kind, c);
                        // The search's path is the same arithmetic.
                        EXPECT_EQ(estimate_criterion(fx.problem, ws, s).criterion, model.criterion);
                        int held = 0;
                        for (int r = 1; r <= regimes; ++r) {
                            held += model.observations(r);
                            EXPECT_GE(model.regime(r).times.front(), 7);
                        }
                        EXPECT_EQ(held, n - 6);
                    }
                }
            }
        }
    }
}

TEST(InformationCriterion, TheLinearVarIsScoredOnTheSameRows) {
    const int n = 300;
    const int k = 3;
    for (int m : {1, 2}) {
        ProblemFixture fx(random_series(n, k, 5 + m), n, k, m, 20);
        fx.problem.model.criterion = Criterion::bic;
        const inference::LinearCriterion linear = inference::linear_var_criterion(fx.problem);
        ASSERT_EQ(linear.status, EstimateStatus::estimated);
        EXPECT_NEAR(linear.criterion, reference(fx.serie, n, k, m, 1, 1, {}, std::log(n - 6.0)),
                    1e-10);
    }
}

// Lags 1 and 6 of a component with period five split the common rows
// identically: on the same rows the two structures are the same model.
TEST(InformationCriterion, ThresholdLagsAreNotRewardedForTheRowsTheyLeaveOut) {
    const int n = 300;
    double_matrix x = random_series(n, 2, 99);
    const double cycle[5] = {0.3, -1.2, 0.7, 2.1, -0.5};
    for (int t = 1; t <= n; ++t) {
        x[t][1] = cycle[t % 5];
    }
    ProblemFixture fx(std::move(x), n, 2, 1, 20);
    // A position whose value 0.3 puts the phases at or below it in regime 1.
    const std::array<int, 3> positions{5, 0, 0};
    auto score = [&](Criterion c, int lag) {
        fx.problem.model.criterion = c;
        EstimationWorkspace ws(fx.problem);
        return estimate_criterion(fx.problem, ws, one_variable(1, 2, positions, lag));
    };
    for (const Criterion c : {Criterion::aic, Criterion::bic, Criterion::hq}) {
        const CriterionResult d1 = score(c, 1);
        const CriterionResult d6 = score(c, 6);
        ASSERT_TRUE(d1.estimated());
        EXPECT_EQ(d1.criterion, d6.criterion) << criterion_name(c);
    }
    // The classic criterion counts the rows a longer lag leaves out as zero
    // residuals, which is what the common rows mend.
    EXPECT_LT(score(Criterion::classic, 6).criterion, score(Criterion::classic, 1).criterion);
}

// The report files keep the classic algebra: with a threshold lag of 6 its
// regressions start at row 7 either way, so the classic value is the one a
// classic estimate gives.
TEST(InformationCriterion, TheReportKeepsTheClassicValue) {
    ProblemFixture fx(random_series(250, 2, 31), 250, 2, 2, 20);
    const ModelStructure s =
        one_variable(1, 2, {quantile_position(fx.serie, 250, 1, 0.5), 0, 0}, 6);
    EstimationWorkspace ws(fx.problem);
    const FittedModel classic = estimate(fx.problem, ws, s);
    fx.problem.model.criterion = Criterion::bic;
    const FittedModel bic = estimate(fx.problem, ws, s);
    ASSERT_TRUE(classic.estimated() && bic.estimated());
    EXPECT_EQ(classic.criterion, classic.classic_criterion);
    EXPECT_EQ(bic.classic_criterion, classic.criterion);
    EXPECT_NE(bic.criterion, classic.criterion);
}

// The sweeps screen with the chosen criterion's algebra, so the thresholds
// they pick are the criterion's.
TEST(InformationCriterion, SweepsScreenTheChosenCriterion) {
    const int n = 300;
    ProblemFixture fx(random_series(n, 3, 17), n, 3, 2, 20);
    for (const Criterion c : {Criterion::classic, Criterion::bic, Criterion::hq}) {
        fx.problem.model.criterion = c;
        ThresholdSweeper sweeper(fx.problem);
        for (int lag : {1, 5}) {
            const ModelStructure s = one_variable(1, 3,
                                                  {quantile_position(fx.serie, n, 1, 0.3),
                                                   quantile_position(fx.serie, n, 1, 0.65), 0},
                                                  lag);
            const double exact = sweeper.exact(s);
            ASSERT_LT(exact, kNotFeasible);
            EXPECT_NEAR(sweeper.screened(s), exact, 1e-9) << criterion_name(c);
        }
    }
}

}  // namespace
}  // namespace velmora
