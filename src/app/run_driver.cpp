#include "app/run_driver.hpp"

#include <chrono>
#include <cmath>
#include <utility>

#include "app/prepare.hpp"
#include "app/threshold_app.hpp"
#include "engine/engine_state.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"
#include "support/random.hpp"
#include "support/statistics.hpp"

namespace velmora {

namespace {

double criterion_of(double fitness) {
    return fitness > 0.0 ? -100.0 * std::log(fitness) : 0.0;
}

void check_options(const RunOptions& options) {
    if (options.seed && (*options.seed < 0 || *options.seed > 999)) {
        throw ConfigError(strprintf("Seed must be between 0 and 999 (seed = %d)", *options.seed));
    }
    if (options.threads < 1) {
        throw ConfigError(strprintf("Threads must be >= 1 (threads = %d)", options.threads));
    }
}

// The population-size and selection checks that precede initialize_engine.
void check_engine_settings(EngineParams& p, Console& console) {
    if (p.popsize % 2 != 0) {
        console.out("Sorry! only even population sizes are allowed. \n");
        console.out("Incrementing popsize by one.\n");
        p.popsize += 1;
    }
    if (p.popsize < 2) {
        console.out("Sorry! minimum population size is 2.\n");
        p.popsize = 2;
    }
    if (p.autocontrol_selection == 1 && p.selection_code != SelectionCode::universal_sampling) {
        throw EngineFault(
            "OOPS, Automatic control of selection uses "
            "suselect.c, Stochastic Universal Sampling,\n"
            "and that is not the selection method loaded.\n"
            "Please load that and rerun.");
    }
}

bool stop_requested(const RunOptions& options) {
    return options.stop != nullptr && options.stop->load();
}

// The figures of the population last summarised (oldpop).
RunProgress progress_of(const EngineState& state, const ThresholdApp& app,
                        std::chrono::steady_clock::time_point start) {
    RunProgress progress;
    progress.replication = state.params.replication;
    progress.generation = state.params.current_gen;
    progress.maxgen = state.params.maxgen;
    progress.best_fitness = state.oldpop[state.stats.best_index].raw_fitness;
    progress.best_criterion = criterion_of(progress.best_fitness);
    progress.mean_fitness = state.stats.raw_avg;
    double sum = 0.0;
    int estimated = 0;
    for (int i = 0; i < state.params.popsize; ++i) {
        const double fitness = state.oldpop[i].raw_fitness;
        if (fitness > 0.0) {
            sum += criterion_of(fitness);
            ++estimated;
        }
    }
    progress.mean_criterion = estimated > 0 ? sum / estimated : std::nan("");
    progress.nevals = state.nevals;
    progress.estimations = app.estimations();
    progress.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return progress;
}

std::vector<std::filesystem::path> result_files(const std::filesystem::path& workdir,
                                                int threshold_variables) {
    const char* kind = threshold_variables == 1 ? "Univariate" : "Bivariate";
    return {workdir / strprintf("OutputThreshold%s.txt", kind),
            workdir / strprintf("PredictionThreshold%s.txt", kind),
            workdir / strprintf("ResidualThreshold%s.txt", kind)};
}

}  // namespace

RunResult run_search(const RunConfig& config, const RunOptions& options) {
    check_options(options);
    const auto start = std::chrono::steady_clock::now();
    StdConsole std_console;
    Console& console = options.console != nullptr ? *options.console : std_console;

    PreparedRun run = prepare_run(config, options.workdir, console);
    EngineParams& p = run.params;

    ModelProblem problem;
    problem.serie_matrix = &run.serie_matrix;
    problem.n_oss = run.n_oss;
    problem.n_comp = run.n_comp;
    problem.min_oss_reg = run.min_oss_reg;
    problem.m = run.m;
    problem.result_dir = options.workdir;
    problem.console = &console;
    ThresholdApp app(problem, options.threads, options.cache);
    RandomGenerator rng;

    RunResult result;
    result.completed = true;
    result.files_written.push_back(options.workdir / "Output.txt");

    for (p.replication = 1; p.replication <= p.n_replications; ++p.replication) {
        EngineState state(p, app, rng, run.output_file, console);
        state.fixed_casual = options.seed;

        app.app_before_init();
        app.app_init(p);
        check_engine_settings(p, console);
        initialize_engine(state);
        result.casual = rng.casual();
        result.randomseed = state.randomseed;

        for (p.current_gen = p.start_gen; p.current_gen < p.maxgen; ++p.current_gen) {
            if (stop_requested(options) ||
                (options.progress && !options.progress(progress_of(state, app, start)))) {
                result.completed = false;
                break;
            }
            app.app_before_generation();
            generation(state);
            population_statistics(state, state.newpop);
            state.stats.window_newest += 1;
            if (p.current_gen == p.maxgen - 1 && p.report_level < 3) {
                engine_report(state);
                result.reported = true;
            }
            std::swap(state.oldpop, state.newpop);
            ++result.generations;
            if (options.generation_bred) {
                RunProgress bred = progress_of(state, app, start);
                bred.generation = p.current_gen + 1;
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
        result.best = summarize_structure(problem, decode_structure(codes));
        result.best_fitness = best.raw_fitness;
        result.best_criterion = result.best.criterion;
        result.nevals = state.nevals;
        if (result.reported) {
            const auto files =
                result_files(options.workdir, result.best.structure.threshold_variables);
            result.files_written.insert(result.files_written.end(), files.begin(), files.end());
        }

        free_all(state);
    }

    result.estimations = app.estimations();
    result.estimations_saved = app.estimations_saved();
    result.popsize = p.popsize;
    run.output_file.close();
    run.input_file.close();
    return result;
}

}  // namespace velmora
