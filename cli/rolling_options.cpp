#include "cli/rolling_options.hpp"

#include "cli/progress_line.hpp"

namespace velmora::cli {

void add_rolling_options(CLI::App& command, rolling::RollingRequest& request) {
    command
        .add_option("--rolling", request.origins,
                    "Rolling-origin evaluation at the last K rows: at each, the model is "
                    "estimated again on the rows before it (run: searched again; fit: the "
                    "structure kept, thresholds and coefficients estimated again) and forecasts "
                    "1 to --forecast steps (default 1), beside the linear VAR estimated the same "
                    "way; RMSE, MAE and a Diebold-Mariano test per horizon")
        ->check(CLI::NonNegativeNumber)
        ->type_name("K");
    command
        .add_option("--rolling-window", request.window,
                    "Estimate at each origin on the W rows before it (a moving window) instead "
                    "of every row before it")
        ->check(CLI::NonNegativeNumber)
        ->type_name("W");
    command.add_option("--rolling-csv", request.csv,
                       "Also write every origin's forecasts as CSV: one row per origin, horizon "
                       "and component with the threshold model's and the linear VAR's forecast "
                       "and the value that came");
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
                                        const std::atomic<bool>* stop) {
    StageProgress line;
    rolling::RollingSettings settings;
    settings.order = order;
    settings.seed = seed;
    settings.threads = threads;
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
