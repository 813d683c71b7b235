#pragma once
// The user's choices for a run, as the parameter dialog holds them, and the
// one validation both front ends call.

#include <array>
#include <string>
#include <vector>

#include "app/methods.hpp"
#include "engine/params.hpp"

namespace velmora {

struct RunConfig {
    // Choice numbers: rows of selection_methods, crossover_methods and
    // scaling_methods (app/methods.hpp), as the dialog's radio buttons number them.
    int selection_choice = 0;
    int tourneysize = 0;
    int crossover_choice = 0;
    int scaling_method = 0;
    float scalemult = 1.2f;
    double beta = 0.0;
    double sigma_trunc = 0.0;
    double scaling_window = 0.0;  // a whole number held as a double
    int maxgen = 100;
    double pcross = 0.9;
    double pmutation = 0.001;
    int popsize = 50;
    int n_oss = 1000;
    int n_comp = 4;
    int min_oss_reg = 50;
    std::string course_file = "TassidiCambio.txt";
    int m = 2;
    // Components picked from the course file, in this order: header names or
    // 1-based column numbers. Empty: every column of numbers.
    std::vector<std::string> columns;
};

// Names of the choices for the command line and the JSON summary, in the
// order of the parameter dialog's radio buttons (index = choice value).
inline constexpr auto selection_choice_names = cli_names(selection_methods);
inline constexpr auto crossover_choice_names = cli_names(crossover_methods);
inline constexpr auto scaling_method_names = cli_names(scaling_methods);

// Largest n_oss a run accepts: the threshold-position fields of the
// chromosome are at most 17 bits wide.
constexpr int max_n_oss = 131072;
// Largest population a run accepts; far above any useful size, it keeps the
// engine's population arithmetic away from integer overflow.
constexpr int max_popsize = 1000000;

// The population size the engine will use for an entered one: odd sizes are
// raised by one, sizes below 2 become 2.
int effective_popsize(int entered);

// Checks the bounds a run needs beyond the scaling checks of the run
// preparation: choices in range, n_comp >= 2, 30 <= n_oss <= max_n_oss, m in
// 1..4, min_oss_reg >= 2, maxgen >= 0, probabilities in 0..1, a tournament
// size within the population, a window constant that fits an int. Throws
// ConfigError whose text names the field and its value.
void validate_run_config(const RunConfig& config);

// The methods of a configuration's choice numbers, converted once where a
// run is prepared. Throws ConfigError for a number without a row (as
// validate_run_config does).
struct RunMethods {
    SelectionMethod selection;
    CrossoverMethod crossover;
    ScalingMethod scaling;
};
RunMethods methods_of(const RunConfig& config);

// The scaling method's settings, applied over params (which hold the values
// as entered). popsize_entered feeds Beta_s_tilde under automatic control.
void apply_scaling_method(ScalingMethod method, int popsize_entered, EngineParams& params);
// The method's check on the settings just applied; throws ConfigError with the
// historical message ("Bolzman constant must be >= 0", ...). Automatic control
// is checked later, by the engine initialisation.
void check_scaling(ScalingMethod method, const EngineParams& params);
// The run-log line of the method, "Scaling Method is ...\n".
std::string scaling_log_line(ScalingMethod method);

}  // namespace velmora
