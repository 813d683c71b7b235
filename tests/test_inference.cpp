// Inference on a threshold model: least-squares standard errors against an
// explicit Kronecker product, the t distribution against closed forms, the
// linear criterion against a plain reference of the estimators' formula, the
// swept cross products against fresh ones, and the bootstrap's
// reproducibility.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numeric>
#include <random>
#include <set>
#include <vector>

#include "inference/linear_var.hpp"
#include "inference/linearity_test.hpp"
#include "inference/lr_sweep.hpp"
#include "inference/model_inference.hpp"
#include "inference/regression.hpp"
#include "inference/threshold_confidence.hpp"
#include "model/estimate.hpp"
#include "model_test_helpers.hpp"
#include "numeric/linalg.hpp"

namespace velmora {
namespace {

using inference::SeriesRows;
using inference::ThresholdRule;

using testing::ix;

// A two-regime VAR(1) switched by component 1 at lag 1 against gamma; the
// regimes' coefficient matrices differ by effect on the diagonal.
SeriesRows two_regime_series(int n, int k, double gamma, double effect, std::uint64_t seed) {
    return testing::switching_var1_rows(n, k, 0.1, seed, [gamma, effect](double z) {
        return z <= gamma ? 0.2 - effect / 2 : 0.2 + effect / 2;
    });
}

SeriesRows rows_of(const double_matrix& m, int n, int k) {
    return SeriesRows::from_matrix(m, n, k);
}

// One threshold at the median of the threshold variable, the second unused.
std::array<double, 3> median_start(const inference::ThresholdData& data) {
    std::vector<double> z = data.z1;
    std::sort(z.begin(), z.end());
    return {z[ix(z.size() / 2)], 1e6, 1e6};
}

// A linear series, so that the linearity test's p-value lies well inside
// (0, 1), switched by component 1 at lag 1 and started at the median.
struct LinearBootstrapCase {
    SeriesRows rows = rows_of(testing::random_series(300, 2, 21), 300, 2);
    ThresholdRule rule = [] {
        ThresholdRule r;
        r.component = {1, 1};
        return r;
    }();
    inference::ThresholdData data = inference::prepare_threshold_data(rows, rule, 1);
    std::array<double, 3> start = median_start(data);

