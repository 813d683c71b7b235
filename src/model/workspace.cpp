#include "model/workspace.hpp"

#include <cstddef>
#include <new>
#include <type_traits>

#include "numeric/arrays.hpp"

namespace velmora {

namespace {

// An exhausted heap ends the run like every other table of the kernels, with
// their fatal allocation message.
template <class T>
void allocate(std::vector<T>& table, std::size_t count) {
    try {
        table.assign(count, T{});
    } catch (const std::bad_alloc&) {
        fatal_numeric_error(std::is_same_v<T, int> ? "allocation failure in ivector()"
                                                   : "allocation failure in dvector()");
    }
}

}  // namespace

EstimationWorkspace::EstimationWorkspace(const ModelProblem& problem) {
    check_series(problem);
    n_oss = problem.n_oss;
    k = problem.n_comp;
    columns = problem.threshold_columns();
    m = problem.model.max_order;
    source = problem.serie_matrix;

    const auto n = static_cast<std::size_t>(n_oss);
    const auto kk = static_cast<std::size_t>(k);
    include = problem.model.include;
    trend_origin = problem.trend_origin;
    d = deterministic_count(include);
    const auto q = static_cast<std::size_t>(m) * kk + static_cast<std::size_t>(d);

    allocate(reversed, n * kk);
    const double_matrix& serie = *problem.serie_matrix;
    for (int t = 1; t <= n_oss; ++t) {
        for (int c = 1; c <= k; ++c) {
            reversed[static_cast<std::size_t>(n_oss - t) * kk + static_cast<std::size_t>(c - 1)] =
                serie[t][c];
        }
    }
    try {
        if (d > 0) {
            design_rows = Design(serie, n_oss, k, m, include, trend_origin);
        }
    } catch (const std::bad_alloc&) {
        fatal_numeric_error("allocation failure in dvector()");
    }
    for (auto& list : times) {
        allocate(list, n);
    }
    allocate(zz, q * q);
    allocate(zinv_t, q * q);
    allocate(w, q);
    allocate(phi, q * kk);
    allocate(residual2, n * kk);
    allocate(cross, 4 * static_cast<std::size_t>(m) * kk * kk);
    allocate(fit, n * kk);
    allocate(medie, kk);
    allocate(sigma, kk * kk);
    allocate(lu, kk * kk);
    allocate(vv, kk);
    allocate(indx, kk);
    allocate(ipiv, q);
    allocate(indxr, q);
    allocate(indxc, q);
}

bool EstimationWorkspace::fits(const ModelProblem& problem) const noexcept {
    return source == problem.serie_matrix && n_oss == problem.n_oss && k == problem.n_comp &&
           m == problem.model.max_order && include == problem.model.include &&
           trend_origin == problem.trend_origin;
}

}  // namespace velmora
