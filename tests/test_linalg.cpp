#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <limits>
#include <random>

#include "numeric/linalg.hpp"
#include "support/errors.hpp"

namespace velmora {
namespace {

double_matrix from_rows(int n, std::initializer_list<double> values) {
    double_matrix a(1, n, 1, n);
    auto it = values.begin();
    for (int i = 1; i <= n; ++i) {
        for (int j = 1; j <= n; ++j) {
            a[i][j] = *it++;
        }
    }
    return a;
}

double determinant(double_matrix& lu, int n, double d) {
    double det = d;
    for (int j = 1; j <= n; ++j) {
        det *= lu[j][j];
    }
    return det;
}

// Factors a 2x2 matrix in place whose column-1 pivot must be row 2: one swap,
// so the parity is -1 and both entries of indx are 2. Returns the parity.
double expect_factored_with_pivot_on_row_two(double_matrix& a) {
    ivector indx(1, 2);
    double d = 0.0;
    ludcmp(a, 2, indx, d);
    EXPECT_EQ(d, -1.0);
    EXPECT_EQ(indx[1], 2);
    EXPECT_EQ(indx[2], 2);
    return d;
}

TEST(Ludcmp, SwapsRowsOfThePermutationAndFlipsParity) {
    double_matrix a = from_rows(2, {0.0, 1.0, 1.0, 0.0});
    const double d = expect_factored_with_pivot_on_row_two(a);
    EXPECT_EQ(determinant(a, 2, d), -1.0);
}

TEST(Ludcmp, EqualScaledCandidatesPivotOnTheLaterRow) {
    // Column 1 offers 1 in both rows with equal scales: the later row wins.
    double_matrix a = from_rows(2, {1.0, 0.0, 1.0, 1.0});
    expect_factored_with_pivot_on_row_two(a);
    EXPECT_EQ(a[1][1], 1.0);
    EXPECT_EQ(a[1][2], 1.0);
    EXPECT_EQ(a[2][1], 1.0);
    EXPECT_EQ(a[2][2], -1.0);
}

TEST(Ludcmp, ReproducesTheMatrixFromItsFactors) {
    const int n = 4;
    const std::initializer_list<double> rows = {2.0,  -1.0, 0.5,  3.0,  //
                                                4.0,  1.0,  -2.0, 0.0,  //
                                                -1.0, 3.0,  1.0,  2.0,  //
                                                0.5,  0.25, 4.0,  -1.0};
    double_matrix a = from_rows(n, rows);
    double_matrix original = from_rows(n, rows);
    ivector indx(1, n);
    double d = 0.0;
    ludcmp(a, n, indx, d);
    // Apply the row swaps to the original in the recorded order, then compare
    // with L*U.
    for (int j = 1; j <= n; ++j) {
        if (indx[j] != j) {
            for (int c = 1; c <= n; ++c) {
                std::swap(original[j][c], original[indx[j]][c]);
            }
        }
    }
    for (int i = 1; i <= n; ++i) {
        for (int j = 1; j <= n; ++j) {
            double s = 0.0;
            for (int k = 1; k <= std::min(i, j); ++k) {
                const double l = k == i ? 1.0 : a[i][k];
                s += l * a[k][j];
            }
            EXPECT_NEAR(s, original[i][j], 1e-12) << i << "," << j;
        }
    }
}

TEST(Ludcmp, AllZeroRowIsFatalWithTheKernelMessage) {
    for (int n : {1, 3}) {
        double_matrix a(1, n, 1, n);
        for (int i = 1; i <= n; ++i) {
            for (int j = 1; j <= n; ++j) {
                a[i][j] = i == n ? 0.0 : i + j;  // last row all zero
            }
        }
        ivector indx(1, n);
        double d = 0.0;
        try {
            ludcmp(a, n, indx, d);
            FAIL() << "no error for n=" << n;
        } catch (const NumericError& e) {
            EXPECT_STREQ(e.what(),
                         "Numerical Recipes run-time error...\n"
                         "Singular matrix in routine ludcmp\n"
                         "...now exiting to system...\n");
            EXPECT_EQ(e.exit_status(), 1);
        }
    }
}

TEST(Ludcmp, PivotVanishingDuringEliminationBecomesTiny) {
    // No zero row, but rank 1: the second pivot is exactly 0 after elimination.
    double_matrix a = from_rows(2, {1.0, 2.0, 2.0, 4.0});
    ivector indx(1, 2);
    double d = 0.0;
    EXPECT_NO_THROW(ludcmp(a, 2, indx, d));
    EXPECT_EQ(a[2][2], 1e-20);
}

TEST(LudcmpCore, ReportsAZeroRowWithoutTouchingTheMatrix) {
    double a[4] = {1.0, 2.0, 0.0, -0.0};
    int indx[2];
    double vv[2];
    double d = 5.0;
    EXPECT_FALSE(ludcmp_core(a, 2, 2, indx, vv, d));
    EXPECT_EQ(a[0], 1.0);
    EXPECT_EQ(a[1], 2.0);
}

TEST(Inversanr, IdentityStaysIdentity) {
    const int n = 5;
    double_matrix a(1, n, 1, n);
    for (int i = 1; i <= n; ++i) {
        a[i][i] = 1.0;
    }
    EXPECT_EQ(inversanr(a, n), 1);
    for (int i = 1; i <= n; ++i) {
        for (int j = 1; j <= n; ++j) {
            EXPECT_EQ(a[i][j], i == j ? 1.0 : 0.0);
        }
    }
}

TEST(Inversanr, InverseOfAWellConditionedMatrix) {
    std::mt19937_64 gen(7);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int n : {1, 3, 8, 16}) {
        double_matrix a(1, n, 1, n);
        double_matrix original(1, n, 1, n);
        for (int i = 1; i <= n; ++i) {
            for (int j = 1; j <= n; ++j) {
                // Diagonally dominant, so the condition number stays small.
                a[i][j] = u(gen) + (i == j ? 2.0 * n : 0.0);
                original[i][j] = a[i][j];
            }
        }
        ASSERT_EQ(inversanr(a, n), 1);
        const double tolerance = 16.0 * n * std::numeric_limits<double>::epsilon();
        for (int i = 1; i <= n; ++i) {
            for (int j = 1; j <= n; ++j) {
                double s = 0.0;
                for (int k = 1; k <= n; ++k) {
                    s += original[i][k] * a[k][j];
                }
                EXPECT_NEAR(s, i == j ? 1.0 : 0.0, tolerance) << "n=" << n;
            }
        }
    }
}

TEST(Inversanr, ReturnsZeroOnAZeroRowOrColumn) {
    double_matrix row = from_rows(3, {1.0, 2.0, 3.0, 0.0, 0.0, 0.0, 4.0, 5.0, 7.0});
    EXPECT_EQ(inversanr(row, 3), 0);
    double_matrix col = from_rows(3, {1.0, 0.0, 3.0, 2.0, 0.0, 1.0, 4.0, 0.0, 7.0});
    EXPECT_EQ(inversanr(col, 3), 0);
}

TEST(Inversanr, LastOfEqualCandidatesIsThePivotAndAZeroPivotStops) {
    // All four entries tie: the pivot of step 1 is [2][2]. Eliminating it
    // leaves row 1 = (0, -1), so step 2 meets the zero pivot [1][1] and
    // returns with the matrix partly reduced.
    double_matrix a = from_rows(2, {1.0, 1.0, 1.0, 1.0});
    EXPECT_EQ(inversanr(a, 2), 0);
    EXPECT_EQ(a[1][1], 0.0);
    EXPECT_EQ(a[1][2], -1.0);
    EXPECT_EQ(a[2][1], 1.0);
    EXPECT_EQ(a[2][2], 1.0);
}

TEST(Inversanr, PermutedMatrixIsUnpermutedOnReturn) {
    // Full pivoting reorders rows and columns; the result must still be the
    // inverse in the caller's order.
    double_matrix a = from_rows(3, {0.0, 0.0, 2.0, 0.0, 4.0, 0.0, 8.0, 0.0, 0.0});
    ASSERT_EQ(inversanr(a, 3), 1);
    EXPECT_EQ(a[1][3], 0.125);
    EXPECT_EQ(a[2][2], 0.25);
    EXPECT_EQ(a[3][1], 0.5);
    EXPECT_EQ(a[1][1], 0.0);
}

}  // namespace
}  // namespace velmora
