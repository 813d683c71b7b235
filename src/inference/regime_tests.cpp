#include "inference/regime_tests.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include "support/format.hpp"

namespace velmora::inference {

namespace {

using std::size_t;

inline size_t at(int i) {
    return static_cast<size_t>(i);
}

constexpr double kUnusedThreshold = 1000000.0;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

ThresholdRule one_variable_rule(int component, int lag, int n_regime, int order) {
    ThresholdRule rule;
    rule.orders = {order, order, order, order};
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

BootstrapControl bootstrap_control(const RegimeTestOptions& options, std::uint64_t seed) {
    return {seed, options.threads, options.executor, options.stop, options.progress};
}

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

double three_regime_grid_log_det(const ThresholdData& data, int min_count) {
    const ThresholdRule rule = rule_with(data, 3);
    std::vector<double> z = data.z1;
    std::sort(z.begin(), z.end());
    z.erase(std::unique(z.begin(), z.end()), z.end());
    double best = kInfeasible;
    for (double first : z) {
        const std::array<double, 3> t{first, kUnusedThreshold, kUnusedThreshold};
        for (const SweepPoint& p : sweep_threshold(data, rule, t, 1, min_count)) {
            best = std::min(best, p.log_det);
        }
    }
    return best;
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

OneVariableFit best_nested_one_variable(const ThresholdData& data, const ThresholdRule& rule,
                                        int min_count) {
    OneVariableFit best;
    // Four quadrants merge into two regimes along either variable; three
    // keep apart the sides of the variable their merged pair shares.
    const bool first = rule.n_regime == 4 || rule.type_model != 3;
    const bool second = rule.n_regime == 4 || rule.type_model == 3;
    ThresholdRule quadrants = rule;
    quadrants.n_regime = 4;
    quadrants.type_model = 0;
    for (int v = 0; v < 2; ++v) {
        if ((v == 0 && !first) || (v == 1 && !second)) {
            continue;
        }
        // The other variable's threshold above every value: two quadrants
        // stay empty, the two others are the one-variable regimes. Empty
        // regimes are allowed in the sweep; the sizes are checked here.
        const std::array<double, 3> t{kUnusedThreshold, kUnusedThreshold, 0.0};
        const std::vector<double>& z = v == 0 ? data.z1 : data.z2;
        std::vector<double> sorted = z;
        std::sort(sorted.begin(), sorted.end());
        for (const SweepPoint& p : sweep_threshold(data, quadrants, t, v, 0)) {
            const auto below =
                std::upper_bound(sorted.begin(), sorted.end(), p.threshold) - sorted.begin();
            const auto above = static_cast<long>(sorted.size()) - below;
            if (below >= min_count && above >= min_count && p.log_det < best.log_det) {
                best.variable = v;
                best.threshold = p.threshold;
                best.log_det = p.log_det;
            }
        }
    }
    return best;
}

std::string component_text(int component, const std::vector<std::string>& names) {
    return component >= 1 && at(component) <= names.size() && !names[at(component - 1)].empty()
               ? names[at(component - 1)]
               : strprintf("y%d", component);
}

std::string null_model_text(const RegimeTest& test, const std::vector<std::string>& names) {
    if (test.null_variable < 0) {
        return "";
    }
    const ThresholdRule& rule = test.two_variable_rule;
    return strprintf("2 regimes on %s at lag %d",
                     component_text(rule.component[at(test.null_variable)], names).c_str(),
                     rule.lag[at(test.null_variable)]);
}

std::string alternative_model_text(const RegimeTest& test, const std::vector<std::string>& names) {
    if (test.null_variable < 0) {
        return "";
    }
    const ThresholdRule& rule = test.two_variable_rule;
    return strprintf("%d regimes on %s at lag %d and %s at lag %d (type_model %d)", rule.n_regime,
                     component_text(rule.component[0], names).c_str(), rule.lag[0],
                     component_text(rule.component[1], names).c_str(), rule.lag[1],
                     rule.type_model);
}

RegimeTest test_one_against_two_variables(const SeriesRows& series, const ThresholdRule& given,
                                          const std::array<double, 3>& thresholds, int order,
                                          const RegimeTestOptions& options) {
    const ThresholdRule rule = given.at_order(options.regime_order);
    const ThresholdData data =
        prepare_threshold_data(series, rule, order, options.model.include, options.trend_origin);
    const int min_count = options.model.least_sweep_regime(data.q);
    const int T = data.count();
    const int B = std::max(options.replicates, 0);
    RegimeTest test;
    test.null_regimes = 2;
    test.alternative_regimes = rule.n_regime;
    test.replicates = B;
    test.bootstrap.assign(at(B), kNaN);
    const OneVariableFit null_fit = best_nested_one_variable(data, rule, min_count);
    const SweepOptimum alternative = minimise_or_search(data, rule, thresholds, min_count);
    test.two_variable_rule = rule;
    test.null_variable = null_fit.variable;
    test.null_model = null_model_text(test);
    test.alternative_model = alternative_model_text(test);
    test.null_thresholds = {null_fit.threshold, kUnusedThreshold, kUnusedThreshold};
    test.alternative_thresholds = alternative.thresholds;
    test.lr = T * (null_fit.log_det - alternative.log_det);
    test.p_value = kNaN;
    if (!std::isfinite(test.lr)) {
        test.failed = B;
        return test;
    }
    const ThresholdRule null_rule =
        one_variable_rule(rule.component[at(null_fit.variable)], rule.lag[at(null_fit.variable)], 2,
                          options.regime_order);
    const BootstrapNull null = fit_bootstrap_null(series, data, null_rule, test.null_thresholds,
                                                  null_fit.variable == 0 ? data.z1 : data.z2);
    if (B == 0 || !null.ok) {
        test.failed = B;
        return test;
    }
    const std::array<int, 3> ranks = threshold_ranks(data, rule, alternative.thresholds);
    // A stream of its own, apart from the tests of 1..4 regimes on one variable.
    const std::uint64_t seed = derived_seed(options.seed, kMostRegimes);
    const BootstrapDraws draws = run_bootstrap(
        series, null, B, bootstrap_control(options, seed), [&](const SeriesRows& star) {
            const ThresholdData d = prepare_threshold_data(star, rule, order, options.model.include,
                                                           options.trend_origin);
            const OneVariableFit n = best_nested_one_variable(d, rule, min_count);
            const SweepOptimum a =
                minimise_or_search(d, rule, thresholds_at_ranks(d, rule, ranks), min_count);
            return d.count() * (n.log_det - a.log_det);
        });
    if (!draws.completed) {
        test.failed = B;
        return test;
    }
    test.bootstrap = draws.statistics;
    const BootstrapTally tally = tally_bootstrap(test.bootstrap, test.lr);
    test.failed = tally.failed;
    test.exceedances = tally.exceedances;
    if (tally.fitted > 0) {
        test.p_value = bootstrap_p_value(test.exceedances, tally.fitted);
    }
    return test;
}

RegimeTests test_regimes(const SeriesRows& series, int component, int lag, int order,
                         const RegimeTestOptions& options, const LinearityTest* linearity) {
    RegimeTests out;
    out.component = component;
    out.lag = lag;
    out.regime_order = options.regime_order;
    out.level = options.level;
    const ThresholdRule two = one_variable_rule(component, lag, 2, options.regime_order);
    const ThresholdData data =
        prepare_threshold_data(series, two, order, options.model.include, options.trend_origin);
    const int min_count = options.model.least_sweep_regime(data.q);
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
                const BootstrapDraws draws = run_bootstrap(
                    series, null, B, bootstrap_control(options, seed), [&](const SeriesRows& star) {
                        const ThresholdData d = prepare_threshold_data(
                            star, two, order, options.model.include, options.trend_origin);
                        const RegimeSequence s = fit_regime_sequence(d, n + 1, min_count);
                        return d.count() * (s.log_det[at(n)] - s.log_det[at(n + 1)]);
                    });
                if (!draws.completed) {
                    out.stopped = true;
                    break;
                }
                test.bootstrap = draws.statistics;
            }
        }
        const BootstrapTally tally = tally_bootstrap(test.bootstrap, test.lr);
        test.failed = tally.failed;
        test.exceedances = tally.exceedances;
        test.p_value = tally.fitted > 0 && std::isfinite(test.lr)
                           ? bootstrap_p_value(test.exceedances, tally.fitted)
                           : kNaN;
        const bool rejected = test.rejected(options.level);
        out.tests.push_back(std::move(test));
        if (!rejected) {
            break;
        }
        out.selected_regimes = n + 1;
    }
    out.selected_thresholds = seq.thresholds[at(out.selected_regimes)];
    out.selected_threshold_variables = out.selected_regimes > 1 ? 1 : 0;
    return out;
}

}  // namespace velmora::inference
