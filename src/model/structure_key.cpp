#include "model/structure_key.hpp"

#include <cstring>
#include <stdexcept>

namespace velmora {

namespace {

std::uint64_t bits(double value) {
    std::uint64_t out = 0;
    std::memcpy(&out, &value, sizeof out);
    return out;
}

double value_at(const ModelProblem& problem, int pos, int component) {
    if (pos < 1 || pos > problem.n_oss || component < 1 ||
        component > problem.threshold_columns()) {
        throw std::invalid_argument("structure_key: position or component out of range");
    }
    return (*problem.serie_matrix)[pos][component];
}

std::uint64_t as_key(int value) {
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(value));
}

}  // namespace

std::size_t StructureKeyHash::operator()(const StructureKey& key) const noexcept {
    // FNV-1a over the words, then a final avalanche.
    std::uint64_t h = 1469598103934665603ULL;
    for (std::uint64_t word : key) {
        h ^= word;
        h *= 1099511628211ULL;
        h ^= h >> 29;
    }
    h ^= h >> 32;
    return static_cast<std::size_t>(h);
}

StructureKey structure_key(const ModelProblem& problem, const ModelStructure& structure) {
    StructureKey key{};
    if (structure.threshold_variables == 1) {
        const OneThresholdStructure& s = structure.one;
        if (s.n_regime < 2 || s.n_regime > 4) {
            throw std::invalid_argument("structure_key: number of regimes out of range");
        }
        const int used = s.n_regime - 1;
        std::array<double, 3> raw{};
        for (int i = 0; i < used; ++i) {
            int pos = s.pos_threshold[static_cast<std::size_t>(i)];
            if (pos == 0) {
                pos = 30;
            }
            raw[static_cast<std::size_t>(i)] = value_at(problem, pos, s.which_serie);
        }
        // The thresholds the estimator will use, so equal keys mean equal
        // regimes.
        const std::array<double, 3> values = sort_thresholds(raw, used);
        key = {1,
               as_key(s.which_serie),
               as_key(s.threshold_lag),
               as_key(s.n_regime),
               bits(values[0]),
               bits(values[1]),
               bits(values[2]),
               0,
               0};
        return key;
    }
    const TwoThresholdStructure& s = structure.two;
    const double t1 = value_at(problem, s.pos_thres_1 == 0 ? 1 : s.pos_thres_1, s.which_serie1);
    const double t2 = value_at(problem, s.pos_thres_2 == 0 ? 1 : s.pos_thres_2, s.which_serie2);
    key = {2,
           as_key(s.which_serie1),
           as_key(s.which_serie2),
           as_key(s.Ritardo1),
           as_key(s.Ritardo2),
           as_key(s.n_regime),
           as_key(s.type_model),
           bits(t1),
           bits(t2)};
    return key;
}

}  // namespace velmora
