#include "model/estimate.hpp"

#include "model/estimate_core.hpp"

namespace velmora {

FittedModel estimate_linear(const ModelProblem& problem, EstimationWorkspace& workspace,
                            int order) {
    detail::check_workspace(problem, workspace);
    ModelStructure linear = make_linear_structure();
    linear.orders[0] = order;
    return detail::fit_structure(problem, workspace, detail::ModelKind::one_threshold, linear,
                                 linear, 1, [&](FittedModel& model) {
                                     model.thresholds = {1000000.0, 1000000.0, 1000000.0};
                                     detail::assign_every_time(workspace, 1);
                                 });
}

CriterionResult linear_criterion(const ModelProblem& problem, EstimationWorkspace& workspace,
                                 int order) {
    detail::check_workspace(problem, workspace);
    detail::assign_every_time(workspace, 1);
    return detail::criterion_passes(problem, workspace, detail::ModelKind::one_threshold, 1,
                                    {order, 0, 0, 0});
}

FittedModel estimate(const ModelProblem& problem, EstimationWorkspace& workspace,
                     const ModelStructure& structure) {
    if (is_linear(structure)) {
        return estimate_linear(problem, workspace, structure.orders[0]);
    }
    if (structure.threshold_variables == 1) {
        return estimate(problem, workspace, structure.one, structure.orders);
    }
    return estimate(problem, workspace, structure.two, structure.orders);
}

FittedModel estimate(const ModelProblem& problem, const ModelStructure& structure) {
    EstimationWorkspace workspace(problem);
    return estimate(problem, workspace, structure);
}

CriterionResult estimate_criterion(const ModelProblem& problem, EstimationWorkspace& workspace,
                                   const ModelStructure& structure) {
    if (is_linear(structure)) {
        return linear_criterion(problem, workspace, structure.orders[0]);
    }
    if (structure.threshold_variables == 1) {
        return estimate_criterion(problem, workspace, structure.one, structure.orders);
    }
    return estimate_criterion(problem, workspace, structure.two, structure.orders);
}

}  // namespace velmora
