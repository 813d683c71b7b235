// The linear VAR as a model of its own and each regime's order: checked
// against a plain least squares written out here.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/replications.hpp"
#include "app/run_config.hpp"
#include "diagnostics/model_diagnostics.hpp"
#include "forecast/fitted_var.hpp"
#include "inference/linear_var.hpp"
#include "inference/model_inference.hpp"
#include "model/estimate.hpp"
#include "model_test_helpers.hpp"
#include "output/inference_text.hpp"
#include "search/refine.hpp"
#include "simulate/threshold_var.hpp"
#include "test_helpers.hpp"

namespace velmora {
namespace {

using testing::determinant;
using testing::plain_least_squares;
using testing::PlainFit;
using testing::ProblemFixture;

struct Reference {
    double criterion = 0.0;
    double log_det = 0.0;  // of the pooled residual cross products over the rows
    // Per regime, (1 + p*k) x k: the intercept row, then lag-major rows.
    std::vector<std::vector<double>> coefficients;
};

// BIC of a threshold VAR with an intercept per regime on rows first..n:
// regime of time t is 1 + (x[t - lag][component] > threshold) (one regime
// without a threshold), regime r of order orders[r-1].
Reference reference(const double_matrix& x, int n, int k, int component, int lag,
                    const std::vector<double>& thresholds, const std::vector<int>& orders,
                    int first = 7) {
    const int regimes = static_cast<int>(orders.size());
    std::vector<double> sse(k * k, 0.0);
    int rows = 0;
    int coefficients = 0;
    Reference out;
    for (int r = 1; r <= regimes; ++r) {
        const int p = orders[r - 1];
        const int q = 1 + p * k;
        coefficients += k * q;
        auto regressor = [&](int t, int i) {
            return i == 0 ? 1.0 : x[t - 1 - (i - 1) / k][1 + (i - 1) % k];
        };
        std::vector<int> times;
        for (int t = first; t <= n; ++t) {
            int regime = 1;
            for (double th : thresholds) {
                regime += x[t - lag][component] > th ? 1 : 0;
            }
            if (regime == r) {
                times.push_back(t);
            }
        }
        PlainFit fit = plain_least_squares(x, times, q, k, regressor);
        for (const std::vector<double>& e : fit.residuals) {
            for (int c = 0; c < k; ++c) {
                for (int l = 0; l < k; ++l) {
                    sse[c * k + l] += e[c] * e[l];
                }
            }
        }
        rows += static_cast<int>(times.size());
        out.coefficients.push_back(std::move(fit.coefficients));
    }
    for (double& v : sse) {
        v /= rows;
    }
    out.log_det = std::log(determinant(sse, k));
    out.criterion = out.log_det + std::log(rows) * coefficients / rows;
    return out;
}

// Two components; regime 1 (y1 at lag 1 at or below 0) of order 2, regime
// 2 of order 1, each with an intercept; `linear` keeps regime 1 throughout.
double_matrix simulate(int n, std::uint64_t seed, bool linear) {
    std::mt19937_64 gen(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    double_matrix x(1, n, 1, 2);
    for (int t = 1; t <= n; ++t) {
        const double y1 = t > 1 ? x[t - 1][1] : 0.0;
        const double y2 = t > 1 ? x[t - 1][2] : 0.0;
        const double z1 = t > 2 ? x[t - 2][1] : 0.0;
        const double z2 = t > 2 ? x[t - 2][2] : 0.0;
        if (linear || y1 <= 0.0) {
            x[t][1] = 0.5 + 0.3 * y1 + 0.1 * y2 - 0.4 * z1 + normal(gen);
            x[t][2] = -0.2 + 0.2 * y1 + 0.4 * y2 + 0.3 * z2 + normal(gen);
        } else {
            x[t][1] = -1.0 + 0.6 * y1 - 0.3 * y2 + normal(gen);
            x[t][2] = 1.0 - 0.4 * y1 + 0.2 * y2 + normal(gen);
        }
    }
    return x;
}

ModelStructure split_at(int position) {
    ModelStructure s;
    s.one.which_serie = 1;
    s.one.threshold_lag = 1;
    s.one.n_regime = 2;
    s.one.pos_threshold = {position, 0, 0};
    return s;
}

// The time (2..n-1) whose value of y1 is nearest zero.
int position_near_zero(const double_matrix& x, int n) {
    int best = 2;
    for (int t = 2; t < n; ++t) {
        if (std::fabs(x[t][1]) < std::fabs(x[best][1])) {
            best = t;
        }
    }
    return best;
}

void use_bic(ProblemFixture& fx) {
    fx.problem.model.include = Include::constant;
    fx.problem.model.criterion = Criterion::bic;
}

TEST(LinearVar, IsAPlainLeastSquaresOnTheCommonRows) {
    const int n = 300;
    ProblemFixture fx(simulate(n, 3, true), n, 2, 2, 30);
    use_bic(fx);
    const FittedModel model = estimate(fx.problem, make_linear_structure());
    ASSERT_TRUE(model.estimated());
    EXPECT_EQ(model.threshold_variables(), 0);
    EXPECT_EQ(model.n_regime, 1);
    EXPECT_EQ(model.observations(1), n - 6);
    EXPECT_EQ(model.regime(1).times.front(), 7);
    EXPECT_EQ(model.regime_of_time[6], 1);
    const Reference want = reference(fx.serie, n, 2, 1, 1, {}, {2});
    EXPECT_NEAR(model.criterion, want.criterion, 1e-10);
    for (int e = 1; e <= 2; ++e) {
        EXPECT_NEAR(model.deterministic_coefficient(1, 0, e), want.coefficients[0][e - 1], 1e-10);
        for (int lag = 1; lag <= 2; ++lag) {
            for (int v = 1; v <= 2; ++v) {
                EXPECT_NEAR(model.coefficient(1, lag, e, v),
                            want.coefficients[0][(1 + (lag - 1) * 2 + v - 1) * 2 + e - 1], 1e-10);
            }
        }
    }
    // The benchmark of every threshold model is the same regression.
    EXPECT_EQ(inference::linear_var_criterion(fx.problem).criterion, model.criterion);
    EstimationWorkspace ws(fx.problem);
    EXPECT_EQ(estimate_criterion(fx.problem, ws, make_linear_structure()).criterion,
              model.criterion);
    // A forecast model of one regime, whatever the values.
    const ThresholdVarModel var = model_from_fit(model);
    EXPECT_EQ(var.n_regime(), 1);
    EXPECT_EQ(var.rule.regime([](int, int) { return 1e5; }), 1);
}

TEST(LinearVar, TheRefinementReportsItOnlyWhenItScoresBelowEveryThresholdModel) {
    const int n = 400;
    for (const bool linear : {true, false}) {
        ProblemFixture fx(simulate(n, 11, linear), n, 2, 2, 30);
        use_bic(fx);
        const RefineResult r = refine(fx.problem, split_at(position_near_zero(fx.serie, n)));
        ASSERT_FALSE(r.stopped);
        EXPECT_EQ(r.linear_won(), linear);
        EXPECT_NE(r.linear_criterion, 0.0);
        EXPECT_FALSE(is_linear(r.best_threshold));
        if (linear) {
            EXPECT_EQ(r.criterion, r.linear_criterion);
            EXPECT_LT(r.criterion, r.best_threshold_criterion);
            EXPECT_EQ(r.estimate.threshold_variables(), 0);
        } else {
            EXPECT_LT(r.criterion, r.linear_criterion);
            EXPECT_EQ(r.criterion, r.best_threshold_criterion);
        }
    }
    // The classic criterion does not compare them on the same rows.
    ProblemFixture fx(simulate(n, 11, true), n, 2, 2, 30);
    use_bic(fx);
    fx.problem.model.criterion = Criterion::classic;
    const RefineResult classic = refine(fx.problem, split_at(position_near_zero(fx.serie, n)));
    EXPECT_FALSE(classic.linear_won());
    EXPECT_EQ(classic.linear_criterion, 0.0);
}

TEST(LinearVar, ItsInferenceSkipsWhatNeedsAThreshold) {
    const int n = 300;
    ProblemFixture fx(simulate(n, 5, true), n, 2, 2, 30);
    use_bic(fx);
    const FittedModel model = estimate(fx.problem, make_linear_structure());
    inference::InferenceOptions options;
    options.replicates = 9;
    options.regime_replicates = 9;
    options.confidence = 0.9;
    const inference::ModelInference none = inference::infer_model(fx.problem, model, options);
    EXPECT_FALSE(none.linearity.has_value());
    EXPECT_FALSE(none.confidence.has_value());
    EXPECT_FALSE(none.regime_tests.has_value());
    EXPECT_EQ(none.skipped.size(), 3u);
    EXPECT_EQ(none.regimes.size(), 1u);
    EXPECT_EQ(none.linear.criterion, model.criterion);
    const std::string summary = inference::format_inference_summary(none);
    EXPECT_NE(summary.find("The model is the linear VAR of order 2 with const"), std::string::npos)
        << summary;
    EXPECT_NE(summary.find("No linearity test"), std::string::npos);
    // Named a threshold variable, the tests of the number of regimes start
    // from one regime.
    options.linear_test_component = 2;
    options.linear_test_lag = 1;
    const inference::ModelInference tested = inference::infer_model(fx.problem, model, options);
    ASSERT_TRUE(tested.regime_tests.has_value());
    EXPECT_EQ(tested.regime_tests->component, 2);
    EXPECT_EQ(tested.regime_tests->tests.front().null_regimes, 1);
    EXPECT_EQ(tested.model_regimes, 1);
}

TEST(RegimeOrders, GivenOrdersAreEachRegimesOwnLeastSquares) {
    const int n = 400;
    ProblemFixture fx(simulate(n, 7, false), n, 2, 2, 30);
    use_bic(fx);
    ModelStructure s = split_at(position_near_zero(fx.serie, n));
    s.orders = {2, 1, 0, 0};
    EstimationWorkspace ws(fx.problem);
    const FittedModel model = estimate(fx.problem, ws, s);
    ASSERT_TRUE(model.estimated());
    EXPECT_TRUE(model.mixed_orders());
    EXPECT_EQ(model.order(1), 2);
    EXPECT_EQ(model.order(2), 1);
    const Reference want = reference(fx.serie, n, 2, 1, 1, {model.thresholds[0]}, {2, 1});
    EXPECT_NEAR(model.criterion, want.criterion, 1e-10);
    EXPECT_EQ(estimate_criterion(fx.problem, ws, s).criterion, model.criterion);
    for (int e = 1; e <= 2; ++e) {
        for (int v = 1; v <= 2; ++v) {
            EXPECT_NEAR(model.coefficient(2, 1, e, v),
                        want.coefficients[1][(1 + v - 1) * 2 + e - 1], 1e-10);
            EXPECT_EQ(model.coefficient(2, 2, e, v), 0.0);
            EXPECT_NEAR(model.coefficient(1, 2, e, v),
                        want.coefficients[0][(1 + 2 + v - 1) * 2 + e - 1], 1e-10);
        }
    }
    // Forecasts step the regime at its order: its lag-2 block is zero.
    const ThresholdVarModel var = model_from_fit(model);
    EXPECT_EQ(var.p, 2);
    EXPECT_EQ(var.coefficient(2, 2, 1, 2), 0.0);
    EXPECT_EQ(var.coefficient(2, 1, 1, 2), model.coefficient(2, 1, 1, 2));
    // Standard errors and the companion matrix of the regime's own order.
    const inference::RegimeRegression g = inference::regime_regression(model, 2);
    EXPECT_EQ(g.order, 1);
    EXPECT_EQ(g.degrees_of_freedom, model.observations(2) - 3);
    const diagnostics::ModelDiagnostics d = diagnostics::diagnose(model, {});
    EXPECT_EQ(d.companion_moduli[0].size(), 4u);
    EXPECT_EQ(d.companion_moduli[1].size(), 2u);
    // The linearity test and the confidence set fit each regime at its own
    // order on the rows of the largest (3..n here), against the linear VAR
    // of the smaller order, which the model nests.
    inference::InferenceOptions options;
    options.replicates = 9;
    const inference::ModelInference inf = inference::infer_model(fx.problem, model, options);
    EXPECT_TRUE(inf.skipped.empty());
    ASSERT_TRUE(inf.linearity.has_value());
    ASSERT_TRUE(inf.confidence.has_value());
    EXPECT_EQ(inf.linearity->null_order, 1);
    EXPECT_EQ(inf.linearity->observations, n - 2);
    EXPECT_EQ(inf.linearity->replicates + inf.linearity->failed, 9);
    const inference::ThresholdRule rule = inference::rule_of(model.given, model.orders);
    const inference::ThresholdData data = inference::prepare_threshold_data(
        inference::SeriesRows::from_matrix(fx.serie, n, 2), rule, 2, Include::constant);
    const double own = reference(fx.serie, n, 2, 1, 1, {model.thresholds[0]}, {2, 1}, 3).log_det;
    const Reference linear_fit = reference(fx.serie, n, 2, 1, 1, {}, {1}, 3);
    const double linear = linear_fit.log_det;
    // The bootstrap's series come from that linear VAR, stepped at order 2
    // with its lag-2 block at zero.
    const inference::BootstrapNull null =
        inference::fit_linear_null(inference::SeriesRows::from_matrix(fx.serie, n, 2), data);
    ASSERT_TRUE(null.ok);
    ASSERT_EQ(null.model.regimes[0].phi.size(), 8u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(null.model.regimes[0].phi[i], linear_fit.coefficients[0][2 + i], 1e-10);
        EXPECT_EQ(null.model.regimes[0].phi[4 + i], 0.0);
    }
    EXPECT_NEAR(inference::log_det_at(data, rule, model.thresholds, 0), own, 1e-10);
    EXPECT_NEAR(inference::log_det_linear(data), linear, 1e-10);
    EXPECT_NEAR(inference::likelihood_ratio(data, rule, model.thresholds), (n - 2) * (linear - own),
                1e-7);
    EXPECT_GE(inf.linearity->lr, (n - 2) * (linear - own) - 1e-7);  // the supremum
    const nlohmann::json json = inference::inference_json(inf);
    EXPECT_EQ(json["linearity_test"]["null_order"], 1);
    EXPECT_TRUE(json["standard_errors"][1][1][0][0].is_null());
    EXPECT_TRUE(json["standard_errors"][1][0][0][0].is_number());

    // Orders below m need an information criterion.
    fx.problem.model.criterion = Criterion::classic;
    EstimationWorkspace classic(fx.problem);
    EXPECT_THROW(estimate(fx.problem, classic, s), std::invalid_argument);
}

TEST(RegimeOrders, TestsOfTheNumberOfRegimesPutEveryRegimeAtTheLargestOrder) {
    const int n = 300;
    ProblemFixture fx(simulate(n, 13, false), n, 2, 2, 30);
    use_bic(fx);
    ModelStructure s = split_at(position_near_zero(fx.serie, n));
    s.orders = {1, 1, 0, 0};
    const FittedModel model = estimate(fx.problem, s);
    ASSERT_TRUE(model.estimated());
    inference::InferenceOptions options;
    options.replicates = 9;
    options.regime_replicates = 9;
    const inference::ModelInference inf = inference::infer_model(fx.problem, model, options);
    ASSERT_TRUE(inf.regime_tests.has_value());
    ASSERT_TRUE(inf.linearity.has_value());
    const inference::RegimeTests& tests = *inf.regime_tests;
    EXPECT_EQ(tests.regime_order, 1);
    // Every regime at order 1 and the linear VAR(1): the linearity test's
    // models, on the same rows, so the 1-vs-2 test is that test.
    ASSERT_FALSE(tests.tests.empty());
    const inference::RegimeTest& first = tests.tests.front();
    EXPECT_EQ(first.lr, inf.linearity->lr);
    EXPECT_EQ(first.bootstrap, inf.linearity->bootstrap);
    const double two =
        reference(fx.serie, n, 2, 1, 1, {first.alternative_thresholds[0]}, {1, 1}, 3).log_det;
    const double one = reference(fx.serie, n, 2, 1, 1, {}, {1}, 3).log_det;
    EXPECT_NEAR(first.lr, (n - 2) * (one - two), 1e-7);
    EXPECT_EQ(inference::inference_json(inf)["regime_test_order"], 1);
    EXPECT_NE(inference::format_regime_tests(tests, 2).find("every regime at order 1"),
              std::string::npos);
    // The fit command of a model the tests prefer keeps that order.
    RunConfig config;
    config.model.max_order = 2;
    const std::vector<std::string> args =
        fit_arguments(config, 1, 1, 3, {-0.5, 0.5, 1e6}, nullptr, tests.regime_order);
    const std::vector<std::string> tail(args.end() - 6, args.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"--regimes", "3", "--thresholds", "-0.5,0.5",
                                              "--orders", "1,1,1"}));
}

TEST(RegimeOrders, SelectionTakesTheLeastCriterionOfEveryCombination) {
    const int n = 600;
    ProblemFixture fx(simulate(n, 21, false), n, 2, 2, 30);
    use_bic(fx);
    const ModelStructure s = split_at(position_near_zero(fx.serie, n));
    fx.problem.select_orders = true;
    const FittedModel chosen = estimate(fx.problem, s);
    ASSERT_TRUE(chosen.estimated());
    double least = std::numeric_limits<double>::infinity();
    std::array<int, 2> best{};
    for (int p1 = 1; p1 <= 2; ++p1) {
        for (int p2 = 1; p2 <= 2; ++p2) {
            const double c =
                reference(fx.serie, n, 2, 1, 1, {chosen.thresholds[0]}, {p1, p2}).criterion;
            if (c < least) {
                least = c;
                best = {p1, p2};
            }
        }
    }
    EXPECT_EQ(best, (std::array<int, 2>{2, 1}));  // the simulated orders
    EXPECT_EQ(chosen.order(1), best[0]);
    EXPECT_EQ(chosen.order(2), best[1]);
    EXPECT_NEAR(chosen.criterion, least, 1e-10);
    // Given back as the structure's orders, the same model bit for bit.
    fx.problem.select_orders = false;
    const FittedModel replay = estimate(fx.problem, with_orders(s, chosen.orders));
    EXPECT_EQ(replay.criterion, chosen.criterion);
    // Selection through the refinement leaves the orders in its structure.
    fx.problem.select_orders = true;
    const RefineResult r = refine(fx.problem, s);
    EXPECT_EQ(r.structure.orders, r.estimate.orders);
    fx.problem.select_orders = false;
    EXPECT_EQ(estimate(fx.problem, r.structure).criterion, r.criterion);
}

// The series as a file of two columns with a header.
std::string series_text(const double_matrix& x, int n) {
    std::string text = "a,b\n";
    for (int t = 1; t <= n; ++t) {
        text += std::to_string(x[t][1]) + "," + std::to_string(x[t][2]) + "\n";
    }
    return text;
}

std::string replay_of(const nlohmann::json& model) {
    std::string line;
    for (const auto& a : model["fit_arguments"]) {
        line += testing::shell_quote(a.get<std::string>()) + " ";
    }
    return line;
}

// A run on a linear series reports the linear VAR, with a replay command
// that fits it again, and runs the tests of the number of regimes on the
// best threshold model's variable.
TEST(LinearOrderCli, ALinearVarReportedByARunReplaysWithFit) {
    testing::TempDir dir;
    testing::write_file(dir.path() / "linear.csv", series_text(simulate(300, 11, true), 300));
    const std::string run =
        "run --course-file linear.csv --criterion bic --include const --min-oss-reg 30 "
        "--popsize 10 --maxgen 3 --seed 4 --threads 1 ";
    const testing::CommandResult r = testing::run_cli(
        run + "--workdir out --json s.json --test-regimes 9 --test-linearity 9 --forecast 3", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(testing::contains(r.out, "The linear VAR scores below every threshold model"))
        << r.out;
    EXPECT_TRUE(testing::contains(r.out, "No linearity test: the model is the linear VAR itself"));
    const auto json = nlohmann::json::parse(testing::read_file(dir.path() / "s.json"));
    const auto& refined = json["refined"];
    EXPECT_EQ(refined["regimes"], 1);
    EXPECT_EQ(refined["threshold_variables"], 0);
    EXPECT_TRUE(refined["components"].empty() && refined["lags"].empty() &&
                refined["thresholds"].empty());
    EXPECT_EQ(refined["orders"], nlohmann::json::array({2}));
    EXPECT_EQ(refined["coefficients"].size(), 1u);
    EXPECT_EQ(refined["standard_errors"].size(), 1u);
    EXPECT_TRUE(refined["linear_model"].is_object());
    EXPECT_TRUE(refined["diagnostics"].is_object());
    EXPECT_EQ(json["regime_tests"][0]["null_regimes"], 1);
    EXPECT_TRUE(json["forecast"].is_object());
    EXPECT_TRUE(
        testing::contains(testing::read_file(dir.path() / "out/refined/OutputThresholdLinear.txt"),
                          "Linear VAR\nNumber of Regime = 1 \n"));
    const std::string replay = replay_of(refined);
    EXPECT_TRUE(testing::contains(replay, "'--regimes' '1'")) << replay;
    const testing::CommandResult fit =
        testing::run_cli(replay + "--workdir again --json f.json", dir);
    ASSERT_EQ(fit.status, 0) << fit.err;
    const auto fitted = nlohmann::json::parse(testing::read_file(dir.path() / "f.json"));
    EXPECT_EQ(fitted["model"]["criterion"], refined["criterion"]);
    EXPECT_EQ(fitted["model"]["coefficients"], refined["coefficients"]);

    // Chosen orders travel in the replay command.
    testing::write_file(dir.path() / "switching.csv", series_text(simulate(500, 21, false), 500));
    const testing::CommandResult chosen = testing::run_cli(
        "run --course-file switching.csv --criterion bic --include const --min-oss-reg 30 "
        "--popsize 10 --maxgen 3 --seed 4 --select-order --workdir sel --json o.json",
        dir);
    ASSERT_EQ(chosen.status, 0) << chosen.err;
    const auto selected = nlohmann::json::parse(testing::read_file(dir.path() / "o.json"));
    const auto& orders = selected["refined"]["orders"];
    ASSERT_EQ(orders.size(), selected["refined"]["regimes"].get<std::size_t>());
    const testing::CommandResult again =
        testing::run_cli(replay_of(selected["refined"]) + "--workdir sel-again --json g.json", dir);
    ASSERT_EQ(again.status, 0) << again.err;
    const auto regot = nlohmann::json::parse(testing::read_file(dir.path() / "g.json"));
    EXPECT_EQ(regot["model"]["criterion"], selected["refined"]["criterion"]);
    EXPECT_EQ(regot["model"]["orders"], orders);

    // Orders the classic criterion cannot compare are refused.
    const testing::CommandResult classic =
        testing::run_cli("run --course-file linear.csv --select-order --maxgen 1", dir);
    EXPECT_EQ(classic.status, 2);
    EXPECT_TRUE(testing::contains(classic.err, "--select-order needs --criterion")) << classic.err;
    const std::string fit_two =
        "fit --course-file linear.csv --component 1 --lag 1 --regimes 2 --positions 50 ";
    for (const char* wrong :
         {"--orders 2,1", "--orders 2 --criterion bic", "--orders 3,1 --criterion bic"}) {
        const testing::CommandResult refused = testing::run_cli(fit_two + wrong, dir);
        EXPECT_EQ(refused.status, 2) << wrong;
        EXPECT_TRUE(testing::contains(refused.err, "--orders")) << wrong << refused.err;
    }
}

}  // namespace
}  // namespace velmora
