// velmora run: one search with the parameters given on the command line.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "app/prepare.hpp"
#include "app/reported_inference.hpp"
#include "app/run_driver.hpp"
#include "app/validate.hpp"
#include "cli/analysis_options.hpp"
#include "cli/charts_option.hpp"
#include "cli/command_steps.hpp"
#include "cli/commands.hpp"
#include "cli/inference_options.hpp"
#include "cli/interrupt.hpp"
#include "cli/mpi_executor.hpp"
#include "cli/progress_line.hpp"
#include "cli/rolling_options.hpp"
#include "output/chart_input.hpp"
#include "output/history_csv.hpp"
#include "output/output_files.hpp"
#include "output/run_summary.hpp"
#include "support/console.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"
#include "support/text_file.hpp"

namespace velmora::cli {

namespace {

struct RunCommandState : CommandChoices {
    std::optional<int> seed;
    int threads = default_threads();
    bool no_cache = false;
    std::string history_path;
    int replications = options::replications.default_int();
    bool no_refine = false;

    static int default_threads() {
        const unsigned cores = std::thread::hardware_concurrency();
        return cores == 0 ? 1 : static_cast<int>(std::min<unsigned>(cores, kMaxThreads));
    }
};

// The generations of the search, then the refinement, on one line of a
// terminal (see TerminalLine).
class ProgressLine {
  public:
    explicit ProgressLine(int replications) : replications_(replications) {}

    bool update(const RunProgress& progress) {
        if (!line_.enabled()) {
            return true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (!started_) {
            started_ = true;
            start_ = now;
            start_nevals_ = progress.nevals;
        }
        const double seconds = std::chrono::duration<double>(now - start_).count();
        std::string rate;
        if (seconds > 0.0) {
            rate = strprintf("  %.0f evaluations/s", (progress.nevals - start_nevals_) / seconds);
        }
        const std::string replication =
            replications_ > 1
                ? strprintf("replication %d/%d  ", progress.replication, replications_)
                : std::string();
        line_.show(strprintf("%sgeneration %d/%d  best criterion %.6f%s", replication.c_str(),
                             progress.generation + 1, progress.maxgen, progress.best_criterion,
                             rate.c_str()),
                   progress.generation + 1 >= progress.maxgen);
        return true;
    }

    void refinement(const RefineProgress& progress) {
        if (progress.descents == 0) {
            line_.show("refinement: starting", true);
            return;
        }
        line_.show(strprintf("refinement: %d/%d descents done  step %d  criterion %.6f",
                             progress.descents_done, progress.descents, progress.steps,
                             progress.criterion));
    }

    void finish() { line_.finish(); }

  private:
    TerminalLine line_;
    int replications_;
    bool started_ = false;
    int start_nevals_ = 0;
    std::chrono::steady_clock::time_point start_;
};

// The course of the search as it is bred: the history file, written as the
// generations come so that a failed run keeps the rows of what it did, and
// the generations kept for the search's chart.
class SearchCourse {
  public:
    explicit SearchCourse(const RunCommandState& state) : keep_(!state.charts_dir.empty()) {
        if (!state.history_path.empty()) {
            history_.emplace(state.history_path);
        }
    }

    void follow(RunOptions& options) {
        if (history_ || keep_) {
            options.generation_bred = [this](const RunProgress& bred) {
                if (history_) {
                    history_->add(bred);
                }
                if (keep_) {
                    generations_.push_back(bred);
                }
            };
        }
    }

    // Ends the history file; a lost one is named on standard error.
    void close(ExtraOutputs& outputs, const std::string& path) {
        if (history_) {
            if (const std::string reason = history_->close(); !reason.empty()) {
                std::fprintf(stderr, "%s\n", outputs.note_failure(path, reason).c_str());
            }
        }
    }

    std::vector<RunProgress> take_generations() { return std::move(generations_); }

