#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>
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

using testing::RecordingConsole;

OneThresholdStructure one(int component, int regimes, std::array<int, 3> positions, int lag) {
    OneThresholdStructure s;
    s.which_serie = component;
    s.n_regime = regimes;
    s.pos_threshold = positions;
    s.threshold_lag = lag;
    return s;
}

struct OneCase {
    int which_serie;
    int n_regime;
    std::array<int, 3> pos;
    int lag;
};

TEST(EstimateOne, MatchesTheTextbookProcedureBitForBit) {
    const OneCase cases[] = {
        {1, 2, {37, 0, 0}, 1},     {2, 2, {0, 5, 9}, 2},      {1, 3, {150, 80, 0}, 3},
        {2, 4, {10, 200, 120}, 6}, {1, 4, {250, 40, 140}, 4}, {2, 3, {90, 90, 0}, 1},
    };
    // k = 5 takes the general loops, the others fixed-size ones.
    for (int k : {2, 3, 5}) {
        for (int m = 1; m <= 4; ++m) {
            ProblemFixture fx(random_series(300, k, 11 + k), 300, k, m, 10);
            EstimationWorkspace ws(fx.problem);
            for (const OneCase& c : cases) {
                const double got =
                    criterion_of(fx.problem, ws, one(c.which_serie, c.n_regime, c.pos, c.lag));
                const double want = testing::reference_one_threshold(fx.problem, c.which_serie,
                                                                     c.n_regime, c.pos, c.lag);
                // The kept model is the same arithmetic as the search's path.
                const FittedModel model =
                    estimate(fx.problem, ws, one(c.which_serie, c.n_regime, c.pos, c.lag));
                EXPECT_TRUE(same_bits(model.criterion, got));
                EXPECT_TRUE(same_bits(got, want))
                    << "k=" << k << " m=" << m << " regimes=" << c.n_regime << " lag=" << c.lag
                    << " got " << got << " want " << want;
            }
        }
    }
}

TEST(EstimateOne, WorkspaceReuseDoesNotLeakBetweenCalls) {
    ProblemFixture fx(random_series(200, 3, 5), 200, 3, 3, 10);
    EstimationWorkspace reused(fx.problem);
    const std::array<int, 3> wide{60, 120, 0};
    const std::array<int, 3> narrow{2, 0, 0};
    const double first = criterion_of(fx.problem, reused, one(1, 3, wide, 2));
    criterion_of(fx.problem, reused, one(2, 2, narrow, 5));
    const double again = criterion_of(fx.problem, reused, one(1, 3, wide, 2));
    EstimationWorkspace fresh(fx.problem);
    EXPECT_TRUE(same_bits(first, again));
    EXPECT_TRUE(same_bits(first, criterion_of(fx.problem, fresh, one(1, 3, wide, 2))));
}

TEST(EstimateOne, RecoversTheCoefficientsOfAKnownThresholdVar) {
    const int k = 4;
    const int n = 800;
    const std::vector<std::vector<double>> coefficients{testing::rotation(k, {0.45, 1.3}),
                                                        testing::rotation(k, {0.8, 0.2})};
    // Regime 1 when component 1 one step back is <= 0.
    auto rule = [](const double_matrix& x, int t) { return x[t - 1][1] <= 0.0 ? 0 : 1; };
    ProblemFixture fx(testing::threshold_var1_series(n, k, 50, coefficients, rule, 1e-7, 3), n, k,
                      1, 20);
    const int pos = testing::position_splitting_at_zero(fx.serie, 1, n - 1);
    ASSERT_GT(pos, 0);
    EstimationWorkspace ws(fx.problem);
    const std::array<int, 3> positions{pos, 0, 0};
    const FittedModel model = estimate(fx.problem, ws, one(1, 2, positions, 1));
    ASSERT_TRUE(model.estimated());
    const double aic = model.criterion;
    for (int r = 1; r <= 2; ++r) {
        for (int c = 1; c <= k; ++c) {
            for (int l = 1; l <= k; ++l) {
                // Coefficient of component l in the equation of component c.
                const double want = coefficients[static_cast<size_t>(r - 1)]
                                                [static_cast<size_t>((c - 1) * k + l - 1)];
                EXPECT_NEAR(model.coefficient(r, 1, c, l), want, 2e-5)
                    << "regime " << r << " c=" << c << " l=" << l;
            }
        }
    }
    // The generating structure beats the same model switched by the wrong lag.
    EXPECT_LT(aic, criterion_of(fx.problem, ws, one(1, 2, positions, 3)));
}

