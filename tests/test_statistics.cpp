#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/engine_state.hpp"
#include "engine_test_helpers.hpp"
#include "support/statistics.hpp"

namespace velmora {
namespace {

// Records what the statistics pass hands to the application.
class CountingHooks : public testing::FakeHooks {
  public:
    void app_after_statistics(const individual* population, int popsize) override {
        ++calls;
        last_population = population;
        last_popsize = popsize;
        if (population != nullptr && popsize > 0) {
            first_scaled = population[0].scaled_fitness;
        }
    }
    int calls = 0;
    const individual* last_population = nullptr;
    int last_popsize = 0;
    double first_scaled = -1.0;
};

class StatisticsTest : public ::testing::Test {
  protected:
    StatisticsTest() : state(params, hooks, rng, log, console) {
        // No scaling at all unless a test asks for one.
        testing::switch_scaling_off(params);
    }

    std::vector<individual> population(const std::vector<double>& raw) {
        std::vector<individual> pop(raw.size());
        for (std::size_t i = 0; i < raw.size(); ++i) {
            pop[i].raw_fitness = raw[i];
        }
        params.popsize = static_cast<int>(raw.size());
        return pop;
    }

    EngineParams params;
    CountingHooks hooks;
    RandomGenerator rng;
    TextFile log;
    NullConsole console;
    EngineState state;
};

TEST_F(StatisticsTest, NegativeFitnessIsRaisedInPlaceAndFirstMaximumWins) {
    auto pop = population({-3.0, 2.0, 2.0});
    population_statistics(state, pop.data());

    EXPECT_EQ(pop[0].raw_fitness, 0.0);
    EXPECT_EQ(state.stats.raw_min, 0.0);
    EXPECT_EQ(state.stats.fitness_max, 2.0);
    EXPECT_EQ(state.stats.best_index, 1);
    EXPECT_EQ(state.stats.fitness_sum, 4.0);
    EXPECT_DOUBLE_EQ(state.stats.raw_avg, 4.0 / 3.0);
    // Without scaling the scaled values are the raw ones.
    EXPECT_EQ(pop[0].scaled_fitness, 0.0);
    EXPECT_EQ(pop[2].scaled_fitness, 2.0);
    EXPECT_EQ(state.stats.scaled_min, 0.0);
    EXPECT_DOUBLE_EQ(state.stats.scaled_avg, 4.0 / 3.0);
}

TEST_F(StatisticsTest, MinimumAndBestTrackTheWholePopulation) {
    auto pop = population({3.0, 1.0, 7.0, 0.5, 7.0, 2.0});
    population_statistics(state, pop.data());
    EXPECT_EQ(state.stats.raw_min, 0.5);
    EXPECT_EQ(state.stats.fitness_max, 7.0);
    EXPECT_EQ(state.stats.best_index, 2);
    EXPECT_EQ(state.stats.fitness_sum, 20.5);
}

TEST_F(StatisticsTest, AllZeroFitnessGivesZeroStatistics) {
    params.scaling.method = ScalingMethod::sigma_truncation;  // needs the deviation
    params.scaling.sigma_trunc = 1.0f;
    state.stats.fitness_sigma = 9.0f;
    auto pop = population({0.0, 0.0, 0.0, 0.0});
    population_statistics(state, pop.data());
    EXPECT_EQ(state.stats.raw_min, 0.0);
    EXPECT_EQ(state.stats.fitness_max, 0.0);
    EXPECT_EQ(state.stats.raw_avg, 0.0);
    EXPECT_EQ(state.stats.best_index, 0);
    EXPECT_EQ(state.stats.fitness_sigma, 0.0f);
}

TEST_F(StatisticsTest, DeviationIsComputedOnlyWhenAMethodNeedsIt) {
    auto pop = population({1.0, 3.0});
    state.stats.fitness_sigma = 42.0f;
    population_statistics(state, pop.data());
    EXPECT_EQ(state.stats.fitness_sigma, 42.0f);

    params.scaling.method = ScalingMethod::sigma_truncation;
    params.scaling.sigma_trunc = 2.0f;
    population_statistics(state, pop.data());
    EXPECT_EQ(state.stats.fitness_sigma, 1.0f);
}

TEST_F(StatisticsTest, WindowHistoryGetsOneEntryPerCallEvenWithoutWindowScaling) {
    auto pop = population({4.0, 6.0});
    state.stats.window_newest = 23;
    population_statistics(state, pop.data());
    EXPECT_EQ(state.stats.window_min[3], 4.0);
    // The caller advances the index, not the pass.
    EXPECT_EQ(state.stats.window_newest, 23);
}

TEST_F(StatisticsTest, AfterStatisticsHookSeesTheFinalScaledValues) {
    params.scaling.method = ScalingMethod::boltzmann;
    params.scaling.beta = 0.0;  // uniform
    auto pop = population({1.0, 2.0, 3.0, 4.0});
    population_statistics(state, pop.data());
    EXPECT_EQ(hooks.calls, 1);
    EXPECT_EQ(hooks.last_population, pop.data());
    EXPECT_EQ(hooks.last_popsize, 4);
    EXPECT_EQ(hooks.first_scaled, 0.25);
}

TEST_F(StatisticsTest, AutomaticControlDerivesBetaFromTheSpread) {
    params.scaling.method = ScalingMethod::autocontrol;
    params.scaling.Beta_s_tilde = 1.5f;
    auto pop = population({1.0, 3.0, 1.0, 3.0});
    population_statistics(state, pop.data());
    EXPECT_EQ(state.stats.fitness_sigma, 1.0f);
    EXPECT_EQ(state.stats.autocontrol_beta, 1.5);
    EXPECT_TRUE(state.stats.autocontrol_beta_set);
    // Boltzmann with beta 1.5 around the mean 2.
    const double hi = std::exp(1.5);
    const double lo = std::exp(-1.5);
    EXPECT_DOUBLE_EQ(pop[1].scaled_fitness, hi / (2 * hi + 2 * lo));
    EXPECT_DOUBLE_EQ(state.stats.fitness_sum, 1.0);
}

TEST_F(StatisticsTest, AutomaticControlWithoutSpreadStartsUniform) {
    params.scaling.method = ScalingMethod::autocontrol;
    params.scaling.Beta_s_tilde = 1.4f;
    params.scaling.beta = 0.7;  // the entered value is no constant of a population
    auto pop = population({0.25, 0.25, 0.25, 0.25});
    population_statistics(state, pop.data());
    EXPECT_EQ(state.stats.fitness_sigma, 0.0f);
    EXPECT_EQ(state.stats.autocontrol_beta, 0.0);
    for (const individual& ind : pop) {
        EXPECT_TRUE(std::isfinite(ind.scaled_fitness));
        EXPECT_EQ(ind.scaled_fitness, 0.25);
    }
    EXPECT_TRUE(std::isfinite(state.stats.fitness_max));
    EXPECT_TRUE(std::isfinite(state.stats.scaled_min));
    EXPECT_EQ(state.stats.scaled_avg, 0.25);
}

TEST_F(StatisticsTest, AutomaticControlWithoutSpreadKeepsThePreviousBeta) {
    params.scaling.method = ScalingMethod::autocontrol;
    params.scaling.Beta_s_tilde = 2.0f;
    auto spread = population({1.0, 3.0});
    population_statistics(state, spread.data());
    ASSERT_EQ(state.stats.autocontrol_beta, 2.0);

    auto flat = population({0.5, 0.5});
    population_statistics(state, flat.data());
    EXPECT_EQ(state.stats.autocontrol_beta, 2.0);
    EXPECT_EQ(flat[0].scaled_fitness, 0.5);
    EXPECT_EQ(flat[1].scaled_fitness, 0.5);
    EXPECT_TRUE(std::isfinite(state.stats.scaled_min));
}

}  // namespace
}  // namespace velmora
