#include "app/reported_inference.hpp"

#include "app/replications.hpp"
#include "support/format.hpp"

namespace velmora {

ModelProblem problem_of(const RunConfig& config, const double_matrix& serie) {
    ModelProblem problem;
    problem.serie_matrix = &serie;
    problem.n_oss = config.n_oss;
    problem.n_comp = config.n_comp;
    problem.model = config.model;
    return problem;
}

ModelProblem problem_of(const RunConfig& config, const LoadedSeries& series) {
    ModelProblem problem = problem_of(config, series.serie);
    problem.threshold_components = series.info.threshold_components;
    problem.external_columns = series.info.external_columns;
    return problem;
}

std::optional<inference::ModelInference> infer_reported(
    const RunConfig& config, const double_matrix& serie, const StructureSummary& model,
    const inference::InferenceOptions& options) {
    if (!model.model.estimated()) {
        return std::nullopt;
    }
    return inference::infer_model(problem_of(config, serie), model.model, options);
}

inference::InferenceOptions refined_inference_options(inference::InferenceOptions options,
                                                      const RefinedModel& refined) {
    const ModelStructure& s = refined.best_threshold;
    if (!is_linear(refined.model.structure) || is_linear(s)) {
        return options;
    }
    options.linear_test_component =
        s.threshold_variables == 1 ? s.one.which_serie : s.two.which_serie1;
    options.linear_test_lag = s.threshold_variables == 1 ? s.one.threshold_lag : s.two.Ritardo1;
    return options;
}

std::optional<diagnostics::ModelDiagnostics> diagnose_reported(
    const StructureSummary& model, const diagnostics::DiagnosticsOptions& options) {
    if (!model.model.estimated()) {
        return std::nullopt;
    }
    return diagnostics::diagnose(model.model, options);
}

}  // namespace velmora
