#include "cli/analysis_options.hpp"

#include <cctype>
#include <cstdio>
#include <optional>
#include <string>

#include "cli/progress_line.hpp"
#include "forecast/fitted_var.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora::cli {

void bind_analysis_options(options::Bindings& bindings, AnalysisRequest& r) {
    bindings.bind(options::forecast, r.forecast);
    bindings.bind(options::forecast_paths, r.paths);
    bindings.bind(options::forecast_csv, r.forecast_csv);
    bindings.bind(options::holdout, r.holdout);
    bindings.bind(options::girf, r.girf);
    bindings.bind(options::girf_histories, r.girf_histories);
    bindings.bind(options::girf_repetitions, r.girf_repetitions);
    bindings.bind(options::girf_csv, r.girf_csv);
}

void add_analysis_outputs(ExtraOutputs& outputs, const AnalysisRequest& request) {
    outputs.add("Forecast file", "the forecast file", request.forecast_csv);
    outputs.add("Impulse-response file", "the impulse-response file", request.girf_csv);
}

AnalysisResult analyse_reported_model(const FittedModel& fit, const double_matrix& series, int rows,
                                      const AnalysisRequest& request, std::uint64_t seed,
                                      int threads, const std::atomic<bool>* stop,
                                      TaskExecutor* executor) {
    if (!request.any()) {
        return {};
    }
    if (!fit.estimated()) {
        AnalysisResult skipped;
        skipped.note =
            "No forecast, hold-out check or impulse responses: the reported model could not be "
            "estimated.";
        return skipped;
    }
    const ThresholdVarModel model = model_from_fit(fit);
    StageProgress progress;
    AnalysisSettings settings;
    settings.seed = seed;
    settings.threads = threads;
    settings.executor = executor;
    settings.progress = [&progress, stop](const char* stage, long long done, long long total) {
        progress.update(stage, done, total);
        return !(stop != nullptr && stop->load());
    };
    settings.stop = stop;
    settings.record_failures = true;
    AnalysisResult result = run_analysis(model, series, rows, request, settings);
    progress.finish();
    if (const int count = non_finite_values(result); count > 0) {
        std::fprintf(stderr,
                     "Warning: the model is explosive: %d simulated figures overflowed and are not "
                     "finite numbers; the CSV files leave them empty, the JSON has null.\n",
                     count);
    }
    return result;
}

void name_analysis(AnalysisResult& result, const SeriesInfo& all_rows) {
    result.component_names = all_rows.names();
    result.row_labels = all_rows.row_labels;
}

bool write_output(ExtraOutputs& outputs, const std::filesystem::path& path,
                  const std::string& text) {
    const std::string failure = outputs.write(path, text);
    if (!failure.empty()) {
        std::fprintf(stderr, "%s\n", failure.c_str());
    }
    return failure.empty();
}

void write_analysis_outputs(AnalysisResult& result, const AnalysisRequest& request,
                            ExtraOutputs& outputs) {
    if (result.forecast && !request.forecast_csv.empty() &&
        write_output(outputs, request.forecast_csv, forecast_csv_text(result))) {
        result.files.push_back(request.forecast_csv);
    }
    if (result.girf && !request.girf_csv.empty() &&
        write_output(outputs, request.girf_csv, girf_csv_text(result))) {
        result.files.push_back(request.girf_csv);
    }
}

void note_step_failure(std::vector<StepFailure>& failures, std::string step, std::string message) {
    std::string shown = step;
    if (!shown.empty()) {
        shown[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(shown[0])));
    }
    std::fprintf(stderr, "%s failed: %s\n", shown.c_str(), message.c_str());
    failures.push_back({std::move(step), std::move(message)});
}

nlohmann::json analysis_errors_json(const std::vector<StepFailure>& failures) {
    nlohmann::json out = nlohmann::json::array();
    for (const StepFailure& failure : failures) {
        out.push_back({{"step", failure.step}, {"message", failure.message}});
    }
    return out;
}

bool write_json_summary(ExtraOutputs& outputs, const std::filesystem::path& path,
                        nlohmann::json summary) {
    const std::string failure = outputs.write_json(path, std::move(summary));
    if (!failure.empty()) {
        std::fprintf(stderr, "%s\n", failure.c_str());
        return false;
    }
    std::printf("JSON summary: %s\n", path.c_str());
    return true;
}

SplitSeries read_with_held_out(std::optional<LoadedSeries> loaded, const RunConfig& config,
                               int rows, int fit_rows) {
    if (!loaded) {
        SeriesRequest request;
        request.path = config.course_file;
        request.columns = config.columns;
        request.threshold_columns = config.threshold_columns;
        request.n_oss = rows;
        request.n_comp = config.n_comp;
        loaded = load_series(request);
        for (const std::string& warning : loaded->info.warnings) {
            std::fprintf(stderr, "%s\n", warning.c_str());
        }
    }
    SplitSeries split;
    split.all = std::move(*loaded);
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

}  // namespace velmora::cli
