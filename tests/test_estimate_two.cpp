#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "model/estimate.hpp"
#include "model_test_helpers.hpp"
#include "output/report/model_report.hpp"

namespace velmora {
namespace {

using testing::criterion_of;
using testing::exact_rotation_fixture;
using testing::fit_and_report;
using testing::fresh_directory;
using testing::ProblemFixture;
using testing::random_series;
using testing::read_lines;
using testing::same_bits;

TwoThresholdStructure two(int c1, int c2, int pos1, int pos2, int regimes, int type, int lag1,
                          int lag2) {
    TwoThresholdStructure s;
    s.which_serie1 = c1;
    s.which_serie2 = c2;
    s.pos_thres_1 = pos1;
    s.pos_thres_2 = pos2;
    s.n_regime = regimes;
    s.type_model = type;
    s.Ritardo1 = lag1;
    s.Ritardo2 = lag2;
    return s;
}

struct TwoCase {
    int ws1, ws2, pos1, pos2, n_regime, type_model, lag1, lag2;
};

TEST(EstimateTwo, MatchesTheTextbookProcedureBitForBit) {
    const TwoCase cases[] = {
        {1, 2, 37, 120, 4, 0, 1, 1}, {2, 1, 0, 0, 4, 0, 2, 5},   {1, 2, 80, 15, 3, 1, 3, 1},
        {1, 2, 200, 7, 3, 2, 6, 2},  {2, 1, 66, 99, 3, 3, 1, 4}, {1, 2, 2, 3, 4, 0, 1, 1},
    };
    for (int k : {2, 4, 8}) {
        for (int m = 1; m <= 4; ++m) {
            ProblemFixture fx(random_series(300, k, 40 + k), 300, k, m, 8);
            EstimationWorkspace ws(fx.problem);
            for (const TwoCase& c : cases) {
                const TwoThresholdStructure s =
                    two(c.ws1, c.ws2, c.pos1, c.pos2, c.n_regime, c.type_model, c.lag1, c.lag2);
                const double got = criterion_of(fx.problem, ws, s);
                const FittedModel summary = estimate(fx.problem, ws, s);
                EXPECT_TRUE(same_bits(summary.criterion, got));
                double want_total = 0.0;
                const double want = testing::reference_two_thresholds(
                    fx.problem, c.ws1, c.ws2, c.pos1, c.pos2, c.n_regime, c.type_model, c.lag1,
                    c.lag2, &want_total);
                EXPECT_TRUE(same_bits(got, want))
                    << "k=" << k << " m=" << m << " type=" << c.type_model << " got " << got
                    << " want " << want;
                if (want != 0.0) {
                    EXPECT_TRUE(same_bits(summary.aic_total, want_total))
                        << "aic_total k=" << k << " m=" << m << " type=" << c.type_model << " got "
                        << summary.aic_total << " want " << want_total;
                }
            }
        }
    }
}

TEST(EstimateTwo, RecoversTheCoefficientsOfEachQuadrant) {
    const int k = 4;
    const int n = 1200;
    const std::vector<std::vector<double>> coefficients{
        testing::rotation(k, {0.45, 1.3}), testing::rotation(k, {0.7, 0.2}),
        testing::rotation(k, {1.1, -0.9}), testing::rotation(k, {0.3, 2.1})};
    // Quadrants of (component 1 lag 1, component 2 lag 2) around (0, 0).
    auto rule = [](const double_matrix& x, int t) {
        if (t < 3) {
            return 0;
        }
        const bool a_high = x[t - 1][1] > 0.0;
        const bool b_high = x[t - 2][2] > 0.0;
        return a_high ? (b_high ? 1 : 0) : (b_high ? 3 : 2);
    };
    ProblemFixture fx(testing::threshold_var1_series(n, k, 50, coefficients, rule, 1e-7, 9), n, k,
                      1, 20);
    const int pos1 = testing::position_splitting_at_zero(fx.serie, 1, n - 1);
    const int pos2 = testing::position_splitting_at_zero(fx.serie, 2, n - 1);
    ASSERT_GT(pos1, 0);
    ASSERT_GT(pos2, 0);
    EstimationWorkspace ws(fx.problem);
    const FittedModel model = estimate(fx.problem, ws, two(1, 2, pos1, pos2, 4, 0, 1, 2));
    ASSERT_TRUE(model.estimated());
    for (int r = 1; r <= 4; ++r) {
        for (int c = 1; c <= k; ++c) {
            for (int l = 1; l <= k; ++l) {
                EXPECT_NEAR(model.coefficient(r, 1, c, l),
                            coefficients[static_cast<size_t>(r - 1)]
                                        [static_cast<size_t>((c - 1) * k + l - 1)],
                            2e-5)
                    << "regime " << r;
            }
        }
    }
}

TEST(EstimateTwo, QuadrantsMergeIntoRegimesByTypeOfModel) {
    // Threshold variables that take -1, 0, 1 so that many values sit exactly
    // on a threshold (0): those count as "not above".
    const int n = 300;
    ProblemFixture fx(random_series(n, 4, 77), n, 4, 2, 3);
    std::mt19937 gen(17);
    for (int t = 1; t <= n; ++t) {
        fx.serie[t][1] = static_cast<double>(static_cast<int>(gen() % 3)) - 1.0;
        fx.serie[t][2] = static_cast<double>(static_cast<int>(gen() % 3)) - 1.0;
    }
    const int zero1 = 11;
    const int zero2 = 23;
    fx.serie[zero1][1] = 0.0;
    fx.serie[zero2][2] = 0.0;
    const int lag1 = 1;
    const int lag2 = 3;
    int quadrant[5] = {};
    for (int t = std::max({lag1, lag2, fx.problem.model.max_order}) + 1; t <= n; ++t) {
        const double a = fx.serie[t - lag1][1];
        const double b = fx.serie[t - lag2][2];
        quadrant[a > 0.0 ? (b <= 0.0 ? 1 : 2) : (b <= 0.0 ? 3 : 4)] += 1;
    }
    const std::array<int, 4> want[4] = {
        {quadrant[1], quadrant[2], quadrant[3], quadrant[4]},
        {quadrant[1] + quadrant[2], quadrant[3], quadrant[4], 0},
        {quadrant[1], quadrant[2], quadrant[3] + quadrant[4], 0},
        {quadrant[2], quadrant[4], quadrant[1] + quadrant[3], 0},
    };
    EstimationWorkspace ws(fx.problem);
    for (int type = 0; type <= 3; ++type) {
        const FittedModel summary =
            estimate(fx.problem, ws, two(1, 2, zero1, zero2, type == 0 ? 4 : 3, type, lag1, lag2));
        ASSERT_EQ(summary.status, EstimateStatus::estimated) << "type " << type;
        EXPECT_EQ((std::array<int, 4>{summary.observations(1), summary.observations(2),
                                      summary.observations(3), summary.observations(4)}),
                  want[type])
            << "type " << type;
    }
}

TEST(EstimateTwo, PositionZeroStandsForTimeOne) {
    ProblemFixture fx(random_series(100, 3, 5), 100, 3, 1, 3);
    EstimationWorkspace ws(fx.problem);
    const FittedModel summary = estimate(fx.problem, ws, two(2, 3, 0, 0, 4, 0, 1, 1));
    EXPECT_EQ(summary.thresholds[0], fx.serie[1][2]);
    EXPECT_EQ(summary.thresholds[1], fx.serie[1][3]);
    const double at_zero = criterion_of(fx.problem, ws, two(2, 3, 0, 0, 4, 0, 1, 1));
    const double at_one = criterion_of(fx.problem, ws, two(2, 3, 1, 1, 4, 0, 1, 1));
    EXPECT_TRUE(same_bits(at_zero, at_one));
}

TEST(EstimateTwo, ReportFilesFollowTheDocumentedLayout) {
    const int n = 200;
    const int k = 2;
    ProblemFixture fx(random_series(n, k, 61), n, k, 2, 5);
    fx.problem.result_dir = fresh_directory("layout_two");
    EstimationWorkspace ws(fx.problem);

    const int pos1 = testing::position_splitting_at_zero(fx.serie, 1, n - 1);
    const int pos2 = testing::position_splitting_at_zero(fx.serie, 2, n - 1);
    const FittedModel last = fit_and_report(fx.problem, ws, two(1, 2, pos1, pos2, 4, 0, 2, 1));
    const double aic = last.criterion;
    ASSERT_EQ(last.status, EstimateStatus::estimated);
    const double t1 = fx.serie[pos1][1];
    const double t2 = fx.serie[pos2][2];
    int size[3][5] = {};
    for (int p = 1; p <= 2; ++p) {
        for (int t = std::max(p, 2) + 1; t <= n; ++t) {
            const double a = fx.serie[t - 2][1];
            const double b = fx.serie[t - 1][2];
            size[p][a > t1 ? (b <= t2 ? 1 : 2) : (b <= t2 ? 3 : 4)] += 1;
        }
    }

    const auto out = read_lines(fx.problem.result_dir / "OutputThresholdBivariate.txt");
    size_t at = 0;
    auto next = [&]() -> std::string { return at < out.size() ? out[at++] : "<end>"; };
    char buf[128];
    EXPECT_EQ(next(), "Number of Regime = 4\t Type of model=0");
    EXPECT_EQ(next(), "Threshold Variable: [(1,2) ;  (2,1)]");
    std::snprintf(buf, sizeof buf, "Threshold 1 = %f", t1);
    EXPECT_EQ(next(), buf);
    std::snprintf(buf, sizeof buf, "Threshold 2 = %f", t2);
    EXPECT_EQ(next(), buf);
    int fitted_lines = 0;
    for (int p = 1; p <= 2; ++p) {
        for (int r = 1; r <= 4; ++r) {
            EXPECT_EQ(next(), "Regime: " + std::to_string(r));
            EXPECT_EQ(next(), "Number of Observation: " + std::to_string(size[p][r]));
            for (int i = 1; i <= p * k * k; ++i) {
                EXPECT_EQ(next().rfind("Phi[" + std::to_string(i) + "]=", 0), 0u);
            }
            for (int i = 0; i < k * k; ++i) {
                EXPECT_EQ(next().rfind("sigma[", 0), 0u);
            }
            fitted_lines += size[p][r];
        }
    }
    for (int i = 0; i < k * k; ++i) {
        EXPECT_EQ(next().rfind("sigma[", 0), 0u);
    }
    std::snprintf(buf, sizeof buf, "Num_tot_par=%d  aic_global=%f", 4 * 2 * k * k, aic);
    EXPECT_EQ(next(), buf);
    std::snprintf(buf, sizeof buf, " Fit2 = %f", std::exp(-aic / 100.0));
    EXPECT_EQ(next(), buf);
    std::snprintf(buf, sizeof buf, " aic_total = %f  Fitness = %f", last.aic_total,
                  std::exp(-last.aic_total / 100.0));
    EXPECT_EQ(next(), buf);
    EXPECT_EQ(at, out.size());

    // No separating lines: one line per fitted observation, all blocks in a row.
    const auto pred = read_lines(fx.problem.result_dir / "PredictionThresholdBivariate.txt");
    const auto res = read_lines(fx.problem.result_dir / "ResidualThresholdBivariate.txt");
    EXPECT_EQ(static_cast<int>(pred.size()), fitted_lines);
    EXPECT_EQ(static_cast<int>(res.size()), fitted_lines);
    ASSERT_FALSE(res.empty());
    EXPECT_EQ(res[0].rfind("Residual[1][1]= ", 0), 0u);
    // Six decimals here.
    EXPECT_EQ(res[0].find('\t') - res[0].find('.') - 1, 6u);
    EXPECT_EQ(pred[0].rfind("FIT[1][1]= ", 0), 0u);
}

TEST(EstimateTwo, RegimeCriterionAddsUpToTheReportedTotal) {
    ProblemFixture fx(random_series(300, 3, 12), 300, 3, 2, 10);
    EstimationWorkspace ws(fx.problem);
    const FittedModel s = estimate(fx.problem, ws, two(1, 2, 150, 150, 3, 2, 1, 1));
    const double aic = s.criterion;
    ASSERT_EQ(s.status, EstimateStatus::estimated);
    EXPECT_EQ(s.criterion, aic);
    // Each regime contributes n_r ln det + (2/n_r) m k^2 >= its own scale; the
    // total is their mean over n_oss, so it stays finite and is not the
    // global criterion.
    EXPECT_TRUE(std::isfinite(s.aic_total));
    EXPECT_NE(s.aic_total, aic);
}

TEST(EstimateTwo, SingularRegimeCovarianceMakesTheStructureNotEstimable) {
    // The exact right-angle rotation: regime 1 ({component 1 > -1}) fits with
    // residuals exactly zero, so its covariance is all zeros.
    ProblemFixture fx = exact_rotation_fixture();
    fx.problem.result_dir = fresh_directory("singular_cov_two");
    EstimationWorkspace ws(fx.problem);
    const FittedModel summary = fit_and_report(fx.problem, ws, two(1, 2, 2, 2, 3, 1, 1, 1));
    EXPECT_EQ(summary.criterion, 0.0);
    EXPECT_EQ(summary.status, EstimateStatus::singular_covariance);
    EXPECT_EQ(summary.failed_regime, 1);
    const auto out = read_lines(fx.problem.result_dir / "OutputThresholdBivariate.txt");
    ASSERT_FALSE(out.empty());
    EXPECT_NE(out.back().find("singular"), std::string::npos) << out.back();
}

TEST(EstimateTwo, RefusesArgumentsOutsideTheProblem) {
    ProblemFixture fx(random_series(100, 2, 4), 100, 2, 2, 5);
    EstimationWorkspace ws(fx.problem);
    EXPECT_THROW(criterion_of(fx.problem, ws, two(1, 3, 10, 10, 4, 0, 1, 1)),
                 std::invalid_argument);
    EXPECT_THROW(criterion_of(fx.problem, ws, two(1, 2, 100, 10, 4, 0, 1, 1)),
                 std::invalid_argument);
    EXPECT_THROW(criterion_of(fx.problem, ws, two(1, 2, 10, 10, 3, 0, 1, 1)),
                 std::invalid_argument);
    EXPECT_THROW(criterion_of(fx.problem, ws, two(1, 2, 10, 10, 4, 2, 1, 1)),
                 std::invalid_argument);
    EXPECT_THROW(criterion_of(fx.problem, ws, two(1, 2, 10, 10, 4, 0, 0, 1)),
                 std::invalid_argument);
}

}  // namespace
}  // namespace velmora
