#pragma once
// One complete run of the search, toolkit-free: preparation, the engine's
// replication, the generation loop, the final report, release and closing of
// files. The command line and the desktop program are thin users of it.

#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/run_config.hpp"
#include "app/threshold_app.hpp"
#include "support/console.hpp"

namespace velmora {

struct RunProgress {
    int generation = 0;  // current_gen, 0 .. maxgen-1
    int maxgen = 0;
    double best_criterion = 0.0;  // smallest criterion so far (from the best fitness)
    double best_fitness = 0.0;
    double mean_fitness = 0.0;
    int nevals = 0;
};

// Return false to ask the run to stop before the next generation.
using ProgressCallback = std::function<bool(const RunProgress&)>;

struct RunOptions {
    std::filesystem::path workdir = ".";      // where the run's files go
    std::optional<int> seed;                  // casual value 0..999; clock when empty
    int threads = 1;                          // evaluation threads
    bool cache = true;                        // fitness cache
    Console* console = nullptr;               // StdConsole when null
    ProgressCallback progress;                // may be empty
    const std::atomic<bool>* stop = nullptr;  // checked between generations
};

struct RunResult {
    bool completed = false;  // false when stopped early
    int generations = 0;     // generations produced
    int popsize = 0;         // population size used (after the engine's adjustments)
    int casual = 0;          // seed of the replication; --seed replays it
    float randomseed = 0.0f;
    int nevals = 0;
    long long estimations = 0;        // estimator calls actually made by the objective
    long long estimations_saved = 0;  // evaluations answered without estimating
    bool reported = false;            // a best-model report was appended
    // The best structure of the last population and its estimate.
    std::vector<unsigned> best_codes;  // the sixteen field codes
    StructureSummary best;
    double best_criterion = 0.0;
    double best_fitness = 0.0;
    // Output.txt, then the three result files when a report was appended.
    std::vector<std::filesystem::path> files_written;
};

// Runs the search. Throws ConfigError (also for a seed outside 0..999 or
// threads below 1), EngineFault or NumericError: typed failures carrying the
// message text and exit status. Every file is closed when it returns or throws.
RunResult run_search(const RunConfig& config, const RunOptions& options);

}  // namespace velmora
