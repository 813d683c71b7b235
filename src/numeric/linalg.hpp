#pragma once
// LU decomposition and in-place inversion for the small dense matrices of the
// estimators (regression cross-products and residual covariances).
//
// Each routine comes in two forms: one on the 1-based arrays of arrays.hpp,
// which allocates its own scratch, and a raw "core" on a 0-based row-major
// block with caller-supplied scratch, so that the estimators' hot path
// allocates nothing. Both forms perform the same arithmetic in the same order.

#include "numeric/arrays.hpp"

namespace velmora {

// Crout LU decomposition with implicit partial pivoting, in place on
// a[1..n][1..n]. indx[j] receives the pivot row of column j and d the parity
// (+1 or -1). A row whose entries are all zero ends with
// fatal_numeric_error("Singular matrix in routine ludcmp"); a pivot that
// becomes zero during the elimination is replaced by 1e-20.
void ludcmp(double_matrix& a, int n, ivector& indx, double& d);

// Gauss-Jordan inversion with full pivoting, in place on a[1..n][1..n].
// Returns 1 when inverted, 0 when a zero pivot was met (a is then left partly
// reduced).
int inversanr(double_matrix& a, int n);

// --- raw forms: a is n x n, row-major, row i starting at a + i*stride ---

// Returns false, leaving a untouched, when a row is all zero (where ludcmp
// would stop); otherwise decomposes a like ludcmp. vv: n doubles of scratch;
// indx: n ints (0-based pivot rows).
bool ludcmp_core(double* a, int n, int stride, int* indx, double* vv, double& d) noexcept;

// Same arithmetic as inversanr. ipiv, indxr, indxc: n ints of scratch each.
int inversanr_core(double* a, int n, int stride, int* ipiv, int* indxr, int* indxc) noexcept;

// parity x product of the diagonal of an LU decomposition, the product taken
// in increasing index order.
double lu_determinant(const double* lu, int n, int stride, double d) noexcept;

}  // namespace velmora
