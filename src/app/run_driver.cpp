#include "app/run_driver.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <utility>

#include "app/prepare.hpp"
#include "app/replications.hpp"
#include "app/threshold_app.hpp"
#include "app/validate.hpp"
#include "engine/engine_state.hpp"
#include "engine/generation.hpp"
#include "engine/population.hpp"
#include "engine/startup.hpp"
#include "output/report/own_files.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"
#include "support/random.hpp"
#include "support/statistics.hpp"

namespace velmora {

namespace {

// The population-size and selection checks that precede initialize_engine.
void check_engine_settings(EngineParams& p, const Validation& validation, Console& console) {
    if (p.popsize % 2 != 0) {
        console.out("Sorry! only even population sizes are allowed. \n");
        console.out("Incrementing popsize by one.\n");
        p.popsize += 1;
    }
    if (p.popsize < 2) {
        console.out("Sorry! minimum population size is 2.\n");
        p.popsize = 2;
    }
    validation.enforce(CheckPoint::engine_start);
}

// Adds a report's written files (each once) and its failures to the result.
void note_report(const ReportOutcome& report, RunResult& result) {
    for (const auto& file : report.written) {
        if (std::find(result.files_written.begin(), result.files_written.end(), file) ==
            result.files_written.end()) {
            result.files_written.push_back(file);
        }
    }
    result.files_failed.insert(result.files_failed.end(), report.failed.begin(),
                               report.failed.end());
}

// Output.txt heads the files written when all of it reached the disk;
// otherwise it is a file that failed, with the system's reason.
void close_run_log(PreparedRun& run, const std::filesystem::path& workdir, RunResult& result) {
    const std::filesystem::path log_path = run_log_path(workdir);
    if (run.output_file.close()) {
        result.files_written.insert(result.files_written.begin(), log_path);
    } else {
        result.files_failed.insert(result.files_failed.begin(),
                                   FileFailure{log_path, run.output_file.error()});
    }
}

}  // namespace

RunResult run_search(const RunConfig& config, const RunOptions& options) {
    const Validation validation =
        options.validated ? validate(options, *options.validated) : validate(config, options);
    validation.enforce(CheckPoint::configuration);
    const auto start = std::chrono::steady_clock::now();
    StdConsole std_console;
    Console& console = options.console != nullptr ? *options.console : std_console;

    PreparedRun run = prepare_run(config, options.workdir, console, options.series, &validation);
    EngineParams& p = run.params;

    ModelProblem problem;
    problem.serie_matrix = &run.serie_matrix;
    problem.n_oss = run.n_oss;
    problem.n_comp = run.n_comp;
    problem.model = run.model;
    problem.trend_origin = options.trend_origin;
    problem.threshold_components = run.series_info.threshold_components;
    problem.external_columns = run.series_info.external_columns;
    problem.result_dir = options.workdir;
    problem.console = &console;
    RunResult result;
    result.completed = true;
    result.series = run.series_info;
    p.n_replications = options.replications;

    if (p.n_replications > 1) {
        // The checks of the first replication's initialisation, once: every
        // replication then starts from the same adjusted parameters.
        ThresholdApp(problem, 1, false).app_init(p);
        check_engine_settings(p, validation, console);
        run_replications(run, problem, options, console, start, result);
        choose_winner(result);
        if (!result.best_codes.empty()) {
            // The replications kept only a summary of their best models; the
            // winner's is estimated again, whole (the same estimate).
            result.best = summarize_structure(problem, result.best.structure);
        }
        // The result files of every kind of model some replication reported.
        for (int kind = 1; kind <= 2; ++kind) {
            for (const ReplicationResult& r : result.replications) {
                if (r.reported && r.best.structure.threshold_variables == kind) {
                    note_report(r.report, result);
                }
            }
        }
        result.popsize = p.popsize;
        close_run_log(run, options.workdir, result);
        run.input_file.close();
        if (options.refine && result.completed) {
            refine_winner(config, problem, options, result);
        }
        result.serie = std::make_shared<const double_matrix>(std::move(run.serie_matrix));
        return result;
    }

    ThresholdApp app(problem, options.threads, options.cache);
    RandomGenerator rng =
        options.seedings != nullptr ? RandomGenerator(*options.seedings) : RandomGenerator();

    // One replication: its generations and its report are written as they
    // come, on the caller's console and Output.txt.
    ReplicationResult only;
    p.replication = 1;
    {
        EngineState state(p, app, rng, run.output_file, console);
        state.fixed_casual = options.seed;

        app.app_before_init();
        app.app_init(p);
        check_engine_settings(p, validation, console);
        initialize_engine(state);
        only.casual = rng.casual();
        only.randomseed = state.randomseed;
        std::atomic<bool> stopped{false};
        breed_generations(state, app, problem, options.stop, start, stopped, options.progress,
                          options.generation_bred, only);
    }
    only.estimations = app.estimations();
    only.estimations_saved = app.estimations_saved();
    if (only.reported) {
        only.report = app.last_report();
        note_report(only.report, result);
    }
    result.completed = only.completed;
    result.casual = only.casual;
    result.randomseed = only.randomseed;
    result.generations = only.generations;
    result.nevals = only.nevals;
    result.reported = only.reported;
    result.estimations = only.estimations;
    result.estimations_saved = only.estimations_saved;

    result.popsize = p.popsize;
    close_run_log(run, options.workdir, result);
    run.input_file.close();

    result.replications.push_back(only);
    choose_winner(result);
    if (options.refine && result.completed) {
        refine_winner(config, problem, options, result);
    }
    result.serie = std::make_shared<const double_matrix>(std::move(run.serie_matrix));
    return result;
}

}  // namespace velmora
