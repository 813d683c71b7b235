#pragma once
// The reported model as a table to put in a paper: the coefficients of every
// regime with their standard errors in parentheses and significance stars,
// the thresholds with their confidence sets, the criteria, the linearity test
// and the residual diagnostics, all to four decimals. One layout, written as
// a LaTeX tabular (a fragment to \input), a Markdown table or CSV.

#include <filesystem>
#include <optional>
#include <string>

#include "data/series.hpp"
#include "diagnostics/model_diagnostics.hpp"
#include "inference/model_inference.hpp"
#include "model/fitted_model.hpp"

namespace velmora {

enum class TableFormat { latex, markdown, csv };

// .tex, .md or .csv (in any case); nothing for another extension.
std::optional<TableFormat> table_format_of(const std::filesystem::path& path);

struct PaperTableInput {
    std::string title;  // "Refined model"
    const FittedModel* model = nullptr;
    const SeriesInfo* series = nullptr;                          // names; may be null
    const inference::ModelInference* inference = nullptr;        // may be null
    const diagnostics::ModelDiagnostics* diagnostics = nullptr;  // may be null
};

// "*" below 10 %, "**" below 5 %, "***" below 1 %; "" otherwise or for NaN.
std::string significance_stars(double p_value);

// text with LaTeX's special characters made literal.
std::string latex_escaped(const std::string& text);

// The table as text, each line ending in '\n'. The model must be estimated.
std::string format_paper_table(const PaperTableInput& input, TableFormat format);

}  // namespace velmora