TEST(EstimateOne, ThresholdsAscendWithPositionZeroStandingForThirty) {
    ProblemFixture fx(random_series(120, 2, 8), 120, 2, 1, 2);
    fx.serie[5][1] = 0.7;
    fx.serie[9][1] = -0.3;
    fx.serie[30][1] = 0.1;
    EstimationWorkspace ws(fx.problem);
    const std::array<int, 3> positions{5, 9, 0};
    FittedModel summary = estimate(fx.problem, ws, one(1, 4, positions, 1));
    EXPECT_EQ(summary.thresholds[0], -0.3);
    EXPECT_EQ(summary.thresholds[1], 0.1);
    EXPECT_EQ(summary.thresholds[2], 0.7);

    // Unused slots hold one million.
    summary = estimate(fx.problem, ws, one(1, 2, positions, 1));
    EXPECT_EQ(summary.thresholds[0], 0.7);
    EXPECT_EQ(summary.thresholds[1], 1000000.0);
    EXPECT_EQ(summary.thresholds[2], 1000000.0);
}

TEST(EstimateOne, MinimumSearchStartsFromOneHundredMillion) {
    // Each slot starts from a minimum of 1e8 and takes only strictly smaller
    // values: a raw value of 2e8 never wins, and its slot keeps 1e8.
    ProblemFixture fx(random_series(120, 2, 8), 120, 2, 1, 2);
    fx.serie[5][1] = 2.0e8;
    fx.serie[9][1] = 0.5;
    fx.serie[11][1] = 1.0e8;
    EstimationWorkspace ws(fx.problem);
    const std::array<int, 3> positions{5, 9, 11};
    const FittedModel summary = estimate(fx.problem, ws, one(1, 4, positions, 1));
    const double aic = summary.criterion;
    EXPECT_EQ(summary.thresholds[0], 0.5);
    EXPECT_EQ(summary.thresholds[1], 1.0e8);
    EXPECT_EQ(summary.thresholds[2], 1.0e8);
    // Regime 3 lies between two equal thresholds: empty, so not estimable.
    EXPECT_EQ(aic, 0.0);
    EXPECT_EQ(summary.failed_regime, 3);
    EXPECT_EQ(summary.observations(3), 0);

    const std::array<int, 3> two{5, 9, 0};
    const FittedModel three = estimate(fx.problem, ws, one(1, 3, two, 1));
    EXPECT_EQ(three.thresholds[0], 0.5);
    EXPECT_EQ(three.thresholds[1], 1.0e8);
    EXPECT_EQ(three.thresholds[2], 1000000.0);
}

