// Refinement: never worse than its start, its criterion is the estimator's
// bit for bit, it recovers a simulated threshold from a wrong start, and the
// thread count changes nothing.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <thread>
#include <tuple>

#include "model/estimate.hpp"
#include "model_test_helpers.hpp"
#include "search/refine.hpp"
#include "search/threshold_sweep.hpp"
#include "simulate/known_model.hpp"
#include "support/executor.hpp"

namespace velmora {
namespace {

// Three components; regimes switched by component 2 at lag 2 around 0, with
// clearly different dynamics on each side.
SimulatedSeries strong_threshold_series(std::uint64_t seed, int n) {
    ThresholdVar model = one_variable_model(3, 2, 2, {0.0});
    model.regimes.resize(2);
    model.regimes[0].coefficients = {0.6, 0.0, 0.0, 0.3, -0.5, 0.0, 0.0, 0.0, 0.4};
    model.regimes[1].coefficients = {-0.5, 0.2, 0.0, 0.0, 0.5, 0.0, 0.3, 0.0, -0.4};
    SimulationOptions options;
    options.n_obs = n;
    options.seed = seed;
    return simulate(model, options);
}

ModelProblem problem_of(const double_matrix& s, int n, int k, int m, int min_oss) {
    ModelProblem p;
    p.serie_matrix = &s;
    p.n_oss = n;
    p.n_comp = k;
    p.model.max_order = m;
    p.model.min_obs_per_regime = min_oss;
    return p;
}

ModelStructure one(int comp, int lag, int regimes, std::array<int, 3> pos) {
    ModelStructure s;
    s.one = {comp, regimes, pos, lag};
    return s;
}

// Velmora's criterion rewards a second threshold variable with a long lag
// (the lagged start enters the covariance as zero rows), so the refined model
// may carry a second variable; the true one must be there, at the true
// threshold, and no worse than the true structure with fitted thresholds.
TEST(Refine, RecoversASimulatedThresholdAndReportsTheEstimatorsCriterion) {
    for (std::uint64_t seed : {1u, 2u, 3u}) {
        const SimulatedSeries sim = strong_threshold_series(seed, 1000);
        const double_matrix series = sim.to_matrix();
        const ModelProblem problem = problem_of(series, 1000, 3, 1, 100);
        // A wrong start: another component, lag and regime count.
        const ModelStructure start = one(1, 1, 3, {100, 200, 0});
        const RefineResult r = refine(problem, start);

        const ModelStructure& s = r.structure;
        double threshold = 1e9;
        if (s.threshold_variables == 1 && s.one.which_serie == 2 && s.one.threshold_lag == 2) {
            threshold = r.estimate.thresholds[0];
        } else if (s.threshold_variables == 2) {
            if (s.two.which_serie1 == 2 && s.two.Ritardo1 == 2) {
                threshold = r.estimate.thresholds[0];
            } else if (s.two.which_serie2 == 2 && s.two.Ritardo2 == 2) {
                threshold = r.estimate.thresholds[1];
            }
        }
        EXPECT_NEAR(threshold, 0.0, 0.15) << seed;

        ThresholdSweeper sweeper(problem);
        const ThresholdFit truth = sweeper.fit_thresholds(one(2, 2, 2, {0, 0, 0}));
        ASSERT_TRUE(truth.estimable);
        EXPECT_LE(r.criterion, truth.criterion) << seed;

        EstimationWorkspace ws(problem);
        EXPECT_EQ(r.criterion, estimate_criterion(problem, ws, r.structure).criterion) << seed;
        EXPECT_EQ(r.start_criterion, estimate_criterion(problem, ws, start).criterion) << seed;
        EXPECT_GT(r.steps, 0) << seed;
    }
}

// Runs the odd tasks in a forked process, as another rank of mpirun would:
// their work leaves this process's state alone and only their bytes come
// back.
class ForkedExecutor final : public TaskExecutor {
  public:
    TaskResults run(long long count, int, const SerialTask& task,
                    const SimulationProgress&) override {
        int pipe_ends[2];
        if (::pipe(pipe_ends) != 0) {
            throw std::runtime_error("no pipe");
        }
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(pipe_ends[0]);
            ByteWriter out;
            for (long long i = 1; i < count; i += 2) {
                out.text(task(i, 0).value_or(""));
            }
            const std::string& bytes = out.bytes();
            for (std::size_t at = 0; at < bytes.size();) {
                const ssize_t n = ::write(pipe_ends[1], bytes.data() + at, bytes.size() - at);
                if (n <= 0) {
                    ::_exit(1);
                }
                at += static_cast<std::size_t>(n);
            }
            ::_exit(0);
        }
        ::close(pipe_ends[1]);
        TaskResults out;
        out.results.resize(static_cast<std::size_t>(count));
        out.ran.assign(static_cast<std::size_t>(count), 1);
        for (long long i = 0; i < count; i += 2) {
            out.results[static_cast<std::size_t>(i)] = task(i, 0).value_or("");
        }
        std::string bytes;
        char buffer[4096];
        for (ssize_t n; (n = ::read(pipe_ends[0], buffer, sizeof buffer)) > 0;) {
            bytes.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(pipe_ends[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        ByteReader in(bytes);
        for (long long i = 1; i < count; i += 2) {
            out.results[static_cast<std::size_t>(i)] = in.text();
        }
        out.completed = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        return out;
    }
};

TEST(Refine, NeverWorseThanTheStartAndTheSameForAnyThreadCount) {
    const double_matrix series = testing::random_series(300, 3, 21);
    const ModelProblem problem = problem_of(series, 300, 3, 2, 30);
    ModelStructure two;
    two.threshold_variables = 2;
    two.two = {1, 3, 150, 40, 3, 2, 2, 1};
    for (const ModelStructure& start : {one(3, 4, 2, {77, 0, 0}), two}) {
        RefineOptions one_thread;
        RefineOptions two_threads;
        two_threads.threads = 2;
        // The descents shared out over processes, half of them elsewhere.
        ForkedExecutor forked;
        RefineOptions shared;
        shared.executor = &forked;
        const RefineResult a = refine(problem, start, one_thread);
        const RefineResult b = refine(problem, start, two_threads);
        const RefineResult c = refine(problem, start, shared);
        EXPECT_LE(a.criterion, a.start_criterion);
        EXPECT_GT(a.starts, 1);
        for (const RefineResult* other : {&b, &c}) {
            EXPECT_EQ(a.criterion, other->criterion);
            EXPECT_EQ(a.structure.threshold_variables, other->structure.threshold_variables);
            EXPECT_EQ(a.structure.one.pos_threshold, other->structure.one.pos_threshold);
            EXPECT_EQ(a.structure.two.pos_thres_1, other->structure.two.pos_thres_1);
            EXPECT_EQ(std::tie(a.steps, a.rounds, a.starts, a.candidates, a.exact_estimates),
                      std::tie(other->steps, other->rounds, other->starts, other->candidates,
                               other->exact_estimates));
        }
        // A refined model is a fixed point: refining again takes no step.
        const RefineResult again = refine(problem, a.structure);
        EXPECT_EQ(again.steps, 0);
        EXPECT_EQ(again.criterion, a.criterion);
    }
    // A start that cannot be estimated (regime far below min_oss_reg) still
    // ends at an estimable model.
    int lowest = 1;
    for (int t = 2; t < 300; ++t) {
        lowest = series[t][1] < series[lowest][1] ? t : lowest;
    }
    const RefineResult from_bad = refine(problem, one(1, 1, 2, {lowest, 0, 0}));
    EXPECT_EQ(from_bad.start_criterion, 0.0);
    EXPECT_LT(from_bad.criterion, 0.0);
    RefineOptions none;
    none.threads = 0;
    EXPECT_THROW(refine(problem, one(1, 1, 2, {50, 0, 0}), none), std::invalid_argument);
}

TEST(Refine, NeighboursReachEveryComponentLagRegimeCountAndType) {
    const double_matrix series = testing::random_series(200, 4, 5);
    const ModelProblem problem = problem_of(series, 200, 4, 1, 20);
    const ModelStructure start = one(2, 3, 3, {50, 120, 0});
    std::set<std::pair<int, int>> variables;
    std::set<int> regimes;
    std::set<int> types;
    for (const ModelStructure& n : neighbour_structures(problem, start)) {
        if (n.threshold_variables == 1) {
            variables.emplace(n.one.which_serie, n.one.threshold_lag);
            regimes.insert(n.one.n_regime);
            EXPECT_FALSE(n.one.which_serie == 2 && n.one.threshold_lag == 3 && n.one.n_regime == 3);
        } else {
            EXPECT_NE(n.two.which_serie1, n.two.which_serie2);
            types.insert(n.two.type_model);
        }
    }
    EXPECT_EQ(variables.size(), 4u * 6u);  // every (component, lag), own one with 2 and 4 regimes
    EXPECT_EQ(regimes, (std::set<int>{2, 3, 4}));
    EXPECT_EQ(types, (std::set<int>{0, 1, 2, 3}));

    ModelStructure two;
    two.threshold_variables = 2;
    two.two = {1, 4, 60, 90, 3, 2, 1, 5};
    bool back_to_one = false;
    for (const ModelStructure& n : neighbour_structures(problem, two)) {
        back_to_one = back_to_one || n.threshold_variables == 1;
    }
    EXPECT_TRUE(back_to_one);
}

bool uses_component(const ModelStructure& s, int c) {
    return s.threshold_variables == 1 ? s.one.which_serie == c
                                      : s.two.which_serie1 == c || s.two.which_serie2 == c;
}

// Components whose values cannot serve as thresholds are left out: never a
// neighbour's, never the refined model's, while the start keeps its own.
TEST(Refine, ComponentsLeftOutAreNeverTriedAndTheStartKeepsItsOwn) {
    const SimulatedSeries sim = strong_threshold_series(4, 600);
    const double_matrix series = sim.to_matrix();
    const ModelProblem problem = problem_of(series, 600, 3, 1, 60);
    const ModelStructure start = one(1, 1, 2, {300, 0, 0});

    // Free to choose, the refinement finds the threshold variable.
    EXPECT_TRUE(uses_component(refine(problem, start).structure, 2));

    for (const std::vector<int>& allowed : {std::vector<int>{1, 3}, std::vector<int>{3}}) {
        for (const ModelStructure& n : neighbour_structures(problem, start, allowed)) {
            EXPECT_FALSE(uses_component(n, 2));
        }
        RefineOptions restricted;
        restricted.threshold_components = allowed;
        const RefineResult r = refine(problem, start, restricted);
        EXPECT_FALSE(r.stopped);
        EXPECT_FALSE(uses_component(r.structure, 2));
        EXPECT_LE(r.criterion, r.start_criterion);
    }
}

TEST(Refine, AStopEndsItWithoutAResultAndProgressComesFromTheCaller) {
    const SimulatedSeries sim = strong_threshold_series(5, 600);
    const double_matrix series = sim.to_matrix();
    const ModelProblem problem = problem_of(series, 600, 3, 1, 60);
    std::atomic<bool> stop{false};
    int reports = 0;
    const auto caller = std::this_thread::get_id();
    RefineOptions options;
    options.threads = 2;
    options.stop = &stop;
    options.progress = [&](const RefineProgress& progress) {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        EXPECT_GT(progress.descents, 0);
        ++reports;
        stop = true;  // as a signal would
    };
    const RefineResult r = refine(problem, one(1, 1, 2, {300, 0, 0}), options);
    EXPECT_TRUE(r.stopped);
    EXPECT_GE(reports, 1);
    EXPECT_EQ(r.steps, 0);

    // Without a stop the same refinement completes and reports every round.
    stop = false;
    reports = 0;
    options.progress = [&](const RefineProgress&) { ++reports; };
    const RefineResult done = refine(problem, one(1, 1, 2, {300, 0, 0}), options);
    EXPECT_FALSE(done.stopped);
    EXPECT_GT(reports, 1);
}

}  // namespace
}  // namespace velmora
