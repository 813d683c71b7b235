#pragma once
// The structure of a threshold model and its encoding in the sixteen fields of
// a chromosome. decode_structure is the one mapping from field codes to a
// model; the objective, the final report, `velmora fit --codes` and the
// fitness cache all go through it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace velmora {

constexpr int kNumFields = 16;
using FieldCodes = std::array<std::uint32_t, kNumFields>;

// Regimes switched by one lagged component.
struct OneThresholdStructure {
    int which_serie = 1;  // 1-based component
    int n_regime = 2;     // 2..4
    // Time positions of the thresholds; the first n_regime-1 are used and a
    // 0 stands for time 30.
    std::array<int, 3> pos_threshold{};
    int threshold_lag = 1;  // 1..6
};

// Regimes switched by two lagged components (four quadrants, or three regimes
// when type_model merges two of them).
struct TwoThresholdStructure {
    int which_serie1 = 1;
    int which_serie2 = 2;
    int pos_thres_1 = 0;  // 0 stands for time 1
    int pos_thres_2 = 0;
    int n_regime = 4;    // 4, or 3 when type_model is 1..3
    int type_model = 0;  // 0..3
    int Ritardo1 = 1;    // lags 1..6
    int Ritardo2 = 1;
};

struct ModelStructure {
    // 1 or 2: which of the records below applies; 0: the linear VAR, one
    // regime holding every time, neither record used.
    int threshold_variables = 1;
    OneThresholdStructure one;
    TwoThresholdStructure two;
    // Autoregressive order of each regime (regimes 1..4 in [0..3]); 0 stands
    // for the problem's largest order m. Orders other than m need an
    // information criterion (the classic one scores each order on rows of
    // its own).
    std::array<int, 4> orders{};
};

// The record as a whole structure.
ModelStructure make_structure(const OneThresholdStructure& one);
ModelStructure make_structure(const TwoThresholdStructure& two);
// The linear VAR as a structure.
ModelStructure make_linear_structure();
bool is_linear(const ModelStructure& s) noexcept;
// s with these orders per regime.
ModelStructure with_orders(ModelStructure s, const std::array<int, 4>& orders);
// Regimes of a structure: 1 for the linear VAR.
int regime_count(const ModelStructure& s) noexcept;

// Alphabet size of each field for a series of n_oss observations:
// 2,2,2,2,4, n_oss x5, 2,4,4,6,6,6.
std::array<int, kNumFields> structure_field_sizes(int n_oss);

// The threshold variables the search codes: the first two listed columns
// (series columns, beyond n_comp external), or components 1 and 2 when none
// are listed.
std::vector<int> search_threshold_components(std::span<const int> listed);

// The model a chromosome stands for. Codes are taken as given (the search
// never produces codes outside a field's alphabet). The component codes 0
// and 1 stand for the first and second listed threshold column when any
// are listed; a single one stands for both, so that a model of two
// threshold variables takes it at two lags.
ModelStructure decode_structure(const FieldCodes& codify, std::span<const int> listed = {});

// The thresholds of a one-threshold model from their raw values (list order,
// entries 0..used-1): repeated minimum search, each slot starting from a
// current minimum of 1e8 and taking a value only when it is strictly smaller,
// so the earliest of equal values goes first; the value taken is replaced by
// 1e8 in the list. Slots beyond used hold 1000000.0.
std::array<double, 3> sort_thresholds(std::array<double, 3> raw, int used);

// Fitness of a criterion: exp(-aic/100). A criterion of exactly 0.0 (the
// estimators' "not estimable") or one that is not finite gives 0.
double fitness_from_criterion(double aic);

}  // namespace velmora
