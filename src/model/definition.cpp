#include "model/definition.hpp"

#include <algorithm>

#include "options/bindings.hpp"
#include "support/format.hpp"

namespace velmora {

int ModelDefinition::least_sweep_regime(int regressors) const {
    return std::max(min_obs_per_regime, regressors + 1);
}

ModelDefinition sized_by_sweep(ModelDefinition model) {
    model.min_obs_per_regime = kMinRegimeObservations;
    return model;
}

std::optional<ModelFault> validate(const ModelDefinition& model, int n_obs, int n_comp,
                                   int max_n_obs) {
    if (n_comp < kMinComponents) {
        return ModelFault{ModelTerm::components,
                          strprintf("The number of components must be at least %d (got %d): the "
                                    "threshold variables are taken from components 1 and 2",
                                    kMinComponents, n_comp),
                          n_comp};
    }
    if (n_obs < kMinObservations) {
        return ModelFault{ModelTerm::few_observations,
                          strprintf("The number of observations must be at least %d (got %d)",
                                    kMinObservations, n_obs),
                          n_obs};
    }
    if (n_obs > max_n_obs) {
        return ModelFault{
            ModelTerm::many_observations,
            strprintf("The number of observations must be at most %d (got %d)", max_n_obs, n_obs),
            n_obs};
    }
    if (!order_allowed(model.max_order)) {
        return ModelFault{
            ModelTerm::order,
            strprintf("The largest autoregressive order must be between 1 and %d (got %d)",
                      kMaxOrder, model.max_order),
            model.max_order};
    }
    if (model.min_obs_per_regime < kMinRegimeObservations) {
        return ModelFault{
            ModelTerm::regime_size,
            strprintf("The least number of observations per regime must be at least %d (got %d)",
                      kMinRegimeObservations, model.min_obs_per_regime),
            model.min_obs_per_regime};
    }
    return std::nullopt;
}

const options::OptionRow& term_row(ModelTerm term) {
    switch (term) {
        case ModelTerm::components:
            return options::n_comp;
        case ModelTerm::few_observations:
        case ModelTerm::many_observations:
            return options::n_obs;
        case ModelTerm::order:
            return options::max_order;
        case ModelTerm::regime_size:
            return options::min_obs_per_regime;
    }
    return options::max_order;  // not reached: every term has its case
}

void bind_model_options(options::Bindings& b, ModelDefinition& model) {
    b.bind(options::min_obs_per_regime, model.min_obs_per_regime);
    b.bind(options::max_order, model.max_order);
    b.bind(options::include, model.include, kIncludeChoices, include_name, include_choices_text());
    b.bind(options::criterion, model.criterion, kCriterionChoices, criterion_name,
           criterion_choices_text());
}

std::vector<std::string> model_arguments(const ModelDefinition& model) {
    std::vector<std::string> a = {
        std::string(options::max_order.name), std::to_string(model.max_order),
        std::string(options::min_obs_per_regime.name), std::to_string(model.min_obs_per_regime)};
    if (model.include != Include::none) {
        a.insert(a.end(), {std::string(options::include.name), include_name(model.include)});
    }
    if (model.criterion != Criterion::classic) {
        a.insert(a.end(), {std::string(options::criterion.name), criterion_name(model.criterion)});
    }
    return a;
}

}  // namespace velmora
