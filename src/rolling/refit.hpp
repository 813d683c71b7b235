#pragma once
// The models a rolling evaluation estimates at each origin: a named
// structure with its thresholds estimated again, or a whole search run again.

#include <array>
#include <filesystem>
#include <optional>

#include "app/run_config.hpp"
#include "app/run_driver.hpp"
#include "app/threshold_app.hpp"
#include "data/series.hpp"
#include "model/structure.hpp"

namespace velmora::rolling {

// The structure (threshold variables, lags, regime count and type kept) with
// the thresholds that minimise ln det Sigma on `rows`, found by sweeping each
// threshold from `start` (the values of the model fitted on every row), and
// its coefficients estimated at those thresholds. Nothing when no thresholds
// leave every regime its least observations, or the estimate fails.
std::optional<StructureSummary> refit_thresholds(const RunConfig& config,
                                                 const ModelStructure& structure,
                                                 const std::array<double, 3>& start,
                                                 const LoadedSeries& rows, int trend_origin);

// The search of `config` run again on `rows` with `base`'s seed, refinement
// and replications on one thread, its files going to `dir` (created, and
// removed again afterwards); the refined model when refinement ran, else the
// search's best. Nothing when the search reported no model.
std::optional<StructureSummary> search_again(const RunConfig& config, const RunOptions& base,
                                             const LoadedSeries& rows, int trend_origin,
                                             const std::filesystem::path& dir);

}  // namespace velmora::rolling
