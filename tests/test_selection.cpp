#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <random>
#include <stdexcept>
#include <vector>

#include "engine_test_helpers.hpp"
#include "support/errors.hpp"

namespace velmora {
namespace {

using testing::EngineFixture;

// An engine with the given method whose oldpop carries these scaled fitnesses.
// scaled_avg is their mean unless given.
struct SelectionEngine : EngineFixture {
    SelectionEngine(SelectionMethod code, const std::vector<double>& fitness, int tourneysize = 2)
        : EngineFixture(static_cast<int>(fitness.size())) {
        params.selection = code;
        params.tourneysize = tourneysize;
        allocate();
        seed(321);
        set_fitness(fitness);
    }
    void set_fitness(const std::vector<double>& fitness) {
        for (std::size_t i = 0; i < fitness.size(); ++i) {
            state.oldpop[i].scaled_fitness = fitness[i];
        }
        state.stats.scaled_avg =
            std::accumulate(fitness.begin(), fitness.end(), 0.0) / fitness.size();
    }
    std::vector<int> draw_generation() {
        std::vector<int> drawn;
        for (int n = 0; n < params.popsize; ++n) {
            drawn.push_back(select(state));
        }
        return drawn;
    }
    std::vector<int> pool() const { return state.selection.choices; }
};

std::vector<int> sorted(std::vector<int> v) {
    std::sort(v.begin(), v.end());
    return v;
}

std::vector<int> iota_vector(int n) {
    std::vector<int> v(n);
    std::iota(v.begin(), v.end(), 0);
    return v;
}

// --- the two pool methods ---

class PoolSelection : public ::testing::TestWithParam<SelectionMethod> {};

TEST_P(PoolSelection, EqualFitnessGivesEveryMemberOnePlace) {
    SelectionEngine engine(GetParam(), std::vector<double>(8, 0.37));
    preselect(engine.state);
    EXPECT_EQ(sorted(engine.pool()), iota_vector(8));
    EXPECT_EQ(engine.state.selection.nremain, 7);
    EXPECT_EQ(sorted(engine.draw_generation()), iota_vector(8));
}

TEST_P(PoolSelection, ZeroAverageGivesTheIdentityPoolDrawnAsAPermutation) {
    SelectionEngine engine(GetParam(), std::vector<double>(10, 0.0));
    const int cursor = engine.rng.cursor();
    preselect(engine.state);
    EXPECT_EQ(engine.rng.cursor(), cursor);  // nothing drawn to build the pool
    EXPECT_EQ(engine.pool(), iota_vector(10));
    const std::vector<int> drawn = engine.draw_generation();
    EXPECT_EQ(sorted(drawn), iota_vector(10));
    EXPECT_NE(drawn, iota_vector(10));
}

TEST_P(PoolSelection, PopsizeDrawsEmptyThePoolExactly) {
    SelectionEngine engine(GetParam(), {5.0, 1.0, 0.5, 0.25, 0.25, 1.0});
    preselect(engine.state);
    const std::vector<int> pool = engine.pool();
    const std::vector<int> drawn = engine.draw_generation();
    EXPECT_EQ(sorted(drawn), sorted(pool));
    EXPECT_EQ(engine.state.selection.nremain, -1);
    EXPECT_THROW(select(engine.state), std::logic_error);
}

TEST_P(PoolSelection, EachMemberGetsItsExpectedCountRoundedDownOrUp) {
    for (int seed = 0; seed < 40; ++seed) {
        SelectionEngine engine(GetParam(), std::vector<double>(12, 1.0));
        engine.seed(seed);
        std::vector<double> fitness(12);
        for (double& f : fitness) {
            f = engine.rng.random_uniform() * engine.rng.random_int(0, 3);
        }
        engine.set_fitness(fitness);
        if (engine.state.stats.scaled_avg == 0.0) {
            continue;
        }
        preselect(engine.state);
        std::map<int, int> count;
        for (int j : engine.pool()) {
            count[j] += 1;
        }
        for (int j = 0; j < 12; ++j) {
            const double expected = fitness[j] / engine.state.stats.scaled_avg;
            EXPECT_GE(count[j], static_cast<int>(std::floor(expected))) << "seed " << seed;
            EXPECT_LE(count[j], static_cast<int>(std::floor(expected)) + 1) << "seed " << seed;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Methods, PoolSelection,
                         ::testing::Values(SelectionMethod::universal_sampling,
                                           SelectionMethod::remainder),
                         [](const auto& info) {
                             return info.param == SelectionMethod::remainder
                                        ? std::string("remainder")
                                        : std::string("universal_sampling");
                         });

// --- universal sampling ---

TEST(UniversalSampling, OneMemberWithAllTheFitnessFillsThePool) {
    SelectionEngine engine(SelectionMethod::universal_sampling, {0.0, 0.0, 3.0, 0.0, 0.0, 0.0});
    preselect(engine.state);
    EXPECT_EQ(engine.pool(), std::vector<int>(6, 2));
    EXPECT_EQ(engine.draw_generation(), std::vector<int>(6, 2));
}

TEST(UniversalSampling, APoolLeftShortIsFilledWithTheLastMemberSampled) {
    // An average that does not match the population makes the pointer run
    // past the last member with places still open.
    SelectionEngine engine(SelectionMethod::universal_sampling, {1.0, 1.0, 0.0, 0.0});
    engine.state.stats.scaled_avg = 1.0;
    preselect(engine.state);
    const std::vector<int> pool = engine.pool();
    ASSERT_EQ(pool.size(), 4u);
    EXPECT_EQ(pool[0], 0);
    EXPECT_EQ(pool[1], 1);
    EXPECT_EQ(pool[2], 1);
    EXPECT_EQ(pool[3], 1);
}

// --- stochastic remainder ---

TEST(Remainder, IntegerExpectedCountsNeedNoDraws) {
    SelectionEngine engine(SelectionMethod::remainder, {3.0, 1.0, 0.0, 0.0});
    const int cursor = engine.rng.cursor();
    preselect(engine.state);
    EXPECT_EQ(engine.pool(), (std::vector<int>{0, 0, 0, 1}));
    EXPECT_EQ(engine.rng.cursor(), cursor);
}

TEST(Remainder, IntegerPartsBeyondPopsizeAreCutOff) {
    SelectionEngine engine(SelectionMethod::remainder, {3.0, 3.0, 0.0, 0.0});
    engine.state.stats.scaled_avg = 1.0;
    preselect(engine.state);
    EXPECT_EQ(engine.pool(), (std::vector<int>{0, 0, 0, 1}));
    EXPECT_EQ(engine.state.selection.choices.size(), 4u);
}

TEST(Remainder, UsedUpRemaindersDoNotCycleForEver) {
    SelectionEngine engine(SelectionMethod::remainder, {1.0, 1.0, 0.0, 0.0});
    engine.state.stats.scaled_avg = 1.0;  // integer parts sum to 2 of 4
    preselect(engine.state);
    EXPECT_EQ(engine.pool(), (std::vector<int>{0, 1, 1, 1}));
}

TEST(Remainder, FractionsDecideTheRemainingPlaces) {
    // Expected counts 1.5, 1.5, 0.5, 0.5: two places are fixed, two go by coin,
    // and no one wins twice from its remainder.
    SelectionEngine engine(SelectionMethod::remainder, {1.5, 1.5, 0.5, 0.5});
    preselect(engine.state);
    const std::vector<int> pool = engine.pool();
    EXPECT_EQ(pool[0], 0);
    EXPECT_EQ(pool[1], 1);
    std::vector<int> rest = sorted({pool[2], pool[3]});
    EXPECT_NE(rest[0], rest[1]);
    for (float f : engine.state.selection.fraction) {
        EXPECT_TRUE(f == 0.5f || f == -0.5f) << f;
    }
}

// --- roulette ---

TEST(Roulette, OneMemberWithAllTheFitnessWinsEveryDraw) {
    SelectionEngine engine(SelectionMethod::roulette, {0.0, 0.0, 0.0, 2.0, 0.0, 0.0});
    preselect(engine.state);
    EXPECT_EQ(engine.state.selection.roulette_total, 2.0);
    for (int n = 0; n < 200; ++n) {
        const int cursor = engine.rng.cursor();
        ASSERT_EQ(select(engine.state), 3);
        ASSERT_EQ((engine.rng.cursor() - cursor + 54) % 54, 1);  // one draw per select
    }
}

TEST(Roulette, ZeroTotalFallsBackToAUniformIndex) {
    SelectionEngine engine(SelectionMethod::roulette, std::vector<double>(6, 0.0));
    preselect(engine.state);
    std::vector<int> seen(6, 0);
    for (int n = 0; n < 600; ++n) {
        const int cursor = engine.rng.cursor();
        const int i = select(engine.state);
        ASSERT_GE(i, 0);
        ASSERT_LT(i, 6);
        ASSERT_EQ((engine.rng.cursor() - cursor + 54) % 54, 2);  // r, then the index
        seen[i] += 1;
    }
    for (int c : seen) {
        EXPECT_GT(c, 50);
    }
}

TEST(Roulette, TheDrawIsRoundedToSinglePrecisionBeforeTheWheelTurns) {
    // Wait for a draw u whose float F lies below it, then give member 0 the
    // share F exactly. The float draw F meets the running sum F and member 0
    // is chosen (the wheel stops once s < r fails); the full draw u would
    // pass member 0 and pick member 1.
    SelectionEngine engine(SelectionMethod::roulette, {0.5, 0.5});
    RandomGenerator twin;
    float unused = 0.0f;
    twin.random_seed_from_casual(321, unused, engine.log.file);
    double u = twin.random_uniform();
    while (!(static_cast<double>(static_cast<float>(u)) < u)) {
        engine.rng.random_uniform();
        u = twin.random_uniform();
    }
    const float share = static_cast<float>(u);
    engine.set_fitness({share, 1.0 - share});
    preselect(engine.state);
    ASSERT_EQ(engine.state.selection.roulette_total, 1.0);
    EXPECT_EQ(select(engine.state), 0);
    EXPECT_EQ(engine.rng.cursor(), twin.cursor());
}

TEST(Roulette, DrawsFollowTheFitnessProportions) {
    SelectionEngine engine(SelectionMethod::roulette, {1.0, 3.0, 0.0, 4.0});
    preselect(engine.state);
    std::vector<int> seen(4, 0);
    for (int n = 0; n < 8000; ++n) {
        seen[select(engine.state)] += 1;
    }
    EXPECT_NEAR(seen[0], 1000, 150);
    EXPECT_NEAR(seen[1], 3000, 200);
    EXPECT_EQ(seen[2], 0);
    EXPECT_NEAR(seen[3], 4000, 200);
}

// The wheel as it turns, one member after another: the reference for the
// engine's bisection over the same single-precision running sums.
int turn_the_wheel(const std::vector<double>& fitness, double total, float r) {
    float s = 0.0f;
    int i = 0;
    const int popsize = static_cast<int>(fitness.size());
    while (s < r && i < popsize) {
        s = static_cast<float>(s + fitness[static_cast<std::size_t>(i)] / total);
        ++i;
    }
    return r == 0.0f ? 0 : i - 1;
}

TEST(Roulette, BisectionPicksWhatTheTurningWheelPicks) {
    std::mt19937_64 source(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<std::vector<double>> cases;
    // Many members, a third of them without fitness (runs of equal sums).
    std::vector<double> sparse(3000);
    for (double& f : sparse) {
        f = unit(source) < 0.33 ? 0.0 : unit(source);
    }
    cases.push_back(sparse);
    // One giant among dwarfs: the sums stop growing in single precision long
    // before the last member, and the last sum stays below 1.
    std::vector<double> giant(2001, 1e-9);
    giant[1000] = 1.0;
    cases.push_back(giant);
    // Equal shares whose rounded sums reach 1 early or never.
    cases.push_back(std::vector<double>(999, 1.0));
    cases.push_back(std::vector<double>(1000, 0.1));
    // A negative share (no scaling keeps the sums in order): the wheel is
    // turned member by member.
    std::vector<double> negative(400);
    for (double& f : negative) {
        f = unit(source) - 0.2;
    }
    cases.push_back(negative);
    for (std::size_t c = 0; c < cases.size(); ++c) {
        const std::vector<double>& fitness = cases[c];
        SelectionEngine engine(SelectionMethod::roulette, fitness);
        preselect(engine.state);
        const double total = engine.state.selection.roulette_total;
        RandomGenerator twin;
        float unused = 0.0f;
        twin.random_seed_from_casual(321, unused, engine.log.file);
        for (int n = 0; n < 20000; ++n) {
            const float r = static_cast<float>(twin.random_uniform());
            ASSERT_EQ(select(engine.state), turn_the_wheel(fitness, total, r))
                << "case " << c << " draw " << n << " r " << r;
        }
    }
}

// --- tournament ---

TEST(Tournament, ShuffleUsesTwoDrawsPerPositionAndKeepsAPermutation) {
    SelectionEngine engine(SelectionMethod::tournament, std::vector<double>(6, 1.0));
    const int cursor = engine.rng.cursor();
    preselect(engine.state);
    EXPECT_EQ(engine.rng.cursor() - cursor, 10);  // the last position draws nothing
    EXPECT_EQ(sorted(engine.state.selection.tourneylist), iota_vector(6));
    EXPECT_EQ(engine.state.selection.tourneypos, 0);
}

TEST(Tournament, TiesGoToTheEarlierEntrant) {
    SelectionEngine engine(SelectionMethod::tournament, std::vector<double>(6, 1.0), 3);
    preselect(engine.state);
    const std::vector<int> list = engine.state.selection.tourneylist;
    EXPECT_EQ(select(engine.state), list[0]);
    EXPECT_EQ(select(engine.state), list[3]);
}

TEST(Tournament, TheFittestEntrantWins) {
    SelectionEngine engine(SelectionMethod::tournament, {1.0, 5.0, 2.0, 4.0, 3.0, 0.5}, 3);
    preselect(engine.state);
    const std::vector<int> list = engine.state.selection.tourneylist;
    auto best_of = [&](int from) {
        int best = list[from];
        for (int m = 1; m < 3; ++m) {
            if (engine.state.oldpop[list[from + m]].scaled_fitness >
                engine.state.oldpop[best].scaled_fitness) {
                best = list[from + m];
            }
        }
        return best;
    };
    EXPECT_EQ(select(engine.state), best_of(0));
    EXPECT_EQ(select(engine.state), best_of(3));
}

TEST(Tournament, TheThirdOfThreeDrawsOfPairsFromFourReshuffles) {
    SelectionEngine engine(SelectionMethod::tournament, {1.0, 2.0, 3.0, 4.0}, 2);
    preselect(engine.state);
    const int cursor = engine.rng.cursor();
    select(engine.state);
    select(engine.state);
    EXPECT_EQ(engine.rng.cursor(), cursor);  // no draws while entries remain
    EXPECT_EQ(engine.state.selection.tourneypos, 4);
    select(engine.state);
    EXPECT_EQ(engine.rng.cursor() - cursor, 6);
    EXPECT_EQ(engine.state.selection.tourneypos, 2);
}

TEST(Tournament, SizeOneReturnsTheShuffledListInOrder) {
    SelectionEngine engine(SelectionMethod::tournament, {1.0, 2.0, 3.0, 4.0, 5.0, 6.0}, 1);
    preselect(engine.state);
    const std::vector<int> list = engine.state.selection.tourneylist;
    EXPECT_EQ(engine.draw_generation(), list);
}

TEST(Tournament, SizesOutsideOneToPopsizeNeverRun) {
    for (int size : {0, 5, -1}) {
        SelectionEngine engine(SelectionMethod::tournament, {1.0, 2.0, 3.0, 4.0}, 2);
        engine.params.tourneysize = size;
        EXPECT_THROW(preselect(engine.state), std::logic_error) << size;
    }
}

TEST(Selection, AnUnknownCodeIsRefusedNotMapped) {
    SelectionEngine engine(SelectionMethod::roulette, {1.0, 2.0});
    // Outside the enumeration: no silent fallback to another method.
    engine.params.selection = static_cast<SelectionMethod>(99);
    EXPECT_THROW(preselect(engine.state), EngineFault);
    EXPECT_THROW(select(engine.state), EngineFault);
    EXPECT_THROW(allocate_selection(engine.state), EngineFault);
}

}  // namespace
}  // namespace velmora