    // The test's options on one thread at seed 7.
    static inference::LinearityTestOptions options(int replicates) {
        inference::LinearityTestOptions o;
        o.replicates = replicates;
        o.model.min_obs_per_regime = 30;
        o.seed = 7;
        o.threads = 1;
        return o;
    }
};

TEST(StudentT, MatchesClosedFormsAndTheNormalLimit) {
    for (double t : {0.0, 0.3, 1.0, 2.5, 7.0, -1.7}) {
        const double a = std::fabs(t);
        // One degree of freedom: Cauchy; two: 1 - |t| / sqrt(t^2 + 2).
        EXPECT_NEAR(inference::student_t_two_sided(t, 1.0), 1.0 - 2.0 * std::atan(a) / M_PI, 1e-13);
        EXPECT_NEAR(inference::student_t_two_sided(t, 2.0), 1.0 - a / std::sqrt(t * t + 2.0),
                    1e-13);
        EXPECT_NEAR(inference::student_t_two_sided(t, 1e7), std::erfc(a / std::sqrt(2.0)), 1e-6);
    }
    // A tabulated value: t = 2.228 is the 97.5 % point with 10 degrees of freedom.
    EXPECT_NEAR(inference::student_t_two_sided(2.228138852, 10.0), 0.05, 1e-8);
    EXPECT_LT(inference::student_t_two_sided(40.0, 30.0), 1e-25);
    EXPECT_GT(inference::student_t_two_sided(40.0, 30.0), 0.0);
}

TEST(RegimeRegression, StandardErrorsEqualTheKroneckerFormula) {
    const int n = 80;
    const int k = 3;
    const int p = 2;
    const int q = p * k;
    const double_matrix m = testing::random_series(n, k, 11);
    const SeriesRows rows = rows_of(m, n, k);
    // An irregular set of times, as a regime has.
    std::vector<int> times;
    for (int t = p + 1; t <= n; ++t) {
        if (t % 3 != 0) {
            times.push_back(t);
        }
    }
    const int nr = static_cast<int>(times.size());
    const inference::RegimeRegression g = inference::regress_regime(rows, times, p);
    ASSERT_TRUE(g.estimated);
    EXPECT_EQ(g.degrees_of_freedom, nr - q);

    // Reference: Z and Y explicitly, (Z'Z)^-1 by Gauss-Jordan elimination.
    double_matrix zz(1, q, 1, q);
    std::vector<double> z(ix(nr) * ix(q));
    for (int r = 0; r < nr; ++r) {
        for (int lag = 1; lag <= p; ++lag) {
            for (int c = 1; c <= k; ++c) {
                z[ix(r) * ix(q) + ix((lag - 1) * k + c - 1)] = rows.at(times[ix(r)] - lag, c);
            }
        }
    }
    for (int i = 0; i < q; ++i) {
        for (int j = 0; j < q; ++j) {
            double s = 0.0;
            for (int r = 0; r < nr; ++r) {
                s += z[ix(r) * ix(q) + ix(i)] * z[ix(r) * ix(q) + ix(j)];
            }
            zz[i + 1][j + 1] = s;
        }
    }
    ASSERT_NE(inversanr(zz, q), 0);
    std::vector<double> b(ix(q) * ix(k), 0.0);
    for (int i = 0; i < q; ++i) {
        for (int c = 0; c < k; ++c) {
            for (int j = 0; j < q; ++j) {
                for (int r = 0; r < nr; ++r) {
                    b[ix(i) * ix(k) + ix(c)] +=
                        zz[i + 1][j + 1] * z[ix(r) * ix(q) + ix(j)] * rows.at(times[ix(r)], c + 1);
                }
            }
        }
    }
    std::vector<double> sigma(ix(k) * ix(k), 0.0);
    for (int r = 0; r < nr; ++r) {
        std::vector<double> e(ix(k));
        for (int c = 0; c < k; ++c) {
            e[ix(c)] = rows.at(times[ix(r)], c + 1);
            for (int i = 0; i < q; ++i) {
                e[ix(c)] -= b[ix(i) * ix(k) + ix(c)] * z[ix(r) * ix(q) + ix(i)];
            }
        }
        for (int a = 0; a < k; ++a) {
            for (int c = 0; c < k; ++c) {
                sigma[ix(a) * ix(k) + ix(c)] += e[ix(a)] * e[ix(c)] / (nr - q);
            }
        }
    }
    // Var(vec B) = Sigma (x) (Z'Z)^-1 with vec stacking the equations.
    const int dim = q * k;
    std::vector<double> kron(ix(dim) * ix(dim));
    for (int c1 = 0; c1 < k; ++c1) {
        for (int c2 = 0; c2 < k; ++c2) {
            for (int i1 = 0; i1 < q; ++i1) {
                for (int i2 = 0; i2 < q; ++i2) {
                    kron[ix(c1 * q + i1) * ix(dim) + ix(c2 * q + i2)] =
                        sigma[ix(c1) * ix(k) + ix(c2)] * zz[i1 + 1][i2 + 1];
                }
            }
        }
    }
    for (int c = 0; c < k; ++c) {
        for (int i = 0; i < q; ++i) {
            const std::size_t at = ix(i) * ix(k) + ix(c);
            const double se = std::sqrt(kron[ix(c * q + i) * ix(dim) + ix(c * q + i)]);
            EXPECT_NEAR(g.coefficients[at], b[at], 1e-12);
            EXPECT_NEAR(g.standard_errors[at], se, 1e-12 * se);
            EXPECT_NEAR(g.t_values[at], b[at] / se, 1e-9);
            EXPECT_NEAR(g.p_values[at], inference::student_t_two_sided(b[at] / se, nr - q), 1e-12);
        }
    }
}

TEST(ModelInference, RegimesAreTheEstimatorsRegressions) {
    const int n = 300;
    const int k = 3;
    const double_matrix series = testing::random_series(n, k, 77);
    ModelProblem problem;
    problem.serie_matrix = &series;
    problem.n_oss = n;
    problem.n_comp = k;
    problem.model.min_obs_per_regime = 30;
    problem.model.max_order = 2;
    // Positions whose values lie at a quantile q of a component.
    auto position_at = [&](int c, double q) {
        std::vector<std::pair<double, int>> v;
        for (int t = 1; t < n; ++t) {
            v.emplace_back(series[t][c], t);
        }
        std::sort(v.begin(), v.end());
        return v[static_cast<std::size_t>(q * static_cast<double>(v.size()))].second;
    };
    ModelStructure one;
    one.threshold_variables = 1;
    one.one = {2, 3, {position_at(2, 0.6), position_at(2, 0.3), 0}, 2};
    ModelStructure two;
    two.threshold_variables = 2;
    two.two.which_serie1 = 1;
    two.two.which_serie2 = 3;
    two.two.pos_thres_1 = position_at(1, 0.5);
    two.two.pos_thres_2 = position_at(3, 0.4);
    two.two.n_regime = 3;
    two.two.type_model = 1;
    two.two.Ritardo1 = 1;
    two.two.Ritardo2 = 4;
    for (const ModelStructure& s : {one, two}) {
        const FittedModel fit = estimate(problem, s);
        ASSERT_TRUE(fit.estimated()) << status_name(fit.status);
        const inference::ModelInference inf =
            inference::infer_model(problem, s, fit.thresholds, fit.criterion, {});
        ASSERT_EQ(static_cast<int>(inf.regimes.size()), fit.n_regime);
        for (int r = 1; r <= fit.n_regime; ++r) {
            const inference::RegimeRegression& g = inf.regimes[ix(r - 1)];
            ASSERT_TRUE(g.estimated);
            EXPECT_EQ(g.times, fit.regime(r).times) << "regime " << r;
            for (int lag = 1; lag <= 2; ++lag) {
                for (int eq = 1; eq <= k; ++eq) {
                    for (int v = 1; v <= k; ++v) {
                        EXPECT_NEAR(g.coefficients[ix((lag - 1) * k + v - 1) * ix(k) + ix(eq - 1)],
                                    fit.coefficient(r, lag, eq, v), 1e-10);
                    }
                }
            }
        }
        EXPECT_FALSE(inf.linearity.has_value());
        ASSERT_TRUE(inf.confidence.has_value());
        EXPECT_EQ(inf.confidence->intervals.size(), 2u);  // two thresholds either way
    }
}

TEST(RegimeRegression, TooFewObservationsGiveNoTable) {
    const double_matrix m = testing::random_series(40, 2, 3);
    const SeriesRows rows = rows_of(m, 40, 2);
    const std::vector<int> times{5, 6, 7, 8};  // 4 observations, 4 coefficients per equation
    EXPECT_FALSE(inference::regress_regime(rows, times, 2).estimated);
    const std::vector<int> early{1, 2, 3};
    EXPECT_THROW(inference::regress_regime(rows, early, 1), std::invalid_argument);
}

// The estimators' criterion for one regime holding every time, written out:
// at each order p the residuals of times p+1..n fill the first rows of an
// n x k table (rows a lower order wrote stay), and the criterion is
// ln det of that table's covariance (demeaned, divided by n) + 2 m k^2 / n.
double reference_linear_criterion(const SeriesRows& rows, int m) {
    const int n = rows.n;
    const int k = rows.k;
    std::vector<double> table(ix(n) * ix(k), 0.0);
    for (int p = 1; p <= m; ++p) {
        std::vector<int> times(ix(n - p));
        std::iota(times.begin(), times.end(), p + 1);
        const inference::RegimeRegression g = inference::regress_regime(rows, times, p);
        std::copy(g.residuals.begin(), g.residuals.end(), table.begin());
    }
    std::vector<double> mean(ix(k), 0.0);
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < k; ++c) {
            mean[ix(c)] += table[ix(r) * ix(k) + ix(c)] / n;
        }
    }
    double_matrix cov(1, k, 1, k);
    for (int a = 0; a < k; ++a) {
        for (int b = 0; b < k; ++b) {
            double s = 0.0;
            for (int r = 0; r < n; ++r) {
                s += (table[ix(r) * ix(k) + ix(a)] - mean[ix(a)]) *
                     (table[ix(r) * ix(k) + ix(b)] - mean[ix(b)]);
            }
            cov[a + 1][b + 1] = s / n;
        }
    }
    ivector indx(1, k);
    double d = 0.0;
    ludcmp(cov, k, indx, d);
    for (int c = 1; c <= k; ++c) {
        d *= cov[c][c];
    }
    return std::log(d) + 2.0 * m * k * k / n;
}

