#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "engine_test_helpers.hpp"
#include "support/errors.hpp"

namespace velmora {
namespace {

using testing::EngineFixture;
using testing::make_layout;

std::string fault_text(const std::function<void()>& action) {
    try {
        action();
    } catch (const EngineFault& fault) {
        EXPECT_EQ(fault.exit_status(), 255);
        return fault.what();
    }
    ADD_FAILURE() << "no EngineFault";
    return {};
}

TEST(Bits, RangeAcrossAWordBoundaryRoundTripsWithoutTouchingNeighbours) {
    std::uint32_t chrom[3] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xA5A5A5A5u};
    int2ithruj(31, 34, 0x0u, chrom);
    EXPECT_EQ(chrom[0], 0x3FFFFFFFu);  // bits 31 and 32 cleared
    EXPECT_EQ(chrom[1], 0xFFFFFFFCu);  // bits 33 and 34 cleared
    int2ithruj(31, 34, 0xDu, chrom);   // 1101: bits 31, 33, 34 set; 32 clear
    EXPECT_EQ(chrom[0], 0x7FFFFFFFu);
    EXPECT_EQ(chrom[1], 0xFFFFFFFFu);
    EXPECT_EQ(ithruj2int(31, 34, chrom), 0xDu);
    EXPECT_EQ(ithruj2int(30, 30, chrom), 1u);
    EXPECT_EQ(ithruj2int(35, 35, chrom), 1u);
    EXPECT_EQ(chrom[2], 0xA5A5A5A5u);
}

TEST(Bits, ValueReadsLowestNumberedBitAsLeastSignificant) {
    std::uint32_t chrom[2] = {0u, 0u};
    chrom[0] = 1u << 4;  // bit 5
    EXPECT_EQ(ithruj2int(5, 8, chrom), 1u);
    EXPECT_EQ(ithruj2int(4, 8, chrom), 2u);
    chrom[1] = 1u;  // bit 33
    EXPECT_EQ(ithruj2int(33, 33, chrom), 1u);
    EXPECT_EQ(ithruj2int(32, 33, chrom), 2u);
}

TEST(Bits, FullWordRangesAreAccepted) {
    std::uint32_t chrom[2] = {0u, 0u};
    int2ithruj(1, 32, 0xDEADBEEFu, chrom);
    EXPECT_EQ(chrom[0], 0xDEADBEEFu);
    EXPECT_EQ(chrom[1], 0u);
    EXPECT_EQ(ithruj2int(1, 32, chrom), 0xDEADBEEFu);
    int2ithruj(33, 64, 0x12345678u, chrom);
    EXPECT_EQ(ithruj2int(33, 64, chrom), 0x12345678u);
    // 32 bits spread over two words.
    int2ithruj(17, 48, 0xCAFEF00Du, chrom);
    EXPECT_EQ(ithruj2int(17, 48, chrom), 0xCAFEF00Du);
    EXPECT_EQ(ithruj2int(1, 16, chrom), 0xBEEFu);
    EXPECT_EQ(ithruj2int(49, 64, chrom), 0x1234u);
}

TEST(Bits, BadRangesRaiseTheAccessorFaults) {
    std::uint32_t chrom[3] = {0u, 0u, 0u};
    EXPECT_EQ(fault_text([&] { ithruj2int(5, 4, chrom); }), "Error in ithruj2int: j < i\n");
    EXPECT_EQ(fault_text([&] { ithruj2int(1, 33, chrom); }),
              "Error in ithruj2int: j-i+1 > UINTSIZE\n");
    // The writer reports under the reader's name and leaves the words alone.
    EXPECT_EQ(fault_text([&] { int2ithruj(5, 4, 1u, chrom); }), "Error in ithruj2int: j < i\n");
    EXPECT_EQ(fault_text([&] { int2ithruj(2, 34, 1u, chrom); }),
              "Error in ithruj2int: j-i+1 > UINTSIZE\n");
    EXPECT_EQ(chrom[0], 0u);
    EXPECT_EQ(chrom[1], 0u);
}

TEST(Fields, EveryFieldRoundTripsAndLeavesTheOthersUnchanged) {
    const ChromosomeLayout layout = make_layout(testing::velmora_field_sizes());
    ASSERT_EQ(layout.lchrom, 70);
    ASSERT_EQ(layout.chromsize, 3);
    std::vector<std::uint32_t> chrom(layout.chromsize, 0u);
    std::vector<std::uint32_t> codes(layout.numfields);
    for (int k = 0; k < layout.numfields; ++k) {
        codes[k] = static_cast<std::uint32_t>((k * 37 + 5) % layout.field_sizes[k]);
        putfield(k, layout, codes[k], chrom.data());
    }
    for (int k = 0; k < layout.numfields; ++k) {
        // Overwrite field k with its largest code and then restore it.
        putfield(k, layout, static_cast<std::uint32_t>(layout.field_sizes[k] - 1), chrom.data());
        for (int other = 0; other < layout.numfields; ++other) {
            if (other != k) {
                ASSERT_EQ(getfield(other, layout, chrom.data()), codes[other])
                    << "field " << other << " changed by writing field " << k;
            }
        }
        EXPECT_EQ(getfield(k, layout, chrom.data()),
                  static_cast<std::uint32_t>(layout.field_sizes[k] - 1));
        putfield(k, layout, codes[k], chrom.data());
    }
    // Only bits 1..lchrom are ever touched.
    putfield(layout.numfields - 1, layout, 7u, chrom.data());
    EXPECT_EQ(chrom[2] >> (layout.lchrom - 64), 0u);
}

TEST(Fields, FieldNumberOutOfRangeRaisesTheFieldFaults) {
    const ChromosomeLayout layout = make_layout(testing::velmora_field_sizes());
    std::vector<std::uint32_t> chrom(layout.chromsize, 0u);
    EXPECT_EQ(fault_text([&] { getfield(16, layout, chrom.data()); }),
              " Error in call to getfield, n (= 16) >= nbroffields (= 16)");
    EXPECT_EQ(fault_text([&] { putfield(16, layout, 1u, chrom.data()); }),
              " Error in call to putfield, n (= 16) >= nbroffields (= 16)");
    EXPECT_THROW(getfield(-1, layout, chrom.data()), EngineFault);
    putfield(15, layout, 5u, chrom.data());
    EXPECT_EQ(getfield(15, layout, chrom.data()), 5u);
    EXPECT_EQ(ithruj2int(68, 70, chrom.data()), 5u);  // last field ends at lchrom
}

TEST(Storage, ChromosomesAreInterleavedInOneBlock) {
    EngineFixture engine(6);
    engine.allocate();
    EngineState& state = engine.state;
    const int chromsize = state.layout.chromsize;
    ASSERT_EQ(state.chrom_space.size(), static_cast<std::size_t>(2 * 6 * chromsize));
    ASSERT_EQ(state.evaluate.size(), 6u);
    std::set<const std::uint32_t*> distinct;
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(state.oldpop[i].chrom, state.chrom_space.data() + 2 * i * chromsize);
        EXPECT_EQ(state.newpop[i].chrom, state.chrom_space.data() + (2 * i + 1) * chromsize);
        distinct.insert(state.oldpop[i].chrom);
        distinct.insert(state.newpop[i].chrom);
        EXPECT_EQ(state.oldpop[i].utility, nullptr);
    }
    EXPECT_EQ(distinct.size(), 12u);
    EXPECT_NE(state.oldpop, state.newpop);
}

