#pragma once

#include <span>

namespace velmora {

// Quantile of sorted values by linear interpolation between order statistics
// (the definition R calls type 7): position (n - 1) * prob, 0-based.
double sorted_quantile(std::span<const double> sorted, double prob);

}  // namespace velmora
