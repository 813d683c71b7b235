#pragma once
// Plain reference formulas for the residual diagnostics and the least-squares
// tests: direct sums over rows, Gauss-Jordan inverses, Gaussian elimination
// and a hand-rolled Cholesky factor, written without any of the library's
// linear algebra so that the tests compare two independent computations.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace velmora::testing {

using Rows = std::vector<std::vector<double>>;  // [t][component]
using Square = std::vector<std::vector<double>>;

// The row from col on (of n) whose entry in column col is the largest in
// magnitude, the first of equals.
inline std::size_t reference_pivot(const Square& a, std::size_t col, std::size_t n) {
    std::size_t pivot = col;
    for (std::size_t r = col + 1; r < n; ++r) {
        if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) {
            pivot = r;
        }
    }
    return pivot;
}

// Reduces the augmented rows [A | B] of a square A (n rows, n + m columns)
// to [I | A^-1 B] by Gauss-Jordan elimination with partial pivoting.
inline void reference_gauss_jordan(Square& augmented, std::size_t n) {
    Square& a = augmented;
    for (std::size_t col = 0; col < n; ++col) {
        const std::size_t pivot = reference_pivot(a, col, n);
        std::swap(a[col], a[pivot]);
        const double d = a[col][col];
        for (double& v : a[col]) {
            v /= d;
        }
        for (std::size_t r = 0; r < n; ++r) {
            if (r == col) {
                continue;
            }
            const double f = a[r][col];
            for (std::size_t j = 0; j < a[r].size(); ++j) {
                a[r][j] -= f * a[col][j];
            }
        }
    }
}

// Gauss-Jordan with partial pivoting.
inline Square reference_inverse(const Square& a) {
    const std::size_t n = a.size();
    Square augmented(n, std::vector<double>(2 * n, 0.0));
    for (std::size_t i = 0; i < n; ++i) {
        std::copy(a[i].begin(), a[i].end(), augmented[i].begin());
        augmented[i][n + i] = 1.0;
    }
    reference_gauss_jordan(augmented, n);
    Square inv(n);
    for (std::size_t i = 0; i < n; ++i) {
        inv[i].assign(augmented[i].begin() + static_cast<std::ptrdiff_t>(n), augmented[i].end());
    }
    return inv;
}

// Solves a x = b for the columns of b (n x m) by Gaussian elimination with
// partial pivoting and back substitution.
inline Square reference_solve(Square a, Square b) {
    const std::size_t n = a.size();
    for (std::size_t col = 0; col < n; ++col) {
        const std::size_t pivot = reference_pivot(a, col, n);
        std::swap(a[col], a[pivot]);
        std::swap(b[col], b[pivot]);
        for (std::size_t r = col + 1; r < n; ++r) {
            const double f = a[r][col] / a[col][col];
            for (std::size_t c = col; c < n; ++c) {
                a[r][c] -= f * a[col][c];
            }
            for (std::size_t j = 0; j < b[r].size(); ++j) {
                b[r][j] -= f * b[col][j];
            }
        }
    }
    for (std::size_t i = n; i-- > 0;) {
        for (std::size_t j = 0; j < b[i].size(); ++j) {
            double s = b[i][j];
            for (std::size_t c = i + 1; c < n; ++c) {
                s -= a[i][c] * b[c][j];
            }
            b[i][j] = s / a[i][i];
        }
    }
    return b;
}

inline Rows reference_demeaned(Rows u) {
    const std::size_t k = u.front().size();
    for (std::size_t c = 0; c < k; ++c) {
        double mean = 0.0;
        for (const auto& row : u) {
            mean += row[c];
        }
        mean /= static_cast<double>(u.size());
        for (auto& row : u) {
            row[c] -= mean;
        }
    }
    return u;
}

// (1/T) sum_{t >= h} u_t u_{t-h}' of rows already demeaned.
inline Square reference_autocovariance(const Rows& u, std::size_t h) {
    const std::size_t k = u.front().size();
    Square c(k, std::vector<double>(k, 0.0));
    for (std::size_t t = h; t < u.size(); ++t) {
        for (std::size_t i = 0; i < k; ++i) {
            for (std::size_t j = 0; j < k; ++j) {
                c[i][j] += u[t][i] * u[t - h][j];
            }
        }
    }
    for (auto& row : c) {
        for (double& x : row) {
            x /= static_cast<double>(u.size());
        }
    }
    return c;
}

struct ReferencePortmanteau {
    double statistic = 0.0;
    double adjusted = 0.0;
};

inline ReferencePortmanteau reference_portmanteau(const Rows& residuals, int lags) {
    const Rows u = reference_demeaned(residuals);
    const std::size_t k = u.front().size();
    const double n = static_cast<double>(u.size());
    const Square c0_inv = reference_inverse(reference_autocovariance(u, 0));
    ReferencePortmanteau out;
    for (int h = 1; h <= lags; ++h) {
        const Square ch = reference_autocovariance(u, static_cast<std::size_t>(h));
        // tr(C_h' C0^-1 C_h C0^-1) as one sum over four indices.
        double trace = 0.0;
        for (std::size_t a = 0; a < k; ++a) {
            for (std::size_t b = 0; b < k; ++b) {
                for (std::size_t c = 0; c < k; ++c) {
                    for (std::size_t d = 0; d < k; ++d) {
                        trace += ch[b][a] * c0_inv[b][c] * ch[c][d] * c0_inv[d][a];
                    }
                }
            }
        }
        out.statistic += n * trace;
        out.adjusted += n * n * trace / (n - h);
    }
    return out;
}

