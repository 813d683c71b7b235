#include "model/estimate_core.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <stdexcept>

#include "model/regression_kernels.hpp"
#include "numeric/linalg.hpp"

namespace velmora::detail {

namespace {

using std::size_t;

inline size_t idx(int i) {
    return static_cast<size_t>(i);
}

// Determinant of a k x k covariance through ludcmp on a copy; false when
// ludcmp finds an all-zero row.
bool covariance_determinant(EstimationWorkspace& ws, const double* sigma, double& det) {
    const int k = ws.k;
    for (int i = 0; i < k * k; ++i) {
        ws.lu[idx(i)] = sigma[i];
    }
    double parity = 1.0;
    if (!ludcmp_core(ws.lu.data(), k, k, ws.indx.data(), ws.vv.data(), parity)) {
        return false;
    }
    det = lu_determinant(ws.lu.data(), k, k, parity);
    return true;
}

// ln det(E'E/T) of the last pass's residuals, the first `rows` rows of
// Residual2: not demeaned, the Gaussian maximum-likelihood covariance the
// information criteria take. NaN when the determinant is not positive.
double information_log_det(EstimationWorkspace& ws, int rows) {
    const int k = ws.k;
    const double* e = ws.residual2.data();
    double* s = ws.sigma.data();
    for (int c = 0; c < k; ++c) {
        for (int l = 0; l < k; ++l) {
            double sum = 0.0;
            for (int t = 0; t < rows; ++t) {
                sum += e[idx(t) * idx(k) + idx(c)] * e[idx(t) * idx(k) + idx(l)];
            }
            s[idx(c) * idx(k) + idx(l)] = sum / rows;
        }
    }
    double det = 0.0;
    if (rows <= 0 || !covariance_determinant(ws, s, det) || !(det > 0.0)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return std::log(det);
}

// E'E of the rows of res into out (k x k), summed in time order.
void cross_products(const double* res, int rows, int k, double* out) {
    for (int c = 0; c < k; ++c) {
        for (int l = 0; l < k; ++l) {
            double sum = 0.0;
            for (int t = 0; t < rows; ++t) {
                sum += res[idx(t) * idx(k) + idx(c)] * res[idx(t) * idx(k) + idx(l)];
            }
            out[idx(c) * idx(k) + idx(l)] = sum;
        }
    }
}

// The information criterion with regime r at orders[r-1]: ln det of the
// regimes' cross products at their orders, summed in regime order, over
// the rows (the same for every order on the common rows).
double criterion_at_orders(const ModelProblem& problem, EstimationWorkspace& ws, int n_regime,
                           const std::array<int, 4>& orders, int rows) {
    const int k = ws.k;
    const size_t kk = idx(k) * idx(k);
    double* s = ws.sigma.data();
    for (size_t i = 0; i < kk; ++i) {
        s[i] = 0.0;
    }
    for (int r = 0; r < n_regime; ++r) {
        const double* c = ws.cross.data() + (idx(r) * idx(ws.m) + idx(orders[idx(r)] - 1)) * kk;
        for (size_t i = 0; i < kk; ++i) {
            s[i] += c[i];
        }
    }
    for (size_t i = 0; i < kk; ++i) {
        s[i] /= rows;
    }
    double det = 0.0;
    const double ld = rows > 0 && covariance_determinant(ws, s, det) && det > 0.0
                          ? std::log(det)
                          : std::numeric_limits<double>::quiet_NaN();
    return information_criterion(problem.model.criterion, ld, rows,
                                 estimated_coefficients(orders.data(), n_regime, k, ws.d));
}

// The orders 1..m per regime with the least criterion; the first found
// (the lowest orders, the first regime's varying slowest) on ties.
std::array<int, 4> least_criterion_orders(const ModelProblem& problem, EstimationWorkspace& ws,
                                          int n_regime, int rows) {
    const int m = ws.m;
    std::array<int, 4> trial{1, 1, 1, 1};
    std::array<int, 4> best{m, m, m, m};
    double least = std::numeric_limits<double>::infinity();
    for (;;) {
        const double value = criterion_at_orders(problem, ws, n_regime, trial, rows);
        if (std::isfinite(value) && value < least) {
            least = value;
            best = trial;
        }
        int r = n_regime - 1;
        while (r >= 0 && trial[idx(r)] == m) {
            trial[idx(r)] = 1;
            --r;
        }
        if (r < 0) {
            break;
        }
        ++trial[idx(r)];
    }
    return best;
}

CriterionResult stopped(FittedModel* model, EstimateStatus status, int p, int r) {
    if (model != nullptr) {
        model->status = status;
        model->order_reached = p;
        model->failed_regime = r;
        model->criterion = 0.0;
        model->classic_criterion = 0.0;
    }
    return {status, 0.0};
}

// Keep: whether the regressions are copied into *model. The criterion-only
// instance skips every copy and the one-threshold regime covariances, and
// touches no heap.
template <bool Keep>
CriterionResult run_passes(const ModelProblem& problem, EstimationWorkspace& ws, ModelKind kind,
                           int n_regime, const std::array<int, 4>& asked, FittedModel* model) {
    const int n_oss = ws.n_oss;
    const int k = ws.k;
    const int m = ws.m;
    const bool one = kind == ModelKind::one_threshold;
    const int d = ws.d;
    const DesignView design = ws.design();
    const int first_row = problem.first_row();
    // The regimes' orders: those asked (0 stands for m), or chosen at the
    // end from every order's residual cross products.
    const bool information = problem.model.criterion != Criterion::classic;
    const bool select = information && problem.select_orders;
    std::array<int, 4> orders{};
    bool mixed = false;
    for (int r = 0; r < n_regime; ++r) {
        const int p = asked[idx(r)];
        orders[idx(r)] = p >= 1 && p <= m ? p : m;
        mixed = mixed || orders[idx(r)] != m;
    }
    if (mixed && !information) {
        throw std::invalid_argument(
            "estimate: orders below the largest need an information criterion");
    }
    const bool keep_cross = select || mixed;

    for (size_t i = 0; i < ws.residual2.size(); ++i) {
        ws.residual2[i] = 0.0;
    }
    std::array<double, 4> regime_aic{};
    int rows_written = 0;

    for (int p = 1; p <= m; ++p) {
        const int q = d + p * k;
        rows_written = 0;
        if constexpr (Keep) {
            model->order_reached = p;
            model->passes.emplace_back();
            model->passes.back().reserve(idx(n_regime));
        }
        for (int r = 1; r <= n_regime; ++r) {
            // The regime's list holds every time from max(d, 1) + 1 on; this
            // pass uses those from p + 1 on (from the problem's first row
            // when that is later).
            const int* all = ws.times[idx(r - 1)].data();
            const int count = ws.time_count[idx(r - 1)];
            const int from = std::max(p + 1, first_row);
            int first = 0;
            while (first < count && all[first] < from) {
                ++first;
            }
            const int* tt = all + first;
            const int n_r = count - first;
            RegimeFit* kept = nullptr;
            if constexpr (Keep) {
                kept = &model->passes.back().emplace_back();
                kept->observations = n_r;
                kept->times.assign(tt, tt + n_r);
            }

            if (!problem.model.admits_regime(n_r)) {
                return stopped(model, EstimateStatus::too_few_observations, p, r);
            }
            // Fewer observations than regressors leave the coefficients
            // undetermined; whatever an inverse gave would be noise.
            if (n_r < q) {
                return stopped(model, EstimateStatus::fewer_observations_than_coefficients, p, r);
            }
            if (rows_written + n_r > n_oss) {
                throw std::logic_error("regimes hold more observations than the series");
            }

            double* zz = ws.zz.data();
            double* phi = ws.phi.data();
            const RegimeKernels kernels = select_kernels(k, p, d);
            double* res = ws.residual2.data() + idx(rows_written) * idx(k);
            double* fit = Keep ? ws.fit.data() : nullptr;
            const LeastSquaresScratch scratch{ws.zinv_t.data(), ws.w.data(), ws.ipiv.data(),
                                              ws.indxr.data(), ws.indxc.data()};
            if (!least_squares(kernels, design, k, q, tt, n_r, scratch, zz, phi, res, fit)) {
                // Coefficients from a partly reduced matrix would be garbage
                // that the search could prefer; the regime is not estimable.
                return stopped(model, EstimateStatus::singular_regression, p, r);
            }
            rows_written += n_r;
            if (keep_cross) {
                cross_products(
                    res, n_r, k,
                    ws.cross.data() + (idx(r - 1) * idx(m) + idx(p - 1)) * idx(k) * idx(k));
            }
            if constexpr (Keep) {
                const size_t cells = idx(n_r) * idx(k);
                // Deterministic rows first in the regression, kept apart.
                const size_t split = idx(d) * idx(k);
                kept->deterministic.assign(phi, phi + split);
                kept->phi.assign(phi + split, phi + idx(q) * idx(k));
                kept->zz_inverse.assign(zz, zz + idx(q) * idx(q));
                kept->fitted.assign(fit, fit + cells);
                kept->residuals.assign(res, res + cells);
            }

            // The one-threshold criterion does not use the regime covariance;
            // only the kept model has it.
            if (!Keep && one) {
                continue;
            }
            kernels.covariance(res, n_r, k, ws.medie.data(), ws.sigma.data());
            if constexpr (Keep) {
                kept->covariance.assign(ws.sigma.begin(), ws.sigma.begin() + idx(k) * idx(k));
            }
            if (!one) {
                double det = 0.0;
                if (!covariance_determinant(ws, ws.sigma.data(), det)) {
                    return stopped(model, EstimateStatus::singular_covariance, p, r);
                }
                regime_aic[idx(r - 1)] =
                    det <= 0.0
                        ? -10000.0
                        : n_r * std::log(det) + (2.0 / n_r) * p * k * k + (2.0 / n_r) * k * d;
            }
        }
    }

    // The overall covariance runs over every row of Residual2, including rows
    // a lower order left beyond the last pass's residuals: earlier results
    // were compared on this criterion.
    select_kernels(k, m).covariance(ws.residual2.data(), n_oss, k, ws.medie.data(),
                                    ws.sigma.data());
    if constexpr (Keep) {
        model->overall_covariance.assign(ws.sigma.begin(), ws.sigma.begin() + idx(k) * idx(k));
    }
    double det_tot = 0.0;
    if (!covariance_determinant(ws, ws.sigma.data(), det_tot)) {
        return stopped(model, EstimateStatus::singular_covariance, m, 0);
    }
    const double aic_global = std::log(det_tot) + criterion_penalty(n_oss, n_regime, k, m, d);

    double chosen = aic_global;
    if (information) {
        if (select) {
            orders = least_criterion_orders(problem, ws, n_regime, rows_written);
            mixed = false;
            for (int r = 0; r < n_regime; ++r) {
                mixed = mixed || orders[idx(r)] != m;
            }
        }
        if (mixed) {
            chosen = criterion_at_orders(problem, ws, n_regime, orders, rows_written);
        } else {
            // Every regime at m: the residuals of the last pass, as without
            // orders, so that a model chosen at m replays bit for bit.
            const double ld = information_log_det(ws, rows_written);
            chosen = information_criterion(problem.model.criterion, ld, rows_written,
                                           estimated_coefficients(n_regime, k, m, d));
        }
    }

    const EstimateStatus status =
        std::isfinite(chosen) ? EstimateStatus::estimated : EstimateStatus::non_finite_criterion;
    if constexpr (Keep) {
        if (!one) {
            double sum = 0.0;
            for (int r = 0; r < n_regime; ++r) {
                sum += regime_aic[idx(r)];
            }
            model->aic_total = sum / n_oss;
            model->regime_aic = regime_aic;
        }
        model->status = status;
        model->orders = orders;
        model->criterion = chosen;
        model->classic_criterion = aic_global;
    }
    return {status, chosen};
}

}  // namespace

CriterionResult criterion_passes(const ModelProblem& problem, EstimationWorkspace& ws,
                                 ModelKind kind, int n_regime, const std::array<int, 4>& orders) {
    return run_passes<false>(problem, ws, kind, n_regime, orders, nullptr);
}

void full_passes(const ModelProblem& problem, EstimationWorkspace& ws, ModelKind kind,
                 FittedModel& model) {
    model.passes.clear();
    model.passes.reserve(idx(ws.m));
    model.criterion_kind = problem.model.criterion;
    run_passes<true>(problem, ws, kind, model.n_regime, model.given.orders, &model);
}

void assign_every_time(EstimationWorkspace& ws, int first_time) {
    for (int r = 0; r < 4; ++r) {
        ws.time_count[idx(r)] = 0;
    }
    for (int t = std::max(first_time, 1); t <= ws.n_oss; ++t) {
        ws.times[0][idx(ws.time_count[0]++)] = t;
    }
}

void check_workspace(const ModelProblem& problem, const EstimationWorkspace& ws) {
    if (!ws.fits(problem)) {
        throw std::invalid_argument("estimation workspace was built for another problem");
    }
}

}  // namespace velmora::detail
