#include "model/estimate_core.hpp"

#include <cmath>
#include <cstddef>
#include <stdexcept>

#include "model/regression_kernels.hpp"
#include "numeric/linalg.hpp"

namespace velmora::detail {

namespace {

using std::size_t;

inline size_t idx(int i) {
    return static_cast<size_t>(i);
}

void print_sigma(TextFile& file, const char* format, const double* sigma, int k) {
    for (int c = 0; c < k; ++c) {
        for (int l = 0; l < k; ++l) {
            file.printf(format, c + 1, l + 1, sigma[idx(c) * idx(k) + idx(l)]);
        }
    }
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

double not_estimable(EstimateSummary* summary, EstimateStatus status, int p, int r) {
    if (summary != nullptr) {
        summary->status = status;
        summary->order_reached = p;
        summary->failed_regime = r;
        summary->criterion = 0.0;
    }
    return 0.0;
}

}  // namespace

void open_report_files(const ModelProblem& problem, ReportFiles& files, const char* output_name,
                       const char* prediction_name, const char* residual_name) {
    auto open = [&](TextFile& file, const char* name) {
        file = TextFile(problem.result_dir / name, "a");
        if (!file.is_open() && problem.console != nullptr) {
            problem.console->out("File could not be opened\n");
        }
    };
    open(files.output, output_name);
    open(files.prediction, prediction_name);
    open(files.residual, residual_name);
}

void check_workspace(const ModelProblem& problem, const EstimationWorkspace& ws) {
    if (!ws.fits(problem)) {
        throw std::invalid_argument("estimation workspace was built for another problem");
    }
}

double run_passes(const ModelProblem& problem, EstimationWorkspace& ws, const PassRequest& req) {
    const int n_oss = ws.n_oss;
    const int k = ws.k;
    const int m = ws.m;
    const int n_regime = req.n_regime;
    const bool one = req.style == ReportStyle::one_threshold;
    ReportFiles* files = req.files;
    EstimateSummary* summary = req.summary;
    const double* rev = ws.reversed.data();
    const char* sigma_format = one ? "Sigma[%d][%d] =%.10f\n" : "sigma[%d][%d] =%.10f\n";

    if (summary != nullptr) {
        summary->n_regime = n_regime;
        summary->observations = {};
        summary->status = EstimateStatus::estimated;
    }
    for (size_t i = 0; i < ws.residual2.size(); ++i) {
        ws.residual2[i] = 0.0;
    }
    std::array<double, 4> regime_aic{};

    for (int p = 1; p <= m; ++p) {
        const int q = p * k;
        int rows_written = 0;
        for (int r = 1; r <= n_regime; ++r) {
            // The regime's list holds every time from max(d, 1) + 1 on; this
            // pass uses those from p + 1 on.
            const int* all = ws.times[idx(r - 1)].data();
            const int count = ws.time_count[idx(r - 1)];
            int first = 0;
            while (first < count && all[first] < p + 1) {
                ++first;
            }
            const int* tt = all + first;
            const int n_r = count - first;
            if (summary != nullptr) {
                summary->order_reached = p;
                summary->observations[idx(r - 1)] = n_r;
            }

            if (files != nullptr) {
                if (one) {
                    files->output.printf("\nRegime: %d\n", r);
                    files->prediction.printf("\nRegime: %d\n", r);
                    files->residual.printf("\nRegime: %d\n", r);
                    if (r < n_regime) {
                        files->output.printf("Threshold = %f\n", req.thresholds[idx(r - 1)]);
                    }
                    files->output.printf("Number of Observation = %d\n", n_r);
                } else {
                    files->output.printf("Regime: %d\n", r);
                    files->output.printf("Number of Observation: %d\n", n_r);
                }
            }
            if (n_r < problem.min_oss_reg) {
                return not_estimable(summary, EstimateStatus::too_few_observations, p, r);
            }
            if (rows_written + n_r > n_oss) {
                throw std::logic_error("regimes hold more observations than the series");
            }

            double* zz = ws.zz.data();
            const RegimeKernels kernels = select_kernels(k, p);
            kernels.cross_products(rev, n_oss, k, q, tt, n_r, zz);
            if (inversanr_core(zz, q, q, ws.ipiv.data(), ws.indxr.data(), ws.indxc.data()) == 0) {
                // Coefficients from a partly reduced matrix would be garbage
                // that the search could prefer; the regime is not estimable.
                if (files != nullptr) {
                    files->output.printf(
                        "Regime %d: the regression matrix Z_Z is singular; the model cannot "
                        "be estimated\n",
                        r);
                }
                return not_estimable(summary, EstimateStatus::singular_regression, p, r);
            }
            double* zinv_t = ws.zinv_t.data();
            for (int i = 0; i < q; ++i) {
                for (int j = 0; j < q; ++j) {
                    zinv_t[idx(j) * idx(q) + idx(i)] = zz[idx(i) * idx(q) + idx(j)];
                }
            }
            double* phi = ws.phi.data();
            kernels.coefficients(rev, n_oss, k, q, tt, n_r, zinv_t, ws.w.data(), phi);

            double* res = ws.residual2.data() + idx(rows_written) * idx(k);
            double* fit = files != nullptr ? ws.fit.data() : nullptr;
            kernels.residuals(rev, n_oss, k, q, tt, n_r, phi, res, fit);

            if (files != nullptr) {
                for (int i = 0; i < q * k; ++i) {
                    files->output.printf("Phi[%d]=%.5f\n", i + 1, phi[i]);
                }
                for (int n = 0; n < n_r; ++n) {
                    for (int c = 0; c < k; ++c) {
                        files->prediction.printf("FIT[%d][%d]= %f\t", n + 1, c + 1,
                                                 fit[idx(n) * idx(k) + idx(c)]);
                    }
                    files->prediction.printf("\n");
                }
                const char* format = one ? "Residual[%d][%d]= %.12f\t" : "Residual[%d][%d]= %f\t";
                for (int n = 0; n < n_r; ++n) {
                    for (int c = 0; c < k; ++c) {
                        files->residual.printf(format, n + 1, c + 1, res[idx(n) * idx(k) + idx(c)]);
                    }
                    files->residual.printf("\n");
                }
            }
            rows_written += n_r;

            // The one-threshold criterion does not use the regime covariance;
            // only its report shows it.
            if (files == nullptr && one) {
                continue;
            }
            kernels.covariance(res, n_r, k, ws.medie.data(), ws.sigma.data());
            if (files != nullptr) {
                print_sigma(files->output, sigma_format, ws.sigma.data(), k);
            }
            if (!one) {
                double det = 0.0;
                if (!covariance_determinant(ws, ws.sigma.data(), det)) {
                    if (files != nullptr) {
                        files->output.printf(
                            "Regime %d: the residual covariance matrix is singular; the model "
                            "cannot be estimated\n",
                            r);
                    }
                    return not_estimable(summary, EstimateStatus::singular_covariance, p, r);
                }
                regime_aic[idx(r - 1)] =
                    det <= 0.0 ? -10000.0 : n_r * std::log(det) + (2.0 / n_r) * p * k * k;
            }
        }
    }

    // The overall covariance runs over every row of Residual2, including rows
    // a lower order left beyond the last pass's residuals: earlier results
    // were compared on this criterion.
    select_kernels(k, m).covariance(ws.residual2.data(), n_oss, k, ws.medie.data(),
                                    ws.sigma.data());
    if (files != nullptr) {
        if (one) {
            files->output.printf("\nResidual VAriance-Covarince Matrix:\n");
        }
        print_sigma(files->output, sigma_format, ws.sigma.data(), k);
    }
    double det_tot = 0.0;
    if (!covariance_determinant(ws, ws.sigma.data(), det_tot)) {
        if (files != nullptr) {
            files->output.printf(
                "The overall residual covariance matrix is singular; the model cannot be "
                "estimated\n");
        }
        return not_estimable(summary, EstimateStatus::singular_covariance, m, 0);
    }
    const int num_tot_par = n_regime * m * k * k;
    const double aic_global = std::log(det_tot) + (2.0 / n_oss) * num_tot_par;

    double aic_total = 0.0;
    if (!one) {
        double sum = 0.0;
        for (int r = 0; r < n_regime; ++r) {
            sum += regime_aic[idx(r)];
        }
        aic_total = sum / n_oss;
    }
    if (files != nullptr) {
        if (one) {
            files->output.printf("AIC =%f\n", aic_global);
        } else {
            files->output.printf("Num_tot_par=%d  aic_global=%f\n", num_tot_par, aic_global);
            files->output.printf(" Fit2 = %f\n", std::exp(-aic_global / 100.0));
            if (aic_total != 0.0 && !std::isnan(aic_total)) {
                files->output.printf(" aic_total = %f  Fitness = %f\n", aic_total,
                                     std::exp(-aic_total / 100.0));
            }
        }
    }
    if (summary != nullptr) {
        summary->criterion = aic_global;
        summary->aic_total = aic_total;
    }
    return aic_global;
}

}  // namespace velmora::detail