inline double reference_jarque_bera(const Rows& residuals) {
    const Rows u = reference_demeaned(residuals);
    const std::size_t k = u.front().size();
    const double n = static_cast<double>(u.size());
    const Square s = reference_autocovariance(u, 0);
    // Cholesky-Banachiewicz: s = L L'.
    std::vector<double> l(k * k, 0.0);  // row-major
    for (std::size_t i = 0; i < k; ++i) {
        for (std::size_t j = 0; j <= i; ++j) {
            double sum = s[i][j];
            for (std::size_t m = 0; m < j; ++m) {
                sum -= l[i * k + m] * l[j * k + m];
            }
            l[i * k + j] = i == j ? std::sqrt(sum) : sum / l[j * k + j];
        }
    }
    std::vector<double> third(k, 0.0);
    std::vector<double> fourth(k, 0.0);
    std::vector<double> w(k, 0.0);  // forward substitution L w = u_t
    for (const auto& row : u) {
        for (std::size_t i = 0; i < k; ++i) {
            double sum = row[i];
            for (std::size_t m = 0; m < i; ++m) {
                sum -= l[i * k + m] * w[m];
            }
            w[i] = sum / l[i * k + i];
            third[i] += w[i] * w[i] * w[i];
            fourth[i] += w[i] * w[i] * w[i] * w[i];
        }
    }
    double skew = 0.0;
    double kurt = 0.0;
    for (std::size_t i = 0; i < k; ++i) {
        const double b1 = third[i] / n;
        const double b2 = fourth[i] / n - 3.0;
        skew += b1 * b1;
        kurt += b2 * b2;
    }
    return n * skew / 6.0 + n * kurt / 24.0;
}

// Multivariate ARCH-LM through the normal equations.
inline double reference_arch(const Rows& u, int q) {
    const std::size_t k = u.front().size();
    Rows v;  // the distinct cross products of each row (upper triangle)
    for (const auto& row : u) {
        std::vector<double> products;
        for (std::size_t i = 0; i < k; ++i) {
            for (std::size_t j = i; j < k; ++j) {
                products.push_back(row[i] * row[j]);
            }
        }
        v.push_back(products);
    }
    const std::size_t d = v.front().size();
    const std::size_t lags = static_cast<std::size_t>(q);
    const std::size_t n = v.size() - lags;
    const std::size_t p = 1 + lags * d;
    Rows x(n, std::vector<double>(p, 1.0));
    for (std::size_t t = 0; t < n; ++t) {
        for (std::size_t h = 1; h <= lags; ++h) {
            for (std::size_t j = 0; j < d; ++j) {
                x[t][1 + (h - 1) * d + j] = v[t + lags - h][j];
            }
        }
    }
    Square xx(p, std::vector<double>(p, 0.0));
    Square xy(p, std::vector<double>(d, 0.0));
    for (std::size_t t = 0; t < n; ++t) {
        for (std::size_t a = 0; a < p; ++a) {
            for (std::size_t b = 0; b < p; ++b) {
                xx[a][b] += x[t][a] * x[t][b];
            }
            for (std::size_t j = 0; j < d; ++j) {
                xy[a][j] += x[t][a] * v[t + lags][j];
            }
        }
    }
    const Square xx_inv = reference_inverse(xx);
    Square beta(p, std::vector<double>(d, 0.0));
    for (std::size_t a = 0; a < p; ++a) {
        for (std::size_t j = 0; j < d; ++j) {
            for (std::size_t b = 0; b < p; ++b) {
                beta[a][j] += xx_inv[a][b] * xy[b][j];
            }
        }
    }
    std::vector<double> mean(d, 0.0);
    for (std::size_t t = 0; t < n; ++t) {
        for (std::size_t j = 0; j < d; ++j) {
            mean[j] += v[t + lags][j] / static_cast<double>(n);
        }
    }
    Square omega1(d, std::vector<double>(d, 0.0));
    Square omega0(d, std::vector<double>(d, 0.0));
    for (std::size_t t = 0; t < n; ++t) {
        std::vector<double> e1(d);
        std::vector<double> e0(d);
        for (std::size_t j = 0; j < d; ++j) {
            double fit = 0.0;
            for (std::size_t a = 0; a < p; ++a) {
                fit += x[t][a] * beta[a][j];
            }
            e1[j] = v[t + lags][j] - fit;
            e0[j] = v[t + lags][j] - mean[j];
        }
        for (std::size_t i = 0; i < d; ++i) {
            for (std::size_t j = 0; j < d; ++j) {
                omega1[i][j] += e1[i] * e1[j];
                omega0[i][j] += e0[i] * e0[j];
            }
        }
    }
    const Square omega0_inv = reference_inverse(omega0);
    double trace = 0.0;
    for (std::size_t i = 0; i < d; ++i) {
        for (std::size_t j = 0; j < d; ++j) {
            trace += omega1[i][j] * omega0_inv[j][i];
        }
    }
    const double rows = static_cast<double>(n);
    return rows * static_cast<double>(d) - rows * trace;
}

// P(X >= x), X chi-squared: the finite sums of the upper incomplete gamma
// function at whole and half-whole shapes.
inline double reference_chi_squared_upper(double x, int df) {
    const double half = x / 2.0;
    if (df % 2 == 0) {
        double term = 1.0;
        double sum = 1.0;
        for (int j = 1; j < df / 2; ++j) {
            term *= half / j;
            sum += term;
        }
        return std::exp(-half) * sum;
    }
    double q = std::erfc(std::sqrt(half));
    double term = std::sqrt(half) * std::exp(-half) / std::tgamma(1.5);  // x^a e^-x / Gamma(a+1)
    for (int a2 = 1; a2 < df; a2 += 2) {  // a = a2/2 goes 1/2, 3/2, ...
        q += term;
        term *= half / (a2 / 2.0 + 1.0);
    }
    return q;
}

}  // namespace velmora::testing
