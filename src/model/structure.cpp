#include "model/structure.hpp"

#include <algorithm>
#include <cmath>

namespace velmora {

ModelStructure make_structure(const OneThresholdStructure& one) {
    ModelStructure s;
    s.threshold_variables = 1;
    s.one = one;
    return s;
}

ModelStructure make_structure(const TwoThresholdStructure& two) {
    ModelStructure s;
    s.threshold_variables = 2;
    s.two = two;
    return s;
}

ModelStructure make_linear_structure() {
    ModelStructure s;
    s.threshold_variables = 0;
    return s;
}

ModelStructure with_orders(ModelStructure s, const std::array<int, 4>& orders) {
    s.orders = orders;
    return s;
}

bool is_linear(const ModelStructure& s) noexcept {
    return s.threshold_variables == 0;
}

int regime_count(const ModelStructure& s) noexcept {
    if (is_linear(s)) {
        return 1;
    }
    return s.threshold_variables == 1 ? s.one.n_regime : s.two.n_regime;
}

std::array<int, kNumFields> structure_field_sizes(int n_oss) {
    return {2, 2, 2, 2, 4, n_oss, n_oss, n_oss, n_oss, n_oss, 2, 4, 4, 6, 6, 6};
}

std::vector<int> search_threshold_components(std::span<const int> listed) {
    if (listed.empty()) {
        return {1, 2};
    }
    return {listed.begin(), listed.begin() + (listed.size() < 2 ? 1 : 2)};
}

namespace {

// Component 1 or 2 of the codes as the listed column it stands for.
int listed_component(int coded, std::span<const int> listed) {
    if (listed.empty()) {
        return coded;
    }
    return listed[std::min(static_cast<std::size_t>(coded), listed.size()) - 1];
}

ModelStructure decode_codes(const FieldCodes& codify) {
    ModelStructure s;
    if (codify[0] == 0) {
        s.threshold_variables = 1;
        OneThresholdStructure& one = s.one;
        one.which_serie = static_cast<int>(codify[1]) + 1;
        // Codes 0 and 1 both mean two regimes.
        one.n_regime = codify[4] == 0 ? 2 : static_cast<int>(codify[4]) + 1;
        for (int i = 0; i < 3; ++i) {
            one.pos_threshold[static_cast<std::size_t>(i)] = static_cast<int>(codify[5 + i]);
        }
        one.threshold_lag = static_cast<int>(codify[13]) + 1;
        return s;
    }
    s.threshold_variables = 2;
    TwoThresholdStructure& two = s.two;
    two.which_serie1 = static_cast<int>(codify[2]) + 1;
    two.which_serie2 = static_cast<int>(codify[3]) + 1;
    // The two threshold variables must be different components: an equal pair
    // becomes (1, 2).
    if (two.which_serie1 == two.which_serie2) {
        if (two.which_serie1 == 1) {
            two.which_serie2 = 2;
        }
        if (two.which_serie1 == 2) {
            two.which_serie1 = 1;
        }
    }
    two.pos_thres_1 = static_cast<int>(codify[8]);
    two.pos_thres_2 = static_cast<int>(codify[9]);
    if (codify[10] == 0) {
        two.type_model = 0;
        two.n_regime = 4;
    } else {
        two.type_model = static_cast<int>(codify[11]);
        two.n_regime = two.type_model != 0 ? 3 : 4;
    }
    two.Ritardo1 = static_cast<int>(codify[14]) + 1;
    two.Ritardo2 = static_cast<int>(codify[15]) + 1;
    return s;
}

}  // namespace

ModelStructure decode_structure(const FieldCodes& codify, std::span<const int> listed) {
    ModelStructure s = decode_codes(codify);
    s.one.which_serie = listed_component(s.one.which_serie, listed);
    s.two.which_serie1 = listed_component(s.two.which_serie1, listed);
    s.two.which_serie2 = listed_component(s.two.which_serie2, listed);
    return s;
}

std::array<double, 3> sort_thresholds(std::array<double, 3> raw, int used) {
    constexpr double kStart = 100000000.0;
    std::array<double, 3> sorted{1000000.0, 1000000.0, 1000000.0};
    for (int slot = 0; slot < used; ++slot) {
        double least = kStart;
        int winner = -1;
        for (int i = 0; i < used; ++i) {
            if (raw[static_cast<std::size_t>(i)] < least) {
                least = raw[static_cast<std::size_t>(i)];
                winner = i;
            }
        }
        sorted[static_cast<std::size_t>(slot)] = least;
        if (winner >= 0) {
            raw[static_cast<std::size_t>(winner)] = kStart;
        }
    }
    return sorted;
}

double fitness_from_criterion(double aic) {
    // exp(-(-inf)) would hand the search an infinite fitness for a degenerate
    // fit; treat every non-finite criterion like "not estimable".
    if (aic == 0.0 || !std::isfinite(aic)) {
        return 0.0;
    }
    return std::exp(-aic / 100.0);
}

}  // namespace velmora
