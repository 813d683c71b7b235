#pragma once
// The part both estimators share: given the regimes' time lists in the
// workspace, the least-squares passes for orders 1..m, the residual
// covariances and the criterion.

#include "model/fitted_model.hpp"
#include "model/problem.hpp"
#include "model/workspace.hpp"

namespace velmora::detail {

// The one-threshold criterion needs no regime covariance; the two-threshold
// one adds a criterion per regime.
enum class ModelKind { one_threshold, two_thresholds };

// Runs the passes over workspace.times: the criterion alone, allocating
// nothing.
CriterionResult criterion_passes(const ModelProblem& problem, EstimationWorkspace& ws,
                                 ModelKind kind, int n_regime);

// The same passes, keeping every regression in model (passes, covariances,
// criteria, status). model.n_regime must be set.
void full_passes(const ModelProblem& problem, EstimationWorkspace& ws, ModelKind kind,
                 FittedModel& model);

// Throws std::invalid_argument unless the workspace belongs to the problem.
void check_workspace(const ModelProblem& problem, const EstimationWorkspace& ws);

}  // namespace velmora::detail
