#include "model/problem.hpp"

#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora {

void validate_problem_sizes(int n_oss, int n_comp, int m, int min_oss_reg) {
    if (n_comp < 2) {
        throw ConfigError(strprintf(
            "The number of components must be at least 2 (got %d): the threshold variables "
            "are taken from components 1 and 2",
            n_comp));
    }
    if (n_oss < kMinObservations) {
        throw ConfigError(strprintf("The number of observations must be at least %d (got %d)",
                                    kMinObservations, n_oss));
    }
    if (m < 1 || m > kMaxOrder) {
        throw ConfigError(strprintf(
            "The largest autoregressive order must be between 1 and %d (got %d)", kMaxOrder, m));
    }
    if (min_oss_reg < 2) {
        throw ConfigError(
            strprintf("The least number of observations per regime must be at least 2 (got %d)",
                      min_oss_reg));
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
