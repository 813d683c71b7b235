#pragma once
// The three result files of a fitted model (OutputThreshold*, Prediction-
// Threshold*, ResidualThreshold*, "Univariate" for one threshold variable,
// "Bivariate" for two): formatted from the FittedModel alone, each appended
// with a single write so that it reaches its file whole or not at all.

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "model/fitted_model.hpp"
#include "support/console.hpp"
#include "support/text_file.hpp"  // FileFailure

namespace velmora {

// The three reports as text: [0] output, [1] prediction, [2] residual. A
// model that could not be estimated is reported up to where it stopped.
// replication is shown in the one-threshold output header.
std::array<std::string, 3> format_model_report(const FittedModel& model, int replication);

// The three file names in dir, in the order above.
std::array<std::filesystem::path, 3> model_report_paths(const std::filesystem::path& dir,
                                                        int threshold_variables);

struct ReportOutcome {
    std::vector<std::filesystem::path> written;
    std::vector<FileFailure> failed;
    bool ok() const noexcept { return failed.empty(); }
};

// Appends the three reports to their files in dir, in order. A file that
// cannot be opened gives "File could not be opened\n" on the console (when not
// null) and the others are still written; a write or close that fails leaves
// the file as it was before (the partial append is cut off again). Nothing is
// thrown for a failed file: the outcome lists it.
ReportOutcome write_model_report(const FittedModel& model, int replication,
                                 const std::filesystem::path& dir, Console* console);

// The same for reports already formatted (format_model_report) of a model
// with threshold_variables threshold variables.
ReportOutcome append_model_report(const std::array<std::string, 3>& texts, int threshold_variables,
                                  const std::filesystem::path& dir, Console* console);

}  // namespace velmora
