#include "inference/bootstrap.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <stdexcept>

namespace velmora::inference {

namespace {

using std::size_t;

inline size_t at(int i) {
    return static_cast<size_t>(i);
}

std::uint64_t mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

constexpr double kUnusedThreshold = 1000000.0;

// Quantiles of the grid the fallback search starts from: 5 % .. 95 %.
constexpr int kGridSteps = 20;

RegimeRule regime_rule_of(const ThresholdRule& rule, const std::array<double, 3>& thresholds) {
    RegimeRule out;
    out.threshold_variables = rule.variables;
    out.n_regime = rule.n_regime;
    out.component = rule.component[0];
    out.lag = rule.lag[0];
    out.thresholds = thresholds;
    if (rule.variables == 2) {
        out.component2 = rule.component[1];
        out.lag2 = rule.lag[1];
        out.type_model = rule.type_model;
    }
    return out;
}

// The distinct values of z at the grid's quantiles, ascending.
std::vector<double> grid_values(std::vector<double> z) {
    std::vector<double> out;
    if (z.empty()) {
        return out;
    }
    std::sort(z.begin(), z.end());
    const int n = static_cast<int>(z.size());
    for (int i = 1; i < kGridSteps; ++i) {
        const double v = z[at(std::min(n - 1, n * i / kGridSteps))];
        if (out.empty() || v > out.back()) {
            out.push_back(v);
        }
    }
    return out;
}

}  // namespace

ReplicateRandom::ReplicateRandom(std::uint64_t run_seed, std::uint64_t replicate)
    : state_(mix(mix(run_seed) ^ (0x9E3779B97F4A7C15ULL * (replicate + 1)))) {}

std::uint64_t ReplicateRandom::next() noexcept {
    state_ += 0x9E3779B97F4A7C15ULL;
    return mix(state_);
}

std::uint64_t ReplicateRandom::below(std::uint64_t n) noexcept {
    // Lemire's multiply-and-shift with rejection of the biased low range.
    unsigned __int128 product = static_cast<unsigned __int128>(next()) * n;
    auto low = static_cast<std::uint64_t>(product);
    if (low < n) {
        const std::uint64_t floor = (0 - n) % n;
        while (low < floor) {
            product = static_cast<unsigned __int128>(next()) * n;
            low = static_cast<std::uint64_t>(product);
        }
    }
    return static_cast<std::uint64_t>(product >> 64);
}

std::uint64_t derived_seed(std::uint64_t run_seed, std::uint64_t stream) {
    return stream == 0 ? run_seed : mix(run_seed ^ mix(0xD1B54A32D192ED03ULL * stream));
}

BootstrapNull fit_bootstrap_null(const SeriesRows& series, const ThresholdData& data,
                                 const ThresholdRule& rule,
                                 const std::array<double, 3>& thresholds) {
    return fit_bootstrap_null(series, data, rule, thresholds, data.z1);
}

BootstrapNull fit_bootstrap_null(const SeriesRows& series, const ThresholdData& data,
                                 const ThresholdRule& rule, const std::array<double, 3>& thresholds,
                                 std::span<const double> z1) {
    BootstrapNull null;
    null.k = data.k;
    null.order = data.order;
    null.first_time = data.first_time;
    const int n_regime = rule.n_regime;
    null.model.k = data.k;
    null.model.p = data.order;
    null.model.include = data.include;
    null.model.trend_origin = data.trend_origin;
    null.model.rule = regime_rule_of(rule, thresholds);
    null.model.regimes.resize(at(n_regime));
    // An external threshold variable is read as observed at every step.
    null.model.external_width = series.external_width;
    null.model.external = series.external;

    std::vector<int> regime_of_time(data.times.size(), 1);
    std::vector<std::vector<int>> times(at(n_regime));
    for (size_t i = 0; i < data.times.size(); ++i) {
        if (n_regime > 1) {
            regime_of_time[i] = regime_of(rule, thresholds, z1[i], data.z2[i]);
        }
        if (regime_of_time[i] > 0) {
            times[at(regime_of_time[i] - 1)].push_back(data.times[i]);
        }
    }
    std::vector<RegimeRegression> fits;
    for (int r = 0; r < n_regime; ++r) {
        fits.push_back(regress_regime(series, times[at(r)], rule.order(r + 1, data.order),
                                      data.include, data.trend_origin));
        if (!fits.back().estimated) {
            return null;
        }
        // A regime of a lower order steps with its further lags at zero.
        null.model.regimes[at(r)].phi = fits.back().coefficients;
        null.model.regimes[at(r)].phi.resize(at(data.order * data.k * data.k), 0.0);
        null.model.regimes[at(r)].deterministic = fits.back().deterministic;
    }

    // The regimes' residuals back in time order, then recentred.
    const int k = data.k;
    std::vector<size_t> next(at(n_regime), 0);
    std::vector<double> mean(at(k), 0.0);
    for (size_t i = 0; i < data.times.size(); ++i) {
        const int r = regime_of_time[i];
        if (r <= 0) {
            continue;
        }
        const RegimeRegression& g = fits[at(r - 1)];
        const double* e = g.residuals.data() + next[at(r - 1)]++ * at(k);
        for (int c = 0; c < k; ++c) {
            null.pool.push_back(e[c]);
            mean[at(c)] += e[c];
        }
    }
    const int rows = null.pool_rows();
    if (rows == 0) {
        return null;
    }
    for (int c = 0; c < k; ++c) {
        mean[at(c)] /= rows;
    }
    for (int i = 0; i < rows; ++i) {
        for (int c = 0; c < k; ++c) {
            null.pool[at(i) * at(k) + at(c)] -= mean[at(c)];
        }
    }
    null.ok = true;
    return null;
}

BootstrapNull fit_linear_null(const SeriesRows& series, const ThresholdData& data) {
    ThresholdRule linear;
    linear.n_regime = 1;
    linear.orders[0] = linear_order(data);
    return fit_bootstrap_null(series, data, linear, {});
}

std::vector<int> draw_rows(ReplicateRandom& random, int pool_rows, int count) {
    std::vector<int> draws(at(std::max(count, 0)));
    for (int& d : draws) {
        d = static_cast<int>(random.below(static_cast<std::uint64_t>(pool_rows)));
    }
    return draws;
}

void series_from_draws(const SeriesRows& data, const BootstrapNull& null,
                       std::span<const int> draws, SeriesRows& out) {
    const int k = null.k;
    if (static_cast<int>(draws.size()) != data.n - null.first_time + 1) {
        throw std::invalid_argument("series_from_draws: one draw per generated row is needed");
    }
    out.n = data.n;
    out.k = k;
    out.values.assign(data.values.begin(), data.values.end());
    // The external threshold columns stay as observed.
    out.external_width = data.external_width;
    out.external = data.external;
    for (int t = null.first_time; t <= data.n; ++t) {
        const size_t e = at(draws[at(t - null.first_time)]) * at(k);
        double* row = out.values.data() + at(t - 1) * at(k);
        threshold_var_step(null.model, row - k, -k, row, t);
        for (int c = 0; c < k; ++c) {
            row[c] += null.pool[e + at(c)];
        }
    }
}

void bootstrap_series(const SeriesRows& data, const BootstrapNull& null, ReplicateRandom& random,
                      SeriesRows& out) {
    const std::vector<int> draws =
        draw_rows(random, null.pool_rows(), data.n - null.first_time + 1);
    series_from_draws(data, null, draws, out);
}

BootstrapDraws run_bootstrap(const SeriesRows& series, const BootstrapNull& null, int replicates,
                             const BootstrapControl& control, const ReplicateStatistic& statistic) {
    const int B = std::max(replicates, 0);
    const int threads = std::clamp(control.threads, 1, std::max(B, 1));
    std::vector<SeriesRows> stars(at(threads));  // each thread's scratch
    const TaskResults ran = run_serial_tasks(
        control.executor, B, threads,
        [&](long long b, int worker) -> std::optional<std::string> {
            if (control.stop != nullptr && control.stop->load()) {
                return std::nullopt;
            }
            SeriesRows& star = stars[at(worker)];
            ReplicateRandom random(control.seed, static_cast<std::uint64_t>(b));
            bootstrap_series(series, null, random, star);
            ByteWriter out;
            out.f64(statistic(star));
            return std::move(out.bytes());
        },
        [&](long long done, long long total) {
            if (control.progress) {
                control.progress(static_cast<int>(done), static_cast<int>(total));
            }
            return control.stop == nullptr || !control.stop->load();
        });
    BootstrapDraws draws;
    draws.statistics.assign(at(B), std::numeric_limits<double>::quiet_NaN());
    draws.finished = ran.ran;
    draws.completed = ran.completed;
    for (int b = 0; b < B; ++b) {
        if (ran.ran[at(b)] != 0) {
            const double value = ByteReader(ran.results[at(b)]).f64();
            draws.statistics[at(b)] =
                std::isfinite(value) ? value : std::numeric_limits<double>::quiet_NaN();
        }
    }
    return draws;
}

BootstrapTally tally_bootstrap(std::span<const double> statistics, double observed,
                               std::span<const char> finished) {
    BootstrapTally tally;
    for (std::size_t b = 0; b < statistics.size(); ++b) {
        if (!finished.empty() && finished[b] == 0) {
            continue;
        }
        if (std::isnan(statistics[b])) {
            ++tally.failed;
            continue;
        }
        ++tally.fitted;
        tally.exceedances += statistics[b] >= observed ? 1 : 0;
    }
    return tally;
}

double bootstrap_p_value(int exceedances, int replicates) {
    return (1.0 + exceedances) / (1.0 + replicates);
}

SweepOptimum feasible_grid_start(const ThresholdData& data, const ThresholdRule& rule,
                                 int min_count) {
    SweepOptimum best;
    std::array<double, 3> t{kUnusedThreshold, kUnusedThreshold, kUnusedThreshold};
    auto consider = [&]() {
        const double ld = log_det_at(data, rule, t, min_count);
        if (std::isfinite(ld) && ld < best.log_det) {
            best.log_det = ld;
            best.thresholds = t;
        }
    };
    const std::vector<double> g1 = grid_values(data.z1);
    const int n1 = static_cast<int>(g1.size());
    if (rule.variables == 2) {
        const std::vector<double> g2 = grid_values(data.z2);
        t[2] = 0.0;
        for (double a : g1) {
            for (double b : g2) {
                t[0] = a;
                t[1] = b;
                consider();
            }
        }
        return best;
    }
    const int count = rule.threshold_count();
    for (int a = 0; a < n1; ++a) {
        t[0] = g1[at(a)];
        if (count == 1) {
            consider();
            continue;
        }
        for (int b = a + 1; b < n1; ++b) {
            t[1] = g1[at(b)];
            if (count == 2) {
                consider();
                continue;
            }
            for (int c = b + 1; c < n1; ++c) {
                t[2] = g1[at(c)];
                consider();
            }
        }
    }
    return best;
}

SweepOptimum minimise_or_search(const ThresholdData& data, const ThresholdRule& rule,
                                const std::array<double, 3>& start, int min_count) {
    SweepOptimum found = minimise_thresholds(data, rule, start, min_count);
    if (std::isfinite(found.log_det)) {
        return found;
    }
    const SweepOptimum grid = feasible_grid_start(data, rule, min_count);
    if (!std::isfinite(grid.log_det)) {
        return grid;
    }
    return minimise_thresholds(data, rule, grid.thresholds, min_count);
}

}  // namespace velmora::inference