TEST(EstimateOne, EqualThresholdsLeaveAnEmptyRegimeAndReportUpToIt) {
    ProblemFixture fx(random_series(120, 2, 9), 120, 2, 2, 2);
    fx.serie[5][1] = 0.25;
    fx.serie[12][1] = 0.25;
    fx.problem.result_dir = fresh_directory("equal_thresholds");
    EstimationWorkspace ws(fx.problem);
    const std::array<int, 3> positions{12, 5, 0};
    const FittedModel summary = fit_and_report(fx.problem, ws, one(1, 3, positions, 1));
    const double aic = summary.criterion;
    EXPECT_EQ(aic, 0.0);
    EXPECT_EQ(summary.status, EstimateStatus::too_few_observations);
    EXPECT_EQ(summary.failed_regime, 2);
    EXPECT_EQ(summary.order_reached, 1);
    EXPECT_EQ(summary.observations(2), 0);

    const auto out = read_lines(fx.problem.result_dir / "OutputThresholdUnivariate.txt");
    ASSERT_GE(out.size(), 4u);
    const std::vector<std::string> tail(out.end() - 4, out.end());
    EXPECT_EQ(tail[0], "");
    EXPECT_EQ(tail[1], "Regime: 2");
    EXPECT_EQ(tail[2], "Threshold = 0.250000");
    EXPECT_EQ(tail[3], "Number of Observation = 0");
    // Regime 2's heading reached the other two files, nothing after it.
    const auto pred = read_lines(fx.problem.result_dir / "PredictionThresholdUnivariate.txt");
    ASSERT_FALSE(pred.empty());
    EXPECT_EQ(pred.back(), "Regime: 2");
    const auto res = read_lines(fx.problem.result_dir / "ResidualThresholdUnivariate.txt");
    ASSERT_FALSE(res.empty());
    EXPECT_EQ(res.back(), "Regime: 2");
}

TEST(EstimateOne, ValuesEqualToAThresholdBelongToTheLowerRegime) {
    // Component 1 takes only the values -1, 0 and 1; the threshold is 0.
    ProblemFixture fx(random_series(200, 2, 21), 200, 2, 2, 5);
    std::mt19937 gen(5);
    for (int t = 1; t <= 200; ++t) {
        fx.serie[t][1] = static_cast<double>(static_cast<int>(gen() % 3)) - 1.0;
    }
    const int zero_at = 7;
    fx.serie[zero_at][1] = 0.0;
    EstimationWorkspace ws(fx.problem);
    const int lag = 2;
    const std::array<int, 3> positions{zero_at, 0, 0};
    const FittedModel summary = estimate(fx.problem, ws, one(1, 2, positions, lag));
    ASSERT_EQ(summary.status, EstimateStatus::estimated);
    int low = 0;
    int high = 0;
    for (int t = std::max(2, lag) + 1; t <= 200; ++t) {
        (fx.serie[t - lag][1] <= 0.0 ? low : high) += 1;
    }
    EXPECT_EQ(summary.observations(1), low);
    EXPECT_EQ(summary.observations(2), high);
    EXPECT_GT(low, 0);
    EXPECT_GT(high, 0);
}

