#include "forecast/forecast.hpp"

#include <algorithm>
#include <stdexcept>

#include "forecast/forecast_paths.hpp"
#include "forecast/quantile.hpp"
#include "forecast/random_stream.hpp"

namespace velmora {

namespace {

inline std::size_t idx(long long i) {
    return static_cast<std::size_t>(i);
}

using Table = std::vector<std::vector<double>>;

Table make_table(int rows, int cols) {
    return Table(idx(rows), std::vector<double>(idx(cols), 0.0));
}

}  // namespace

ForecastResult forecast_threshold_var(const ThresholdVarModel& model,
                                      std::span<const double> history,
                                      const ForecastOptions& options) {
    if (options.horizon < 1) {
        throw std::invalid_argument("forecast: the horizon must be at least 1");
    }
    if (options.paths < 1) {
        throw std::invalid_argument("forecast: at least one path");
    }
    model.check();
    const int k = model.k;
    const int steps = options.horizon;
    const int n = options.paths;
    const std::size_t path_size = idx(steps) * idx(k);

    std::vector<double> values(idx(n) * path_size);
    std::vector<int> regimes(idx(n) * idx(steps));
    const int threads = std::max(1, options.threads);
    std::vector<PathSimulator> simulators;
    simulators.reserve(idx(threads));
    for (int t = 0; t < threads; ++t) {
        simulators.emplace_back(model, steps);
    }
    // A simulator per thread: which one runs a path does not change the path.
    const bool finished = run_tasks(
        n, threads,
        [&](long long i, int worker) {
            RandomStream stream(
                derive_seed(options.seed, StreamPurpose::forecast, static_cast<std::uint64_t>(i)));
            simulators[idx(worker)].run(history, &stream, nullptr,
                                        values.data() + idx(i) * path_size,
                                        regimes.data() + idx(i) * idx(steps), options.origin);
        },
        options.progress);
    if (!finished) {
        return {};
    }

    ForecastResult result;
    result.horizon = steps;
    result.k = k;
    result.paths = n;
    result.mean = make_table(steps, k);
    result.median = make_table(steps, k);
    result.q05 = make_table(steps, k);
    result.q95 = make_table(steps, k);
    result.no_shock = make_table(steps, k);
    result.regime_share = make_table(steps, model.n_regime());

    std::vector<double> column(idx(n));
    for (int h = 0; h < steps; ++h) {
        for (int c = 0; c < k; ++c) {
            double sum = 0.0;
            for (int i = 0; i < n; ++i) {
                const double v = values[idx(i) * path_size + idx(h) * idx(k) + idx(c)];
                column[idx(i)] = v;
                sum += v;
            }
            std::sort(column.begin(), column.end());
            result.mean[idx(h)][idx(c)] = sum / n;
            result.median[idx(h)][idx(c)] = sorted_quantile(column, 0.5);
            result.q05[idx(h)][idx(c)] = sorted_quantile(column, 0.05);
            result.q95[idx(h)][idx(c)] = sorted_quantile(column, 0.95);
        }
        for (int i = 0; i < n; ++i) {
            result.regime_share[idx(h)][idx(regimes[idx(i) * idx(steps) + idx(h)] - 1)] += 1.0;
        }
        for (double& share : result.regime_share[idx(h)]) {
            share /= n;
        }
    }
    std::vector<double> plain(path_size);
    PathSimulator(model, steps)
        .run(history, nullptr, nullptr, plain.data(), nullptr, options.origin);
    for (int h = 0; h < steps; ++h) {
        for (int c = 0; c < k; ++c) {
            result.no_shock[idx(h)][idx(c)] = plain[idx(h) * idx(k) + idx(c)];
        }
    }
    return result;
}

}  // namespace velmora
