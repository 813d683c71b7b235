// Threshold columns: a column of the file that is not modelled switches the
// regimes of a simulated series; reading it, finding it, reporting it, and
// the bootstrap that keeps it as observed.

#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <random>
#include <string>

#include "data/series.hpp"
#include "inference/bootstrap.hpp"
#include "inference/lr_sweep.hpp"
#include "model/problem.hpp"
#include "search/refine.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"
#include "test_helpers.hpp"

namespace velmora::testing {
namespace {

// Columns t (label), A, B, X: X is an AR(1) that nobody models; A and B
// follow one VAR(1) while X two steps back is at most 0, another above.
std::string simulated_csv(int n) {
    std::mt19937_64 engine(20261207);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<double> x(static_cast<std::size_t>(n + 1), 0.0);
    std::vector<double> a(x.size(), 0.0);
    std::vector<double> b(x.size(), 0.0);
    std::string text = "t,A,B,X\n";
    for (int t = 1; t <= n; ++t) {
        const auto i = static_cast<std::size_t>(t);
        x[i] = 0.5 * x[i - 1] + noise(engine);
        const bool low = t > 2 && x[i - 2] <= 0.0;
        const double ea = 0.5 * noise(engine);
        const double eb = 0.5 * noise(engine);
        a[i] = (low ? 0.8 * a[i - 1] : -0.6 * a[i - 1] + 0.4 * b[i - 1]) + ea;
        b[i] = (low ? 0.1 * a[i - 1] + 0.7 * b[i - 1] : -0.5 * b[i - 1]) + eb;
        text += strprintf("%d,%.10f,%.10f,%.10f\n", t, a[i], b[i], x[i]);
    }
    return text;
}

LoadedSeries load(const std::filesystem::path& file, std::vector<std::string> listed) {
    SeriesRequest request;
    request.path = file;
    request.columns = {"A", "B"};
    request.threshold_columns = std::move(listed);
    return load_series(request);
}

TEST(ThresholdColumns, ExternalColumnIsReadBesideTheComponentsAndFoundByTheRefinement) {
    TempDir dir;
    write_file(dir.path() / "sim.csv", simulated_csv(600));
    const LoadedSeries series = load(dir.path() / "sim.csv", {"A", "X"});
    ASSERT_EQ(series.n_comp(), 2);
    ASSERT_EQ(series.serie.col_hi(), 3);
    EXPECT_EQ(series.info.threshold_components, (std::vector<int>{1, 3}));
    EXPECT_EQ(series.info.external_columns, std::vector<int>{4});
    EXPECT_EQ(series.info.component(3), "X");
    EXPECT_EQ(series.info.reported_column(3), 4);
    EXPECT_EQ(series.info.column_named("X"), 3);
    EXPECT_EQ(series.info.column_named("4"), 3);
    EXPECT_EQ(series.info.column_named("2"), 1);

    ModelProblem problem;
    problem.serie_matrix = &series.serie;
    problem.n_oss = series.n_oss();
    problem.n_comp = series.n_comp();
    problem.model.max_order = 1;
    problem.model.min_obs_per_regime = 60;
    problem.model.criterion = Criterion::bic;
    problem.threshold_components = series.info.threshold_components;
    problem.external_columns = series.info.external_columns;
    // The codes of the search stand for the listed columns.
    FieldCodes codes{};
    codes[1] = 1;
    codes[13] = 1;
    EXPECT_EQ(decode_structure(codes, problem.threshold_components).one.which_serie, 3);

    // From the wrong variable, the refinement moves to X at lag 2.
    ModelStructure start;
    start.one.which_serie = 1;
    start.one.threshold_lag = 1;
    RefineOptions options;
    options.threshold_components = problem.threshold_components;
    const RefineResult refined = refine(problem, start, options);
    ASSERT_EQ(refined.structure.threshold_variables, 1);
    EXPECT_EQ(refined.structure.one.which_serie, 3);
    EXPECT_EQ(refined.structure.one.threshold_lag, 2);
    EXPECT_EQ(refined.estimate.reported_column(3), 4);
    EXPECT_TRUE(refined.estimate.external_threshold());
    EXPECT_NEAR(refined.estimate.thresholds[0], 0.0, 0.3);

    // Two listed columns that are one and the same are refused.
    EXPECT_THROW(load(dir.path() / "sim.csv", {"X", "4"}), ConfigError);
}

TEST(ThresholdColumns, BootstrapRegeneratesTheComponentsAndKeepsTheExternalColumn) {
    TempDir dir;
    write_file(dir.path() / "sim.csv", simulated_csv(300));
    const LoadedSeries series = load(dir.path() / "sim.csv", {"X"});
    const inference::SeriesRows rows =
        inference::SeriesRows::from_matrix(series.serie, series.n_oss(), series.n_comp());
    ASSERT_EQ(rows.external_width, 1);
    inference::ThresholdRule rule;
    rule.component = {3, 3};
    rule.lag = {2, 2};
    const inference::ThresholdData data = inference::prepare_threshold_data(rows, rule, 1);
    const std::array<double, 3> thresholds{0.0, 1e6, 1e6};
    const inference::BootstrapNull null =
        inference::fit_bootstrap_null(rows, data, rule, thresholds);
    ASSERT_TRUE(null.ok);
    std::vector<int> draws;
    for (int t = null.first_time; t <= rows.n; ++t) {
        draws.push_back((7 * t) % null.pool_rows());
    }
    inference::SeriesRows star;
    inference::series_from_draws(rows, null, draws, star);
    EXPECT_EQ(star.external, rows.external);
    // Row by row: the regime of X two steps back, that regime's equation at
    // the bootstrap series' own lagged values, plus the drawn residual.
    int changed = 0;
    for (int t = null.first_time; t <= rows.n; ++t) {
        const int r = rows.at(t - 2, 3) <= 0.0 ? 1 : 2;
        for (int c = 1; c <= 2; ++c) {
            double expected = 0.0;
            for (int v = 1; v <= 2; ++v) {
                expected += null.model.coefficient(r, 1, c, v) * star.at(t - 1, v);
            }
            expected += null.pool[static_cast<std::size_t>(
                                      draws[static_cast<std::size_t>(t - null.first_time)]) *
                                      2 +
                                  static_cast<std::size_t>(c - 1)];
            EXPECT_NEAR(star.at(t, c), expected, 1e-12) << "t " << t << " c " << c;
            changed += star.at(t, c) != rows.at(t, c) ? 1 : 0;
        }
    }
    EXPECT_GT(changed, 0);
}

TEST(ThresholdColumns, RunReportsTheExternalColumnRefusesItsForecastAndReplays) {
    TempDir dir;
    write_file(dir.path() / "sim.csv", simulated_csv(500));
    const CommandResult run = run_cli(
        "run --course-file sim.csv --columns A,B --threshold-columns X,A --m 1 --maxgen 3 "
        "--popsize 12 --min-oss-reg 50 --criterion bic --seed 3 --json out.json --forecast 2 "
        "--holdout 20 --test-linearity 19 --test-regimes 19",
        dir);
    ASSERT_EQ(run.status, 4) << run.out << run.err;
    const auto json = nlohmann::json::parse(read_file(dir.path() / "out.json"));
    const auto& refined = json["refined"];
    EXPECT_EQ(refined["components"], nlohmann::json::array({4}));
    EXPECT_EQ(refined["external"], nlohmann::json::array({true}));
    EXPECT_EQ(refined["component_names"], nlohmann::json::array({"X"}));
    EXPECT_EQ(refined["lags"], nlohmann::json::array({2}));
    EXPECT_EQ(json["parameters"]["threshold_columns"], nlohmann::json::array({"X", "A"}));
    ASSERT_EQ(json["analysis_errors"].size(), 1u);
    EXPECT_NE(json["analysis_errors"][0].dump().find("external threshold variable"),
              std::string::npos);
    // The step's message names the flags, as the command line words it.
    const std::string refusal = json["analysis_errors"][0]["message"];
    EXPECT_TRUE(refusal.starts_with("--forecast: the regimes are switched")) << refusal;
    EXPECT_NE(refusal.find("(the hold-out check, --holdout, reads"), std::string::npos) << refusal;
    // The bootstrap tests on X: every replicate estimable, and the clear
    // threshold beats all 19 linear series.
    EXPECT_EQ(refined["linearity_test"]["failed_replicates"], 0) << refined.dump();
    EXPECT_DOUBLE_EQ(refined["linearity_test"]["p_value"].get<double>(), 0.05);
    EXPECT_GE(json["selected_regimes"].get<int>(), 2);
    // The tests' summary names the external column, not a component number.
    EXPECT_NE(run.out.find("threshold variable X at lag 2"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("y3"), std::string::npos) << run.out;
    // The hold-out check reads the observed X.
    EXPECT_TRUE(json.contains("holdout")) << json.dump();
    EXPECT_NE(read_file(dir.path() / "refined" / "OutputThresholdUnivariate.txt")
                  .find("Component= 4\t Lag =2"),
              std::string::npos);

    // The replay command fits the same model.
    const std::string marker = "Replay it: velmora ";
    const auto at = run.out.find(marker);
    ASSERT_NE(at, std::string::npos) << run.out;
    const std::string arguments =
        run.out.substr(at + marker.size(), run.out.find('\n', at) - at - marker.size());
    const CommandResult fit = run_cli(
        arguments + " --workdir replay --json fit.json --rolling 3 --rolling-window 400", dir);
    ASSERT_EQ(fit.status, 0) << fit.out << fit.err;
    const auto fitted = nlohmann::json::parse(read_file(dir.path() / "fit.json"));
    EXPECT_DOUBLE_EQ(fitted["model"]["criterion"].get<double>(),
                     refined["criterion"].get<double>());
    EXPECT_EQ(fitted["model"]["external"], nlohmann::json::array({true}));
    // The rolling origins step through the observed X as well.
    const auto& origin = fitted["rolling"]["structures"][0];
    EXPECT_EQ(origin["status"], "estimated");
    EXPECT_EQ(origin["component_names"], nlohmann::json::array({"X"}));
    EXPECT_EQ(fitted["rolling"]["forecasts"], nlohmann::json::array({3}));

    // fit refuses forecasts and impulse responses of such a model up front.
    const CommandResult refused = run_cli(
        "fit --course-file sim.csv --columns A,B --threshold-columns X --component X --lag 2 "
        "--regimes 2 --thresholds 0 --girf 3 --workdir refused",
        dir);
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("--girf: the regimes are switched by an external threshold "
                               "variable"),
              std::string::npos)
        << refused.err;
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "refused" / "OutputThresholdUnivariate.txt"));
}

}  // namespace
}  // namespace velmora::testing
