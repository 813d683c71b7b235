#pragma once
// How many regimes? Sequential sup-LR tests of n against n + 1 regimes on one
// threshold variable at one lag (1 vs 2, 2 vs 3, 3 vs 4), each with a
// residual-bootstrap p-value, stopping at the first test that is not
// rejected.
//
// The models of 1..4 regimes are found by one procedure, used alike on the
// data and on every bootstrap series so that the bootstrap statistic is the
// same supremum as the data's: two regimes by a sweep of the threshold over
// every candidate (the global supremum); n + 1 regimes from the n-regime
// thresholds by a conditional search: the new threshold is swept through
// every gap between the fixed ones, and from the best split the thresholds
// are swept again one at a time, the others fixed, until none moves. When
// that finds no model every regime of which holds the least observations,
// the search starts again from the best feasible point of a quantile grid.
//
// LR(n, n+1) = T (ln det Sigma_n - ln det Sigma_{n+1}) over the T times of
// the threshold variable's lag and the order (threshold_sweep.hpp). Its
// bootstrap draws series from the n-regime model fitted at the data's
// thresholds (bootstrap.hpp). Test n draws from its own seed (the 1-vs-2
// test from the run's seed itself, as the linearity test does) and
// replicate b from its own stream, so p-values do not depend on threads.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "inference/bootstrap.hpp"
#include "inference/linearity_test.hpp"

namespace velmora::inference {

constexpr int kMostRegimes = 4;

struct RegimeTestOptions {
    int replicates = 199;
    double level = 0.05;
    std::uint64_t seed = 0;
    int threads = 1;
    TaskExecutor* executor = nullptr;  // spreads the replicates; null: the threads
    // The model tested: the deterministic terms of every model compared and
    // the least observations per regime (the orders are the tests' own); the
    // trend of time t is trend_origin + t.
    ModelDefinition model = sized_by_sweep({});
    int trend_origin = 0;
    // The tests run: null models of first_null .. last_null regimes (a
    // benchmark measures one test alone; the sequence is 1 .. 3).
    int first_null = 1;
    int last_null = kMostRegimes - 1;
    // Every regime of every model compared, and the linear VAR, at this order
    // (0: the order the tests are given), on the rows of that order: when
    // the reported model's regimes have orders of their own, the largest of
    // them, so that null and alternative stay nested and every model can
    // hold the reported one.
    int regime_order = 0;
    const std::atomic<bool>* stop = nullptr;
    // Replicates finished of the test under way, and their count.
    std::function<void(int done, int total)> progress;
};

struct RegimeTest {
    int null_regimes = 1;
    int alternative_regimes = 2;
    double lr = 0.0;
    double p_value = 0.0;  // NaN when no replicate gave a statistic
    int replicates = 0;    // asked
    int failed = 0;        // could not be fitted
    int exceedances = 0;   // bootstrap statistics >= lr
    std::array<double, 3> null_thresholds{};
    std::array<double, 3> alternative_thresholds{};
    std::vector<double> bootstrap;  // per replicate, NaN when failed
    // A test of a one-variable model against a two-variable one: both
    // structures as text with numbered components (empty otherwise), the
    // two-variable rule and which of its variables the null keeps (0 or 1;
    // -1 for the tests on one variable).
    std::string null_model;
    std::string alternative_model;
    ThresholdRule two_variable_rule;
    int null_variable = -1;

    bool rejected(double level) const noexcept { return p_value <= level; }
};

struct RegimeTests {
    int component = 1;
    int lag = 1;
    int observations = 0;  // T
    int regime_order = 0;  // RegimeTestOptions::regime_order
    double level = 0.05;
    std::vector<RegimeTest> tests;  // in order, up to the first not rejected
    int selected_regimes = 1;
    // 0 for the linear VAR; 1 for selected_regimes on component at lag; 2
    // when the test against the one-variable models selects the tested
    // two-variable model.
    int selected_threshold_variables = 0;
    bool stopped = false;  // options.stop ended it: no selection
    // Thresholds of the selected model (ascending, unused slots 1000000).
    std::array<double, 3> selected_thresholds{};
};

// The models of 1..up_to regimes found by the procedure above: log_det[n]
// and thresholds[n] (n = 1..up_to; infinite log_det when n regimes could not
// be fitted).
struct RegimeSequence {
    std::array<double, kMostRegimes + 1> log_det{};
    std::array<std::array<double, 3>, kMostRegimes + 1> thresholds{};
};

// data prepared with a one-variable rule (any regime count).
RegimeSequence fit_regime_sequence(const ThresholdData& data, int up_to, int min_count);

// The least ln det Sigma of three regimes on one variable over every pair of
// candidate thresholds (for each first threshold, the second swept above
// it): the exhaustive search that the conditional one stands in for, so a
// benchmark can say how often they differ. Infinite when nothing is
// feasible.
double three_regime_grid_log_det(const ThresholdData& data, int min_count);

// The n + 1 regime thresholds from the n regime ones (n - 1 ascending
// values) by the conditional search.
SweepOptimum add_threshold(const ThresholdData& data, int n, const std::array<double, 3>& fixed,
                           int min_count);

// The tests on component's value `lag` steps back at this order. linearity,
// when given, is the linearity test of a two-regime model on the same
// threshold variable and lag with the same seed: the 1-vs-2 entry takes its
// statistic and replicates instead of recomputing them.
RegimeTests test_regimes(const SeriesRows& series, int component, int lag, int order,
                         const RegimeTestOptions& options,
                         const LinearityTest* linearity = nullptr);

// The two-regime models on one threshold variable that a two-variable model
// nests (both for four quadrants; the variable its merged regimes keep
// apart for three), each searched over its threshold on the two-variable
// model's times; the better of them is the null, against the two-variable
// model with its thresholds searched again (from the data's ranks on a
// bootstrap series). Its bootstrap draws from that two-regime model.
RegimeTest test_one_against_two_variables(const SeriesRows& series, const ThresholdRule& rule,
                                          const std::array<double, 3>& thresholds, int order,
                                          const RegimeTestOptions& options);

// The structures of a test of a one-variable model against a two-variable
// one: "2 regimes on DAX at lag 1", "3 regimes on DAX at lag 1 and CAC at lag
// 5 (type_model 1)"; components by name when names holds one per component,
// else y1, y2, ...
std::string null_model_text(const RegimeTest& test, const std::vector<std::string>& names = {});
std::string alternative_model_text(const RegimeTest& test,
                                   const std::vector<std::string>& names = {});

// names[component - 1] when names holds it, else "y<component>".
std::string component_text(int component, const std::vector<std::string>& names);

// The best nested two-regime model of a two-variable rule on its data:
// which variable (0: the first, 1: the second), its threshold and ln det
// Sigma (infinite when none is feasible).
struct OneVariableFit {
    int variable = 0;
    double threshold = 0.0;
    double log_det = kInfeasible;
};
OneVariableFit best_nested_one_variable(const ThresholdData& data, const ThresholdRule& rule,
                                        int min_count);

}  // namespace velmora::inference
