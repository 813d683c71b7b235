#include <gtest/gtest.h>

#include "numeric/arrays.hpp"
#include "support/errors.hpp"

namespace velmora {
namespace {

TEST(Arrays, VectorsHonourTheCallersRangeAndStartAtZero) {
    dvector v(1, 5);
    ivector w(0, 4);
    for (int i = 1; i <= 5; ++i) {
        EXPECT_EQ(v[i], 0.0);
    }
    for (int i = 0; i <= 4; ++i) {
        EXPECT_EQ(w[i], 0);
        w[i] = i * 10;
    }
    EXPECT_EQ(w.data(), &w[0]);
    EXPECT_EQ(w[4], 40);
    v[5] = 2.5;
    EXPECT_EQ(v.data()[4], 2.5);
}

TEST(Arrays, MatrixRowsAreAdjacentInOneBlock) {
    double_matrix a(1, 3, 1, 4);
    for (int i = 1; i <= 3; ++i) {
        for (int j = 1; j <= 4; ++j) {
            EXPECT_EQ(a[i][j], 0.0);
        }
    }
    EXPECT_EQ(&a[1][4] + 1, &a[2][1]);
    EXPECT_EQ(&a[2][4] + 1, &a[3][1]);
    EXPECT_EQ(a.data(), &a[1][1]);

    int_matrix z(0, 2, 0, 1);
    EXPECT_EQ(&z[0][1] + 1, &z[1][0]);
}

TEST(Arrays, FatalNumericErrorCarriesThreeLinesAndStatusOne) {
    try {
        fatal_numeric_error("Singular matrix in routine ludcmp");
        FAIL() << "fatal_numeric_error returned";
    } catch (const NumericError& e) {
        EXPECT_STREQ(e.what(),
                     "Numerical Recipes run-time error...\n"
                     "Singular matrix in routine ludcmp\n"
                     "...now exiting to system...\n");
        EXPECT_EQ(e.exit_status(), 1);
    }
}

}  // namespace
}  // namespace velmora
