#pragma once
// What a run or a fit says about a model's inference: the lines of the
// closing summary, the coefficient tables and the JSON keys of a model object.

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "inference/model_inference.hpp"

namespace velmora::inference {

// Lines for the closing summary, each ending in '\n' and starting with
// indent: the two criteria and their difference (saying when the linear VAR
// is as good or better), the linearity test, the confidence set. Components
// by name when names holds one per component, else y1, y2, ...
std::string format_inference_summary(const ModelInference& inference,
                                     const std::vector<std::string>& names = {},
                                     const std::string& indent = "  ");

// The tests of the number of regimes and the selection, saying when it
// differs from the model's model_regimes.
std::string format_regime_tests(const RegimeTests& tests, int model_regimes,
                                const std::vector<std::string>& names = {},
                                const std::string& indent = "  ");

// JSON regime_tests: one object per test (null_regimes, alternative_regimes,
// lr, p_value, replicates, failed).
nlohmann::json regime_tests_json(const RegimeTests& tests);

// regime_tests, selected_regimes and selected_threshold_variables (0 for the
// linear VAR, 1 for one variable, 2 for the tested two-variable model; both
// null when the tests were stopped) into out.
void add_regime_tests_json(nlohmann::json& out, const RegimeTests& tests);

// One table per regime: each coefficient with its standard error, t-value
// and p-value, labelled by equation, variable and lag: y1, y2(t-1), or by
// the components' names when given (one per component).
std::string format_coefficient_tables(const ModelInference& inference,
                                      const std::vector<std::string>& names = {});

// The JSON keys of a model object: linear_criterion, standard_errors,
// t_values, p_values (each [regime][lag][equation][variable]), and
// linearity_test and threshold_confidence when computed.
nlohmann::json inference_json(const ModelInference& inference);

}  // namespace velmora::inference
