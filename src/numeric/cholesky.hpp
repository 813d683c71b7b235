#pragma once
// Cholesky factor of a small symmetric positive definite matrix and the
// solve with it: the one factorisation that the regressions' standard
// errors, the linearity test, the simulators' shocks and the impulse
// responses share.

namespace velmora {

// In place on the lower triangle of a (row-major n x n): a = L L' with L
// lower; the upper triangle is neither read nor written. False, with a
// partly overwritten, when a pivot is not positive.
bool cholesky_in_place(double* a, int n) noexcept;

// Solves L L' x = b in place (col holds b, then x) for the factor of
// cholesky_in_place: forward, then back substitution.
void cholesky_solve(const double* factor, int n, double* col) noexcept;

}  // namespace velmora
