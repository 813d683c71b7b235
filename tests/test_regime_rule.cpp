// The one regime rule against the estimators: for every time a fitted model
// places, the rule built from its structure and thresholds names the same
// regime, for one threshold variable (2 to 4 regimes) and for two (every
// type of model).

#include <gtest/gtest.h>

#include <cstddef>

#include "model/estimate.hpp"
#include "model/regime_rule.hpp"
#include "model_test_helpers.hpp"

namespace velmora {
namespace {

using testing::ProblemFixture;
using testing::random_series;

// Every time the estimator placed at order m, and how many disagree.
int disagreements(const ModelProblem& problem, const FittedModel& model) {
    const RegimeRule rule = regime_rule(model.used, model.thresholds);
    const double_matrix& y = *problem.serie_matrix;
    int placed = 0;
    int wrong = 0;
    for (int t = problem.model.max_order + 1; t <= problem.n_oss; ++t) {
        const int estimated = model.regime_of_time[static_cast<std::size_t>(t - 1)];
        if (estimated == 0 || t <= rule.max_lag()) {
            continue;
        }
        ++placed;
        const int r = rule.regime([&](int component, int lag) { return y[t - lag][component]; });
        wrong += r != estimated ? 1 : 0;
    }
    EXPECT_GT(placed, problem.n_oss / 2);
    return wrong;
}

// The position (1..n-1) of the median value of component c.
int median_position(const double_matrix& y, int n, int c) {
    int best = 1;
    int best_gap = n;
    for (int t = 1; t < n; ++t) {
        int below = 0;
        for (int u = 1; u < n; ++u) {
            below += y[u][c] < y[t][c] ? 1 : 0;
        }
        const int gap = below > n / 2 ? below - n / 2 : n / 2 - below;
        if (gap < best_gap) {
            best = t;
            best_gap = gap;
        }
    }
    return best;
}

TEST(RegimeRule, OneThresholdVariableNamesTheEstimatorsRegimes) {
    ProblemFixture fx(random_series(300, 3, 17), 300, 3, 2, 10);
    EstimationWorkspace ws(fx.problem);
    for (int regimes = 2; regimes <= 4; ++regimes) {
        OneThresholdStructure s;
        s.which_serie = 3;
        s.n_regime = regimes;
        s.threshold_lag = regimes;
        // Positions listed out of order: the estimator sorts the thresholds.
        s.pos_threshold = {200, 40, 120};
        const FittedModel model = estimate(fx.problem, ws, s);
        ASSERT_TRUE(model.estimated()) << regimes;
        EXPECT_EQ(disagreements(fx.problem, model), 0) << regimes << " regimes";
    }
}

TEST(RegimeRule, TwoThresholdVariablesNameTheEstimatorsRegimesForEveryType) {
    ProblemFixture fx(random_series(300, 3, 23), 300, 3, 1, 10);
    EstimationWorkspace ws(fx.problem);
    for (int type = 0; type <= 3; ++type) {
        TwoThresholdStructure s;
        s.which_serie1 = 2;
        s.which_serie2 = 3;
        s.pos_thres_1 = median_position(fx.serie, 300, 2);
        s.pos_thres_2 = median_position(fx.serie, 300, 3);
        s.type_model = type;
        s.n_regime = type == 0 ? 4 : 3;
        s.Ritardo1 = 1;
        s.Ritardo2 = 3;
        const FittedModel model = estimate(fx.problem, ws, s);
        ASSERT_TRUE(model.estimated()) << type;
        EXPECT_EQ(disagreements(fx.problem, model), 0) << "type of model " << type;
    }
}

}  // namespace
}  // namespace velmora