TEST(EstimateOne, ReportFilesFollowTheDocumentedLayout) {
    const int n = 60;
    const int k = 2;
    ProblemFixture fx(random_series(n, k, 33), n, k, 2, 5);
    fx.problem.replication = 1;
    fx.problem.result_dir = fresh_directory("layout_one");
    EstimationWorkspace ws(fx.problem);
    const std::array<int, 3> positions{17, 0, 0};
    const int lag = 1;
    const FittedModel summary = fit_and_report(fx.problem, ws, one(1, 2, positions, lag));
    const double aic = summary.criterion;
    ASSERT_EQ(summary.status, EstimateStatus::estimated);
    const double threshold = fx.serie[17][1];

    // Regime sizes of both passes, counted independently.
    int size[3][3] = {};
    for (int p = 1; p <= 2; ++p) {
        for (int t = std::max(p, lag) + 1; t <= n; ++t) {
            size[p][fx.serie[t - lag][1] <= threshold ? 1 : 2] += 1;
        }
    }

    const auto out = read_lines(fx.problem.result_dir / "OutputThresholdUnivariate.txt");
    size_t at = 0;
    auto next = [&]() -> std::string { return at < out.size() ? out[at++] : "<end>"; };
    EXPECT_EQ(next(), "Replication of GA:1");
    EXPECT_EQ(next(), "Number of Regime = 2 ");
    EXPECT_EQ(next(), "Threshold Variable: Component= 1\t Lag =1");
    for (int p = 1; p <= 2; ++p) {
        for (int r = 1; r <= 2; ++r) {
            EXPECT_EQ(next(), "");
            EXPECT_EQ(next(), "Regime: " + std::to_string(r));
            if (r == 1) {
                char line[64];
                std::snprintf(line, sizeof line, "Threshold = %f", threshold);
                EXPECT_EQ(next(), line);
            }
            EXPECT_EQ(next(), "Number of Observation = " + std::to_string(size[p][r]));
            for (int i = 1; i <= p * k * k; ++i) {
                EXPECT_EQ(next().rfind("Phi[" + std::to_string(i) + "]=", 0), 0u);
            }
            for (int c = 1; c <= k; ++c) {
                for (int l = 1; l <= k; ++l) {
                    EXPECT_EQ(
                        next().rfind(
                            "Sigma[" + std::to_string(c) + "][" + std::to_string(l) + "] =", 0),
                        0u);
                }
            }
        }
    }
    EXPECT_EQ(next(), "");
    EXPECT_EQ(next(), "Residual VAriance-Covarince Matrix:");
    for (int i = 0; i < k * k; ++i) {
        EXPECT_EQ(next().rfind("Sigma[", 0), 0u);
    }
    char aic_line[64];
    std::snprintf(aic_line, sizeof aic_line, "AIC =%f", aic);
    EXPECT_EQ(next(), aic_line);
    EXPECT_EQ(at, out.size());

    // Prediction and residual files: one block per pass and regime; fitted
    // value plus residual gives back the observation.
    const auto pred = read_lines(fx.problem.result_dir / "PredictionThresholdUnivariate.txt");
    const auto res = read_lines(fx.problem.result_dir / "ResidualThresholdUnivariate.txt");
    ASSERT_EQ(pred.size(), res.size());
    size_t line = 0;
    for (int p = 1; p <= 2; ++p) {
        for (int r = 1; r <= 2; ++r) {
            ASSERT_LT(line + 1, pred.size());
            EXPECT_EQ(pred[line], "");
            EXPECT_EQ(pred[line + 1], "Regime: " + std::to_string(r));
            EXPECT_EQ(res[line + 1], "Regime: " + std::to_string(r));
            line += 2;
            // First observation of the regime in this pass.
            int t = std::max(p, lag) + 1;
            while ((fx.serie[t - lag][1] <= threshold ? 1 : 2) != r) {
                ++t;
            }
            for (int obs = 1; obs <= size[p][r]; ++obs, ++line) {
                ASSERT_LT(line, pred.size());
                double fit[2];
                double resid[2];
                int a = 0;
                int b = 0;
                ASSERT_EQ(std::sscanf(pred[line].c_str(), "FIT[%d][1]= %lf\tFIT[%d][2]= %lf\t", &a,
                                      &fit[0], &b, &fit[1]),
                          4)
                    << pred[line];
                EXPECT_EQ(a, obs);
                ASSERT_EQ(
                    std::sscanf(res[line].c_str(), "Residual[%d][1]= %lf\tResidual[%d][2]= %lf\t",
                                &a, &resid[0], &b, &resid[1]),
                    4)
                    << res[line];
                // Twelve decimals in the residual file.
                EXPECT_NE(res[line].find('.'), std::string::npos);
                EXPECT_EQ(res[line].find('\t') - res[line].find('.') - 1, 12u);
                if (obs == 1) {
                    EXPECT_NEAR(fit[0] + resid[0], fx.serie[t][1], 2e-6);
                    EXPECT_NEAR(fit[1] + resid[1], fx.serie[t][2], 2e-6);
                }
            }
        }
    }
    EXPECT_EQ(line, pred.size());

    // A second report is appended, never truncating the first.
    fit_and_report(fx.problem, ws, one(1, 2, positions, lag));
    EXPECT_EQ(read_lines(fx.problem.result_dir / "OutputThresholdUnivariate.txt").size(),
              2 * out.size());
}

