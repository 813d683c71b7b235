#include "app/replications.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <exception>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "engine/engine_state.hpp"
#include "engine/generation.hpp"
#include "engine/population.hpp"
#include "engine/startup.hpp"
#include "model/estimate.hpp"
#include "output/report/model_report.hpp"
#include "output/report/own_files.hpp"
#include "search/refine.hpp"
#include "support/errors.hpp"
#include "support/executor.hpp"
#include "support/format.hpp"
#include "support/parallel.hpp"
#include "support/random.hpp"
#include "support/statistics.hpp"

namespace velmora {

namespace {

double criterion_of(double fitness) {
    return fitness > 0.0 ? -100.0 * std::log(fitness) : 0.0;
}

// Console lines kept in order, to be replayed on the real console.
class BufferConsole final : public Console {
  public:
    void out(std::string_view text) override { lines_.emplace_back(false, std::string(text)); }
    void err(std::string_view text) override { lines_.emplace_back(true, std::string(text)); }
    std::vector<std::pair<bool, std::string>> lines() { return std::move(lines_); }

  private:
    std::vector<std::pair<bool, std::string>> lines_;
};

// The application as the engine sees it, except that the last-generation
// report is only noted: it is written later, in replication order.
class DeferredReportHooks final : public AppHooks {
  public:
    explicit DeferredReportHooks(ThresholdApp& app) : app_(app) {}

    void app_before_init() override { app_.app_before_init(); }
    void app_init(EngineParams& params) override { app_.app_init(params); }
    void app_set_field_sizes(std::vector<int>& sizes) override { app_.app_set_field_sizes(sizes); }
    void app_after_alloc() override { app_.app_after_alloc(); }
    void app_before_generation() override { app_.app_before_generation(); }
    void app_after_generation() override { app_.app_after_generation(); }
    void app_after_statistics(const individual* population, int popsize) override {
        app_.app_after_statistics(population, popsize);
    }
    int app_data_size() const override { return app_.app_data_size(); }
    void objfunc(std::span<individual* const> members, const ChromosomeLayout& layout) override {
        app_.objfunc(members, layout);
    }
    void app_final_report(const individual& best, const ChromosomeLayout& layout) override {
        report = decode_structure(read_field_codes(best.chrom, layout),
                                  app_.problem().threshold_components);
    }

    std::optional<ModelStructure> report;

