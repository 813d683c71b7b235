#include "diagnostics/companion.hpp"

#include <algorithm>
#include <functional>

#include <Eigen/Eigenvalues>

namespace velmora::diagnostics {

std::vector<double> companion_moduli(std::span<const double> phi, int k, int order) {
    if (k < 1 || order < 1 ||
        phi.size() != static_cast<std::size_t>(order) * static_cast<std::size_t>(k * k)) {
        return {};
    }
    const Eigen::Index size = static_cast<Eigen::Index>(k) * order;
    Eigen::MatrixXd companion = Eigen::MatrixXd::Zero(size, size);
    for (int lag = 1; lag <= order; ++lag) {
        for (int v = 0; v < k; ++v) {
            for (int e = 0; e < k; ++e) {
                companion(e, static_cast<Eigen::Index>(lag - 1) * k + v) =
                    phi[static_cast<std::size_t>(((lag - 1) * k + v) * k + e)];
            }
        }
    }
    if (order > 1) {
        companion.bottomLeftCorner(size - k, size - k).setIdentity();
    }
    const Eigen::EigenSolver<Eigen::MatrixXd> solver(companion, false);
    if (solver.info() != Eigen::Success) {
        return {};
    }
    std::vector<double> moduli;
    moduli.reserve(static_cast<std::size_t>(size));
    for (const auto& value : solver.eigenvalues()) {
        moduli.push_back(std::abs(value));
    }
    std::sort(moduli.begin(), moduli.end(), std::greater<>());
    return moduli;
}

}  // namespace velmora::diagnostics
