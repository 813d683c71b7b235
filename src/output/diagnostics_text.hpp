#pragma once
// What a run or a fit says about a model's residual diagnostics: the JSON
// object and the lines of the closing summary.

#include <nlohmann/json.hpp>
#include <string>

#include "diagnostics/model_diagnostics.hpp"

namespace velmora::diagnostics {

// The `diagnostics` object of a model in the JSON summaries; figures that
// could not be computed are null.
nlohmann::json diagnostics_json(const ModelDiagnostics& diagnostics);

// Lines for the closing summary, each starting with indent and ending in
// '\n'.
std::string format_diagnostics_summary(const ModelDiagnostics& diagnostics,
                                       const std::string& indent = "  ");

}  // namespace velmora::diagnostics
