#pragma once
// The user's choices for a run, as the parameter dialog holds them
// (app/validate.hpp checks them).

#include <array>
#include <string>
#include <vector>

#include "app/methods.hpp"
#include "model/criterion.hpp"
#include "model/definition.hpp"
#include "model/design.hpp"
#include "options/bindings.hpp"

namespace velmora {

struct RunConfig {
    // Choice numbers: rows of selection_methods, crossover_methods and
    // scaling_methods (app/methods.hpp), as the dialog's radio buttons number them.
    int selection_choice = 0;
    int tourneysize = options::tourneysize.default_int();
    int crossover_choice = 0;
    int scaling_method = 0;
    float scalemult = static_cast<float>(options::scalemult.default_number);
    double beta = options::beta.default_number;
    double sigma_trunc = options::sigma_trunc.default_number;
    double scaling_window = options::scaling_window.default_number;  // a whole number
    int maxgen = options::maxgen.default_int();
    double pcross = options::pcross.default_number;
    double pmutation = options::pmutation.default_number;
    int popsize = options::popsize.default_int();
    int n_oss = options::n_obs.default_int();
    int n_comp = options::n_comp.default_int();
    std::string course_file = std::string(options::course_file.default_text);
    // The model searched or fitted.
    ModelDefinition model;
    // Components picked from the course file, in this order: header names or
    // 1-based column numbers. Empty: every column of numbers.
    std::vector<std::string> columns;
    // Columns that may serve as threshold variables, modelled or not: names
    // or 1-based column numbers. Empty: components 1 and 2 in the search.
    std::vector<std::string> threshold_columns;
    // The refinement chooses each regime's order 1..m by the criterion (an
    // information criterion only).
    bool select_orders = false;
};

// Names of the choices for the command line and the JSON summary, in the
// order of the parameter dialog's radio buttons (index = choice value).
inline constexpr auto selection_choice_names = cli_names(selection_methods);
inline constexpr auto crossover_choice_names = cli_names(crossover_methods);
inline constexpr auto scaling_method_names = cli_names(scaling_methods);

// Largest n_oss a run accepts: the threshold-position fields of the
// chromosome are at most 17 bits wide.
constexpr int max_n_oss = options::high_int(options::n_obs);
// Largest population a run accepts; far above any useful size, it keeps the
// engine's population arithmetic away from integer overflow.
constexpr int max_popsize = 1000000;

// The rows of the search's options and of the series and model, bound to
// config's fields, in the order the help lists them.
void bind_search_options(options::Bindings& bindings, RunConfig& config);
void bind_problem_options(options::Bindings& bindings, RunConfig& config);

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
