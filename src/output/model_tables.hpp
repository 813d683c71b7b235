#pragma once
// The coefficient and covariance tables of a fitted model as JSON arrays,
// for the model objects of the JSON summaries.

#include <nlohmann/json.hpp>

#include "model/fitted_model.hpp"

namespace velmora {

// At the maximum order: [regime][lag][equation][variable], all 0-based in
// the arrays (regime 1, lag 1, equation 1, variable 1 at [0][0][0][0]); the
// coefficient of variable v lagged l in the equation of component e. An empty
// array when the model could not be estimated.
nlohmann::json coefficients_json(const FittedModel& model);
// [regime][term][equation], terms const then trend; an empty list per regime
// without deterministic terms, no regimes when not estimated.
nlohmann::json deterministic_json(const FittedModel& model);

// Each regime's residual covariance at the maximum order:
// [regime][row][column]. An empty array when the model could not be
// estimated.
nlohmann::json sigma_json(const FittedModel& model);

}  // namespace velmora
