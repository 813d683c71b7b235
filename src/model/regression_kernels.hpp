#pragma once
// The inner loops of one regime regression: cross-products Z_Z, the
// coefficients Phi and the residuals. Each kernel keeps the documented
// summation order per element (observations in time order; regressor index
// in increasing order), so every variant gives the same bits; the fixed-size
// variants only let the compiler unroll and vectorise across independent
// sums, and work on two or four observations at once to hide latency.
//
// The observations are rows of a design (model/design.hpp): the responses
// of time t at design.responses(t), its q regressors just after them.

#include "model/design.hpp"

namespace velmora::detail {

struct RegimeKernels {
    // zz (q x q, row-major) = sum over observations of x x'.
    void (*cross_products)(const DesignView& design, int k, int q, const int* tt, int n_r,
                           double* zz);
    // phi (q x k) = sum over observations of (zinv x) y', zinv given
    // transposed (zinv_t[j*q + i] = zinv[i][j]); w: q doubles of scratch.
    void (*coefficients)(const DesignView& design, int k, int q, const int* tt, int n_r,
                         const double* zinv_t, double* w, double* phi);
    // out (n_r x k) = y - phi' x per observation; fit (n_r x k) receives
    // phi' x when not null.
    void (*residuals)(const DesignView& design, int k, int q, const int* tt, int n_r,
                      const double* phi, double* out, double* fit);
    // medie (k) and sigma (k x k) of rows x k residuals, both divided by the
    // row count: sigma[c][l] = sum over rows of (r[l] - medie[l]) * (r[c] - medie[c]).
    void (*covariance)(const double* res, int rows, int k, double* medie, double* sigma);
};

// Working storage of least_squares for q regressors: zinv_t q*q doubles, w
// q doubles, ipiv, indxr and indxc q ints each.
struct LeastSquaresScratch {
    double* zinv_t;
    double* w;
    int* ipiv;
    int* indxr;
    int* indxc;
};

// The direct entry of least squares, the one every fit on a list of times
// goes through: Z'Z of the q regressors of the design rows tt, inverted in
// place by Gauss-Jordan elimination (zz, q x q, holds (Z'Z)^-1 after), the
// coefficients phi (q x k, deterministic rows first) and the n_r x k
// residuals (and fitted values when fit is not null). False when Z'Z is
// singular; phi and the residuals are then not written. (The search's
// sweeps have the incremental entry: search/threshold_sweep.cpp moves
// single rows' cross products between regimes and solves by Cholesky.)
bool least_squares(const RegimeKernels& kernels, const DesignView& design, int k, int q,
                   const int* tt, int n_r, const LeastSquaresScratch& scratch, double* zz,
                   double* phi, double* residuals, double* fit);

// Kernels for k components at order p with d deterministic columns:
// fixed-size ones for k = 2, 3, 4 and 8 without deterministic columns,
// general loops otherwise.
RegimeKernels select_kernels(int k, int p, int d = 0);

// The general loops, whatever k and p (exposed so tests can compare them
// with the fixed-size variants).
RegimeKernels general_kernels();

}  // namespace velmora::detail
