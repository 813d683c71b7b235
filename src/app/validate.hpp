#pragma once
// One validation of a run: every bound and combination a search needs,
// checked here and nowhere else, in the order the run meets them. Front ends
// call it before they touch anything; the run raises each problem at its own
// moment, so the run log and the messages stay as users know them.

#include <string>
#include <vector>

#include "app/run_config.hpp"

namespace velmora {

struct RunOptions;

// Where a run reports a problem.
enum class CheckPoint {
    // Before any file is touched (ConfigError).
    configuration,
    // The scaling method's constant: once the series has been read and header
    // lines 1 to 13 of "Output.txt" are written (ConfigError).
    scaling,
    // At the start of the engine, after the population size has been mended
    // and its messages printed (EngineFault).
    engine_start,
};

struct ConfigProblem {
    CheckPoint when;
    std::string message;
};

struct Validation {
    // In the order the run meets them; a check that needs a valid choice is
    // skipped when the choice itself is a problem.
    std::vector<ConfigProblem> problems;

    bool ok() const { return problems.empty(); }
    // The first problem reported at `when`, or null.
    const ConfigProblem* first(CheckPoint when) const;
    // Throws the first problem reported at `when`: a ConfigError, or an
    // EngineFault at the engine's start. Returns when there is none.
    void enforce(CheckPoint when) const;
};

// The configuration: choices with a row, n_comp >= 2, 30 <= n_oss <=
// max_n_oss, the model definition's bounds, maxgen >= 0, popsize <=
// max_popsize, probabilities in 0..1, a tournament within the population
// used, finite constants, a window constant that fits an int; then the
// chosen scaling method's constant; then automatic control needing
// stochastic universal sampling.
Validation validate(const RunConfig& config);
// The same, after the run's own options (seed 0..999, threads 1..kMaxThreads,
// replications 1..1000), which come first.
Validation validate(const RunConfig& config, const RunOptions& options);
// The run's own options, then the configuration's problems as validated
// already: a run takes its front end's validation instead of repeating it.
Validation validate(const RunOptions& options, const Validation& of_config);

}  // namespace velmora
