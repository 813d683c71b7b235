#include "model/problem.hpp"

#include "support/errors.hpp"
#include "support/format.hpp"

namespace velmora {

void check_series(const ModelProblem& problem) {
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
