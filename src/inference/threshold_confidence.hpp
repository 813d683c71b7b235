#pragma once
// How precisely is the threshold known? The set of thresholds gamma whose
// LR(gamma) = T (ln det Sigma(gamma) - ln det Sigma(gamma_hat)) stays at or
// below -2 ln(1 - sqrt(level)) (7.35 for a level of 0.95), the critical value
// of the likelihood ratio in the threshold of a two-regime model. It is
// reported as the interval spanning those thresholds, its pieces when it is
// not one interval, and the number of candidate thresholds inside. With several thresholds each
// one's set is found with the others held at their estimates.

#include <array>
#include <vector>

#include "inference/lr_sweep.hpp"

namespace velmora::inference {

struct ThresholdInterval {
    double estimate = 0.0;
    double low = 0.0;
    double high = 0.0;
    int inside = 0;      // candidate thresholds in the set
    int candidates = 0;  // candidate thresholds swept (every regime large enough)
    // The set as runs of consecutive candidates inside it, ascending: one
    // piece when it is an interval, several when candidates outside it lie
    // between [low, high].
    std::vector<std::array<double, 2>> pieces;
    // The smallest or largest candidate the least observations per regime
    // admit is inside: the set is cut there and might reach further.
    bool cut_at_bound = false;
};

struct ThresholdConfidence {
    double level = 0.95;
    double critical_value = 0.0;
    bool others_held = false;  // several thresholds: each with the others at their estimates
    std::vector<ThresholdInterval> intervals;  // one per threshold, in the model's order
};

double confidence_critical_value(double level);

// estimate: the model's thresholds (the estimators' layout).
ThresholdConfidence threshold_confidence(const ThresholdData& data, const ThresholdRule& rule,
                                         const std::array<double, 3>& estimate, int min_count,
                                         double level);

}  // namespace velmora::inference
