#include "pipeline/pipeline.hpp"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include "app/reported_inference.hpp"
#include "forecast/fitted_var.hpp"
#include "rolling/refit.hpp"

namespace velmora {

SplitSeries split_held_out(LoadedSeries all, int fit_rows) {
    SplitSeries split;
    split.all = std::move(all);
    if (fit_rows < split.all.n_oss()) {
        LoadedSeries first;
        // The external threshold columns come along.
        const int k = split.all.serie.col_hi();
        first.serie = double_matrix(1, fit_rows, 1, k);
        for (int t = 1; t <= fit_rows; ++t) {
            for (int c = 1; c <= k; ++c) {
                first.serie[t][c] = split.all.serie[t][c];
            }
        }
        first.info = split.all.info;
        first.info.rows_read = fit_rows;
        if (first.info.row_labels.size() > static_cast<std::size_t>(fit_rows)) {
            first.info.row_labels.resize(static_cast<std::size_t>(fit_rows));
        }
        split.fitted = std::move(first);
    }
    return split;
}

SplitSeries read_rows(const RunConfig& config, int rows, int fit_rows, Console& console) {
    SeriesRequest request;
    request.path = config.course_file;
    request.columns = config.columns;
    request.threshold_columns = config.threshold_columns;
    request.n_oss = rows;
    request.n_comp = config.n_comp;
    LoadedSeries loaded = load_series(request);
    for (const std::string& warning : loaded.info.warnings) {
        console.err(warning + "\n");
    }
    return split_held_out(std::move(loaded), fit_rows);
}

const FittedModel& PipelineResult::reported() const {
    return search.refined ? search.refined->model.model : search.best.model;
}

const std::optional<inference::ModelInference>& PipelineResult::reported_inference() const {
    return search.refined ? refined_inference : best_inference;
}

const std::optional<diagnostics::ModelDiagnostics>& PipelineResult::reported_diagnostics() const {
    return search.refined ? refined_diagnostics : best_diagnostics;
}

namespace {

bool stop_asked(const PipelineRequest& request) {
    return request.search.stop != nullptr && request.search.stop->load();
}

// Runs one step after the search; a failure is recorded and told, and the
// step's result stays empty.
template <typename Step>
auto guarded(const PipelineRequest& request, PipelineResult& out, const char* step, Step&& run)
    -> decltype(run()) {
    try {
        return run();
    } catch (const std::exception& e) {
        StepFailure failure = step_failure(step, e);
        if (request.step_failed) {
            request.step_failed(failure);
        }
        out.analysis_errors.push_back(std::move(failure));
        return {};
    }
}

// The seed of the analysis and the rolling evaluation: the search's, or the
// one given with a structure to fit.
std::uint64_t analysis_seed(const PipelineRequest& request, const RunResult& result) {
    return request.structure ? request.analysis_settings.seed
                             : static_cast<std::uint64_t>(result.casual);
}

void analyse(const PipelineRequest& request, PipelineResult& out) {
    const RunResult& result = out.search;
    if (stop_asked(request)) {
        out.analysis.stopped = true;
        return;
    }
    if (result.best_codes.empty() && !request.structure) {
        out.analysis.note =
            "No forecast, hold-out check or impulse responses: the run reported no model.";
        return;
    }
    const FittedModel& reported = out.reported();
    if (!reported.estimated()) {
        out.analysis.note =
            "No forecast, hold-out check or impulse responses: the reported model could not be "
            "estimated.";
        return;
    }
    if (request.stage && !request.stage(PipelineStage::analysis, out)) {
        return;
    }
    AnalysisSettings settings = request.analysis_settings;
    settings.seed = analysis_seed(request, result);
    settings.record_failures = true;
    // The rows read, the held-out ones too: the search saw only the first.
    const double_matrix& rows = out.rows ? out.rows->all.serie : *result.serie;
    out.analysis =
        run_analysis(model_from_fit(reported), rows, out.rows_read, request.analysis, settings);
    if (request.analysed) {
        request.analysed(out.analysis);
    }
    for (StepFailure& failure : out.analysis.errors) {
        if (request.step_failed) {
            request.step_failed(failure);
        }
        out.analysis_errors.push_back(std::move(failure));
    }
    out.analysis.errors.clear();
}

// The reported model evaluated at rolling origins: the search run again at
// each, or the fitted structure's thresholds and coefficients estimated again.
void roll(const PipelineRequest& request, PipelineResult& out) {
    const RunResult& result = out.search;
    if (stop_asked(request) || (!request.structure && !result.reported)) {
        return;
    }
    // The rows read: held in the split, else those the search read itself.
    LoadedSeries read;
    if (!out.rows) {
        const double_matrix& rows = *result.serie;
        read.serie = double_matrix(1, rows.row_hi(), 1, rows.col_hi());
        std::copy(rows.data(),
                  rows.data() + static_cast<std::ptrdiff_t>(rows.row_hi()) * rows.col_hi(),
                  read.serie.data());
        read.info = result.series;
    }
    const LoadedSeries& all = out.rows ? out.rows->all : read;
    const AnalysisSettings& analysis = request.analysis_settings;
    rolling::RollingSettings settings;
    settings.order = out.searched.model.max_order;
    settings.seed = analysis_seed(request, result);
    settings.threads = analysis.threads;
    settings.executor = analysis.executor;
    settings.progress = [&](long long done, long long total) {
        return (!analysis.progress || analysis.progress("rolling origins", done, total)) &&
               !stop_asked(request);
    };
    const RunConfig& config = out.searched;
    rolling::RollingResult rolled;
    if (request.structure) {
        const std::array<double, 3> start = result.best.model.thresholds;
        rolled = rolling::rolling_evaluation(
            all, out.rows_read, request.rolling,
            [&](const LoadedSeries& window, int trend_origin) {
                return rolling::refit_thresholds(config, *request.structure, start, window,
                                                 trend_origin);
            },
            settings);
    } else {
        // Every origin's search replays with the run's own seed and runs whole
        // where its origin runs, in a folder of its own (a moving window gives
        // every origin the same size).
        RunOptions again = request.search;
        again.seed = result.casual;
        again.executor = nullptr;
        const std::filesystem::path scratch = request.search.workdir / ".rolling-searches";
        rolled = rolling::rolling_evaluation(
            all, out.rows_read, request.rolling,
            [&](const LoadedSeries& rows, int trend_origin) {
                const int origin = trend_origin + rows.n_oss();
                return rolling::search_again(config, again, rows, trend_origin,
                                             scratch / std::to_string(origin));
            },
            settings);
        std::error_code ec;
        std::filesystem::remove_all(scratch, ec);
    }
    if (rolled.horizon > 0) {
        out.rolling = std::move(rolled);
    }
}

// The structure fitted on the rows, as a search's result that found it.
RunResult fit_structure(const RunConfig& config, const RunOptions& options,
                        const std::shared_ptr<const SplitSeries>& split,
                        const ModelStructure& structure) {
    const LoadedSeries& rows = split->fit_rows();
    RunResult result;
    result.serie = std::shared_ptr<const double_matrix>(split, &rows.serie);
    result.series = rows.info;
    ModelProblem problem = problem_of(config, rows);
    problem.replication = 1;
    problem.result_dir = options.workdir;
    problem.console = options.console;
    problem.trend_origin = options.trend_origin;
    check_series(problem);
    result.best = summarize_model(estimate(problem, structure));
    result.best_criterion = result.best.criterion;
    result.best_fitness = result.best.fitness;
    result.completed = true;
    return result;
}

// The inference and diagnostics of a search's best and refined models;
// false when nothing more follows (a stopped refinement).
bool follow_search(const PipelineRequest& request, PipelineResult& out) {
    const RunResult& result = out.search;
    inference::InferenceOptions inference = request.inference;
    inference.seed = static_cast<std::uint64_t>(result.casual);
    // The tests of the number of regimes only on the reported model.
    inference::InferenceOptions best_inference = inference;
    if (result.refined) {
        best_inference.regime_replicates = 0;
    }
    out.best_inference = guarded(request, out, "inference of the best model", [&] {
        return infer_reported(out.searched, *result.serie, result.best, best_inference);
    });
    if (result.refinement_stopped) {
        return false;
    }
    if (result.refined) {
        out.refined_inference = guarded(request, out, "inference of the refined model", [&] {
            return infer_reported(out.searched, *result.serie, result.refined->model,
                                  refined_inference_options(inference, *result.refined));
        });
    }
    if (request.diagnostics) {
        out.best_diagnostics = guarded(request, out, "diagnostics of the best model", [&] {
            return diagnose_reported(result.best, *request.diagnostics);
        });
        if (result.refined) {
            out.refined_diagnostics = guarded(
                request, out, "diagnostics of the refined model",
                [&] { return diagnose_reported(result.refined->model, *request.diagnostics); });
        }
    }
    return true;
}

// The diagnostics and inference of a fitted structure, with the seed given;
// false when nothing more follows.
bool follow_fit(const PipelineRequest& request, PipelineResult& out) {
    const StructureSummary& fitted = out.search.best;
    if (request.diagnostics) {
        out.best_diagnostics = guarded(request, out, "diagnostics", [&] {
            return diagnose_reported(fitted, *request.diagnostics);
        });
    }
    if (!fitted.model.estimated()) {
        return false;
    }
    out.best_inference = guarded(request, out, "inference", [&] {
        // The fitted rows' threshold columns, external ones too, as the fit took them.
        const ModelProblem problem = out.rows ? problem_of(out.searched, out.rows->fit_rows())
                                              : problem_of(out.searched, *out.search.serie);
        return std::optional<inference::ModelInference>(
            inference::infer_model(problem, fitted.model, request.inference));
    });
    return !request.stage || request.stage(PipelineStage::inferred, out);
}

}  // namespace

PipelineResult run_pipeline(const PipelineRequest& request) {
    PipelineResult out;
    out.rows_read = request.config.n_oss;
    out.searched = request.config;
    out.searched.n_oss -= request.analysis.holdout;
    out.rows = request.rows;

    RunOptions options = request.search;
    if (out.rows) {
        options.series = &out.rows->fit_rows();
    }
    const SearchFunction& search = request.search_function;
    if (request.structure) {
        out.search = fit_structure(out.searched, options, out.rows, *request.structure);
    } else {
        out.search = search ? search(out.searched, options) : run_search(out.searched, options);
    }
    const RunResult& result = out.search;
    if ((!result.completed && !result.refinement_stopped) || !result.serie) {
        return out;
    }
    if (request.searched && !request.searched(result)) {
        return out;
    }
    out.followed = true;

    if (request.stage && !request.stage(PipelineStage::inference, out)) {
        return out;
    }
    const bool go_on = request.structure ? follow_fit(request, out) : follow_search(request, out);
    if (go_on && request.analysis.any()) {
        analyse(request, out);
    }
    if (go_on && request.rolling.any()) {
        roll(request, out);
    }
    return out;
}

}  // namespace velmora
