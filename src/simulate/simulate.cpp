#include "simulate/simulate.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include "simulate/var_step.hpp"

namespace velmora {

namespace {

using std::size_t;

inline size_t idx(int i) {
    return static_cast<size_t>(i);
}

void require(bool condition, const std::string& what) {
    if (!condition) {
        throw std::invalid_argument("threshold VAR: " + what);
    }
}

// Lower Cholesky factor of a covariance (row-major k x k); identity when empty.
std::vector<double> cholesky(const std::vector<double>& cov, int k) {
    std::vector<double> l(idx(k) * idx(k), 0.0);
    if (cov.empty()) {
        for (int i = 0; i < k; ++i) {
            l[idx(i) * idx(k) + idx(i)] = 1.0;
        }
        return l;
    }
    for (int i = 0; i < k; ++i) {
        for (int j = 0; j <= i; ++j) {
            double s = cov[idx(i) * idx(k) + idx(j)];
            for (int p = 0; p < j; ++p) {
                s -= l[idx(i) * idx(k) + idx(p)] * l[idx(j) * idx(k) + idx(p)];
            }
            if (i == j) {
                require(s > 0.0, "a shock covariance is not positive definite");
                l[idx(i) * idx(k) + idx(i)] = std::sqrt(s);
            } else {
                l[idx(i) * idx(k) + idx(j)] = s / l[idx(j) * idx(k) + idx(j)];
            }
        }
    }
    return l;
}

// Shared by both entry points: shock(t, regime, out) fills row t's shock.
template <class Shock>
SimulatedSeries run(const ThresholdVar& model, const SimulationOptions& options, Shock&& shock) {
    model.validate();
    require(options.n_obs >= 1 && options.burn_in >= 0, "n_obs must be >= 1 and burn_in >= 0");
    const int k = model.n_comp;
    const int total = options.burn_in + options.n_obs;
    std::vector<double> y(idx(total) * idx(k), 0.0);
    std::vector<int> regime(idx(total), 1);
    std::vector<double> e(idx(k));
    // Each regime's coefficients in the estimators' layout.
    std::vector<std::vector<double>> phi;
    for (const RegimeVar& v : model.regimes) {
        std::vector<double>& p = phi.emplace_back(v.coefficients.size());
        for (int l = 1; l <= v.order; ++l) {
            for (int i = 0; i < k; ++i) {
                for (int j = 0; j < k; ++j) {
                    p[(idx(l - 1) * idx(k) + idx(j)) * idx(k) + idx(i)] =
                        v.coefficients[(idx(l - 1) * idx(k) + idx(i)) * idx(k) + idx(j)];
                }
            }
        }
    }

    for (int t = 0; t < total; ++t) {
        // Values before the first row are zero.
        auto history = [&](int lag, int component) {
            const int s = t - lag;
            return s < 0 ? 0.0 : y[idx(s) * idx(k) + idx(component - 1)];
        };
        const int r = regime_of(model.rule, history);
        regime[idx(t)] = r;
        const RegimeVar& v = model.regimes[idx(r - 1)];
        shock(t, r, e.data());
        double* row = y.data() + idx(t) * idx(k);
        for (int i = 0; i < k; ++i) {
            row[i] = v.intercept.empty() ? 0.0 : v.intercept[idx(i)];
        }
        // Lags before the first row add nothing.
        if (t > 0) {
            add_autoregression(phi[idx(r - 1)].data(), std::min(v.order, t), k, row - k, -k, row);
        }
        for (int i = 0; i < k; ++i) {
            row[i] += e[idx(i)];
        }
    }

    SimulatedSeries out;
    out.n_obs = options.n_obs;
    out.n_comp = k;
    const size_t first = idx(options.burn_in);
    out.values.assign(y.begin() + static_cast<std::ptrdiff_t>(first * idx(k)), y.end());
    out.regime.assign(regime.begin() + static_cast<std::ptrdiff_t>(first), regime.end());
    return out;
}

}  // namespace

int ThresholdRule::regimes() const {
    if (variables == 1) {
        return static_cast<int>(thresholds.size()) + 1;
    }
    return type_model == 0 ? 4 : 3;
}

int ThresholdRule::max_lag() const {
    return variables == 1 ? lag : std::max(lag1, lag2);
}

void ThresholdVar::validate() const {
    require(n_comp >= 1, "n_comp must be >= 1");
    const ThresholdRule& r = rule;
    require(r.variables == 1 || r.variables == 2, "one or two threshold variables");
    if (r.variables == 1) {
        require(r.component >= 1 && r.component <= n_comp, "threshold component out of range");
        require(r.lag >= 1, "threshold lag must be >= 1");
        require(!r.thresholds.empty() && r.thresholds.size() <= 3, "1 to 3 thresholds");
        for (size_t i = 1; i < r.thresholds.size(); ++i) {
            require(r.thresholds[i - 1] <= r.thresholds[i], "thresholds must ascend");
        }
    } else {
        require(r.component1 >= 1 && r.component1 <= n_comp && r.component2 >= 1 &&
                    r.component2 <= n_comp,
                "threshold component out of range");
        require(r.lag1 >= 1 && r.lag2 >= 1, "threshold lags must be >= 1");
        require(r.type_model >= 0 && r.type_model <= 3, "type_model must be 0..3");
    }
    require(static_cast<int>(regimes.size()) == r.regimes(),
            "one RegimeVar per regime of the rule");
    const size_t kk = idx(n_comp) * idx(n_comp);
    for (const RegimeVar& v : regimes) {
        require(v.order >= 0, "order must be >= 0");
        require(v.coefficients.size() == idx(v.order) * kk, "coefficients must hold order*k*k");
        require(v.intercept.empty() || v.intercept.size() == idx(n_comp),
                "intercept must hold k entries");
        require(v.shock_covariance.empty() || v.shock_covariance.size() == kk,
                "shock covariance must hold k*k entries");
    }
}

double_matrix SimulatedSeries::to_matrix() const {
    double_matrix m(1, n_obs, 1, n_comp);
    for (int t = 1; t <= n_obs; ++t) {
        for (int c = 1; c <= n_comp; ++c) {
            m[t][c] = at(t, c);
        }
    }
    return m;
}

void SimulatedSeries::write(const std::filesystem::path& path) const {
    struct Closer {
        void operator()(std::FILE* f) const noexcept { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "w"));
    if (!file) {
        throw std::runtime_error("cannot write " + path.string());
    }
    for (int t = 1; t <= n_obs; ++t) {
        for (int c = 1; c <= n_comp; ++c) {
            std::fprintf(file.get(), c == 1 ? "%.17g" : " %.17g", at(t, c));
        }
        std::fputc('\n', file.get());
    }
    if (std::fflush(file.get()) != 0) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

double standard_normal(std::mt19937_64& engine) {
    for (;;) {
        const double u = static_cast<double>(engine() >> 11) * 0x1.0p-53 * 2.0 - 1.0;
        const double v = static_cast<double>(engine() >> 11) * 0x1.0p-53 * 2.0 - 1.0;
        const double s = u * u + v * v;
        if (s > 0.0 && s < 1.0) {
            // The second normal of the pair is dropped: one draw, one state step
            // pattern, whatever the caller does between draws.
            return u * std::sqrt(-2.0 * std::log(s) / s);
        }
    }
}

SimulatedSeries simulate(const ThresholdVar& model, const SimulationOptions& options) {
    model.validate();
    const int k = model.n_comp;
    std::vector<std::vector<double>> factors;
    for (const RegimeVar& v : model.regimes) {
        factors.push_back(cholesky(v.shock_covariance, k));
    }
    std::mt19937_64 engine(options.seed);
    std::vector<double> z(idx(k));
    return run(model, options, [&](int, int regime, double* out) {
        for (int i = 0; i < k; ++i) {
            z[idx(i)] = standard_normal(engine);
        }
        const std::vector<double>& l = factors[idx(regime - 1)];
        for (int i = 0; i < k; ++i) {
            double s = 0.0;
            for (int j = 0; j <= i; ++j) {
                s += l[idx(i) * idx(k) + idx(j)] * z[idx(j)];
            }
            out[i] = s;
        }
    });
}

SimulatedSeries simulate_with_shocks(const ThresholdVar& model, const SimulationOptions& options,
                                     std::span<const double> shocks) {
    const int k = model.n_comp;
    require(shocks.size() == idx(options.burn_in + options.n_obs) * idx(k),
            "shocks must hold (burn_in + n_obs) * k values");
    return run(model, options, [&](int t, int, double* out) {
        for (int i = 0; i < k; ++i) {
            out[i] = shocks[idx(t) * idx(k) + idx(i)];
        }
    });
}

}  // namespace velmora
