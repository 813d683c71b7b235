#include "model/workspace.hpp"

#include <cstddef>

namespace velmora {

EstimationWorkspace::EstimationWorkspace(const ModelProblem& problem) {
    validate_problem(problem);
    n_oss = problem.n_oss;
    k = problem.n_comp;
    m = problem.m;
    source = problem.serie_matrix;

    const auto n = static_cast<std::size_t>(n_oss);
    const auto kk = static_cast<std::size_t>(k);
    const auto q = static_cast<std::size_t>(m) * kk;

    reversed.assign(n * kk, 0.0);
    const double_matrix& serie = *problem.serie_matrix;
    for (int t = 1; t <= n_oss; ++t) {
        for (int c = 1; c <= k; ++c) {
            reversed[static_cast<std::size_t>(n_oss - t) * kk + static_cast<std::size_t>(c - 1)] =
                serie[t][c];
        }
    }
    for (auto& list : times) {
        list.assign(n, 0);
    }
    zz.assign(q * q, 0.0);
    zinv_t.assign(q * q, 0.0);
    w.assign(q, 0.0);
    phi.assign(q * kk, 0.0);
    residual2.assign(n * kk, 0.0);
    fit.assign(n * kk, 0.0);
    medie.assign(kk, 0.0);
    sigma.assign(kk * kk, 0.0);
    lu.assign(kk * kk, 0.0);
    vv.assign(kk, 0.0);
    indx.assign(kk, 0);
    ipiv.assign(q, 0);
    indxr.assign(q, 0);
    indxc.assign(q, 0);
}

bool EstimationWorkspace::fits(const ModelProblem& problem) const noexcept {
    return source == problem.serie_matrix && n_oss == problem.n_oss && k == problem.n_comp &&
           m == problem.m;
}

}  // namespace velmora
