// Estimation with one threshold variable: component which_serie taken
// threshold_lag steps back, compared with n_regime - 1 ascending thresholds.

#include <limits>
#include <new>
#include <stdexcept>
#include <string>

#include "model/estimate.hpp"
#include "model/estimate_core.hpp"
#include "model/regime_table.hpp"
#include "numeric/arrays.hpp"

namespace velmora {

namespace {

constexpr int kPositionZeroStandsFor = 30;

void require(bool condition, const char* what) {
    if (!condition) {
        throw std::invalid_argument(std::string("estimate (one threshold variable): ") + what);
    }
}

void check(const EstimationWorkspace& ws, const OneThresholdStructure& s) {
    const int n_oss = ws.n_oss;
    require(s.which_serie >= 1 && s.which_serie <= ws.columns, "component out of range");
    require(s.n_regime >= 2 && s.n_regime <= 4, "number of regimes out of range");
    require(s.threshold_lag >= 1 && s.threshold_lag <= kMaxLag && s.threshold_lag < n_oss,
            "lag out of range");
    for (int i = 0; i < s.n_regime - 1; ++i) {
        const int pos = s.pos_threshold[static_cast<std::size_t>(i)];
        require(pos >= 0 && pos < n_oss, "threshold position out of range");
    }
}

// The structure with position 0 replaced by the time it stands for.
OneThresholdStructure as_used(OneThresholdStructure s) {
    for (int i = 0; i < s.n_regime - 1; ++i) {
        int& pos = s.pos_threshold[static_cast<std::size_t>(i)];
        if (pos == 0) {
            pos = kPositionZeroStandsFor;
        }
    }
    return s;
}

// Fills the regimes' time lists; returns the ascending thresholds.
std::array<double, 3> assign_regimes(EstimationWorkspace& ws, const OneThresholdStructure& used) {
    const int n_oss = ws.n_oss;
    const int n_regime = used.n_regime;
    const int which_serie = used.which_serie;
    const int nused = n_regime - 1;
    // Raw thresholds in list order, then ascending.
    std::array<double, 3> raw{};
    for (int i = 0; i < nused; ++i) {
        raw[static_cast<std::size_t>(i)] =
            ws.value(used.pos_threshold[static_cast<std::size_t>(i)], which_serie);
    }
    const std::array<double, 3> threshold = sort_thresholds(raw, nused);

    // Membership: the four tests are independent, so with fewer than four
    // regimes a value above the unused threshold (one million) falls in a
    // regime that is never estimated.
    const int d = used.threshold_lag;
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
    return threshold;
}

}  // namespace

CriterionResult estimate_criterion(const ModelProblem& problem, EstimationWorkspace& ws,
                                   const OneThresholdStructure& structure,
                                   const std::array<int, 4>& orders) {
    detail::check_workspace(problem, ws);
    check(ws, structure);
    assign_regimes(ws, as_used(structure));
    return detail::criterion_passes(problem, ws, detail::ModelKind::one_threshold,
                                    structure.n_regime, orders);
}

FittedModel estimate(const ModelProblem& problem, EstimationWorkspace& ws,
                     const OneThresholdStructure& structure, const std::array<int, 4>& orders) {
    detail::check_workspace(problem, ws);
    check(ws, structure);
    const OneThresholdStructure used = as_used(structure);
    return detail::fit_structure(
        problem, ws, detail::ModelKind::one_threshold,
        with_orders(make_structure(structure), orders), with_orders(make_structure(used), orders),
        structure.n_regime, [&](FittedModel& model) {
            model.thresholds = assign_regimes(ws, used);
            model.threshold_variable =
                detail::lagged_component(ws, structure.which_serie, structure.threshold_lag);
        });
}

}  // namespace velmora