TEST(EstimateOne, UnopenableResultFilesAreReportedAndTheEstimateGoesOn) {
    ProblemFixture fx(random_series(100, 2, 4), 100, 2, 2, 5);
    RecordingConsole console;
    fx.problem.console = &console;
    fx.problem.result_dir = "/nonexistent-velmora-directory/sub";
    EstimationWorkspace ws(fx.problem);
    const std::array<int, 3> positions{40, 0, 0};
    const double printed = fit_and_report(fx.problem, ws, one(2, 2, positions, 2)).criterion;
    const double silent = criterion_of(fx.problem, ws, one(2, 2, positions, 2));
    EXPECT_EQ(console.out_text,
              "File could not be opened\nFile could not be opened\nFile could not be opened\n");
    EXPECT_TRUE(same_bits(printed, silent));
}

TEST(EstimateOne, SingularRegressionMatrixMakesTheStructureNotEstimable) {
    ProblemFixture fx(random_series(100, 3, 4), 100, 3, 2, 5);
    for (int t = 1; t <= 100; ++t) {
        fx.serie[t][3] = 0.0;  // a dead component: Z_Z has a zero row
    }
    fx.problem.result_dir = fresh_directory("singular_zz");
    EstimationWorkspace ws(fx.problem);
    const std::array<int, 3> positions{50, 0, 0};
    const FittedModel summary = fit_and_report(fx.problem, ws, one(1, 2, positions, 1));
    EXPECT_EQ(summary.criterion, 0.0);
    EXPECT_EQ(summary.status, EstimateStatus::singular_regression);
    EXPECT_EQ(summary.failed_regime, 1);
    const auto out = read_lines(fx.problem.result_dir / "OutputThresholdUnivariate.txt");
    ASSERT_FALSE(out.empty());
    EXPECT_NE(out.back().find("singular"), std::string::npos) << out.back();
    for (const auto& line : out) {
        EXPECT_EQ(line.rfind("Phi[", 0), std::string::npos) << "coefficients were reported";
    }
}

TEST(EstimateOne, SingularOverallCovarianceMakesTheStructureNotEstimable) {
    ProblemFixture fx = exact_rotation_fixture();
    fx.problem.result_dir = fresh_directory("singular_cov_one");
    EstimationWorkspace ws(fx.problem);
    const std::array<int, 3> positions{2, 0, 0};  // value -1 of component 1
    // Would end the program inside ludcmp if the estimator did not check.
    const FittedModel summary = fit_and_report(fx.problem, ws, one(1, 2, positions, 1));
    EXPECT_EQ(summary.criterion, 0.0);
    EXPECT_EQ(summary.status, EstimateStatus::singular_covariance);
    EXPECT_EQ(summary.observations(1), 64);
    EXPECT_EQ(summary.observations(2), 64);
    const auto out = read_lines(fx.problem.result_dir / "OutputThresholdUnivariate.txt");
    ASSERT_FALSE(out.empty());
    EXPECT_NE(out.back().find("singular"), std::string::npos) << out.back();
}

TEST(EstimateOne, RefusesArgumentsOutsideTheProblem) {
    ProblemFixture fx(random_series(100, 2, 4), 100, 2, 2, 5);
    EstimationWorkspace ws(fx.problem);
    const std::array<int, 3> ok{10, 20, 30};
    const std::array<int, 3> too_far{100, 0, 0};
    EXPECT_THROW(criterion_of(fx.problem, ws, one(3, 2, ok, 1)), std::invalid_argument);
    EXPECT_THROW(criterion_of(fx.problem, ws, one(1, 2, too_far, 1)), std::invalid_argument);
    EXPECT_THROW(criterion_of(fx.problem, ws, one(1, 2, ok, 7)), std::invalid_argument);
    EXPECT_THROW(criterion_of(fx.problem, ws, one(1, 5, ok, 1)), std::invalid_argument);

    ProblemFixture other(random_series(100, 2, 5), 100, 2, 2, 5);
    EXPECT_THROW(criterion_of(other.problem, ws, one(1, 2, ok, 1)), std::invalid_argument);
}

}  // namespace
}  // namespace velmora
