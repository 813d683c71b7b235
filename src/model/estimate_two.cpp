// Estimation with two threshold variables: the four quadrants of
// (z1 lagged Ritardo1, z2 lagged Ritardo2) against (t1, t2), as four regimes
// or merged into three by type_model.

#include <algorithm>
#include <stdexcept>
#include <string>

#include "model/estimate.hpp"
#include "model/estimate_core.hpp"

namespace velmora {

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        throw std::invalid_argument(std::string("estimate_two_thresholds: ") + what);
    }
}

// Regime of each quadrant (Q1..Q4 in [0..3]) for type_model 0..3.
constexpr int kQuadrantRegime[4][4] = {
    {1, 2, 3, 4},
    {1, 1, 2, 3},
    {1, 2, 3, 3},
    {3, 1, 3, 2},
};

}  // namespace

double estimate_two_thresholds(const ModelProblem& problem, EstimationWorkspace& ws,
                               int which_serie1, int which_serie2, int pos_thres_1, int pos_thres_2,
                               int n_regime, int type_model, int print_level, int Ritardo1,
                               int Ritardo2, EstimateSummary* summary) {
    detail::check_workspace(problem, ws);
    const int n_oss = ws.n_oss;
    require(which_serie1 >= 1 && which_serie1 <= ws.k, "first component out of range");
    require(which_serie2 >= 1 && which_serie2 <= ws.k, "second component out of range");
    require(pos_thres_1 >= 0 && pos_thres_1 < n_oss, "first threshold position out of range");
    require(pos_thres_2 >= 0 && pos_thres_2 < n_oss, "second threshold position out of range");
    require(
        (n_regime == 4 && type_model == 0) || (n_regime == 3 && type_model >= 1 && type_model <= 3),
        "number of regimes does not match the type of model");
    require(Ritardo1 >= 1 && Ritardo1 <= kMaxLag && Ritardo1 < n_oss, "first lag out of range");
    require(Ritardo2 >= 1 && Ritardo2 <= kMaxLag && Ritardo2 < n_oss, "second lag out of range");

    const int pos1 = pos_thres_1 == 0 ? 1 : pos_thres_1;
    const int pos2 = pos_thres_2 == 0 ? 1 : pos_thres_2;
    const double t1 = ws.value(pos1, which_serie1);
    const double t2 = ws.value(pos2, which_serie2);

    for (int r = 0; r < 4; ++r) {
        ws.time_count[static_cast<std::size_t>(r)] = 0;
    }
    const int* regime_of = kQuadrantRegime[n_regime == 4 ? 0 : type_model];
    const int d1 = Ritardo1;
    const int d2 = Ritardo2;
    for (int t = std::max(d1, d2) + 1; t <= n_oss; ++t) {
        const double a = ws.value(t - d1, which_serie1);
        const double b = ws.value(t - d2, which_serie2);
        // Values equal to a threshold fall on the lower side.
        const int quadrant = a > t1 ? (b <= t2 ? 0 : 1) : (b <= t2 ? 2 : 3);
        const auto r = static_cast<std::size_t>(regime_of[quadrant] - 1);
        ws.times[r][static_cast<std::size_t>(ws.time_count[r]++)] = t;
    }

    detail::ReportFiles files;
    detail::PassRequest request;
    request.style = detail::ReportStyle::two_thresholds;
    request.n_regime = n_regime;
    request.summary = summary;
    if (summary != nullptr) {
        *summary = EstimateSummary{};
        summary->thresholds = {t1, t2, 0.0};
    }
    if (print_level == 1) {
        detail::open_report_files(problem, files, "OutputThresholdBivariate.txt",
                                  "PredictionThresholdBivariate.txt",
                                  "ResidualThresholdBivariate.txt");
        files.output.printf("Number of Regime = %d\t Type of model=%d\n", n_regime, type_model);
        files.output.printf("Threshold Variable: [(%d,%d) ;  (%d,%d)]\n", which_serie1,
                            which_serie2, Ritardo1, Ritardo2);
        files.output.printf("Threshold 1 = %f\n", t1);
        files.output.printf("Threshold 2 = %f\n", t2);
        request.files = &files;
    }
    return detail::run_passes(problem, ws, request);
}

}  // namespace velmora
