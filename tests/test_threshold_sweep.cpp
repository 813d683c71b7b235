// The threshold sweep against the estimator: its screened criterion is the
// estimator's criterion up to rounding for every split, its choice is the
// exhaustive exact choice, and min_oss_reg holds for what it offers.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <vector>

#include "model/estimate.hpp"
#include "model_test_helpers.hpp"
#include "search/threshold_sweep.hpp"

namespace velmora {
namespace {

struct Case {
    int n, k, m, min_oss;
};

ModelProblem make_problem(const double_matrix& s, const Case& c) {
    ModelProblem p;
    p.serie_matrix = &s;
    p.n_oss = c.n;
    p.n_comp = c.k;
    p.model.max_order = c.m;
    p.model.min_obs_per_regime = c.min_oss;
    return p;
}

ModelStructure one(int comp, int lag, std::vector<int> pos) {
    ModelStructure s;
    s.threshold_variables = 1;
    s.one.which_serie = comp;
    s.one.threshold_lag = lag;
    s.one.n_regime = static_cast<int>(pos.size()) + 1;
    for (std::size_t i = 0; i < pos.size(); ++i) {
        s.one.pos_threshold[i] = pos[i];
    }
    return s;
}

ModelStructure two(int c1, int d1, int p1, int c2, int d2, int p2, int type) {
    ModelStructure s;
    s.threshold_variables = 2;
    s.two = {c1, c2, p1, p2, type == 0 ? 4 : 3, type, d1, d2};
    return s;
}

int& position(ModelStructure& s, int which) {
    if (s.threshold_variables == 1) {
        return s.one.pos_threshold[static_cast<std::size_t>(which)];
    }
    return which == 0 ? s.two.pos_thres_1 : s.two.pos_thres_2;
}

// Exact criterion of every position 1..n-1 of threshold `which`, the best
// first by (criterion, position); infeasible positions left out.
std::multimap<double, int> exhaustive(const ModelProblem& problem, ModelStructure s, int which) {
    EstimationWorkspace ws(problem);
    std::multimap<double, int> out;
    for (int pos = 1; pos < problem.n_oss; ++pos) {
        position(s, which) = pos;
        const CriterionResult result = estimate_criterion(problem, ws, s);
        const double aic = result.criterion;
        if (result.estimated()) {
            out.emplace(aic, pos);
        }
    }
    return out;
}

// Screened criterion equals the estimator's for every candidate the sweep
// scores, for layouts with and without the lower orders' leftover rows (lag
// below or above m), one and two threshold variables, 2 to 4 regimes.
TEST(ThresholdSweep, ScreenedCriterionIsTheEstimatorsForEverySplit) {
    const std::vector<std::pair<Case, ModelStructure>> cases = {
        {{120, 2, 2, 12}, one(1, 1, {40})},          // lag 1 < m: one leftover row
        {{240, 3, 3, 12}, one(2, 1, {40, 70})},      // two leftover rows, 3 regimes
        {{200, 2, 2, 10}, one(2, 4, {40, 60, 90})},  // lag >= m: none
        {{120, 3, 1, 10}, one(3, 2, {10})},          // m = 1
        {{150, 3, 2, 10}, two(1, 1, 30, 3, 2, 60, 0)},
        {{150, 3, 3, 10}, two(2, 2, 30, 1, 1, 90, 3)},
        {{150, 2, 2, 10}, two(1, 3, 30, 2, 3, 60, 1)},
    };
    std::uint64_t seed = 11;
    for (const auto& [c, given] : cases) {
        SCOPED_TRACE(::testing::Message() << "case of seed " << seed);
        const double_matrix series = testing::random_series(c.n, c.k, seed++);
        const ModelProblem problem = make_problem(series, c);
        ThresholdSweeper sweeper(problem);
        // Quantile starts leave every regime a fair share.
        const ModelStructure start = sweeper.with_quantile_thresholds(given);
        EstimationWorkspace ws(problem);
        for (int which = 0; which < ThresholdSweeper::threshold_count(start); ++which) {
            const auto all = sweeper.sweep(start, which, c.n);
            ASSERT_FALSE(all.empty()) << which;
            for (const SweepCandidate& cand : all) {
                ModelStructure s = start;
                position(s, which) = cand.position;
                const CriterionResult result = estimate_criterion(problem, ws, s);
                const double aic = result.criterion;
                ASSERT_EQ(result.status, EstimateStatus::estimated) << cand.position;
                EXPECT_NEAR(cand.criterion, aic, 1e-9) << "position " << cand.position;
                EXPECT_NEAR(sweeper.screened(s), aic, 1e-9) << "position " << cand.position;
            }
            // Every split the estimator can estimate is offered, once.
            const auto exact = exhaustive(problem, start, which);
            std::map<double, int> distinct;
            for (const auto& [aic, pos] : exact) {
                distinct.emplace(aic, pos);
            }
            EXPECT_GE(all.size() + 2, distinct.size());
        }
    }
}

TEST(ThresholdSweep, ConfirmedChoiceIsTheExhaustiveExactChoice) {
    const Case c{200, 3, 2, 20};
    for (std::uint64_t seed : {3u, 4u, 5u}) {
        const double_matrix series = testing::random_series(c.n, c.k, seed);
        const ModelProblem problem = make_problem(series, c);
        ThresholdSweeper sweeper(problem);
        for (const ModelStructure& start :
             {one(2, 1, {100}), one(1, 3, {100}), two(1, 1, 50, 2, 1, 60, 2)}) {
            const auto exact = exhaustive(problem, start, 0);
            ASSERT_FALSE(exact.empty());
            // Sweep the first threshold only: confirm polishes every
            // threshold, so compare the one-threshold, two-regime shapes.
            if (start.threshold_variables == 1) {
                const ThresholdFit fit = sweeper.fit_thresholds(start, false);
                ASSERT_TRUE(fit.estimable);
                EXPECT_EQ(fit.criterion, exact.begin()->first);
            } else {
                const auto top = sweeper.sweep(start, 0, 3);
                ASSERT_FALSE(top.empty());
                ModelStructure s = start;
                position(s, 0) = top[0].position;
                EstimationWorkspace ws(problem);
                EXPECT_EQ(estimate_criterion(problem, ws, s).criterion, exact.begin()->first);
            }
        }
    }
}

TEST(ThresholdSweep, OffersOnlySplitsWithEnoughObservationsPerRegime) {
    const Case c{150, 2, 2, 40};
    const double_matrix series = testing::random_series(c.n, c.k, 9);
    const ModelProblem problem = make_problem(series, c);
    ThresholdSweeper sweeper(problem);
    const ModelStructure start = one(1, 1, {20, 100});
    for (int which = 0; which < 2; ++which) {
        for (const SweepCandidate& cand : sweeper.sweep(start, which, c.n)) {
            ModelStructure s = start;
            position(s, which) = cand.position;
            EstimationWorkspace ws(problem);
            const FittedModel summary = estimate(problem, ws, s);
            for (int r = 1; r <= 3; ++r) {
                EXPECT_GE(summary.observations(r), c.min_oss);
            }
        }
    }
    // min_oss_reg above half the series leaves no two-regime split.
    ModelProblem strict = problem;
    strict.model.min_obs_per_regime = 80;
    ThresholdSweeper none(strict);
    EXPECT_TRUE(none.sweep(one(1, 1, {50}), 0, 5).empty());
    const ThresholdFit fit = none.fit_thresholds(one(1, 1, {50}));
    EXPECT_FALSE(fit.estimable);
    EXPECT_EQ(fit.criterion, 0.0);
}

}  // namespace
}  // namespace velmora
