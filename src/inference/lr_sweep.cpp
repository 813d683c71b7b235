#include "inference/lr_sweep.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "model/regime_rule.hpp"

namespace velmora::inference {

namespace {

using std::size_t;

inline size_t at(int i) {
    return static_cast<size_t>(i);
}

constexpr double kUnusedThreshold = 1000000.0;
constexpr double kInf = std::numeric_limits<double>::infinity();

// How far a sweep's improvement must go before a threshold moves: below it
// the difference is rounding between two accumulation orders.
constexpr double kImprovement = 1e-10;

}  // namespace

int ThresholdRule::linear_order(int m) const noexcept {
    int least = m;
    for (int r = 1; r <= std::max(n_regime, 1); ++r) {
        least = std::min(least, order(r, m));
    }
    return least;
}

ThresholdRule rule_of(const ModelStructure& structure) {
    return rule_of(structure, structure.orders);
}

ThresholdRule rule_of(const ModelStructure& structure, const std::array<int, 4>& orders) {
    ThresholdRule rule;
    rule.orders = orders;
    rule.variables = structure.threshold_variables;
    if (structure.threshold_variables == 1) {
        rule.n_regime = structure.one.n_regime;
        rule.component = {structure.one.which_serie, structure.one.which_serie};
        rule.lag = {structure.one.threshold_lag, structure.one.threshold_lag};
    } else {
        rule.n_regime = structure.two.n_regime;
        rule.type_model = structure.two.type_model;
        rule.component = {structure.two.which_serie1, structure.two.which_serie2};
        rule.lag = {structure.two.Ritardo1, structure.two.Ritardo2};
    }
    return rule;
}

ModelStructure shape_of(const ThresholdRule& rule) {
    ModelStructure s;
    s.threshold_variables = rule.variables;
    s.orders = rule.orders;
    if (rule.variables == 1) {
        s.one.which_serie = rule.component[0];
        s.one.n_regime = rule.n_regime;
        s.one.threshold_lag = rule.lag[0];
    } else {
        s.two.which_serie1 = rule.component[0];
        s.two.which_serie2 = rule.component[1];
        s.two.n_regime = rule.n_regime;
        s.two.type_model = rule.type_model;
        s.two.Ritardo1 = rule.lag[0];
        s.two.Ritardo2 = rule.lag[1];
    }
    return s;
}

int regime_of(const ThresholdRule& rule, const std::array<double, 3>& t, double z1, double z2) {
    if (rule.variables == 1) {
        const int r = regime_below(t.data(), 3, z1);
        return r <= rule.n_regime ? r : 0;
    }
    return quadrant_regime(rule.n_regime, rule.type_model, quadrant_of(z1, z2, t[0], t[1]));
}

ThresholdData prepare_threshold_data(const SeriesRows& series, const ThresholdRule& rule, int order,
                                     Include include, int trend_origin) {
    ThresholdData data;
    data.order = order;
    data.k = series.k;
    data.include = include;
    data.trend_origin = trend_origin;
    const int d = deterministic_count(include);
    data.q = d + order * series.k;
    const int d1 = rule.lag[0];
    const int d2 = rule.variables == 2 ? rule.lag[1] : rule.lag[0];
    data.first_time = std::max({d1, d2, order}) + 1;
    data.shape = shape_of(rule);
    auto sweep = std::make_shared<SweepSeries>();
    sweep->serie = double_matrix(1, series.n, 1, series.k + series.external_width);
    for (int t = 1; t <= series.n; ++t) {
        for (int c = 1; c <= series.k + series.external_width; ++c) {
            sweep->serie[t][c] = series.at(t, c);
        }
    }
    sweep->problem.serie_matrix = &sweep->serie;
    sweep->problem.n_oss = series.n;
    sweep->problem.n_comp = series.k;
    // The sweeps take their own least regime.
    sweep->problem.model = sized_by_sweep({.max_order = order, .include = include});
    sweep->problem.trend_origin = trend_origin;
    sweep->sweeper = std::make_unique<ThresholdSweeper>(sweep->problem);
    data.sweep = std::move(sweep);
    const std::array<double, 3> widest{kUnusedThreshold, kUnusedThreshold, kUnusedThreshold};
    for (int t = data.first_time; t <= series.n; ++t) {
        const double z1 = series.at(t - d1, rule.component[0]);
        const double z2 = rule.variables == 2 ? series.at(t - d2, rule.component[1]) : 0.0;
        // Above the unused slots' value no regime of a smaller model applies.
        if (rule.variables == 1 && regime_of(rule, widest, z1, z2) == 0) {
            continue;
        }
        data.times.push_back(t);
        data.z1.push_back(z1);
        data.z2.push_back(z2);
        std::array<double, kMaxDeterministic> terms{};
        deterministic_values(include, t, trend_origin, terms.data());
        data.x.insert(data.x.end(), terms.begin(), terms.begin() + d);
        for (int lag = 1; lag <= order; ++lag) {
            for (int c = 1; c <= series.k; ++c) {
                data.x.push_back(series.at(t - lag, c));
            }
        }
        for (int c = 1; c <= series.k; ++c) {
            data.y.push_back(series.at(t, c));
        }
    }
    return data;
}

double log_det_at(const ThresholdData& data, const ThresholdRule& rule,
                  const std::array<double, 3>& thresholds, int min_count) {
    return data.sweep->sweeper->log_det_sigma(shape_of(rule), thresholds, min_count);
}

int linear_order(const ThresholdData& data) {
    return rule_of(data.shape).linear_order(data.order);
}

double log_det_linear(const ThresholdData& data) {
    return data.sweep->sweeper->log_det_sigma_linear(data.shape, linear_order(data));
}

std::vector<SweepPoint> sweep_threshold(const ThresholdData& data, const ThresholdRule& rule,
                                        const std::array<double, 3>& thresholds, int j,
                                        int min_count) {
    return data.sweep->sweeper->log_det_sweep(shape_of(rule), thresholds, j, min_count);
}

int point_of(std::span<const SweepPoint> points, double value) {
    int found = -1;
    for (size_t i = 0; i < points.size() && points[i].threshold <= value; ++i) {
        found = static_cast<int>(i);
    }
    return found;
}

SweepOptimum minimise_thresholds(const ThresholdData& data, const ThresholdRule& rule,
                                 std::array<double, 3> start, int min_count) {
    const int count = rule.threshold_count();
    std::array<double, 3> current = start;
    for (int round = 0; round < 100; ++round) {
        bool moved = false;
        for (int j = 0; j < count; ++j) {
            const std::vector<SweepPoint> points =
                sweep_threshold(data, rule, current, j, min_count);
            if (points.empty()) {
                continue;
            }
            size_t best = 0;
            for (size_t i = 1; i < points.size(); ++i) {
                if (points[i].log_det < points[best].log_det) {
                    best = i;
                }
            }
            const int here = point_of(points, current[at(j)]);
            const double now = here >= 0 ? points[at(here)].log_det : kInfeasible;
            if (points[best].log_det < now - kImprovement) {
                current[at(j)] = points[best].threshold;
                moved = true;
            }
        }
        if (!moved || count == 1) {
            break;
        }
    }
    SweepOptimum out;
    out.thresholds = current;
    out.log_det = log_det_at(data, rule, current, min_count);
    return out;
}

std::array<int, 3> threshold_ranks(const ThresholdData& data, const ThresholdRule& rule,
                                   const std::array<double, 3>& thresholds) {
    std::array<int, 3> ranks{};
    for (int j = 0; j < rule.threshold_count(); ++j) {
        const std::vector<double>& z = rule.variables == 1 || j == 0 ? data.z1 : data.z2;
        ranks[at(j)] = static_cast<int>(
            std::count_if(z.begin(), z.end(), [&](double v) { return v <= thresholds[at(j)]; }));
    }
    return ranks;
}

std::array<double, 3> thresholds_at_ranks(const ThresholdData& data, const ThresholdRule& rule,
                                          const std::array<int, 3>& ranks) {
    std::array<double, 3> out{kUnusedThreshold, kUnusedThreshold, kUnusedThreshold};
    if (rule.variables == 2) {
        out[2] = 0.0;
    }
    for (int j = 0; j < rule.threshold_count(); ++j) {
        std::vector<double> z = rule.variables == 1 || j == 0 ? data.z1 : data.z2;
        if (z.empty()) {
            continue;
        }
        std::sort(z.begin(), z.end());
        const int rank = std::clamp(ranks[at(j)], 1, static_cast<int>(z.size()));
        out[at(j)] = z[at(rank - 1)];
    }
    return out;
}

}  // namespace velmora::inference
