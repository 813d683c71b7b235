#pragma once
// What a threshold model is, apart from the data it is fitted on: the largest
// autoregressive order, the deterministic terms of every regime, the least
// number of observations a regime must hold, the criterion that ranks
// structures. One value, held
// whole by the run's configuration, the prepared run and the estimation
// problem, checked by one validate(), whose messages name the model's terms;
// a front end that shows them to a command-line user puts the flag in front
// (term_row names it).

#include <climits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/criterion.hpp"
#include "model/design.hpp"
#include "options/option_table.hpp"

namespace velmora::options {
class Bindings;
}

namespace velmora {

// Smallest series the estimators accept: a threshold position code of 0
// stands for time 30 in the one-threshold model.
constexpr int kMinObservations = options::low_int(options::n_obs);
constexpr int kMaxOrder = options::high_int(options::max_order);
// The threshold variables are components 1 and 2.
constexpr int kMinComponents = options::low_int(options::n_comp);
// A regime needs two observations before any coefficient can be estimated.
constexpr int kMinRegimeObservations = options::low_int(options::min_obs_per_regime);

constexpr bool order_allowed(int m) {
    return options::max_order.bounds->allows(m);
}

struct ModelDefinition {
    int max_order = options::max_order.default_int();
    Include include = Include::none;
    int min_obs_per_regime = options::min_obs_per_regime.default_int();
    Criterion criterion = Criterion::classic;

    // Whether a regime of `count` observations may be estimated.
    bool admits_regime(int count) const { return count >= min_obs_per_regime; }
    // The least observations a regime of a threshold sweep needs with
    // `regressors` coefficients per equation: the definition's least, and
    // more observations than coefficients.
    int least_sweep_regime(int regressors) const;
    // The first time of the regressions of every structure (the information
    // criteria score them all on the same rows).
    int first_row() const { return criterion_first_row(criterion, max_order); }

    bool operator==(const ModelDefinition&) const = default;
};

// The definition of a model whose regimes a threshold sweep sizes itself:
// every regime size the estimators can take is admitted.
ModelDefinition sized_by_sweep(ModelDefinition model);

// The terms validate() can find at fault, with the data's sizes, in the
// order they are checked.
enum class ModelTerm { components, few_observations, many_observations, order, regime_size };

struct ModelFault {
    ModelTerm term;
    std::string message;  // names the term, never a flag
    int value = 0;        // the value at fault
};

// The first fault of the definition on a series of n_obs rows of n_comp
// components; max_n_obs bounds the series from above where a caller needs
// it (the search's position fields).
std::optional<ModelFault> validate(const ModelDefinition& model, int n_obs, int n_comp,
                                   int max_n_obs = INT_MAX);

// The option row that sets a term, for a front end to name it.
const options::OptionRow& term_row(ModelTerm term);

// The rows of the definition, bound to its fields, in the order the help
// lists them (the run-only choice of orders is bound by `run` itself).
void bind_model_options(options::Bindings& bindings, ModelDefinition& model);

// The definition as `velmora fit` arguments: the order and the least regime
// always, the terms and the criterion when not the defaults.
std::vector<std::string> model_arguments(const ModelDefinition& model);

}  // namespace velmora
