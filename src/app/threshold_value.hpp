#pragma once
// Threshold values given by value rather than by time position.

#include <string>

#include "data/series.hpp"
#include "numeric/arrays.hpp"

namespace velmora {

struct PositionForValue {
    int position = 0;    // time position 1..n_oss-1
    double value = 0.0;  // the series' value there: the threshold the model uses
};

// The time position whose value of the threshold variable (component, lag)
// splits the observations the same way as x: those whose lagged value is at
// or below it against the others. Of the positions that do, the one whose
// value is the largest not above x, else the smallest above it; among equal
// values, the earliest time. Throws TermError (the thresholds) when no position splits the
// series that way (x below every lagged value, and no unused time is).
PositionForValue position_for_threshold(const double_matrix& serie, const SeriesInfo& info,
                                        int component, int lag, double x);

}  // namespace velmora
