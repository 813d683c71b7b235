#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/engine_state.hpp"
#include "engine_test_helpers.hpp"
#include "support/errors.hpp"

namespace velmora {
namespace {

using testing::EngineFixture;

class CaptureConsole : public Console {
  public:
    void out(std::string_view text) override { out_text += text; }
    void err(std::string_view text) override { err_text += text; }
    std::string out_text;
    std::string err_text;
};

// An engine whose layout is still to be derived by the start-up.
struct StartupFixture : EngineFixture {
    explicit StartupFixture(int popsize = 4,
                            std::vector<int> sizes = testing::velmora_field_sizes())
        : EngineFixture(popsize, sizes) {
        state.layout = ChromosomeLayout{};
    }
};

std::vector<int> widths_of(const ChromosomeLayout& layout) {
    std::vector<int> widths;
    int previous = 0;
    for (int end : layout.field_ends) {
        widths.push_back(end - previous);
        previous = end;
    }
    return widths;
}

std::string field_size_message(int numfields) {
    return "*** ERROR.  User set alpha_size < 2, indicating that field_sizes are\n"
           "different from field to field.  However, user did NOT specify legal field sizes\n"
           "for all " +
           std::to_string(numfields) +
           " fields in function app_set_field_sizes() in the app-specific\n"
           "file.  Run cannot continue.  ***\n";
}

TEST(FieldLayout, VelmoraSizesGiveSeventyBitsInThreeWords) {
    StartupFixture f;
    setup_field_layout(f.state);
    const ChromosomeLayout& layout = f.state.layout;
    EXPECT_EQ(layout.numfields, 16);
    EXPECT_EQ(widths_of(layout),
              (std::vector<int>{1, 1, 1, 1, 2, 10, 10, 10, 10, 10, 1, 2, 2, 3, 3, 3}));
    EXPECT_EQ(layout.field_ends[0], 1);
    EXPECT_EQ(layout.field_ends[15], 70);
    EXPECT_EQ(layout.lchrom, 70);
    EXPECT_EQ(layout.chromsize, 3);
    EXPECT_EQ(layout.field_sizes, testing::velmora_field_sizes());
    EXPECT_EQ(f.log.contents(), "lchrom =70\nchromsize =3\nsizeof =4\n");
}

TEST(FieldLayout, WidthIsTheSmallestPowerOfTwoThatHoldsTheCodes) {
    const std::vector<int> sizes = {2, 3, 4, 5, 1000, 1024, 1025, 65536, 65537, 131072};
    StartupFixture f(4, sizes);
    setup_field_layout(f.state);
    EXPECT_EQ(widths_of(f.state.layout), (std::vector<int>{1, 2, 2, 3, 10, 10, 11, 16, 17, 17}));
}

TEST(FieldLayout, WordCountRoundsUp) {
    {
        StartupFixture f(4, {65536, 65536, 65536, 65536});
        setup_field_layout(f.state);
        EXPECT_EQ(f.state.layout.lchrom, 64);
        EXPECT_EQ(f.state.layout.chromsize, 2);
    }
    {
        StartupFixture f(4, {65536, 65536, 65536, 65536, 2});
        setup_field_layout(f.state);
        EXPECT_EQ(f.state.layout.lchrom, 65);
        EXPECT_EQ(f.state.layout.chromsize, 3);
        EXPECT_EQ(f.log.contents(), "lchrom =65\nchromsize =3\nsizeof =4\n");
    }
    {
        StartupFixture f(4, {2, 2});
        setup_field_layout(f.state);
        EXPECT_EQ(f.state.layout.lchrom, 2);
        EXPECT_EQ(f.state.layout.chromsize, 1);
    }
}

TEST(FieldLayout, ObservationCountDecidesTheThresholdFieldWidth) {
    for (const auto& [n_oss, width] : {std::pair{1024, 10}, std::pair{1025, 11}}) {
        std::vector<int> sizes = testing::velmora_field_sizes();
        for (int k = 5; k <= 9; ++k) {
            sizes[static_cast<std::size_t>(k)] = n_oss;
        }
        StartupFixture f(4, sizes);
        setup_field_layout(f.state);
        const std::vector<int> widths = widths_of(f.state.layout);
        for (int k = 5; k <= 9; ++k) {
            EXPECT_EQ(widths[static_cast<std::size_t>(k)], width) << "n_oss " << n_oss;
        }
        EXPECT_EQ(f.state.layout.lchrom, 20 + 5 * width);
    }
}

TEST(FieldLayout, TooSmallFieldStopsTheRunNamingTheFieldCount) {
    std::vector<int> sizes = testing::velmora_field_sizes();
    sizes[3] = 1;
    StartupFixture f(4, sizes);
    try {
        setup_field_layout(f.state);
        FAIL() << "no fault";
    } catch (const EngineFault& fault) {
        EXPECT_EQ(fault.what(), field_size_message(16));
    }
    // The same text goes to the run log; no layout line follows it.
    EXPECT_EQ(f.log.contents(), field_size_message(16));
    EXPECT_EQ(f.state.layout.lchrom, 0);
}

TEST(FieldLayout, ForgottenFieldStopsTheRun) {
    // The application sets only the first 15 of 16 fields: the last stays -1.
    std::vector<int> sizes = testing::velmora_field_sizes();
    StartupFixture f(4, sizes);
    f.hooks.field_sizes.pop_back();
    EXPECT_THROW(setup_field_layout(f.state), EngineFault);
    EXPECT_EQ(f.state.layout.field_sizes[15], -1);
    EXPECT_EQ(f.log.contents(), field_size_message(16));
}

TEST(FieldLayout, FieldTooLargeForSeventeenBitsIsRefused) {
    StartupFixture f(4, {2, 131073, 2});
    EXPECT_THROW(setup_field_layout(f.state), EngineFault);
    EXPECT_EQ(f.state.layout.lchrom, 0);
    EXPECT_NE(f.log.contents().find("131073"), std::string::npos);
}

TEST(StartPopulation, OneLinePerIndividualAndOneDrawPerField) {
    StartupFixture f(6);
    setup_field_layout(f.state);
    f.allocate();
    CaptureConsole console;
    EngineState state(f.params, f.hooks, f.rng, f.log.file, console);
    state.layout = f.state.layout;
    state.oldpop = f.state.oldpop;
    state.newpop = f.state.newpop;
    f.seed(321);

    // A generator with the same seed predicts every code, field by field.
    RandomGenerator twin;
    float seed = 0.0f;
    TextFile nowhere;
    twin.random_seed_from_casual(321, seed, nowhere);

    init_field_population(state, 0);
    EXPECT_EQ(console.out_text,
              "individual:0\nindividual:1\nindividual:2\nindividual:3\nindividual:4\n"
              "individual:5\n");
    for (int i = 0; i < 6; ++i) {
        for (int k = 0; k < 16; ++k) {
            const int size = state.layout.field_sizes[static_cast<std::size_t>(k)];
            EXPECT_EQ(getfield(k, state.layout, state.oldpop[i].chrom),
                      static_cast<std::uint32_t>(twin.random_int(0, size - 1)))
                << "individual " << i << " field " << k;
        }
    }
    EXPECT_EQ(f.rng.cursor(), twin.cursor());
    // Every member was scored in one batch, in index order.
    EXPECT_EQ(f.hooks.objfunc_calls, 1);
    EXPECT_EQ(state.nevals, 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(state.oldpop[i].eval_number, i + 1);
        EXPECT_EQ(state.oldpop[i].raw_fitness,
                  testing::FakeHooks::default_objective(state.oldpop[i], state.layout));
    }
    EXPECT_TRUE(state.pending.empty());
}

TEST(StartPopulation, CodesStayInsideTheAlphabet) {
    // Three bits could hold 0..7; only 0..4 may appear.
    StartupFixture f(40, {5, 3, 5});
    setup_field_layout(f.state);
    f.allocate();
    f.seed(5);
    init_field_population(f.state, 0);
    std::vector<int> seen(8, 0);
    for (int i = 0; i < 40; ++i) {
        ++seen[getfield(0, f.state.layout, f.state.oldpop[i].chrom)];
        ++seen[getfield(2, f.state.layout, f.state.oldpop[i].chrom)];
        EXPECT_LT(getfield(1, f.state.layout, f.state.oldpop[i].chrom), 3u);
    }
    EXPECT_EQ(seen[5] + seen[6] + seen[7], 0);
    for (int code = 0; code < 5; ++code) {
        EXPECT_GT(seen[static_cast<std::size_t>(code)], 0) << code;
    }
}

TEST(StartPopulation, NewIndividualHasNoParents) {
    EngineFixture f(2);
    f.allocate();
    individual& member = f.state.oldpop[1];
    member.parent1 = 3;
    member.parent2 = 4;
    member.xsite1 = 5;
    member.xsite2 = 6;
    f.state.nevals = 10;
    evaluate_new_individual(f.state, 1);
    EXPECT_EQ(member.parent1, 0);
    EXPECT_EQ(member.parent2, 0);
    EXPECT_EQ(member.xsite1, 0);
    EXPECT_EQ(member.xsite2, 0);
    EXPECT_EQ(member.eval_number, 11);
    ASSERT_EQ(f.state.pending.size(), 1u);
    EXPECT_EQ(f.state.pending[0], &member);
}

TEST(InitializeEngine, LeavesAnEvaluatedScaledPopulationAndFreshCounters) {
    StartupFixture f(8);
    f.state.fixed_casual = 123;
    f.state.ncross = 5;
    f.state.nmutation = 6;
    f.state.nevals = 7;
    f.state.stats.window_oldest = 3;
    f.state.stats.window_newest = 9;
    initialize_engine(f.state);

    EXPECT_EQ(f.log.contents(),
              "lchrom =70\nchromsize =3\nsizeof =4\ncasual=123\nrandomseed=0.123000\n");
    EXPECT_EQ(f.state.randomseed, 0.123f);
    EXPECT_EQ(f.state.nevals, 8);
    EXPECT_EQ(f.state.ncross, 0);
    EXPECT_EQ(f.state.nmutation, 0);
    EXPECT_EQ(f.state.stats.window_newest, 1);
    EXPECT_EQ(f.state.stats.window_oldest, 0);
    EXPECT_EQ(f.hooks.objfunc_calls, 1);

    // The statistics describe the start population.
    int best = 0;
    for (int i = 0; i < 8; ++i) {
        const individual& member = f.state.oldpop[i];
        EXPECT_EQ(member.raw_fitness,
                  testing::FakeHooks::default_objective(member, f.state.layout));
        if (member.raw_fitness > f.state.oldpop[best].raw_fitness) {
            best = i;
        }
        EXPECT_GE(member.scaled_fitness, 0.0);
    }
    EXPECT_EQ(f.state.stats.best_index, best);
    EXPECT_EQ(f.state.stats.window_min[0], f.state.stats.raw_min);
}

TEST(InitializeEngine, SameCasualGivesTheSameStartPopulation) {
    StartupFixture a(10);
    StartupFixture b(10);
    StartupFixture c(10);
    a.state.fixed_casual = 77;
    b.state.fixed_casual = 77;
    c.state.fixed_casual = 78;
    initialize_engine(a.state);
    initialize_engine(b.state);
    initialize_engine(c.state);
    const int words = a.state.layout.chromsize;
    bool differs_from_c = false;
    for (int i = 0; i < 10; ++i) {
        for (int w = 0; w < words; ++w) {
            EXPECT_EQ(a.state.oldpop[i].chrom[w], b.state.oldpop[i].chrom[w]);
            differs_from_c |= a.state.oldpop[i].chrom[w] != c.state.oldpop[i].chrom[w];
        }
        EXPECT_EQ(a.state.oldpop[i].raw_fitness, b.state.oldpop[i].raw_fitness);
        EXPECT_EQ(a.state.oldpop[i].scaled_fitness, b.state.oldpop[i].scaled_fitness);
    }
    EXPECT_TRUE(differs_from_c);
}

TEST(InitializeEngine, SecondReplicationStartsAfresh) {
    StartupFixture f(6);
    f.state.fixed_casual = 9;
    initialize_engine(f.state);
    f.state.nevals += 40;
    f.state.stats.window_newest = 12;
    free_all(f.state);

    f.params.popsize = 4;
    initialize_engine(f.state);
    EXPECT_EQ(f.state.nevals, 4);
    EXPECT_EQ(f.state.stats.window_newest, 1);
    EXPECT_EQ(f.state.layout.lchrom, 70);
    EXPECT_EQ(f.rng.seeding_count(), 2);
}

}  // namespace
}  // namespace velmora
