#pragma once
// The user's choices for a run, as the parameter dialog holds them
// (app/validate.hpp checks them).

#include <array>
#include <string>
#include <vector>

#include "app/methods.hpp"
#include "model/criterion.hpp"
#include "model/design.hpp"

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
    // Deterministic terms of every regime's equations.
    Include include = Include::none;
    // What the search minimises and the reports' JSON and summary give.
    Criterion criterion = Criterion::classic;
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

// The methods of a configuration's choice numbers, converted once where a
// run is prepared. Throws the ConfigError of validate() for a number without
// a row.
struct RunMethods {
    SelectionMethod selection;
    CrossoverMethod crossover;
    MutationMethod mutation;
    ScalingMethod scaling;
};
RunMethods methods_of(const RunConfig& config);

// The engine's scaling settings: the method and the constants as entered
// (the window truncated toward zero); automatic control also gets
// Beta_s_tilde from the population size as entered.
ScalingSettings scaling_settings(const RunConfig& config, ScalingMethod method);
// The run-log line of the method, "Scaling Method is ...\n".
std::string scaling_log_line(ScalingMethod method);

}  // namespace velmora
