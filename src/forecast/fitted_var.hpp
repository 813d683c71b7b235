#pragma once
// The threshold VAR of a fitted model, built once (at its largest order) and
// read by the forecasts, the hold-out check and the impulse responses.

#include <optional>
#include <vector>

#include "simulate/threshold_var.hpp"

namespace velmora {

struct FittedModel;
struct ModelProblem;
struct ModelStructure;

// The model of a fitted threshold VAR at its largest order m: its rule with
// the thresholds as estimated, and per regime the coefficients (of the
// regime's own order, zero at the lags beyond it), residual
// covariance (divided by the observations), residual vectors recentred to
// mean zero (the shocks of forecasts) and times at order m. Throws std::invalid_argument when the
// fit is not estimated.
ThresholdVarModel model_from_fit(const FittedModel& fit);

// Residual vectors (rows x k) minus each component's mean.
std::vector<double> recentred(const std::vector<double>& residuals, int k);

// model_from_fit of the structure estimated on the problem's series; empty
// when the structure cannot be estimated.
std::optional<ThresholdVarModel> model_for_structure(const ModelProblem& problem,
                                                     const ModelStructure& structure);

}  // namespace velmora
