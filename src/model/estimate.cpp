#include "model/estimate.hpp"

namespace velmora {

FittedModel estimate(const ModelProblem& problem, EstimationWorkspace& workspace,
                     const ModelStructure& structure) {
    if (structure.threshold_variables == 1) {
        return estimate(problem, workspace, structure.one);
    }
    return estimate(problem, workspace, structure.two);
}

FittedModel estimate(const ModelProblem& problem, const ModelStructure& structure) {
    EstimationWorkspace workspace(problem);
    return estimate(problem, workspace, structure);
}

CriterionResult estimate_criterion(const ModelProblem& problem, EstimationWorkspace& workspace,
                                   const ModelStructure& structure) {
    if (structure.threshold_variables == 1) {
        return estimate_criterion(problem, workspace, structure.one);
    }
    return estimate_criterion(problem, workspace, structure.two);
}

}  // namespace velmora
