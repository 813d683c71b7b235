#include "app/threshold_value.hpp"

#include <cmath>
#include <limits>

#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora {

PositionForValue position_for_threshold(const double_matrix& serie, const SeriesInfo& info,
                                        int component, int lag, double x) {
    const int n_oss = serie.row_hi();
    if (!std::isfinite(x)) {
        throw TermError(Term::thresholds, "Thresholds",
                        strprintf(": %g is not a finite number", x));
    }
    // The lagged values the regimes are split on: times 1..n_oss-lag.
    double below = -std::numeric_limits<double>::infinity();  // largest at or below x
    double above = std::numeric_limits<double>::infinity();   // smallest above x
    for (int s = 1; s <= n_oss - lag; ++s) {
        const double z = serie[s][component];
        if (z <= x) {
            below = std::max(below, z);
        } else {
            above = std::min(above, z);
        }
    }
    // A value v splits them like x when below <= v < above.
    int best = 0;
    for (int p = 1; p <= n_oss - 1; ++p) {
        const double v = serie[p][component];
        if (!(below <= v && v < above)) {
            continue;
        }
        if (best == 0) {
            best = p;
            continue;
        }
        const double b = serie[best][component];
        const bool v_low = v <= x;
        const bool b_low = b <= x;
        if (v_low != b_low ? v_low : (v_low ? v > b : v < b)) {
            best = p;
        }
    }
    if (best == 0) {
        throw TermError(Term::thresholds, "Thresholds",
                        strprintf(": %g lies below every value of %s at lag %d, and no time "
                                  "position holds a value that splits the series the same way",
                                  x, info.shown_component(component).c_str(), lag));
    }
    return {best, serie[best][component]};
}

}  // namespace velmora
