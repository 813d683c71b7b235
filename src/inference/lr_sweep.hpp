#pragma once
// The threshold model's likelihood-ratio measure on fixed times, and its
// sweeps over the candidate thresholds, for the linearity test and the
// threshold confidence sets.
//
// Everything here measures a threshold model by ln det Sigma, where Sigma is
// the sum over regimes of the residual cross products E_r'E_r (not
// demeaned: the Gaussian maximum-likelihood covariance, with or without
// deterministic terms) divided by T, the number of times the model
// uses at its largest order: max(lags, order) + 1 .. n. Each regime is
// fitted at its own order (the rule's orders) on those times, so a model
// whose regimes have orders of their own is measured on the same times as
// every other. The linear VAR on the same times is the one-regime case. The cross products and the
// sweeps are the search's (ThresholdSweeper, search/threshold_sweep.hpp), asked for this measure
// instead of the search's criterion.

#include <array>
#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "inference/regression.hpp"
#include "model/problem.hpp"
#include "model/structure.hpp"
#include "numeric/arrays.hpp"
#include "search/threshold_sweep.hpp"

namespace velmora::inference {

// Which lagged components switch the regimes, and how: the estimators'
// membership rules. One variable: regime 1 + the number of thresholds below
// the value (values equal to a threshold fall below it), the unused slots of
// three holding 1000000, a regime beyond n_regime taking no observation.
// Two variables: the quadrants of (z1 > t1, z2 <= t2), merged by type_model.
struct ThresholdRule {
    int variables = 1;  // 1 or 2
    int n_regime = 2;
    int type_model = 0;
    std::array<int, 2> component{1, 1};  // 1-based
    std::array<int, 2> lag{1, 1};
    // Each regime's autoregressive order ([r-1]); 0 stands for the data's
    // order. The rows stay those of the data's order whatever these are, so
    // models of different orders are compared on the same times.
    std::array<int, 4> orders{};

    int threshold_count() const noexcept { return variables == 1 ? n_regime - 1 : 2; }
    // Regime r's order (1-based r) on data of order m.
    int order(int r, int m) const noexcept {
        const int p = orders[static_cast<std::size_t>(r - 1)];
        return p >= 1 && p <= m ? p : m;
    }
    // The order of the linear VAR every model of the rule nests: its regimes'
    // smallest (a regime of a higher order holds that VAR with its further
    // lags at zero; a larger linear order would not be nested).
    int linear_order(int m) const noexcept;
    // Every regime (of any count) at order p.
    ThresholdRule at_order(int p) const noexcept {
        ThresholdRule out = *this;
        out.orders = {p, p, p, p};
        return out;
    }
};

ThresholdRule rule_of(const ModelStructure& structure);  // the structure's orders

// Regime 1..n_regime of threshold values z1 (and z2), 0 when none applies.
int regime_of(const ThresholdRule& rule, const std::array<double, 3>& thresholds, double z1,
              double z2);

// The model's shape as a structure (thresholds left at their defaults).
ModelStructure shape_of(const ThresholdRule& rule);

// The rule's threshold variables and orders; its thresholds are the caller's.
ThresholdRule rule_of(const ModelStructure& structure, const std::array<int, 4>& orders);

// A series as the search's sweeper holds it. The sweeper keeps scratch: one
// thread at a time.
struct SweepSeries {
    double_matrix serie;
    ModelProblem problem;
    std::unique_ptr<ThresholdSweeper> sweeper;
};

// Per usable time: regressors (q: the deterministic terms, then the lags),
// responses (k) and threshold variables.
struct ThresholdData {
    int order = 0;
    int k = 0;
    Include include = Include::none;
    int trend_origin = 0;
    int q = 0;
    int first_time = 0;      // max(lags, order) + 1
    std::vector<int> times;  // ascending; a time no regime can take is left out
    std::vector<double> x;   // times.size() x q
    std::vector<double> y;   // times.size() x k
    std::vector<double> z1, z2;
    ModelStructure shape;                // the rule's
    std::shared_ptr<SweepSeries> sweep;  // the series, for the sweeps

    int count() const noexcept { return static_cast<int>(times.size()); }
};

ThresholdData prepare_threshold_data(const SeriesRows& series, const ThresholdRule& rule, int order,
                                     Include include = Include::none, int trend_origin = 0);

constexpr double kInfeasible = kNotFeasible;

// ln det Sigma of the model with these thresholds; every regime must hold at
// least min_count observations unless min_count is 0 (then empty regimes are
// allowed).
double log_det_at(const ThresholdData& data, const ThresholdRule& rule,
                  const std::array<double, 3>& thresholds, int min_count);
// The same for the linear VAR on the data's times, at the linear order of
// the rule the data was prepared with (ThresholdRule::linear_order).
double log_det_linear(const ThresholdData& data);
int linear_order(const ThresholdData& data);

using SweepPoint = LogDetPoint;

// Threshold j (0-based) over every candidate value, the others fixed: the
// values of its threshold variable at the usable times, restricted for one
// variable to lie between the neighbouring thresholds. Points in ascending
// threshold order; a candidate leaving a regime with fewer than min_count
// observations, or singular, is left out.
std::vector<SweepPoint> sweep_threshold(const ThresholdData& data, const ThresholdRule& rule,
                                        const std::array<double, 3>& thresholds, int j,
                                        int min_count);

// The point of a sweep whose split equals that of value (the largest
// candidate not above it); -1 when none.
int point_of(std::span<const SweepPoint> points, double value);

struct SweepOptimum {
    std::array<double, 3> thresholds{};
    double log_det = kInfeasible;  // recomputed exactly (log_det_at) at the thresholds
};

// The thresholds minimising ln det Sigma: each threshold in turn swept over
// all its candidates with the others fixed, until no sweep improves; with a
// single threshold one sweep finds the global minimum.
SweepOptimum minimise_thresholds(const ThresholdData& data, const ThresholdRule& rule,
                                 std::array<double, 3> start, int min_count);

// How many usable times have each threshold variable at or below its
// threshold, and back: the threshold with the same rank on other data.
std::array<int, 3> threshold_ranks(const ThresholdData& data, const ThresholdRule& rule,
                                   const std::array<double, 3>& thresholds);
std::array<double, 3> thresholds_at_ranks(const ThresholdData& data, const ThresholdRule& rule,
                                          const std::array<int, 3>& ranks);

}  // namespace velmora::inference
