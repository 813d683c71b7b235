#pragma once
// The parameter dialog's data exchange, without any toolkit: the dialog hands
// over what its controls show (edit texts, the index of the checked radio
// button of each group) and gets back either the converted values or the id of
// the first control that did not convert, with the message to show.
//
// Fields are converted in a fixed order and the first failure wins, so the
// user is always sent to the earliest bad field, whatever else is wrong.

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "app/run_config.hpp"

namespace velmora::gui {

// Control ids of the parameter dialog. Radio groups are named by their first
// button.
namespace control {
inline constexpr int kSelection = 1001;  // radio group 1001, 1002, 1003, 1006
inline constexpr int kRoulette = 1001;
inline constexpr int kStochasticRemainder = 1002;
inline constexpr int kTournament = 1003;
inline constexpr int kTourneySize = 1005;
inline constexpr int kUniversalSampling = 1006;
inline constexpr int kCrossover = 1007;  // radio group 1007, 1008, 1009
inline constexpr int kOnePoint = 1007;
inline constexpr int kTwoPoint = 1008;
inline constexpr int kUniform = 1009;
inline constexpr int kScaling = 1010;  // radio group 1010, 1012, 1014, 1015, 1017
inline constexpr int kLinear = 1010;
inline constexpr int kScaleMult = 1011;
inline constexpr int kBoltzmann = 1012;
inline constexpr int kBeta = 1013;
inline constexpr int kAutoControl = 1014;
inline constexpr int kSigmaTruncation = 1015;
inline constexpr int kSigmaTrunc = 1016;
inline constexpr int kWindow = 1017;
inline constexpr int kScalingWindow = 1018;
inline constexpr int kCrowding = 1019;
inline constexpr int kIncestReduction = 1020;
inline constexpr int kPcross = 1021;
inline constexpr int kPmutation = 1022;
inline constexpr int kPopsize = 1023;
inline constexpr int kMaxgen = 1024;
inline constexpr int kNoss = 1028;
inline constexpr int kNcomp = 1029;
inline constexpr int kMinOssReg = 1030;
inline constexpr int kCourseFile = 1031;
inline constexpr int kMaxOrder = 1032;
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

// Controls to values, in the order 1001, 1005, 1007, 1018, 1013, 1011, 1010,
// 1016, 1019, 1020, 1024, 1021, 1022, 1023, 1028, 1029, 1030, 1031, 1032, then
// the range 1..4 of 1032. The course file text is taken as it stands.
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
