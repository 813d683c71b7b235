#include "forecast/girf.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "forecast/forecast_paths.hpp"
#include "forecast/quantile.hpp"
#include "forecast/random_stream.hpp"
#include "numeric/cholesky.hpp"

namespace velmora {

namespace {

inline std::size_t idx(long long i) {
    return static_cast<std::size_t>(i);
}

// Share of a component's variance below which a Cholesky pivot counts as
// zero.
constexpr double kRelativePivot = 1e-12;

using Cube = std::vector<std::vector<std::vector<double>>>;

Cube make_cube(int a, int b, int c) {
    return Cube(idx(a), std::vector<std::vector<double>>(idx(b), std::vector<double>(idx(c), 0.0)));
}

// Scratch of one thread.
struct GirfScratch {
    PathSimulator simulator;
    std::vector<double> history;
    std::vector<double> base;
    std::vector<double> shocked;
    GirfScratch(const ThresholdVarModel& model, int steps)
        : simulator(model, steps),
          history(idx(model.history_rows()) * idx(model.k)),
          base(idx(steps) * idx(model.k)),
          shocked(idx(steps) * idx(model.k)) {}
};

}  // namespace

std::vector<double> cholesky_lower(const std::vector<double>& a, int k) {
    if (a.size() != idx(k) * idx(k)) {
        throw std::invalid_argument("cholesky_lower: not a k x k matrix");
    }
    std::vector<double> l(a.size(), 0.0);
    for (int i = 0; i < k; ++i) {
        for (int j = 0; j <= i; ++j) {
            l[idx(i) * idx(k) + idx(j)] = a[idx(i) * idx(k) + idx(j)];
        }
    }
    if (!cholesky_in_place(l.data(), k)) {
        throw std::domain_error("not positive definite");
    }
    return l;
}

GirfResult girf_threshold_var(const ThresholdVarModel& model, const double_matrix& series,
                              const GirfOptions& options) {
    if (options.horizon < 0) {
        throw std::invalid_argument("impulse responses: the horizon must be 0 or more");
    }
    if (options.histories < 1 || options.repetitions < 1) {
        throw std::invalid_argument("impulse responses: at least one history and repetition");
    }
    model.check();
    const int k = model.k;
    const int steps = options.horizon + 1;
    const int n_regime = model.n_regime();
    const int histories = options.histories;
    const int reps = options.repetitions;
    const int rows = model.history_rows();
    const std::size_t path_size = idx(steps) * idx(k);

    GirfResult result;
    result.horizon = options.horizon;
    result.k = k;
    result.histories = histories;
    result.repetitions = reps;
    result.regimes.resize(idx(n_regime));
    // The scale a regime's innovations are judged against: the largest
    // variance of each component among the regimes. A pivot that is a
    // vanishing share of it is rounding, not an innovation.
    std::vector<double> variance_scale(idx(k), 0.0);
    for (const VarRegime& regime : model.regimes) {
        for (int j = 0; j < k && regime.covariance.size() == idx(k) * idx(k); ++j) {
            variance_scale[idx(j)] =
                std::max(variance_scale[idx(j)], regime.covariance[idx(j) * idx(k) + idx(j)]);
        }
    }
    std::vector<int> active;  // regimes with histories
    for (int r = 1; r <= n_regime; ++r) {
        GirfRegime& out = result.regimes[idx(r - 1)];
        const VarRegime& regime = model.regimes[idx(r - 1)];
        out.regime = r;
        // Only times with a full history can start a path.
        for (const int t : regime.times) {
            if (t > rows) {
                ++out.times_available;
            }
        }
        if (out.times_available == 0) {
            continue;
        }
        const std::string not_definite =
            "the residual covariance of regime " + std::to_string(r) + " is not positive definite";
        const int regressors =
            static_cast<int>(regime.phi.size()) / k + (regime.intercept.empty() ? 0 : 1);
        const int observations = regime.residual_rows(k);
        if (observations <= regressors) {
            // Residuals that are zero up to rounding: its shocks would be
            // rounding noise, its responses zero.
            throw std::domain_error(not_definite + " (" + std::to_string(observations) +
                                    " observations for " + std::to_string(regressors) +
                                    " regressors: no residual degrees of freedom)");
        }
        try {
            out.cholesky = cholesky_lower(regime.covariance, k);
        } catch (const std::domain_error&) {
            throw std::domain_error(not_definite);
        }
        for (int j = 0; j < k; ++j) {
            const double pivot = out.cholesky[idx(j) * idx(k) + idx(j)];
            if (pivot * pivot <= kRelativePivot * variance_scale[idx(j)]) {
                throw std::domain_error(not_definite + " (relative to the variance of component " +
                                        std::to_string(j + 1) + " in the other regimes)");
            }
        }
        active.push_back(r);
    }

    // Each history's mean response: [regime][history][shock][horizon][component].
    const std::size_t per_history = idx(k) * path_size;
    std::vector<double> responses(idx(n_regime) * idx(histories) * per_history, 0.0);
    const int threads = std::max(1, options.threads);
    std::vector<GirfScratch> scratch;
    scratch.reserve(idx(threads));
    for (int t = 0; t < threads; ++t) {
        scratch.emplace_back(model, steps);
    }
    const long long tasks = static_cast<long long>(active.size()) * histories;
    // A history's responses are its task's result, so that the histories
    // may run in other processes.
    const TaskResults ran = run_serial_tasks(
        options.executor, tasks, threads,
        [&](long long task, int worker) -> std::optional<std::string> {
            const int r = active[idx(task / histories)];
            const int h = static_cast<int>(task % histories);
            GirfScratch& s = scratch[idx(worker)];
            const VarRegime& regime = model.regimes[idx(r - 1)];
            const std::vector<double>& chol = result.regimes[idx(r - 1)].cholesky;
            RandomStream stream(
                derive_seed(options.seed, StreamPurpose::girf,
                            (static_cast<std::uint64_t>(r) << 32) | static_cast<std::uint64_t>(h)));
            // The history: a time of the regime with a full history, by rank.
            int pick = stream.below(result.regimes[idx(r - 1)].times_available);
            int time = 0;
            for (const int t : regime.times) {
                if (t > rows && pick-- == 0) {
                    time = t;
                    break;
                }
            }
            for (int j = 0; j < rows; ++j) {
                for (int c = 0; c < k; ++c) {
                    s.history[idx(j) * idx(k) + idx(c)] = series[time - rows + j][c + 1];
                }
            }
            std::vector<double> mean(per_history, 0.0);
            double* out = mean.data();
            std::vector<double> impulse(idx(k));
            for (int rep = 0; rep < reps; ++rep) {
                if (options.stop != nullptr && options.stop->load(std::memory_order_relaxed)) {
                    return std::nullopt;
                }
                const std::uint64_t draw_seed = stream.next();
                RandomStream base_stream(draw_seed);
                // The history ends the time before `time`.
                s.simulator.run(s.history, &base_stream, nullptr, s.base.data(), nullptr, time - 1);
                for (int j = 0; j < k; ++j) {
                    for (int c = 0; c < k; ++c) {
                        impulse[idx(c)] = chol[idx(c) * idx(k) + idx(j)];
                    }
                    RandomStream shocked_stream(draw_seed);
                    s.simulator.run(s.history, &shocked_stream, impulse.data(), s.shocked.data(),
                                    nullptr, time - 1);
                    double* o = out + idx(j) * path_size;
                    for (std::size_t v = 0; v < path_size; ++v) {
                        o[v] += s.shocked[v] - s.base[v];
                    }
                }
            }
            for (std::size_t v = 0; v < per_history; ++v) {
                out[v] /= reps;
            }
            ByteWriter bytes;
            bytes.doubles(mean);
            return std::move(bytes.bytes());
        },
        options.progress);
    if (!ran.completed) {
        return {};
    }
    for (long long task = 0; task < tasks; ++task) {
        const int r = active[idx(task / histories)];
        const int h = static_cast<int>(task % histories);
        const std::vector<double> mean = ByteReader(ran.results[idx(task)]).doubles();
        std::copy(mean.begin(), mean.end(),
                  responses.begin() + static_cast<std::ptrdiff_t>(
                                          (idx(r - 1) * idx(histories) + idx(h)) * per_history));
    }

    std::vector<double> column(idx(histories));
    for (const int r : active) {
        GirfRegime& out = result.regimes[idx(r - 1)];
        out.mean = make_cube(k, steps, k);
        out.q05 = make_cube(k, steps, k);
        out.q95 = make_cube(k, steps, k);
        const double* base = responses.data() + idx(r - 1) * idx(histories) * per_history;
        for (int j = 0; j < k; ++j) {
            for (int h = 0; h < steps; ++h) {
                for (int c = 0; c < k; ++c) {
                    const std::size_t offset = idx(j) * path_size + idx(h) * idx(k) + idx(c);
                    double sum = 0.0;
                    for (int i = 0; i < histories; ++i) {
                        const double v = base[idx(i) * per_history + offset];
                        column[idx(i)] = v;
                        sum += v;
                    }
                    std::sort(column.begin(), column.end());
                    out.mean[idx(j)][idx(h)][idx(c)] = sum / histories;
                    out.q05[idx(j)][idx(h)][idx(c)] = sorted_quantile(column, 0.05);
                    out.q95[idx(j)][idx(h)][idx(c)] = sorted_quantile(column, 0.95);
                }
            }
        }
    }
    return result;
}

}  // namespace velmora
