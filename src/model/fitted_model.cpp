#include "model/fitted_model.hpp"

#include <stdexcept>
#include <string>

namespace velmora {

const char* status_name(EstimateStatus status) {
    switch (status) {
        case EstimateStatus::estimated:
            return "estimated";
        case EstimateStatus::too_few_observations:
            return "too_few_observations";
        case EstimateStatus::fewer_observations_than_coefficients:
            return "fewer_observations_than_coefficients";
        case EstimateStatus::singular_regression:
            return "singular_regression";
        case EstimateStatus::singular_covariance:
            return "singular_covariance";
        case EstimateStatus::non_finite_criterion:
            return "non_finite_criterion";
    }
    return "unknown";
}

int FittedModel::order(int r) const noexcept {
    if (r < 1 || r > 4) {
        return m;
    }
    const int p = orders[static_cast<std::size_t>(r - 1)];
    return p >= 1 && p <= m ? p : m;
}

bool FittedModel::mixed_orders() const noexcept {
    for (int r = 1; r <= n_regime; ++r) {
        if (order(r) != m) {
            return true;
        }
    }
    return false;
}

const RegimeFit& FittedModel::regime(int r, int p) const {
    const int order = p == 0 ? this->order(r) : p;
    if (order < 1 || order > static_cast<int>(passes.size())) {
        throw std::out_of_range("FittedModel: order " + std::to_string(order) +
                                " was not estimated");
    }
    const auto& pass = passes[static_cast<std::size_t>(order - 1)];
    if (r < 1 || r > static_cast<int>(pass.size())) {
        throw std::out_of_range("FittedModel: regime " + std::to_string(r) + " at order " +
                                std::to_string(order) + " was not estimated");
    }
    return pass[static_cast<std::size_t>(r - 1)];
}

double FittedModel::coefficient(int r, int lag, int equation, int variable, int p) const {
    const int order = p == 0 ? this->order(r) : p;
    const RegimeFit& fit = regime(r, order);
    if (p == 0 && lag > order && lag <= m && equation >= 1 && equation <= k && variable >= 1 &&
        variable <= k) {
        return 0.0;  // a lag beyond the regime's order
    }
    if (lag < 1 || lag > order || equation < 1 || equation > k || variable < 1 || variable > k) {
        throw std::out_of_range("FittedModel: coefficient index out of range");
    }
    if (fit.phi.empty()) {
        throw std::out_of_range("FittedModel: regime " + std::to_string(r) +
                                " has no coefficients");
    }
    const int regressor = (lag - 1) * k + variable;  // 1-based
    return fit.phi[static_cast<std::size_t>((regressor - 1) * k + equation - 1)];
}

double FittedModel::covariance(int r, int row, int col, int p) const {
    const RegimeFit& fit = regime(r, p);
    if (row < 1 || row > k || col < 1 || col > k || fit.covariance.empty()) {
        throw std::out_of_range("FittedModel: covariance entry out of range");
    }
    return fit.covariance[static_cast<std::size_t>((row - 1) * k + col - 1)];
}

double FittedModel::deterministic_coefficient(int r, int term, int equation, int p) const {
    const RegimeFit& fit = regime(r, p);
    const int d = deterministic_terms();
    if (term < 0 || term >= d || equation < 1 || equation > k ||
        fit.deterministic.size() != static_cast<std::size_t>(d * k)) {
        throw std::out_of_range("FittedModel: deterministic term out of range");
    }
    return fit.deterministic[static_cast<std::size_t>(term * k + equation - 1)];
}

int FittedModel::observations(int r) const noexcept {
    if (passes.empty() || r < 1) {
        return 0;
    }
    const auto& pass = passes.back();
    return r <= static_cast<int>(pass.size()) ? pass[static_cast<std::size_t>(r - 1)].observations
                                              : 0;
}

double fitness_of(const CriterionResult& result) {
    return result.estimated() ? fitness_from_criterion(result.criterion) : 0.0;
}

std::vector<int> FittedModel::threshold_columns() const {
    if (given.threshold_variables == 1) {
        return {given.one.which_serie};
    }
    return {given.two.which_serie1, given.two.which_serie2};
}

bool FittedModel::external_threshold() const {
    for (int c : threshold_columns()) {
        if (c > k) {
            return true;
        }
    }
    return false;
}

int FittedModel::reported_column(int c) const {
    const int j = c - k;
    if (j >= 1 && static_cast<std::size_t>(j) <= external_columns.size()) {
        return external_columns[static_cast<std::size_t>(j - 1)];
    }
    return c;
}

}  // namespace velmora
