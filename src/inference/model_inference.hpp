#pragma once
// Everything Velmora says about a reported threshold model beyond its point
// estimates: the linear benchmark, standard errors per regime, the
// bootstrap linearity test and the confidence set of the thresholds. A value
// that the summary, the JSON and the desktop program read.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "inference/linear_var.hpp"
#include "inference/linearity_test.hpp"
#include "inference/regime_tests.hpp"
#include "inference/regression.hpp"
#include "inference/threshold_confidence.hpp"
#include "model/fitted_model.hpp"
#include "model/problem.hpp"
#include "model/structure.hpp"

namespace velmora::inference {

struct InferenceOptions {
    int replicates = 0;                // bootstrap series for the linearity test; 0: no test
    double confidence = 0.95;          // level of the threshold confidence set
    std::uint64_t seed = 0;            // the bootstrap's seed
    int threads = 1;                   // bootstrap replicates in parallel; no effect on the result
    TaskExecutor* executor = nullptr;  // spreads the replicates; null: the threads
    // Bootstrap series for each test of the number of regimes; 0: no tests.
    int regime_replicates = 0;
    double test_level = 0.05;  // a test is rejected when its p-value is at most this
    // The threshold variable (1-based component) and lag of the tests of
    // the number of regimes when the model is the linear VAR, which has
    // none of its own: the search's best. 0: the tests are skipped.
    int linear_test_component = 0;
    int linear_test_lag = 0;
    // Stops the bootstrap between replicates (ModelInference::stopped).
    const std::atomic<bool>* stop = nullptr;
    // Bootstrap replicates finished and their count, from the calling thread.
    std::function<void(int done, int total)> progress;
};

struct ModelInference {
    int order = 0;
    int k = 0;
    int threshold_variables = 1;         // 0: the model is the linear VAR
    Include include = Include::none;     // deterministic terms of every model compared
    double criterion = 0.0;              // the threshold model's, as the estimators give it
    std::array<double, 3> thresholds{};  // the model's, as given to infer_model
    LinearCriterion linear;
    // The linear VAR at the largest order on the threshold model's rows at
    // that order (after its longest threshold lag and its order, and from
    // the criterion's first row): the benchmark's own regression.
    RegimeRegression linear_model;
    // Regime r at the largest order in [r-1], over the times the estimators
    // use for it.
    std::vector<RegimeRegression> regimes;
    std::optional<LinearityTest> linearity;
    std::optional<ThresholdConfidence> confidence;
    std::optional<RegimeTests> regime_tests;
    int model_regimes = 0;  // the tested model's
    // Steps asked for that do not apply to the model (a linear VAR has no
    // threshold to test or to set bounds on), one sentence each.
    std::vector<std::string> skipped;
    // Per component over the series' rows: the mean and its standard error
    // (standard deviation / sqrt(n)). The regimes have no intercept, so a
    // mean far from zero is a sign the model misses one.
    std::vector<double> means;
    std::vector<double> mean_standard_errors;
    // Components (1-based) whose mean is more than three standard errors
    // from zero; none when the regimes have an intercept.
    std::vector<int> means_off_zero() const;

    // Smaller is better: the linear VAR is as good or better when its
    // criterion is not above the threshold model's.
    // The bootstrap was stopped before its end: the test is incomplete.
    bool stopped() const noexcept {
        return (linearity && linearity->stopped) || (regime_tests && regime_tests->stopped);
    }

    bool linear_as_good() const noexcept {
        return linear.status == EstimateStatus::estimated && linear.criterion <= criterion;
    }
};

// thresholds and criterion as the estimate of structure gave them (for one
// threshold variable the ascending thresholds, unused slots 1000000; for two,
// t1 and t2). The regimes' regressions are made on the times those
// thresholds give.
ModelInference infer_model(const ModelProblem& problem, const ModelStructure& structure,
                           const std::array<double, 3>& thresholds, double criterion,
                           const InferenceOptions& options);
// The same for a model estimated on the problem's series: its regimes'
// standard errors come from its own regressions, nothing is estimated again.
// Throws std::invalid_argument for a model not estimated or of another
// problem.
ModelInference infer_model(const ModelProblem& problem, const FittedModel& fit,
                           const InferenceOptions& options);

}  // namespace velmora::inference
