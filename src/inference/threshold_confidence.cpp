#include "inference/threshold_confidence.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace velmora::inference {

double confidence_critical_value(double level) {
    return -2.0 * std::log(1.0 - std::sqrt(level));
}

ThresholdConfidence threshold_confidence(const ThresholdData& data, const ThresholdRule& rule,
                                         const std::array<double, 3>& estimate, int min_count,
                                         double level) {
    ThresholdConfidence out;
    out.level = level;
    out.critical_value = confidence_critical_value(level);
    const int count = rule.threshold_count();
    out.others_held = count > 1;
    const double T = data.count();
    for (int j = 0; j < count; ++j) {
        const double gamma_hat = estimate[static_cast<std::size_t>(j)];
        const std::vector<SweepPoint> points = sweep_threshold(data, rule, estimate, j, min_count);
        ThresholdInterval interval;
        interval.estimate = gamma_hat;
        interval.low = gamma_hat;
        interval.high = gamma_hat;
        interval.candidates = static_cast<int>(points.size());
        // The estimate's own fit, every regime as estimated (its split need
        // not be among the swept ones when a regime is at the smallest size).
        const double reference = log_det_at(data, rule, estimate, 0);
        if (!std::isfinite(reference)) {
            out.intervals.push_back(interval);
            continue;
        }
        bool in_run = false;
        for (std::size_t i = 0; i < points.size(); ++i) {
            const SweepPoint& p = points[i];
            const bool inside = T * (p.log_det - reference) <= out.critical_value;
            if (inside) {
                interval.low = std::min(interval.low, p.threshold);
                interval.high = std::max(interval.high, p.threshold);
                ++interval.inside;
                if (in_run) {
                    interval.pieces.back()[1] = p.threshold;
                } else {
                    interval.pieces.push_back({p.threshold, p.threshold});
                }
                if (i == 0 || i + 1 == points.size()) {
                    interval.cut_at_bound = true;
                }
            }
            in_run = inside;
        }
        if (interval.pieces.empty()) {
            interval.pieces.push_back({gamma_hat, gamma_hat});
        }
        out.intervals.push_back(interval);
    }
    return out;
}

}  // namespace velmora::inference
