#include "cli/analysis_options.hpp"

#include <cctype>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "cli/commands.hpp"
#include "cli/progress_line.hpp"
#include "options/option_table.hpp"
#include "support/console.hpp"
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

AnalysisSettings analysis_settings(std::uint64_t seed, int threads, const std::atomic<bool>* stop,
                                   StageProgress& progress) {
    AnalysisSettings settings;
    settings.seed = seed;
    settings.threads = threads;
    settings.progress = [&progress, stop](const char* stage, long long done, long long total) {
        progress.update(stage, done, total);
        return !(stop != nullptr && stop->load());
    };
    settings.stop = stop;
    settings.record_failures = true;
    return settings;
}

void warn_non_finite(const AnalysisResult& result) {
    if (const int count = non_finite_values(result); count > 0) {
        std::fprintf(stderr,
                     "Warning: the model is explosive: %d simulated figures overflowed and are not "
                     "finite numbers; the CSV files leave them empty, the JSON has null.\n",
                     count);
    }
}

void name_analysis(AnalysisResult& result, const SeriesInfo& all_rows) {
    result.component_names = all_rows.names();
    result.row_labels = all_rows.row_labels;
}

void note_step_failure(std::vector<StepFailure>& failures, std::string step, std::string message) {
    std::string shown = step;
    if (!shown.empty()) {
        shown[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(shown[0])));
    }
    std::fprintf(stderr, "%s failed: %s\n", shown.c_str(), message.c_str());
    failures.push_back({std::move(step), std::move(message), {}});
}

SplitSeries read_with_held_out(std::optional<LoadedSeries> loaded, const RunConfig& config,
                               int rows, int fit_rows) {
    if (!loaded) {
        StdConsole console;
        return read_rows(config, rows, fit_rows, console);
    }
    return split_held_out(std::move(*loaded), fit_rows);
}

}  // namespace velmora::cli
