#pragma once
// Several replications of the search, run side by side: each one a complete
// search with its own engine state, random stream, objective and log, whose
// run-log lines, console lines, history rows and last-generation report are
// written as soon as it and those before it have finished, in replication
// order, so every file is the same for any thread count; a replication is
// freed once written. Also the pieces the driver shares with them: the
// progress figures of a population and the refinement of the winner.

#include <array>
#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

#include "app/prepare.hpp"
#include "app/run_config.hpp"
#include "app/run_driver.hpp"
#include "app/threshold_app.hpp"

namespace velmora {

struct EngineState;

// The figures of the population last summarised (oldpop).
RunProgress progress_of(const EngineState& state, const ThresholdApp& app,
                        std::chrono::steady_clock::time_point start);

// The criterion of the population's best member (oldpop) as the estimator
// gives it: the progress figures derive it from the fitness, which loses
// its last bits on the way.
double exact_best_criterion(const EngineState& state, const ModelProblem& problem);

// The generation loop of one replication, whether it runs alone or beside
// others: breeds the generations of an initialised engine state (its last
// one reported), then takes the best of the last population into r
// (completed, reported, generations, best*, nevals) and frees the state.
// Before each generation it stops once stop or user_stop is set or proceed
// says false, and then sets stop; bred is told of each generation bred.
void breed_generations(EngineState& state, const ThresholdApp& app, const ModelProblem& problem,
                       const std::atomic<bool>* user_stop,
                       std::chrono::steady_clock::time_point start, std::atomic<bool>& stop,
                       const ProgressCallback& proceed, const GenerationCallback& bred,
                       ReplicationResult& r);

// The casual value of each replication 1..n: with a seed S, (S + r - 1) mod
// 1000; without, drawn from the clock as consecutive seedings would draw them,
// continuing the process's count `seedings` when given.
std::vector<int> replication_casuals(int n, const std::optional<int>& seed,
                                     SeedingCounter* seedings = nullptr);

// Runs replication `index` (its casual value given) to its end on this
// thread with app_threads evaluation threads: its log, console lines,
// history rows and formatted report are kept in the record, nothing is
// written. Sets stop on a failure (kept in the record) and stops before a
// generation once stop, options.stop or options.progress says so.
ReplicationRecord run_replication(const EngineParams& params, const ModelProblem& problem,
                                  const RunOptions& options, int index, int casual, int app_threads,
                                  std::chrono::steady_clock::time_point start,
                                  std::atomic<bool>& stop, std::mutex& progress_mutex);

// Writes a record where a run writes it: its lines to log and console, its
// report appended to the result files of problem.result_dir, its history
// rows to options.generation_bred; adds it to result's totals and
// replications. Throws the replication's failure after its lines.
void emit_replication(ReplicationRecord& record, TextFile& log, Console& console,
                      const ModelProblem& problem, const RunOptions& options, RunResult& result);

// Runs replications 1..run.params.n_replications. run.params has already been
// through app_init and the population-size checks. Fills result.replications
// and the totals as each replication is written; throws the first
// replication's failure after the earlier replications' output has been
// written. After a stop, replications not yet begun are not begun.
void run_replications(PreparedRun& run, const ModelProblem& problem, const RunOptions& options,
                      Console& console, std::chrono::steady_clock::time_point start,
                      RunResult& result);

// Picks the winning replication (least criterion among estimable bests, the
// first on ties), copies its best into result.best*, and counts agreement.
void choose_winner(RunResult& result);

// Refines the winner, writes its report into workdir/refined and fills
// result.refined.
void refine_winner(const RunConfig& config, const ModelProblem& problem, const RunOptions& options,
                   RunResult& result);

// The arguments (after the program name) that make `velmora fit` estimate a
// structure on the run's series. With --threshold-columns the threshold
// variables are named as fit then takes them, from the series read.
std::vector<std::string> fit_arguments(const RunConfig& config, const ModelStructure& s,
                                       const SeriesInfo* series = nullptr);

// The same for a one-variable model of `regimes` regimes (2 to 4) given by
// its ascending thresholds, which fit maps back to the times that split the
// series alike; every regime at `order` (0: m).
std::vector<std::string> fit_arguments(const RunConfig& config, int component, int lag, int regimes,
                                       const std::array<double, 3>& thresholds,
                                       const SeriesInfo* series = nullptr, int order = 0);

}  // namespace velmora
