#pragma once
// Several replications of the search, run side by side: each one a complete
// search with its own engine state, random stream, objective and log, whose
// run-log lines, console lines and last-generation report are appended in
// replication order once all have finished, so every file is the same for
// any thread count. Also the pieces the driver shares with them: the
// progress figures of a population and the refinement of the winner.

#include <array>
#include <chrono>
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

// The casual value of each replication 1..n: with a seed S, (S + r - 1) mod
// 1000; without, drawn from the clock as consecutive seedings would draw them,
// continuing the process's count `seedings` when given.
std::vector<int> replication_casuals(int n, const std::optional<int>& seed,
                                     SeedingCounter* seedings = nullptr);

// Runs replications 1..run.params.n_replications. run.params has already been
// through app_init and the population-size checks. Fills result.replications
// and the totals; throws the first replication's failure after the earlier
// replications' output has been written.
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
// structure on the run's series.
std::vector<std::string> fit_arguments(const RunConfig& config, const ModelStructure& s);

// The same for a one-variable model of `regimes` regimes (2 to 4) given by
// its ascending thresholds, which fit maps back to the times that split the
// series alike.
std::vector<std::string> fit_arguments(const RunConfig& config, int component, int lag, int regimes,
                                       const std::array<double, 3>& thresholds);

}  // namespace velmora
