#include "forecast/holdout.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "forecast/forecast_paths.hpp"
#include "forecast/random_stream.hpp"
#include "inference/linear_var.hpp"
#include "model/problem.hpp"

namespace velmora {

namespace {

inline std::size_t idx(long long i) {
    return static_cast<std::size_t>(i);
}

ForecastErrors summarise(const std::vector<double>& sq, const std::vector<double>& abs_err,
                         const std::vector<int>& count, int horizon, int k) {
    ForecastErrors e;
    e.rmse.assign(idx(horizon), std::vector<double>(idx(k), 0.0));
    e.mae.assign(idx(horizon), std::vector<double>(idx(k), 0.0));
    e.rmse_all.assign(idx(horizon), 0.0);
    e.mae_all.assign(idx(horizon), 0.0);
    for (int h = 0; h < horizon; ++h) {
        const int n = count[idx(h)];
        if (n == 0) {
            continue;
        }
        double sq_all = 0.0;
        double abs_all = 0.0;
        for (int c = 0; c < k; ++c) {
            const double s = sq[idx(h) * idx(k) + idx(c)];
            const double a = abs_err[idx(h) * idx(k) + idx(c)];
            e.rmse[idx(h)][idx(c)] = std::sqrt(s / n);
            e.mae[idx(h)][idx(c)] = a / n;
            sq_all += s;
            abs_all += a;
        }
        e.rmse_all[idx(h)] = std::sqrt(sq_all / (static_cast<double>(n) * k));
        e.mae_all[idx(h)] = abs_all / (static_cast<double>(n) * k);
    }
    return e;
}

}  // namespace

inference::LinearVar linear_benchmark(const double_matrix& series, int n, int k, int order,
                                      Include include, int trend_origin) {
    ModelProblem problem;
    problem.serie_matrix = &series;
    problem.n_oss = n;
    problem.n_comp = k;
    problem.model = {.max_order = order, .include = include};
    problem.trend_origin = trend_origin;
    return inference::fit_linear_var(problem);
}

HoldoutResult holdout_check(const ThresholdVarModel& threshold,
                            const inference::RegimeRegression& linear, const double_matrix& series,
                            int rows, int fit_rows, const HoldoutOptions& options) {
    threshold.check();
    const int k = threshold.k;
    const int horizon = options.horizon;
    if (!linear.estimated || linear.k != k) {
        throw std::invalid_argument(
            "holdout: the linear VAR is not estimated for these components");
    }
    if (horizon < 1 || options.paths < 1) {
        throw std::invalid_argument("holdout: the horizon and the paths must be at least 1");
    }
    const int need = std::max(threshold.history_rows(), linear.order);
    if (fit_rows < need || fit_rows >= rows) {
        throw std::invalid_argument("holdout: no rows to hold out, or too few to start from");
    }
    const int origins = rows - fit_rows;
    const std::size_t path_size = idx(horizon) * idx(k);

    // Per origin: the two forecasts (horizon x k each), written by its task.
    std::vector<double> tv_forecast(idx(origins) * path_size, 0.0);
    std::vector<double> lin_forecast(idx(origins) * path_size, 0.0);
    const int threads = std::max(1, options.threads);
    struct Scratch {
        PathSimulator tv;
        std::vector<double> path;
    };
    std::vector<Scratch> scratch;
    scratch.reserve(idx(threads));
    for (int t = 0; t < threads; ++t) {
        scratch.push_back(
            Scratch{PathSimulator(threshold, horizon), std::vector<double>(path_size)});
    }
    const inference::SeriesRows plain = inference::SeriesRows::from_matrix(series, rows, k);
    const bool finished = run_tasks(
        origins, threads,
        [&](long long o, int worker) {
            Scratch& s = scratch[idx(worker)];
            const int origin = fit_rows + static_cast<int>(o);
            const std::vector<double> history = series_history(series, k, origin, need);
            double* tv = tv_forecast.data() + idx(o) * path_size;
            for (int i = 0; i < options.paths; ++i) {
                if (options.stop != nullptr && options.stop->load(std::memory_order_relaxed)) {
                    return;
                }
                RandomStream stream(derive_seed(
                    options.seed, StreamPurpose::holdout,
                    static_cast<std::uint64_t>(o) * static_cast<std::uint64_t>(options.paths) +
                        static_cast<std::uint64_t>(i)));
                s.tv.run(history, &stream, nullptr, s.path.data(), nullptr, origin);
                for (std::size_t v = 0; v < path_size; ++v) {
                    tv[v] += s.path[v];
                }
            }
            for (std::size_t v = 0; v < path_size; ++v) {
                tv[v] /= options.paths;
            }
            const std::vector<double> lin =
                inference::linear_var_forecast(linear, plain, origin, horizon);
            std::copy(lin.begin(), lin.end(),
                      lin_forecast.begin() + static_cast<std::ptrdiff_t>(idx(o) * path_size));
        },
        options.progress);
    if (!finished || (options.stop != nullptr && options.stop->load())) {
        return {};
    }

    std::vector<double> sq_tv(path_size, 0.0), abs_tv(path_size, 0.0);
    std::vector<double> sq_lin(path_size, 0.0), abs_lin(path_size, 0.0);
    std::vector<int> count(idx(horizon), 0);
    for (int o = 0; o < origins; ++o) {
        const int origin = fit_rows + o;
        for (int h = 1; h <= horizon && origin + h <= rows; ++h) {
            ++count[idx(h - 1)];
            for (int c = 0; c < k; ++c) {
                const double actual = series[origin + h][c + 1];
                const std::size_t v = idx(h - 1) * idx(k) + idx(c);
                const double e_tv = actual - tv_forecast[idx(o) * path_size + v];
                const double e_lin = actual - lin_forecast[idx(o) * path_size + v];
                sq_tv[v] += e_tv * e_tv;
                abs_tv[v] += std::fabs(e_tv);
                sq_lin[v] += e_lin * e_lin;
                abs_lin[v] += std::fabs(e_lin);
            }
        }
    }
    HoldoutResult result;
    result.fit_rows = fit_rows;
    result.holdout = origins;
    result.horizon = horizon;
    result.forecasts = count;
    result.threshold = summarise(sq_tv, abs_tv, count, horizon, k);
    result.linear = summarise(sq_lin, abs_lin, count, horizon, k);
    return result;
}

}  // namespace velmora
