#include "inference/threshold_sweep.hpp"

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

ThresholdRule rule_of(const ModelStructure& structure) {
    ThresholdRule rule;
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

int regime_of(const ThresholdRule& rule, const std::array<double, 3>& t, double z1, double z2) {
    if (rule.variables == 1) {
        const int r = regime_below(t.data(), 3, z1);
        return r <= rule.n_regime ? r : 0;
    }
    return quadrant_regime(rule.n_regime, rule.type_model, quadrant_of(z1, z2, t[0], t[1]));
}

ThresholdData prepare_threshold_data(const SeriesRows& series, const ThresholdRule& rule,
                                     int order) {
    ThresholdData data;
    data.order = order;
    data.k = series.k;
    data.q = order * series.k;
    const int d1 = rule.lag[0];
    const int d2 = rule.variables == 2 ? rule.lag[1] : rule.lag[0];
    data.first_time = std::max({d1, d2, order}) + 1;
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

void CrossProducts::reset(int q, int k) {
    count = 0;
    zz.assign(at(q) * at(q), 0.0);
    zy.assign(at(q) * at(k), 0.0);
    yy.assign(at(k) * at(k), 0.0);
}

void CrossProducts::add(const double* x, const double* y, int q, int k) {
    ++count;
    for (int i = 0; i < q; ++i) {
        const double xi = x[i];
        double* row = zz.data() + at(i) * at(q);
        for (int j = 0; j <= i; ++j) {
            row[j] += xi * x[j];
        }
        double* zrow = zy.data() + at(i) * at(k);
        for (int c = 0; c < k; ++c) {
            zrow[c] += xi * y[c];
        }
    }
    for (int a = 0; a < k; ++a) {
        for (int b = 0; b <= a; ++b) {
            yy[at(a) * at(k) + at(b)] += y[a] * y[b];
        }
    }
}

void CrossProducts::remove(const double* x, const double* y, int q, int k) {
    --count;
    for (int i = 0; i < q; ++i) {
        const double xi = x[i];
        double* row = zz.data() + at(i) * at(q);
        for (int j = 0; j <= i; ++j) {
            row[j] -= xi * x[j];
        }
        double* zrow = zy.data() + at(i) * at(k);
        for (int c = 0; c < k; ++c) {
            zrow[c] -= xi * y[c];
        }
    }
    for (int a = 0; a < k; ++a) {
        for (int b = 0; b <= a; ++b) {
            yy[at(a) * at(k) + at(b)] -= y[a] * y[b];
        }
    }
}

double log_det_sigma(std::span<const CrossProducts> regimes, int q, int k, int T,
                     LogDetScratch& s) {
    s.factor.resize(at(q) * at(q));
    s.w.resize(at(q) * at(k));
    s.total.assign(at(k) * at(k), 0.0);
    for (const CrossProducts& r : regimes) {
        if (r.count == 0) {
            continue;
        }
        std::copy(r.zz.begin(), r.zz.end(), s.factor.begin());
        if (!cholesky(s.factor.data(), q)) {
            return kInfeasible;
        }
        // W = L^-1 Z'Y, so that (Z'Y)'(Z'Z)^-1 Z'Y = W'W.
        for (int i = 0; i < q; ++i) {
            const double* li = s.factor.data() + at(i) * at(q);
            for (int c = 0; c < k; ++c) {
                double v = r.zy[at(i) * at(k) + at(c)];
                for (int l = 0; l < i; ++l) {
                    v -= li[l] * s.w[at(l) * at(k) + at(c)];
                }
                s.w[at(i) * at(k) + at(c)] = v / li[i];
            }
        }
        for (int a = 0; a < k; ++a) {
            for (int b = 0; b <= a; ++b) {
                double v = r.yy[at(a) * at(k) + at(b)];
                for (int i = 0; i < q; ++i) {
                    v -= s.w[at(i) * at(k) + at(a)] * s.w[at(i) * at(k) + at(b)];
                }
                s.total[at(a) * at(k) + at(b)] += v;
            }
        }
    }
    s.s.resize(at(k) * at(k));
    for (int a = 0; a < k; ++a) {
        for (int b = 0; b <= a; ++b) {
            s.s[at(a) * at(k) + at(b)] = s.total[at(a) * at(k) + at(b)] / T;
        }
    }
    if (!cholesky(s.s.data(), k)) {
        return kInfeasible;
    }
    double log_det = 0.0;
    for (int a = 0; a < k; ++a) {
        log_det += std::log(s.s[at(a) * at(k) + at(a)]);
    }
    return 2.0 * log_det;
}

double log_det_at(const ThresholdData& data, const ThresholdRule& rule,
                  const std::array<double, 3>& thresholds, int min_count) {
    std::vector<CrossProducts> regimes(at(rule.n_regime));
    for (CrossProducts& r : regimes) {
        r.reset(data.q, data.k);
    }
    int T = 0;
    for (int i = 0; i < data.count(); ++i) {
        const int r = regime_of(rule, thresholds, data.z1[at(i)], data.z2[at(i)]);
        if (r == 0) {
            continue;
        }
        regimes[at(r - 1)].add(data.x.data() + at(i) * at(data.q),
                               data.y.data() + at(i) * at(data.k), data.q, data.k);
        ++T;
    }
    for (const CrossProducts& r : regimes) {
        if (min_count > 0 && r.count < min_count) {
            return kInfeasible;
        }
    }
    LogDetScratch scratch;
    return log_det_sigma(regimes, data.q, data.k, T, scratch);
}

double log_det_linear(const ThresholdData& data) {
    std::vector<CrossProducts> one(1);
    one[0].reset(data.q, data.k);
    for (int i = 0; i < data.count(); ++i) {
        one[0].add(data.x.data() + at(i) * at(data.q), data.y.data() + at(i) * at(data.k), data.q,
                   data.k);
    }
    LogDetScratch scratch;
    return log_det_sigma(one, data.q, data.k, data.count(), scratch);
}

std::vector<SweepPoint> sweep_threshold(const ThresholdData& data, const ThresholdRule& rule,
                                        const std::array<double, 3>& thresholds, int j,
                                        int min_count) {
    const int q = data.q;
    const int k = data.k;
    const int T = data.count();
    double lower = -kInf;
    double upper = kInf;
    if (rule.variables == 1) {
        lower = j > 0 ? thresholds[at(j - 1)] : -kInf;
        upper = j < 2 ? thresholds[at(j + 1)] : kInf;
    }
    std::array<double, 3> low_side = thresholds;
    std::array<double, 3> high_side = thresholds;
    low_side[at(j)] = upper;
    high_side[at(j)] = lower;
    const std::vector<double>& z = rule.variables == 1 || j == 0 ? data.z1 : data.z2;

    std::vector<CrossProducts> regimes(at(rule.n_regime));
    for (CrossProducts& r : regimes) {
        r.reset(q, k);
    }
    std::vector<int> low(at(T));
    std::vector<int> high(at(T));
    std::vector<int> moving;
    for (int i = 0; i < T; ++i) {
        low[at(i)] = regime_of(rule, low_side, data.z1[at(i)], data.z2[at(i)]);
        high[at(i)] = regime_of(rule, high_side, data.z1[at(i)], data.z2[at(i)]);
        if (high[at(i)] > 0) {
            regimes[at(high[at(i)] - 1)].add(data.x.data() + at(i) * at(q),
                                             data.y.data() + at(i) * at(k), q, k);
        }
        if (low[at(i)] != high[at(i)]) {
            moving.push_back(i);
        }
    }
    std::stable_sort(moving.begin(), moving.end(),
                     [&z](int a, int b) { return z[at(a)] < z[at(b)]; });

    std::vector<SweepPoint> points;
    LogDetScratch scratch;
    size_t g = 0;
    while (g < moving.size()) {
        const double value = z[at(moving[g])];
        // Every time with this value moves below the threshold together.
        while (g < moving.size() && z[at(moving[g])] == value) {
            const int i = moving[g];
            const double* x = data.x.data() + at(i) * at(q);
            const double* y = data.y.data() + at(i) * at(k);
            if (high[at(i)] > 0) {
                regimes[at(high[at(i)] - 1)].remove(x, y, q, k);
            }
            if (low[at(i)] > 0) {
                regimes[at(low[at(i)] - 1)].add(x, y, q, k);
            }
            ++g;
        }
        bool enough = true;
        for (const CrossProducts& r : regimes) {
            enough = enough && r.count >= min_count;
        }
        if (!enough) {
            continue;
        }
        const double v = log_det_sigma(regimes, q, k, T, scratch);
        if (std::isfinite(v)) {
            points.push_back({value, v});
        }
    }
    return points;
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
