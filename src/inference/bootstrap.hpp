#pragma once
// The residual bootstrap shared by the linearity test and the tests of the
// number of regimes.
//
// A null model (the linear VAR, or a threshold VAR with its thresholds
// fixed) is fitted by least squares, regime by regime, on the data's usable
// times. Its residuals, in time order and recentred to mean zero, form one
// pool of whole vectors (so the components' correlation is kept). A
// bootstrap series keeps the data's rows before the first usable time as
// start-up values; from there each row is the null model's fitted equation
// at the series' own lagged values (its regime from its own lagged threshold
// variable) plus a vector drawn with replacement from the pool.
//
// Replicate b draws from its own generator, seeded from the run's seed and b
// alone, so results do not depend on the number of threads.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "inference/lr_sweep.hpp"
#include "simulate/threshold_var.hpp"
#include "support/executor.hpp"

namespace velmora::inference {

// Random numbers of one replicate: splitmix64 from a seed derived from the
// run's seed and the replicate's index.
class ReplicateRandom {
  public:
    ReplicateRandom(std::uint64_t run_seed, std::uint64_t replicate);
    std::uint64_t next() noexcept;
    // Uniform on 0..n-1 (n >= 1), without modulo bias.
    std::uint64_t below(std::uint64_t n) noexcept;

  private:
    std::uint64_t state_;
};

// A seed of its own for each of several bootstraps drawn from one run seed.
std::uint64_t derived_seed(std::uint64_t run_seed, std::uint64_t stream);

struct BootstrapNull {
    bool ok = false;  // false: a regime could not be estimated
    int k = 0;
    int order = 0;
    int first_time = 0;        // the first row a bootstrap series generates
    ThresholdVarModel model;   // one regime for the linear VAR
    std::vector<double> pool;  // rows x k, recentred residuals in time order

    int pool_rows() const noexcept { return k == 0 ? 0 : static_cast<int>(pool.size()) / k; }
};

// The null model with rule's regimes at these thresholds (rule.n_regime == 1
// for the linear VAR, thresholds then ignored) on the data's times, each
// regime at its order in the rule.
BootstrapNull fit_bootstrap_null(const SeriesRows& series, const ThresholdData& data,
                                 const ThresholdRule& rule,
                                 const std::array<double, 3>& thresholds);

// The same with the first threshold variable's values at the data's times
// given: a one-variable null on data prepared for a two-variable model.
BootstrapNull fit_bootstrap_null(const SeriesRows& series, const ThresholdData& data,
                                 const ThresholdRule& rule, const std::array<double, 3>& thresholds,
                                 std::span<const double> z1);

// The linear VAR as the null model, at the linear order of the data's rule.
BootstrapNull fit_linear_null(const SeriesRows& series, const ThresholdData& data);

// `count` rows of a pool of pool_rows, uniformly with replacement.
std::vector<int> draw_rows(ReplicateRandom& random, int pool_rows, int count);

// The bootstrap series whose generated rows (first_time .. n, in order) take
// the pool rows `draws` (one per generated row).
void series_from_draws(const SeriesRows& data, const BootstrapNull& null,
                       std::span<const int> draws, SeriesRows& out);

// draw_rows then series_from_draws.
void bootstrap_series(const SeriesRows& data, const BootstrapNull& null, ReplicateRandom& random,
                      SeriesRows& out);

// How a bootstrap runs its replicates; none of it changes a result.
struct BootstrapControl {
    std::uint64_t seed = 0;  // replicate b draws from ReplicateRandom(seed, b)
    int threads = 1;
    TaskExecutor* executor = nullptr;  // null: this process's threads
    const std::atomic<bool>* stop = nullptr;
    // Replicates finished and their count.
    std::function<void(int done, int total)> progress;
};

struct BootstrapDraws {
    std::vector<double> statistics;  // per replicate; NaN when it failed or did not run
    std::vector<char> finished;      // 1 where the replicate ran to its end
    bool completed = false;          // every replicate ran and no stop was asked
};

// A replicate's statistic on its bootstrap series (not finite: failed).
using ReplicateStatistic = std::function<double(const SeriesRows& star)>;

// `replicates` bootstrap series drawn from null, each one's statistic.
BootstrapDraws run_bootstrap(const SeriesRows& series, const BootstrapNull& null, int replicates,
                             const BootstrapControl& control, const ReplicateStatistic& statistic);

struct BootstrapTally {
    int fitted = 0;       // replicates with a statistic
    int failed = 0;       // replicates without one
    int exceedances = 0;  // statistics >= the data's
};

// The replicates' counts against the data's statistic `observed`; when
// `finished` is given, only the replicates it marks count.
BootstrapTally tally_bootstrap(std::span<const double> statistics, double observed,
                               std::span<const char> finished = {});

// (1 + exceedances) / (replicates + 1): the share counts the data's own
// statistic, so a p-value is never 0 and is exact in size under the null.
double bootstrap_p_value(int exceedances, int replicates);

// Thresholds minimising ln det Sigma when a search from `start` finds no
// model every regime of which holds min_count times: the thresholds are
// searched again from the best feasible point of a grid of quantiles of the
// threshold variable(s). log_det stays infinite when nothing is feasible.
SweepOptimum minimise_or_search(const ThresholdData& data, const ThresholdRule& rule,
                                const std::array<double, 3>& start, int min_count);

// The best feasible point of that grid alone (infinite log_det when none).
SweepOptimum feasible_grid_start(const ThresholdData& data, const ThresholdRule& rule,
                                 int min_count);

}  // namespace velmora::inference