  private:
    ThresholdApp& app_;
};

// Everything one replication owns while it runs; released when its record
// has been taken.
struct Replication {
    int index = 1;
    int casual = 0;
    EngineParams params;
    ModelProblem problem;
    std::unique_ptr<ThresholdApp> app;
    std::unique_ptr<DeferredReportHooks> hooks;
    RandomGenerator rng;
    TextFile log;  // its lines of Output.txt, in a temporary file
    BufferConsole console;
    std::vector<RunProgress> bred;
    ReplicationResult result;
};

std::string read_back(TextFile& file) {
    std::string text;
    std::FILE* f = file.get();
    if (f == nullptr) {
        return text;
    }
    std::fflush(f);
    std::rewind(f);
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        text.append(buffer, got);
    }
    return text;
}

void run_one(Replication& rep, const RunOptions& options,
             std::chrono::steady_clock::time_point start, std::atomic<bool>& stop,
             std::mutex& progress_mutex) {
    EngineParams& p = rep.params;
    EngineState state(p, *rep.hooks, rep.rng, rep.log, rep.console);
    state.fixed_casual = rep.casual;
    rep.hooks->app_before_init();
    rep.hooks->app_init(p);
    initialize_engine(state);
    ReplicationResult& r = rep.result;
    r.replication = rep.index;
    r.casual = rep.rng.casual();
    r.randomseed = state.randomseed;

    // Replications side by side ask the progress callback one at a time and
    // keep their generations' figures until they are written.
    ProgressCallback proceed;
    if (options.progress) {
        proceed = [&](const RunProgress& now) {
            std::lock_guard<std::mutex> lock(progress_mutex);
            return options.progress(now);
        };
    }
    GenerationCallback bred;
    if (options.generation_bred) {
        bred = [&rep](const RunProgress& figures) { rep.bred.push_back(figures); };
    }
    breed_generations(state, *rep.app, rep.problem, options.stop, start, stop, proceed, bred, r);
    r.estimations = rep.app->estimations();
    r.estimations_saved = rep.app->estimations_saved();
}

// Only what a summary reads of a replication's best model stays: its
// coefficients, covariances, thresholds and counts, not its fitted values,
// residuals and times, which a thousand replications could not all hold.
void keep_summary_only(FittedModel& model) {
    for (auto& pass : model.passes) {
        for (RegimeFit& fit : pass) {
            std::vector<int>().swap(fit.times);
            std::vector<double>().swap(fit.fitted);
            std::vector<double>().swap(fit.residuals);
        }
    }
    std::vector<double>().swap(model.threshold_variable);
    std::vector<double>().swap(model.threshold_variable2);
    std::vector<int>().swap(model.regime_of_time);
}

bool same_shape(const ModelStructure& a, const ModelStructure& b) {
    if (a.threshold_variables != b.threshold_variables || regime_count(a) != regime_count(b)) {
        return false;
    }
    if (is_linear(a)) {
        return true;
    }
    if (a.threshold_variables == 1) {
        return a.one.which_serie == b.one.which_serie && a.one.threshold_lag == b.one.threshold_lag;
    }
    return a.two.which_serie1 == b.two.which_serie1 && a.two.which_serie2 == b.two.which_serie2 &&
           a.two.Ritardo1 == b.two.Ritardo1 && a.two.Ritardo2 == b.two.Ritardo2;
}

}  // namespace

