#include "app/reported_inference.hpp"

namespace velmora {

ModelProblem problem_of(const RunConfig& config, const double_matrix& serie) {
    ModelProblem problem;
    problem.serie_matrix = &serie;
    problem.n_oss = config.n_oss;
    problem.n_comp = config.n_comp;
    problem.min_oss_reg = config.min_oss_reg;
    problem.m = config.m;
    return problem;
}

std::optional<inference::ModelInference> infer_reported(
    const RunConfig& config, const double_matrix& serie, const StructureSummary& model,
    const inference::InferenceOptions& options) {
    if (!model.model.estimated()) {
        return std::nullopt;
    }
    return inference::infer_model(problem_of(config, serie), model.structure,
                                  model.model.thresholds, model.criterion, options);
}

std::optional<diagnostics::ModelDiagnostics> diagnose_reported(
    const StructureSummary& model, const diagnostics::DiagnosticsOptions& options) {
    if (!model.model.estimated()) {
        return std::nullopt;
    }
    return diagnostics::diagnose(model.model, options);
}

}  // namespace velmora