TEST(Storage, FreeAllReleasesEverythingAndAReplicationReallocatesWithItsOwnSizes) {
    EngineFixture engine(4);
    engine.params.selection = SelectionMethod::remainder;
    engine.hooks.data_size = 8;
    engine.allocate();
    allocate_utilities(engine.state);
    EngineState& state = engine.state;
    EXPECT_EQ(state.selection.choices.size(), 4u);
    EXPECT_EQ(state.selection.fraction.size(), 4u);

    free_all(state);
    EXPECT_EQ(state.oldpop, nullptr);
    EXPECT_EQ(state.newpop, nullptr);
    EXPECT_TRUE(state.chrom_space.empty());
    EXPECT_TRUE(state.evaluate.empty());
    EXPECT_TRUE(state.layout.field_sizes.empty());
    EXPECT_TRUE(state.layout.field_ends.empty());
    EXPECT_TRUE(state.utility_blocks.empty());
    EXPECT_TRUE(state.selection.choices.empty());
    EXPECT_TRUE(state.selection.fraction.empty());

    // Next replication: other sizes, another method.
    engine.params.popsize = 10;
    engine.params.numfields = 3;
    engine.params.selection = SelectionMethod::tournament;
    engine.params.tourneysize = 2;
    allocate_field_tables(state);
    EXPECT_EQ(state.layout.field_sizes.size(), 3u);
    EXPECT_EQ(state.layout.field_ends.size(), 3u);
    EXPECT_EQ(state.layout.numfields, 3);
    state.layout = make_layout({2, 40, 3});
    allocate_population(state);
    allocate_utilities(state);
    EXPECT_EQ(state.chrom_space.size(), static_cast<std::size_t>(2 * 10 * 1));
    EXPECT_EQ(state.selection.tourneylist.size(), 10u);
    EXPECT_TRUE(state.selection.choices.empty());
    EXPECT_EQ(state.utility_blocks.size(), 20u);
    EXPECT_EQ(state.newpop[9].chrom, state.chrom_space.data() + 19);
}

TEST(Storage, FieldTablesAreNotReallocatedWhenPresent) {
    EngineFixture engine(4);
    EngineState& state = engine.state;
    state.layout.field_sizes[0] = 99;
    allocate_field_tables(state);
    EXPECT_EQ(state.layout.field_sizes[0], 99);
}

TEST(Storage, UtilityBlocksAreCopiedOnlyWhenTheApplicationKeepsData) {
    EngineFixture engine(2);
    engine.hooks.data_size = 4;
    engine.allocate();
    allocate_utilities(engine.state);
    EngineState& state = engine.state;
    std::memcpy(state.oldpop[0].utility, "abcd", 4);
    copy_utility(state, state.newpop[1].utility, state.oldpop[0].utility);
    EXPECT_EQ(std::memcmp(state.newpop[1].utility, "abcd", 4), 0);
    EXPECT_NE(state.newpop[1].utility, state.oldpop[1].utility);

    engine.hooks.data_size = 0;
    std::memcpy(state.oldpop[1].utility, "wxyz", 4);
    copy_utility(state, state.newpop[1].utility, state.oldpop[1].utility);
    EXPECT_EQ(std::memcmp(state.newpop[1].utility, "abcd", 4), 0);
}

TEST(Storage, OutOfMemoryIsLoggedAndRaised) {
    EngineFixture engine(2);
    EXPECT_EQ(fault_text([&] { out_of_memory(engine.state, "evaluate"); }),
              "malloc: out of memory making evaluate!!\n");
    EXPECT_EQ(engine.log.contents(), "malloc: out of memory making evaluate!!\n");
}

}  // namespace
}  // namespace velmora
