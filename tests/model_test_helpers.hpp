#pragma once
// Series generators and a plain reference estimator for the model tests.

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "inference/regression.hpp"
#include "model/estimate.hpp"
#include "model/problem.hpp"
#include "numeric/arrays.hpp"
#include "numeric/linalg.hpp"
#include "output/report/model_report.hpp"
#include "support/errors.hpp"
#include "test_helpers.hpp"

namespace velmora::testing {

inline bool same_bits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The estimator's criterion alone.
template <class Structure>
double criterion_of(const ModelProblem& problem, EstimationWorkspace& ws, const Structure& s) {
    return estimate_criterion(problem, ws, s).criterion;
}

// Estimates and appends the three reports to the problem's result folder.
template <class Structure>
FittedModel fit_and_report(const ModelProblem& problem, EstimationWorkspace& ws,
                           const Structure& s) {
    FittedModel model = estimate(problem, ws, s);
    write_model_report(model, problem.replication, problem.result_dir, problem.console);
    return model;
}

// Solves a (q x q, row-major) x = b in place by Gaussian elimination with
// partial pivoting; b holds `cols` right-hand sides (q x cols).
inline void solve(std::vector<double> a, std::vector<double>& b, int q, int cols) {
    for (int i = 0; i < q; ++i) {
        int pivot = i;
        for (int r = i + 1; r < q; ++r) {
            if (std::fabs(a[r * q + i]) > std::fabs(a[pivot * q + i])) {
                pivot = r;
            }
        }
        for (int j = 0; j < q; ++j) {
            std::swap(a[i * q + j], a[pivot * q + j]);
        }
        for (int j = 0; j < cols; ++j) {
            std::swap(b[i * cols + j], b[pivot * cols + j]);
        }
        for (int r = i + 1; r < q; ++r) {
            const double f = a[r * q + i] / a[i * q + i];
            for (int j = i; j < q; ++j) {
                a[r * q + j] -= f * a[i * q + j];
            }
            for (int j = 0; j < cols; ++j) {
                b[r * cols + j] -= f * b[i * cols + j];
            }
        }
    }
    for (int i = q - 1; i >= 0; --i) {
        for (int j = 0; j < cols; ++j) {
            double s = b[i * cols + j];
            for (int l = i + 1; l < q; ++l) {
                s -= a[i * q + l] * b[l * cols + j];
            }
            b[i * cols + j] = s / a[i * q + i];
        }
    }
}

// A plain least squares, written out as a reference: the rows of x at
// `times` on the q regressors regressor(t, i). The coefficients are q x k,
// row-major (regressor by equation); the residuals come a row a time.
struct PlainFit {
    std::vector<double> coefficients;
    std::vector<std::vector<double>> residuals;
};

template <class Regressor>
PlainFit plain_least_squares(const double_matrix& x, const std::vector<int>& times, int q, int k,
                             Regressor regressor) {
    std::vector<double> zz(q * q, 0.0);
    std::vector<double> zy(q * k, 0.0);
    for (int t : times) {
        for (int i = 0; i < q; ++i) {
            for (int j = 0; j < q; ++j) {
                zz[i * q + j] += regressor(t, i) * regressor(t, j);
            }
            for (int c = 0; c < k; ++c) {
                zy[i * k + c] += regressor(t, i) * x[t][c + 1];
            }
        }
    }
    solve(zz, zy, q, k);
    PlainFit fit;
    for (int t : times) {
        std::vector<double> e(k);
        for (int c = 0; c < k; ++c) {
            e[c] = x[t][c + 1];
            for (int i = 0; i < q; ++i) {
                e[c] -= zy[i * k + c] * regressor(t, i);
            }
        }
        fit.residuals.push_back(std::move(e));
    }
    fit.coefficients = std::move(zy);
    return fit;
}

// Determinant of a k x k matrix (row-major) by elimination without pivoting.
inline double determinant(std::vector<double> a, int k) {
    double det = 1.0;
    for (int i = 0; i < k; ++i) {
        for (int r = i + 1; r < k; ++r) {
            const double f = a[r * k + i] / a[i * k + i];
            for (int j = i; j < k; ++j) {
                a[r * k + j] -= f * a[i * k + j];
            }
        }
        det *= a[i * k + i];
    }
    return det;
}

// A series of n rows by k columns from a stable VAR(1) with Gaussian
// innovations, so that every regime regression is well posed.
inline double_matrix random_series(int n, int k, std::uint64_t seed) {
    std::mt19937_64 gen(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    double_matrix s(1, n, 1, k);
    std::vector<double> prev(static_cast<size_t>(k), 0.0);
    for (int t = 1; t <= n; ++t) {
        for (int c = 1; c <= k; ++c) {
            const double spill = c > 1 ? 0.2 * prev[static_cast<size_t>(c - 2)] : 0.0;
            s[t][c] = 0.4 * prev[static_cast<size_t>(c - 1)] + spill + normal(gen);
        }
        for (int c = 1; c <= k; ++c) {
            prev[static_cast<size_t>(c - 1)] = s[t][c];
        }
    }
    return s;
}

inline std::size_t ix(int i) {
    return static_cast<std::size_t>(i);
}

// Rows 1..n of k components from a VAR(1) with standard normal innovations
// drawn from seed, the first row zero: component c takes own(z) times its
// previous value, z being component 1's previous value, and spill times the
// previous value of component c - 1.
inline inference::SeriesRows switching_var1_rows(int n, int k, double spill, std::uint64_t seed,
                                                 const std::function<double(double z)>& own) {
    std::mt19937_64 gen(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    inference::SeriesRows s;
    s.n = n;
    s.k = k;
    s.values.assign(ix(n) * ix(k), 0.0);
    for (int t = 2; t <= n; ++t) {
        const double a = own(s.at(t - 1, 1));
        for (int c = 1; c <= k; ++c) {
            const double from_previous = c > 1 ? spill * s.at(t - 1, c - 1) : 0.0;
            s.values[ix(t - 1) * ix(k) + ix(c - 1)] =
                a * s.at(t - 1, c) + from_previous + normal(gen);
        }
    }
    return s;
}

// Block-diagonal rotation (2x2 blocks, one angle per block; an odd last
// component is kept as is): norm preserving, so a noise-free recursion neither
// dies out nor explodes.
inline std::vector<double> rotation(int k, const std::vector<double>& angles) {
    std::vector<double> a(static_cast<size_t>(k * k), 0.0);
    for (int b = 0; 2 * b + 1 < k; ++b) {
        const double th = angles[static_cast<size_t>(b)];
        const int i = 2 * b;
        a[static_cast<size_t>(i * k + i)] = std::cos(th);
        a[static_cast<size_t>(i * k + i + 1)] = -std::sin(th);
        a[static_cast<size_t>((i + 1) * k + i)] = std::sin(th);
        a[static_cast<size_t>((i + 1) * k + i + 1)] = std::cos(th);
    }
    if (k % 2 == 1) {
        a[static_cast<size_t>(k * k - 1)] = 1.0;
    }
    return a;
}

// x_t = A_{regime(x, t)} x_{t-1} + noise; regime(x, t) sees the rows written
// so far (1-based, rows < t) and returns 0-based indices into coefficients.
// Each coefficient matrix is k x k row-major: [c*k + l] multiplies
// component l in the equation of component c.
using RegimeRule = std::function<int(const double_matrix& x, int t)>;

inline double_matrix threshold_var1_series(int n, int k, int burn_in,
                                           const std::vector<std::vector<double>>& coefficients,
                                           const RegimeRule& regime, double noise,
                                           std::uint64_t seed) {
    std::mt19937_64 gen(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    const int total = n + burn_in;
    double_matrix x(1, total, 1, k);
    for (int c = 1; c <= k; ++c) {
        x[1][c] = normal(gen);
    }
    for (int t = 2; t <= total; ++t) {
        const auto& a = coefficients[static_cast<size_t>(regime(x, t))];
        for (int c = 1; c <= k; ++c) {
            double v = 0.0;
            for (int l = 1; l <= k; ++l) {
                v += a[static_cast<size_t>((c - 1) * k + (l - 1))] * x[t - 1][l];
            }
            x[t][c] = v + noise * normal(gen);
        }
    }
    double_matrix out(1, n, 1, k);
    for (int t = 1; t <= n; ++t) {
        for (int c = 1; c <= k; ++c) {
            out[t][c] = x[t + burn_in][c];
        }
    }
    return out;
}

// The position (1..limit) whose value of the component is the largest value
// <= 0 among rows 1..limit: as a threshold it splits those rows exactly as 0
// would.
inline int position_splitting_at_zero(const double_matrix& s, int component, int limit) {
    int best = 0;
    for (int t = 1; t <= limit; ++t) {
        const double v = s[t][component];
        if (v <= 0.0 && (best == 0 || v > s[best][component])) {
            best = t;
        }
    }
    return best;
}

// Owns a series and the problem that points at it.
struct ProblemFixture {
    double_matrix serie;
    ModelProblem problem;

    ProblemFixture(double_matrix s, int n_oss, int n_comp, int m, int min_oss_reg)
        : serie(std::move(s)) {
        problem.serie_matrix = &serie;
        problem.n_oss = n_oss;
        problem.n_comp = n_comp;
        problem.model.max_order = m;
        problem.model.min_obs_per_regime = min_oss_reg;
    }
    ProblemFixture(const ProblemFixture&) = delete;
    ProblemFixture& operator=(const ProblemFixture&) = delete;
};

// Component values cycle through (1,1), (-1,1), (-1,-1), (1,-1): a rotation by
// a right angle. Every quantity of the fit is exact in binary, so a VAR(1)
// fits with residuals exactly zero.
inline ProblemFixture exact_rotation_fixture() {
    const int n = 129;
    double_matrix s(1, n, 1, 2);
    const double pattern[4][2] = {{1, 1}, {-1, 1}, {-1, -1}, {1, -1}};
    for (int t = 1; t <= n; ++t) {
        s[t][1] = pattern[(t - 1) % 4][0];
        s[t][2] = pattern[(t - 1) % 4][1];
    }
    return ProblemFixture(std::move(s), n, 2, 1, 2);
}

// Directories handed out by fresh_directory, removed with everything in them
// when the test program ends.
class CreatedDirectories {
  public:
    ~CreatedDirectories() {
        for (const auto& dir : dirs) {
            std::error_code ignored;
            std::filesystem::remove_all(dir, ignored);
        }
    }
    std::vector<std::filesystem::path> dirs;
};

inline CreatedDirectories& created_directories() {
    static CreatedDirectories created;
    return created;
}

// A fresh empty directory under the system temporary directory; it lives
// until the test program ends.
inline std::filesystem::path fresh_directory(const std::string& name) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("velmora_model_" + name + "_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    created_directories().dirs.push_back(dir);
    return dir;
}

// ---------------------------------------------------------------------------
// Reference estimator: the textbook procedure on 1-based tables, with the
// Kronecker product formed explicitly, regime membership kept in an indici
// table, and the same "not estimable" answers (0.0) as Velmora's estimators.
// The production estimators must agree with it bit for bit.

struct ReferenceRegimes {
    int n_regime = 0;
    int first_t = 0;  // membership starts at max(lag, p) + 1 in pass p
    int lag_floor = 0;
    // regime (1-based) of time t, or 0 for none; may list two regimes
    std::function<std::vector<int>(int t)> regimes_of;
};

// Determinant of the covariance (divisor `rows`) of rows 1..rows of the k
// columns of `res`, from the LU factors: the parity times the product of the
// diagonal, multiplied in column order. False when the factorisation fails.
inline bool reference_covariance_determinant(const double_matrix& res, int rows, int k,
                                             double& det) {
    dvector medie(1, k);
    double_matrix sigma(1, k, 1, k);
    for (int c = 1; c <= k; ++c) {
        double s = 0.0;
        for (int i = 1; i <= rows; ++i) {
            s += res[i][c];
        }
        medie[c] = s / rows;
    }
    for (int c = 1; c <= k; ++c) {
        for (int l = 1; l <= k; ++l) {
            double s = 0.0;
            for (int i = 1; i <= rows; ++i) {
                s += (res[i][l] - medie[l]) * (res[i][c] - medie[c]);
            }
            sigma[c][l] = s / rows;
        }
    }
    ivector indx(1, k);
    double d = 0.0;
    try {
        ludcmp(sigma, k, indx, d);
    } catch (const NumericError&) {
        return false;
    }
    det = d;
    for (int c = 1; c <= k; ++c) {
        det *= sigma[c][c];
    }
    return true;
}

// With regime_determinants, aic_total (when not null) receives the sum over
// regimes of n_r ln(det) + (2/n_r) p k k (-10000 for det <= 0) from the last
// pass, divided by n_oss.
inline double reference_passes(const ModelProblem& pb, const ReferenceRegimes& rr,
                               bool regime_determinants, double* aic_total = nullptr) {
    const double_matrix& serie = *pb.serie_matrix;
    const int n = pb.n_oss;
    const int k = pb.n_comp;
    const int m = pb.model.max_order;
    int_matrix indici(1, 4, 1, n);
    double_matrix residual2(1, n, 1, k);
    double regime_aic[5] = {0.0, 0.0, 0.0, 0.0, 0.0};
    for (int p = 1; p <= m; ++p) {
        for (int t = std::max(p, rr.lag_floor) + 1; t <= n; ++t) {
            for (int r : rr.regimes_of(t)) {
                indici[r][t] = 1;
            }
        }
        int written = 0;
        const int q = p * k;
        for (int r = 1; r <= rr.n_regime; ++r) {
            std::vector<int> tt;
            for (int t = p + 1; t <= n; ++t) {
                if (indici[r][t] == 1) {
                    tt.push_back(t);
                }
            }
            const int nr = static_cast<int>(tt.size());
            if (nr < pb.model.min_obs_per_regime || nr < q) {
                return 0.0;
            }
            dvector y(1, nr * k);
            double_matrix z(1, q, 1, nr);
            for (int i = 1; i <= nr; ++i) {
                for (int c = 1; c <= k; ++c) {
                    y[(i - 1) * k + c] = serie[tt[static_cast<size_t>(i - 1)]][c];
                }
                for (int j = 1; j <= p; ++j) {
                    for (int l = 1; l <= k; ++l) {
                        z[(j - 1) * k + l][i] = serie[tt[static_cast<size_t>(i - 1)] - j][l];
                    }
                }
            }
            double_matrix zz(1, q, 1, q);
            for (int a = 1; a <= q; ++a) {
                for (int b = 1; b <= q; ++b) {
                    double s = 0.0;
                    for (int i = 1; i <= nr; ++i) {
                        s += z[a][i] * z[b][i];
                    }
                    zz[a][b] = s;
                }
            }
            if (inversanr(zz, q) == 0) {
                return 0.0;
            }
            double_matrix w(1, q, 1, nr);
            for (int a = 1; a <= q; ++a) {
                for (int i = 1; i <= nr; ++i) {
                    double s = 0.0;
                    for (int b = 1; b <= q; ++b) {
                        s += zz[a][b] * z[b][i];
                    }
                    w[a][i] = s;
                }
            }
            double_matrix kron(1, q * k, 1, nr * k);
            for (int a = 1; a <= q; ++a) {
                for (int i = 1; i <= nr; ++i) {
                    for (int c = 1; c <= k; ++c) {
                        kron[(a - 1) * k + c][(i - 1) * k + c] = w[a][i];
                    }
                }
            }
            dvector phi(1, q * k);
            for (int a = 1; a <= q * k; ++a) {
                double s = 0.0;
                for (int col = 1; col <= nr * k; ++col) {
                    s += kron[a][col] * y[col];
                }
                phi[a] = s;
            }
            double_matrix res(1, nr, 1, k);
            for (int i = 1; i <= nr; ++i) {
                const int t = tt[static_cast<size_t>(i - 1)];
                for (int c = 1; c <= k; ++c) {
                    double fit = 0.0;
                    for (int j = 1; j <= p; ++j) {
                        for (int l = 1; l <= k; ++l) {
                            fit += phi[(j - 1) * k * k + (l - 1) * k + c] * serie[t - j][l];
                        }
                    }
                    res[i][c] = serie[t][c] - fit;
                    residual2[written + i][c] = res[i][c];
                }
            }
            written += nr;
            if (regime_determinants) {
                double det = 0.0;
                if (!reference_covariance_determinant(res, nr, k, det)) {
                    return 0.0;
                }
                regime_aic[r] = det <= 0.0 ? -10000.0 : nr * std::log(det) + (2.0 / nr) * p * k * k;
            }
        }
    }
    double det = 0.0;
    if (!reference_covariance_determinant(residual2, n, k, det)) {
        return 0.0;
    }
    if (aic_total != nullptr) {
        double sum = 0.0;
        for (int r = 1; r <= rr.n_regime; ++r) {
            sum += regime_aic[r];
        }
        *aic_total = sum / n;
    }
    const int num_tot_par = rr.n_regime * m * k * k;
    return std::log(det) + (2.0 / n) * num_tot_par;
}

inline double reference_one_threshold(const ModelProblem& pb, int which_serie, int n_regime,
                                      std::array<int, 3> pos, int lag) {
    const double_matrix& s = *pb.serie_matrix;
    double raw[3];
    for (int i = 0; i < n_regime - 1; ++i) {
        raw[i] =
            s[pos[static_cast<size_t>(i)] == 0 ? 30 : pos[static_cast<size_t>(i)]][which_serie];
    }
    double th[4] = {0.0, 1000000.0, 1000000.0, 1000000.0};
    for (int slot = 1; slot <= n_regime - 1; ++slot) {
        double best = 100000000.0;
        int at = -1;
        for (int i = 0; i < n_regime - 1; ++i) {
            if (raw[i] < best) {
                best = raw[i];
                at = i;
            }
        }
        th[slot] = best;
        if (at >= 0) {
            raw[at] = 100000000.0;
        }
    }
    ReferenceRegimes rr;
    rr.n_regime = n_regime;
    rr.lag_floor = lag;
    rr.regimes_of = [&, th](int t) {
        const double z = s[t - lag][which_serie];
        std::vector<int> r;
        if (z <= th[1])
            r.push_back(1);
        if (th[1] < z && z <= th[2])
            r.push_back(2);
        if (th[2] < z && z <= th[3])
            r.push_back(3);
        if (z > th[3])
            r.push_back(4);
        return r;
    };
    return reference_passes(pb, rr, false);
}

inline double reference_two_thresholds(const ModelProblem& pb, int ws1, int ws2, int pos1, int pos2,
                                       int n_regime, int type_model, int lag1, int lag2,
                                       double* aic_total = nullptr) {
    const double_matrix& s = *pb.serie_matrix;
    const double t1 = s[pos1 == 0 ? 1 : pos1][ws1];
    const double t2 = s[pos2 == 0 ? 1 : pos2][ws2];
    static const int table[4][4] = {{1, 2, 3, 4}, {1, 1, 2, 3}, {1, 2, 3, 3}, {3, 1, 3, 2}};
    ReferenceRegimes rr;
    rr.n_regime = n_regime;
    rr.lag_floor = std::max(lag1, lag2);
    rr.regimes_of = [&, t1, t2](int t) {
        const double a = s[t - lag1][ws1];
        const double b = s[t - lag2][ws2];
        int q = 0;
        if (a > t1 && b <= t2)
            q = 1;
        if (a > t1 && b > t2)
            q = 2;
        if (a <= t1 && b <= t2)
            q = 3;
        if (a <= t1 && b > t2)
            q = 4;
        return std::vector<int>{table[n_regime == 4 ? 0 : type_model][q - 1]};
    };
    return reference_passes(pb, rr, true, aic_total);
}

}  // namespace velmora::testing
