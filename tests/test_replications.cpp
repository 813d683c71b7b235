// Replications and the refined model as a run delivers them: each replication
// replays the single search of its casual value, the files do not depend on
// the thread count, refinement leaves the search's files alone, and the
// refined model replays through `velmora fit`.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "app/replications.hpp"
#include "app/run_driver.hpp"
#include "data/series.hpp"
#include "model/estimate.hpp"
#include "output/run_summary.hpp"
#include "run_test_helpers.hpp"
#include "simulate/known_model.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"
#include "test_helpers.hpp"

namespace velmora {
namespace {

using testing::read_file;
using testing::RecordingConsole;
using testing::TempDir;

const std::string& sample = testing::sample_series();

RunConfig small_config() {
    return testing::small_search_config(250, 5);
}

RunOptions options_for(const TempDir& dir, Console& console, int seed, int replications,
                       int threads, bool refine) {
    RunOptions o = testing::run_options(dir, console, seed);
    o.replications = replications;
    o.threads = threads;
    o.refine = refine;
    return o;
}

const char* const result_names[] = {
    "Output.txt",
    "OutputThresholdUnivariate.txt",
    "PredictionThresholdUnivariate.txt",
    "ResidualThresholdUnivariate.txt",
    "OutputThresholdBivariate.txt",
    "PredictionThresholdBivariate.txt",
    "ResidualThresholdBivariate.txt",
    "refined/OutputThresholdUnivariate.txt",
    "refined/PredictionThresholdUnivariate.txt",
    "refined/ResidualThresholdUnivariate.txt",
    "refined/OutputThresholdBivariate.txt",
    "refined/PredictionThresholdBivariate.txt",
    "refined/ResidualThresholdBivariate.txt",
};

TEST(Replications, EachReplaysTheSingleSearchOfItsCasualAndFilesDoNotDependOnThreads) {
    TempDir one_thread;
    TempDir two_threads;
    RecordingConsole c1;
    RecordingConsole c2;
    const RunResult a = run_search(small_config(), options_for(one_thread, c1, 998, 3, 1, true));
    const RunResult b = run_search(small_config(), options_for(two_threads, c2, 998, 3, 2, true));
    for (const char* name : result_names) {
        EXPECT_EQ(read_file(one_thread.path() / name), read_file(two_threads.path() / name))
            << name;
    }
    EXPECT_EQ(c1.out_text, c2.out_text);
    ASSERT_EQ(a.replications.size(), 3u);

    // Casual values S, S+1, S+2 modulo 1000, logged in order.
    const std::string log = read_file(one_thread.path() / "Output.txt");
    const auto c998 = log.find("casual=998\n");
    const auto c999 = log.find("casual=999\n");
    const auto c0 = log.find("casual=0\n");
    ASSERT_NE(c998, std::string::npos);
    EXPECT_LT(c998, c999);
    EXPECT_LT(c999, c0);
    EXPECT_EQ(a.casual, 998);

    // Replication r is the single search of casual (S + r - 1) mod 1000.
    const int casuals[] = {998, 999, 0};
    for (int r = 0; r < 3; ++r) {
        TempDir single;
        RecordingConsole c;
        const RunResult s =
            run_search(small_config(), options_for(single, c, casuals[r], 1, 1, false));
        EXPECT_EQ(s.best_codes, a.replications[static_cast<std::size_t>(r)].best_codes) << r;
        EXPECT_EQ(s.best_criterion, a.replications[static_cast<std::size_t>(r)].best_criterion);
        EXPECT_EQ(s.casual, casuals[r]);
    }

    // The winner is the least criterion; agreement counts its shape.
    double least = 0.0;
    for (const ReplicationResult& r : a.replications) {
        least = std::min(least, r.best_criterion);
    }
    EXPECT_EQ(a.best_criterion, least);
    EXPECT_GE(a.agreement, 1);
    EXPECT_LE(a.agreement, 3);
    // One report per replication, all appended.
    const std::string reports = read_file(one_thread.path() / "OutputThresholdUnivariate.txt") +
                                read_file(one_thread.path() / "OutputThresholdBivariate.txt");
    int count = 0;
    for (auto p = reports.find("Number of Regime"); p != std::string::npos;
         p = reports.find("Number of Regime", p + 1)) {
        ++count;
    }
    EXPECT_EQ(count, 3);
}

TEST(Replications, RefinementLeavesTheSearchFilesAloneAndIsNeverWorse) {
    for (int replications : {1, 2}) {
        TempDir plain;
        TempDir refined;
        RecordingConsole c1;
        RecordingConsole c2;
        const RunResult a =
            run_search(small_config(), options_for(plain, c1, 41, replications, 2, false));
        const RunResult b =
            run_search(small_config(), options_for(refined, c2, 41, replications, 2, true));
        for (int i = 0; i < 7; ++i) {
            EXPECT_EQ(read_file(plain.path() / result_names[i]),
                      read_file(refined.path() / result_names[i]))
                << result_names[i];
        }
        EXPECT_EQ(c1.out_text, c2.out_text);
        EXPECT_FALSE(a.refined.has_value());
        EXPECT_FALSE(std::filesystem::exists(plain.path() / "refined"));
        ASSERT_TRUE(b.refined.has_value());
        const RefinedModel& f = *b.refined;
        EXPECT_LE(f.model.criterion, b.best_criterion);
        EXPECT_EQ(f.start_criterion, b.best_criterion);

        // The criterion is the estimator's, bit for bit, on the run's series.
        const RunConfig c = small_config();
        const double_matrix series = read_course_file(c.course_file, c.n_oss, c.n_comp);
        ModelProblem problem;
        problem.serie_matrix = &series;
        problem.n_oss = c.n_oss;
        problem.n_comp = c.n_comp;
        problem.model.max_order = c.model.max_order;
        problem.model.min_obs_per_regime = c.model.min_obs_per_regime;
        EstimationWorkspace ws(problem);
        EXPECT_EQ(estimate_criterion(problem, ws, f.model.structure).criterion, f.model.criterion);
        const char* kind = f.model.structure.threshold_variables == 1 ? "Univariate" : "Bivariate";
        EXPECT_NE(read_file(refined.path() / "refined" / strprintf("OutputThreshold%s.txt", kind))
                      .find("Number of Regime"),
                  std::string::npos);
    }
}

TEST(Replications, JsonAndTheFitLineReplayTheRefinedModel) {
    TempDir dir;
    RecordingConsole console;
    const RunConfig c = small_config();
    const RunOptions o = options_for(dir, console, 5, 2, 1, true);
    const RunResult r = run_search(c, o);
    ASSERT_TRUE(r.refined.has_value());
    const nlohmann::json j = run_summary_json(c, o, r);
    ASSERT_TRUE(j["refined"].is_object());
    EXPECT_EQ(j["refined"]["criterion"].get<double>(), r.refined->model.criterion);
    EXPECT_EQ(j["replication_results"].size(), 2u);
    EXPECT_EQ(j["replication_results"][1]["casual"].get<int>(), 6);
    EXPECT_TRUE(j["replication_results"][0]["best"].contains("field_codes"));
    EXPECT_EQ(j["agreement"].get<int>(), r.agreement);
    for (const char* key :
         {"threshold_variables", "regimes", "thresholds", "observations_per_regime", "criterion",
          "fitness", "status", "components", "lags", "threshold_positions"}) {
        EXPECT_TRUE(j["refined"].contains(key)) << key;
    }

    // The arguments, run through the command line, give the same criterion.
    std::string line = testing::shell_quote(VELMORA_CLI_PATH);
    for (const auto& a : j["refined"]["fit_arguments"]) {
        line += " " + testing::shell_quote(a.get<std::string>());
    }
    TempDir fit_dir;
    const testing::CommandResult fit = testing::run_command(line, fit_dir.path(), fit_dir.path());
    ASSERT_EQ(fit.status, 0) << fit.err;
    EXPECT_NE(fit.out.find(strprintf("Criterion: %f", r.refined->model.criterion)),
              std::string::npos)
        << fit.out;
    // The summary says the same command.
    EXPECT_NE(format_run_summary(r).find(fit_command_line(r.refined->fit_arguments)),
              std::string::npos);
}

// The default search with refinement finds a simulated threshold: component 2
// at lag 6 switching at 0. (Velmora's criterion counts the lagged start as
// zero residual rows, which rewards a second threshold variable with a longer
// lag; with the true lag at 6 and regimes of at least a quarter of the series
// that reward is spent, and the true variable must always be there.)
TEST(Replications, DefaultSearchRecoversASimulatedThreshold) {
    ThresholdVar model;
    model.n_comp = 3;
    model.rule.component = 2;
    model.rule.lag = 6;
    model.rule.thresholds = {0.0};
    model.regimes.resize(2);
    model.regimes[0].coefficients = {0.6, 0.0, 0.0, 0.3, -0.5, 0.0, 0.0, 0.0, 0.4};
    model.regimes[1].coefficients = {-0.5, 0.2, 0.0, 0.0, 0.5, 0.0, 0.3, 0.0, -0.4};
    int exact_shape = 0;
    for (int seed = 1; seed <= 4; ++seed) {
        SimulationOptions options;
        options.n_obs = 600;
        options.seed = static_cast<std::uint64_t>(seed);
        TempDir dir;
        simulate(model, options).write(dir.path() / "series.txt");
        RunConfig c;
        c.course_file = (dir.path() / "series.txt").string();
        c.n_oss = 600;
        c.n_comp = 3;
        c.model.max_order = 1;
        c.model.min_obs_per_regime = 150;
        RecordingConsole console;
        RunOptions o;
        o.workdir = dir.path();
        o.console = &console;
        o.seed = seed;
        const RunResult r = run_search(c, o);
        ASSERT_TRUE(r.refined.has_value());
        const ModelStructure& s = r.refined->model.structure;
        const FittedModel& e = r.refined->model.model;
        double threshold = 1e9;
        if (s.threshold_variables == 1 && s.one.which_serie == 2 && s.one.threshold_lag == 6) {
            threshold = e.thresholds[0];
            exact_shape += s.one.n_regime == 2 ? 1 : 0;
        } else if (s.threshold_variables == 2 && s.two.which_serie1 == 2 && s.two.Ritardo1 == 6) {
            threshold = e.thresholds[0];
        } else if (s.threshold_variables == 2 && s.two.which_serie2 == 2 && s.two.Ritardo2 == 6) {
            threshold = e.thresholds[1];
        }
        EXPECT_NEAR(threshold, 0.0, 0.2) << "seed " << seed;
    }
    // Most seeds end at exactly the true structure.
    EXPECT_GE(exact_shape, 2);
}

TEST(Replications, CasualsFromTheClockDifferAndBoundsAreChecked) {
    const std::vector<int> clock = replication_casuals(4, std::nullopt);
    ASSERT_EQ(clock.size(), 4u);
    for (int c : clock) {
        EXPECT_GE(c, 0);
        EXPECT_LE(c, 999);
    }
    EXPECT_EQ(replication_casuals(3, 999), (std::vector<int>{999, 0, 1}));
    TempDir dir;
    RecordingConsole console;
    EXPECT_THROW(run_search(small_config(), options_for(dir, console, 1, 0, 1, false)),
                 ConfigError);
}

}  // namespace
}  // namespace velmora
