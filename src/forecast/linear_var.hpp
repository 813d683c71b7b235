#pragma once
// The linear VAR of a given order without intercept (the threshold model with
// a single regime), by least squares: the benchmark a threshold model's
// forecasts are compared with.

#include "forecast/threshold_var.hpp"
#include "numeric/arrays.hpp"

namespace velmora {

// Least squares over the times p+1..rows of series rows 1..rows, components
// 1..k. The result is a one-regime ThresholdVarModel whose pool holds the
// residuals and whose covariance divides by the observation count. Throws
// std::invalid_argument when there are fewer observations than p*k
// regressors or the cross products are singular.
ThresholdVarModel fit_linear_var(const double_matrix& series, int rows, int k, int p);

}  // namespace velmora
