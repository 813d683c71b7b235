#include "inference/model_inference.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <stdexcept>

#include "support/format.hpp"

namespace velmora::inference {

namespace {

using std::size_t;

inline size_t at(int i) {
    return static_cast<size_t>(i);
}

}  // namespace

namespace {

void add_means(const SeriesRows& rows, ModelInference& out) {
    for (int c = 1; c <= rows.k; ++c) {
        double mean = 0.0;
        for (int t = 1; t <= rows.n; ++t) {
            mean += rows.at(t, c);
        }
        mean /= rows.n;
        double ss = 0.0;
        for (int t = 1; t <= rows.n; ++t) {
            ss += (rows.at(t, c) - mean) * (rows.at(t, c) - mean);
        }
        out.means.push_back(mean);
        out.mean_standard_errors.push_back(rows.n > 1 ? std::sqrt(ss / (rows.n - 1) / rows.n)
                                                      : std::nan(""));
    }
}

// The settings the linearity test and the tests of the number of regimes
// share: the model's terms and how the replicates are drawn and run.
template <class TestOptions>
TestOptions bootstrap_options(const ModelProblem& problem, const InferenceOptions& options,
                              int replicates) {
    TestOptions test;
    test.replicates = replicates;
    test.seed = options.seed;
    test.threads = options.threads;
    test.executor = options.executor;
    test.model = problem.model;
    test.trend_origin = problem.trend_origin;
    test.stop = options.stop;
    test.progress = options.progress;
    return test;
}

// regime_order: the largest of the reported model's orders. Below the
// largest order the tests put every regime at it (RegimeTestOptions).
RegimeTestOptions regime_test_options(const ModelProblem& problem, const InferenceOptions& options,
                                      int regime_order) {
    RegimeTestOptions test =
        bootstrap_options<RegimeTestOptions>(problem, options, options.regime_replicates);
    test.level = options.test_level;
    test.regime_order = regime_order < problem.model.max_order ? regime_order : 0;
    return test;
}

// The linear VAR reported as the model: its own benchmark, no threshold to
// test or bound; the tests of the number of regimes run on the threshold
// variable the caller names.
ModelInference infer_linear(const ModelProblem& problem, const FittedModel& fit,
                            const InferenceOptions& options) {
    ModelInference out;
    out.order = problem.model.max_order;
    out.k = problem.n_comp;
    out.threshold_variables = 0;
    out.include = problem.model.include;
    out.criterion = fit.criterion;
    out.thresholds = fit.thresholds;
    out.model_regimes = 1;
    out.linear = {fit.status, fit.criterion};
    out.regimes.push_back(regime_regression(fit, 1));
    out.linear_model = out.regimes.front();
    const SeriesRows rows =
        SeriesRows::from_matrix(*problem.serie_matrix, problem.n_oss, problem.n_comp);
    add_means(rows, out);
    if (options.confidence > 0.0 && options.confidence < 1.0) {
        out.skipped.push_back("No threshold confidence set: the linear VAR has no threshold.");
    }
    if (options.replicates > 0) {
        out.skipped.push_back(
            "No linearity test: the model is the linear VAR itself (the tests of the number of "
            "regimes compare it with threshold models).");
    }
    if (options.regime_replicates > 0) {
        if (options.linear_test_component > 0 && options.linear_test_lag > 0) {
            out.regime_tests = test_regimes(rows, options.linear_test_component,
                                            options.linear_test_lag, problem.model.max_order,
                                            regime_test_options(problem, options, fit.order(1)));
        } else {
            out.skipped.push_back(
                "No tests of the number of regimes: the linear VAR has no threshold variable to "
                "test on.");
        }
    }
    return out;
}

// The regimes' regressions: from the fitted model when there is one (the
// same rows, nothing estimated again), else on the times the thresholds
// give.
ModelInference infer(const ModelProblem& problem, const ModelStructure& structure,
                     const std::array<double, 3>& thresholds, double criterion,
                     const InferenceOptions& options, const FittedModel* fit) {
    check_series(problem);
    if (is_linear(structure)) {
        if (fit != nullptr) {
            return infer_linear(problem, *fit, options);
        }
        return infer_linear(problem, estimate(problem, structure), options);
    }
    ModelInference out;
    out.order = problem.model.max_order;
    out.k = problem.n_comp;
    out.threshold_variables = structure.threshold_variables;
    out.include = problem.model.include;
    out.criterion = criterion;
    out.thresholds = thresholds;
    // Each regime at its order in the model: the fitted model's when there
    // is one (chosen by the refinement or given), else the structure's.
    const ThresholdRule rule =
        fit != nullptr ? rule_of(structure, fit->orders) : rule_of(structure);
    // The benchmark on the threshold model's own rows: its lists start after
    // its longest threshold lag, and a linear VAR scored from row 1 would not
    // be compared on equal terms.
    const int longest_lag = rule.variables == 2 ? std::max(rule.lag[0], rule.lag[1]) : rule.lag[0];
    out.linear = linear_var_criterion(problem, longest_lag + 1);

    const SeriesRows rows =
        SeriesRows::from_matrix(*problem.serie_matrix, problem.n_oss, problem.n_comp);
    const ThresholdData data = prepare_threshold_data(rows, rule, problem.model.max_order,
                                                      problem.model.include, problem.trend_origin);
    {
        const int first =
            std::max({longest_lag + 1, problem.model.max_order + 1, problem.first_row()});
        std::vector<int> times;
        for (int t = first; t <= problem.n_oss; ++t) {
            times.push_back(t);
        }
        out.linear_model = regress_regime(rows, times, problem.model.max_order,
                                          problem.model.include, problem.trend_origin);
    }
    add_means(rows, out);

    if (fit != nullptr) {
        for (int r = 1; r <= fit->n_regime; ++r) {
            out.regimes.push_back(regime_regression(*fit, r));
        }
    } else {
        std::vector<std::vector<int>> times(at(rule.n_regime));
        for (int i = 0; i < data.count(); ++i) {
            const int r = regime_of(rule, thresholds, data.z1[at(i)], data.z2[at(i)]);
            if (r > 0) {
                times[at(r - 1)].push_back(data.times[at(i)]);
            }
        }
        for (int r = 1; r <= rule.n_regime; ++r) {
            out.regimes.push_back(regress_regime(rows, times[at(r - 1)],
                                                 rule.order(r, problem.model.max_order),
                                                 problem.model.include, problem.trend_origin));
        }
    }

    if (options.confidence > 0.0 && options.confidence < 1.0) {
        out.confidence = threshold_confidence(
            data, rule, thresholds, problem.model.least_sweep_regime(data.q), options.confidence);
    }
    if (options.replicates > 0) {
        const auto test =
            bootstrap_options<LinearityTestOptions>(problem, options, options.replicates);
        out.linearity = test_linearity(rows, rule, thresholds, problem.model.max_order, test);
    }
    out.model_regimes = rule.n_regime;
    if (options.regime_replicates > 0 && !out.stopped()) {
        int largest = 0;
        for (int r = 1; r <= rule.n_regime; ++r) {
            largest = std::max(largest, rule.order(r, problem.model.max_order));
        }
        const RegimeTestOptions test = regime_test_options(problem, options, largest);
        // The linearity test of a two-regime model on one variable is the
        // first of these tests: the same statistic from the same replicates,
        // when its regimes share one order (with orders of their own its
        // linear VAR is of the smaller, the tests' of the larger).
        const bool same = out.linearity && rule.variables == 1 && rule.n_regime == 2 &&
                          rule.linear_order(problem.model.max_order) == largest;
        out.regime_tests =
            test_regimes(rows, rule.component[0], rule.lag[0], problem.model.max_order, test,
                         same ? &*out.linearity : nullptr);
        if (rule.variables == 2 && !out.regime_tests->stopped) {
            RegimeTests& tests = *out.regime_tests;
            tests.tests.push_back(test_one_against_two_variables(rows, rule, thresholds,
                                                                 problem.model.max_order, test));
            if (options.stop != nullptr && options.stop->load()) {
                tests.stopped = true;
            } else if (tests.selected_regimes == 2 && tests.tests.back().rejected(tests.level)) {
                // The sequence on the first variable stopped at two regimes,
                // and the two-variable model beats every two-regime model it
                // nests. When the sequence went on to more regimes on one
                // variable, that model was never compared with the
                // two-variable one and stays the selection.
                tests.selected_regimes = rule.n_regime;
                tests.selected_threshold_variables = 2;
            }
        }
    }
    return out;
}

}  // namespace

std::vector<int> ModelInference::means_off_zero() const {
    std::vector<int> out;
    // Regimes with an intercept follow any mean.
    if (has_constant(include)) {
        return out;
    }
    for (size_t c = 0; c < means.size(); ++c) {
        if (std::fabs(means[c]) > 3.0 * mean_standard_errors[c]) {
            out.push_back(static_cast<int>(c) + 1);
        }
    }
    return out;
}

ModelInference infer_model(const ModelProblem& problem, const ModelStructure& structure,
                           const std::array<double, 3>& thresholds, double criterion,
                           const InferenceOptions& options) {
    return infer(problem, structure, thresholds, criterion, options, nullptr);
}

ModelInference infer_model(const ModelProblem& problem, const FittedModel& fit,
                           const InferenceOptions& options) {
    if (!fit.estimated() || fit.m != problem.model.max_order || fit.k != problem.n_comp ||
        fit.n_oss != problem.n_oss || fit.include != problem.model.include) {
        throw std::invalid_argument("infer_model: the fitted model is not the problem's");
    }
    return infer(problem, fit.given, fit.thresholds, fit.criterion, options, &fit);
}

}  // namespace velmora::inference
