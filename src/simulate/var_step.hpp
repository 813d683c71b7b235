#pragma once
// One step of a VAR regime without intercept, shared by everything that
// simulates a series (known models, forecast paths, bootstrap series) so that
// a step without shock is the estimators' fitted value to the last bit.

#include <cstddef>

namespace velmora {

// Adds to y (k values) the regime's autoregressive part: for each equation
// c, phi[i*k + c] * x_i over the regressors i = (lag-1)*k + variable in that
// order (the estimators' Phi layout and order of summation). The values at
// lag `lag` are the k values at newest + (lag-1)*row_step.
inline void add_autoregression(const double* phi, int order, int k, const double* newest,
                               std::ptrdiff_t row_step, double* y) {
    for (int lag = 1; lag <= order; ++lag) {
        const double* x = newest + (lag - 1) * row_step;
        const double* block = phi + static_cast<std::ptrdiff_t>((lag - 1) * k) * k;
        for (int v = 0; v < k; ++v) {
            const double xv = x[v];
            const double* row = block + static_cast<std::ptrdiff_t>(v) * k;
            for (int c = 0; c < k; ++c) {
                y[c] += row[c] * xv;
            }
        }
    }
}

}  // namespace velmora
