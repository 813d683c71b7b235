#include "forecast/quantile.hpp"

#include <cmath>
#include <stdexcept>

namespace velmora {

double sorted_quantile(std::span<const double> sorted, double prob) {
    if (sorted.empty()) {
        throw std::invalid_argument("sorted_quantile: no values");
    }
    const double h = static_cast<double>(sorted.size() - 1) * prob;
    const double lower = std::floor(h);
    const auto lo = static_cast<std::size_t>(lower);
    if (lo + 1 >= sorted.size()) {
        return sorted[sorted.size() - 1];
    }
    return sorted[lo] + (h - lower) * (sorted[lo + 1] - sorted[lo]);
}

}  // namespace velmora