TEST(LinearVar, CriterionIsTheEstimatorsFormulaForOneRegime) {
    for (int m : {1, 2, 3}) {
        const int n = 150;
        const int k = 3;
        const double_matrix series = testing::random_series(n, k, 40 + static_cast<unsigned>(m));
        ModelProblem problem;
        problem.serie_matrix = &series;
        problem.n_oss = n;
        problem.n_comp = k;
        problem.model.min_obs_per_regime = 10;
        problem.model.max_order = m;
        const inference::LinearVar var = inference::fit_linear_var(problem);
        ASSERT_EQ(var.criterion.status, EstimateStatus::estimated);
        EXPECT_NEAR(var.criterion.criterion, reference_linear_criterion(rows_of(series, n, k), m),
                    1e-10)
            << "m = " << m;
        ASSERT_TRUE(var.regression.estimated);
        EXPECT_EQ(var.regression.observations, n - m);

        // One step of the forecast is the regression's fitted value.
        const SeriesRows rows = rows_of(series, n, k);
        const std::vector<double> one =
            inference::linear_var_forecast(var.regression, rows, n - 1, 1);
        for (int c = 0; c < k; ++c) {
            const double residual = var.regression.residuals[ix(n - m - 1) * ix(k) + ix(c)];
            EXPECT_NEAR(one[ix(c)], rows.at(n, c + 1) - residual, 1e-12);
        }
    }
}