  private:
    std::optional<HistoryCsv> history_;
    bool keep_;
    std::vector<RunProgress> generations_;
};

void report_failed_files(const RunResult& result) {
    for (const FileFailure& failure : result.files_failed) {
        std::fprintf(stderr, "%s could not be written: %s\n", failure.path.c_str(),
                     failure.reason.c_str());
    }
}

// The end of a run that a signal stopped: what stays, on standard error.
int stopped_by_signal(const RunCommandState& state, const RunResult& result,
                      const InterruptGuard& interrupts, bool search_done) {
    std::fflush(stdout);
    const std::string log = run_log_path(state.workdir).string();
    if (!search_done && state.replications > 1) {
        int reported = 0;
        for (const ReplicationResult& r : result.replications) {
            reported += r.reported ? 1 : 0;
        }
        std::fprintf(stderr,
                     "Search stopped after %d generations; %s holds its log, the result files "
                     "the reports of the %d replications that finished.\n",
                     result.generations, log.c_str(), reported);
    } else if (!search_done) {
        std::fprintf(stderr, "Search stopped after %d generations; %s holds its log.\n",
                     result.generations, log.c_str());
    } else if (result.refinement_stopped) {
        std::fprintf(stderr,
                     "Refinement stopped after the search's %d generations; %s holds its log, "
                     "the result files the search's report.\n",
                     result.generations, log.c_str());
    } else {
        std::fprintf(stderr,
                     "Run stopped after its search; %s holds its log, the result files the "
                     "reports; no JSON or CSV file was written.\n",
                     log.c_str());
    }
    if (!search_done || result.refinement_stopped) {
        report_failed_files(result);
    }
    return interrupted_status(interrupts.signal_received());
}

// The choices of the search that its configuration's check does not see.
void check_search_choices(const RunCommandState& state) {
    if (state.config.select_orders && state.config.model.criterion == Criterion::classic) {
        throw ConfigError(
            "--select-order needs --criterion aic, bic or hq: the classic criterion scores each "
            "order on rows of its own, so orders cannot be compared by it");
    }
    if (state.config.select_orders && state.no_refine) {
        throw ConfigError(
            "--select-order: the orders are chosen by the refinement; drop --no-refine");
    }
    check_inference_choices(state.inference);
    check_tables_path(state.tables_path);
    check_charts_available(state.charts_dir);
}

RunOptions search_options(const RunCommandState& state, TaskExecutor* executor, Console& console,
                          const std::atomic<bool>* stop) {
    RunOptions options;
    options.workdir = state.workdir;
    options.seed = state.seed;
    options.threads = state.threads;
    options.executor = executor;
    options.cache = !state.no_cache;
    options.replications = state.replications;
    options.refine = !state.no_refine;
    options.console = &console;
    options.stop = stop;
    return options;
}

int execute(RunCommandState& state, const Spread& spread) {
    put_files_aside(state, spread);
    RunConfig& config = state.config;
    refuse_course_file_among_own_files(config.course_file, state.workdir);
    // Sizes not given are taken from the file, which must then be read
    // before the run log is begun: its header records n_oss.
    std::optional<LoadedSeries> series = load_for_sizes(config, state.given);
    // With --holdout the search runs on the rows before those held out.
    validate_analysis(state.analysis, config.n_oss, config.n_comp);
    prepare_rolling(state.rolling, state.analysis, config.n_oss);
    const int rows_read = config.n_oss;
    config.n_oss -= state.analysis.holdout;
    // A refused configuration leaves the file system as it was: no working
    // directory is created and an earlier JSON summary is kept.
    // Validated once, here: the search enforces the same validation at its
    // moments instead of checking the configuration again.
    const Validation validation = validate(config);
    validation.enforce(CheckPoint::configuration);
    check_search_choices(state);
    const CommandFiles files = command_files_of(state);
    ExtraOutputs outputs(command_files(config.course_file, state.workdir));
    add_command_outputs(outputs, files);
    outputs.check_paths();
    // The rows held out are read with the others, once: the search takes
    // the first ones, the hold-out check all of them.
    PipelineRequest request;
    if (state.analysis.holdout > 0 || series) {
        request.rows = std::make_shared<const SplitSeries>(
            read_with_held_out(std::move(series), config, rows_read, config.n_oss));
        series.reset();
    }
    ensure_workdir(state.workdir);
    // Paths that cannot be written are refused before the search; an earlier
    // file at them is kept until its replacement is whole.
    outputs.check_creatable();

    SearchCourse course(state);

    StdConsole console;
    ProgressLine progress_line(state.replications);
    InterruptGuard interrupts(state.replications > 1 ? stage::search_replications : stage::search);
    const std::atomic<bool>* stop = &interrupts.stop_requested();
    RunOptions& options = request.search;
    options = search_options(state, spread.executor, console, stop);
    options.validated = validation;
    options.progress = [&progress_line](const RunProgress& progress) {
        return progress_line.update(progress);
    };
    options.refine_progress = [&](const RefineProgress& progress) {
        interrupts.set_stage(stage::refinement);
        progress_line.refinement(progress);
    };
    course.follow(options);
    request.config = config;
    request.config.n_oss = rows_read;
    StageProgress stage_line;
    request_after_model(request, state.inference, state.analysis, state.rolling, 0, state.threads,
                        stop, stage_line, spread);
    // Once the search is done: the progress line ends, a lost history is
    // named, the rest written.
    bool search_closed = false;
    const auto close_search = [&] {
        if (search_closed) {
            return;
        }
        search_closed = true;
        progress_line.finish();
        course.close(outputs, state.history_path);
    };
    request.searched = [&](const RunResult& result) {
        close_search();
        if (!result.completed && interrupts.signal_received() != 0) {
            return false;
        }
        std::fputs(format_run_summary(result).c_str(), stdout);
        std::fflush(stdout);
        report_failed_files(result);
        interrupts.set_stage(stage::after_search);
        return true;
    };

    PipelineResult pipeline;
    try {
        pipeline = run_pipeline(request);
    } catch (...) {
        progress_line.finish();
        throw;
    }
    stage_line.finish();
    close_search();
    const RunResult& result = pipeline.search;
    if (!result.completed && interrupts.signal_received() != 0) {
        // As a stop in the desktop program: the log of the generations bred,
        // the reports complete before the signal, no summary.
        return stopped_by_signal(state, result, interrupts, result.refinement_stopped);
    }
    const std::vector<StepFailure>& analysis_errors = pipeline.analysis_errors;
    // Forecasts and impulse responses of the reported model: the refined one
    // when refinement ran (also from a start population, with --maxgen 0).
    const FittedModel& reported = pipeline.reported();
    AnalysisResult& analysis = pipeline.analysis;
    const SplitSeries* split = state.analysis.holdout > 0 ? pipeline.rows.get() : nullptr;
    if (state.analysis.any() && !result.best_codes.empty()) {
        name_analysis(analysis, split ? split->all.info : result.series);
    }
    if (interrupts.signal_received() != 0) {
        return stopped_by_signal(state, result, interrupts, true);
    }

    CommandResults results;
    results.pipeline = &pipeline;
    results.parameters = state.bindings.parameters_json();
    results.search = &options;
    results.series = &result.series;
    results.rolling_series = &result.series;
    results.failure_text = shown_message;
    const FilesWritten written = write_command_files(results, files, outputs);
    std::fputs(command_closing_text(results, files, written).c_str(), stdout);
    bool all_written = result.files_failed.empty() && outputs.failed().empty();
    if (!state.charts_dir.empty()) {
        ChartInput charts;
        charts.series = split ? &split->all.info : &result.series;
        charts.rows = split ? &split->all.serie : result.serie.get();
        charts.rows_read = rows_read;
        charts.model = result.best_codes.empty() ? nullptr : &reported;
        charts.refined = result.refined.has_value();
        charts.history = course.take_generations();
        charts.maxgen = config.maxgen;
        charts.analysis = &analysis;
        if (!write_charts(state.charts_dir, chart_input_json(charts))) {
            all_written = false;
        }
    }
    if (std::fflush(stdout) != 0) {
        all_written = false;
    }
    if (!all_written) {
        return kWriteFailureStatus;
    }
    return analysis_errors.empty() ? 0 : kAnalysisFailureStatus;
}

}  // namespace

void add_run_command(CLI::App& app, int& exit_status) {
    auto state = std::make_shared<RunCommandState>();
    RunConfig& c = state->config;
    CLI::App* run = app.add_subcommand(
        "run",
        "Search for the best threshold model of a series: a genetic algorithm evolves model "
        "structures for a number of generations and the best one is estimated and reported.");

    options::Bindings& b = state->bindings;
    bind_search_options(b, c);
    bind_problem(b, c, state->workdir);
    b.bind(options::run_seed, state->seed);
    b.bind(options::run_threads, state->threads);
    b.bind(options::no_cache, state->no_cache);
    b.bind(options::run_json, state->json_path);
    b.bind(options::run_regimes_csv, state->regimes_csv_path);
    b.bind(options::history, state->history_path);
    bind_model_output_options(b, *state);
    b.bind(options::replications, state->replications);
    b.bind(options::no_refine, state->no_refine);
    b.bind(options::select_order, state->config.select_orders);
    finish_command(*run, state, exit_status, execute);
}

}  // namespace velmora::cli
