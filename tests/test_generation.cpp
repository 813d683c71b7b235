#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/engine_state.hpp"
#include "engine_test_helpers.hpp"
#include "support/statistics.hpp"

namespace velmora {
namespace {

using testing::EngineFixture;

class RecordingHooks : public testing::FakeHooks {
  public:
    void app_after_generation() override { ++after_generation; }
    void app_final_report(const individual& best, const ChromosomeLayout&) override {
        reported = &best;
    }
    int after_generation = 0;
    const individual* reported = nullptr;
};

// A whole replication: start-up from a fixed casual value, then the
// generation loop as the run driver performs it.
struct Replication {
    explicit Replication(int popsize) {
        params.popsize = popsize;
        params.pcross = 0.6f;
        params.pmutation = 0.02f;
        params.tourneysize = 2;
    }

    void start(int casual) {
        state.fixed_casual = casual;
        initialize_engine(state);
    }

    // One generation followed by the statistics and the exchange of roles.
    void step() { testing::advance_generation(state); }

    int words() const { return state.layout.chromsize; }

    bool same_chrom(const individual& a, const individual& b) const {
        return std::equal(a.chrom, a.chrom + words(), b.chrom);
    }

    EngineParams params;
    RecordingHooks hooks;
    RandomGenerator rng;
    testing::TempLog log;
    NullConsole console;
    EngineState state{params, hooks, rng, log.file, console};
};

TEST(Generation, WithoutCrossoverOrMutationChildrenAreInheritedCopies) {
    Replication r(10);
    r.params.pcross = 0.0f;
    r.params.pmutation = 0.0f;
    r.start(11);
    const int nevals = r.state.nevals;
    const int calls = r.hooks.objfunc_calls;

    generation(r.state);

    EXPECT_EQ(r.state.nevals, nevals);
    EXPECT_EQ(r.hooks.objfunc_calls, calls);
    EXPECT_EQ(r.state.ncross, 0);
    EXPECT_EQ(r.state.nmutation, 0);
    EXPECT_EQ(r.hooks.after_generation, 1);
    for (int j = 0; j < 10; ++j) {
        const individual& child = r.state.newpop[j];
        EXPECT_EQ(r.state.evaluate[static_cast<std::size_t>(j)], 0);
        EXPECT_EQ(child.parent2, 0);
        EXPECT_EQ(child.xsite1, 0);
        EXPECT_EQ(child.xsite2, 0);
        ASSERT_GE(child.parent1, 1);
        ASSERT_LE(child.parent1, 10);
        const individual& parent = r.state.oldpop[child.parent1 - 1];
        EXPECT_TRUE(r.same_chrom(child, parent)) << j;
        EXPECT_EQ(child.raw_fitness, parent.raw_fitness);
        EXPECT_EQ(child.eval_number, parent.eval_number);
        EXPECT_EQ(child.scaled_fitness, parent.scaled_fitness);
    }
}

TEST(Generation, EvaluatesExactlyTheCrossedAndTheMutatedChildren) {
    Replication r(30);
    r.params.elitist = 0;  // keep every record as breeding left it
    r.params.pcross = 0.5f;
    r.params.pmutation = 0.05f;
    r.start(42);
    const int nevals = r.state.nevals;
    const int evaluated = r.hooks.evaluated;
    const int calls = r.hooks.objfunc_calls;

    generation(r.state);

    int crossed = 0;
    int mutated_copies = 0;
    int plain_copies = 0;
    for (int j = 0; j < 30; ++j) {
        const individual& child = r.state.newpop[j];
        const int flag = r.state.evaluate[static_cast<std::size_t>(j)];
        const individual& parent = r.state.oldpop[child.parent1 - 1];
        if (child.parent2 != 0) {
            ++crossed;
            EXPECT_EQ(flag, 1);
            EXPECT_GT(child.xsite1, 0);
        } else if (flag == 1) {
            ++mutated_copies;
            EXPECT_FALSE(r.same_chrom(child, parent)) << j;
        } else {
            ++plain_copies;
            EXPECT_TRUE(r.same_chrom(child, parent)) << j;
            EXPECT_EQ(child.eval_number, parent.eval_number);
            EXPECT_EQ(child.scaled_fitness, parent.scaled_fitness);
        }
        if (flag == 1) {
            EXPECT_GT(child.eval_number, nevals) << j;
        }
        // Every child holds the fitness of its own chromosome.
        EXPECT_EQ(child.raw_fitness, testing::FakeHooks::default_objective(child, r.state.layout));
    }
    // The seed gives a mixture, so each kind is exercised.
    ASSERT_GT(crossed, 0);
    ASSERT_GT(mutated_copies, 0);
    ASSERT_GT(plain_copies, 0);
    EXPECT_EQ(r.state.nevals - nevals, crossed + mutated_copies);
    EXPECT_EQ(r.hooks.evaluated - evaluated, crossed + mutated_copies);
    EXPECT_EQ(r.hooks.objfunc_calls - calls, 1);  // one batch
    EXPECT_EQ(r.state.ncross * 2, crossed);
    EXPECT_TRUE(r.state.pending.empty());
}

TEST(Generation, CrossingIdenticalParentsStillCountsAsNew) {
    Replication r(6);
    r.params.pcross = 1.0f;
    r.params.pmutation = 0.0f;
    r.params.elitist = 0;
    r.start(3);
    for (int i = 1; i < 6; ++i) {
        std::copy(r.state.oldpop[0].chrom, r.state.oldpop[0].chrom + r.words(),
                  r.state.oldpop[i].chrom);
        r.state.oldpop[i].raw_fitness = r.state.oldpop[0].raw_fitness;
    }
    const int nevals = r.state.nevals;
    generation(r.state);
    EXPECT_EQ(r.state.nevals - nevals, 6);
    EXPECT_EQ(r.state.ncross, 3);
    for (int j = 0; j < 6; ++j) {
        EXPECT_TRUE(r.same_chrom(r.state.newpop[j], r.state.oldpop[0]));
        EXPECT_EQ(r.state.evaluate[static_cast<std::size_t>(j)], 1);
        EXPECT_NE(r.state.newpop[j].parent2, 0);
    }
}

TEST(Generation, StochasticFitnessReevaluatesPlainCopies) {
    Replication r(8);
    r.params.pcross = 0.0f;
    r.params.pmutation = 0.0f;
    r.params.stochastic_fitness = 1;
    r.params.elitist = 0;
    r.start(17);
    const int nevals = r.state.nevals;
    generation(r.state);
    EXPECT_EQ(r.state.nevals - nevals, 8);
    for (int j = 0; j < 8; ++j) {
        const individual& child = r.state.newpop[j];
        EXPECT_EQ(r.state.evaluate[static_cast<std::size_t>(j)], 0);
        EXPECT_GT(child.eval_number, nevals);
        EXPECT_EQ(child.scaled_fitness, r.state.oldpop[child.parent1 - 1].scaled_fitness);
    }
}

TEST(Generation, PopulationOfTwoBreedsOnePairAndKeepsTheBest) {
    Replication r(2);
    r.start(5);
    for (int g = 0; g < 10; ++g) {
        const individual best = r.state.oldpop[r.state.stats.best_index];
        std::vector<std::uint32_t> best_chrom(best.chrom, best.chrom + r.words());
        generation(r.state);
        bool kept = false;
        for (int j = 0; j < 2; ++j) {
            kept |= r.state.newpop[j].raw_fitness == best.raw_fitness &&
                    std::equal(best_chrom.begin(), best_chrom.end(), r.state.newpop[j].chrom);
        }
        EXPECT_TRUE(kept) << "generation " << g;
        testing::finish_generation(r.state);
    }
}

// --- elitism ---

class ElitismTest : public ::testing::Test {
  protected:
    ElitismTest() : f(4, {4, 4, 4}) {
        f.allocate();
        f.seed(200);
        for (int i = 0; i < 4; ++i) {
            f.set_codes(f.state.oldpop[i], {static_cast<std::uint32_t>(i), 1, 2});
            f.state.oldpop[i].raw_fitness = 10.0 + i;
            f.state.oldpop[i].eval_number = 20 + i;
            f.state.oldpop[i].scaled_fitness = 0.5 + i;
            f.set_codes(f.state.newpop[i], {0, 0, static_cast<std::uint32_t>(i)});
            f.state.newpop[i].raw_fitness = 1.0;
            f.state.newpop[i].parent1 = 1;
            f.state.newpop[i].parent2 = 2;
            f.state.newpop[i].xsite1 = 3;
        }
        f.state.stats.best_index = 2;
    }

