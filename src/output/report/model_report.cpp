#include "output/report/model_report.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "support/format.hpp"

namespace velmora {

namespace {

using std::size_t;

// Appends a printf-formatted piece to text.
__attribute__((format(printf, 2, 3))) void add(std::string& text, const char* format, ...) {
    char buffer[256];
    std::va_list args;
    va_start(args, format);
    std::va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n >= 0 && static_cast<size_t>(n) < sizeof buffer) {
        text.append(buffer, static_cast<size_t>(n));
    } else {
        text += vstrprintf(format, copy);
    }
    va_end(copy);
}

void add_sigma(std::string& text, const char* format, const std::vector<double>& sigma, int k) {
    for (int c = 0; c < k; ++c) {
        for (int l = 0; l < k; ++l) {
            add(text, format, c + 1, l + 1, sigma[static_cast<size_t>(c * k + l)]);
        }
    }
}

void add_rows(std::string& text, const char* format, const std::vector<double>& cells, int rows,
              int k) {
    for (int n = 0; n < rows; ++n) {
        for (int c = 0; c < k; ++c) {
            add(text, format, n + 1, c + 1, cells[static_cast<size_t>(n * k + c)]);
        }
        text += '\n';
    }
}

struct Texts {
    std::string output;
    std::string prediction;
    std::string residual;
};

void add_header(Texts& t, const FittedModel& model, int replication) {
    if (model.threshold_variables() == 0) {
        add(t.output, "Replication of GA:%d\n", replication);
        t.output += "Linear VAR\nNumber of Regime = 1 \n";
        return;
    }
    if (model.threshold_variables() == 1) {
        const OneThresholdStructure& s = model.given.one;
        add(t.output, "Replication of GA:%d\n", replication);
        add(t.output, "Number of Regime = %d \n", s.n_regime);
        add(t.output, "Threshold Variable: Component= %d\t Lag =%d\n",
            model.reported_column(s.which_serie), s.threshold_lag);
        return;
    }
    const TwoThresholdStructure& s = model.given.two;
    add(t.output, "Number of Regime = %d\t Type of model=%d\n", s.n_regime, s.type_model);
    add(t.output, "Threshold Variable: [(%d,%d) ;  (%d,%d)]\n",
        model.reported_column(s.which_serie1), model.reported_column(s.which_serie2), s.Ritardo1,
        s.Ritardo2);
    add(t.output, "Threshold 1 = %f\n", model.thresholds[0]);
    add(t.output, "Threshold 2 = %f\n", model.thresholds[1]);
}

// One regime's block; false when the estimate stopped in it.
bool add_regime(Texts& t, const FittedModel& model, int p, int r, const RegimeFit& fit) {
    // The linear VAR is written as a one-threshold model of one regime.
    const bool one = model.threshold_variables() != 2;
    const int k = model.k;
    if (one) {
        add(t.output, "\nRegime: %d\n", r);
        add(t.prediction, "\nRegime: %d\n", r);
        add(t.residual, "\nRegime: %d\n", r);
        if (r < model.n_regime) {
            add(t.output, "Threshold = %f\n", model.thresholds[static_cast<size_t>(r - 1)]);
        }
        add(t.output, "Number of Observation = %d\n", fit.observations);
    } else {
        add(t.output, "Regime: %d\n", r);
        add(t.output, "Number of Observation: %d\n", fit.observations);
    }
    const bool stopped_here =
        !model.estimated() && p == model.order_reached && r == model.failed_regime;
    if (stopped_here) {
        switch (model.status) {
            case EstimateStatus::too_few_observations:
                return false;
            case EstimateStatus::fewer_observations_than_coefficients:
                add(t.output,
                    "Regime %d: fewer observations than coefficients; the model cannot be "
                    "estimated\n",
                    r);
                return false;
            case EstimateStatus::singular_regression:
                add(t.output,
                    "Regime %d: the regression matrix Z_Z is singular; the model cannot be "
                    "estimated\n",
                    r);
                return false;
            case EstimateStatus::estimated:
            case EstimateStatus::singular_covariance:
            case EstimateStatus::non_finite_criterion:
                break;
        }
    }
    for (size_t i = 0; i < fit.phi.size(); ++i) {
        add(t.output, "Phi[%d]=%.5f\n", static_cast<int>(i) + 1, fit.phi[i]);
    }
    // Deterministic terms, one line per equation: Const[c]=..., Trend[c]=...
    const int d = model.deterministic_terms();
    for (int j = 0; j < d && fit.deterministic.size() == static_cast<size_t>(d * k); ++j) {
        // The term's name capitalised: Const, Trend.
        std::string name = deterministic_term_name(model.include, j);
        name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
        for (int c = 0; c < k; ++c) {
            add(t.output, "%s[%d]=%.5f\n", name.c_str(), c + 1,
                fit.deterministic[static_cast<size_t>(j * k + c)]);
        }
    }
    add_rows(t.prediction, "FIT[%d][%d]= %f\t", fit.fitted, fit.observations, k);
    add_rows(t.residual, one ? "Residual[%d][%d]= %.12f\t" : "Residual[%d][%d]= %f\t",
             fit.residuals, fit.observations, k);
    add_sigma(t.output, one ? "Sigma[%d][%d] =%.10f\n" : "sigma[%d][%d] =%.10f\n", fit.covariance,
              k);
    if (stopped_here && model.status == EstimateStatus::singular_covariance) {
        add(t.output,
            "Regime %d: the residual covariance matrix is singular; the model cannot be "
            "estimated\n",
            r);
        return false;
    }
    return true;
}

void add_closing(Texts& t, const FittedModel& model) {
    const bool one = model.threshold_variables() != 2;
    if (one) {
        t.output += "\nResidual VAriance-Covarince Matrix:\n";
    }
    add_sigma(t.output, one ? "Sigma[%d][%d] =%.10f\n" : "sigma[%d][%d] =%.10f\n",
              model.overall_covariance, model.k);
    if (model.status == EstimateStatus::singular_covariance) {
        t.output +=
            "The overall residual covariance matrix is singular; the model cannot be "
            "estimated\n";
        return;
    }
    const double aic_global = model.classic_criterion;
    if (one) {
        add(t.output, "AIC =%f\n", aic_global);
        return;
    }
    const int num_tot_par =
        model.n_regime * model.k * (model.m * model.k + model.deterministic_terms());
    add(t.output, "Num_tot_par=%d  aic_global=%f\n", num_tot_par, aic_global);
    add(t.output, " Fit2 = %f\n", std::exp(-aic_global / 100.0));
    if (model.aic_total != 0.0 && !std::isnan(model.aic_total)) {
        add(t.output, " aic_total = %f  Fitness = %f\n", model.aic_total,
            std::exp(-model.aic_total / 100.0));
    }
}

// Appends text to path with one write; a failed write is cut off again.
// Returns 0 or the errno of the failure; opened tells whether open worked.
int append_whole(const std::filesystem::path& path, const std::string& text, bool& opened) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    opened = fd >= 0;
    if (fd < 0) {
        return errno;
    }
    struct stat before {};
    const bool sized = ::fstat(fd, &before) == 0 && S_ISREG(before.st_mode);
    int error = 0;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = errno;
            break;
        }
        if (n == 0) {
            error = EIO;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (error != 0 && done > 0 && sized) {
        // Not a cut report: the file as it was before.
        (void)::ftruncate(fd, before.st_size);
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    return error;
}

}  // namespace

