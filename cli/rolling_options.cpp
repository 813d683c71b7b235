#include "cli/rolling_options.hpp"

#include "cli/progress_line.hpp"

namespace velmora::cli {

void bind_rolling_options(options::Bindings& bindings, rolling::RollingRequest& request) {
    bindings.bind(options::rolling, request.origins);
    bindings.bind(options::rolling_window, request.window);
    bindings.bind(options::rolling_csv, request.csv);
}

void prepare_rolling(rolling::RollingRequest& request, const AnalysisRequest& analysis, int rows) {
    request.horizon = analysis.forecast > 0 ? analysis.forecast : 1;
    request.paths = analysis.paths;
    rolling::validate_rolling(request, rows);
}

rolling::RollingResult evaluate_rolling(const LoadedSeries& series, int rows,
                                        const rolling::RollingRequest& request,
                                        const rolling::FitAtOrigin& fit_at, int order,
                                        std::uint64_t seed, int threads,
                                        const std::atomic<bool>* stop, TaskExecutor* executor) {
    StageProgress line;
    rolling::RollingSettings settings;
    settings.order = order;
    settings.seed = seed;
    settings.threads = threads;
    settings.executor = executor;
    settings.progress = [&line, stop](long long done, long long total) {
        line.update("rolling origins", done, total);
        return stop == nullptr || !stop->load();
    };
    rolling::RollingResult result =
        rolling::rolling_evaluation(series, rows, request, fit_at, settings);
    line.finish();
    return result;
}

}  // namespace velmora::cli