RunProgress progress_of(const EngineState& state, const ThresholdApp& app,
                        std::chrono::steady_clock::time_point start) {
    RunProgress progress;
    progress.replication = state.params.replication;
    progress.generation = state.current_gen;
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

double exact_best_criterion(const EngineState& state, const ModelProblem& problem) {
    const individual& best = state.oldpop[state.stats.best_index];
    if (!(best.raw_fitness > 0.0)) {
        return criterion_of(best.raw_fitness);
    }
    EstimationWorkspace workspace(problem);
    return estimate_criterion(problem, workspace,
                              decode_structure(read_field_codes(best.chrom, state.layout),
                                               problem.threshold_components))
        .criterion;
}

void breed_generations(EngineState& state, const ThresholdApp& app, const ModelProblem& problem,
                       const std::atomic<bool>* user_stop,
                       std::chrono::steady_clock::time_point start, std::atomic<bool>& stop,
                       const ProgressCallback& proceed, const GenerationCallback& bred,
                       ReplicationResult& r) {
    const EngineParams& p = state.params;
    const auto stop_asked = [&] {
        return stop.load() || (user_stop != nullptr && user_stop->load());
    };
    for (state.current_gen = p.start_gen; state.current_gen < p.maxgen; ++state.current_gen) {
        if (stop_asked() || (proceed && !proceed(progress_of(state, app, start)))) {
            stop.store(true);
            r.completed = false;
            break;
        }
        state.hooks.app_before_generation();
        generation(state);
        population_statistics(state, state.newpop);
        state.stats.window_newest += 1;
        if (state.current_gen == p.maxgen - 1 && p.report_level < 3) {
            // A stop asked for during the last generation still means no
            // report, as a stop asked for before it.
            if (stop_asked()) {
                stop.store(true);
                r.completed = false;
            } else {
                engine_report(state);
                r.reported = true;
            }
        }
        std::swap(state.oldpop, state.newpop);
        ++r.generations;
        if (bred) {
            RunProgress figures = progress_of(state, app, start);
            figures.generation = state.current_gen + 1;
            figures.best_criterion = exact_best_criterion(state, problem);
            bred(figures);
        }
    }
    if (p.start_gen >= p.maxgen) {
        population_statistics(state, state.oldpop);
    }
    state.output_file.flush();

    // The population last summarised holds the best structure: the one
    // the report estimated, or the start population when none was bred.
    const individual& best = state.oldpop[state.stats.best_index];
    const FieldCodes codes = read_field_codes(best.chrom, state.layout);
    r.best_codes.assign(codes.begin(), codes.end());
    r.best = summarize_structure(problem, decode_structure(codes, problem.threshold_components));
    r.best_fitness = best.raw_fitness;
    r.best_criterion = r.best.criterion;
    r.nevals = state.nevals;
    free_all(state);
}

std::vector<int> replication_casuals(int n, const std::optional<int>& seed,
                                     SeedingCounter* seedings) {
    std::vector<int> casuals;
    RandomGenerator clock_seeder =
        seedings != nullptr ? RandomGenerator(*seedings) : RandomGenerator();
    TextFile nowhere;  // not open: the seeding lines are written by each replication
    for (int r = 1; r <= n; ++r) {
        if (seed) {
            casuals.push_back((*seed + r - 1) % 1000);
        } else {
            float unused = 0.0f;
            clock_seeder.random_seed_from_clock(unused, nowhere);
            casuals.push_back(clock_seeder.casual());
        }
    }
    return casuals;
}

ReplicationRecord run_replication(const EngineParams& params, const ModelProblem& problem,
                                  const RunOptions& options, int index, int casual, int app_threads,
                                  std::chrono::steady_clock::time_point start,
                                  std::atomic<bool>& stop, std::mutex& progress_mutex) {
    Replication rep;
    rep.index = index;
    rep.casual = casual;
    rep.params = params;
    rep.params.replication = index;
    rep.problem = problem;
    rep.problem.replication = index;
    rep.problem.console = &rep.console;
    ReplicationRecord record;
    record.replication = index;
    try {
        rep.app = std::make_unique<ThresholdApp>(rep.problem, app_threads, options.cache);
        rep.hooks = std::make_unique<DeferredReportHooks>(*rep.app);
        std::FILE* scratch = std::tmpfile();
        if (scratch == nullptr) {
            throw ConfigError("A temporary file for a replication's log could not be created");
        }
        rep.log = TextFile::adopt(scratch);
        run_one(rep, options, start, stop, progress_mutex);
        if (rep.hooks->report) {
            EstimationWorkspace workspace(rep.problem);
            const FittedModel model = estimate(rep.problem, workspace, *rep.hooks->report);
            record.report_text = format_model_report(model, index);
            record.report_threshold_variables = model.threshold_variables();
        }
    } catch (...) {
        record.failure = std::current_exception();
        stop.store(true);
    }
    record.log_text = read_back(rep.log);
    record.console = rep.console.lines();
    record.history = std::move(rep.bred);
    record.result = std::move(rep.result);
    keep_summary_only(record.result.best.model);
    return record;
}

void emit_replication(ReplicationRecord& record, TextFile& log, Console& console,
                      const ModelProblem& problem, const RunOptions& options, RunResult& result) {
    if (!record.log_text.empty()) {
        log.printf("%s", record.log_text.c_str());
    }
    log.flush();
    for (const auto& [is_err, text] : record.console) {
        if (is_err) {
            console.err(text);
        } else {
            console.out(text);
        }
    }
    if (record.failure) {
        std::rethrow_exception(record.failure);
    }
    ReplicationResult& r = record.result;
    if (record.report_threshold_variables != 0) {
        r.report = append_model_report(record.report_text, record.report_threshold_variables,
                                       problem.result_dir, &console);
    }
    if (options.generation_bred) {
        for (const RunProgress& bred : record.history) {
            options.generation_bred(bred);
        }
    }
    result.completed = result.completed && r.completed;
    result.generations += r.generations;
    result.reported = result.reported || r.reported;
    result.nevals += r.nevals;
    result.estimations += r.estimations;
    result.estimations_saved += r.estimations_saved;
    result.replications.push_back(std::move(r));
}

namespace {

void write_progress(ByteWriter& out, const RunProgress& p) {
    out.ints(std::vector<int>{p.replication, p.generation, p.maxgen, p.nevals});
    out.doubles(std::vector<double>{p.best_criterion, p.mean_criterion, p.best_fitness,
                                    p.mean_fitness, p.seconds});
    out.u64(static_cast<std::uint64_t>(p.estimations));
}

RunProgress read_progress(ByteReader& in) {
    RunProgress p;
    const std::vector<int> i = in.ints();
    const std::vector<double> d = in.doubles();
    if (i.size() != 4 || d.size() != 5) {
        throw std::invalid_argument("A replication's bytes hold another progress record");
    }
    p.replication = i[0];
    p.generation = i[1];
    p.maxgen = i[2];
    p.nevals = i[3];
    p.best_criterion = d[0];
    p.mean_criterion = d[1];
    p.best_fitness = d[2];
    p.mean_fitness = d[3];
    p.seconds = d[4];
    p.estimations = static_cast<long long>(in.u64());
    return p;
}

// The replications shared out by an executor (in other processes, say):
// nothing is written until all have run, then every record in order.
void run_replications_spread(const std::vector<int>& casuals, PreparedRun& run,
                             const ModelProblem& problem, const RunOptions& options,
                             Console& console, std::chrono::steady_clock::time_point start,
                             int workers, int app_threads, RunResult& result) {
    const int n = static_cast<int>(casuals.size());
    std::mutex progress_mutex;
    const TaskResults ran = options.executor->run(
        n, workers,
        [&](long long i, int) -> std::optional<std::string> {
            if (options.stop != nullptr && options.stop->load()) {
                // Replications not begun are not begun after a stop.
                return std::nullopt;
            }
            // A failure stops its own replication alone: which others share
            // its process must not change what they report.
            std::atomic<bool> failed{false};
            return replication_bytes(run_replication(
                run.params, problem, options, static_cast<int>(i) + 1,
                casuals[static_cast<std::size_t>(i)], app_threads, start, failed, progress_mutex));
        },
        {});
    for (int i = 0; i < n; ++i) {
        if (ran.ran[static_cast<std::size_t>(i)] == 0) {
            // Stopped: the replications that were not run are not there.
            result.completed = false;
            return;
        }
        ReplicationRecord record = replication_from_bytes(ran.results[static_cast<std::size_t>(i)]);
        emit_replication(record, run.output_file, console, problem, options, result);
    }
}

}  // namespace

std::string replication_bytes(const ReplicationRecord& record) {
    ByteWriter out;
    out.u64(static_cast<std::uint64_t>(record.replication));
    out.text(record.log_text);
    out.u64(record.console.size());
    for (const auto& [is_err, text] : record.console) {
        out.u64(is_err ? 1 : 0);
        out.text(text);
    }
    out.u64(record.history.size());
    for (const RunProgress& bred : record.history) {
        write_progress(out, bred);
    }
    for (const std::string& text : record.report_text) {
        out.text(text);
    }
    out.u64(static_cast<std::uint64_t>(record.report_threshold_variables));
    const ReplicationResult& r = record.result;
    out.ints(std::vector<int>{r.replication, r.casual, r.completed ? 1 : 0, r.generations, r.nevals,
                              r.reported ? 1 : 0});
    out.f64(r.randomseed);
    out.u64(static_cast<std::uint64_t>(r.estimations));
    out.u64(static_cast<std::uint64_t>(r.estimations_saved));
    out.u64(r.best_codes.size());
    for (const unsigned code : r.best_codes) {
        out.u64(code);
    }
    write_structure_summary(out, r.best);
    out.f64(r.best_criterion);
    out.f64(r.best_fitness);
    write_failure(out, record.failure);
    return std::move(out.bytes());
}

ReplicationRecord replication_from_bytes(std::string_view bytes) {
    ByteReader in(bytes);
    ReplicationRecord record;
    record.replication = static_cast<int>(in.u64());
    record.log_text = in.text();
    record.console.resize(in.u64());
    for (auto& [is_err, text] : record.console) {
        is_err = in.u64() != 0;
        text = in.text();
    }
    record.history.resize(in.u64());
    for (RunProgress& bred : record.history) {
        bred = read_progress(in);
    }
    for (std::string& text : record.report_text) {
        text = in.text();
    }
    record.report_threshold_variables = static_cast<int>(in.u64());
    ReplicationResult& r = record.result;
    const std::vector<int> i = in.ints();
    if (i.size() != 6) {
        throw std::invalid_argument("A replication's bytes hold another result record");
    }
    r.replication = i[0];
    r.casual = i[1];
    r.completed = i[2] != 0;
    r.generations = i[3];
    r.nevals = i[4];
    r.reported = i[5] != 0;
    r.randomseed = static_cast<float>(in.f64());
    r.estimations = static_cast<long long>(in.u64());
    r.estimations_saved = static_cast<long long>(in.u64());
    r.best_codes.resize(in.u64());
    for (unsigned& code : r.best_codes) {
        code = static_cast<unsigned>(in.u64());
    }
    r.best = read_structure_summary(in);
    r.best_criterion = in.f64();
    r.best_fitness = in.f64();
    record.failure = read_failure(in);
    return record;
}

void run_replications(PreparedRun& run, const ModelProblem& problem, const RunOptions& options,
                      Console& console, std::chrono::steady_clock::time_point start,
                      RunResult& result) {
    const int n = run.params.n_replications;
    const std::vector<int> casuals = replication_casuals(n, options.seed, options.seedings);
    const int workers = std::max(1, std::min(options.threads, n));
    const int app_threads = std::max(1, options.threads / workers);

    result.completed = true;
    result.generations = 0;
    result.reported = false;
    result.nevals = 0;
    result.casual = casuals.front();
    result.randomseed = static_cast<float>(casuals.front()) / 1000.0f;
    if (options.executor != nullptr) {
        run_replications_spread(casuals, run, problem, options, console, start, workers,
                                app_threads, result);
        return;
    }

    // Each replication's record is emitted as soon as those before it have
    // been: in replication order whatever thread finished first, so every
    // file is the same for any thread count, and a record is freed once
    // written.
    std::atomic<bool> stop{false};
    std::mutex progress_mutex;
    std::mutex emit_mutex;
    std::map<int, ReplicationRecord> waiting;
    int next_to_emit = 1;
    std::exception_ptr failure;
    run_tasks(n, workers, [&](long long i, int) {
        if (stop.load() || (options.stop != nullptr && options.stop->load())) {
            // Replications not begun are not begun after a stop.
            stop.store(true);
            return;
        }
        const int index = static_cast<int>(i) + 1;
        ReplicationRecord record = run_replication(run.params, problem, options, index,
                                                   casuals[static_cast<std::size_t>(i)],
                                                   app_threads, start, stop, progress_mutex);
        std::lock_guard<std::mutex> lock(emit_mutex);
        waiting.emplace(index, std::move(record));
        while (!failure && !waiting.empty() && waiting.begin()->first == next_to_emit) {
            ReplicationRecord ready = std::move(waiting.begin()->second);
            waiting.erase(waiting.begin());
            ++next_to_emit;
            try {
                emit_replication(ready, run.output_file, console, problem, options, result);
            } catch (...) {
                failure = std::current_exception();
                stop.store(true);
            }
        }
    });
    if (failure) {
        std::rethrow_exception(failure);
    }
    if (next_to_emit <= n) {
        // Stopped: the replications that were not run are not there.
        result.completed = false;
    }
}

void choose_winner(RunResult& result) {
    if (result.replications.empty()) {
        return;
    }
    std::size_t win = 0;
    auto estimable = [](const ReplicationResult& r) {
        return r.best.model.estimated() && r.best_criterion != 0.0;
    };
    for (std::size_t i = 1; i < result.replications.size(); ++i) {
        const ReplicationResult& a = result.replications[i];
        const ReplicationResult& b = result.replications[win];
        if (estimable(a) && (!estimable(b) || a.best_criterion < b.best_criterion)) {
            win = i;
        }
    }
    const ReplicationResult& w = result.replications[win];
    result.best_replication = w.replication;
    result.best_codes = w.best_codes;
    result.best = w.best;
    result.best_criterion = w.best_criterion;
    result.best_fitness = w.best_fitness;
    result.agreement = 0;
    for (const ReplicationResult& r : result.replications) {
        if (!r.best_codes.empty() && same_shape(r.best.structure, w.best.structure)) {
            ++result.agreement;
        }
    }
}

std::vector<std::string> fit_arguments(const RunConfig& config, const ModelStructure& s,
                                       const SeriesInfo* series) {
    std::vector<std::string> a = {"fit",
                                  "--course-file",
                                  config.course_file,
                                  "--n-oss",
                                  std::to_string(config.n_oss),
                                  "--n-comp",
                                  std::to_string(config.n_comp)};
    const std::vector<std::string> model = model_arguments(config.model);
    a.insert(a.end(), model.begin(), model.end());
    if (!config.columns.empty()) {
        std::string columns;
        for (const std::string& c : config.columns) {
            columns += (columns.empty() ? "" : ",") + c;
        }
        a.insert(a.begin() + 3, {"--columns", columns});
    }
    const bool listed = !config.threshold_columns.empty() && series != nullptr;
    if (listed) {
        std::string columns;
        for (const std::string& c : config.threshold_columns) {
            columns += (columns.empty() ? "" : ",") + c;
        }
        a.insert(a.end(), {"--threshold-columns", columns});
    }
    const auto column = [&](int c) { return listed ? series->column_text(c) : std::to_string(c); };
    // Orders other than m are given back one per regime.
    const int regimes = regime_count(s);
    bool mixed = false;
    std::string orders;
    for (int r = 0; r < regimes; ++r) {
        const int p = s.orders[static_cast<std::size_t>(r)];
        const int m = config.model.max_order;
        const int order = p >= 1 && p <= m ? p : m;
        mixed = mixed || order != m;
        orders += (r == 0 ? "" : ",") + std::to_string(order);
    }
    if (is_linear(s)) {
        a.insert(a.end(), {"--regimes", "1"});
    } else if (s.threshold_variables == 1) {
        std::string positions;
        for (int i = 0; i < s.one.n_regime - 1; ++i) {
            if (i > 0) {
                positions += ',';
            }
            positions += std::to_string(s.one.pos_threshold[static_cast<std::size_t>(i)]);
        }
        a.insert(a.end(), {"--component", column(s.one.which_serie), "--lag",
                           std::to_string(s.one.threshold_lag), "--regimes",
                           std::to_string(s.one.n_regime), "--positions", positions});
    } else {
        a.insert(a.end(),
                 {"--components", column(s.two.which_serie1) + "," + column(s.two.which_serie2),
                  "--lags", std::to_string(s.two.Ritardo1) + "," + std::to_string(s.two.Ritardo2),
                  "--type-model", std::to_string(s.two.type_model), "--regimes",
                  std::to_string(s.two.n_regime), "--positions",
                  std::to_string(s.two.pos_thres_1) + "," + std::to_string(s.two.pos_thres_2)});
    }
    if (mixed) {
        a.insert(a.end(), {"--orders", orders});
    }
    return a;
}

std::vector<std::string> fit_arguments(const RunConfig& config, int component, int lag, int regimes,
                                       const std::array<double, 3>& thresholds,
                                       const SeriesInfo* series, int order) {
    ModelStructure s;
    s.threshold_variables = 1;
    s.one.which_serie = component;
    s.one.threshold_lag = lag;
    s.one.n_regime = regimes;
    s.orders = {order, order, order, order};
    std::vector<std::string> a = fit_arguments(config, s, series);
    std::string values;
    for (int i = 0; i < regimes - 1; ++i) {
        if (i > 0) {
            values += ',';
        }
        values += strprintf("%.17g", thresholds[static_cast<std::size_t>(i)]);
    }
    const auto positions = std::find(a.begin(), a.end(), "--positions");
    *positions = "--thresholds";
    *std::next(positions) = values;
    return a;
}

void refine_winner(const RunConfig& config, const ModelProblem& problem, const RunOptions& options,
                   RunResult& result) {
    if (result.best_codes.empty()) {
        return;
    }
    const auto begin = std::chrono::steady_clock::now();
    RefineOptions how;
    how.threads = options.threads;
    how.stop = options.stop;
    how.progress = options.refine_progress;
    how.executor = options.executor;
    // Components whose values collide with the estimators' sentinels cannot
    // serve as threshold variables: the search never uses them (1 and 2 are
    // checked before it), the refinement leaves them out.
    std::vector<int> listed = problem.threshold_components;
    if (listed.empty()) {
        for (int c = 1; c <= problem.n_comp; ++c) {
            listed.push_back(c);
        }
    }
    for (int c : listed) {
        const std::string trouble =
            threshold_magnitude_problem(*problem.serie_matrix, result.series, c);
        if (trouble.empty()) {
            how.threshold_components.push_back(c);
        } else if (problem.console != nullptr) {
            problem.console->err(trouble +
                                 ": the refinement does not try it as a threshold variable "
                                 "(rescale the series, for example divide it by 1000, to let it "
                                 "serve)\n");
        }
    }
    // The next two best replications of other shapes are further starts.
    std::vector<const ReplicationResult*> others;
    for (const ReplicationResult& rep : result.replications) {
        if (rep.replication != result.best_replication && !rep.best_codes.empty() &&
            rep.best.model.estimated()) {
            others.push_back(&rep);
        }
    }
    std::stable_sort(others.begin(), others.end(), [](const auto* a, const auto* b) {
        return a->best_criterion < b->best_criterion;
    });
    for (const ReplicationResult* rep : others) {
        bool seen = same_shape(rep->best.structure, result.best.structure);
        for (const ModelStructure& s : how.extra_starts) {
            seen = seen || same_shape(rep->best.structure, s);
        }
        if (!seen && how.extra_starts.size() < 2) {
            how.extra_starts.push_back(rep->best.structure);
        }
    }
    if (options.refine_progress) {
        options.refine_progress(RefineProgress{});  // under way
    }
    ModelProblem refining = problem;
    refining.select_orders = config.select_orders;
    const RefineResult r = refine(refining, result.best.structure, how);
    if (r.stopped) {
        // No refined model and no report of one: the search's stay.
        result.completed = false;
        result.refinement_stopped = true;
        return;
    }
    RefinedModel refined;
    refined.model.structure = r.structure;
    refined.model.model = r.estimate;
    refined.model.criterion = r.criterion;
    refined.model.fitness = fitness_from_criterion(r.criterion);
    refined.start_criterion = result.best_criterion;
    refined.replication = result.best_replication;
    refined.steps = r.steps;
    refined.candidates = r.candidates;
    refined.exact_estimates = r.exact_estimates;
    refined.best_threshold = r.best_threshold;
    refined.best_threshold_criterion = r.best_threshold_criterion;
    refined.fit_arguments = fit_arguments(config, r.structure, &result.series);

    // The full report, in the estimators' formats, beside the search's.
    const std::filesystem::path dir = refined_dir(options.workdir);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    ReportOutcome report;
    if (ec || !std::filesystem::is_directory(dir)) {
        // The refined model stands; only its report has nowhere to go.
        const std::string reason = ec ? ec.message() : std::string("Not a directory");
        for (const auto& path : model_report_paths(dir, r.estimate.threshold_variables())) {
            report.failed.push_back({path, reason});
        }
    } else {
        report = write_model_report(r.estimate, result.best_replication, dir, problem.console);
    }
    refined.files = report.written;
    result.files_failed.insert(result.files_failed.end(), report.failed.begin(),
                               report.failed.end());
    refined.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    result.refined = std::move(refined);
}

}  // namespace velmora
