#include "model/regression_kernels.hpp"

#include <cstddef>

#include "numeric/linalg.hpp"

namespace velmora::detail {

namespace {

using std::size_t;

inline size_t idx(int i) {
    return static_cast<size_t>(i);
}

// --- general loops ---

void cross_products_general(const DesignView& design, int, int q, const int* tt, int n_r,
                            double* zz) {
    for (int i = 0; i < q * q; ++i) {
        zz[i] = 0.0;
    }
    for (int n = 0; n < n_r; ++n) {
        const double* x = design.regressors(tt[n]);
        for (int i = 0; i < q; ++i) {
            const double xi = x[i];
            double* row = zz + idx(i) * idx(q);
            for (int j = i; j < q; ++j) {
                row[j] += xi * x[j];
            }
        }
    }
    // x[i]*x[j] and x[j]*x[i] are the same product, so the lower triangle is
    // the mirror of the upper one, bit for bit.
    for (int i = 0; i < q; ++i) {
        for (int j = i + 1; j < q; ++j) {
            zz[idx(j) * idx(q) + idx(i)] = zz[idx(i) * idx(q) + idx(j)];
        }
    }
}

void coefficients_general(const DesignView& design, int k, int q, const int* tt, int n_r,
                          const double* zinv_t, double* w, double* phi) {
    for (int i = 0; i < q * k; ++i) {
        phi[i] = 0.0;
    }
    for (int n = 0; n < n_r; ++n) {
        const double* y = design.responses(tt[n]);
        const double* x = y + k;
        for (int i = 0; i < q; ++i) {
            w[i] = 0.0;
        }
        for (int j = 0; j < q; ++j) {
            const double xj = x[j];
            const double* col = zinv_t + idx(j) * idx(q);
            for (int i = 0; i < q; ++i) {
                w[i] += col[i] * xj;
            }
        }
        for (int i = 0; i < q; ++i) {
            const double wi = w[i];
            double* row = phi + idx(i) * idx(k);
            for (int c = 0; c < k; ++c) {
                row[c] += wi * y[c];
            }
        }
    }
}

void residuals_general(const DesignView& design, int k, int q, const int* tt, int n_r,
                       const double* phi, double* out, double* fit) {
    for (int n = 0; n < n_r; ++n) {
        const double* y = design.responses(tt[n]);
        const double* x = y + k;
        double* res = out + idx(n) * idx(k);
        for (int c = 0; c < k; ++c) {
            res[c] = 0.0;
        }
        for (int i = 0; i < q; ++i) {
            const double xi = x[i];
            const double* row = phi + idx(i) * idx(k);
            for (int c = 0; c < k; ++c) {
                res[c] += row[c] * xi;
            }
        }
        if (fit != nullptr) {
            double* f = fit + idx(n) * idx(k);
            for (int c = 0; c < k; ++c) {
                f[c] = res[c];
            }
        }
        for (int c = 0; c < k; ++c) {
            res[c] = y[c] - res[c];
        }
    }
}

void covariance_general(const double* res, int rows, int k, double* medie, double* sigma) {
    for (int c = 0; c < k; ++c) {
        medie[c] = 0.0;
    }
    for (int n = 0; n < rows; ++n) {
        const double* r = res + idx(n) * idx(k);
        for (int c = 0; c < k; ++c) {
            medie[c] += r[c];
        }
    }
    const double count = rows;
    for (int c = 0; c < k; ++c) {
        medie[c] /= count;
    }
    for (int i = 0; i < k * k; ++i) {
        sigma[i] = 0.0;
    }
    for (int n = 0; n < rows; ++n) {
        const double* r = res + idx(n) * idx(k);
        for (int c = 0; c < k; ++c) {
            const double dc = r[c] - medie[c];
            double* row = sigma + idx(c) * idx(k);
            for (int l = c; l < k; ++l) {
                row[l] += (r[l] - medie[l]) * dc;
            }
        }
    }
    for (int c = 0; c < k; ++c) {
        for (int l = c; l < k; ++l) {
            sigma[idx(c) * idx(k) + idx(l)] /= count;
        }
        for (int l = 0; l < c; ++l) {
            sigma[idx(c) * idx(k) + idx(l)] = sigma[idx(l) * idx(k) + idx(c)];
        }
    }
}

// --- fixed sizes ---

template <int K>
void covariance_fixed(const double* res, int rows, int, double* medie, double* sigma) {
    double mean[K];
    for (int c = 0; c < K; ++c) {
        mean[c] = 0.0;
    }
    for (int n = 0; n < rows; ++n) {
        for (int c = 0; c < K; ++c) {
            mean[c] += res[idx(n) * K + idx(c)];
        }
    }
    const double count = rows;
    for (int c = 0; c < K; ++c) {
        mean[c] /= count;
        medie[c] = mean[c];
    }
    // Full K x K: the product (r[l] - m[l]) * (r[c] - m[c]) is the same in
    // either order, so both triangles agree bit for bit.
    double acc[K * K];
    for (int i = 0; i < K * K; ++i) {
        acc[i] = 0.0;
    }
    for (int n = 0; n < rows; ++n) {
        double d[K];
        for (int c = 0; c < K; ++c) {
            d[c] = res[idx(n) * K + idx(c)] - mean[c];
        }
        for (int c = 0; c < K; ++c) {
            for (int l = 0; l < K; ++l) {
                acc[c * K + l] += d[l] * d[c];
            }
        }
    }
    for (int i = 0; i < K * K; ++i) {
        sigma[i] = acc[i] / count;
    }
}

template <int K, int P>
void cross_products_fixed(const DesignView& design, int, int, const int* tt, int n_r, double* zz) {
    constexpr int Q = K * P;
    // Full rows vectorise better than the triangle; both halves come out
    // identical anyway.
    double acc[Q * Q];
    for (int i = 0; i < Q * Q; ++i) {
        acc[i] = 0.0;
    }
    for (int n = 0; n < n_r; ++n) {
        const double* x = design.regressors(tt[n]);
        double xv[Q];
        for (int i = 0; i < Q; ++i) {
            xv[i] = x[i];
        }
        for (int i = 0; i < Q; ++i) {
            const double xi = xv[i];
            for (int j = (Q > 8 ? i : 0); j < Q; ++j) {
                acc[i * Q + j] += xi * xv[j];
            }
        }
    }
    for (int i = 0; i < Q; ++i) {
        for (int j = 0; j < Q; ++j) {
            zz[i * Q + j] = Q > 8 && j < i ? acc[j * Q + i] : acc[i * Q + j];
        }
    }
}

template <int K, int P>
void coefficients_fixed(const DesignView& design, int, int, const int* tt, int n_r,
                        const double* zinv_t, double*, double* phi) {
    constexpr int Q = K * P;
    double acc[Q * K];
    for (int i = 0; i < Q * K; ++i) {
        acc[i] = 0.0;
    }
    double zi[Q * Q];
    for (int i = 0; i < Q * Q; ++i) {
        zi[i] = zinv_t[i];
    }
    int n = 0;
    // Two observations at a time: their W columns are independent sums.
    for (; n + 1 < n_r; n += 2) {
        const double* y0 = design.responses(tt[n]);
        const double* y1 = design.responses(tt[n + 1]);
        const double* x0 = y0 + K;
        const double* x1 = y1 + K;
        double w0[Q];
        double w1[Q];
        for (int i = 0; i < Q; ++i) {
            w0[i] = 0.0;
            w1[i] = 0.0;
        }
        for (int j = 0; j < Q; ++j) {
            const double a = x0[j];
            const double b = x1[j];
            for (int i = 0; i < Q; ++i) {
                w0[i] += zi[j * Q + i] * a;
                w1[i] += zi[j * Q + i] * b;
            }
        }
        for (int i = 0; i < Q; ++i) {
            for (int c = 0; c < K; ++c) {
                acc[i * K + c] += w0[i] * y0[c];
            }
        }
        for (int i = 0; i < Q; ++i) {
            for (int c = 0; c < K; ++c) {
                acc[i * K + c] += w1[i] * y1[c];
            }
        }
    }
    for (; n < n_r; ++n) {
        const double* y0 = design.responses(tt[n]);
        const double* x0 = y0 + K;
        double w0[Q];
        for (int i = 0; i < Q; ++i) {
            w0[i] = 0.0;
        }
        for (int j = 0; j < Q; ++j) {
            const double a = x0[j];
            for (int i = 0; i < Q; ++i) {
                w0[i] += zi[j * Q + i] * a;
            }
        }
        for (int i = 0; i < Q; ++i) {
            for (int c = 0; c < K; ++c) {
                acc[i * K + c] += w0[i] * y0[c];
            }
        }
    }
    for (int i = 0; i < Q * K; ++i) {
        phi[i] = acc[i];
    }
}

template <int K, int P>
void residuals_fixed(const DesignView& design, int, int, const int* tt, int n_r, const double* phi,
                     double* out, double* fit) {
    constexpr int Q = K * P;
    constexpr int B = 4;  // observations in flight
    double ph[Q * K];
    for (int i = 0; i < Q * K; ++i) {
        ph[i] = phi[i];
    }
    int n = 0;
    for (; n + B <= n_r; n += B) {
        const double* y[B];
        double f[B][K];
        for (int b = 0; b < B; ++b) {
            y[b] = design.responses(tt[n + b]);
            for (int c = 0; c < K; ++c) {
                f[b][c] = 0.0;
            }
        }
        for (int i = 0; i < Q; ++i) {
            for (int b = 0; b < B; ++b) {
                const double xi = y[b][K + i];
                for (int c = 0; c < K; ++c) {
                    f[b][c] += ph[i * K + c] * xi;
                }
            }
        }
        for (int b = 0; b < B; ++b) {
            double* res = out + idx(n + b) * idx(K);
            for (int c = 0; c < K; ++c) {
                res[c] = y[b][c] - f[b][c];
            }
            if (fit != nullptr) {
                double* fo = fit + idx(n + b) * idx(K);
                for (int c = 0; c < K; ++c) {
                    fo[c] = f[b][c];
                }
            }
        }
    }
    if (n < n_r) {
        residuals_general(design, K, Q, tt + n, n_r - n, phi, out + idx(n) * idx(K),
                          fit != nullptr ? fit + idx(n) * idx(K) : nullptr);
    }
}

template <int K, int P>
constexpr RegimeKernels fixed_kernels() {
    return {&cross_products_fixed<K, P>, &coefficients_fixed<K, P>, &residuals_fixed<K, P>,
            &covariance_fixed<K>};
}

template <int K>
RegimeKernels for_order(int p) {
    switch (p) {
        case 1:
            return fixed_kernels<K, 1>();
        case 2:
            return fixed_kernels<K, 2>();
        case 3:
            return fixed_kernels<K, 3>();
        case 4:
            return fixed_kernels<K, 4>();
        default:
            return general_kernels();
    }
}

}  // namespace

bool least_squares(const RegimeKernels& kernels, const DesignView& design, int k, int q,
                   const int* tt, int n_r, const LeastSquaresScratch& scratch, double* zz,
                   double* phi, double* residuals, double* fit) {
    kernels.cross_products(design, k, q, tt, n_r, zz);
    if (inversanr_core(zz, q, q, scratch.ipiv, scratch.indxr, scratch.indxc) == 0) {
        return false;
    }
    double* zinv_t = scratch.zinv_t;
    for (int i = 0; i < q; ++i) {
        for (int j = 0; j < q; ++j) {
            zinv_t[idx(j) * idx(q) + idx(i)] = zz[idx(i) * idx(q) + idx(j)];
        }
    }
    kernels.coefficients(design, k, q, tt, n_r, zinv_t, scratch.w, phi);
    kernels.residuals(design, k, q, tt, n_r, phi, residuals, fit);
    return true;
}

RegimeKernels general_kernels() {
    return {&cross_products_general, &coefficients_general, &residuals_general,
            &covariance_general};
}

RegimeKernels select_kernels(int k, int p, int d) {
    if (d != 0) {
        return general_kernels();
    }
    switch (k) {
        case 2:
            return for_order<2>(p);
        case 3:
            return for_order<3>(p);
        case 4:
            return for_order<4>(p);
        case 8:
            return for_order<8>(p);
        default:
            return general_kernels();
    }
}

}  // namespace velmora::detail