std::array<std::string, 3> format_model_report(const FittedModel& model, int replication) {
    Texts t;
    add_header(t, model, replication);
    bool complete = true;
    for (size_t pi = 0; pi < model.passes.size() && complete; ++pi) {
        const auto& pass = model.passes[pi];
        for (size_t ri = 0; ri < pass.size() && complete; ++ri) {
            complete =
                add_regime(t, model, static_cast<int>(pi) + 1, static_cast<int>(ri) + 1, pass[ri]);
        }
    }
    if (complete) {
        add_closing(t, model);
    }
    return {std::move(t.output), std::move(t.prediction), std::move(t.residual)};
}

std::array<std::filesystem::path, 3> model_report_paths(const std::filesystem::path& dir,
                                                        int threshold_variables) {
    const char* kind = threshold_variables == 0   ? "Linear"
                       : threshold_variables == 1 ? "Univariate"
                                                  : "Bivariate";
    return {dir / strprintf("OutputThreshold%s.txt", kind),
            dir / strprintf("PredictionThreshold%s.txt", kind),
            dir / strprintf("ResidualThreshold%s.txt", kind)};
}

ReportOutcome append_model_report(const std::array<std::string, 3>& texts, int threshold_variables,
                                  const std::filesystem::path& dir, Console* console) {
    const auto paths = model_report_paths(dir, threshold_variables);
    ReportOutcome outcome;
    for (size_t i = 0; i < paths.size(); ++i) {
        bool opened = false;
        const int error = append_whole(paths[i], texts[i], opened);
        if (!opened && console != nullptr) {
            console->out("File could not be opened\n");
        }
        if (error == 0) {
            outcome.written.push_back(paths[i]);
        } else {
            outcome.failed.push_back({paths[i], std::strerror(error)});
        }
    }
    return outcome;
}

ReportOutcome write_model_report(const FittedModel& model, int replication,
                                 const std::filesystem::path& dir, Console* console) {
    return append_model_report(format_model_report(model, replication), model.threshold_variables(),
                               dir, console);
}

}  // namespace velmora
