#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "engine_test_helpers.hpp"
#include "support/errors.hpp"

namespace velmora {
namespace {

using testing::EngineFixture;

// Parents in oldpop[0] and [1], children in newpop[0] and [1].
struct CrossoverEngine : EngineFixture {
    explicit CrossoverEngine(CrossoverMethod code, float pcross = 1.0f) : EngineFixture(4) {
        params.crossover = code;
        params.pcross = pcross;
        allocate();
        seed(77);
    }
    std::uint32_t* p1() { return state.oldpop[0].chrom; }
    std::uint32_t* p2() { return state.oldpop[1].chrom; }
    std::uint32_t* c1() { return state.newpop[0].chrom; }
    std::uint32_t* c2() { return state.newpop[1].chrom; }
    int words() const { return state.layout.chromsize; }

    // Random legal codes in both parents, drawn from a stream of their own so
    // the engine's stream is not disturbed.
    void random_parents(RandomGenerator& codes) {
        for (std::uint32_t* parent : {p1(), p2()}) {
            for (int k = 0; k < state.layout.numfields; ++k) {
                putfield(k, state.layout,
                         static_cast<std::uint32_t>(
                             codes.random_int(0, state.layout.field_sizes[k] - 1)),
                         parent);
            }
        }
    }
    void cross(int sites[2]) { crossover(state, p1(), p2(), c1(), c2(), sites); }
    // Draws since the last call, counting the wrap of the cursor.
    int draws_since(int& cursor) {
        const int now = rng.cursor();
        const int used = (now - cursor + 54) % 54;
        cursor = now;
        return used;
    }
    std::uint32_t field(const std::uint32_t* chrom, int k) {
        return getfield(k, state.layout, chrom);
    }
};

std::string code_name(const ::testing::TestParamInfo<CrossoverMethod>& info) {
    switch (info.param) {
        case CrossoverMethod::one_point:
            return "one_point";
        case CrossoverMethod::two_point:
            return "two_point";
        case CrossoverMethod::uniform:
            return "uniform";
    }
    return "unknown";
}

class EveryCrossover : public ::testing::TestWithParam<CrossoverMethod> {};

TEST_P(EveryCrossover, ChildFieldsComeFromOneParentAndTheChildrenAreComplementary) {
    CrossoverEngine engine(GetParam());
    RandomGenerator codes;
    float unused = 0.0f;
    codes.random_seed_from_casual(5, unused, engine.log.file);
    const int first_draws = GetParam() == CrossoverMethod::one_point   ? 2
                            : GetParam() == CrossoverMethod::two_point ? 3
                                                                       : 1 + 16;
    int cursor = engine.rng.cursor();
    for (int pair = 0; pair < 300; ++pair) {
        engine.random_parents(codes);
        int sites[2] = {-1, -1};
        engine.cross(sites);
        ASSERT_EQ(engine.state.ncross, pair + 1);
        ASSERT_EQ(engine.draws_since(cursor), first_draws);
        const int a = sites[0];
        const int b = sites[1];
        if (GetParam() == CrossoverMethod::uniform) {
            ASSERT_EQ(a, 0);
            ASSERT_EQ(b, 0);
        }
        int first_bit = 1;
        for (int k = 0; k < engine.state.layout.numfields; ++k) {
            const int last_bit = engine.state.layout.field_ends[k];
            const std::uint32_t f1 = engine.field(engine.c1(), k);
            const std::uint32_t f2 = engine.field(engine.c2(), k);
            const std::uint32_t q1 = engine.field(engine.p1(), k);
            const std::uint32_t q2 = engine.field(engine.p2(), k);
            const bool straight = f1 == q1 && f2 == q2;
            const bool crossed = f1 == q2 && f2 == q1;
            ASSERT_TRUE(straight || crossed) << "pair " << pair << " field " << k;
            // Where the parents differ, the cut points say which one it must be.
            if (q1 != q2 && GetParam() == CrossoverMethod::one_point) {
                ASSERT_EQ(straight, last_bit <= a) << "field " << k << " site " << a;
            }
            if (q1 != q2 && GetParam() == CrossoverMethod::two_point) {
                ASSERT_LE(a, b);
                ASSERT_EQ(straight, last_bit <= a || first_bit > b) << "field " << k;
            }
            first_bit = last_bit + 1;
        }
        if (GetParam() == CrossoverMethod::one_point) {
            ASSERT_EQ(b, 0);
            ASSERT_LT(a, engine.state.layout.lchrom);
            ASSERT_TRUE(std::count(engine.state.layout.field_ends.begin(),
                                   engine.state.layout.field_ends.end(), a) == 1);
        }
    }
}

TEST_P(EveryCrossover, NoCrossingCopiesTheParentsWithOneDraw) {
    CrossoverEngine engine(GetParam(), 0.0f);
    RandomGenerator codes;
    float unused = 0.0f;
    codes.random_seed_from_casual(9, unused, engine.log.file);
    int cursor = engine.rng.cursor();
    for (int pair = 0; pair < 100; ++pair) {
        engine.random_parents(codes);
        int sites[2] = {-1, -1};
        engine.cross(sites);
        ASSERT_EQ(engine.draws_since(cursor), 1);
        ASSERT_EQ(engine.state.ncross, 0);
        ASSERT_EQ(sites[0], 0);
        ASSERT_EQ(sites[1], 0);
        ASSERT_TRUE(std::equal(engine.p1(), engine.p1() + engine.words(), engine.c1()));
        ASSERT_TRUE(std::equal(engine.p2(), engine.p2() + engine.words(), engine.c2()));
    }
}

TEST_P(EveryCrossover, IdenticalParentsGiveTwoCopies) {
    CrossoverEngine engine(GetParam());
    RandomGenerator codes;
    float unused = 0.0f;
    codes.random_seed_from_casual(11, unused, engine.log.file);
    for (int pair = 0; pair < 50; ++pair) {
        engine.random_parents(codes);
        std::copy(engine.p1(), engine.p1() + engine.words(), engine.p2());
        int sites[2];
        engine.cross(sites);
        ASSERT_TRUE(std::equal(engine.p1(), engine.p1() + engine.words(), engine.c1()));
        ASSERT_TRUE(std::equal(engine.p1(), engine.p1() + engine.words(), engine.c2()));
    }
    EXPECT_EQ(engine.state.ncross, 50);
}

INSTANTIATE_TEST_SUITE_P(Operators, EveryCrossover,
                         ::testing::Values(CrossoverMethod::one_point, CrossoverMethod::two_point,
                                           CrossoverMethod::uniform),
                         code_name);

TEST(TwoPointCrossover, EqualSitesLeaveTheStraightParentsAndStillCount) {
    CrossoverEngine engine(CrossoverMethod::two_point);
    RandomGenerator codes;
    float unused = 0.0f;
    codes.random_seed_from_casual(13, unused, engine.log.file);
    int equal_sites = 0;
    for (int pair = 0; pair < 400; ++pair) {
        engine.random_parents(codes);
        int sites[2];
        engine.cross(sites);
        if (sites[0] == sites[1]) {
            ++equal_sites;
            ASSERT_TRUE(std::equal(engine.p1(), engine.p1() + engine.words(), engine.c1()));
            ASSERT_TRUE(std::equal(engine.p2(), engine.p2() + engine.words(), engine.c2()));
        }
    }
    EXPECT_GT(equal_sites, 0);
    EXPECT_EQ(engine.state.ncross, 400);
}

TEST(UniformCrossover, AFieldAcrossTwoWordsTakesBothPartsFromOneParent) {
    // Field 7 of Velmora's layout holds bits 27..36.
    CrossoverEngine engine(CrossoverMethod::uniform);
    ASSERT_EQ(engine.state.layout.field_ends[6], 26);
    ASSERT_EQ(engine.state.layout.field_ends[7], 36);
    std::fill(engine.p1(), engine.p1() + engine.words(), 0u);
    std::fill(engine.p2(), engine.p2() + engine.words(), 0xFFFFFFFFu);
    int from_first = 0;
    for (int pair = 0; pair < 200; ++pair) {
        int sites[2];
        engine.cross(sites);
        const std::uint32_t part = ithruj2int(27, 36, engine.c1());
        ASSERT_TRUE(part == 0u || part == 1023u) << part;
        ASSERT_EQ(ithruj2int(27, 36, engine.c2()), part ^ 1023u);
        from_first += part == 0u ? 1 : 0;
        // Bits past lchrom (70) stay clear in both children.
        ASSERT_EQ(engine.c1()[2] >> 6, 0u);
        ASSERT_EQ(engine.c2()[2] >> 6, 0u);
    }
    EXPECT_GT(from_first, 60);
    EXPECT_LT(from_first, 140);
}

TEST(OnePointCrossover, ACutInsideAWordSplitsItAtTheSite) {
    CrossoverEngine engine(CrossoverMethod::one_point);
    std::fill(engine.p1(), engine.p1() + engine.words(), 0u);
    std::fill(engine.p2(), engine.p2() + engine.words(), 0xFFFFFFFFu);
    for (int pair = 0; pair < 100; ++pair) {
        int sites[2];
        engine.cross(sites);
        const int a = sites[0];
        for (int bit = 1; bit <= 96; ++bit) {
            const std::uint32_t expected = bit <= a ? 0u : 1u;
            ASSERT_EQ(ithruj2int(bit, bit, engine.c1()), expected) << "bit " << bit;
            ASSERT_EQ(ithruj2int(bit, bit, engine.c2()), 1u - expected) << "bit " << bit;
        }
    }
}

TEST(Crossover, AnUnknownCodeIsRefusedBeforeAnyDraw) {
    CrossoverEngine engine(static_cast<CrossoverMethod>(3));
    const int cursor = engine.rng.cursor();
    int sites[2];
    EXPECT_THROW(engine.cross(sites), EngineFault);
    EXPECT_EQ(engine.rng.cursor(), cursor);
}

}  // namespace
}  // namespace velmora
