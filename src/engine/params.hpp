#pragma once
// The engine parameter set: what the genetic search reads while a run is under
// way. The run preparation derives it from the user's RunConfig; the names are
// those the run log prints.

#include <string>

namespace velmora {

// Selection methods by their historical codes. Code 0 ("rnkslect.c") names no
// method and is never produced.
enum class SelectionCode : int {
    roulette = 1,            // "rselect.c"
    universal_sampling = 2,  // "suselect.c"
    tournament = 3,          // "tselect.c"
    remainder = 4,           // "stochastic_remainder"
};

enum class CrossoverCode : int {
    one_point = 0,  // "oneptx.c"
    two_point = 1,  // "twoptx.c"
    uniform = 2,    // "unifx.c"
};

const char* selection_name(SelectionCode code);
const char* crossover_name(CrossoverCode code);
// Names of the mutation codes 0..4; a run always uses 0 ("bitmutat").
const char* mutation_name(int mutation_code);

struct EngineParams {
    int maxgen = 100;
    int popsize = 50;  // made even and at least 2 by the engine initialisation
    float pcross = 0.9f;
    float pmutation = 0.001f;
    int tourneysize = 0;
    SelectionCode selection_code = SelectionCode::roulette;
    CrossoverCode crossover_code = CrossoverCode::one_point;
    int mutation_code = 0;

    // Fitness scaling. beta < 0 switches Boltzmann off, scaling_window -1
    // switches window scaling off, sigma_trunc 0 switches sigma truncation off,
    // scalemult <= 1 switches linear scaling off.
    float scalemult = 1.2f;
    double beta = -1.0;  // replaced every generation under automatic control
    float sigma_trunc = 0.0f;
    int scaling_window = -1;
    int autocontrol_selection = 0;
    float Beta_s_tilde = 0.0f;

    int numfields = 16;
    int report_level = 0;
    int start_gen = 0;
    int current_gen = 0;
    int n_replications = 1;
    int replication = 0;

    // Set by the application's app_init.
    int stochastic_fitness = 0;
    int elitist = 1;
};

}  // namespace velmora
