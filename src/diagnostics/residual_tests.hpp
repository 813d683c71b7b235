#pragma once
// Tests on a multivariate residual series: the portmanteau test for
// residual autocorrelation, the test of normality and the test for
// conditional heteroskedasticity (ARCH). Each works on plain rows so that it
// serves any regression, a regime or the whole model.
//
// Residuals are T rows of k values, row-major: residual c (0-based) at row t
// is values[t*k + c]. A test that the data cannot support (too few rows, a
// singular covariance) comes back with computed == false and NaN figures.

#include <span>

namespace velmora::diagnostics {

// P(X >= x) for X chi-squared with df degrees of freedom (df > 0); NaN
// otherwise.
double chi_squared_upper(double x, double df);

struct PortmanteauTest {
    bool computed = false;
    int lags = 0;          // H
    int observations = 0;  // T
    // Q = T sum_h tr(C_h' C_0^-1 C_h C_0^-1), C_h = (1/T) sum_t u_t u_{t-h}'
    // of the demeaned residuals; the adjusted one weights lag h by
    // T^2 / (T - h) instead of T.
    double statistic = 0.0;
    double adjusted_statistic = 0.0;
    int degrees_of_freedom = 0;  // k^2 (H - order); no p-values when not positive
    double p_value = 0.0;
    double adjusted_p_value = 0.0;
};

// Needs 1 <= lags < T and a non-singular C_0.
PortmanteauTest portmanteau_test(std::span<const double> residuals, int k, int lags, int order);

struct NormalityTest {
    bool computed = false;
    int observations = 0;
    // The residuals are demeaned and orthogonalised by the Cholesky factor P
    // of their covariance S = (1/T) sum u u' = P P'; with w = P^-1 u, the
    // skewness b1_i = mean(w_i^3) and excess kurtosis b2_i = mean(w_i^4) - 3
    // give T b1'b1/6 + T b2'b2/24.
    double statistic = 0.0;
    double skewness_statistic = 0.0;
    double kurtosis_statistic = 0.0;
    int degrees_of_freedom = 0;  // 2k
    double p_value = 0.0;
};

// Needs T > k and a positive definite covariance.
NormalityTest normality_test(std::span<const double> residuals, int k);

struct ArchTest {
    bool computed = false;
    int lags = 0;          // q
    int observations = 0;  // rows of the auxiliary regression, T - q
    // vech(u_t u_t') (the residuals as estimated) regressed on a constant
    // and its own q lags: LM = n d - n tr(Omega_1 Omega_0^-1), d = k(k+1)/2,
    // with Omega_1 the residual covariance of that regression and Omega_0
    // that of the constant alone.
    double statistic = 0.0;
    int degrees_of_freedom = 0;  // q k^2 (k+1)^2 / 4
    double p_value = 0.0;
};

// Needs more rows than the 1 + q d regressors and a non-singular Omega_0.
ArchTest arch_test(std::span<const double> residuals, int k, int lags);

}  // namespace velmora::diagnostics
