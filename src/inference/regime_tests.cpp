#include "inference/regime_tests.hpp"

#include <algorithm>
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

constexpr double kUnusedThreshold = 1000000.0;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

ThresholdRule one_variable_rule(int component, int lag, int n_regime) {
    ThresholdRule rule;
    rule.variables = 1;
    rule.n_regime = n_regime;
    rule.component = {component, component};
    rule.lag = {lag, lag};
    return rule;
}

ThresholdRule rule_with(const ThresholdData& data, int n_regime) {
    ThresholdRule rule = rule_of(data.shape);
    rule.n_regime = n_regime;
    return rule;
}

constexpr std::array<double, 3> kNoThresholds{kUnusedThreshold, kUnusedThreshold, kUnusedThreshold};

}  // namespace

SweepOptimum add_threshold(const ThresholdData& data, int n, const std::array<double, 3>& fixed,
                           int min_count) {
    const ThresholdRule rule = rule_with(data, n + 1);
    SweepOptimum best;
    // The new threshold in each gap between the fixed ones, swept there.
    for (int g = 0; g < n; ++g) {
        std::array<double, 3> t = kNoThresholds;
        int from = 0;
        for (int slot = 0; slot < n; ++slot) {
            t[at(slot)] =
                slot == g ? (g < n - 1 ? fixed[at(g)] : kUnusedThreshold) : fixed[at(from++)];
        }
        for (const SweepPoint& p : sweep_threshold(data, rule, t, g, min_count)) {
            if (p.log_det < best.log_det) {
                best.log_det = p.log_det;
                best.thresholds = t;
                best.thresholds[at(g)] = p.threshold;
            }
        }
    }
    if (!std::isfinite(best.log_det)) {
        return minimise_or_search(data, rule, kNoThresholds, min_count);
    }
    return minimise_or_search(data, rule, best.thresholds, min_count);
}

RegimeSequence fit_regime_sequence(const ThresholdData& data, int up_to, int min_count) {
    RegimeSequence seq;
    seq.log_det.fill(kInfeasible);
    seq.thresholds.fill(kNoThresholds);
    seq.log_det[1] = log_det_linear(data);
    for (int n = 1; n < std::min(up_to, kMostRegimes); ++n) {
        const SweepOptimum next =
            std::isfinite(seq.log_det[at(n)])
                ? add_threshold(data, n, seq.thresholds[at(n)], min_count)
                : minimise_or_search(data, rule_with(data, n + 1), kNoThresholds, min_count);
        seq.log_det[at(n + 1)] = next.log_det;
        seq.thresholds[at(n + 1)] = next.thresholds;
    }
    return seq;
}

RegimeTests test_regimes(const SeriesRows& series, int component, int lag, int order,
                         const RegimeTestOptions& options, const LinearityTest* linearity) {
    RegimeTests out;
    out.component = component;
    out.lag = lag;
    out.level = options.level;
    const ThresholdData data =
        prepare_threshold_data(series, one_variable_rule(component, lag, 2), order);
    const int min_count = sweep_min_count(options.min_oss_reg, data.q);
    const int T = data.count();
    out.observations = T;
    const RegimeSequence seq = fit_regime_sequence(data, kMostRegimes, min_count);
    const int B = std::max(options.replicates, 0);
    const int first = std::clamp(options.first_null, 1, kMostRegimes - 1);
    const int last = std::clamp(options.last_null, first, kMostRegimes - 1);
    out.selected_regimes = first;

    for (int n = first; n <= last; ++n) {
        if (options.stop != nullptr && options.stop->load()) {
            out.stopped = true;
            break;
        }
        RegimeTest test;
        test.null_regimes = n;
        test.alternative_regimes = n + 1;
        test.replicates = B;
        test.null_thresholds = seq.thresholds[at(n)];
        test.alternative_thresholds = seq.thresholds[at(n + 1)];
        test.lr = T * (seq.log_det[at(n)] - seq.log_det[at(n + 1)]);
        test.bootstrap.assign(at(B), kNaN);

        if (n == 1 && linearity != nullptr && !linearity->stopped) {
            test.lr = linearity->lr;
            test.alternative_thresholds = linearity->thresholds;
            test.replicates = static_cast<int>(linearity->bootstrap.size());
            test.bootstrap = linearity->bootstrap;
        } else {
            const BootstrapNull null =
                fit_bootstrap_null(series, data, rule_with(data, n), test.null_thresholds);
            if (B > 0 && null.ok && std::isfinite(test.lr)) {
                const std::uint64_t seed = derived_seed(options.seed, static_cast<unsigned>(n - 1));
                const int threads = std::clamp(options.threads, 1, B);
                std::vector<SeriesRows> stars(at(threads));
                const bool completed = run_tasks(
                    B, threads,
                    [&](long long b, int worker) {
                        if (options.stop != nullptr && options.stop->load()) {
                            return;
                        }
                        SeriesRows& star = stars[at(worker)];
                        ReplicateRandom random(seed, static_cast<std::uint64_t>(b));
                        bootstrap_series(series, null, random, star);
                        const ThresholdData d = prepare_threshold_data(
                            star, one_variable_rule(component, lag, 2), order);
                        const RegimeSequence s = fit_regime_sequence(d, n + 1, min_count);
                        const double lr = d.count() * (s.log_det[at(n)] - s.log_det[at(n + 1)]);
                        test.bootstrap[at(static_cast<int>(b))] = std::isfinite(lr) ? lr : kNaN;
                    },
                    [&](long long done, long long total) {
                        if (options.progress) {
                            options.progress(static_cast<int>(done), static_cast<int>(total));
                        }
                        return options.stop == nullptr || !options.stop->load();
                    });
                if (!completed || (options.stop != nullptr && options.stop->load())) {
                    out.stopped = true;
                    break;
                }
            }
        }
        int fitted = 0;
        for (double lr : test.bootstrap) {
            if (std::isnan(lr)) {
                ++test.failed;
                continue;
            }
            ++fitted;
            if (lr >= test.lr) {
                ++test.exceedances;
            }
        }
        test.p_value = fitted > 0 && std::isfinite(test.lr)
                           ? bootstrap_p_value(test.exceedances, fitted)
                           : kNaN;
        const bool rejected = test.rejected(options.level);
        out.tests.push_back(std::move(test));
        if (!rejected) {
            break;
        }
        out.selected_regimes = n + 1;
    }
    out.selected_thresholds = seq.thresholds[at(out.selected_regimes)];
    return out;
}

}  // namespace velmora::inference
