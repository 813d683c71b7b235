#include "inference/linear_var.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <numeric>
#include <stdexcept>

#include "model/estimate_core.hpp"
#include "model/workspace.hpp"

namespace velmora::inference {

LinearCriterion linear_var_criterion(const ModelProblem& problem, int first_time) {
    EstimationWorkspace ws(problem);
    // Every time in one regime; each pass takes those from its order + 1 on.
    detail::assign_every_time(ws, first_time);
    const CriterionResult result =
        detail::criterion_passes(problem, ws, detail::ModelKind::one_threshold, 1, {});
    LinearCriterion out;
    out.criterion = result.criterion;
    out.status = result.status;
    return out;
}

LinearVar fit_linear_var(const ModelProblem& problem) {
    check_series(problem);
    LinearVar out;
    out.order = problem.model.max_order;
    out.k = problem.n_comp;
    out.n_oss = problem.n_oss;
    out.criterion = linear_var_criterion(problem);
    const SeriesRows rows =
        SeriesRows::from_matrix(*problem.serie_matrix, problem.n_oss, problem.n_comp);
    std::vector<int> times(static_cast<std::size_t>(problem.n_oss - problem.model.max_order));
    std::iota(times.begin(), times.end(), problem.model.max_order + 1);
    out.regression = regress_regime(rows, times, problem.model.max_order, problem.model.include,
                                    problem.trend_origin);
    return out;
}

std::vector<double> linear_var_forecast(const RegimeRegression& var, const SeriesRows& history,
                                        int origin, int steps) {
    const int k = var.k;
    const int p = var.order;
    if (!var.estimated || history.k != k || origin < p || origin > history.n || steps < 0) {
        throw std::invalid_argument("linear_var_forecast: no history of the model's order");
    }
    const auto kk = static_cast<std::size_t>(k);
    // The last p known rows, then the forecasts, in one buffer.
    std::vector<double> path(static_cast<std::size_t>(p + steps) * kk);
    for (int s = 0; s < p; ++s) {
        for (int c = 1; c <= k; ++c) {
            path[static_cast<std::size_t>(s) * kk + static_cast<std::size_t>(c - 1)] =
                history.at(origin - p + 1 + s, c);
        }
    }
    const int d = deterministic_count(var.include);
    std::array<double, kMaxDeterministic> terms{};
    for (int h = 1; h <= steps; ++h) {
        const std::size_t row = static_cast<std::size_t>(p + h - 1);
        // The trend goes on counting past the origin.
        deterministic_values(var.include, origin + h, var.trend_origin, terms.data());
        for (int c = 0; c < k; ++c) {
            double y = 0.0;
            for (int j = 0; j < d; ++j) {
                y += var.deterministic[static_cast<std::size_t>(j) * kk +
                                       static_cast<std::size_t>(c)] *
                     terms[static_cast<std::size_t>(j)];
            }
            for (int lag = 1; lag <= p; ++lag) {
                for (int v = 0; v < k; ++v) {
                    const std::size_t i = static_cast<std::size_t>((lag - 1) * k + v);
                    y += var.coefficients[i * kk + static_cast<std::size_t>(c)] *
                         path[(row - static_cast<std::size_t>(lag)) * kk +
                              static_cast<std::size_t>(v)];
                }
            }
            path[row * kk + static_cast<std::size_t>(c)] = y;
        }
    }
    return {path.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(p) * kk),
            path.end()};
}

}  // namespace velmora::inference
