#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "diagnostics/companion.hpp"
#include "diagnostics/model_diagnostics.hpp"
#include "diagnostics/residual_tests.hpp"
#include "diagnostics_reference.hpp"
#include "output/diagnostics_text.hpp"

namespace velmora {
namespace {

using diagnostics::arch_test;
using diagnostics::chi_squared_upper;
using diagnostics::companion_moduli;
using diagnostics::normality_test;
using diagnostics::portmanteau_test;
using testing::Rows;

// Residual-like rows: correlated components, some autocorrelation, skewed
// shocks and volatility clustering, so that every statistic is far from 0.
Rows residual_rows(int n, int k, unsigned seed) {
    std::mt19937_64 gen(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::exponential_distribution<double> skewed(1.0);
    Rows rows;
    std::vector<double> previous(static_cast<std::size_t>(k), 0.0);
    double volatility = 1.0;
    for (int t = 0; t < n; ++t) {
        const double common = normal(gen);
        std::vector<double> row;
        for (int c = 0; c < k; ++c) {
            const double shock = c % 2 == 0 ? normal(gen) : skewed(gen) - 1.0;
            row.push_back(volatility * (shock + 0.5 * common) +
                          0.3 * previous[static_cast<std::size_t>(c)] + 0.1 * c);
        }
        volatility = std::sqrt(0.4 + 0.5 * row[0] * row[0] / (1.0 + row[0] * row[0]) +
                               0.3 * volatility * volatility);
        previous = row;
        rows.push_back(row);
    }
    return rows;
}

std::vector<double> flat(const Rows& rows) {
    std::vector<double> out;
    for (const auto& row : rows) {
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

TEST(ChiSquared, UpperTailMatchesTheFiniteSums) {
    for (int df : {1, 2, 3, 4, 7, 10, 45, 144}) {
        for (double x : {0.3, 1.0, 4.5, 17.0, 60.0, 150.0}) {
            const double expected = testing::reference_chi_squared_upper(x, df);
            EXPECT_NEAR(chi_squared_upper(x, df), expected, 1e-12 + 1e-10 * expected)
                << "df " << df << ", x " << x;
        }
    }
    EXPECT_EQ(chi_squared_upper(0.0, 4), 1.0);
    EXPECT_TRUE(std::isnan(chi_squared_upper(3.0, 0)));
    EXPECT_TRUE(std::isnan(chi_squared_upper(3.0, -8)));
}

TEST(ResidualTests, StatisticsEqualDirectSums) {
    for (int k : {1, 2, 3}) {
        const Rows rows = residual_rows(400, k, 17u + static_cast<unsigned>(k));
        const std::vector<double> values = flat(rows);

        const auto q = portmanteau_test(values, k, 12, 2);
        const auto expected = testing::reference_portmanteau(rows, 12);
        ASSERT_TRUE(q.computed);
        EXPECT_EQ(q.observations, 400);
        EXPECT_EQ(q.degrees_of_freedom, k * k * 10);
        EXPECT_NEAR(q.statistic, expected.statistic, 1e-8 * std::max(1.0, expected.statistic));
        EXPECT_NEAR(q.adjusted_statistic, expected.adjusted,
                    1e-8 * std::max(1.0, expected.adjusted));
        EXPECT_GT(q.adjusted_statistic, q.statistic);
        EXPECT_NEAR(q.p_value, testing::reference_chi_squared_upper(q.statistic, k * k * 10),
                    1e-12);

        const auto jb = normality_test(values, k);
        ASSERT_TRUE(jb.computed);
        EXPECT_EQ(jb.degrees_of_freedom, 2 * k);
        const double jb_expected = testing::reference_jarque_bera(rows);
        EXPECT_NEAR(jb.statistic, jb_expected, 1e-8 * std::max(1.0, jb_expected));
        EXPECT_NEAR(jb.skewness_statistic + jb.kurtosis_statistic, jb.statistic, 1e-9);

        const auto arch = arch_test(values, k, 5);
        ASSERT_TRUE(arch.computed);
        const int d = k * (k + 1) / 2;
        EXPECT_EQ(arch.degrees_of_freedom, 5 * d * d);
        EXPECT_EQ(arch.observations, 395);
        const double arch_expected = testing::reference_arch(rows, 5);
        EXPECT_NEAR(arch.statistic, arch_expected, 1e-8 * std::max(1.0, arch_expected));
        EXPECT_NEAR(arch.p_value, testing::reference_chi_squared_upper(arch.statistic, 5 * d * d),
                    1e-12);
    }
}

TEST(ResidualTests, NormalityIgnoresEachComponentsScale) {
    // The Cholesky factor takes up a positive rescaling of any component.
    Rows rows = residual_rows(300, 3, 5u);
    const double before = normality_test(flat(rows), 3).statistic;
    for (auto& row : rows) {
        row[0] *= 40.0;
        row[2] *= 0.01;
    }
    EXPECT_NEAR(normality_test(flat(rows), 3).statistic, before, 1e-9 * before);
}

TEST(ResidualTests, GaussianWhiteNoiseIsNotRejectedAndAnArProcessIs) {
    std::mt19937_64 gen(99);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<double> noise;
    std::vector<double> ar;
    double last = 0.0;
    for (int t = 0; t < 2000; ++t) {
        noise.push_back(normal(gen));
        noise.push_back(normal(gen));
        last = 0.7 * last + normal(gen);
        ar.push_back(last);
        ar.push_back(normal(gen));
    }
    EXPECT_GT(portmanteau_test(noise, 2, 12, 1).p_value, 0.001);
    EXPECT_LT(portmanteau_test(ar, 2, 12, 1).p_value, 1e-10);
    EXPECT_GT(normality_test(noise, 2).p_value, 0.001);
    EXPECT_GT(arch_test(noise, 2, 5).p_value, 0.001);
}

TEST(ResidualTests, TestsTheDataCannotSupportAreNotComputed) {
    const std::vector<double> ten = flat(residual_rows(10, 2, 3u));
    // As many lags as rows: no autocovariance at the last lag.
    const auto q = portmanteau_test(ten, 2, 10, 1);
    EXPECT_FALSE(q.computed);
    EXPECT_TRUE(std::isnan(q.statistic));
    // Fewer rows than the auxiliary regression's regressors.
    EXPECT_FALSE(arch_test(ten, 2, 5).computed);
    EXPECT_EQ(arch_test(ten, 2, 5).degrees_of_freedom, 45);
    // Two equal components: a singular covariance.
    Rows twins = residual_rows(200, 1, 8u);
    for (auto& row : twins) {
        row.push_back(row[0]);
    }
    EXPECT_FALSE(portmanteau_test(flat(twins), 2, 5, 1).computed);
    EXPECT_FALSE(normality_test(flat(twins), 2).computed);
    EXPECT_FALSE(normality_test({}, 2).computed);
    // No lag beyond the order: the statistic without degrees of freedom.
    const auto short_h = portmanteau_test(flat(residual_rows(200, 2, 4u)), 2, 2, 3);
    EXPECT_TRUE(short_h.computed);
    EXPECT_EQ(short_h.degrees_of_freedom, -4);
    EXPECT_TRUE(std::isnan(short_h.p_value));
}

// phi at [((lag-1)*k + variable)*k + equation], as a fitted regime holds it.
std::vector<double> coefficients(const std::vector<std::vector<std::vector<double>>>& a) {
    const std::size_t k = a.front().size();
    std::vector<double> phi(a.size() * k * k);
    for (std::size_t lag = 0; lag < a.size(); ++lag) {
        for (std::size_t e = 0; e < k; ++e) {
            for (std::size_t v = 0; v < k; ++v) {
                phi[(lag * k + v) * k + e] = a[lag][e][v];
            }
        }
    }
    return phi;
}

TEST(Companion, ModuliAreTheRootsOfTheCharacteristicPolynomial) {
    // y_t = 1.1 y_{t-1} - 0.3 y_{t-2}: z^2 - 1.1 z + 0.3 = (z - 0.6)(z - 0.5).
    auto moduli = companion_moduli(coefficients({{{1.1}}, {{-0.3}}}), 1, 2);
    ASSERT_EQ(moduli.size(), 2u);
    EXPECT_NEAR(moduli[0], 0.6, 1e-12);
    EXPECT_NEAR(moduli[1], 0.5, 1e-12);

    // A rotation scaled by 0.9: the complex pair 0.9 (cos 0.7 +- i sin 0.7).
    const double c = 0.9 * std::cos(0.7);
    const double s = 0.9 * std::sin(0.7);
    moduli = companion_moduli(coefficients({{{c, -s}, {s, c}}}), 2, 1);
    ASSERT_EQ(moduli.size(), 2u);
    EXPECT_NEAR(moduli[0], 0.9, 1e-12);
    EXPECT_NEAR(moduli[1], 0.9, 1e-12);

    // Upper triangular A_1, A_2: det(z^2 I - A_1 z - A_2) is the product of
    // z^2 - a1_ii z - a2_ii over the diagonal, whatever lies above it.
    const std::vector<std::vector<std::vector<double>>> a = {
        {{0.5, 2.0, -1.0}, {0.0, 0.2, 3.0}, {0.0, 0.0, -0.4}},
        {{0.24, 5.0, 0.7}, {0.0, -0.5, -2.0}, {0.0, 0.0, 0.05}}};
    std::vector<double> expected;
    for (int i = 0; i < 3; ++i) {
        const double b = a[0][i][i];
        const double cc = a[1][i][i];
        const std::complex<double> root = std::sqrt(std::complex<double>(b * b + 4.0 * cc, 0.0));
        expected.push_back(std::abs((b + root) / 2.0));
        expected.push_back(std::abs((b - root) / 2.0));
    }
    std::sort(expected.rbegin(), expected.rend());
    moduli = companion_moduli(coefficients(a), 3, 2);
    ASSERT_EQ(moduli.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_NEAR(moduli[i], expected[i], 1e-10) << i;
    }
    EXPECT_TRUE(companion_moduli(std::vector<double>{0.1, 0.2}, 1, 1).empty());  // wrong size
}

// A model of two regimes whose times interleave, its residuals given by
// hand.
FittedModel two_regime_model() {
    FittedModel model;
    model.k = 1;
    model.m = 1;
    model.n_regime = 2;
    model.order_reached = 1;
    RegimeFit low;
    low.times = {2, 3, 6};
    low.residuals = {20.0, 30.0, 60.0};
    low.phi = {1.25};
    RegimeFit high;
    high.times = {4, 5, 7};
    high.residuals = {40.0, 50.0, 70.0};
    high.phi = {-0.5};
    model.passes = {{low, high}};
    return model;
}

TEST(ModelDiagnostics, ResidualsAreMergedInTimeOrderAndEachRegimeJudged) {
    const FittedModel model = two_regime_model();
    EXPECT_EQ(diagnostics::residuals_in_time_order(model),
              (std::vector<double>{20.0, 30.0, 40.0, 50.0, 60.0, 70.0}));
    const diagnostics::ModelDiagnostics d = diagnostics::diagnose(model, {2, 3});
    EXPECT_EQ(d.observations, 6);
    ASSERT_EQ(d.companion_moduli.size(), 2u);
    EXPECT_NEAR(d.companion_moduli[0][0], 1.25, 1e-15);
    EXPECT_NEAR(d.companion_moduli[1][0], 0.5, 1e-15);
    EXPECT_EQ(d.explosive, (std::vector<bool>{true, false}));
    ASSERT_EQ(d.normality_by_regime.size(), 2u);
    EXPECT_EQ(d.normality_by_regime[1].observations, 3);
    EXPECT_NEAR(d.portmanteau.statistic,
                testing::reference_portmanteau({{20}, {30}, {40}, {50}, {60}, {70}}, 2).statistic,
                1e-10);

    const nlohmann::json json = diagnostics::diagnostics_json(d);
    EXPECT_EQ(json["portmanteau"]["lags"], 2);
    EXPECT_EQ(json["arch"]["lags"], 3);
    // Three rows after three lags cannot carry four regressors.
    EXPECT_TRUE(json["arch"]["statistic"].is_null());
    EXPECT_EQ(json["explosive"], nlohmann::json::array({true, false}));
    EXPECT_EQ(json["normality_by_regime"].size(), 2u);

    const std::string text = diagnostics::format_diagnostics_summary(d);
    EXPECT_NE(text.find("Regime 1 companion eigenvalue moduli: 1.2500 (explosive"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Regime 2 companion eigenvalue moduli: 0.5000.\n"), std::string::npos)
        << text;
}

TEST(ModelDiagnostics, AModelThatWasNotEstimatedHasNone) {
    FittedModel model = two_regime_model();
    model.status = EstimateStatus::singular_regression;
    const diagnostics::ModelDiagnostics d = diagnostics::diagnose(model);
    EXPECT_EQ(d.observations, 0);
    EXPECT_FALSE(d.portmanteau.computed);
    EXPECT_TRUE(d.companion_moduli.empty());
}

}  // namespace
}  // namespace velmora
