#include "app/run_driver.hpp"

#include <algorithm>
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

bool stop_requested(const RunOptions& options) {
    return options.stop != nullptr && options.stop->load();
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
    const std::filesystem::path log_path = workdir / "Output.txt";
    if (run.output_file.close()) {
        result.files_written.insert(result.files_written.begin(), log_path);
    } else {
        result.files_failed.insert(result.files_failed.begin(),
                                   FileFailure{log_path, run.output_file.error()});
    }
}

}  // namespace

RunResult run_search(const RunConfig& config, const RunOptions& options) {
    const Validation validation = validate(config, options);
    validation.enforce(CheckPoint::configuration);
    const auto start = std::chrono::steady_clock::now();
    StdConsole std_console;
    Console& console = options.console != nullptr ? *options.console : std_console;

    PreparedRun run = prepare_run(config, options.workdir, console, options.series);
    EngineParams& p = run.params;

    ModelProblem problem;
    problem.serie_matrix = &run.serie_matrix;
    problem.n_oss = run.n_oss;
    problem.n_comp = run.n_comp;
    problem.min_oss_reg = run.min_oss_reg;
    problem.m = run.m;
    problem.include = run.include;
    problem.trend_origin = options.trend_origin;
    problem.criterion = config.criterion;
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

    for (p.replication = 1; p.replication <= p.n_replications; ++p.replication) {
        EngineState state(p, app, rng, run.output_file, console);
        state.fixed_casual = options.seed;

        app.app_before_init();
        app.app_init(p);
        check_engine_settings(p, validation, console);
        initialize_engine(state);
        result.casual = rng.casual();
        result.randomseed = state.randomseed;

        for (state.current_gen = p.start_gen; state.current_gen < p.maxgen; ++state.current_gen) {
            if (stop_requested(options) ||
                (options.progress && !options.progress(progress_of(state, app, start)))) {
                result.completed = false;
                break;
            }
            app.app_before_generation();
            generation(state);
            population_statistics(state, state.newpop);
            state.stats.window_newest += 1;
            if (state.current_gen == p.maxgen - 1 && p.report_level < 3) {
                // A stop asked for during the last generation still means no
                // report, as a stop asked for before it.
                if (stop_requested(options)) {
                    result.completed = false;
                } else {
                    engine_report(state);
                    result.reported = true;
                }
            }
            std::swap(state.oldpop, state.newpop);
            ++result.generations;
            if (options.generation_bred) {
                RunProgress bred = progress_of(state, app, start);
                bred.generation = state.current_gen + 1;
                bred.best_criterion = exact_best_criterion(state, problem);
                options.generation_bred(bred);
            }
        }
        if (p.start_gen >= p.maxgen) {
            population_statistics(state, state.oldpop);
        }
        run.output_file.flush();

        // The population last summarised holds the best structure: the one
        // the report estimated, or the start population when none was bred.
        const individual& best = state.oldpop[state.stats.best_index];
        const FieldCodes codes = read_field_codes(best.chrom, state.layout);
        result.best_codes.assign(codes.begin(), codes.end());
        result.best =
            summarize_structure(problem, decode_structure(codes, problem.threshold_components));
        result.best_fitness = best.raw_fitness;
        result.best_criterion = result.best.criterion;
        result.nevals = state.nevals;
        if (result.reported) {
            note_report(app.last_report(), result);
        }

        free_all(state);
    }

    result.estimations = app.estimations();
    result.estimations_saved = app.estimations_saved();
    result.popsize = p.popsize;
    close_run_log(run, options.workdir, result);
    run.input_file.close();

    ReplicationResult only;
    only.casual = result.casual;
    only.randomseed = result.randomseed;
    only.completed = result.completed;
    only.generations = result.generations;
    only.nevals = result.nevals;
    only.estimations = result.estimations;
    only.reported = result.reported;
    only.best_codes = result.best_codes;
    only.best = result.best;
    only.best_criterion = result.best_criterion;
    only.best_fitness = result.best_fitness;
    only.report = app.last_report();
    result.replications.push_back(only);
    choose_winner(result);
    if (options.refine && result.completed) {
        refine_winner(config, problem, options, result);
    }
    result.serie = std::make_shared<const double_matrix>(std::move(run.serie_matrix));
    return result;
}

}  // namespace velmora
