// The fitted model as a value, and the report writer that consumes it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/threshold_app.hpp"
#include "model/estimate.hpp"
#include "model_test_helpers.hpp"
#include "output/report/model_report.hpp"
#include "output/run_summary.hpp"

namespace velmora {
namespace {

using testing::fresh_directory;
using testing::ProblemFixture;
using testing::random_series;

using testing::read_file;
using testing::RecordingConsole;

OneThresholdStructure one_threshold(int component, int regimes, std::array<int, 3> positions,
                                    int lag) {
    OneThresholdStructure s;
    s.which_serie = component;
    s.n_regime = regimes;
    s.pos_threshold = positions;
    s.threshold_lag = lag;
    return s;
}

// Checks every regression kept in the model against the series: times,
// fitted + residual = observation, the covariance recomputed from the
// residuals, and the regime of each time at order m.
void expect_consistent(const FittedModel& model, const double_matrix& serie) {
    const int k = model.k;
    ASSERT_EQ(static_cast<int>(model.passes.size()), model.m);
    std::vector<int> want_regime(static_cast<std::size_t>(model.n_oss), 0);
    for (int p = 1; p <= model.m; ++p) {
        ASSERT_EQ(static_cast<int>(model.passes[static_cast<std::size_t>(p - 1)].size()),
                  model.n_regime);
        int total = 0;
        for (int r = 1; r <= model.n_regime; ++r) {
            const RegimeFit& fit = model.regime(r, p);
            const int n_r = fit.observations;
            total += n_r;
            ASSERT_EQ(static_cast<int>(fit.times.size()), n_r);
            ASSERT_EQ(fit.phi.size(), static_cast<std::size_t>(p * k * k));
            ASSERT_EQ(fit.residuals.size(), static_cast<std::size_t>(n_r * k));
            EXPECT_TRUE(std::is_sorted(fit.times.begin(), fit.times.end()));
            std::vector<double> mean(static_cast<std::size_t>(k), 0.0);
            for (int n = 0; n < n_r; ++n) {
                const int t = fit.times[static_cast<std::size_t>(n)];
                EXPECT_GE(t, p + 1);
                if (p == model.m) {
                    want_regime[static_cast<std::size_t>(t - 1)] = r;
                }
                for (int c = 1; c <= k; ++c) {
                    const auto cell = static_cast<std::size_t>(n * k + c - 1);
                    EXPECT_NEAR(fit.fitted[cell] + fit.residuals[cell], serie[t][c], 1e-12);
                    // The fitted value from the coefficient accessor.
                    double fitted = 0.0;
                    for (int lag = 1; lag <= p; ++lag) {
                        for (int v = 1; v <= k; ++v) {
                            fitted += model.coefficient(r, lag, c, v, p) * serie[t - lag][v];
                        }
                    }
                    EXPECT_NEAR(fitted, fit.fitted[cell], 1e-12);
                    mean[static_cast<std::size_t>(c - 1)] += fit.residuals[cell] / n_r;
                }
            }
            for (int a = 1; a <= k; ++a) {
                for (int b = 1; b <= k; ++b) {
                    double s = 0.0;
                    for (int n = 0; n < n_r; ++n) {
                        s += (fit.residuals[static_cast<std::size_t>(n * k + a - 1)] -
                              mean[static_cast<std::size_t>(a - 1)]) *
                             (fit.residuals[static_cast<std::size_t>(n * k + b - 1)] -
                              mean[static_cast<std::size_t>(b - 1)]);
                    }
                    EXPECT_NEAR(model.covariance(r, a, b, p), s / n_r, 1e-12);
                }
            }
        }
        EXPECT_LE(total, model.n_oss - p);
    }
    EXPECT_EQ(model.regime_of_time, want_regime);
}

TEST(FittedModel, OneThresholdKeepsEveryRegressionOfEveryOrder) {
    ProblemFixture fx(random_series(240, 3, 71), 240, 3, 3, 10);
    fx.serie[30][2] = 0.4;
    fx.serie[150][2] = -0.4;
    EstimationWorkspace ws(fx.problem);
    const FittedModel model = estimate(fx.problem, ws, one_threshold(2, 3, {0, 150, 0}, 2));
    ASSERT_TRUE(model.estimated()) << status_name(model.status);
    EXPECT_EQ(model.given.one.pos_threshold[0], 0);
    EXPECT_EQ(model.used.one.pos_threshold[0], 30);
    EXPECT_EQ(model.used.one.pos_threshold[1], 150);
    EXPECT_EQ(model.thresholds[0], -0.4);
    EXPECT_EQ(model.thresholds[1], 0.4);
    EXPECT_EQ(model.thresholds[2], 1000000.0);
    ASSERT_EQ(model.threshold_variable.size(), 240u);
    EXPECT_TRUE(std::isnan(model.threshold_variable[1]));  // time 2 lagged 2
    EXPECT_EQ(model.threshold_variable[9], fx.serie[8][2]);
    EXPECT_TRUE(model.threshold_variable2.empty());
    EXPECT_EQ(model.criterion, estimate_criterion(fx.problem, ws, model.given).criterion);
    expect_consistent(model, fx.serie);
    // Times 1..max(lag, m) belong to no regime.
    EXPECT_EQ(model.regime_of_time[2], 0);
    EXPECT_NE(model.regime_of_time[3], 0);
    EXPECT_THROW(model.coefficient(1, 4, 1, 1), std::out_of_range);
    EXPECT_THROW(model.regime(4), std::out_of_range);
}

TEST(FittedModel, TwoThresholdsKeepRegimeCriteriaAndBothThresholdVariables) {
    ProblemFixture fx(random_series(300, 2, 72), 300, 2, 2, 10);
    EstimationWorkspace ws(fx.problem);
    TwoThresholdStructure s;
    s.which_serie1 = 2;
    s.which_serie2 = 1;
    s.pos_thres_1 = 0;
    s.pos_thres_2 = 140;
    s.n_regime = 3;
    s.type_model = 3;
    s.Ritardo1 = 1;
    s.Ritardo2 = 4;
    const FittedModel model = estimate(fx.problem, ws, s);
    ASSERT_TRUE(model.estimated());
    EXPECT_EQ(model.used.two.pos_thres_1, 1);
    EXPECT_EQ(model.thresholds[0], fx.serie[1][2]);
    EXPECT_EQ(model.thresholds[1], fx.serie[140][1]);
    EXPECT_EQ(model.threshold_variable2[10], fx.serie[7][1]);
    expect_consistent(model, fx.serie);
    double sum = 0.0;
    for (int r = 1; r <= 3; ++r) {
        const RegimeFit& fit = model.regime(r);
        const double det = model.covariance(r, 1, 1) * model.covariance(r, 2, 2) -
                           model.covariance(r, 1, 2) * model.covariance(r, 2, 1);
        const double want =
            fit.observations * std::log(det) + (2.0 / fit.observations) * model.m * 2 * 2;
        EXPECT_NEAR(model.regime_aic[static_cast<std::size_t>(r - 1)], want, 1e-9 * std::abs(want));
        sum += model.regime_aic[static_cast<std::size_t>(r - 1)];
    }
    EXPECT_NEAR(model.aic_total, sum / 300, 1e-12);
}

TEST(FittedModel, ARegimeWithFewerObservationsThanCoefficientsIsNotEstimable) {
    // Three times have component 1 at or below -30: with the threshold -30,
    // regime 1 holds three observations for the four regressors of order 1.
    const int k = 4;
    ProblemFixture fx(random_series(100, k, 73), 100, k, 1, 2);
    fx.serie[10][1] = -50.0;
    fx.serie[20][1] = -40.0;
    fx.serie[30][1] = -30.0;
    fx.problem.result_dir = fresh_directory("fewer_than_coefficients");
    EstimationWorkspace ws(fx.problem);
    const OneThresholdStructure s = one_threshold(1, 2, {30, 0, 0}, 1);
    const CriterionResult quick = estimate_criterion(fx.problem, ws, s);
    EXPECT_EQ(quick.status, EstimateStatus::fewer_observations_than_coefficients);
    EXPECT_EQ(quick.criterion, 0.0);
    EXPECT_EQ(fitness_of(quick), 0.0);
    EXPECT_EQ(testing::reference_one_threshold(fx.problem, 1, 2, {30, 0, 0}, 1), 0.0);

    const FittedModel model = estimate(fx.problem, ws, s);
    EXPECT_EQ(model.status, EstimateStatus::fewer_observations_than_coefficients);
    EXPECT_EQ(model.failed_regime, 1);
    EXPECT_EQ(model.observations(1), 3);
    EXPECT_TRUE(model.regime(1, 1).phi.empty());
    const auto out = format_model_report(model, 1)[0];
    EXPECT_NE(out.find("Number of Observation = 3\nRegime 1: fewer observations than "
                       "coefficients; the model cannot be estimated\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Phi["), std::string::npos);
    const std::string summary = format_structure_summary(summarize_model(model));
    EXPECT_NE(summary.find("Not estimable: regime 1 has fewer observations than coefficients"),
              std::string::npos)
        << summary;
}

TEST(FittedModel, ANonFiniteCriterionIsNotEstimable) {
    // Values near 1e-150: the overall covariance determinant underflows to 0
    // and its logarithm is -inf.
    ProblemFixture fx(random_series(200, 2, 74), 200, 2, 1, 10);
    for (int t = 1; t <= 200; ++t) {
        fx.serie[t][1] *= 1e-150;
        fx.serie[t][2] *= 1e-150;
    }
    EstimationWorkspace ws(fx.problem);
    const OneThresholdStructure s = one_threshold(1, 2, {100, 0, 0}, 1);
    const CriterionResult quick = estimate_criterion(fx.problem, ws, s);
    EXPECT_EQ(quick.status, EstimateStatus::non_finite_criterion);
    EXPECT_FALSE(std::isfinite(quick.criterion));
    EXPECT_EQ(fitness_of(quick), 0.0);
    const StructureSummary summary = summarize_structure(fx.problem, make_structure(s));
    EXPECT_EQ(summary.model.status, EstimateStatus::non_finite_criterion);
    EXPECT_EQ(summary.fitness, 0.0);
    EXPECT_NE(
        format_structure_summary(summary).find("Not estimable: the criterion is not a finite"),
        std::string::npos);
    EXPECT_STREQ(status_name(summary.model.status), "non_finite_criterion");
}

TEST(ModelReport, FilesReceiveExactlyTheFormattedReports) {
    ProblemFixture fx(random_series(120, 2, 75), 120, 2, 2, 5);
    const auto dir = fresh_directory("report_bytes");
    EstimationWorkspace ws(fx.problem);
    const FittedModel model = estimate(fx.problem, ws, one_threshold(1, 2, {60, 0, 0}, 1));
    const auto texts = format_model_report(model, 4);
    EXPECT_EQ(texts[0].rfind("Replication of GA:4\n", 0), 0u);
    const ReportOutcome first = write_model_report(model, 4, dir, nullptr);
    const ReportOutcome second = write_model_report(model, 4, dir, nullptr);
    ASSERT_TRUE(first.ok());
    ASSERT_TRUE(second.ok());
    const auto paths = model_report_paths(dir, 1);
    EXPECT_EQ(first.written, std::vector<std::filesystem::path>(paths.begin(), paths.end()));
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(read_file(paths[i]), texts[i] + texts[i]) << paths[i];
    }
}

TEST(ModelReport, AFileThatCannotBeWrittenIsNamedAndTheOthersAreWritten) {
    ProblemFixture fx(random_series(120, 2, 76), 120, 2, 1, 5);
    EstimationWorkspace ws(fx.problem);
    const FittedModel model = estimate(fx.problem, ws, one_threshold(1, 2, {60, 0, 0}, 1));

    // A full device behind the residual file.
    const auto dir = fresh_directory("report_full");
    const auto paths = model_report_paths(dir, 1);
    std::filesystem::create_symlink("/dev/full", paths[2]);
    RecordingConsole console;
    const ReportOutcome full = write_model_report(model, 1, dir, &console);
    EXPECT_EQ(console.out_text, "");
    EXPECT_EQ(full.written, std::vector<std::filesystem::path>(paths.begin(), paths.begin() + 2));
    ASSERT_EQ(full.failed.size(), 1u);
    EXPECT_EQ(full.failed[0].path, paths[2]);
    EXPECT_EQ(full.failed[0].reason, "No space left on device");

    // A folder that is a regular file: nothing can be opened.
    const auto not_dir = fresh_directory("report_not_dir") / "plain";
    std::ofstream(not_dir) << "x";
    const ReportOutcome none = write_model_report(model, 1, not_dir, &console);
    EXPECT_EQ(console.out_text,
              "File could not be opened\nFile could not be opened\nFile could not be opened\n");
    EXPECT_TRUE(none.written.empty());
    ASSERT_EQ(none.failed.size(), 3u);
    EXPECT_EQ(none.failed[1].reason, "Not a directory");
}

}  // namespace
}  // namespace velmora
