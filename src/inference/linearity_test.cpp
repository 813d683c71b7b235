#include "inference/linearity_test.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace velmora::inference {

namespace {

using std::size_t;

inline size_t at(int i) {
    return static_cast<size_t>(i);
}

BootstrapControl bootstrap_control(const LinearityTestOptions& options) {
    return {options.seed, options.threads, options.executor, options.stop, options.progress};
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
        prepare_threshold_data(series, rule, order, options.model.include, options.trend_origin);
    const int min_count = options.model.least_sweep_regime(data.q);
    LinearityTest test;
    test.observations = data.count();
    test.null_order = linear_order(data);
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

    // Each replicate draws from its own stream and has its own slot, so the
    // p-value is the same for any thread or process count.
    const BootstrapDraws draws =
        run_bootstrap(series, null, B, bootstrap_control(options), [&](const SeriesRows& star) {
            const ThresholdData d = prepare_threshold_data(star, rule, order, options.model.include,
                                                           options.trend_origin);
            const SweepOptimum best =
                minimise_or_search(d, rule, thresholds_at_ranks(d, rule, ranks), min_count);
            return d.count() * (log_det_linear(d) - best.log_det);
        });
    test.bootstrap = draws.statistics;
    if (!draws.completed) {
        // A stopped test says how far it got: the replicates that finished.
        test.stopped = true;
        const BootstrapTally tally = tally_bootstrap(draws.statistics, test.lr, draws.finished);
        test.replicates = tally.fitted;
        test.failed = tally.failed;
        test.exceedances = tally.exceedances;
        test.p_value = std::numeric_limits<double>::quiet_NaN();
        return test;
    }
    const BootstrapTally tally = tally_bootstrap(draws.statistics, test.lr);
    test.replicates = tally.fitted;
    test.failed = tally.failed;
    test.exceedances = tally.exceedances;
    test.p_value = test.replicates > 0 ? bootstrap_p_value(test.exceedances, test.replicates)
                                       : std::numeric_limits<double>::quiet_NaN();
    return test;
}

}  // namespace velmora::inference
