#include "simulate/known_model.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include "numeric/cholesky.hpp"
#include "simulate/threshold_var.hpp"

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
            l[idx(i) * idx(k) + idx(j)] = cov[idx(i) * idx(k) + idx(j)];
        }
    }
    require(cholesky_in_place(l.data(), k), "a shock covariance is not positive definite");
    return l;
}

// The model in the steppable form: coefficients in the estimators' layout,
// every regime padded with zero coefficients to the largest order.
ThresholdVarModel steppable(const ThresholdVar& model) {
    const ThresholdRule& in = model.rule;
    ThresholdVarModel out;
    out.k = model.n_comp;
    const int k = out.k;
    for (const RegimeVar& v : model.regimes) {
        out.p = std::max(out.p, v.order);
    }
    RegimeRule& rule = out.rule;
    rule.threshold_variables = in.variables;
    rule.n_regime = in.regimes();
    if (in.variables == 1) {
        rule.component = in.component;
        rule.lag = in.lag;
        std::copy(in.thresholds.begin(), in.thresholds.end(), rule.thresholds.begin());
    } else {
        rule.component = in.component1;
        rule.lag = in.lag1;
        rule.component2 = in.component2;
        rule.lag2 = in.lag2;
        rule.type_model = in.type_model;
        rule.thresholds = {in.threshold1, in.threshold2, 0.0};
    }
    for (const RegimeVar& v : model.regimes) {
        VarRegime& r = out.regimes.emplace_back();
        r.phi.assign(idx(out.p) * idx(k) * idx(k), 0.0);
        for (int l = 1; l <= v.order; ++l) {
            for (int i = 0; i < k; ++i) {
                for (int j = 0; j < k; ++j) {
                    r.phi[(idx(l - 1) * idx(k) + idx(j)) * idx(k) + idx(i)] =
                        v.coefficients[(idx(l - 1) * idx(k) + idx(i)) * idx(k) + idx(j)];
                }
            }
        }
        r.intercept = v.intercept;
    }
    return out;
}

// Shared by both entry points: shock(t, regime, out) fills row t's shock.
template <class Shock>
SimulatedSeries run(const ThresholdVar& model, const SimulationOptions& options, Shock&& shock) {
    model.validate();
    require(options.n_obs >= 1 && options.burn_in >= 0, "n_obs must be >= 1 and burn_in >= 0");
    const ThresholdVarModel steps = steppable(model);
    const int k = model.n_comp;
    const int total = options.burn_in + options.n_obs;
    // Zero rows before the first drawn one: the history the rule and the
    // lags read there.
    const int pad = steps.history_rows();
    std::vector<double> y(idx(pad + total) * idx(k), 0.0);
    std::vector<int> regime(idx(total), 1);
    std::vector<double> e(idx(k));

    for (int t = 0; t < total; ++t) {
        double* row = y.data() + idx(pad + t) * idx(k);
        const int r = threshold_var_step(steps, row - k, -k, row);
        regime[idx(t)] = r;
        shock(t, r, e.data());
        for (int i = 0; i < k; ++i) {
            row[i] += e[idx(i)];
        }
    }

    SimulatedSeries out;
    out.n_obs = options.n_obs;
    out.n_comp = k;
    const size_t first = idx(pad + options.burn_in);
    out.values.assign(y.begin() + static_cast<std::ptrdiff_t>(first * idx(k)), y.end());
    out.regime.assign(regime.begin() + static_cast<std::ptrdiff_t>(options.burn_in), regime.end());
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

ThresholdVar one_variable_model(int n_comp, int component, int lag,
                                std::vector<double> thresholds) {
    ThresholdVar model;
    model.n_comp = n_comp;
    model.rule.variables = 1;
    model.rule.component = component;
    model.rule.lag = lag;
    model.rule.thresholds = std::move(thresholds);
    return model;
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
