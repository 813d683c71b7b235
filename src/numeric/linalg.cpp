#include "numeric/linalg.hpp"

#include <cmath>
#include <utility>

namespace velmora {

namespace {

constexpr double kTiny = 1.0e-20;

int row_stride(const double_matrix& a) {
    return a.col_hi() - a.col_lo() + 1;
}

}  // namespace

bool ludcmp_core(double* a, int n, int stride, int* indx, double* vv, double& d) noexcept {
    // The scale pass reads only, so a singular row leaves a as it was.
    for (int i = 0; i < n; ++i) {
        const double* row = a + static_cast<std::ptrdiff_t>(i) * stride;
        double big = 0.0;
        for (int j = 0; j < n; ++j) {
            const double temp = std::fabs(row[j]);
            if (temp > big) {
                big = temp;
            }
        }
        if (big == 0.0) {
            return false;
        }
        vv[i] = 1.0 / big;
    }
    d = 1.0;
    auto at = [a, stride](int r, int c) -> double& {
        return a[static_cast<std::ptrdiff_t>(r) * stride + c];
    };
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < j; ++i) {
            double sum = at(i, j);
            for (int k = 0; k < i; ++k) {
                sum -= at(i, k) * at(k, j);
            }
            at(i, j) = sum;
        }
        double big = 0.0;
        int imax = j;  // kept when every candidate is NaN
        for (int i = j; i < n; ++i) {
            double sum = at(i, j);
            for (int k = 0; k < j; ++k) {
                sum -= at(i, k) * at(k, j);
            }
            at(i, j) = sum;
            const double dum = vv[i] * std::fabs(sum);
            if (dum >= big) {
                big = dum;
                imax = i;
            }
        }
        if (j != imax) {
            for (int k = 0; k < n; ++k) {
                std::swap(at(imax, k), at(j, k));
            }
            d = -d;
            vv[imax] = vv[j];
        }
        indx[j] = imax;
        if (at(j, j) == 0.0) {
            at(j, j) = kTiny;
        }
        if (j != n - 1) {
            const double dum = 1.0 / at(j, j);
            for (int i = j + 1; i < n; ++i) {
                at(i, j) *= dum;
            }
        }
    }
    return true;
}

void ludcmp(double_matrix& a, int n, ivector& indx, double& d) {
    if (n <= 0) {
        d = 1.0;
        return;
    }
    dvector vv(1, n);
    double* base = &a[1][1];
    if (!ludcmp_core(base, n, row_stride(a), &indx[1], &vv[1], d)) {
        fatal_numeric_error("Singular matrix in routine ludcmp");
    }
    // The core counts rows from 0; callers of this form count from 1.
    for (int j = 1; j <= n; ++j) {
        indx[j] += 1;
    }
}

int inversanr_core(double* a, int n, int stride, int* ipiv, int* indxr, int* indxc) noexcept {
    auto at = [a, stride](int r, int c) -> double& {
        return a[static_cast<std::ptrdiff_t>(r) * stride + c];
    };
    for (int j = 0; j < n; ++j) {
        ipiv[j] = 0;
    }
    for (int i = 0; i < n; ++i) {
        double big = 0.0;
        int irow = -1;
        int icol = -1;
        for (int j = 0; j < n; ++j) {
            if (ipiv[j] != 1) {
                for (int k = 0; k < n; ++k) {
                    if (ipiv[k] == 0 && std::fabs(at(j, k)) >= big) {
                        big = std::fabs(at(j, k));
                        irow = j;
                        icol = k;
                    }
                }
            }
        }
        if (icol < 0) {
            // Only NaN candidates were left: no usable pivot.
            return 0;
        }
        ++ipiv[icol];
        if (irow != icol) {
            for (int l = 0; l < n; ++l) {
                std::swap(at(irow, l), at(icol, l));
            }
        }
        indxr[i] = irow;
        indxc[i] = icol;
        if (at(icol, icol) == 0.0) {
            return 0;
        }
        const double pivinv = 1.0 / at(icol, icol);
        at(icol, icol) = 1.0;
        double* pivot_row = &at(icol, 0);
        for (int l = 0; l < n; ++l) {
            pivot_row[l] *= pivinv;
        }
        for (int ll = 0; ll < n; ++ll) {
            if (ll != icol) {
                double* row = &at(ll, 0);
                const double dum = row[icol];
                row[icol] = 0.0;
                for (int l = 0; l < n; ++l) {
                    row[l] -= pivot_row[l] * dum;
                }
            }
        }
    }
    for (int l = n - 1; l >= 0; --l) {
        if (indxr[l] != indxc[l]) {
            for (int k = 0; k < n; ++k) {
                std::swap(at(k, indxr[l]), at(k, indxc[l]));
            }
        }
    }
    return 1;
}

int inversanr(double_matrix& a, int n) {
    if (n <= 0) {
        return 1;
    }
    ivector ipiv(1, n);
    ivector indxr(1, n);
    ivector indxc(1, n);
    return inversanr_core(&a[1][1], n, row_stride(a), &ipiv[1], &indxr[1], &indxc[1]);
}

double lu_determinant(const double* lu, int n, int stride, double d) noexcept {
    double det = d;
    for (int c = 0; c < n; ++c) {
        det *= lu[static_cast<std::ptrdiff_t>(c) * stride + c];
    }
    return det;
}

}  // namespace velmora