// ln det of the summed residual cross products of explicit regressions.
double explicit_log_det(const SeriesRows& rows, const ThresholdRule& rule,
                        const std::array<double, 3>& thresholds, int order) {
    const inference::ThresholdData data = inference::prepare_threshold_data(rows, rule, order);
    std::vector<std::vector<int>> times(ix(rule.n_regime));
    for (int i = 0; i < data.count(); ++i) {
        const int r = inference::regime_of(rule, thresholds, data.z1[ix(i)], data.z2[ix(i)]);
        times[ix(r - 1)].push_back(data.times[ix(i)]);
    }
    const int k = rows.k;
    double_matrix s(1, k, 1, k);
    for (const auto& list : times) {
        const inference::RegimeRegression g = inference::regress_regime(rows, list, order);
        for (std::size_t r = 0; r < list.size(); ++r) {
            for (int a = 0; a < k; ++a) {
                for (int b = 0; b < k; ++b) {
                    s[a + 1][b + 1] += g.residuals[r * ix(k) + ix(a)] *
                                       g.residuals[r * ix(k) + ix(b)] / data.count();
                }
            }
        }
    }
    ivector indx(1, k);
    double d = 0.0;
    ludcmp(s, k, indx, d);
    for (int c = 1; c <= k; ++c) {
        d *= s[c][c];
    }
    return std::log(d);
}

std::vector<ThresholdRule> sample_rules() {
    ThresholdRule one;
    one.n_regime = 2;
    one.component = {2, 2};
    one.lag = {3, 3};
    ThresholdRule three = one;
    three.n_regime = 3;
    three.lag = {1, 1};
    ThresholdRule two;
    two.variables = 2;
    two.n_regime = 3;
    two.type_model = 3;
    two.component = {1, 3};
    two.lag = {2, 1};
    return {one, three, two};
}

TEST(ThresholdSweep, EverySweptValueEqualsAFreshEstimate) {
    const SeriesRows rows = two_regime_series(160, 3, 0.0, 0.5, 5);
    for (const ThresholdRule& rule : sample_rules()) {
        const inference::ThresholdData data = inference::prepare_threshold_data(rows, rule, 2);
        std::vector<double> z1 = data.z1;
        std::vector<double> z2 = data.z2;
        std::sort(z1.begin(), z1.end());
        std::sort(z2.begin(), z2.end());
        std::array<double, 3> start{1e6, 1e6, 1e6};
        if (rule.variables == 1) {
            for (int j = 0; j < rule.n_regime - 1; ++j) {
                start[ix(j)] = z1[ix((j + 1) * data.count() / rule.n_regime)];
            }
        } else {
            start = {z1[ix(data.count() / 2)], z2[ix(data.count() / 2)], 0.0};
        }
        const int min_count = 15;
        EXPECT_NEAR(inference::log_det_at(data, rule, start, min_count),
                    explicit_log_det(rows, rule, start, 2), 1e-10);
        for (int j = 0; j < rule.threshold_count(); ++j) {
            const auto points = inference::sweep_threshold(data, rule, start, j, min_count);
            ASSERT_FALSE(points.empty());
            // Exhaustive: every value of the threshold variable that keeps
            // each regime at min_count, estimated afresh, has the value of
            // the swept point with the same split (the largest candidate not
            // above it), and every swept point is such a value.
            for (const auto& point : points) {
                auto t = start;
                t[ix(j)] = point.threshold;
                EXPECT_NEAR(point.log_det, inference::log_det_at(data, rule, t, min_count), 1e-10);
            }
            const std::vector<double>& z = rule.variables == 1 || j == 0 ? z1 : z2;
            for (double v : std::set<double>(z.begin(), z.end())) {
                auto t = start;
                t[ix(j)] = v;
                if (rule.variables == 1 && ((j > 0 && v <= start[ix(j - 1)]) ||
                                            (j < rule.n_regime - 2 && v > start[ix(j + 1)]))) {
                    continue;
                }
                const double fresh = inference::log_det_at(data, rule, t, min_count);
                if (std::isfinite(fresh)) {
                    const int at = inference::point_of(points, v);
                    ASSERT_GE(at, 0);
                    EXPECT_NEAR(points[ix(at)].log_det, fresh, 1e-10);
                }
            }
        }
    }
}

