#pragma once
// Residual diagnostics and the stability of a fitted threshold VAR, read from
// the fitted model alone: the residuals of every regime at the largest order
// put back in time order for the portmanteau, normality and ARCH tests, each
// regime's residuals for its own normality test, and each regime's companion
// matrix for its stability.

#include <string>
#include <vector>

#include "diagnostics/residual_tests.hpp"
#include "model/fitted_model.hpp"
#include "options/option_table.hpp"

namespace velmora::diagnostics {

struct DiagnosticsOptions {
    int portmanteau_lags = options::portmanteau_lags.default_int();
    int arch_lags = options::arch_lags.default_int();
};

struct ModelDiagnostics {
    int k = 0;
    int order = 0;
    int observations = 0;  // residual rows over all regimes
    PortmanteauTest portmanteau;
    NormalityTest normality;
    std::vector<NormalityTest> normality_by_regime;  // [regime-1]
    ArchTest arch;
    // [regime-1]: the companion eigenvalue moduli, largest first; empty for a
    // regime the estimate did not reach.
    std::vector<std::vector<double>> companion_moduli;
    // [regime-1]: the largest modulus is at least 1.
    std::vector<bool> explosive;
};

// The residual rows of every regime at the largest order, ordered by time
// (T x k, row-major); empty when the model was not estimated to that order.
std::vector<double> residuals_in_time_order(const FittedModel& model);

// The diagnostics of an estimated model (a model that was not estimated
// gives empty ones, computed == false).
ModelDiagnostics diagnose(const FittedModel& model, const DiagnosticsOptions& options = {});

}  // namespace velmora::diagnostics
