#pragma once
// Least-squares estimation of a threshold VAR (one VAR without intercept per
// regime, every order 1..m) and its information criterion aic_global.
//
// A structure is not estimable when a regime has fewer than the least
// observations per regime or fewer than its p*k regressors, when a regime's regression
// cross-product matrix is singular, when a residual covariance has an
// all-zero row, or when the criterion is not finite. The first four stop the
// estimate with a criterion of exactly 0.0; the objective maps every
// not-estimable result to fitness 0.
//
// estimate() keeps everything it computed in a FittedModel; the report files
// are written by write_model_report (report/model_report.hpp).
// estimate_criterion() is the search's path: same arithmetic, same criterion
// bit for bit, nothing kept and nothing allocated.
//
// Both throw std::invalid_argument when the structure is outside what the
// problem allows (a caller's fault: component above n_comp, lag outside 1..6,
// position outside 0..n_oss-1, a regime count that the model does not have)
// or the workspace was built for another problem.

#include "model/fitted_model.hpp"
#include "model/problem.hpp"
#include "model/structure.hpp"
#include "model/workspace.hpp"

namespace velmora {

// orders: each regime's order, 0 standing for m (ModelStructure::orders).
FittedModel estimate(const ModelProblem& problem, EstimationWorkspace& workspace,
                     const OneThresholdStructure& structure, const std::array<int, 4>& orders = {});
FittedModel estimate(const ModelProblem& problem, EstimationWorkspace& workspace,
                     const TwoThresholdStructure& structure, const std::array<int, 4>& orders = {});
// The linear VAR: one regime holding every time, each pass from its order
// + 1 on (from the criterion's first row when that is later).
FittedModel estimate_linear(const ModelProblem& problem, EstimationWorkspace& workspace,
                            int order = 0);
CriterionResult linear_criterion(const ModelProblem& problem, EstimationWorkspace& workspace,
                                 int order = 0);
// Any structure, the linear VAR included.
FittedModel estimate(const ModelProblem& problem, EstimationWorkspace& workspace,
                     const ModelStructure& structure);
// With a workspace of its own.
FittedModel estimate(const ModelProblem& problem, const ModelStructure& structure);

CriterionResult estimate_criterion(const ModelProblem& problem, EstimationWorkspace& workspace,
                                   const OneThresholdStructure& structure,
                                   const std::array<int, 4>& orders = {});
CriterionResult estimate_criterion(const ModelProblem& problem, EstimationWorkspace& workspace,
                                   const TwoThresholdStructure& structure,
                                   const std::array<int, 4>& orders = {});
CriterionResult estimate_criterion(const ModelProblem& problem, EstimationWorkspace& workspace,
                                   const ModelStructure& structure);

}  // namespace velmora