TEST(LinearityTest, LrIsZeroWhenOneRegimeHoldsEverything) {
    const SeriesRows rows = two_regime_series(120, 2, 0.0, 0.8, 9);
    for (const ThresholdRule& rule : sample_rules()) {
        const inference::ThresholdData data = inference::prepare_threshold_data(rows, rule, 2);
        const double top1 = *std::max_element(data.z1.begin(), data.z1.end());
        const double top2 = *std::max_element(data.z2.begin(), data.z2.end());
        const std::array<double, 3> all_low = rule.variables == 1
                                                  ? std::array<double, 3>{top1, 1e6, 1e6}
                                                  : std::array<double, 3>{top1, top2, 0.0};
        EXPECT_EQ(inference::likelihood_ratio(data, rule, all_low), 0.0);
        // A real split fits better than the linear VAR.
        std::vector<double> z1 = data.z1;
        std::vector<double> z2 = data.z2;
        std::sort(z1.begin(), z1.end());
        std::sort(z2.begin(), z2.end());
        auto split = all_low;
        split[0] = z1[z1.size() / 2];
        if (rule.variables == 2) {
            split[1] = z2[z2.size() / 2];
        }
        EXPECT_GT(inference::likelihood_ratio(data, rule, split), 0.0);
    }
}

TEST(LinearityTest, BootstrapIsReproducibleAcrossThreadsAndFollowsTheSeed) {
    const LinearBootstrapCase c;
    const auto& [rows, rule, data, start] = c;
    inference::LinearityTestOptions options = LinearBootstrapCase::options(40);
    const auto one = inference::test_linearity(rows, rule, start, 1, options);
    options.threads = 2;
    const auto two = inference::test_linearity(rows, rule, start, 1, options);
    options.threads = 3;
    const auto three = inference::test_linearity(rows, rule, start, 1, options);
    ASSERT_EQ(one.replicates, 40);
    EXPECT_EQ(one.bootstrap, two.bootstrap);
    EXPECT_EQ(one.bootstrap, three.bootstrap);
    EXPECT_EQ(one.p_value, two.p_value);
    EXPECT_GT(one.p_value, 0.0);
    EXPECT_LT(one.p_value, 1.0);

    // Another seed: other bootstrap series, and for some seed another p-value.
    bool p_changed = false;
    for (std::uint64_t seed : {8u, 9u, 10u}) {
        options.seed = seed;
        const auto other = inference::test_linearity(rows, rule, start, 1, options);
        EXPECT_NE(other.bootstrap, one.bootstrap);
        EXPECT_EQ(other.lr, one.lr);
        p_changed = p_changed || other.p_value != one.p_value;
    }
    EXPECT_TRUE(p_changed);

    // The data statistic is the supremum over the candidate thresholds.
    for (const auto& p : inference::sweep_threshold(data, rule, start, 0, 30)) {
        EXPECT_LE(data.count() * (one.log_det_linear - p.log_det), one.lr + 1e-8);
    }
}

