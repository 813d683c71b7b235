#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "engine_test_helpers.hpp"
#include "support/errors.hpp"

namespace velmora {
namespace {

using testing::EngineFixture;

struct MutationEngine : EngineFixture {
    explicit MutationEngine(float pmutation,
                            std::vector<int> sizes = testing::velmora_field_sizes())
        : EngineFixture(2, sizes) {
        params.pmutation = pmutation;
        allocate();
        seed(555);
        codes.random_seed_from_casual(556, unused, log.file);
    }
    std::uint32_t* chrom() { return state.newpop[0].chrom; }
    int numfields() const { return state.layout.numfields; }
    std::vector<std::uint32_t> fields() {
        std::vector<std::uint32_t> out;
        for (int k = 0; k < numfields(); ++k) {
            out.push_back(getfield(k, state.layout, chrom()));
        }
        return out;
    }
    void randomise() {
        for (int k = 0; k < numfields(); ++k) {
            putfield(
                k, state.layout,
                static_cast<std::uint32_t>(codes.random_int(0, state.layout.field_sizes[k] - 1)),
                chrom());
        }
    }
    int draws_since(int& cursor) {
        const int now = rng.cursor();
        const int used = (now - cursor + 54) % 54;
        cursor = now;
        return used;
    }

    RandomGenerator codes;  // a stream of its own for the test chromosomes
    float unused = 0.0f;
};

class MutationRates : public ::testing::TestWithParam<float> {};

TEST_P(MutationRates, AMutatedFieldTakesAnotherCodeOfItsOwnAlphabet) {
    MutationEngine engine(GetParam());
    const bool dense = GetParam() >= 0.0957f;
    int changed_total = 0;
    for (int trial = 0; trial < 500; ++trial) {
        engine.randomise();
        const std::vector<std::uint32_t> before = engine.fields();
        const int nmutation = engine.state.nmutation;
        bitmutat(engine.state, engine.chrom());
        const std::vector<std::uint32_t> after = engine.fields();
        int changed = 0;
        for (int k = 0; k < engine.numfields(); ++k) {
            ASSERT_LT(after[k], static_cast<std::uint32_t>(engine.state.layout.field_sizes[k]))
                << "field " << k;
            changed += after[k] != before[k] ? 1 : 0;
        }
        // Each field mutates at most once in the dense scheme, so every
        // mutation shows; in the sparse one a field may be hit twice.
        if (dense) {
            ASSERT_EQ(engine.state.nmutation - nmutation, changed);
        } else {
            ASSERT_GE(engine.state.nmutation - nmutation, changed);
        }
        changed_total += changed;
    }
    EXPECT_GT(changed_total, 100);
    EXPECT_EQ(engine.state.mutation.chrom_mutation_rate >= 0.8f, dense);
}

INSTANTIATE_TEST_SUITE_P(DenseAndSparse, MutationRates, ::testing::Values(0.3f, 0.05f));

TEST(Mutation, BinaryFieldsFlip) {
    MutationEngine engine(0.5f, std::vector<int>(20, 2));
    for (int trial = 0; trial < 200; ++trial) {
        engine.randomise();
        const std::vector<std::uint32_t> before = engine.fields();
        const int nmutation = engine.state.nmutation;
        bitmutat(engine.state, engine.chrom());
        const std::vector<std::uint32_t> after = engine.fields();
        int flipped = 0;
        for (int k = 0; k < engine.numfields(); ++k) {
            flipped += after[k] == (before[k] ^ 1u) ? 1 : 0;
            ASSERT_LE(after[k], 1u);
        }
        ASSERT_EQ(flipped, engine.state.nmutation - nmutation);
    }
}

TEST(Mutation, ZeroRateDrawsOneCoinAndChangesNothing) {
    MutationEngine engine(0.0f);
    int cursor = engine.rng.cursor();
    for (int trial = 0; trial < 100; ++trial) {
        engine.randomise();
        const std::vector<std::uint32_t> before = engine.fields();
        bitmutat(engine.state, engine.chrom());
        ASSERT_EQ(engine.draws_since(cursor), 1);
        ASSERT_EQ(engine.fields(), before);
    }
    EXPECT_EQ(engine.state.nmutation, 0);
    EXPECT_EQ(engine.state.mutation.chrom_mutation_rate, 0.0f);
    EXPECT_EQ(engine.state.mutation.mutation_rate_seen, 0.0);
}

TEST(Mutation, NegativeRateNeverMutates) {
    MutationEngine engine(-0.25f);
    int cursor = engine.rng.cursor();
    for (int trial = 0; trial < 50; ++trial) {
        bitmutat(engine.state, engine.chrom());
        ASSERT_EQ(engine.draws_since(cursor), 1);
    }
    EXPECT_LT(engine.state.mutation.chrom_mutation_rate, 0.0f);
    EXPECT_EQ(engine.state.nmutation, 0);
}

TEST(Mutation, RateOfOneOrMoreIsAFaultEveryTime) {
    for (float bad : {1.0f, 1.5f}) {
        MutationEngine engine(bad);
        for (int call = 0; call < 2; ++call) {
            try {
                bitmutat(engine.state, engine.chrom());
                ADD_FAILURE() << "no fault for " << bad;
            } catch (const EngineFault& fault) {
                EXPECT_STREQ(fault.what(), "\n*** Bad mutation rate specified, exiting.\n");
            }
        }
        EXPECT_EQ(engine.state.nmutation, 0);
    }
}

TEST(Mutation, ChromosomeRateIsRecomputedOnlyWhenTheFieldRateChanges) {
    MutationEngine engine(0.001f);
    bitmutat(engine.state, engine.chrom());
    const float expected = static_cast<float>(1.0 - std::pow(1.0 - 0.001f, 16));
    EXPECT_EQ(engine.state.mutation.chrom_mutation_rate, expected);
    EXPECT_NEAR(expected, 0.0159, 1e-4);
    EXPECT_EQ(engine.state.mutation.mutation_rate_seen, static_cast<double>(0.001f));

    // Same rate: the stored chromosome rate is used as it stands.
    engine.state.mutation.chrom_mutation_rate = 0.0f;
    bitmutat(engine.state, engine.chrom());
    EXPECT_EQ(engine.state.mutation.chrom_mutation_rate, 0.0f);

    engine.params.pmutation = 0.2f;
    bitmutat(engine.state, engine.chrom());
    EXPECT_GT(engine.state.mutation.chrom_mutation_rate, 0.8f);
}

TEST(Mutation, DenseSchemeDrawsOneCoinPerFieldBesidesRedraws) {
    // 0.1 on 16 fields gives a chromosome rate of 0.81: the dense scheme.
    MutationEngine engine(0.1f);
    int cursor = engine.rng.cursor();
    int untouched_calls = 0;
    for (int trial = 0; trial < 200; ++trial) {
        const int nmutation = engine.state.nmutation;
        bitmutat(engine.state, engine.chrom());
        const int used = engine.draws_since(cursor);
        const int mutations = engine.state.nmutation - nmutation;
        if (mutations == 0) {
            ++untouched_calls;
            ASSERT_EQ(used, 16);
        } else if (mutations <= 2) {
            // Redraws of at most two mutations cannot wrap the cursor here.
            ASSERT_GE(used, 16 + mutations);
        }
    }
    EXPECT_GT(untouched_calls, 10);
}

TEST(Mutation, SparseSchemeStopsAtTheFirstFailedCoin) {
    MutationEngine engine(0.001f);
    int cursor = engine.rng.cursor();
    for (int trial = 0; trial < 300; ++trial) {
        const int nmutation = engine.state.nmutation;
        bitmutat(engine.state, engine.chrom());
        const int used = engine.draws_since(cursor);
        if (engine.state.nmutation == nmutation) {
            ASSERT_EQ(used, 1);
        }
    }
}

}  // namespace
}  // namespace velmora
