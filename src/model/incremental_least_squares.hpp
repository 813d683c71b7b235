#pragma once
// The incremental entry of least squares (the direct one is least_squares in
// model/regression_kernels.hpp): cross products of design rows (y_t, d
// deterministic terms, y_t-1, ..., y_t-m) kept per regime and moved one row at
// a time between regimes, and the order-p regression of a regime solved from
// them by Cholesky. The search's threshold sweeps score every split this way.

#include <cmath>
#include <cstddef>
#include <utility>

namespace velmora::detail {

inline std::size_t lsq_index(int i) {
    return static_cast<std::size_t>(i);
}

// Order-p regression of one regime from the cross products g of the design
// rows v_t = (y_t, d deterministic terms, y_t-1, ..., y_t-p) (row stride `stride`, upper triangle)
// and their sums: residual cross products sse (k x k) and residual sums sres (k). Leaves the
// Cholesky factor of Z'Z in chol and L^-1 Z'Y in w. False when Z'Z is not positive definite. K and
// P fixed at compile time (0: taken from k_rt, p_rt) let the compiler unroll the small loops of the
// common sizes.
template <int K, int P>
bool regress(const double* g, const double* sum, int stride, int k_rt, int p_rt, int d_rt,
             double* chol, double* w, double* u, double* sse, double* sres) {
    const int k = K > 0 ? K : k_rt;
    const int p = P > 0 ? P : p_rt;
    // The fixed sizes are chosen without deterministic columns only.
    const int q = p * k + (K > 0 ? 0 : d_rt);
    // Every element read below lies on or above the diagonal of g.
    auto row = [&](int i) { return g + lsq_index(i) * lsq_index(stride); };
    for (int i = 0; i < q; ++i) {
        double* li = chol + lsq_index(i) * lsq_index(q);
        for (int j = 0; j <= i; ++j) {
            const double* lj = chol + lsq_index(j) * lsq_index(q);
            double s = row(k + j)[k + i];
            for (int l = 0; l < j; ++l) {
                s -= li[l] * lj[l];
            }
            if (i == j) {
                // A pivot lost to rounding is a singular regression.
                if (!(s > 1e-12 * row(k + i)[k + i])) {
                    return false;
                }
                li[i] = std::sqrt(s);
            } else {
                li[j] = s / lj[j];
            }
        }
    }
    for (int i = 0; i < q; ++i) {
        const double* li = chol + lsq_index(i) * lsq_index(q);
        const double inv = 1.0 / li[i];
        double* wi = w + lsq_index(i) * lsq_index(k);
        for (int c = 0; c < k; ++c) {
            wi[c] = row(c)[k + i];
        }
        double s = sum[k + i];
        for (int j = 0; j < i; ++j) {
            const double lij = li[j];
            const double* wj = w + lsq_index(j) * lsq_index(k);
            for (int c = 0; c < k; ++c) {
                wi[c] -= lij * wj[c];
            }
            s -= lij * u[j];
        }
        for (int c = 0; c < k; ++c) {
            wi[c] *= inv;
        }
        u[i] = s * inv;
    }
    for (int c = 0; c < k; ++c) {
        for (int l = c; l < k; ++l) {
            sse[lsq_index(c) * lsq_index(k) + lsq_index(l)] = row(c)[l];
        }
        sres[c] = sum[c];
    }
    for (int i = 0; i < q; ++i) {
        const double* wi = w + lsq_index(i) * lsq_index(k);
        for (int c = 0; c < k; ++c) {
            const double wc = wi[c];
            double* out = sse + lsq_index(c) * lsq_index(k);
            for (int l = c; l < k; ++l) {
                out[l] -= wc * wi[l];
            }
            sres[c] -= wc * u[i];
        }
    }
    for (int c = 0; c < k; ++c) {
        for (int l = c + 1; l < k; ++l) {
            sse[lsq_index(l) * lsq_index(k) + lsq_index(c)] =
                sse[lsq_index(c) * lsq_index(k) + lsq_index(l)];
        }
    }
    return true;
}

using RegressFn = bool (*)(const double*, const double*, int, int, int, int, double*, double*,
                           double*, double*, double*);

template <int K>
RegressFn regress_for_order(int p) {
    switch (p) {
        case 1:
            return regress<K, 1>;
        case 2:
            return regress<K, 2>;
        case 3:
            return regress<K, 3>;
        case 4:
            return regress<K, 4>;
        default:
            return regress<K, 0>;
    }
}

inline RegressFn regress_for(int k, int p, int d) {
    if (d != 0) {
        return regress<0, 0>;
    }
    switch (k) {
        case 2:
            return regress_for_order<2>(p);
        case 3:
            return regress_for_order<3>(p);
        case 4:
            return regress_for_order<4>(p);
        case 5:
            return regress_for_order<5>(p);
        default:
            return regress<0, 0>;
    }
}

template <int DIM>
void add_outer(double* g, double* sum, int stride, const double* v, int dim_rt, double sign) {
    const int dim = DIM > 0 ? DIM : dim_rt;
    for (int i = 0; i < dim; ++i) {
        const double vi = sign * v[i];
        double* row = g + lsq_index(i) * lsq_index(stride);
        for (int j = i; j < dim; ++j) {
            row[j] += vi * v[j];
        }
        sum[i] += vi;
    }
}

// One time leaving regime `from` for regime `to`.
template <int DIM>
void move_outer(double* g_from, double* s_from, double* g_to, double* s_to, int stride,
                const double* v, int dim_rt) {
    const int dim = DIM > 0 ? DIM : dim_rt;
    for (int i = 0; i < dim; ++i) {
        const double vi = v[i];
        double* from = g_from + lsq_index(i) * lsq_index(stride);
        double* to = g_to + lsq_index(i) * lsq_index(stride);
        for (int j = i; j < dim; ++j) {
            const double x = vi * v[j];
            from[j] -= x;
            to[j] += x;
        }
        s_from[i] -= vi;
        s_to[i] += vi;
    }
}

using AddFn = void (*)(double*, double*, int, const double*, int, double);
using MoveFn = void (*)(double*, double*, double*, double*, int, const double*, int);

template <int DIM>
std::pair<AddFn, MoveFn> outer_pair() {
    return {add_outer<DIM>, move_outer<DIM>};
}

inline std::pair<AddFn, MoveFn> outer_for(int dim) {
    switch (dim) {
        case 4:
            return outer_pair<4>();
        case 6:
            return outer_pair<6>();
        case 8:
            return outer_pair<8>();
        case 9:
            return outer_pair<9>();
        case 10:
            return outer_pair<10>();
        case 12:
            return outer_pair<12>();
        case 15:
            return outer_pair<15>();
        case 16:
            return outer_pair<16>();
        case 20:
            return outer_pair<20>();
        default:
            return outer_pair<0>();
    }
}

}  // namespace velmora::detail
