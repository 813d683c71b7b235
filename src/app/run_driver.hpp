#pragma once
// One complete run of the search, toolkit-free: preparation, the engine's
// replication, the generation loop, the final report, release and closing of
// files. The command line and the desktop program are thin users of it.

#include <array>
#include <atomic>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/run_config.hpp"
#include "app/threshold_app.hpp"
#include "app/validate.hpp"
#include "data/series.hpp"
#include "search/refine.hpp"
#include "support/console.hpp"
#include "support/executor.hpp"
#include "support/random.hpp"
#include "support/text_file.hpp"

namespace velmora {

// The state of a run at one moment. Before a generation, `generation` is
// the one about to be bred (0 .. maxgen-1) and the figures describe the
// population it breeds from; after a generation it is the count of
// generations bred in this replication (1 .. maxgen) and the figures
// describe the population just bred.
struct RunProgress {
    int replication = 1;  // 1-based
    int generation = 0;
    int maxgen = 0;
    double best_criterion = 0.0;  // criterion of the population's best member
    // Mean criterion over the members that could be estimated; NaN when none
    // could (their fitness is 0 and they have no criterion).
    double mean_criterion = 0.0;
    double best_fitness = 0.0;
    double mean_fitness = 0.0;
    int nevals = 0;             // objective evaluations so far
    long long estimations = 0;  // estimator calls so far (the rest came from the cache)
    double seconds = 0.0;       // since the run started
};

// Return false to ask the run to stop before the next generation.
using ProgressCallback = std::function<bool(const RunProgress&)>;
// Told of every generation once it has been bred and its statistics taken.
using GenerationCallback = std::function<void(const RunProgress&)>;

struct RunOptions {
    std::filesystem::path workdir = ".";  // where the run's files go
    std::optional<int> seed;              // casual value 0..999; clock when empty
    int threads = 1;                      // evaluation threads
    bool cache = true;                    // fitness cache
    Console* console = nullptr;           // StdConsole when null
    ProgressCallback progress;            // before each generation; may be empty
    GenerationCallback generation_bred;   // after each generation; may be empty
    // Checked between generations, and between the refinement's moves.
    const std::atomic<bool>* stop = nullptr;
    // Complete searches, each with its own seeding and last-generation
    // report; with a seed S replication r uses casual (S + r - 1) mod 1000.
    // Replications run side by side on up to `threads` threads.
    int replications = 1;
    // Spreads the replications (each one's record crossing as bytes), then
    // writes them in order; null: the threads, each record written as soon
    // as those before it are.
    TaskExecutor* executor = nullptr;
    // Refine the best replication's best structure afterwards.
    bool refine = true;
    // Told of each neighbourhood the refinement examines; may be empty.
    std::function<void(const RefineProgress&)> refine_progress;
    // The configuration's validation, made once where the run began, before
    // anything was touched: the search enforces its problems at their moments
    // and trusts the configuration instead of checking it again. Empty: the
    // search validates the configuration itself.
    std::optional<Validation> validated;
    // A series already read (its sizes must be the config's); when null the
    // run reads config.course_file.
    const LoadedSeries* series = nullptr;
    // Row number (in the data read) of the row before the series' first: a
    // trend counts from it, so that a window of rows keeps the data's count.
    int trend_origin = 0;
    // The process's seeding count; a count of the run's own when null (a
    // process that runs once).
    SeedingCounter* seedings = nullptr;
};

// One replication's outcome.
struct ReplicationResult {
    int replication = 1;
    int casual = 0;
    float randomseed = 0.0f;
    bool completed = true;
    int generations = 0;
    int nevals = 0;
    long long estimations = 0;
    long long estimations_saved = 0;
    bool reported = false;
    std::vector<unsigned> best_codes;
    StructureSummary best;
    double best_criterion = 0.0;
    double best_fitness = 0.0;
    ReportOutcome report;  // of its best-model report, when reported
};

// Everything one replication leaves behind, as plain values, so that it can
// be computed anywhere (another thread, another process) and written in
// replication order afterwards: its lines of Output.txt, its console lines,
// the rows of the history, its last-generation report as formatted, and the
// summary of its best model (coefficients and covariances, without fitted
// values and residuals).
struct ReplicationRecord {
    int replication = 1;   // 1-based index
    std::string log_text;  // its lines of Output.txt
    // Its lines for standard output (false) and standard error (true).
    std::vector<std::pair<bool, std::string>> console;
    std::vector<RunProgress> history;  // one per generation bred
    // Its report: OutputThreshold*, PredictionThreshold*, ResidualThreshold*;
    // report_threshold_variables is 0 when it reported none.
    std::array<std::string, 3> report_text;
    int report_threshold_variables = 0;
    ReplicationResult result;
    // A failure of the replication, thrown when the record is written (not
    // serialisable: a process that sends records sends the text instead).
    std::exception_ptr failure;
};

// A record as bytes and back, whole (its failure as support/executor.hpp
// carries one); the report outcome is not part of it, since only writing the
// record fills it.
std::string replication_bytes(const ReplicationRecord& record);
ReplicationRecord replication_from_bytes(std::string_view bytes);

// The refined model: the winner's structure after refinement.
struct RefinedModel {
    StructureSummary model;         // structure, estimate, criterion, fitness
    double start_criterion = 0.0;   // the search's best
    int replication = 1;            // the replication it started from
    int steps = 0;                  // accepted moves
    long long candidates = 0;       // splits screened
    long long exact_estimates = 0;  // estimator calls
    double seconds = 0.0;
    // The best threshold model the refinement found and its criterion: the
    // model itself unless the linear VAR scored below it.
    ModelStructure best_threshold;
    double best_threshold_criterion = 0.0;
    std::vector<std::string> fit_arguments;  // `velmora fit` arguments that replay it
    std::vector<std::filesystem::path> files;
    double improvement() const { return start_criterion - model.criterion; }
};

// Bounds of RunOptions::threads.
inline constexpr int kMaxThreads = 1024;

struct RunResult {
    bool completed = false;  // false when stopped early
    // The stop came during the refinement: the search and its reports are
    // complete, the refined model is not there.
    bool refinement_stopped = false;
    int generations = 0;  // generations produced
    int popsize = 0;      // population size used (after the engine's adjustments)
    int casual = 0;       // seed of the replication; --seed replays it
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
    // Output.txt, then the result files a best-model report reached whole
    // (the refined model's are in refined->files).
    std::vector<std::filesystem::path> files_written;
    // Files that could not be written whole (Output.txt, a report's result
    // files, the refined one's included), with the system's reason.
    std::vector<FileFailure> files_failed;
    // Every replication in order; best* above are those of best_replication.
    std::vector<ReplicationResult> replications;
    int best_replication = 1;
    // Replications whose best has the winner's threshold variables, lags and
    // regime count (the winner included).
    int agreement = 1;
    std::optional<RefinedModel> refined;  // empty with refine off or a stopped run
    // Names, labels and rows read of the series searched, and its values
    // (rows 1..n_oss), so that later analyses need not read the file again
    // (a pipe cannot be read twice).
    SeriesInfo series;
    std::shared_ptr<const double_matrix> serie;
};

// Runs the search. Throws ConfigError (also for a seed outside 0..999,
// threads outside 1..kMaxThreads, replications outside 1..1000, and for a run
// file that exists and is not a regular file), EngineFault or NumericError:
// typed failures carrying the message text and exit status. Every file is
// closed when it returns or throws.
RunResult run_search(const RunConfig& config, const RunOptions& options);

}  // namespace velmora
