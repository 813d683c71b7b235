#include "model/problem.hpp"

#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora {

std::optional<SizeRule> broken_size_rule(int n_oss, int n_comp, int m, int min_oss_reg,
                                         int max_n_oss) {
    if (n_comp < kMinComponents) {
        return SizeRule::components;
    }
    if (n_oss < kMinObservations) {
        return SizeRule::few_observations;
    }
    if (n_oss > max_n_oss) {
        return SizeRule::many_observations;
    }
    if (!order_allowed(m)) {
        return SizeRule::order;
    }
    if (min_oss_reg < kMinRegimeObservations) {
        return SizeRule::regime_observations;
    }
    return std::nullopt;
}

void validate_problem_sizes(int n_oss, int n_comp, int m, int min_oss_reg) {
    const std::optional<SizeRule> rule = broken_size_rule(n_oss, n_comp, m, min_oss_reg);
    if (!rule) {
        return;
    }
    switch (*rule) {
        case SizeRule::components:
            throw ConfigError(strprintf(
                "The number of components must be at least %d (got %d): the threshold variables "
                "are taken from components 1 and 2",
                kMinComponents, n_comp));
        case SizeRule::few_observations:
        case SizeRule::many_observations:  // not reached: no upper bound here
            throw ConfigError(strprintf("The number of observations must be at least %d (got %d)",
                                        kMinObservations, n_oss));
        case SizeRule::order:
            throw ConfigError(
                strprintf("The largest autoregressive order must be between 1 and %d (got %d)",
                          kMaxOrder, m));
        case SizeRule::regime_observations:
            throw ConfigError(strprintf(
                "The least number of observations per regime must be at least %d (got %d)",
                kMinRegimeObservations, min_oss_reg));
    }
}

void validate_problem(const ModelProblem& problem) {
    validate_problem_sizes(problem.n_oss, problem.n_comp, problem.m, problem.min_oss_reg);
    const double_matrix* serie = problem.serie_matrix;
    if (serie == nullptr) {
        throw ConfigError("No series has been loaded");
    }
    if (serie->row_lo() != 1 || serie->col_lo() != 1 || serie->row_hi() < problem.n_oss ||
        serie->col_hi() < problem.n_comp) {
        throw ConfigError(
            strprintf("The series holds %d rows of %d components, fewer than the %d rows of %d "
                      "components asked for",
                      serie->row_hi() - serie->row_lo() + 1, serie->col_hi() - serie->col_lo() + 1,
                      problem.n_oss, problem.n_comp));
    }
}

}  // namespace velmora
