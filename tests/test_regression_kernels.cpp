// The fixed-size regression kernels against the general loops, bit for bit,
// for every component count and order they cover.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "model/regression_kernels.hpp"

namespace velmora::detail {
namespace {

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    // memcmp may not be given the null data of an empty vector.
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

std::vector<double> random_values(std::size_t count, std::mt19937_64& gen) {
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<double> v(count);
    for (double& x : v) {
        x = normal(gen);
    }
    return v;
}

// Ascending times p+1..n, every one kept with probability 1/2, cut to count.
std::vector<int> random_times(int n, int p, int count, std::mt19937_64& gen) {
    std::vector<int> tt;
    for (int t = p + 1; t <= n && static_cast<int>(tt.size()) < count; ++t) {
        if (gen() % 2 == 0) {
            tt.push_back(t);
        }
    }
    return tt;
}

TEST(RegressionKernels, FixedSizesGiveTheGeneralLoopsBitsForEveryCoveredSize) {
    const int n_oss = 120;
    const RegimeKernels general = general_kernels();
    std::mt19937_64 gen(2024);
    for (int k : {2, 3, 4, 8}) {
        for (int p = 1; p <= 4; ++p) {
            const RegimeKernels fixed = select_kernels(k, p);
            // Some size must take a kernel of its own, or the test compares
            // the general loops with themselves.
            EXPECT_NE(fixed.cross_products, general.cross_products) << "k=" << k << " p=" << p;
            const int q = p * k;
            const auto kq = static_cast<std::size_t>(q);
            const auto kk = static_cast<std::size_t>(k);
            const std::vector<double> rev =
                random_values(static_cast<std::size_t>(n_oss) * kk, gen);
            const DesignView design = Design::over_reversed(rev.data(), n_oss, k);
            // Observation counts around the kernels' blocks of two and four.
            for (int count : {0, 1, 2, 3, 4, 5, 7, 8, 9, 31, 50}) {
                const std::vector<int> tt = random_times(n_oss, p, count, gen);
                const int n_r = static_cast<int>(tt.size());
                const auto rows = static_cast<std::size_t>(n_r);
                std::vector<double> zz_f(kq * kq), zz_g(kq * kq);
                fixed.cross_products(design, k, q, tt.data(), n_r, zz_f.data());
                general.cross_products(design, k, q, tt.data(), n_r, zz_g.data());
                EXPECT_TRUE(same_bits(zz_f, zz_g))
                    << "cross products k=" << k << " p=" << p << " n=" << n_r;

                const std::vector<double> zinv_t = random_values(kq * kq, gen);
                std::vector<double> w(kq), phi_f(kq * kk), phi_g(kq * kk);
                fixed.coefficients(design, k, q, tt.data(), n_r, zinv_t.data(), w.data(),
                                   phi_f.data());
                general.coefficients(design, k, q, tt.data(), n_r, zinv_t.data(), w.data(),
                                     phi_g.data());
                EXPECT_TRUE(same_bits(phi_f, phi_g))
                    << "coefficients k=" << k << " p=" << p << " n=" << n_r;

                const std::vector<double> phi = random_values(kq * kk, gen);
                std::vector<double> res_f(rows * kk), res_g(rows * kk);
                std::vector<double> fit_f(rows * kk), fit_g(rows * kk);
                fixed.residuals(design, k, q, tt.data(), n_r, phi.data(), res_f.data(),
                                fit_f.data());
                general.residuals(design, k, q, tt.data(), n_r, phi.data(), res_g.data(),
                                  fit_g.data());
                EXPECT_TRUE(same_bits(res_f, res_g))
                    << "residuals k=" << k << " p=" << p << " n=" << n_r;
                EXPECT_TRUE(same_bits(fit_f, fit_g))
                    << "fitted k=" << k << " p=" << p << " n=" << n_r;
                // Without the fitted values the residuals are the same.
                std::vector<double> res_only(rows * kk);
                fixed.residuals(design, k, q, tt.data(), n_r, phi.data(), res_only.data(), nullptr);
                EXPECT_TRUE(same_bits(res_only, res_f)) << "k=" << k << " p=" << p;

                if (n_r > 0) {
                    std::vector<double> medie_f(kk), medie_g(kk), sigma_f(kk * kk),
                        sigma_g(kk * kk);
                    fixed.covariance(res_f.data(), n_r, k, medie_f.data(), sigma_f.data());
                    general.covariance(res_f.data(), n_r, k, medie_g.data(), sigma_g.data());
                    EXPECT_TRUE(same_bits(medie_f, medie_g) && same_bits(sigma_f, sigma_g))
                        << "covariance k=" << k << " p=" << p << " n=" << n_r;
                }
            }
        }
    }
}

TEST(RegressionKernels, SizesWithoutAFixedKernelTakeTheGeneralLoops) {
    const RegimeKernels general = general_kernels();
    for (int k : {5, 6, 7, 9}) {
        const RegimeKernels chosen = select_kernels(k, 2);
        EXPECT_EQ(chosen.cross_products, general.cross_products) << k;
        EXPECT_EQ(chosen.covariance, general.covariance) << k;
    }
}

}  // namespace
}  // namespace velmora::detail
