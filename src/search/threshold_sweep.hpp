#pragma once
// Threshold sweeps: the criterion of a threshold model for every distinct
// split of one threshold, the rest of the structure fixed, at a small fraction
// of the cost of estimating each candidate.
//
// The times are visited in the order of the swept threshold variable, so each
// move of the threshold carries a handful of times from one regime to
// another: a rank-one update of those regimes' cross products of
// (y_t, y_t-1, ..., y_t-m). From the cross products the order-m residual
// cross products and sums of a regime follow in closed form
// (Y'Y - Y'Z (Z'Z)^-1 Z'Y), and with the few residual rows that lower orders
// leave behind and the zero rows of the lagged start, the overall residual
// covariance and so the criterion are exactly the estimator's algebra. They
// differ from it only by rounding, so a sweep screens: whatever a caller
// accepts must be confirmed with the estimator (exact(), confirm()).
//
// A sweeper holds per-thread scratch for one problem; use one per thread. The
// problem may hold any series (a bootstrap series, a simulated one); the
// sweeper keeps a pointer to it and must not outlive it.

#include <array>
#include <limits>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "model/estimate.hpp"
#include "model/problem.hpp"
#include "model/structure.hpp"
#include "model/workspace.hpp"

namespace velmora {

// A threshold value of a likelihood-ratio sweep and the ln det of its split.
struct LogDetPoint {
    double threshold = 0.0;
    double log_det = 0.0;
};

// One screened candidate of a sweep.
struct SweepCandidate {
    int position = 0;  // threshold position code (1..n_oss-1)
    double threshold = 0.0;
    double criterion = 0.0;  // screened criterion
    int rank = 0;            // index of the split among the distinct splits, ascending
};

// Thresholds chosen for a structure, with the estimator's own criterion.
struct ThresholdFit {
    ModelStructure structure;
    bool estimable = false;
    double criterion = 0.0;  // exact (estimate_criterion); 0.0 when not estimable
    double screened = std::numeric_limits<double>::infinity();
    long long candidates = 0;  // splits screened
    int exact_estimates = 0;   // estimator calls made
};

constexpr double kNotFeasible = std::numeric_limits<double>::infinity();

class ThresholdSweeper {
  public:
    explicit ThresholdSweeper(const ModelProblem& problem);
    ~ThresholdSweeper();
    ThresholdSweeper(const ThresholdSweeper&) = delete;
    ThresholdSweeper& operator=(const ThresholdSweeper&) = delete;

    const ModelProblem& problem() const noexcept { return problem_; }

    // Number of thresholds a structure has: n_regime - 1 with one threshold
    // variable, 2 with two.
    static int threshold_count(const ModelStructure& s);

    // Every distinct split of threshold `which` (the index into
    // one.pos_threshold, or 0 for pos_thres_1 and 1 for pos_thres_2), with the
    // other thresholds fixed; candidates are the values of the threshold
    // variable at positions 1..n_oss-1. Returns the `keep` best candidates
    // whose every regime holds the least observations per regime, best first
    // (fewer, or none, when fewer are feasible). With stride > 1 only every
    // stride-th distinct split is scored (a coarse screen). The span stays
    // valid until the next call.
    std::span<const SweepCandidate> sweep(const ModelStructure& s, int which, int keep = 1,
                                          int stride = 1);

    // Screened criterion of one structure; kNotFeasible when a regime is too
    // small or its regression singular.
    double screened(const ModelStructure& s);

    // The estimator's criterion; kNotFeasible when not estimable.
    // With model, the whole fitted model is kept there.
    double exact(const ModelStructure& s, FittedModel* model = nullptr);

    // Coordinate descent on the screened criterion from the structure's
    // positions: sweeps each threshold in turn, moving it to its best split,
    // until a round improves nothing. Returns the screened criterion. With
    // stride > 1 each sweep scores every stride-th split only; with stride 1
    // a sweep scores every 12th split, then every split near the three best.
    // A coarse descent (stride > 1) takes each sweep's best split even when
    // the structure's own was better: it is for screening.
    double descend(ModelStructure& s, int max_rounds = 8, int stride = 1);

    // Exact polishing: each threshold in turn among its `keep` best screened
    // splits, by the estimator's criterion, then once more while that helps.
    ThresholdFit confirm(const ModelStructure& s, int keep = 3);

    // The thresholds that minimise the criterion for the structure's threshold
    // variables, lags and regime count ("the supremum" of a likelihood-ratio
    // statistic over the thresholds): descend from the structure's positions,
    // or from quantile starts when from_quantiles, then confirm. Exhaustive
    // (global) for one threshold variable with two regimes; a coordinate-wise
    // minimum otherwise.
    ThresholdFit fit_thresholds(const ModelStructure& shape, bool from_quantiles = true);

    // The structure with its thresholds at evenly spaced quantiles of the
    // threshold variable(s): r/n_regime for one variable, medians for two.
    ModelStructure with_quantile_thresholds(ModelStructure s) const;

    // --- The measure of likelihood-ratio statistics ---
    // ln det Sigma, where Sigma is the sum over regimes of the order-m
    // residual cross products (no intercept, not demeaned: the Gaussian
    // maximum-likelihood covariance) divided by T, the times the model uses at
    // its largest order: max(lags, m) + 1 .. n_oss, less those a
    // one-variable model cannot place (values above the unused slots). The
    // thresholds are values: with one variable the n_regime - 1 ascending
    // ones and the unused slots as the estimators hold them (1000000); with
    // two, t1 and t2. The criterion the search screens is a different
    // number (Velmora's aic_global: its lower orders' leftover rows, zero
    // rows, demeaning and penalty); these are computed exactly, the cross
    // products accumulated in time order and moved in the order of the swept
    // variable. kNotFeasible when a regression or Sigma is singular.

    // Each regime is fitted at its own order (shape.orders, 0 standing for
    // m) on those times.
    // The structure's shape with these thresholds; every regime must hold
    // at least min_count times unless min_count is 0 (empty regimes then add
    // nothing, and T counts the times placed).
    double log_det_sigma(const ModelStructure& shape, const std::array<double, 3>& thresholds,
                         int min_count);
    // The linear VAR (one regime) of this order (0: m) on the same times as
    // the shape's models.
    double log_det_sigma_linear(const ModelStructure& shape, int order = 0);
    // Threshold `which` over every distinct value of its threshold variable
    // at the model's times (for one variable between its neighbours), the
    // others fixed: ascending, leaving out splits with a regime under
    // min_count times and singular ones. T is every time the shape places.
    std::vector<LogDetPoint> log_det_sweep(const ModelStructure& shape,
                                           const std::array<double, 3>& thresholds, int which,
                                           int min_count);

    long long candidates_screened() const noexcept { return candidates_; }
    long long exact_estimates() const noexcept { return exact_estimates_; }

  private:
    struct Scratch;
    // sweep, scoring also every split whose rank lies in one of the windows
    // (inclusive rank ranges).
    std::span<const SweepCandidate> sweep_windows(const ModelStructure& s, int which, int keep,
                                                  int stride,
                                                  std::span<const std::pair<int, int>> windows);
    const ModelProblem& problem_;
    EstimationWorkspace workspace_;
    std::unique_ptr<Scratch> scratch_;
    long long candidates_ = 0;
    long long exact_estimates_ = 0;
};

}  // namespace velmora
