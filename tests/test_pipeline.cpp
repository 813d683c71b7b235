// The one pipeline of a run or a fit, and the one place threads come from.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/reported_inference.hpp"
#include "model/estimate.hpp"
#include "pipeline/pipeline.hpp"
#include "rolling/refit.hpp"
#include "run_test_helpers.hpp"
#include "support/executor.hpp"
#include "support/parallel.hpp"

namespace velmora::testing {
namespace {

TEST(WorkerPool, KeepsItsThreadsAcrossBatchesRunsEachTaskOnceAndSurvivesAFailure) {
    WorkerPool pool(3);
    ASSERT_EQ(pool.size(), 3);
    for (const long long count : {1LL, 2LL, 7LL, 1000LL}) {
        std::vector<std::atomic<int>> runs(static_cast<std::size_t>(count));
        std::atomic<bool> bad_worker{false};
        EXPECT_TRUE(pool.run(count, [&](long long i, int worker) {
            runs[static_cast<std::size_t>(i)].fetch_add(1);
            if (worker < 0 || worker >= 3) {
                bad_worker = true;
            }
        }));
        for (const auto& r : runs) {
            EXPECT_EQ(r.load(), 1);
        }
        EXPECT_FALSE(bad_worker.load());
    }
    EXPECT_THROW(pool.run(50,
                          [](long long i, int) {
                              if (i == 17) {
                                  throw std::runtime_error("task 17");
                              }
                          }),
                 std::runtime_error);
    // A progress that says stop ends the batch early, and the pool still works.
    EXPECT_FALSE(pool.run(
        5, [](long long, int) {}, [](long long, long long) { return false; }));
    std::atomic<long long> sum{0};
    EXPECT_TRUE(pool.run(100, [&](long long i, int) { sum += i; }));
    EXPECT_EQ(sum.load(), 4950);
}

// Runs the tasks in reverse order, one at a time: what a front end's own
// executor may do; the files must not change.
class ReverseExecutor final : public TaskExecutor {
  public:
    long long asked = 0;
    TaskResults run(long long count, int, const SerialTask& task,
                    const SimulationProgress& progress) override {
        asked += count;
        TaskResults out;
        out.results.resize(static_cast<std::size_t>(count));
        out.ran.assign(static_cast<std::size_t>(count), 0);
        for (long long i = count - 1; i >= 0; --i) {
            if (std::optional<std::string> result = task(i, 0)) {
                out.results[static_cast<std::size_t>(i)] = std::move(*result);
                out.ran[static_cast<std::size_t>(i)] = 1;
            }
        }
        out.completed =
            std::all_of(out.ran.begin(), out.ran.end(), [](char r) { return r != 0; }) &&
            (!progress || progress(count, count));
        return out;
    }
};

TEST(Pipeline, ReplicationsGoThroughTheExecutorGivenWithTheResultsOfTheThreads) {
    TempDir own;
    TempDir given;
    RecordingConsole c1;
    RecordingConsole c2;
    RunConfig config = small_search_config(300, 3);
    RunOptions options = run_options(own, c1, 5);
    options.replications = 3;
    options.refine = false;
    const RunResult threads = run_search(config, options);
    ReverseExecutor reverse;
    options = run_options(given, c2, 5);
    options.replications = 3;
    options.refine = false;
    options.executor = &reverse;
    const RunResult runner = run_search(config, options);
    const long long asked = reverse.asked;
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(read_file(own.path() / "Output.txt"), read_file(given.path() / "Output.txt"));
    EXPECT_EQ(c1.out_text, c2.out_text);
    EXPECT_EQ(threads.best_criterion, runner.best_criterion);
}

TEST(Pipeline, HoldsOutSearchesInfersAndAnalysesTheReportedModel) {
    TempDir dir;
    RecordingConsole console;
    PipelineRequest request;
    request.config = small_search_config(320, 3);
    request.search = run_options(dir, console, 7);
    request.search.refine = false;
    request.analysis.holdout = 20;
    request.inference.confidence = 0.9;
    request.rows =
        std::make_shared<const SplitSeries>(read_rows(request.config, 320, 300, console));
    std::vector<PipelineStage> stages;
    bool searched = false;
    request.searched = [&](const RunResult& result) {
        searched = result.completed;
        return true;
    };
    request.stage = [&](PipelineStage stage, const PipelineResult&) {
        stages.push_back(stage);
        return true;
    };
    const PipelineResult out = run_pipeline(request);
    EXPECT_TRUE(searched);
    EXPECT_EQ(out.searched.n_oss, 300);
    EXPECT_EQ(out.rows_read, 320);
    EXPECT_EQ(out.search.serie->row_hi(), 300);
    ASSERT_TRUE(out.best_inference);
    EXPECT_DOUBLE_EQ(out.best_inference->criterion, out.search.best.criterion);
    ASSERT_TRUE(out.analysis.holdout);
    EXPECT_EQ(out.analysis.fit_rows, 300);
    EXPECT_EQ(stages,
              (std::vector<PipelineStage>{PipelineStage::inference, PipelineStage::analysis}));

    // The same search on the first 300 rows alone finds the same model.
    TempDir alone;
    RecordingConsole quiet;
    RunOptions options = run_options(alone, quiet, 7);
    options.refine = false;
    const RunResult direct = run_search(small_search_config(300, 3), options);
    EXPECT_EQ(direct.best_codes, out.search.best_codes);
    EXPECT_EQ(direct.best_criterion, out.search.best_criterion);
}

// Two regimes split by component 1 at lag 1, at the time of its median on
// the rows fitted: balanced regimes.
ModelStructure balanced_regimes(const SplitSeries& rows) {
    const LoadedSeries& fitted = rows.fit_rows();
    std::vector<std::pair<double, int>> values;
    for (int t = 1; t < fitted.n_oss(); ++t) {
        values.push_back({fitted.serie[t][1], t});
    }
    std::sort(values.begin(), values.end());
    ModelStructure s;
    s.threshold_variables = 1;
    s.one.which_serie = 1;
    s.one.threshold_lag = 1;
    s.one.n_regime = 2;
    s.one.pos_threshold[0] = values[values.size() / 2].second;
    return s;
}

// A fit on the first fit_rows of 300 rows read.
PipelineRequest fit_request(TempDir& dir, RecordingConsole& console, int fit_rows) {
    PipelineRequest request;
    request.config = small_search_config(300, 0);
    request.search = run_options(dir, console, std::nullopt);
    request.rows =
        std::make_shared<const SplitSeries>(read_rows(request.config, 300, fit_rows, console));
    return request;
}

TEST(Pipeline, FitsAGivenStructureAndAStageThatSaysStopEndsItThere) {
    TempDir dir;
    RecordingConsole console;
    PipelineRequest request = fit_request(dir, console, 300);
    const ModelStructure s = balanced_regimes(*request.rows);
    request.structure = s;
    request.diagnostics = diagnostics::DiagnosticsOptions{};
    request.analysis.forecast = 2;
    request.analysis.paths = 50;
    request.stage = [](PipelineStage stage, const PipelineResult& so_far) {
        return !(stage == PipelineStage::inferred && so_far.best_inference);
    };
    const PipelineResult out = run_pipeline(request);
    const FittedModel direct = estimate(problem_of(request.config, request.rows->all.serie), s);
    ASSERT_TRUE(out.search.best.model.estimated());
    EXPECT_EQ(out.search.best.criterion, direct.criterion);
    EXPECT_TRUE(out.best_diagnostics);
    EXPECT_TRUE(out.best_inference);
    EXPECT_FALSE(out.analysis.forecast);  // stopped before the analysis
    EXPECT_TRUE(out.analysis_errors.empty());
}

TEST(Pipeline, EvaluatesAFittedStructureAtRollingOriginsOfEveryRowReadUnlessStopped) {
    TempDir dir;
    RecordingConsole console;
    // The origins reach into the held-out rows: they are of every row read.
    PipelineRequest request = fit_request(dir, console, 290);
    request.analysis.holdout = 10;
    const ModelStructure s = balanced_regimes(*request.rows);
    request.structure = s;
    request.analysis_settings.seed = 11;
    request.analysis_settings.threads = 2;
    request.rolling.origins = 4;
    request.rolling.horizon = 2;
    request.rolling.paths = 30;
    const PipelineResult out = run_pipeline(request);
    ASSERT_TRUE(out.rolling);
    ASSERT_EQ(out.rolling->origins.size(), 4U);
    EXPECT_EQ(out.rolling->origins.front().origin, 296);

    // The same evaluation called directly, on one thread, from the thresholds
    // fitted on the first 290 rows.
    RunConfig fitted = request.config;
    fitted.n_oss = 290;
    rolling::RollingSettings settings;
    settings.order = fitted.model.max_order;
    settings.seed = 11;
    const rolling::RollingResult direct = rolling::rolling_evaluation(
        request.rows->all, 300, request.rolling,
        [&](const LoadedSeries& window, int trend_origin) {
            return rolling::refit_thresholds(fitted, s, out.search.best.model.thresholds, window,
                                             trend_origin);
        },
        settings);
    // Beyond the last row read a forecast is NaN in both.
    const auto same = [](const std::vector<double>& a, const std::vector<double>& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](double x, double y) {
            return x == y || (std::isnan(x) && std::isnan(y));
        });
    };
    EXPECT_TRUE(same(out.rolling->forecast, direct.forecast));
    EXPECT_TRUE(same(out.rolling->linear_forecast, direct.linear_forecast));

    // Asked to stop during the origins: no rolling result.
    request.analysis_settings.progress = [](const char* stage, long long, long long) {
        return std::string(stage) != "rolling origins";
    };
    EXPECT_FALSE(run_pipeline(request).rolling);
}

}  // namespace
}  // namespace velmora::testing
