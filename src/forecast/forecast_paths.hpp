#pragma once
// One simulated path of a threshold VAR: each step's regime from the path's
// own lagged threshold variable(s), its mean from that regime's coefficients,
// plus a residual vector of that regime drawn whole (so the components'
// correlation is kept).

#include <span>
#include <vector>

#include "forecast/fitted_var.hpp"
#include "forecast/random_stream.hpp"
#include "numeric/arrays.hpp"

namespace velmora {

// The last `rows` rows of a series up to time `end` (1-based, inclusive),
// oldest first: the history a path starts from. Throws std::invalid_argument
// when the series is shorter than that.
std::vector<double> series_history(const double_matrix& series, int n_comp, int end, int rows);

// Reusable storage for paths of one model and length.
class PathSimulator {
  public:
    PathSimulator(const ThresholdVarModel& model, int steps);

    // Simulates `steps` steps after `history` (at least model.history_rows()
    // rows of k values, oldest first; the last ones are used). With a null
    // stream the path has no shocks; otherwise every step draws exactly one
    // number from it, so two paths from equal streams share their draws even
    // when they pass through different regimes. `impulse` (k values, may be
    // null) is added to the first step. Writes steps x k values to `out` and,
    // when not null, each step's regime to `regimes`. `origin` is the time
    // of the last history row, from which a trend goes on counting.
    void run(std::span<const double> history, RandomStream* stream, const double* impulse,
             double* out, int* regimes = nullptr, int origin = 0);

    int steps() const noexcept { return steps_; }

  private:
    const ThresholdVarModel& model_;
    int steps_;
    int rows_;  // history rows kept
    // Newest row first, so the lags of a time are consecutive rows, in the
    // order of the coefficients' regressors.
    std::vector<double> buffer_;
};

}  // namespace velmora
