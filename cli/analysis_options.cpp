#include "cli/analysis_options.hpp"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>

#include "app/series.hpp"
#include "forecast/threshold_var.hpp"
#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora::cli {

namespace {

// One line on a terminal, rewritten in place, as a search shows its
// generations; nothing when standard error is not a terminal.
class StageProgress {
  public:
    StageProgress() : enabled_(::isatty(STDERR_FILENO) != 0) {}
    ~StageProgress() { finish(); }

    bool update(const char* stage, long long done, long long total) {
        if (!enabled_) {
            return true;
        }
        std::fprintf(stderr, "\r\033[K%s: %lld/%lld", stage, done, total);
        std::fflush(stderr);
        shown_ = true;
        return true;
    }

    void finish() {
        if (shown_) {
            std::fputs("\r\033[K", stderr);
            std::fflush(stderr);
            shown_ = false;
        }
    }

  private:
    bool enabled_;
    bool shown_ = false;
};

}  // namespace

void add_analysis_options(CLI::App& command, AnalysisRequest& r) {
    command
        .add_option("--forecast", r.forecast,
                    "Forecast H steps after the last row the model was fitted on, for every "
                    "component, by simulating paths of the reported model: mean, median, 5 % and "
                    "95 % quantiles per step, and the path without shocks")
        ->type_name("H");
    command
        .add_option("--forecast-paths", r.paths,
                    "Simulated paths of a forecast (and per origin of the hold-out check)")
        ->type_name("N")
        ->capture_default_str();
    command.add_option("--forecast-csv", r.forecast_csv,
                       "Also write the forecast as CSV: step, time, component, mean, median, "
                       "q05, q95, no_shock");
    command
        .add_option("--holdout", r.holdout,
                    "Fit on all but the last K rows and forecast those rows from each of their "
                    "origins, 1 to H steps ahead (H from --forecast, else up to 10): RMSE and MAE "
                    "per horizon of the threshold model and of the linear VAR of the same order")
        ->type_name("K");
    command
        .add_option("--girf", r.girf,
                    "Generalized impulse responses by regime over horizons 0..H: a shock of one "
                    "standard deviation to each component, orthogonalised by the Cholesky factor "
                    "of the residual covariance of the history's regime")
        ->type_name("H");
    command
        .add_option("--girf-histories", r.girf_histories,
                    "Histories drawn from the times of each regime for the impulse responses")
        ->type_name("N")
        ->capture_default_str();
    command
        .add_option("--girf-repetitions", r.girf_repetitions,
                    "Shock sequences simulated from each history")
        ->type_name("N")
        ->capture_default_str();
    command.add_option("--girf-csv", r.girf_csv,
                       "Also write the impulse responses as CSV: regime, shock, horizon, "
                       "component, mean, q05, q95");
}

AnalysisResult analyse_reported_model(const FittedModel& fit, const RunConfig& config, int rows,
                                      const AnalysisRequest& request, std::uint64_t seed,
                                      int threads) {
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
    SeriesRequest read;
    read.path = config.course_file;
    read.columns = config.columns;
    read.n_oss = rows;
    read.n_comp = config.n_comp;
    const LoadedSeries loaded = load_series(read);
    const double_matrix& series = loaded.serie;
    StageProgress progress;
    AnalysisSettings settings;
    settings.seed = seed;
    settings.threads = threads;
    settings.progress = [&progress](const char* stage, long long done, long long total) {
        return progress.update(stage, done, total);
    };
    AnalysisResult result = run_analysis(model, series, rows, request, settings);
    progress.finish();
    result.files = write_analysis_files(result, request);
    return result;
}

}  // namespace velmora::cli
