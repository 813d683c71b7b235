// Estimation with two threshold variables: the four quadrants of
// (z1 lagged Ritardo1, z2 lagged Ritardo2) against (t1, t2), as four regimes
// or merged into three by type_model.

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>

#include "model/estimate.hpp"
#include "model/estimate_core.hpp"
#include "model/regime_rule.hpp"
#include "model/regime_table.hpp"
#include "numeric/arrays.hpp"

namespace velmora {

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        throw std::invalid_argument(std::string("estimate (two threshold variables): ") + what);
    }
}

void check(const EstimationWorkspace& ws, const TwoThresholdStructure& s) {
    const int n_oss = ws.n_oss;
    require(s.which_serie1 >= 1 && s.which_serie1 <= ws.columns, "first component out of range");
    require(s.which_serie2 >= 1 && s.which_serie2 <= ws.columns, "second component out of range");
    require(s.pos_thres_1 >= 0 && s.pos_thres_1 < n_oss, "first threshold position out of range");
    require(s.pos_thres_2 >= 0 && s.pos_thres_2 < n_oss, "second threshold position out of range");
    require((s.n_regime == 4 && s.type_model == 0) ||
                (s.n_regime == 3 && s.type_model >= 1 && s.type_model <= 3),
            "number of regimes does not match the type of model");
    require(s.Ritardo1 >= 1 && s.Ritardo1 <= kMaxLag && s.Ritardo1 < n_oss,
            "first lag out of range");
    require(s.Ritardo2 >= 1 && s.Ritardo2 <= kMaxLag && s.Ritardo2 < n_oss,
            "second lag out of range");
}

TwoThresholdStructure as_used(TwoThresholdStructure s) {
    if (s.pos_thres_1 == 0) {
        s.pos_thres_1 = 1;
    }
    if (s.pos_thres_2 == 0) {
        s.pos_thres_2 = 1;
    }
    return s;
}

// Fills the regimes' time lists; returns t1 and t2 in [0] and [1].
std::array<double, 3> assign_regimes(EstimationWorkspace& ws, const TwoThresholdStructure& used) {
    const int n_oss = ws.n_oss;
    const double t1 = ws.value(used.pos_thres_1, used.which_serie1);
    const double t2 = ws.value(used.pos_thres_2, used.which_serie2);
    for (int r = 0; r < 4; ++r) {
        ws.time_count[static_cast<std::size_t>(r)] = 0;
    }
    const int d1 = used.Ritardo1;
    const int d2 = used.Ritardo2;
    for (int t = std::max(d1, d2) + 1; t <= n_oss; ++t) {
        const double a = ws.value(t - d1, used.which_serie1);
        const double b = ws.value(t - d2, used.which_serie2);
        const auto r = static_cast<std::size_t>(
            quadrant_regime(used.n_regime, used.type_model, quadrant_of(a, b, t1, t2)) - 1);
        ws.times[r][static_cast<std::size_t>(ws.time_count[r]++)] = t;
    }
    return {t1, t2, 0.0};
}

}  // namespace

CriterionResult estimate_criterion(const ModelProblem& problem, EstimationWorkspace& ws,
                                   const TwoThresholdStructure& structure,
                                   const std::array<int, 4>& orders) {
    detail::check_workspace(problem, ws);
    check(ws, structure);
    assign_regimes(ws, as_used(structure));
    return detail::criterion_passes(problem, ws, detail::ModelKind::two_thresholds,
                                    structure.n_regime, orders);
}

FittedModel estimate(const ModelProblem& problem, EstimationWorkspace& ws,
                     const TwoThresholdStructure& structure, const std::array<int, 4>& orders) {
    detail::check_workspace(problem, ws);
    check(ws, structure);
    const TwoThresholdStructure used = as_used(structure);
    return detail::fit_structure(
        problem, ws, detail::ModelKind::two_thresholds,
        with_orders(make_structure(structure), orders), with_orders(make_structure(used), orders),
        structure.n_regime, [&](FittedModel& model) {
            model.thresholds = assign_regimes(ws, used);
            model.threshold_variable =
                detail::lagged_component(ws, structure.which_serie1, structure.Ritardo1);
            model.threshold_variable2 =
                detail::lagged_component(ws, structure.which_serie2, structure.Ritardo2);
        });
}

}  // namespace velmora
