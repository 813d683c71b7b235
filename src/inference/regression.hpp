#pragma once
// Least squares of one VAR regime, with or without deterministic terms
// (model/design.hpp), with the usual
// inference: coefficients, their standard errors, t-values and two-sided
// p-values. Everything works on plain inputs (the series, the times of the
// regime, the order), so it serves the threshold model, its linear
// benchmark and the bootstrap alike.
//
// Coefficient layout, as in the report files: at order p there are
// q = p*k regressors, regressor i = (lag-1)*k + variable (0-based here), and
// a q x k block holds at [i*k + equation] the coefficient of regressor i in
// the equation of that component.
//
// The deterministic terms' coefficients, standard errors, t- and p-values
// are d x k blocks apart, [term*k + equation] (const before trend).
//
// Standard errors: the residual covariance is divided by the degrees of
// freedom n_r - (d + p*k) (n_r observations, d + p*k coefficients per
// equation), and
// Var(vec Phi) = Sigma (x) (Z'Z)^-1, so the standard error of regressor i in
// equation c is sqrt(Sigma[c][c] * (Z'Z)^-1[i][i]). t = coefficient / SE;
// the two-sided p-value comes from Student's t with n_r - (d + p*k) degrees of
// freedom (exact for one equation with Gaussian errors and fixed regressors,
// the usual choice of least-squares tables; close to the normal for the
// regime sizes a threshold model needs).

#include <span>
#include <vector>

#include "model/design.hpp"
#include "model/fitted_model.hpp"
#include "numeric/arrays.hpp"
#include "numeric/cholesky.hpp"

namespace velmora::inference {

// The series as plain rows: component c (1-based) at time t (1-based) is
// values[(t-1)*k + c-1].
struct SeriesRows {
    int n = 0;
    int k = 0;
    std::vector<double> values;
    // External threshold columns (c = k + 1 ..): observed values, never
    // modelled, so a bootstrap series keeps them as they are.
    int external_width = 0;
    std::vector<double> external;

    double at(int t, int c) const noexcept {
        if (c > k && external_width > 0) {
            return external[static_cast<std::size_t>(t - 1) *
                                static_cast<std::size_t>(external_width) +
                            static_cast<std::size_t>(c - k - 1)];
        }
        return values[static_cast<std::size_t>(t - 1) * static_cast<std::size_t>(k) +
                      static_cast<std::size_t>(c - 1)];
    }
    // Rows 1..n and columns 1..k of a series matrix, and its columns beyond
    // k as the external threshold columns.
    static SeriesRows from_matrix(const double_matrix& serie, int n, int k);
};

struct RegimeRegression {
    bool estimated = false;  // false: too few observations or Z'Z not positive definite
    int order = 0;
    int k = 0;
    Include include = Include::none;
    int trend_origin = 0;  // the trend of time t is trend_origin + t
    int observations = 0;
    int degrees_of_freedom = 0;           // observations - (d + order*k)
    std::vector<int> times;               // ascending, 1-based
    std::vector<double> coefficients;     // q x k, layout above
    std::vector<double> zz_inverse;       // (d+q) x (d+q), deterministic regressors first
    std::vector<double> residuals;        // observations x k, in time order
    std::vector<double> sigma;            // k x k, residual cross products / degrees of freedom
    std::vector<double> standard_errors;  // q x k
    std::vector<double> t_values;         // q x k
    std::vector<double> p_values;         // q x k
    std::vector<double> deterministic;    // d x k
    std::vector<double> deterministic_standard_errors;
    std::vector<double> deterministic_t_values;
    std::vector<double> deterministic_p_values;
};

// The regression of y_t on the deterministic terms of t (trend trend_origin
// + t) and y_{t-1}, ..., y_{t-p} over the given times (each at least p + 1).
RegimeRegression regress_regime(const SeriesRows& series, std::span<const int> times, int order,
                                Include include = Include::none, int trend_origin = 0);

// The same for regime r of a fitted model at its largest order, from the
// estimate's own coefficients, (Z'Z)^-1 and residuals. Not estimated when the
// model did not reach the regime or leaves no degrees of freedom.
RegimeRegression regime_regression(const FittedModel& fit, int r);

// P(|T| >= |t|) for Student's t with df degrees of freedom (df > 0), through
// the regularised incomplete beta function.
double student_t_two_sided(double t, double df);

// The regularised incomplete beta function I_x(a, b), a, b > 0, 0 <= x <= 1.
double incomplete_beta(double a, double b, double x);

}  // namespace velmora::inference
