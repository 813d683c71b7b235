#pragma once
// The part both estimators share: given the regimes' time lists in the
// workspace, the least-squares passes for orders 1..m, the residual
// covariances and the criterion.

#include <new>

#include "model/fitted_model.hpp"
#include "model/problem.hpp"
#include "model/regime_table.hpp"
#include "model/structure.hpp"
#include "model/workspace.hpp"
#include "numeric/arrays.hpp"

namespace velmora::detail {

// The one-threshold criterion needs no regime covariance; the two-threshold
// one adds a criterion per regime.
enum class ModelKind { one_threshold, two_thresholds };

// Runs the passes over workspace.times: the criterion alone, allocating
// nothing.
// orders: each regime's order, 0 standing for m (ModelStructure::orders).
CriterionResult criterion_passes(const ModelProblem& problem, EstimationWorkspace& ws,
                                 ModelKind kind, int n_regime, const std::array<int, 4>& orders);

// The same passes, keeping every regression in model (passes, covariances,
// criteria, status, orders). model.n_regime and model.given must be set.
void full_passes(const ModelProblem& problem, EstimationWorkspace& ws, ModelKind kind,
                 FittedModel& model);

// The fitted model of a checked structure: fill(model) sorts the times into
// the regimes' lists and sets the thresholds and the threshold variables;
// then the passes, kept whole, and the regime of every time. Running out of
// memory ends the process with the kernels' text.
template <class Fill>
FittedModel fit_structure(const ModelProblem& problem, EstimationWorkspace& ws, ModelKind kind,
                          const ModelStructure& given, const ModelStructure& used, int n_regime,
                          Fill&& fill) {
    try {
        FittedModel model;
        model.given = given;
        model.used = used;
        model.n_oss = ws.n_oss;
        model.k = ws.k;
        model.external_columns = problem.external_columns;
        model.m = ws.m;
        model.include = ws.include;
        model.trend_origin = ws.trend_origin;
        model.n_regime = n_regime;
        fill(model);
        full_passes(problem, ws, kind, model);
        model.regime_of_time = regime_of_time(ws, n_regime);
        return model;
    } catch (const std::bad_alloc&) {
        fatal_numeric_error("allocation failure in dvector()");
    }
}

// Every time from first_time on into the first regime's list, the others
// empty: the linear VAR's single regime.
void assign_every_time(EstimationWorkspace& ws, int first_time);

// Throws std::invalid_argument unless the workspace belongs to the problem.
void check_workspace(const ModelProblem& problem, const EstimationWorkspace& ws);

}  // namespace velmora::detail
