#include "inference/regression.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <stdexcept>
#include <utility>

#include "model/regression_kernels.hpp"

namespace velmora::inference {

namespace {

using std::size_t;

inline size_t sz(int i) {
    return static_cast<size_t>(i);
}

// Continued fraction of I_x(a, b) by the modified Lentz method; converges
// fast for x < (a + 1) / (a + b + 2).
double beta_fraction(double a, double b, double x) {
    constexpr double tiny = 1e-300;
    constexpr double eps = 1e-16;
    double f = 1.0;
    double c = 1.0;
    double d = 0.0;
    for (int i = 1; i <= 10000; ++i) {
        const int m = i / 2;
        double term = 0.0;
        if (i % 2 == 1) {
            term = -(a + m) * (a + b + m) * x / ((a + 2.0 * m) * (a + 2.0 * m + 1.0));
        } else {
            term = m * (b - m) * x / ((a + 2.0 * m - 1.0) * (a + 2.0 * m));
        }
        d = 1.0 + term * d;
        if (std::fabs(d) < tiny) {
            d = tiny;
        }
        c = 1.0 + term / c;
        if (std::fabs(c) < tiny) {
            c = tiny;
        }
        d = 1.0 / d;
        const double delta = c * d;
        f *= delta;
        if (std::fabs(delta - 1.0) < eps) {
            break;
        }
    }
    return 1.0 / f;
}

// Sigma (residual cross products over the degrees of freedom), standard
// errors, t- and p-values of a regression whose residuals, (Z'Z)^-1 and
// degrees of freedom are in out; coefficients (d + p*k) x k, deterministic
// rows first.
void complete(RegimeRegression& out, const std::vector<double>& coefficients, int d) {
    const int k = out.k;
    const int q = d + out.order * k;
    out.sigma.assign(sz(k) * sz(k), 0.0);
    const size_t rows = out.residuals.size() / sz(k);
    for (size_t n = 0; n < rows; ++n) {
        const double* e = out.residuals.data() + n * sz(k);
        for (int a = 0; a < k; ++a) {
            for (int b = 0; b < k; ++b) {
                out.sigma[sz(a) * sz(k) + sz(b)] += e[a] * e[b];
            }
        }
    }
    for (double& v : out.sigma) {
        v /= out.degrees_of_freedom;
    }

    std::vector<double> errors(sz(q) * sz(k), 0.0);
    std::vector<double> t_values(sz(q) * sz(k), 0.0);
    std::vector<double> p_values(sz(q) * sz(k), 0.0);
    for (int i = 0; i < q; ++i) {
        for (int c = 0; c < k; ++c) {
            const size_t ic = sz(i) * sz(k) + sz(c);
            const double var =
                out.sigma[sz(c) * sz(k) + sz(c)] * out.zz_inverse[sz(i) * sz(q) + sz(i)];
            const double se = std::sqrt(var);
            errors[ic] = se;
            t_values[ic] = coefficients[ic] / se;
            p_values[ic] = student_t_two_sided(t_values[ic], out.degrees_of_freedom);
        }
    }
    // The deterministic rows apart from the lags' blocks.
    const auto split = static_cast<std::ptrdiff_t>(sz(d) * sz(k));
    auto take = [&](const std::vector<double>& all, std::vector<double>& lags,
                    std::vector<double>& terms) {
        terms.assign(all.begin(), all.begin() + split);
        lags.assign(all.begin() + split, all.end());
    };
    take(coefficients, out.coefficients, out.deterministic);
    take(errors, out.standard_errors, out.deterministic_standard_errors);
    take(t_values, out.t_values, out.deterministic_t_values);
    take(p_values, out.p_values, out.deterministic_p_values);
    out.estimated = true;
}

}  // namespace

SeriesRows SeriesRows::from_matrix(const double_matrix& serie, int n, int k) {
    SeriesRows rows;
    rows.n = n;
    rows.k = k;
    rows.values.resize(sz(n) * sz(k));
    for (int t = 1; t <= n; ++t) {
        for (int c = 1; c <= k; ++c) {
            rows.values[sz(t - 1) * sz(k) + sz(c - 1)] = serie[t][c];
        }
    }
    rows.external_width = std::max(serie.col_hi() - k, 0);
    rows.external.resize(sz(n) * sz(rows.external_width));
    for (int t = 1; t <= n; ++t) {
        for (int j = 1; j <= rows.external_width; ++j) {
            rows.external[sz(t - 1) * sz(rows.external_width) + sz(j - 1)] = serie[t][k + j];
        }
    }
    return rows;
}

double incomplete_beta(double a, double b, double x) {
    if (!(a > 0.0) || !(b > 0.0) || !(x >= 0.0) || !(x <= 1.0)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    if (x == 0.0 || x == 1.0) {
        return x;
    }
    const double log_front =
        std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) + a * std::log(x) + b * std::log1p(-x);
    if (x < (a + 1.0) / (a + b + 2.0)) {
        return std::exp(log_front) * beta_fraction(a, b, x) / a;
    }
    return 1.0 - std::exp(log_front) * beta_fraction(b, a, 1.0 - x) / b;
}

double student_t_two_sided(double t, double df) {
    if (std::isnan(t) || !(df > 0.0)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    if (std::isinf(t)) {
        return 0.0;
    }
    // P(|T| >= |t|) = I_{df/(df+t^2)}(df/2, 1/2).
    const double x = df / (df + t * t);
    return incomplete_beta(0.5 * df, 0.5, x);
}

RegimeRegression regress_regime(const SeriesRows& series, std::span<const int> times, int order,
                                Include include, int trend_origin) {
    const int k = series.k;
    const int d = deterministic_count(include);
    const int q = d + order * k;  // regressors, deterministic ones first
    RegimeRegression out;
    out.order = order;
    out.k = k;
    out.include = include;
    out.trend_origin = trend_origin;
    out.observations = static_cast<int>(times.size());
    out.degrees_of_freedom = out.observations - q;
    out.times.assign(times.begin(), times.end());
    if (order < 1 || out.degrees_of_freedom < 1) {
        return out;
    }
    for (int t : times) {
        if (t < order + 1 || t > series.n) {
            throw std::invalid_argument("regress_regime: a time without its lags in the series");
        }
    }

    // The estimator's own least squares on the same design rows.
    const Design design(series.values.data(), series.n, k, order, include, trend_origin);
    std::vector<double> zz(sz(q) * sz(q));
    std::vector<double> zinv_t(sz(q) * sz(q));
    std::vector<double> w(sz(q));
    std::vector<int> ipiv(sz(q));
    std::vector<int> indxr(sz(q));
    std::vector<int> indxc(sz(q));
    std::vector<double> coefficients(sz(q) * sz(k));
    out.residuals.assign(times.size() * sz(k), 0.0);
    const detail::LeastSquaresScratch scratch{zinv_t.data(), w.data(), ipiv.data(), indxr.data(),
                                              indxc.data()};
    if (!detail::least_squares(detail::select_kernels(k, order, d), design.view(), k, q,
                               times.data(), out.observations, scratch, zz.data(),
                               coefficients.data(), out.residuals.data(), nullptr)) {
        out.residuals.clear();
        return out;
    }
    out.zz_inverse = std::move(zz);
    complete(out, coefficients, d);
    return out;
}

RegimeRegression regime_regression(const FittedModel& fit, int r) {
    const int k = fit.k;
    const int d = fit.deterministic_terms();
    // The regime at its own order in the model.
    const int p = fit.order(r);
    const int q = d + p * k;
    RegimeRegression out;
    out.order = p;
    out.k = k;
    out.include = fit.include;
    out.trend_origin = fit.trend_origin;
    if (fit.order_reached < fit.m || r < 1 ||
        r > static_cast<int>(fit.passes[sz(fit.m - 1)].size())) {
        return out;
    }
    const RegimeFit& g = fit.regime(r, p);
    out.observations = g.observations;
    out.degrees_of_freedom = g.observations - q;
    out.times = g.times;
    if (out.degrees_of_freedom < 1 || g.phi.size() != sz(p * k) * sz(k) ||
        g.zz_inverse.size() != sz(q) * sz(q) || g.residuals.size() != sz(g.observations) * sz(k)) {
        return out;
    }
    out.zz_inverse = g.zz_inverse;
    out.residuals = g.residuals;
    std::vector<double> coefficients = g.deterministic;
    coefficients.insert(coefficients.end(), g.phi.begin(), g.phi.end());
    complete(out, coefficients, d);
    return out;
}

}  // namespace velmora::inference
