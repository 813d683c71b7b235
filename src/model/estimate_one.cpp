// Estimation with one threshold variable: component which_serie taken
// threshold_lag steps back, compared with n_regime - 1 ascending thresholds.

#include <stdexcept>
#include <string>

#include "model/estimate.hpp"
#include "model/estimate_core.hpp"

namespace velmora {

namespace {

constexpr int kPositionZeroStandsFor = 30;

void require(bool condition, const char* what) {
    if (!condition) {
        throw std::invalid_argument(std::string("estimate_one_threshold: ") + what);
    }
}

}  // namespace

double estimate_one_threshold(const ModelProblem& problem, EstimationWorkspace& ws, int which_serie,
                              int n_regime, std::span<const int> pos_threshold, int print_flag,
                              int threshold_lag, EstimateSummary* summary) {
    detail::check_workspace(problem, ws);
    const int n_oss = ws.n_oss;
    require(which_serie >= 1 && which_serie <= ws.k, "component out of range");
    require(n_regime >= 2 && n_regime <= 4, "number of regimes out of range");
    require(threshold_lag >= 1 && threshold_lag <= kMaxLag && threshold_lag < n_oss,
            "lag out of range");
    require(pos_threshold.size() >= static_cast<std::size_t>(n_regime - 1),
            "too few threshold positions");
    const int used = n_regime - 1;
    for (int i = 0; i < used; ++i) {
        const int pos = pos_threshold[static_cast<std::size_t>(i)];
        require(pos >= 0 && pos < n_oss, "threshold position out of range");
    }

    // Raw thresholds in list order, then ascending.
    std::array<double, 3> raw{};
    for (int i = 0; i < used; ++i) {
        int pos = pos_threshold[static_cast<std::size_t>(i)];
        if (pos == 0) {
            pos = kPositionZeroStandsFor;
        }
        raw[static_cast<std::size_t>(i)] = ws.value(pos, which_serie);
    }
    const std::array<double, 3> threshold = sort_thresholds(raw, used);

    // Membership: the four tests are independent, so with fewer than four
    // regimes a value above the unused threshold (one million) falls in a
    // regime that is never estimated.
    const int d = threshold_lag;
    for (int r = 0; r < 4; ++r) {
        ws.time_count[static_cast<std::size_t>(r)] = 0;
    }
    const double t1 = threshold[0];
    const double t2 = threshold[1];
    const double t3 = threshold[2];
    auto add = [&ws, n_regime](int regime, int t) {
        if (regime <= n_regime) {
            const auto r = static_cast<std::size_t>(regime - 1);
            ws.times[r][static_cast<std::size_t>(ws.time_count[r]++)] = t;
        }
    };
    for (int t = d + 1; t <= n_oss; ++t) {
        const double z = ws.value(t - d, which_serie);
        if (z <= t1) {
            add(1, t);
        }
        if (t1 < z && z <= t2) {
            add(2, t);
        }
        if (t2 < z && z <= t3) {
            add(3, t);
        }
        if (z > t3) {
            add(4, t);
        }
    }

    detail::ReportFiles files;
    detail::PassRequest request;
    request.style = detail::ReportStyle::one_threshold;
    request.n_regime = n_regime;
    request.thresholds = threshold;
    request.summary = summary;
    if (summary != nullptr) {
        *summary = EstimateSummary{};
        summary->thresholds = threshold;
    }
    if (print_flag == 1) {
        detail::open_report_files(problem, files, "OutputThresholdUnivariate.txt",
                                  "PredictionThresholdUnivariate.txt",
                                  "ResidualThresholdUnivariate.txt");
        files.output.printf("Replication of GA:%d\n", problem.replication);
        files.output.printf("Number of Regime = %d \n", n_regime);
        files.output.printf("Threshold Variable: Component= %d\t Lag =%d\n", which_serie,
                            threshold_lag);
        request.files = &files;
    }
    return detail::run_passes(problem, ws, request);
}

double estimate_structure(const ModelProblem& problem, EstimationWorkspace& workspace,
                          const ModelStructure& structure, bool print, EstimateSummary* summary) {
    const int flag = print ? 1 : 0;
    if (structure.threshold_variables == 1) {
        const OneThresholdStructure& s = structure.one;
        return estimate_one_threshold(problem, workspace, s.which_serie, s.n_regime,
                                      s.pos_threshold, flag, s.threshold_lag, summary);
    }
    const TwoThresholdStructure& s = structure.two;
    return estimate_two_thresholds(problem, workspace, s.which_serie1, s.which_serie2,
                                   s.pos_thres_1, s.pos_thres_2, s.n_regime, s.type_model, flag,
                                   s.Ritardo1, s.Ritardo2, summary);
}

}  // namespace velmora
