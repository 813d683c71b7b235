#pragma once
// Per-time tables a fitted model keeps beside its regressions.

#include <vector>

#include "model/workspace.hpp"

namespace velmora::detail {

// Component c lagged by d at every time 1..n_oss ([t-1]); NaN for t <= d.
std::vector<double> lagged_component(const EstimationWorkspace& ws, int c, int d);

// Regime of every time 1..n_oss at order m from the workspace's time lists
// (regimes 1..n_regime); 0 for times no regime holds or before m + 1.
std::vector<int> regime_of_time(const EstimationWorkspace& ws, int n_regime);

}  // namespace velmora::detail
