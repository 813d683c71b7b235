#include "model/regime_table.hpp"

#include <cstddef>
#include <limits>

namespace velmora::detail {

std::vector<double> lagged_component(const EstimationWorkspace& ws, int c, int d) {
    std::vector<double> values(static_cast<std::size_t>(ws.n_oss),
                               std::numeric_limits<double>::quiet_NaN());
    for (int t = d + 1; t <= ws.n_oss; ++t) {
        values[static_cast<std::size_t>(t - 1)] = ws.value(t - d, c);
    }
    return values;
}

std::vector<int> regime_of_time(const EstimationWorkspace& ws, int n_regime) {
    std::vector<int> regime(static_cast<std::size_t>(ws.n_oss), 0);
    for (int r = 1; r <= n_regime; ++r) {
        const auto& list = ws.times[static_cast<std::size_t>(r - 1)];
        const int count = ws.time_count[static_cast<std::size_t>(r - 1)];
        for (int i = 0; i < count; ++i) {
            const int t = list[static_cast<std::size_t>(i)];
            if (t >= ws.m + 1) {
                regime[static_cast<std::size_t>(t - 1)] = r;
            }
        }
    }
    return regime;
}

}  // namespace velmora::detail
