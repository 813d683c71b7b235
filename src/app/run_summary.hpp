#pragma once
// What a finished run tells its user: a closing summary of the best model in
// plain words, and the same as JSON for scripts.

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/run_config.hpp"
#include "app/run_driver.hpp"

namespace velmora {

// Several lines, each ending in '\n': the best structure (threshold
// variables, lags, regimes, thresholds, observations per regime, criterion,
// fitness), the evaluations and what the cache saved, the files written and
// how to replay the run.
std::string format_run_summary(const RunResult& result);

// The summary with the run's parameters and seed. options supplies the
// working directory, threads and cache flag.
// `velmora` followed by the arguments, quoted for a POSIX shell where needed.
std::string fit_command_line(const std::vector<std::string>& arguments);

nlohmann::json run_summary_json(const RunConfig& config, const RunOptions& options,
                                const RunResult& result);

}  // namespace velmora
