#include "diagnostics/residual_tests.hpp"

#include <cmath>
#include <cstddef>
#include <limits>

#include <Eigen/Dense>
#include <boost/math/special_functions/gamma.hpp>

namespace velmora::diagnostics {

namespace {

using Matrix = Eigen::MatrixXd;
using RowMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The residual rows as a T x k matrix (copied: the tests change them).
Matrix rows_of(std::span<const double> residuals, int k) {
    const Eigen::Index t = k > 0 ? static_cast<Eigen::Index>(residuals.size()) / k : 0;
    return Eigen::Map<const RowMatrix>(residuals.data(), t, k);
}

Matrix demeaned(const Matrix& u) {
    return u.rowwise() - u.colwise().mean();
}

// The residual rows less their means; observations receives their number.
Matrix demeaned_rows(std::span<const double> residuals, int k, int& observations) {
    Matrix u = demeaned(rows_of(residuals, k));
    observations = static_cast<int>(u.rows());
    return u;
}

}  // namespace

double chi_squared_upper(double x, double df) {
    if (!(df > 0.0) || std::isnan(x)) {
        return kNaN;
    }
    if (x <= 0.0) {
        return 1.0;
    }
    return boost::math::gamma_q(df / 2.0, x / 2.0);
}

PortmanteauTest portmanteau_test(std::span<const double> residuals, int k, int lags, int order) {
    PortmanteauTest out;
    out.lags = lags;
    out.degrees_of_freedom = k * k * (lags - order);
    out.statistic = out.adjusted_statistic = out.p_value = out.adjusted_p_value = kNaN;
    if (k < 1) {
        return out;
    }
    const Matrix u = demeaned_rows(residuals, k, out.observations);
    const Eigen::Index t = u.rows();
    if (lags < 1 || lags >= t) {
        return out;
    }
    const double n = static_cast<double>(t);
    const Matrix c0 = u.transpose() * u / n;
    const Eigen::FullPivLU<Matrix> c0_lu(c0);
    if (!c0_lu.isInvertible()) {
        return out;
    }
    const Matrix c0_inverse = c0_lu.inverse();
    double sum = 0.0;
    double weighted = 0.0;
    for (int h = 1; h <= lags; ++h) {
        // sum over t of u_t u_{t-h}'
        const Matrix ch = u.bottomRows(t - h).transpose() * u.topRows(t - h) / n;
        const double term = (ch.transpose() * c0_inverse * ch * c0_inverse).trace();
        sum += term;
        weighted += term / (n - h);
    }
    out.statistic = n * sum;
    out.adjusted_statistic = n * n * weighted;
    out.computed = true;
    out.p_value = chi_squared_upper(out.statistic, out.degrees_of_freedom);
    out.adjusted_p_value = chi_squared_upper(out.adjusted_statistic, out.degrees_of_freedom);
    return out;
}

NormalityTest normality_test(std::span<const double> residuals, int k) {
    NormalityTest out;
    out.degrees_of_freedom = 2 * k;
    out.statistic = out.skewness_statistic = out.kurtosis_statistic = out.p_value = kNaN;
    if (k < 1) {
        return out;
    }
    const Matrix u = demeaned_rows(residuals, k, out.observations);
    const Eigen::Index t = u.rows();
    if (t <= k) {
        return out;
    }
    const double n = static_cast<double>(t);
    const Matrix s = u.transpose() * u / n;
    const Eigen::LLT<Matrix> cholesky(s);
    if (cholesky.info() != Eigen::Success) {
        return out;
    }
    // w_t = P^-1 u_t for every row at once: P W' = U'.
    const Matrix w = cholesky.matrixL().solve(u.transpose());
    const Eigen::ArrayXd b1 = w.array().cube().rowwise().sum() / n;
    const Eigen::ArrayXd b2 = w.array().square().square().rowwise().sum() / n - 3.0;
    out.skewness_statistic = n * b1.square().sum() / 6.0;
    out.kurtosis_statistic = n * b2.square().sum() / 24.0;
    out.statistic = out.skewness_statistic + out.kurtosis_statistic;
    out.computed = true;
    out.p_value = chi_squared_upper(out.statistic, out.degrees_of_freedom);
    return out;
}

ArchTest arch_test(std::span<const double> residuals, int k, int lags) {
    ArchTest out;
    out.lags = lags;
    const int d = k * (k + 1) / 2;
    out.degrees_of_freedom = lags * d * d;
    out.statistic = out.p_value = kNaN;
    if (k < 1 || lags < 1) {
        return out;
    }
    const Matrix u = rows_of(residuals, k);
    const Eigen::Index t = u.rows();
    // vech of each row's cross products, the lower triangle column by column.
    Matrix v(t, d);
    for (Eigen::Index row = 0; row < t; ++row) {
        Eigen::Index j = 0;
        for (int c = 0; c < k; ++c) {
            for (int r = c; r < k; ++r) {
                v(row, j++) = u(row, r) * u(row, c);
            }
        }
    }
    const Eigen::Index n = t - lags;
    const Eigen::Index regressors = 1 + static_cast<Eigen::Index>(lags) * d;
    out.observations = n > 0 ? static_cast<int>(n) : 0;
    if (n <= regressors) {
        return out;
    }
    const Matrix y = v.bottomRows(n);
    Matrix x(n, regressors);
    x.col(0).setOnes();
    for (int h = 1; h <= lags; ++h) {
        x.middleCols(1 + static_cast<Eigen::Index>(h - 1) * d, d) = v.middleRows(lags - h, n);
    }
    const Eigen::ColPivHouseholderQR<Matrix> qr(x);
    if (qr.rank() < regressors) {
        return out;
    }
    const Matrix e1 = y - x * qr.solve(y);
    const Matrix e0 = demeaned(y);
    const Matrix omega1 = e1.transpose() * e1;
    const Matrix omega0 = e0.transpose() * e0;
    const Eigen::FullPivLU<Matrix> omega0_lu(omega0);
    if (!omega0_lu.isInvertible()) {
        return out;
    }
    const double rows = static_cast<double>(n);
    // The common divisor of both covariances cancels in the trace.
    out.statistic = rows * d - rows * (omega1 * omega0_lu.inverse()).trace();
    out.computed = true;
    out.p_value = chi_squared_upper(out.statistic, out.degrees_of_freedom);
    return out;
}

}  // namespace velmora::diagnostics
