#pragma once
// What a threshold model is, apart from the data it is fitted on: the largest
// autoregressive order, the deterministic terms of every regime, the least
// number of observations a regime must hold and the criterion that ranks
// structures. One value, checked by one validate(), whose messages name the
// model's terms; a front end that shows them to a command-line user puts the
// flag in front (term_flag names it).

#include <climits>
#include <optional>
#include <string>
#include <string_view>

#include "model/criterion.hpp"
#include "model/design.hpp"
#include "options/option_table.hpp"

namespace velmora {

struct ModelDefinition {
    int max_order = options::max_order.default_int();
    Include include = Include::none;
    int min_obs_per_regime = options::min_obs_per_regime.default_int();
    Criterion criterion = Criterion::classic;
};

// The terms validate() can find at fault, with the data's sizes, in the
// order they are checked.
enum class ModelTerm { components, few_observations, many_observations, order, regime_size };

struct ModelFault {
    ModelTerm term;
    std::string message;  // names the term, never a flag
};

// The first fault of the definition on a series of n_obs rows of n_comp
// components; max_n_obs bounds the series from above where a caller needs
// it (the search's position fields).
std::optional<ModelFault> validate(const ModelDefinition& model, int n_obs, int n_comp,
                                   int max_n_obs = INT_MAX);

// The option row that sets a term, for a front end to name it.
const options::OptionRow& term_row(ModelTerm term);

}  // namespace velmora
