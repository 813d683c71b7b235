#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/engine_state.hpp"
#include "engine_test_helpers.hpp"
#include "support/errors.hpp"
#include "support/scaling.hpp"
#include "support/statistics.hpp"

namespace velmora {
namespace {

// Each test chooses one scaling method and its constant, as the run
// configuration does.
class ScalingTest : public ::testing::Test {
  protected:
    ScalingTest() : state(params, hooks, rng, log, console) {
        testing::switch_scaling_off(params);
        params.scaling.scalemult = 0.0f;
    }

    void use(ScalingMethod method) { params.scaling.method = method; }

    void set_raw(const std::vector<double>& raw) {
        pop.assign(raw.size(), individual{});
        for (std::size_t i = 0; i < raw.size(); ++i) {
            pop[i].raw_fitness = raw[i];
        }
        params.popsize = static_cast<int>(raw.size());
    }

    void run_statistics(const std::vector<double>& raw) {
        set_raw(raw);
        population_statistics(state, pop.data());
    }

    std::vector<double> scaled() const {
        std::vector<double> out;
        for (const individual& ind : pop) {
            out.push_back(ind.scaled_fitness);
        }
        return out;
    }

    EngineParams params;
    testing::FakeHooks hooks;
    RandomGenerator rng;
    TextFile log;
    NullConsole console;
    EngineState state;
    std::vector<individual> pop;
};

// --- linear ---

TEST_F(ScalingTest, LinearStretchesTheBestToTheWantedMultipleOfTheMean) {
    use(ScalingMethod::linear);
    params.scaling.scalemult = 1.5f;
    run_statistics({2.0, 3.0, 4.0});
    EXPECT_EQ(scaled(), (std::vector<double>{1.5, 3.0, 4.5}));
    EXPECT_EQ(state.stats.scaled_min, 1.5);
    EXPECT_EQ(state.stats.fitness_max, 4.5);
    EXPECT_EQ(state.stats.scaled_avg, 3.0);  // the mean is preserved
    EXPECT_EQ(state.stats.fitness_sum, 9.0);
}

TEST_F(ScalingTest, LinearStopsWhereTheMinimumWouldTurnNegative) {
    use(ScalingMethod::linear);
    params.scaling.scalemult = 3.0f;
    run_statistics({1.0, 2.0, 3.0});
    EXPECT_EQ(scaled(), (std::vector<double>{0.0, 2.0, 4.0}));
    EXPECT_EQ(state.stats.scaled_min, 0.0);
    EXPECT_EQ(state.stats.fitness_max, 4.0);
    EXPECT_EQ(state.stats.scaled_avg, 2.0);
}

TEST_F(ScalingTest, LinearLeavesEqualFitnessAlone) {
    use(ScalingMethod::linear);
    params.scaling.scalemult = 1.2f;
    run_statistics({0.7, 0.7, 0.7, 0.7});
    for (double v : scaled()) {
        EXPECT_EQ(v, 0.7);
    }
    EXPECT_EQ(state.stats.fitness_max, 0.7);
    EXPECT_EQ(state.stats.scaled_min, 0.7);

    run_statistics({0.0, 0.0});
    EXPECT_EQ(scaled(), (std::vector<double>{0.0, 0.0}));
}

TEST_F(ScalingTest, LinearIsOffAtAMultipleOfOne) {
    use(ScalingMethod::linear);
    params.scaling.scalemult = 1.0f;
    run_statistics({2.0, 3.0, 4.0});
    EXPECT_EQ(scaled(), (std::vector<double>{2.0, 3.0, 4.0}));
}

// --- Boltzmann ---

TEST_F(ScalingTest, BoltzmannWithBetaZeroIsUniform) {
    use(ScalingMethod::boltzmann);
    params.scaling.beta = 0.0;
    run_statistics({0.1, 5.0, 2.0, 0.0, 9.0});
    for (double v : scaled()) {
        EXPECT_EQ(v, 1.0 / 5);
    }
    EXPECT_EQ(state.stats.fitness_sum, 1.0);
    EXPECT_EQ(state.stats.scaled_avg, 1.0 / 5);
    EXPECT_EQ(state.stats.fitness_max, 1.0 / 5);
    EXPECT_EQ(state.stats.scaled_min, 1.0 / 5);
}

TEST_F(ScalingTest, BoltzmannWeightsAreNormalisedExponentials) {
    use(ScalingMethod::boltzmann);
    params.scaling.beta = 2.0;
    run_statistics({1.0, 2.0, 3.0});
    const double sum = std::exp(-2.0) + 1.0 + std::exp(2.0);
    EXPECT_DOUBLE_EQ(pop[0].scaled_fitness, std::exp(-2.0) / sum);
    EXPECT_DOUBLE_EQ(pop[1].scaled_fitness, 1.0 / sum);
    EXPECT_DOUBLE_EQ(pop[2].scaled_fitness, std::exp(2.0) / sum);
    EXPECT_DOUBLE_EQ(state.stats.fitness_max, std::exp(2.0) / sum);
    EXPECT_DOUBLE_EQ(state.stats.scaled_min, std::exp(-2.0) / sum);
    EXPECT_EQ(state.stats.fitness_sum, 1.0);
    EXPECT_EQ(state.stats.scaled_avg, 1.0 / 3);
}

TEST_F(ScalingTest, BoltzmannOverflowStopsWithTheFullMessage) {
    use(ScalingMethod::boltzmann);
    // 100 individuals: the limit is ln(1e306), about 704.6. The best has
    // t = (100 - 1) * beta.
    std::vector<double> raw(100, 0.0);
    raw[50] = 100.0;
    params.scaling.beta = 705.0 / 99.0;
    set_raw(raw);
    try {
        population_statistics(state, pop.data());
        FAIL() << "no fault";
    } catch (const EngineFault& fault) {
        const double t = (100.0 - 1.0) * params.scaling.beta;
        char value[64];
        std::snprintf(value, sizeof value, "%f", t);
        const std::string expected =
            std::string("\n*** ERROR in Boltzmann scaling... cannot take ") +
            "\n   exp() of scaled term, value is " + value + "\n" +
            "\n Either rescale fitness function, reset beta, " +
            "\n or do not use Boltzmann scaling.  Exiting.\n";
        EXPECT_EQ(fault.what(), expected);
        EXPECT_EQ(fault.exit_status(), 255);
    }
    // Members before the offending one hold their unnormalised weights.
    EXPECT_DOUBLE_EQ(pop[0].scaled_fitness, std::exp(-params.scaling.beta));
    EXPECT_DOUBLE_EQ(pop[49].scaled_fitness, std::exp(-params.scaling.beta));
}

TEST_F(ScalingTest, BoltzmannJustBelowTheLimitStaysFinite) {
    use(ScalingMethod::boltzmann);
    std::vector<double> raw(100, 0.0);
    raw[50] = 100.0;
    params.scaling.beta = 704.0 / 99.0;
    run_statistics(raw);
    EXPECT_TRUE(std::isfinite(pop[50].scaled_fitness));
    EXPECT_NEAR(pop[50].scaled_fitness, 1.0, 1e-12);
    EXPECT_EQ(state.stats.best_index, 50);
    EXPECT_NEAR(state.stats.fitness_max, 1.0, 1e-12);
}

// --- window ---

TEST_F(ScalingTest, WindowSubtractsTheWorstOfTheRecentGenerations) {
    use(ScalingMethod::window);
    params.scaling.scaling_window = 2;
    const double minima[] = {5.0, 3.0, 4.0, 6.0, 7.0};
    const double expected_fmin[] = {5.0, 3.0, 3.0, 3.0, 4.0};
    for (int g = 0; g < 5; ++g) {
        const double low = minima[g];
        run_statistics({low + 10.0, low, low + 2.0});
        EXPECT_EQ(pop[0].scaled_fitness, low + 10.0 - expected_fmin[g]) << "generation " << g;
        EXPECT_EQ(state.stats.scaled_min, low - expected_fmin[g]);
        EXPECT_EQ(state.stats.fitness_max, low + 10.0 - expected_fmin[g]);
        EXPECT_LE(state.stats.scaled_avg, state.stats.fitness_max);
        ++state.stats.window_newest;
    }
    EXPECT_EQ(state.stats.window_oldest, 2);
}

TEST_F(ScalingTest, WindowOfZeroUsesOnlyTheCurrentGeneration) {
    use(ScalingMethod::window);
    params.scaling.scaling_window = 0;
    run_statistics({3.0, 8.0});
    ++state.stats.window_newest;
    run_statistics({5.0, 9.0});
    EXPECT_EQ(scaled(), (std::vector<double>{0.0, 4.0}));
    EXPECT_EQ(state.stats.scaled_avg, 2.0);
}

TEST_F(ScalingTest, LongWindowRestartsEveryTwentyCalls) {
    use(ScalingMethod::window);
    params.scaling.scaling_window = 19;
    for (int g = 0; g < 45; ++g) {
        const double low = 1.0 + g;  // rising minima: the oldest is the smallest
        run_statistics({low, low + 1.0});
        EXPECT_EQ(state.stats.window_oldest, 0);
        EXPECT_EQ(state.stats.window_newest, g % 20);
        const double fmin = 1.0 + 20 * (g / 20);
        EXPECT_EQ(pop[1].scaled_fitness, low + 1.0 - fmin) << "call " << g;
        ++state.stats.window_newest;
    }
}

TEST_F(ScalingTest, WindowClampsTheMeanToTheMaximum) {
    use(ScalingMethod::window);
    // Three times 0.1 sums to a mean just above 0.1, so the shifted mean
    // would exceed the shifted maximum without the clamp.
    params.scaling.scaling_window = 0;
    run_statistics({0.1, 0.1, 0.1});
    ASSERT_GT(state.stats.raw_avg, 0.1);
    EXPECT_EQ(state.stats.fitness_max, 0.0);
    EXPECT_EQ(state.stats.scaled_avg, 0.0);
    EXPECT_EQ(scaled(), (std::vector<double>{0.0, 0.0, 0.0}));
}

TEST_F(ScalingTest, WindowRemembersAWorseEarlierMinimum) {
    use(ScalingMethod::window);
    params.scaling.scaling_window = 5;
    run_statistics({1.0, 1.0});
    ++state.stats.window_newest;
    run_statistics({2.0, 2.0, 2.0, 6.0});
    EXPECT_EQ(state.stats.scaled_avg, 2.0);
    EXPECT_EQ(state.stats.fitness_max, 5.0);
    EXPECT_EQ(state.stats.scaled_min, 1.0);
    EXPECT_EQ(scaled(), (std::vector<double>{1.0, 1.0, 1.0, 5.0}));
}

// --- sigma truncation ---

TEST_F(ScalingTest, SigmaTruncationOfEqualFitnessIsZero) {
    use(ScalingMethod::sigma_truncation);
    params.scaling.sigma_trunc = 2.0f;
    run_statistics({0.5, 0.5, 0.5});  // exact: no rounding spread
    EXPECT_EQ(state.stats.fitness_sigma, 0.0f);
    EXPECT_EQ(scaled(), (std::vector<double>{0.0, 0.0, 0.0}));
    EXPECT_EQ(state.stats.scaled_avg, 0.0);
    EXPECT_EQ(state.stats.fitness_sum, 0.0);
    EXPECT_EQ(state.stats.fitness_max, 0.0);
}

TEST_F(ScalingTest, SigmaTruncationCutsBelowTheMeanMinusTheSpread) {
    use(ScalingMethod::sigma_truncation);
    params.scaling.sigma_trunc = 1.0f;
    // mean 4, deviation 2 (values 2 and 6), offset 2.
    run_statistics({2.0, 6.0, 2.0, 6.0});
    EXPECT_EQ(state.stats.fitness_sigma, 2.0f);
    EXPECT_EQ(scaled(), (std::vector<double>{0.0, 4.0, 0.0, 4.0}));
    EXPECT_EQ(state.stats.fitness_sum, 8.0);
    EXPECT_EQ(state.stats.scaled_avg, 2.0);
    EXPECT_EQ(state.stats.fitness_max, 4.0);
    EXPECT_EQ(state.stats.scaled_min, 0.0);

    params.scaling.sigma_trunc = 0.5f;  // offset 3
    run_statistics({2.0, 6.0, 2.0, 6.0});
    EXPECT_EQ(scaled(), (std::vector<double>{0.0, 3.0, 0.0, 3.0}));
    EXPECT_EQ(state.stats.scaled_avg, 1.5);
}

// --- choice of the method ---

TEST_F(ScalingTest, OnlyTheChosenMethodScalesWhateverTheOtherConstantsHold) {
    // Every constant set: Boltzmann with beta 0 is uniform.
    use(ScalingMethod::boltzmann);
    params.scaling.beta = 0.0;
    params.scaling.scaling_window = 0;
    params.scaling.sigma_trunc = 1.0f;
    params.scaling.scalemult = 2.0f;
    run_statistics({1.0, 3.0});
    EXPECT_EQ(scaled(), (std::vector<double>{0.5, 0.5}));

    // The window alone, without a linear stretch after it.
    use(ScalingMethod::window);
    params.scaling.scalemult = 1.5f;
    run_statistics({1.0, 3.0, 5.0});
    EXPECT_EQ(scaled(), (std::vector<double>{0.0, 2.0, 4.0}));

    // Sigma truncation alone: mean 3, deviation sqrt(8/3), offset 3 - 1 * that.
    use(ScalingMethod::sigma_truncation);
    run_statistics({1.0, 3.0, 5.0});
    const float spread = 1.0f * static_cast<float>(std::sqrt(35.0 / 3.0 - 9.0));
    EXPECT_EQ(pop[2].scaled_fitness, 5.0 - (3.0 - static_cast<double>(spread)));

    // Linear alone, on the raw values: u = 3, M = 5, n = 1, m = 1.5 gives
    // case 1 with a = 0.75, b = 0.75.
    use(ScalingMethod::linear);
    params.scaling.beta = 0.0;
    run_statistics({1.0, 3.0, 5.0});
    EXPECT_EQ(scaled(), (std::vector<double>{1.5, 3.0, 4.5}));
}

TEST_F(ScalingTest, AutomaticControlUsesBoltzmannEvenWithANegativeConstant) {
    // A negative target makes beta negative; automatic control still means
    // Boltzmann scaling, and never the linear stage.
    use(ScalingMethod::autocontrol);
    params.scaling.Beta_s_tilde = -1.0f;
    params.scaling.scalemult = 2.0f;
    run_statistics({1.0, 3.0});
    EXPECT_EQ(state.stats.autocontrol_beta, -1.0);
    const double sum = std::exp(1.0) + std::exp(-1.0);
    EXPECT_DOUBLE_EQ(pop[0].scaled_fitness, std::exp(1.0) / sum);
    EXPECT_DOUBLE_EQ(pop[1].scaled_fitness, std::exp(-1.0) / sum);
    EXPECT_EQ(state.stats.fitness_sum, 1.0);
}

}  // namespace
}  // namespace velmora
