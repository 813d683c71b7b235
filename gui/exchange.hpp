#pragma once
// The parameter dialog's data exchange, without any toolkit: the dialog hands
// over what its controls show (edit texts, the index of the checked radio
// button of each group) and gets back either the converted values or the id of
// the first control that did not convert, with the message to show.
//
// Fields are converted in a fixed order and the first failure wins, so the
// user is always sent to the earliest bad field, whatever else is wrong.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "app/methods.hpp"
#include "app/run_config.hpp"
#include "options/option_table.hpp"

namespace velmora::gui {

// Control ids of the parameter dialog, taken from the option table: an edit
// is named by the row of the value it holds, a radio button by the row of its
// choice and its place in the method table. A radio group is named by its
// first button.
namespace control {

constexpr int edit_id(const options::OptionRow& row) {
    return options::index_of(row);
}

template <class Method, std::size_t N>
constexpr int radio_id(const options::OptionRow& row,
                       const std::array<MethodRow<Method>, N>& methods, Method method) {
    int place = 0;
    for (std::size_t i = 0; i < N; ++i) {
        if (methods[i].method == method) {
            place = static_cast<int>(i);
        }
    }
    // Below every edit's id: the rows' places are 0 and up.
    return -1 - (options::index_of(row) * 16 + place);
}

constexpr int radio_id(SelectionMethod method) {
    return radio_id(options::selection, selection_methods, method);
}
constexpr int radio_id(CrossoverMethod method) {
    return radio_id(options::crossover, crossover_methods, method);
}
constexpr int radio_id(ScalingMethod method) {
    return radio_id(options::scaling, scaling_methods, method);
}

inline constexpr int kRoulette = radio_id(SelectionMethod::roulette);
inline constexpr int kStochasticRemainder = radio_id(SelectionMethod::remainder);
inline constexpr int kTournament = radio_id(SelectionMethod::tournament);
inline constexpr int kUniversalSampling = radio_id(SelectionMethod::universal_sampling);
inline constexpr int kTourneySize = edit_id(options::tourneysize);
inline constexpr int kOnePoint = radio_id(CrossoverMethod::one_point);
inline constexpr int kTwoPoint = radio_id(CrossoverMethod::two_point);
inline constexpr int kUniform = radio_id(CrossoverMethod::uniform);
inline constexpr int kLinear = radio_id(ScalingMethod::linear);
inline constexpr int kBoltzmann = radio_id(ScalingMethod::boltzmann);
inline constexpr int kAutoControl = radio_id(ScalingMethod::autocontrol);
inline constexpr int kSigmaTruncation = radio_id(ScalingMethod::sigma_truncation);
inline constexpr int kWindow = radio_id(ScalingMethod::window);
inline constexpr int kScaleMult = edit_id(options::scalemult);
inline constexpr int kBeta = edit_id(options::beta);
inline constexpr int kSigmaTrunc = edit_id(options::sigma_trunc);
inline constexpr int kScalingWindow = edit_id(options::scaling_window);
inline constexpr int kCrowding = edit_id(options::crowding);
inline constexpr int kIncestReduction = edit_id(options::incest_reduction);
inline constexpr int kPcross = edit_id(options::pcross);
inline constexpr int kPmutation = edit_id(options::pmutation);
inline constexpr int kPopsize = edit_id(options::popsize);
inline constexpr int kMaxgen = edit_id(options::maxgen);
inline constexpr int kNoss = edit_id(options::n_obs);
inline constexpr int kNcomp = edit_id(options::n_comp);
inline constexpr int kMinOssReg = edit_id(options::min_obs_per_regime);
inline constexpr int kCourseFile = edit_id(options::course_file);
inline constexpr int kMaxOrder = edit_id(options::max_order);
inline constexpr int kSelection = kRoulette;
inline constexpr int kCrossover = kOnePoint;
inline constexpr int kScaling = kLinear;

}  // namespace control

inline constexpr std::string_view kNotAnInteger = "Please enter an integer.";
inline constexpr std::string_view kNotANumber = "Please enter a number.";
inline constexpr std::string_view kMaxOrderRange = "Please enter an integer between 1 and 4.";

// What the dialog holds: the run configuration plus two integers that are
// shown and kept but take no part in a run.
struct ParameterValues {
    RunConfig config;
    int crowding = 0;
    int incest_reduction = 0;
};

// Field by field, exactly (the dialog must give back what it was given).
bool same_config(const RunConfig& a, const RunConfig& b);
bool operator==(const ParameterValues& a, const ParameterValues& b);

// What the controls show. Radio groups carry the index of the checked button
// in the group's order, -1 when none is checked.
struct ParameterFields {
    int selection = 0;
    std::string tourneysize;
    int crossover = 0;
    int scaling = 0;
    std::string scalemult;
    std::string beta;
    std::string sigma_trunc;
    std::string scaling_window;
    std::string crowding;
    std::string incest_reduction;
    std::string maxgen;
    std::string pcross;
    std::string pmutation;
    std::string popsize;
    std::string n_oss;
    std::string n_comp;
    std::string min_oss_reg;
    std::string course_file;
    std::string max_order;

    bool operator==(const ParameterFields&) const = default;
};

struct ExchangeFailure {
    int control_id = 0;
    std::string message;
};

using ExchangeResult = std::variant<ParameterValues, ExchangeFailure>;

// Controls to values, in the order: selection, tournament size, crossover,
// window size, beta, scale multiple, scaling, sigma, crowding, incest
// reduction, generations, crossover and mutation probabilities, population
// size, observations, components, least observations per regime, course
// file, largest order, then the largest order's bounds. The course file text
// is taken as it stands.
ExchangeResult exchange_from_fields(const ParameterFields& fields);

// Values to controls. The window size is a whole number held as a double; it
// is shown truncated toward zero, as the run itself reads it.
ParameterFields fields_from_values(const ParameterValues& values);

// Conversions of one edit's text. Blanks around the number are allowed,
// anything else after it is not; values that do not fit the type, and
// infinities and NaNs, are refused.
std::optional<int> parse_int(std::string_view text);
std::optional<double> parse_double(std::string_view text);
std::optional<float> parse_float(std::string_view text);

// The shortest text that reads back as the same value (as the dialog shows
// floats and doubles).
std::string format_float(float value);
std::string format_double(double value);

}  // namespace velmora::gui
