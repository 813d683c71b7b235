#include "numeric/cholesky.hpp"

#include <cmath>
#include <cstddef>

namespace velmora {

namespace {

inline std::size_t sz(int i) {
    return static_cast<std::size_t>(i);
}

}  // namespace

bool cholesky_in_place(double* a, int n) noexcept {
    for (int j = 0; j < n; ++j) {
        double diag = a[sz(j) * sz(n) + sz(j)];
        for (int l = 0; l < j; ++l) {
            diag -= a[sz(j) * sz(n) + sz(l)] * a[sz(j) * sz(n) + sz(l)];
        }
        if (!(diag > 0.0)) {
            return false;
        }
        const double root = std::sqrt(diag);
        a[sz(j) * sz(n) + sz(j)] = root;
        for (int i = j + 1; i < n; ++i) {
            double s = a[sz(i) * sz(n) + sz(j)];
            for (int l = 0; l < j; ++l) {
                s -= a[sz(i) * sz(n) + sz(l)] * a[sz(j) * sz(n) + sz(l)];
            }
            a[sz(i) * sz(n) + sz(j)] = s / root;
        }
    }
    return true;
}

void cholesky_solve(const double* factor, int n, double* col) noexcept {
    for (int i = 0; i < n; ++i) {
        double s = col[i];
        for (int l = 0; l < i; ++l) {
            s -= factor[sz(i) * sz(n) + sz(l)] * col[l];
        }
        col[i] = s / factor[sz(i) * sz(n) + sz(i)];
    }
    for (int i = n - 1; i >= 0; --i) {
        double s = col[i];
        for (int l = i + 1; l < n; ++l) {
            s -= factor[sz(l) * sz(n) + sz(i)] * col[l];
        }
        col[i] = s / factor[sz(i) * sz(n) + sz(i)];
    }
}

}  // namespace velmora
