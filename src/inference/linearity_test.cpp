#include "inference/linearity_test.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <limits>

#include "simulate/var_step.hpp"
#include "support/parallel.hpp"

namespace velmora::inference {

namespace {

using std::size_t;

inline size_t at(int i) {
    return static_cast<size_t>(i);
}

std::uint64_t mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// The linear VAR fitted on the data's times, and what a bootstrap series
// needs of it.
struct NullModel {
    int order = 0;
    int k = 0;
    int first_time = 0;
    std::vector<double> phi;        // q x k
    std::vector<double> residuals;  // T x k, recentred
    bool ok = false;
};

NullModel fit_null(const ThresholdData& data) {
    NullModel null;
    null.order = data.order;
    null.k = data.k;
    null.first_time = data.first_time;
    const int q = data.q;
    const int k = data.k;
    const int T = data.count();
    std::vector<double> factor;
    std::vector<double> zy;
    linear_cross_products(data, factor, zy);
    if (T <= q || !cholesky_in_place(factor.data(), q)) {
        return null;
    }
    // Phi = (Z'Z)^-1 Z'Y by forward and back substitution, column by column.
    null.phi.assign(at(q) * at(k), 0.0);
    std::vector<double> col(at(q));
    for (int c = 0; c < k; ++c) {
        for (int i = 0; i < q; ++i) {
            col[at(i)] = zy[at(i) * at(k) + at(c)];
        }
        cholesky_solve(factor.data(), q, col.data());
        for (int i = 0; i < q; ++i) {
            null.phi[at(i) * at(k) + at(c)] = col[at(i)];
        }
    }
    null.residuals.assign(at(T) * at(k), 0.0);
    std::vector<double> mean(at(k), 0.0);
    for (int i = 0; i < T; ++i) {
        const double* x = data.x.data() + at(i) * at(q);
        for (int c = 0; c < k; ++c) {
            double fit = 0.0;
            for (int r = 0; r < q; ++r) {
                fit += null.phi[at(r) * at(k) + at(c)] * x[r];
            }
            const double e = data.y[at(i) * at(k) + at(c)] - fit;
            null.residuals[at(i) * at(k) + at(c)] = e;
            mean[at(c)] += e;
        }
    }
    for (int c = 0; c < k; ++c) {
        mean[at(c)] /= T;
    }
    for (int i = 0; i < T; ++i) {
        for (int c = 0; c < k; ++c) {
            null.residuals[at(i) * at(k) + at(c)] -= mean[at(c)];
        }
    }
    null.ok = true;
    return null;
}

// One bootstrap series: the data's start-up rows, then the fitted VAR driven
// by resampled residual vectors.
void bootstrap_series(const SeriesRows& data, const NullModel& null, ReplicateRandom& random,
                      SeriesRows& out) {
    const int k = null.k;
    const int p = null.order;
    const auto draws = static_cast<std::uint64_t>(null.residuals.size() / at(k));
    out.n = data.n;
    out.k = k;
    out.values.assign(data.values.begin(), data.values.end());
    for (int t = null.first_time; t <= data.n; ++t) {
        const size_t e = static_cast<size_t>(random.below(draws)) * at(k);
        double* row = out.values.data() + at(t - 1) * at(k);
        for (int c = 0; c < k; ++c) {
            row[c] = 0.0;
        }
        add_autoregression(null.phi.data(), p, k, row - k, -k, row);
        for (int c = 0; c < k; ++c) {
            row[c] += null.residuals[e + at(c)];
        }
    }
}

}  // namespace

ReplicateRandom::ReplicateRandom(std::uint64_t run_seed, std::uint64_t replicate)
    : state_(mix(mix(run_seed) ^ (0x9E3779B97F4A7C15ULL * (replicate + 1)))) {}

std::uint64_t ReplicateRandom::next() noexcept {
    state_ += 0x9E3779B97F4A7C15ULL;
    return mix(state_);
}

std::uint64_t ReplicateRandom::below(std::uint64_t n) noexcept {
    // Lemire's multiply-and-shift with rejection of the biased low range.
    unsigned __int128 product = static_cast<unsigned __int128>(next()) * n;
    auto low = static_cast<std::uint64_t>(product);
    if (low < n) {
        const std::uint64_t floor = (0 - n) % n;
        while (low < floor) {
            product = static_cast<unsigned __int128>(next()) * n;
            low = static_cast<std::uint64_t>(product);
        }
    }
    return static_cast<std::uint64_t>(product >> 64);
}

double likelihood_ratio(const ThresholdData& data, const ThresholdRule& rule,
                        const std::array<double, 3>& thresholds) {
    return data.count() * (log_det_linear(data) - log_det_at(data, rule, thresholds, 0));
}

LinearityTest test_linearity(const SeriesRows& series, const ThresholdRule& rule,
                             const std::array<double, 3>& thresholds, int order,
                             const LinearityTestOptions& options) {
    const ThresholdData data = prepare_threshold_data(series, rule, order);
    const int min_count = sweep_min_count(options.min_oss_reg, data.q);
    LinearityTest test;
    test.observations = data.count();
    test.log_det_linear = log_det_linear(data);
    const SweepOptimum sup = minimise_thresholds(data, rule, thresholds, min_count);
    test.thresholds = sup.thresholds;
    test.log_det_threshold = sup.log_det;
    test.lr = data.count() * (test.log_det_linear - sup.log_det);

    const int B = std::max(options.replicates, 0);
    test.bootstrap.assign(at(B), std::numeric_limits<double>::quiet_NaN());
    const NullModel null = fit_null(data);
    if (B == 0 || !null.ok || !std::isfinite(test.lr)) {
        test.failed = B;
        test.p_value = std::numeric_limits<double>::quiet_NaN();
        return test;
    }
    const std::array<int, 3> ranks = threshold_ranks(data, rule, sup.thresholds);

    // Each replicate draws from its own stream and writes its own slot, so the
    // p-value is the same for any thread count.
    const int threads = std::clamp(options.threads, 1, B);
    std::vector<SeriesRows> stars(static_cast<std::size_t>(threads));  // each thread's scratch
    const bool completed = run_tasks(
        B, threads,
        [&](long long b, int worker) {
            if (options.stop != nullptr && options.stop->load()) {
                return;
            }
            SeriesRows& star = stars[static_cast<std::size_t>(worker)];
            ReplicateRandom random(options.seed, static_cast<std::uint64_t>(b));
            bootstrap_series(series, null, random, star);
            const ThresholdData d = prepare_threshold_data(star, rule, order);
            const SweepOptimum best =
                minimise_thresholds(d, rule, thresholds_at_ranks(d, rule, ranks), min_count);
            const double lr = d.count() * (log_det_linear(d) - best.log_det);
            test.bootstrap[at(static_cast<int>(b))] =
                std::isfinite(lr) ? lr : std::numeric_limits<double>::quiet_NaN();
        },
        [&](long long done, long long total) {
            if (options.progress) {
                options.progress(static_cast<int>(done), static_cast<int>(total));
            }
            return options.stop == nullptr || !options.stop->load();
        });
    const bool stopped = !completed || (options.stop != nullptr && options.stop->load());
    if (stopped) {
        test.stopped = true;
        test.failed = B;
        test.p_value = std::numeric_limits<double>::quiet_NaN();
        return test;
    }

    for (double lr : test.bootstrap) {
        if (std::isnan(lr)) {
            ++test.failed;
            continue;
        }
        ++test.replicates;
        if (lr >= test.lr) {
            ++test.exceedances;
        }
    }
    test.p_value = test.replicates > 0 ? static_cast<double>(test.exceedances) / test.replicates
                                       : std::numeric_limits<double>::quiet_NaN();
    return test;
}

}  // namespace velmora::inference