// A stop says how far the bootstrap got: the replicates finished before it
// are counted (with their exceedances, as the complete test counts them), the
// p-value stays unknown.
TEST(LinearityTest, StoppedBootstrapCountsTheReplicatesItFinished) {
    const LinearBootstrapCase c;
    const auto& [rows, rule, data, start] = c;
    // Progress is told at most every 100 ms: far more replicates than fit in
    // that time, stopped at the first report.
    inference::LinearityTestOptions options = LinearBootstrapCase::options(100000);
    std::atomic<bool> stop{false};
    options.stop = &stop;
    int told = 0;
    options.progress = [&](int done, int) {
        told = done;
        stop = true;
    };
    const auto cut = inference::test_linearity(rows, rule, start, 1, options);
    ASSERT_TRUE(cut.stopped);
    EXPECT_TRUE(std::isnan(cut.p_value));
    ASSERT_GT(told, 0);
    EXPECT_EQ(cut.replicates + cut.failed, told);

    // Each replicate has its own stream: the finished ones are those of a
    // complete test of that size.
    options.replicates = told;
    options.stop = nullptr;
    options.progress = nullptr;
    const auto whole = inference::test_linearity(rows, rule, start, 1, options);
    ASSERT_FALSE(whole.stopped);
    EXPECT_EQ(cut.replicates, whole.replicates);
    EXPECT_EQ(cut.failed, whole.failed);
    const int exceedances = whole.exceedances;
    EXPECT_EQ(cut.exceedances, exceedances);
}

TEST(ThresholdConfidence, ContainsTheEstimateAndShrinksAsTheEffectGrows) {
    EXPECT_NEAR(inference::confidence_critical_value(0.95), 7.352, 5e-4);
    ThresholdRule rule;
    rule.component = {1, 1};
    std::vector<double> widths;
    for (double effect : {0.3, 0.7, 1.2}) {
        double width = 0.0;
        for (std::uint64_t seed : {1u, 2u, 3u, 4u}) {
            const SeriesRows rows = two_regime_series(400, 2, 0.3, effect, seed);
            const inference::ThresholdData data = inference::prepare_threshold_data(rows, rule, 1);
            const auto best = inference::minimise_thresholds(data, rule, median_start(data), 40);
            const auto set = inference::threshold_confidence(data, rule, best.thresholds, 40, 0.95);
            ASSERT_EQ(set.intervals.size(), 1u);
            const auto& i = set.intervals[0];
            EXPECT_LE(i.low, best.thresholds[0]);
            EXPECT_GE(i.high, best.thresholds[0]);
            EXPECT_GE(i.inside, 1);
            EXPECT_FALSE(set.others_held);
            width += i.high - i.low;
        }
        widths.push_back(width / 4);
    }
    EXPECT_GT(widths[0], widths[1]);
    EXPECT_GT(widths[1], widths[2]);
}

TEST(ThresholdConfidence, EachOfSeveralThresholdsWithTheOthersHeld) {
    const SeriesRows rows = two_regime_series(300, 3, 0.0, 0.8, 12);
    for (const ThresholdRule& rule : sample_rules()) {
        if (rule.threshold_count() < 2) {
            continue;
        }
        const inference::ThresholdData data = inference::prepare_threshold_data(rows, rule, 2);
        std::vector<double> z1 = data.z1;
        std::vector<double> z2 = data.z2;
        std::sort(z1.begin(), z1.end());
        std::sort(z2.begin(), z2.end());
        const std::array<double, 3> start =
            rule.variables == 1
                ? std::array<double, 3>{z1[z1.size() / 3], z1[2 * z1.size() / 3], 1e6}
                : std::array<double, 3>{z1[z1.size() / 2], z2[z2.size() / 2], 0.0};
        const auto best = inference::minimise_thresholds(data, rule, start, 30);
        ASSERT_TRUE(std::isfinite(best.log_det));
        const auto set = inference::threshold_confidence(data, rule, best.thresholds, 30, 0.9);
        EXPECT_TRUE(set.others_held);
        ASSERT_EQ(set.intervals.size(), 2u);
        for (int j = 0; j < 2; ++j) {
            const auto& i = set.intervals[ix(j)];
            EXPECT_EQ(i.estimate, best.thresholds[ix(j)]);
            EXPECT_LE(i.low, i.estimate);
            EXPECT_GE(i.high, i.estimate);
            EXPECT_GE(i.inside, 1);
            EXPECT_LE(i.inside, i.candidates);
        }
        // A one-variable set stays between the neighbouring thresholds.
        if (rule.variables == 1) {
            EXPECT_LE(set.intervals[0].high, best.thresholds[1]);
            EXPECT_GT(set.intervals[1].low, best.thresholds[0]);
        }
        // The coordinate-wise minimum: no single sweep improves on it.
        for (int j = 0; j < 2; ++j) {
            for (const auto& p : inference::sweep_threshold(data, rule, best.thresholds, j, 30)) {
                EXPECT_GE(p.log_det, best.log_det - 1e-9);
            }
        }
    }
}

}  // namespace
}  // namespace velmora