    EngineFixture f;
};

TEST_F(ElitismTest, BestAlreadyPresentDrawsNothing) {
    std::copy(f.state.oldpop[2].chrom, f.state.oldpop[2].chrom + f.state.layout.chromsize,
              f.state.newpop[3].chrom);
    f.state.newpop[3].raw_fitness = 12.0;
    const int cursor = f.rng.cursor();
    elitism_step(f.state);
    EXPECT_EQ(f.rng.cursor(), cursor);
    for (int j = 0; j < 4; ++j) {
        EXPECT_EQ(f.state.newpop[j].parent1, 1) << j;
    }
}

TEST_F(ElitismTest, LostBestReplacesOneDrawnMember) {
    // Same chromosome under another fitness is not the best.
    std::copy(f.state.oldpop[2].chrom, f.state.oldpop[2].chrom + f.state.layout.chromsize,
              f.state.newpop[0].chrom);
    f.state.evaluate.assign(4, 1);

    RandomGenerator twin;
    float seed = 0.0f;
    TextFile nowhere;
    twin.random_seed_from_casual(200, seed, nowhere);
    const int slot = twin.random_int(0, 3);

    elitism_step(f.state);
    EXPECT_EQ(f.rng.cursor(), twin.cursor());
    const individual& target = f.state.newpop[slot];
    EXPECT_EQ(getfield(0, f.state.layout, target.chrom), 2u);
    EXPECT_EQ(getfield(2, f.state.layout, target.chrom), 2u);
    EXPECT_EQ(target.parent1, 3);
    EXPECT_EQ(target.parent2, 0);
    EXPECT_EQ(target.xsite1, 0);
    EXPECT_EQ(target.xsite2, 0);
    EXPECT_EQ(target.raw_fitness, 12.0);
    EXPECT_EQ(target.eval_number, 22);
    EXPECT_EQ(target.scaled_fitness, 2.5);
    EXPECT_EQ(f.state.evaluate[static_cast<std::size_t>(slot)], 1);
    for (int j = 0; j < 4; ++j) {
        if (j != slot) {
            EXPECT_EQ(f.state.newpop[j].parent1, 1) << j;
            EXPECT_EQ(f.state.newpop[j].raw_fitness, 1.0) << j;
        }
    }
}

TEST(Generation, UtilitiesFollowTheParentsOfUnchangedChildren) {
    Replication r(6);
    r.hooks.data_size = 4;
    r.params.pcross = 0.0f;
    r.params.pmutation = 0.0f;
    r.start(8);
    for (int i = 0; i < 6; ++i) {
        std::memset(r.state.oldpop[i].utility, 'a' + i, 4);
        std::memset(r.state.newpop[i].utility, 'z', 4);
    }
    generation(r.state);
    for (int j = 0; j < 6; ++j) {
        const individual& child = r.state.newpop[j];
        const char* data = static_cast<const char*>(child.utility);
        EXPECT_EQ(std::string(data, 4), std::string(4, static_cast<char>('a' + child.parent1 - 1)))
            << j;
    }
}

TEST(Generation, ReportNamesTheBestOfTheNewPopulation) {
    Replication r(4);
    r.start(1);
    r.step();
    std::swap(r.state.oldpop, r.state.newpop);  // back to the driver's view
    engine_report(r.state);
    EXPECT_EQ(r.hooks.reported, &r.state.newpop[r.state.stats.best_index]);
}

// --- reproducibility for every selection and crossover method ---

class Reproducibility
    : public ::testing::TestWithParam<std::tuple<SelectionMethod, CrossoverMethod>> {};

TEST_P(Reproducibility, SameCasualGivesTheSamePopulations) {
    const auto [selection, crossover_code] = GetParam();
    Replication a(20);
    Replication b(20);
    Replication c(20);
    for (Replication* r : {&a, &b, &c}) {
        r->params.selection = selection;
        r->params.crossover = crossover_code;
    }
    a.start(314);
    b.start(314);
    c.start(315);
    double best_so_far = a.state.stats.fitness_max;
    for (int g = 0; g < 8; ++g) {
        a.step();
        b.step();
        c.step();
        // Elitism: the best raw fitness never drops.
        double best = a.state.oldpop[a.state.stats.best_index].raw_fitness;
        EXPECT_GE(best, best_so_far) << "generation " << g;
        best_so_far = best;
    }
    bool differs = false;
    for (int i = 0; i < 20; ++i) {
        const individual& x = a.state.oldpop[i];
        const individual& y = b.state.oldpop[i];
        EXPECT_TRUE(a.same_chrom(x, y)) << i;
        EXPECT_EQ(x.raw_fitness, y.raw_fitness) << i;
        EXPECT_EQ(x.scaled_fitness, y.scaled_fitness) << i;
        EXPECT_EQ(x.eval_number, y.eval_number) << i;
        EXPECT_EQ(x.parent1, y.parent1) << i;
        EXPECT_EQ(x.parent2, y.parent2) << i;
        differs |= !a.same_chrom(x, c.state.oldpop[i]);
    }
    EXPECT_EQ(a.state.nevals, b.state.nevals);
    EXPECT_EQ(a.state.ncross, b.state.ncross);
    EXPECT_EQ(a.state.nmutation, b.state.nmutation);
    EXPECT_EQ(a.rng.cursor(), b.rng.cursor());
    EXPECT_GT(a.state.ncross, 0);
    EXPECT_GT(a.state.nevals, 20);
    EXPECT_TRUE(differs);
}

INSTANTIATE_TEST_SUITE_P(
    AllMethods, Reproducibility,
    ::testing::Combine(::testing::Values(SelectionMethod::roulette,
                                         SelectionMethod::universal_sampling,
                                         SelectionMethod::tournament, SelectionMethod::remainder),
                       ::testing::Values(CrossoverMethod::one_point, CrossoverMethod::two_point,
                                         CrossoverMethod::uniform)));

TEST(Generation, AutomaticControlRunIsReproducible) {
    Replication a(16);
    Replication b(16);
    for (Replication* r : {&a, &b}) {
        r->params.selection = SelectionMethod::universal_sampling;
        r->params.scaling.method = ScalingMethod::autocontrol;
        r->params.scaling.Beta_s_tilde = 1.2f;
        r->params.scaling.scalemult = 0.0f;
        r->start(99);
    }
    for (int g = 0; g < 6; ++g) {
        a.step();
        b.step();
        EXPECT_EQ(a.state.stats.autocontrol_beta, b.state.stats.autocontrol_beta);
        EXPECT_TRUE(std::isfinite(a.state.stats.autocontrol_beta));
    }
    for (int i = 0; i < 16; ++i) {
        EXPECT_TRUE(a.same_chrom(a.state.oldpop[i], b.state.oldpop[i])) << i;
        EXPECT_EQ(a.state.oldpop[i].scaled_fitness, b.state.oldpop[i].scaled_fitness) << i;
    }
}

}  // namespace
}  // namespace velmora
