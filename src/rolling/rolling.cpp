#include "rolling/rolling.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "forecast/fitted_var.hpp"
#include "forecast/forecast_paths.hpp"
#include "forecast/random_stream.hpp"
#include "inference/linear_var.hpp"
#include "inference/regression.hpp"
#include "support/errors.hpp"
#include "support/executor.hpp"
#include "support/format.hpp"

namespace velmora::rolling {

namespace {

constexpr int kLeastRows = 30;
const double kMissing = std::numeric_limits<double>::quiet_NaN();

inline std::size_t idx(long long i) {
    return static_cast<std::size_t>(i);
}

}  // namespace

void validate_rolling(const RollingRequest& r, int rows) {
    if (!r.any()) {
        if (r.window != 0 || !r.csv.empty()) {
            throw TermError(Term::rolling_needs_origins,
                            "A rolling window and a rolling file need rolling origins", "");
        }
        return;
    }
    if (r.origins < 1 || r.origins > rows - kLeastRows) {
        throw TermError(Term::rolling_origins, "Rolling origins",
                        strprintf(": %d origins; the series of %d rows allows 1 to %d (every "
                                  "origin needs %d rows before it)",
                                  r.origins, rows, std::max(0, rows - kLeastRows), kLeastRows));
    }
    if (r.window != 0 && (r.window < kLeastRows || r.window > rows - r.origins)) {
        throw TermError({{Term::rolling_window, "Rolling window"},
                         {std::nullopt, strprintf(": %d rows; with ", r.window)},
                         {Term::rolling_origins, "rolling origins"},
                         {std::nullopt, strprintf(" %d it must lie between %d and %d", r.origins,
                                                  kLeastRows, rows - r.origins)}});
    }
    if (r.horizon < 1) {
        throw TermError(Term::forecast_horizon, "Forecast horizon",
                        ": the horizon of the rolling evaluation must be at least 1");
    }
}

LoadedSeries rows_of(const LoadedSeries& series, int first, int last) {
    // The external threshold columns come along.
    const int k = series.serie.col_hi();
    LoadedSeries out;
    out.serie = double_matrix(1, last - first + 1, 1, k);
    for (int t = first; t <= last; ++t) {
        for (int c = 1; c <= k; ++c) {
            out.serie[t - first + 1][c] = series.serie[t][c];
        }
    }
    out.info = series.info;
    out.info.rows_read = last - first + 1;
    if (!series.info.row_labels.empty()) {
        out.info.row_labels.assign(series.info.row_labels.begin() + (first - 1),
                                   series.info.row_labels.begin() + last);
    }
    return out;
}

DieboldMariano diebold_mariano(std::span<const double> d, int h) {
    DieboldMariano out;
    const int n = static_cast<int>(d.size());
    out.count = n;
    out.statistic = kMissing;
    out.p_value = kMissing;
    if (n < 2 || h < 1) {
        return out;
    }
    double mean = 0.0;
    for (double x : d) {
        mean += x;
    }
    mean /= n;
    auto autocovariance = [&](int j) {
        double s = 0.0;
        for (int t = j; t < n; ++t) {
            s += (d[idx(t)] - mean) * (d[idx(t - j)] - mean);
        }
        return s / n;
    };
    double long_run = autocovariance(0);
    for (int j = 1; j <= h - 1 && j < n; ++j) {
        long_run += 2.0 * (1.0 - static_cast<double>(j) / h) * autocovariance(j);
    }
    if (!(long_run > 0.0)) {
        return out;
    }
    const double dm = mean / std::sqrt(long_run / n);
    const double correction =
        std::sqrt((n + 1.0 - 2.0 * h + h * (h - 1.0) / n) / static_cast<double>(n));
    out.statistic = dm * correction;
    out.p_value = inference::student_t_two_sided(out.statistic, n - 1.0);
    return out;
}

RollingResult rolling_evaluation(const LoadedSeries& series, int rows,
                                 const RollingRequest& request, const FitAtOrigin& fit_at,
                                 const RollingSettings& settings) {
    const int k = series.n_comp();
    const int horizon = request.horizon;
    const int count = request.origins;
    const std::size_t block = idx(horizon) * idx(k);
    RollingResult result;
    result.k = k;
    result.window = request.window;
    result.origins.resize(idx(count));
    result.forecast.assign(idx(count) * block, kMissing);
    result.linear_forecast.assign(idx(count) * block, kMissing);
    result.actual.assign(idx(count) * block, kMissing);

    // An origin's outcome and figures are its task's result, so that the
    // origins may run in other processes.
    const auto evaluate_origin = [&](long long i) {
        OriginOutcome& outcome = result.origins[idx(i)];
        const int origin = rows - count + static_cast<int>(i);
        outcome.origin = origin;
        outcome.label = series.info.label(origin);
        outcome.first_row = request.window > 0 ? origin - request.window + 1 : 1;
        const LoadedSeries window = rows_of(series, outcome.first_row, origin);
        const int n = window.n_oss();
        double* actual = result.actual.data() + idx(i) * block;
        for (int h = 1; h <= horizon && origin + h <= rows; ++h) {
            for (int c = 1; c <= k; ++c) {
                actual[idx(h - 1) * idx(k) + idx(c - 1)] = series.serie[origin + h][c];
            }
        }
        outcome.model = fit_at(window, outcome.first_row - 1);
        if (!outcome.model || !outcome.model->model.estimated()) {
            outcome.model.reset();
            return;
        }
        const FittedModel& fitted = outcome.model->model;
        const inference::LinearVar linear = linear_benchmark(window.serie, n, k, settings.order,
                                                             fitted.include, fitted.trend_origin);
        if (!linear.regression.estimated) {
            outcome.model.reset();
            return;
        }
        ThresholdVarModel model = model_from_fit(outcome.model->model);
        // An external threshold variable is read as observed, also at the
        // rows after the origin that the forecast steps through.
        model.external_width = series.serie.col_hi() - k;
        for (int t = outcome.first_row; t <= rows && model.external_width > 0; ++t) {
            for (int j = 1; j <= model.external_width; ++j) {
                model.external.push_back(series.serie[t][k + j]);
            }
        }
        const std::vector<double> history =
            series_history(window.serie, k, n, model.history_rows());
        PathSimulator simulator(model, horizon);
        std::vector<double> path(block);
        std::vector<double> mean(block, 0.0);
        for (int p = 0; p < request.paths; ++p) {
            RandomStream stream(derive_seed(
                settings.seed, StreamPurpose::rolling,
                static_cast<std::uint64_t>(i) * static_cast<std::uint64_t>(request.paths) +
                    static_cast<std::uint64_t>(p)));
            simulator.run(history, &stream, nullptr, path.data(), nullptr, n);
            for (std::size_t v = 0; v < block; ++v) {
                mean[v] += path[v];
            }
        }
        const std::vector<double> lin = inference::linear_var_forecast(
            linear.regression, inference::SeriesRows::from_matrix(window.serie, n, k), n, horizon);
        double* tv = result.forecast.data() + idx(i) * block;
        double* lv = result.linear_forecast.data() + idx(i) * block;
        for (int h = 1; h <= horizon && origin + h <= rows; ++h) {
            for (int c = 0; c < k; ++c) {
                const std::size_t v = idx(h - 1) * idx(k) + idx(c);
                tv[v] = mean[v] / request.paths;
                lv[v] = lin[v];
            }
        }
    };
    const TaskResults ran = run_serial_tasks(
        settings.executor, count, std::max(1, settings.threads),
        [&](long long i, int) -> std::optional<std::string> {
            evaluate_origin(i);
            const OriginOutcome& outcome = result.origins[idx(i)];
            ByteWriter out;
            out.u64(static_cast<std::uint64_t>(outcome.origin));
            out.text(outcome.label);
            out.u64(static_cast<std::uint64_t>(outcome.first_row));
            out.u64(outcome.model ? 1 : 0);
            if (outcome.model) {
                write_structure_summary(out, *outcome.model);
            }
            for (const std::vector<double>* table :
                 {&result.forecast, &result.linear_forecast, &result.actual}) {
                out.doubles(std::span<const double>(table->data() + idx(i) * block, block));
            }
            return std::move(out.bytes());
        },
        settings.progress);
    if (!ran.completed) {
        return {};
    }
    for (int i = 0; i < count; ++i) {
        ByteReader in(ran.results[idx(i)]);
        OriginOutcome& outcome = result.origins[idx(i)];
        outcome.origin = static_cast<int>(in.u64());
        outcome.label = in.text();
        outcome.first_row = static_cast<int>(in.u64());
        outcome.model.reset();
        if (in.u64() != 0) {
            outcome.model = read_structure_summary(in);
        }
        for (std::vector<double>* table :
             {&result.forecast, &result.linear_forecast, &result.actual}) {
            const std::vector<double> values = in.doubles();
            std::copy(values.begin(), values.end(),
                      table->begin() + static_cast<std::ptrdiff_t>(idx(i) * block));
        }
    }
    result.horizon = horizon;

    // Scored: the origins where both models forecast, for each horizon they
    // reach.
    std::vector<double> sq_tv(block, 0.0), abs_tv(block, 0.0);
    std::vector<double> sq_lin(block, 0.0), abs_lin(block, 0.0);
    result.forecasts.assign(idx(horizon), 0);
    std::vector<std::vector<double>> loss_difference(idx(horizon));
    for (int i = 0; i < count; ++i) {
        if (!result.origins[idx(i)].model) {
            continue;
        }
        for (int h = 1; h <= horizon; ++h) {
            if (std::isnan(result.value(result.actual, i, h, 1))) {
                break;
            }
            ++result.forecasts[idx(h - 1)];
            double d = 0.0;
            for (int c = 1; c <= k; ++c) {
                const std::size_t v = idx(h - 1) * idx(k) + idx(c - 1);
                const double actual = result.value(result.actual, i, h, c);
                const double e_tv = actual - result.value(result.forecast, i, h, c);
                const double e_lin = actual - result.value(result.linear_forecast, i, h, c);
                sq_tv[v] += e_tv * e_tv;
                abs_tv[v] += std::fabs(e_tv);
                sq_lin[v] += e_lin * e_lin;
                abs_lin[v] += std::fabs(e_lin);
                d += e_lin * e_lin - e_tv * e_tv;
            }
            loss_difference[idx(h - 1)].push_back(d);
        }
    }
    auto summarise = [&](const std::vector<double>& sq, const std::vector<double>& ab) {
        ForecastErrors e;
        e.rmse.assign(idx(horizon), std::vector<double>(idx(k), kMissing));
        e.mae.assign(idx(horizon), std::vector<double>(idx(k), kMissing));
        e.rmse_all.assign(idx(horizon), kMissing);
        e.mae_all.assign(idx(horizon), kMissing);
        for (int h = 0; h < horizon; ++h) {
            const int n = result.forecasts[idx(h)];
            if (n == 0) {
                continue;
            }
            double sq_all = 0.0;
            double abs_all = 0.0;
            for (int c = 0; c < k; ++c) {
                const std::size_t v = idx(h) * idx(k) + idx(c);
                e.rmse[idx(h)][idx(c)] = std::sqrt(sq[v] / n);
                e.mae[idx(h)][idx(c)] = ab[v] / n;
                sq_all += sq[v];
                abs_all += ab[v];
            }
            e.rmse_all[idx(h)] = std::sqrt(sq_all / (static_cast<double>(n) * k));
            e.mae_all[idx(h)] = abs_all / (static_cast<double>(n) * k);
        }
        return e;
    };
    result.threshold = summarise(sq_tv, abs_tv);
    result.linear = summarise(sq_lin, abs_lin);
    for (int h = 1; h <= horizon; ++h) {
        result.dm.push_back(diebold_mariano(loss_difference[idx(h - 1)], h));
    }
    return result;
}

}  // namespace velmora::rolling
