#include "forecast/linear_var.hpp"

#include <cmath>
#include <stdexcept>

#include "forecast/girf.hpp"

namespace velmora {

namespace {

inline std::size_t idx(int i) {
    return static_cast<std::size_t>(i);
}

}  // namespace

ThresholdVarModel fit_linear_var(const double_matrix& series, int rows, int k, int p) {
    const int q = p * k;
    const int n = rows - p;
    if (n < q || n < 1) {
        throw std::invalid_argument("linear VAR: fewer observations than regressors");
    }
    // Normal equations Z'Z B = Z'Y with regressor i = (lag-1)*k + variable.
    std::vector<double> zz(idx(q) * idx(q), 0.0);
    std::vector<double> zy(idx(q) * idx(k), 0.0);
    std::vector<double> x(idx(q));
    for (int t = p + 1; t <= rows; ++t) {
        for (int lag = 1; lag <= p; ++lag) {
            for (int v = 1; v <= k; ++v) {
                x[idx((lag - 1) * k + v - 1)] = series[t - lag][v];
            }
        }
        for (int i = 0; i < q; ++i) {
            for (int j = 0; j < q; ++j) {
                zz[idx(i) * idx(q) + idx(j)] += x[idx(i)] * x[idx(j)];
            }
            for (int c = 0; c < k; ++c) {
                zy[idx(i) * idx(k) + idx(c)] += x[idx(i)] * series[t][c + 1];
            }
        }
    }
    std::vector<double> l;
    try {
        l = cholesky_lower(zz, q);
    } catch (const std::domain_error&) {
        throw std::invalid_argument("linear VAR: the regressors' cross products are singular");
    }
    ThresholdVarModel model;
    model.k = k;
    model.p = p;
    model.rule.threshold_variables = 1;
    model.rule.n_regime = 1;
    model.regimes.resize(1);
    VarRegime& regime = model.regimes[0];
    regime.phi.assign(idx(q) * idx(k), 0.0);
    std::vector<double> w(idx(q));
    for (int c = 0; c < k; ++c) {
        // L L' b = z'y_c: forward, then backward substitution.
        for (int i = 0; i < q; ++i) {
            double v = zy[idx(i) * idx(k) + idx(c)];
            for (int s = 0; s < i; ++s) {
                v -= l[idx(i) * idx(q) + idx(s)] * w[idx(s)];
            }
            w[idx(i)] = v / l[idx(i) * idx(q) + idx(i)];
        }
        for (int i = q - 1; i >= 0; --i) {
            double v = w[idx(i)];
            for (int s = i + 1; s < q; ++s) {
                v -= l[idx(s) * idx(q) + idx(i)] * regime.phi[idx(s) * idx(k) + idx(c)];
            }
            regime.phi[idx(i) * idx(k) + idx(c)] = v / l[idx(i) * idx(q) + idx(i)];
        }
    }
    regime.residuals.reserve(idx(n) * idx(k));
    for (int t = p + 1; t <= rows; ++t) {
        regime.times.push_back(t);
        for (int c = 0; c < k; ++c) {
            double fit = 0.0;
            for (int lag = 1; lag <= p; ++lag) {
                for (int v = 1; v <= k; ++v) {
                    fit += regime.phi[idx((lag - 1) * k + v - 1) * idx(k) + idx(c)] *
                           series[t - lag][v];
                }
            }
            regime.residuals.push_back(series[t][c + 1] - fit);
        }
    }
    regime.covariance.assign(idx(k) * idx(k), 0.0);
    std::vector<double> mean(idx(k), 0.0);
    for (int i = 0; i < n; ++i) {
        for (int c = 0; c < k; ++c) {
            mean[idx(c)] += regime.residuals[idx(i) * idx(k) + idx(c)];
        }
    }
    for (double& v : mean) {
        v /= n;
    }
    for (int i = 0; i < n; ++i) {
        for (int a = 0; a < k; ++a) {
            for (int b = 0; b < k; ++b) {
                regime.covariance[idx(a) * idx(k) + idx(b)] +=
                    (regime.residuals[idx(i) * idx(k) + idx(a)] - mean[idx(a)]) *
                    (regime.residuals[idx(i) * idx(k) + idx(b)] - mean[idx(b)]) / n;
            }
        }
    }
    return model;
}

}  // namespace velmora
