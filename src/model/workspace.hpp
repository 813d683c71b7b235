#pragma once
// Working storage of the estimators, sized once for a problem so that an
// estimate allocates nothing. One workspace per thread; a workspace belongs
// to the problem it was built for.

#include <array>
#include <vector>

#include "model/problem.hpp"

namespace velmora {

class EstimationWorkspace {
  public:
    explicit EstimationWorkspace(const ModelProblem& problem);

    // True when this workspace was built for a problem of these sizes on this
    // series.
    bool fits(const ModelProblem& problem) const noexcept;

    // --- used by the estimators ---
    int n_oss = 0;
    int k = 0;
    int columns = 0;  // threshold variables may be columns 1..columns
    int m = 0;
    const double_matrix* source = nullptr;

    // The series with time reversed: row s holds time n_oss - s (0-based).
    // The lags 1..p of time t are then p consecutive rows starting at row
    // n_oss - t + 1, one contiguous regressor vector.
    std::vector<double> reversed;
    // The regression design: over `reversed` without deterministic terms,
    // over design_rows with them.
    Include include = Include::none;
    int trend_origin = 0;
    int d = 0;  // deterministic columns
    Design design_rows;
    DesignView design() const noexcept {
        return d > 0 ? design_rows.view() : Design::over_reversed(reversed.data(), n_oss, k);
    }

    // Time indices of each regime, ascending (regimes 1..4 in [0..3]).
    std::array<std::vector<int>, 4> times;
    std::array<int, 4> time_count{};

    // q = d + p*k regressors at order p, deterministic ones first.
    std::vector<double> zz;         // q x q cross-products, inverted in place
    std::vector<double> zinv_t;     // its inverse, transposed
    std::vector<double> w;          // q
    std::vector<double> phi;        // q x k: Phi[(i-1)k + c] at [(i-1)k + c-1]
    std::vector<double> residual2;  // n_oss x k
    // Residual cross products E'E of regime r at order p, k x k each, at
    // [((r-1)*m + p-1)*k*k]; formed only when the regimes' orders differ
    // or are chosen.
    std::vector<double> cross;
    std::vector<double> fit;              // n_oss x k, print mode only
    std::vector<double> medie;            // k
    std::vector<double> sigma;            // k x k
    std::vector<double> lu;               // k x k
    std::vector<double> vv;               // k
    std::vector<int> indx;                // k
    std::vector<int> ipiv, indxr, indxc;  // q each

    // Series element (1-based time and component), from the reversed copy;
    // an external threshold column (beyond k) from the series itself.
    double value(int t, int c) const noexcept {
        if (c > k) {
            return (*source)[t][c];
        }
        return reversed[static_cast<std::size_t>(n_oss - t) * static_cast<std::size_t>(k) +
                        static_cast<std::size_t>(c - 1)];
    }
};

}  // namespace velmora
