#include "inference/linearity_test.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <limits>

#include "support/parallel.hpp"

namespace velmora::inference {

namespace {

using std::size_t;

inline size_t at(int i) {
    return static_cast<size_t>(i);
}

}  // namespace

double likelihood_ratio(const ThresholdData& data, const ThresholdRule& rule,
                        const std::array<double, 3>& thresholds) {
    return data.count() * (log_det_linear(data) - log_det_at(data, rule, thresholds, 0));
}

LinearityTest test_linearity(const SeriesRows& series, const ThresholdRule& rule,
                             const std::array<double, 3>& thresholds, int order,
                             const LinearityTestOptions& options) {
    const ThresholdData data =
        prepare_threshold_data(series, rule, order, options.include, options.trend_origin);
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
    const BootstrapNull null = fit_linear_null(series, data);
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
    // Which replicates ran to their end, so that a stopped test can say how
    // far it got.
    std::vector<char> finished(at(B), 0);
    const bool completed = run_tasks(
        B, threads,
        [&](long long b, int worker) {
            if (options.stop != nullptr && options.stop->load()) {
                return;
            }
            SeriesRows& star = stars[static_cast<std::size_t>(worker)];
            ReplicateRandom random(options.seed, static_cast<std::uint64_t>(b));
            bootstrap_series(series, null, random, star);
            const ThresholdData d =
                prepare_threshold_data(star, rule, order, options.include, options.trend_origin);
            const SweepOptimum best =
                minimise_or_search(d, rule, thresholds_at_ranks(d, rule, ranks), min_count);
            const double lr = d.count() * (log_det_linear(d) - best.log_det);
            test.bootstrap[at(static_cast<int>(b))] =
                std::isfinite(lr) ? lr : std::numeric_limits<double>::quiet_NaN();
            finished[at(static_cast<int>(b))] = 1;
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
        for (int b = 0; b < B; ++b) {
            const double lr = test.bootstrap[at(b)];
            if (finished[at(b)] == 0) {
                continue;
            }
            ++(std::isnan(lr) ? test.failed : test.replicates);
            test.exceedances += !std::isnan(lr) && lr >= test.lr ? 1 : 0;
        }
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
    test.p_value = test.replicates > 0 ? bootstrap_p_value(test.exceedances, test.replicates)
                                       : std::numeric_limits<double>::quiet_NaN();
    return test;
}

}  // namespace velmora::inference
