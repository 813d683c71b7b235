#pragma once
// Stability of a VAR: the eigenvalues of its companion matrix. The process
// y_t = A_1 y_{t-1} + ... + A_p y_{t-p} + u_t is stable when every
// eigenvalue lies strictly inside the unit circle.

#include <span>
#include <vector>

namespace velmora::diagnostics {

// The moduli of the eigenvalues of the kp x kp companion matrix
//   [A_1 A_2 ... A_p; I 0 ... 0; ...; 0 ... I 0],
// sorted from the largest. phi holds the coefficients as a fitted regime
// does: the coefficient of variable v (0-based) lagged l (1-based) in the
// equation of component e (0-based) at phi[((l-1)*k + v)*k + e].
std::vector<double> companion_moduli(std::span<const double> phi, int k, int order);

}  // namespace velmora::diagnostics
