#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model/problem.hpp"
#include "model/structure.hpp"
#include "model/structure_key.hpp"
#include "model_test_helpers.hpp"
#include "support/errors.hpp"

namespace velmora {
namespace {

FieldCodes codes(std::initializer_list<std::uint32_t> values) {
    FieldCodes out{};
    std::size_t i = 0;
    for (std::uint32_t v : values) {
        out[i++] = v;
    }
    return out;
}

TEST(DecodeStructure, OneThresholdRegimeCodesZeroAndOneBothMeanTwo) {
    for (std::uint32_t code : {0u, 1u}) {
        const ModelStructure s =
            decode_structure(codes({0, 1, 0, 0, code, 17, 400, 900, 0, 0, 0, 0, 0, 4, 0, 0}));
        ASSERT_EQ(s.threshold_variables, 1);
        EXPECT_EQ(s.one.n_regime, 2) << "code " << code;
        EXPECT_EQ(s.one.which_serie, 2);
        EXPECT_EQ(s.one.threshold_lag, 5);
        EXPECT_EQ(s.one.pos_threshold[0], 17);
    }
    EXPECT_EQ(decode_structure(codes({0, 0, 0, 0, 2})).one.n_regime, 3);
    EXPECT_EQ(decode_structure(codes({0, 0, 0, 0, 3})).one.n_regime, 4);
}

TEST(DecodeStructure, EqualThresholdComponentsBecomeOneAndTwo) {
    struct Case {
        std::uint32_t c2, c3;
        int want1, want2;
    };
    for (const Case& c : {Case{0, 0, 1, 2}, Case{0, 1, 1, 2}, Case{1, 1, 1, 2}, Case{1, 0, 2, 1}}) {
        const ModelStructure s =
            decode_structure(codes({1, 0, c.c2, c.c3, 0, 0, 0, 0, 5, 6, 0, 0, 0, 0, 2, 3}));
        ASSERT_EQ(s.threshold_variables, 2);
        EXPECT_EQ(s.two.which_serie1, c.want1) << c.c2 << "," << c.c3;
        EXPECT_EQ(s.two.which_serie2, c.want2) << c.c2 << "," << c.c3;
        EXPECT_EQ(s.two.pos_thres_1, 5);
        EXPECT_EQ(s.two.pos_thres_2, 6);
        EXPECT_EQ(s.two.Ritardo1, 3);
        EXPECT_EQ(s.two.Ritardo2, 4);
    }
}

TEST(DecodeStructure, RegimeLayoutFields) {
    auto two = [](std::uint32_t f10, std::uint32_t f11) {
        return decode_structure(codes({1, 0, 0, 1, 0, 0, 0, 0, 1, 1, f10, f11, 0, 0, 0, 0})).two;
    };
    for (std::uint32_t f11 = 0; f11 < 4; ++f11) {
        // Field 11 is read only when field 10 is 1.
        EXPECT_EQ(two(0, f11).n_regime, 4);
        EXPECT_EQ(two(0, f11).type_model, 0);
    }
    EXPECT_EQ(two(1, 0).n_regime, 4);
    EXPECT_EQ(two(1, 0).type_model, 0);
    for (std::uint32_t f11 = 1; f11 < 4; ++f11) {
        EXPECT_EQ(two(1, f11).n_regime, 3);
        EXPECT_EQ(two(1, f11).type_model, static_cast<int>(f11));
    }
}

TEST(Fitness, MapsTheCriterionAndTreatsNotEstimableAsZero) {
    EXPECT_EQ(fitness_from_criterion(0.0), 0.0);
    EXPECT_EQ(fitness_from_criterion(std::numeric_limits<double>::quiet_NaN()), 0.0);
    EXPECT_EQ(fitness_from_criterion(-std::numeric_limits<double>::infinity()), 0.0);
    EXPECT_DOUBLE_EQ(fitness_from_criterion(-100.0), std::exp(1.0));
    EXPECT_DOUBLE_EQ(fitness_from_criterion(100.0), std::exp(-1.0));
    EXPECT_NEAR(fitness_from_criterion(-100.0), 2.718282, 1e-6);
}

TEST(FieldSizes, FollowTheNumberOfObservations) {
    const auto sizes = structure_field_sizes(1000);
    const std::array<int, 16> want{2, 2, 2, 2, 4, 1000, 1000, 1000, 1000, 1000, 2, 4, 4, 6, 6, 6};
    EXPECT_EQ(sizes, want);
    EXPECT_EQ(structure_field_sizes(1025)[7], 1025);
}

TEST(ProblemValidation, RefusesSizesTheEstimatorsCannotHandle) {
    const auto fault = [](int n_oss, int n_comp, int m, int min_oss_reg) {
        ModelDefinition model;
        model.max_order = m;
        model.min_obs_per_regime = min_oss_reg;
        return validate(model, n_oss, n_comp).has_value();
    };
    EXPECT_FALSE(fault(30, 2, 1, 2));
    EXPECT_TRUE(fault(1000, 1, 2, 50));
    EXPECT_TRUE(fault(29, 4, 2, 50));
    EXPECT_TRUE(fault(1000, 4, 0, 50));
    EXPECT_TRUE(fault(1000, 4, 5, 50));
    EXPECT_TRUE(fault(1000, 4, 2, 1));
    testing::ProblemFixture fx(testing::random_series(40, 2, 1), 50, 2, 2, 5);
    EXPECT_THROW(check_series(fx.problem), ConfigError);  // series shorter than n_oss
}

class StructureKeyTest : public ::testing::Test {
  protected:
    testing::ProblemFixture fx{testing::random_series(200, 3, 3), 200, 3, 2, 5};
    StructureKey key(const FieldCodes& c) { return structure_key(fx.problem, decode_structure(c)); }
};

TEST_F(StructureKeyTest, UnusedFieldsDoNotSeparateStructures) {
    // One threshold variable, two regimes: fields 2, 3, 6 to 12, 14, 15 unused.
    const auto base = key(codes({0, 1, 0, 0, 1, 40, 7, 8, 9, 10, 0, 0, 0, 2, 0, 0}));
    EXPECT_EQ(base, key(codes({0, 1, 1, 1, 1, 40, 99, 150, 3, 4, 1, 3, 2, 2, 5, 5})));
    // Codes 0 and 1 of field 4 are the same two-regime model.
    EXPECT_EQ(base, key(codes({0, 1, 0, 0, 0, 40, 7, 8, 9, 10, 0, 0, 0, 2, 0, 0})));
    // Two threshold variables, four regimes: fields 1, 4 to 7, 11, 12, 13 unused.
    const auto two = key(codes({1, 0, 0, 1, 0, 0, 0, 0, 12, 34, 0, 0, 0, 0, 1, 2}));
    EXPECT_EQ(two, key(codes({1, 1, 0, 1, 3, 5, 6, 7, 12, 34, 0, 3, 1, 5, 1, 2})));
    // Position 0 is time 1 in the two-threshold model.
    EXPECT_EQ(key(codes({1, 0, 0, 1, 0, 0, 0, 0, 0, 34, 0, 0, 0, 0, 1, 2})),
              key(codes({1, 0, 0, 1, 0, 0, 0, 0, 1, 34, 0, 0, 0, 0, 1, 2})));
    // ... and time 30 in the one-threshold model; the order of positions does
    // not matter once the thresholds are sorted.
    EXPECT_EQ(key(codes({0, 0, 0, 0, 2, 0, 60, 0, 0, 0, 0, 0, 0, 0, 0, 0})),
              key(codes({0, 0, 0, 0, 2, 60, 30, 0, 0, 0, 0, 0, 0, 0, 0, 0})));
}

TEST_F(StructureKeyTest, UsedFieldsSeparateStructures) {
    struct Change {
        int field;
        std::uint32_t code;
    };
    const FieldCodes one = codes({0, 1, 0, 0, 2, 40, 80, 8, 9, 10, 0, 0, 0, 2, 0, 0});
    for (const Change& c : {Change{0, 1}, Change{1, 0}, Change{4, 3}, Change{5, 100},
                            Change{6, 120}, Change{13, 4}}) {
        FieldCodes changed = one;
        changed[static_cast<std::size_t>(c.field)] = c.code;
        EXPECT_NE(key(changed), key(one)) << "field " << c.field;
    }
    // Components (2, 1); a change to field 2 makes the pair (1, 2).
    const FieldCodes two = codes({1, 0, 1, 0, 0, 0, 0, 0, 12, 34, 1, 2, 0, 0, 1, 2});
    for (const Change& c : {Change{2, 0}, Change{8, 50}, Change{9, 50}, Change{10, 0},
                            Change{11, 3}, Change{14, 4}, Change{15, 4}}) {
        FieldCodes changed = two;
        changed[static_cast<std::size_t>(c.field)] = c.code;
        EXPECT_NE(key(changed), key(two)) << "field " << c.field;
    }
}

}  // namespace
}  // namespace velmora
